#include "backup/webdav.h"

#include "backup/transfer_errors.h"
#include "backup/zip_package.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/connection.h"
#include "store/database_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QUrl>
#include <QXmlStreamReader>

#include <vector>

namespace yunshan {

QByteArray basic_credentials(const QString &username, const QString &password)
{
    return QByteArrayLiteral("Basic ") + (username + QLatin1Char(':') + password).toUtf8().toBase64();
}

QString webdav_folder_url(const QString &dav_url)
{
    return dav_url + QLatin1String(kWebDavFolder) + QLatin1Char('/');
}

QString webdav_package_url(const QString &dav_url)
{
    return dav_url + QLatin1String(kWebDavPackage);
}

void WebDavSession::set_request_header(const QByteArray &name, const QByteArray &value)
{
    put_header(request_headers, name, value);
}

HttpResponse WebDavSession::send(HttpRequest request, const HttpProgress &progress)
{
    request.headers = merge_headers(request_headers, request.headers);
    // Through the request object only the sending is reported; received bodies are the
    // client's own events (the download).
    if (!progress)
        return client.send(request);
    return client.send(request, [&progress](TransferDirection d, qint64 total, qint64 done) {
        if (d == TransferDirection::Send)
            progress(d, total, done);
    });
}

std::unique_ptr<QTemporaryFile> package_temp_file(const QString &near_file)
{
    const QString folder = QFileInfo(near_file).absolutePath();
    for (const QString &dir : {folder, QDir::tempPath()}) {
        auto file = std::make_unique<QTemporaryFile>(dir + QStringLiteral("/.notedb.zip.XXXXXX"));
        if (file->open()) {
            file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            return file;
        }
    }
    throw ArchiveError(QStringLiteral("Cannot create a temporary file in \"%1\"").arg(folder),
                       ArchiveError::Kind::LocalFile);
}

namespace {

const QString kMetaExists = QStringLiteral("share_exists");
const QString kMetaSize = QStringLiteral("share_size");
const QString kMetaModified = QStringLiteral("share_modified");
const QString kMetaEtag = QStringLiteral("share_etag");

// The properties asked for: what tells one upload of the package from another.
const QByteArray kIdentityRequest =
    QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:getcontentlength/><D:getlastmodified/><D:getetag/>"
                      "<D:resourcetype/></D:prop></D:propfind>");

// Elements of the DAV: namespace (a server that forgets the namespace is read all the same).
bool is_dav(const QXmlStreamReader &r, QLatin1StringView name)
{
    return r.name() == name && (r.namespaceUri() == QLatin1String("DAV:") || r.namespaceUri().isEmpty());
}

// "HTTP/1.1 200 OK" → 200; 0 when it is not a status line.
int status_code(const QString &line)
{
    const QStringList parts = line.simplified().split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts.at(1).toInt() : 0;
}

struct ParsedResponse {
    QString href;
    int status = 0; // the response's own status, when it has one
    QMap<QString, QString> props;
};

// A consistent copy of `database_file` made through the engine, named like it (the package's
// entry takes the file's name).
class Snapshot {
  public:
    explicit Snapshot(const QString &database_file)
    {
        const QString near = QFileInfo(database_file).absolutePath();
        for (const QString &folder : {near, QDir::tempPath()}) {
            auto dir = std::make_unique<QTemporaryDir>(join_path(folder, QStringLiteral(".notedb-sync-XXXXXX")));
            if (dir->isValid()) {
                dir_ = std::move(dir);
                break;
            }
        }
        if (!dir_)
            throw ArchiveError(QStringLiteral("Cannot create a temporary folder in \"%1\"").arg(near),
                               ArchiveError::Kind::LocalFile);
        path_ = join_path(dir_->path(), QFileInfo(database_file).fileName());
        Connection source;
        source.open_read_only(database_file);
        source.backup_to(path_);
    }
    const QString &path() const { return path_; }

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
};

bool strong_etag(const QString &etag)
{
    return !etag.isEmpty() && !etag.startsWith(QLatin1String("W/"));
}

// The tag without its weakness mark.
QString opaque_tag(const QString &etag)
{
    return etag.startsWith(QLatin1String("W/")) ? etag.mid(2) : etag;
}

} // namespace

bool ShareIdentity::same_file(const ShareIdentity &other) const
{
    if (!exists || !other.exists)
        return exists == other.exists;
    if (size >= 0 && other.size >= 0 && size != other.size)
        return false;
    bool compared = false;
    if (!etag.isEmpty() && !other.etag.isEmpty()) {
        // A tag handed out weak for a fresh file turns strong later: the same file all the same.
        if (opaque_tag(etag) != opaque_tag(other.etag))
            return false;
        compared = true;
    }
    if (!modified.isEmpty() && !other.modified.isEmpty()) {
        if (modified != other.modified)
            return false;
        compared = true;
    }
    return compared;
}

