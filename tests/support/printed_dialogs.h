#pragma once
// Dialogs for the screenshot tools: every box is written to standard error and answered "No" or
// cancelled, so nothing waits for a person.
#include "platform/dialogs.h"

#include <cstdio>

namespace yunshan::test {

class PrintedDialogs : public Dialogs {
  public:
    void message(const QString &text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    void error(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    Answer question_yes_no(const QString &text) override
    {
        std::fprintf(stderr, "question: %s\n", qPrintable(text));
        return Answer::No;
    }
    Answer question_yes_no_cancel(const QString &text) override
    {
        std::fprintf(stderr, "question: %s\n", qPrintable(text));
        return Answer::No;
    }
    bool input(const QString &, const QString &prompt, QString &) override
    {
        std::fprintf(stderr, "input: %s\n", qPrintable(prompt));
        return false;
    }
    QString password(const QString &, const QString &prompt) override
    {
        std::fprintf(stderr, "password: %s\n", qPrintable(prompt));
        return {};
    }
    QString choose_folder(const QString &, const QString &) override { return {}; }
    QString open_file(const QString &, const QString &, const QString &) override { return {}; }
    QString save_file(const QString &, const QString &, const QString &) override { return {}; }
};

} // namespace yunshan::test
