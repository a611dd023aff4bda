#pragma once
// The words for a failed WebDAV transfer: what was being done, the server and the cause in
// words, what became of the local notes, and the library's own text after them. Upload,
// download and the connection test all take their messages from here.
#include "backup/http_client.h"
#include "backup/webdav.h"

#include <QString>

#include <exception>

namespace yunshan {

class Dialogs;

enum class TransferStep {
    Test,         // the connection test of the settings dialog
    CreateFolder, // MKCOL of the share's folder (the upload goes on after it)
    Upload,       // the backup to the share: folder check, packaging, PUT
    Download,     // the download of the package
    Unpack,       // reading the downloaded package
};

// What went wrong: the server's answer, or an exception (HttpError, ArchiveError, any other).
struct TransferFault {
    int status = 0;   // the server's status (0: no answer)
    qint64 size = -1; // bytes of the answer's body (the download's text shows them)
    QString redirect; // where a redirect that was not followed pointed
    const std::exception *error = nullptr;

    TransferFault(const std::exception &e) : error(&e) {}
    TransferFault(const HttpResponse &r) : status(r.status), size(r.body_size), redirect(r.redirect) {}
    TransferFault(const DownloadResult &r) : status(r.status), size(r.size), redirect(r.redirect) {}
};

// The message for a failed step against the share at `server_url`. Where a status message has
// a fixed beginning ("上传文件 notedb.zip 失败401", "备份网盘测试失败，错误码：401", …) the text
// starts with it.
QString transfer_error_text(TransferStep step, const QString &server_url, const TransferFault &fault);

// Whether the exception is the user's own stop (ESC), not a failure.
bool is_cancellation(const std::exception &e);

// Shows the text of `e`: a message box for the user's own stop, an error box otherwise.
void report_transfer_failure(Dialogs &dialogs, TransferStep step, const QString &server_url, const std::exception &e);

// "host" or "host:port" of an address as the user typed it ("“…”" when it names no server).
QString server_name(const QString &url);

} // namespace yunshan
