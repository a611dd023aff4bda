#pragma once
// The WebDAV side of backup and sync: the upload of the database package (folder check, folder
// creation, packaging, PUT), the download of the package and the connection test.
#include "backup/http_client.h"

#include <QString>

#include <functional>
#include <memory>

class QTemporaryFile;

namespace yunshan {

class Dialogs;
class NoteStore;

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

// What the upload needs from the window between its steps.
struct UploadSteps {
    std::function<bool()> esc_down;                 // the ESC check, also asked while a request runs
    std::function<void(const QString &)> show_step; // progress line, repaint, pending events
    HttpProgress transfer;                          // transfer events
};

enum class UploadOutcome {
    Uploaded,  // PUT answered 200, 201 or 204
    PutFailed, // PUT answered another status (reported)
    Cancelled, // ESC held at a check point
};

// The upload: PROPFIND on the folder (Depth 0), MKCOL when it is missing, the package built from
// `database_file` with `zip_password` into a private temporary file while the main connection is
// closed (reopened whatever happens), then PUT. Status failures are reported through `dialogs`;
// transport and packaging failures throw (HttpError, ArchiveError, DbError). ESC held at a check
// point ends the upload (Cancelled); ESC while a request runs cancels it with an HttpError.
UploadOutcome upload_package(WebDavSession &session, const WebDavAccount &account, NoteStore &store,
                             const QString &database_file, const QString &zip_password, Dialogs &dialogs,
                             const UploadSteps &steps);

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
