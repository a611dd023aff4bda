#pragma once
// A small HTTP server on 127.0.0.1 for the update tests: fixed answers by request target (path
// and query), 404 for everything else, every request head recorded. In `hang` mode it takes
// connections and never answers.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace yunshan::test {

class UpdateServer {
  public:
    explicit UpdateServer(bool hang = false);
    ~UpdateServer();
    UpdateServer(const UpdateServer &) = delete;
    UpdateServer &operator=(const UpdateServer &) = delete;

    // "http://127.0.0.1:<port>"
    QString url() const;
    // Answers GET `target` ("/abc/ver.php?p=20&v=54") with `status` and `body`; a 3xx status
    // sends `body` as the Location instead.
    void answer(const QByteArray &target, int status, const QByteArray &body);
    // Request heads received so far.
    QStringList requests() const;

  private:
    void serve();
    struct Answer {
        int status;
        QByteArray body;
    };
    int listener_ = -1;
    int port_ = 0;
    bool hang_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    QMap<QByteArray, Answer> answers_;
    QStringList requests_;
    std::vector<int> held_; // connections kept open in hang mode
    std::thread thread_;
};

} // namespace yunshan::test
