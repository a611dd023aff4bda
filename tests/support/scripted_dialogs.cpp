#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace yunshan::test {

namespace {
const char *kind_name(ScriptedDialogs::Kind k)
{
    using K = ScriptedDialogs::Kind;
    switch (k) {
    case K::Message:
        return "message";
    case K::Error:
        return "error";
    case K::YesNo:
        return "yes/no question";
    case K::YesNoCancel:
        return "yes/no/cancel question";
    case K::Input:
        return "input box";
    case K::Password:
        return "password box";
    case K::Folder:
        return "folder chooser";
    case K::OpenFile:
        return "open-file dialog";
    case K::SaveFile:
        return "save-file dialog";
    case K::Warning:
        return "warning box";
    case K::Font:
        return "font dialog";
    }
    return "?";
}
} // namespace

ScriptedDialogs::~ScriptedDialogs()
{
    verify_done();
}

ScriptedDialogs &ScriptedDialogs::expect(Kind kind, const QString &text, Answer answer, const QString &value)
{
    queue_.push_back({kind, text, answer, value, true, {}, {}});
    return *this;
}

ScriptedDialogs &ScriptedDialogs::expect_containing(Kind kind, const QString &text_part, Answer answer,
                                                    const QString &value)
{
    queue_.push_back({kind, text_part, answer, value, false, {}, {}});
    return *this;
}

ScriptedDialogs &ScriptedDialogs::expect_font(const QFont &font, const QColor &color, Answer answer)
{
    queue_.push_back({Kind::Font, {}, answer, {}, true, font, color});
    return *this;
}

void ScriptedDialogs::verify_done()
{
    for (const auto &e : queue_)
        ADD_FAILURE() << "expected " << kind_name(e.kind) << " \"" << e.text_part.toStdString() << "\" was never shown";
    queue_.clear();
}

bool ScriptedDialogs::take(Kind kind, const QString &text, Expectation &out)
{
    shown_.append(text);
    if (queue_.empty()) {
        ADD_FAILURE() << "unexpected " << kind_name(kind) << ": \"" << text.toStdString() << "\"";
        return false;
    }
    const Expectation e = queue_.front();
    const bool text_ok = e.text_part.isEmpty() || (e.exact ? text == e.text_part : text.contains(e.text_part));
    if (e.kind != kind || !text_ok) {
        ADD_FAILURE() << "expected " << kind_name(e.kind) << (e.exact ? " " : " containing ") << "\""
                      << e.text_part.toStdString() << "\" but got " << kind_name(kind) << " \"" << text.toStdString()
                      << "\"";
        return false;
    }
    queue_.pop_front();
    out = e;
    return true;
}

void ScriptedDialogs::message(const QString &text)
{
    Expectation e;
    take(Kind::Message, text, e);
}

void ScriptedDialogs::error(const QString &text)
{
    Expectation e;
    take(Kind::Error, text, e);
}

void ScriptedDialogs::warning(const QString &title, const QString &text)
{
    Expectation e;
    take(Kind::Warning, title + QLatin1Char('\n') + text, e);
}

Dialogs::Answer ScriptedDialogs::question_yes_no(const QString &text)
{
    Expectation e;
    return take(Kind::YesNo, text, e) ? e.answer : Answer::No;
}

Dialogs::Answer ScriptedDialogs::question_yes_no_cancel(const QString &text)
{
    Expectation e;
    return take(Kind::YesNoCancel, text, e) ? e.answer : Answer::Cancel;
}

bool ScriptedDialogs::input(const QString &title, const QString &prompt, QString &value)
{
    input_titles_ << title;
    Expectation e;
    if (!take(Kind::Input, prompt, e) || e.answer == Answer::Cancel)
        return false;
    value = e.value;
    return true;
}

QString ScriptedDialogs::password(const QString &title, const QString &prompt)
{
    Q_UNUSED(title);
    Expectation e;
    return take(Kind::Password, prompt, e) ? e.value : QString();
}

QString ScriptedDialogs::choose_folder(const QString &title, const QString &start)
{
    last_start_ = start;
    Expectation e;
    return take(Kind::Folder, title, e) ? e.value : QString();
}

QString ScriptedDialogs::open_file(const QString &title, const QString &filter, const QString &start)
{
    Q_UNUSED(filter);
    last_start_ = start;
    Expectation e;
    return take(Kind::OpenFile, title, e) ? e.value : QString();
}

QString ScriptedDialogs::save_file(const QString &title, const QString &filter, const QString &start)
{
    Q_UNUSED(filter);
    last_start_ = start;
    Expectation e;
    return take(Kind::SaveFile, title, e) ? e.value : QString();
}

bool ScriptedDialogs::choose_font(const QString &title, QFont &font, QColor &color)
{
    offered_font_ = font;
    Expectation e;
    if (!take(Kind::Font, title, e) || e.answer != Answer::Yes)
        return false;
    font = e.font;
    color = e.color;
    return true;
}

} // namespace yunshan::test