QMap<QString, QString> ShareIdentity::to_meta() const
{
    return {{kMetaExists, exists ? QStringLiteral("1") : QStringLiteral("0")},
            {kMetaSize, QString::number(size)},
            {kMetaModified, modified},
            {kMetaEtag, etag}};
}

std::optional<ShareIdentity> ShareIdentity::from_meta(const QMap<QString, QString> &meta)
{
    if (!meta.contains(kMetaExists))
        return std::nullopt;
    ShareIdentity id;
    id.exists = meta.value(kMetaExists) == QLatin1String("1");
    bool ok = false;
    id.size = meta.value(kMetaSize).toLongLong(&ok);
    if (!ok)
        id.size = -1;
    id.modified = meta.value(kMetaModified);
    id.etag = meta.value(kMetaEtag);
    return id;
}

std::optional<ShareIdentity> parse_package_identity(const QByteArray &multistatus)
{
    QXmlStreamReader r(multistatus);
    std::vector<ParsedResponse> responses;
    bool in_multistatus = false;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        if (is_dav(r, QLatin1StringView("multistatus"))) {
            in_multistatus = true;
            continue;
        }
        if (!in_multistatus || !is_dav(r, QLatin1StringView("response")))
            continue;
        ParsedResponse resp;
        while (r.readNextStartElement()) {
            if (is_dav(r, QLatin1StringView("href"))) {
                resp.href = r.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            } else if (is_dav(r, QLatin1StringView("status"))) {
                resp.status = status_code(r.readElementText(QXmlStreamReader::IncludeChildElements));
            } else if (is_dav(r, QLatin1StringView("propstat"))) {
                QMap<QString, QString> props;
                int status = 200; // a propstat without its status is taken as found
                while (r.readNextStartElement()) {
                    if (is_dav(r, QLatin1StringView("prop"))) {
                        while (r.readNextStartElement()) {
                            const QString name = r.name().toString();
                            const bool dav = r.namespaceUri() == QLatin1String("DAV:") || r.namespaceUri().isEmpty();
                            const QString value = r.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                            if (dav)
                                props.insert(name, value);
                        }
                    } else if (is_dav(r, QLatin1StringView("status"))) {
                        status = status_code(r.readElementText(QXmlStreamReader::IncludeChildElements));
                    } else {
                        r.skipCurrentElement();
                    }
                }
                if (status >= 200 && status <= 299) {
                    for (auto it = props.cbegin(); it != props.cend(); ++it)
                        resp.props.insert(it.key(), it.value());
                }
            } else {
                r.skipCurrentElement();
            }
        }
        responses.push_back(resp);
    }
    if (r.hasError() || responses.empty())
        return std::nullopt;
    const ParsedResponse *chosen = &responses.front();
    for (const ParsedResponse &resp : responses) {
        const QString path = QUrl::fromPercentEncoding(resp.href.toUtf8());
        if (path.endsWith(QLatin1String("/notedb.zip"))) {
            chosen = &resp;
            break;
        }
    }
    ShareIdentity id;
    if (chosen->props.isEmpty() && chosen->status != 0 && (chosen->status < 200 || chosen->status > 299))
        return id; // the server says the file is not there
    id.exists = true;
    bool ok = false;
    const qint64 size = chosen->props.value(QStringLiteral("getcontentlength")).toLongLong(&ok);
    id.size = ok ? size : -1;
    id.modified = chosen->props.value(QStringLiteral("getlastmodified"));
    id.etag = chosen->props.value(QStringLiteral("getetag"));
    return id;
}

PackageLookup lookup_package(WebDavSession &session, const WebDavAccount &account, const std::function<bool()> &cancel)
{
    session.set_request_header("Authorization", basic_credentials(account.username, account.password));
    HttpRequest propfind;
    propfind.method = "PROPFIND";
    propfind.url = webdav_package_url(account.url);
    propfind.headers = {{"Depth", "0"}, {"Content-Type", "application/xml; charset=\"utf-8\""}};
    propfind.body = kIdentityRequest;
    propfind.cancel = cancel;
    const HttpResponse r = session.send(propfind);
    PackageLookup out;
    out.status = r.status;
    out.redirect = r.redirect;
    if (r.status == 207 || r.status == 200) {
        if (const auto id = parse_package_identity(r.body)) {
            out.identity = *id;
            out.found = true;
        }
    }
    return out;
}

