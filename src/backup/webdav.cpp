#include "backup/webdav.h"

#include "backup/transfer_errors.h"
#include "backup/zip_package.h"
#include "platform/dialogs.h"
#include "store/note_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

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
    for (auto &h : request_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    request_headers.append({name, value});
}

HttpResponse WebDavSession::send(HttpRequest request, const HttpProgress &progress)
{
    HttpHeaders headers = request_headers;
    for (const auto &h : std::as_const(request.headers)) {
        bool replaced = false;
        for (auto &own : headers) {
            if (own.first.compare(h.first, Qt::CaseInsensitive) == 0) {
                own.second = h.second;
                replaced = true;
            }
        }
        if (!replaced)
            headers.append(h);
    }
    request.headers = headers;
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

UploadOutcome upload_package(WebDavSession &session, const WebDavAccount &account, NoteStore &store,
                             const QString &database_file, const QString &zip_password, Dialogs &dialogs,
                             const UploadSteps &steps)
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

    // Packaging, with the main connection closed so the file is not written meanwhile.
    show(QStringLiteral("正在压缩数据……"));
    auto package = package_temp_file(database_file);
    store.with_main_closed([&] {
        QFile::remove(QFileInfo(database_file).absolutePath() + QStringLiteral("/notedb.zip"));
        build_package_file(database_file, zip_password, package->fileName());
    });
    if (esc())
        return UploadOutcome::Cancelled;

    show(QStringLiteral("正在上传数据……"));
    HttpRequest put;
    put.method = "PUT";
    put.url = webdav_package_url(account.url);
    put.body_file = package->fileName();
    put.cancel = steps.esc_down;
    const HttpResponse stored = session.send(put, steps.transfer);
    if (stored.status == 200 || stored.status == 201 || stored.status == 204) {
        show(QStringLiteral("上传成功"));
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
