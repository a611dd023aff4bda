#pragma once
// The update check as the window shows it: the version request a worker runs, and on the main
// thread what it brought: the notice label (Label1) with its link, the questions, and the start
// of the download.
#include "update/update_check.h"

#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class QLabel;

namespace yunshan {

class Dialogs;

class UpdateNotice : public QObject {
  public:
    // `install` downloads and installs the new program (false: it did not happen, it said why).
    UpdateNotice(Dialogs &dialogs, QLabel *notice, std::function<bool()> install, QObject *parent);

    // Address of the update server (empty: no check).
    QString server;
    // The version request of a worker. It runs on the worker's thread, with a copy of this
    // function: it must not reach into the window. Empty: the request to `server`.
    std::function<VersionReply()> check;
    // N94's tag: the run of the next worker (Manual after "检查更新" until that check is answered).
    UpdateCheckRun run = UpdateCheckRun::StartUp;

    // The version request and the step showing its answer, for a worker started with the tag
    // `check_run`: the first runs on the worker's thread, the second on the main thread.
    std::pair<std::function<void()>, std::function<void()>> steps(UpdateCheckRun check_run);
    // What a version request brought: notices, questions, the download.
    void answer(const VersionReply &reply, UpdateCheckRun check_run);
    // Opened by a click on the notice label when it is a web link.
    const QString &download_url() const { return download_url_; }
    void open_download_page();

  private:
    Dialogs &dialogs_;
    QLabel *notice_;
    std::function<bool()> install_;
    QString download_url_;
};

} // namespace yunshan
