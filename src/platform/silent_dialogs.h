#pragma once
// Dialogs that ask the user nothing: every question gets one fixed answer, input boxes and file
// choosers are cancelled, and the texts of message and error boxes go to `shown` (when given).
// For work that must not stop for a person: returning to an earlier connection, benchmarks.
#include "platform/dialogs.h"

#include <functional>
#include <utility>

namespace yunshan {

class SilentDialogs : public Dialogs {
  public:
    explicit SilentDialogs(Answer answer = Answer::No, std::function<void(const QString &)> shown = {})
        : answer_(answer), shown_(std::move(shown))
    {
    }
    void message(const QString &text) override { show(text); }
    void error(const QString &text) override { show(text); }
    Answer question_yes_no(const QString &) override { return answer_; }
    Answer question_yes_no_cancel(const QString &) override { return answer_; }
    bool input(const QString &, const QString &, QString &) override { return false; }
    QString password(const QString &, const QString &) override { return {}; }
    QString choose_folder(const QString &, const QString &) override { return {}; }
    QString open_file(const QString &, const QString &, const QString &) override { return {}; }
    QString save_file(const QString &, const QString &, const QString &) override { return {}; }
    bool choose_font(const QString &, QFont &, QColor &) override { return false; }

  private:
    void show(const QString &text)
    {
        if (shown_)
            shown_(text);
    }
    Answer answer_;
    std::function<void(const QString &)> shown_;
};

} // namespace yunshan
