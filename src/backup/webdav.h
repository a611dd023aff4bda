#pragma once
// The WebDAV side of backup and sync: the upload of the database package (folder check, folder
// creation, packaging, PUT), the download of the package and the connection test.
#include "backup/http_client.h"
#include "sync/fingerprints.h"

#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTemporaryFile;

namespace yunshan {

class Dialogs;

// The share's folder and the package in it, relative to the share's address.
inline constexpr const char *kWebDavFolder = "yunshanzhaji";
inline constexpr const char *kWebDavPackage = "yunshanzhaji/notedb.zip";

// "Basic " + Base64 (one line, padded) of the UTF-8 bytes of user + ":" + password.
QByteArray basic_credentials(const QString &username, const QString &password);

// Folder and package addresses for a share address ending in "/". The folder is addressed with
// a trailing "/", as WebDAV servers expect for collections.
QString webdav_folder_url(const QString &dav_url);
QString webdav_package_url(const QString &dav_url);

struct WebDavAccount {
    QString url; // ends with "/"
    QString username;
    QString password;

    bool complete() const { return !url.isEmpty() && !username.isEmpty() && !password.isEmpty(); }
};

// The main window's HTTP objects for the run: the client (its connection is kept between
// requests) and the request object, whose headers go with every request sent through it.
struct WebDavSession {
    HttpClient client;
    HttpHeaders request_headers;

    void set_request_header(const QByteArray &name, const QByteArray &value);
    // Sends through the request object: its headers, then the request's own; only the sending
    // of the body is reported to `progress`.
    HttpResponse send(HttpRequest request, const HttpProgress &progress = {});
};

// The package file on the share as a Depth 0 PROPFIND describes it. Servers differ in what they
// report (some have no entity tag, some no size); what is there is kept as the server wrote it.
struct ShareIdentity {
    bool exists = false;
    qint64 size = -1; // getcontentlength; -1 when not reported
    QString modified; // getlastmodified
    QString etag;     // getetag
    // Whether both describe one and the same file: both missing, or both present with the same
    // values wherever both report one, the entity tag or the modification time among them. A
    // size alone tells too little.
    bool same_file(const ShareIdentity &other) const;
    // As kept beside the sync fingerprints, and back (nothing known when the keys are missing).
    QMap<QString, QString> to_meta() const;
    static std::optional<ShareIdentity> from_meta(const QMap<QString, QString> &meta);
    friend bool operator==(const ShareIdentity &, const ShareIdentity &) = default;
};

// The identity in a 207 answer to a PROPFIND of the package: the properties of the response for
// the package (the first response when none names it) from its propstat with a 2xx status.
// nullopt when the body is no multistatus the reader can follow.
std::optional<ShareIdentity> parse_package_identity(const QByteArray &multistatus);

// A PROPFIND (Depth 0) of the package: its identity, or that there is none (404).
struct PackageLookup {
    int status = 0;
    QString redirect;       // a redirect that was not followed
    ShareIdentity identity; // when answered()
    bool answered() const { return found || status == 404; }
    bool found = false; // a 207 (or 200) the reader understood
};
PackageLookup lookup_package(WebDavSession &session, const WebDavAccount &account,
                             const std::function<bool()> &cancel = {});

// What the upload needs from the window between its steps.
struct UploadSteps {
    std::function<bool()> esc_down;                 // the ESC check, also asked while a request runs
    std::function<void(const QString &)> show_step; // progress line, repaint, pending events
    HttpProgress transfer;                          // transfer events
    // The share's package as the caller found it: the PUT is sent only while it is still that
    // file (an If-Match with its entity tag, or If-None-Match when there was none), so an upload
    // another machine made meanwhile is never overwritten. Without it the PUT is unconditional.
    std::optional<ShareIdentity> expected;
};

enum class UploadOutcome {
    Uploaded,     // PUT answered 200, 201 or 204
    PutFailed,    // PUT answered another status (reported)
    Cancelled,    // ESC held at a check point
    ShareChanged, // PUT answered 412: the package is no longer the expected one (not reported)
};

// What an upload leaves for the next sync: the fingerprints and the generation stamp of exactly
// the database that was packed, and the package's identity on the share after the PUT (nothing
// known when the share's answer does not match the package sent).
struct UploadedState {
    sync::Fingerprints prints;
    QString generation;
    std::optional<ShareIdentity> identity;
};

// The upload: PROPFIND on the folder (Depth 0), MKCOL when it is missing, a consistent snapshot
// of `database_file` taken through the engine (the main connection stays open; a write
// meanwhile only makes the copy start over) and packed with `zip_password` into a private
// temporary file, then PUT. With `uploaded`, the snapshot's fingerprints are made before the PUT
// and the package is looked up after it. Status failures are reported through `dialogs`;
// transport and packaging failures throw (HttpError, ArchiveError, DbError, sync::SyncError). ESC
// held at a check point ends the upload (Cancelled); ESC while a request runs cancels it with an
// HttpError. Runs on any thread: it touches no connection of the store.
UploadOutcome upload_package(WebDavSession &session, const WebDavAccount &account, const QString &database_file,
                             const QString &zip_password, Dialogs &dialogs, const UploadSteps &steps,
                             UploadedState *uploaded = nullptr);

struct DownloadResult {
    int status = 0;
    qint64 size = 0;  // bytes of the body written to the target file
    QString redirect; // a redirect that was not followed
};

// GET of the package into `target_file` (created 0600 or truncated). The client keeps the
// headers "Cache-Control: no-cache" and the credentials for later requests. `cancel` (the ESC
// check) is asked while the request runs; true cancels it with an HttpError.
DownloadResult download_package(WebDavSession &session, const WebDavAccount &account, const QString &target_file,
                                const HttpProgress &progress = {}, const std::function<bool()> &cancel = {});

// The connection test: PROPFIND (Depth 0) on the share's address with the given credentials;
// the answer (status 207 or 200 means success). Transport failures throw HttpError.
HttpResponse test_request(HttpClient &client, const WebDavAccount &account, const std::function<bool()> &cancel = {});

// A new private (0600) temporary file for a package beside `near_file` (in the system's
// temporary folder when that folder is not writable); removed when the object goes.
std::unique_ptr<QTemporaryFile> package_temp_file(const QString &near_file);

} // namespace yunshan