UploadOutcome upload_package(WebDavSession &session, const WebDavAccount &account, const QString &database_file,
                             const QString &zip_password, Dialogs &dialogs, const UploadSteps &steps,
                             UploadedState *uploaded)
{
    const auto esc = [&steps] { return steps.esc_down && steps.esc_down(); };
    const auto show = [&steps](const QString &line) {
        if (steps.show_step)
            steps.show_step(line);
    };

    if (esc())
        return UploadOutcome::Cancelled;
    session.set_request_header("Authorization", basic_credentials(account.username, account.password));

    HttpRequest propfind;
    propfind.method = "PROPFIND";
    propfind.url = webdav_folder_url(account.url);
    propfind.headers = {{"Depth", "0"}};
    propfind.cancel = steps.esc_down;
    const int folder_status = session.send(propfind, steps.transfer).status;
    if (esc())
        return UploadOutcome::Cancelled;

    if (folder_status < 200 || folder_status >= 400) {
        show(QStringLiteral("正在创建文件夹……"));
        session.set_request_header("Destination", kWebDavFolder);
        HttpRequest mkcol;
        mkcol.method = "MKCOL";
        mkcol.url = webdav_folder_url(account.url);
        mkcol.cancel = steps.esc_down;
        const HttpResponse made = session.send(mkcol, steps.transfer);
        if (made.status < 200 || made.status > 299)
            dialogs.message(transfer_error_text(TransferStep::CreateFolder, account.url, made));
    }
    if (esc())
        return UploadOutcome::Cancelled;

    // Packaging, from a snapshot: the database stays open and consistent in the copy.
    show(QStringLiteral("正在压缩数据……"));
    auto package = package_temp_file(database_file);
    QFile::remove(QFileInfo(database_file).absolutePath() + QStringLiteral("/notedb.zip"));
    {
        const Snapshot snapshot(database_file);
        build_package_file(snapshot.path(), zip_password, package->fileName());
        if (uploaded) {
            uploaded->prints = sync::compute_fingerprints(snapshot.path());
            uploaded->generation = read_generation(snapshot.path());
        }
    }
    if (esc())
        return UploadOutcome::Cancelled;

    show(QStringLiteral("正在上传数据……"));
    HttpRequest put;
    put.method = "PUT";
    put.url = webdav_package_url(account.url);
    put.body_file = package->fileName();
    put.cancel = steps.esc_down;
    if (steps.expected) {
        if (!steps.expected->exists) {
            put.headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
        } else if (strong_etag(steps.expected->etag)) {
            put.headers.append(qMakePair(QByteArray("If-Match"), steps.expected->etag.toUtf8()));
        } else {
            // No strong entity tag to make the PUT conditional on (a server may hand out only a
            // weak one for a file written a moment ago): the package is looked at once more
            // right before it is replaced. (If-Unmodified-Since is no help: a server may judge it
            // by the time of the request instead of the file's.)
            const PackageLookup now = lookup_package(session, account, steps.esc_down);
            if (esc())
                return UploadOutcome::Cancelled;
            if (!now.answered() || !now.identity.same_file(*steps.expected))
                return UploadOutcome::ShareChanged;
        }
    }
    const HttpResponse stored = session.send(put, steps.transfer);
    if (stored.status == 412)
        return UploadOutcome::ShareChanged;
    if (stored.status == 200 || stored.status == 201 || stored.status == 204) {
        show(QStringLiteral("上传成功"));
        if (uploaded) {
            // Taken for the file just sent only when its size says so: an upload of another
            // machine right after this one must not pass for it.
            const PackageLookup after = lookup_package(session, account, steps.esc_down);
            const qint64 sent = QFileInfo(package->fileName()).size();
            uploaded->identity = {};
            if (after.found && after.identity.exists && after.identity.size == sent)
                uploaded->identity = after.identity;
        }
        return UploadOutcome::Uploaded;
    }
    dialogs.message(transfer_error_text(TransferStep::Upload, account.url, stored));
    return UploadOutcome::PutFailed;
}

DownloadResult download_package(WebDavSession &session, const WebDavAccount &account, const QString &target_file,
                                const HttpProgress &progress, const std::function<bool()> &cancel)
{
    session.client.set_header("Cache-Control", "no-cache");
    session.client.set_header("Authorization", basic_credentials(account.username, account.password));
    HttpRequest get;
    get.method = "GET";
    get.url = webdav_package_url(account.url);
    get.response_file = target_file;
    get.cancel = cancel;
    const HttpResponse r = session.client.send(get, progress);
    return DownloadResult{r.status, r.body_size, r.redirect};
}

HttpResponse test_request(HttpClient &client, const WebDavAccount &account, const std::function<bool()> &cancel)
{
    HttpRequest propfind;
    propfind.method = "PROPFIND";
    propfind.url = account.url;
    propfind.headers = {{"Depth", "0"}, {"Authorization", basic_credentials(account.username, account.password)}};
    propfind.cancel = cancel;
    return client.send(propfind);
}

} // namespace yunshan
