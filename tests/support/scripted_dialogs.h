#pragma once
// Dialogs for tests: every prompt must have been queued with its answer; every text shown is
// recorded. A prompt nobody expected fails the test (and is answered with Cancel / empty).
#include "platform/dialogs.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <deque>

namespace yunshan::test {

class ScriptedDialogs : public Dialogs {
  public:
    enum class Kind { Message, Error, YesNo, YesNoCancel, Input, Password, Folder, OpenFile, SaveFile, Warning, Font };

    ~ScriptedDialogs() override;

    // Expect a prompt of `kind` whose text equals `text` exactly (empty: any text).
    ScriptedDialogs &expect(Kind kind, const QString &text = {}, Answer answer = Answer::Yes,
                            const QString &value = {});
    // Expect a prompt of `kind` whose text merely contains `text_part`: only for texts that carry
    // something not known in advance (an engine's message, a path).
    ScriptedDialogs &expect_containing(Kind kind, const QString &text_part, Answer answer = Answer::Yes,
                                       const QString &value = {});
    ScriptedDialogs &expect_message(const QString &text_part = {}) { return expect(Kind::Message, text_part); }
    ScriptedDialogs &expect_error(const QString &text_part = {}) { return expect(Kind::Error, text_part); }
    // A warning box: `title` and `text` both match exactly.
    ScriptedDialogs &expect_warning(const QString &title, const QString &text)
    {
        return expect(Kind::Warning, title + QLatin1Char('\n') + text);
    }
    ScriptedDialogs &expect_question(const QString &text_part, Answer answer)
    {
        return expect(Kind::YesNo, text_part, answer);
    }
    ScriptedDialogs &expect_question3(const QString &text_part, Answer answer)
    {
        return expect(Kind::YesNoCancel, text_part, answer);
    }
    // Input boxes answer `value`; Answer::Cancel cancels.
    ScriptedDialogs &expect_input(const QString &text_part, const QString &value, Answer answer = Answer::Yes)
    {
        return expect(Kind::Input, text_part, answer, value);
    }
    ScriptedDialogs &expect_password(const QString &text_part, const QString &value)
    {
        return expect(Kind::Password, text_part, Answer::Yes, value);
    }
    ScriptedDialogs &expect_file(Kind kind, const QString &path) { return expect(kind, {}, Answer::Yes, path); }
    // The font dialog answers `font` and `color`; Answer::Cancel cancels. The dialog's starting
    // font is recorded in offered_font().
    ScriptedDialogs &expect_font(const QFont &font, const QColor &color, Answer answer = Answer::Yes);
    const QFont &offered_font() const { return offered_font_; }
    // The starting folder or file name the last folder or file dialog was given.
    const QString &last_start() const { return last_start_; }

    // Every text shown so far, in order (message text, question text, input prompt …).
    const QStringList &shown() const { return shown_; }
    // The title of every input box shown so far, in order.
    const QStringList &input_titles() const { return input_titles_; }
    bool pending() const { return !queue_.empty(); }
    // Fails the test when queued prompts were never shown; clears the queue.
    void verify_done();
    void clear_shown() { shown_.clear(); }

    void message(const QString &text) override;
    void error(const QString &text) override;
    void warning(const QString &title, const QString &text) override;
    Answer question_yes_no(const QString &text) override;
    Answer question_yes_no_cancel(const QString &text) override;
    bool input(const QString &title, const QString &prompt, QString &value) override;
    QString password(const QString &title, const QString &prompt) override;
    QString choose_folder(const QString &title, const QString &start) override;
    QString open_file(const QString &title, const QString &filter, const QString &start) override;
    QString save_file(const QString &title, const QString &filter, const QString &start) override;
    bool choose_font(const QString &title, QFont &font, QColor &color) override;

  private:
    struct Expectation {
        Kind kind;
        QString text_part;
        Answer answer;
        QString value;
        bool exact = true;
        QFont font;
        QColor color;
    };
    // Pops the next expectation when it matches; otherwise records a failure.
    bool take(Kind kind, const QString &text, Expectation &out);

    std::deque<Expectation> queue_;
    QStringList shown_;
    QStringList input_titles_;
    QFont offered_font_;
    QString last_start_;
};

} // namespace yunshan::test
