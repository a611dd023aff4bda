#pragma once
// Every message box, question, input box and file dialog of the program goes through this
// interface: the windows use the Qt implementation, tests a scripted one.
#include <QString>
#include <QStringList>

class QColor;
class QFont;

namespace yunshan {

class Dialogs {
  public:
    enum class Answer { Yes, No, Cancel };

    virtual ~Dialogs() = default;

    // Plain message box (information).
    virtual void message(const QString &text) = 0;
    // Error box carrying an error's message.
    virtual void error(const QString &text) = 0;
    // Warning box with its own caption and an OK button.
    virtual void warning(const QString &title, const QString &text)
    {
        static_cast<void>(title);
        message(text);
    }
    // Question with a warning icon, its own caption and Yes and No.
    virtual Answer warning_yes_no(const QString &title, const QString &text)
    {
        static_cast<void>(title);
        return question_yes_no(text);
    }
    // Question titled "提示" with Yes and No.
    virtual Answer question_yes_no(const QString &text) = 0;
    // Question titled "提示" with Yes, No and Cancel.
    virtual Answer question_yes_no_cancel(const QString &text) = 0;
    // Input box; returns false when cancelled.
    virtual bool input(const QString &title, const QString &prompt, QString &value) = 0;
    // Password input box: the entry shows "*"; cancelling gives empty text.
    virtual QString password(const QString &title, const QString &prompt) = 0;
    // Folder chooser; empty when cancelled.
    virtual QString choose_folder(const QString &title, const QString &start) = 0;
    // File dialogs; empty when cancelled. `filter` in Qt's form ("图片 (*.jpg *.png)").
    virtual QString open_file(const QString &title, const QString &filter, const QString &start) = 0;
    virtual QString save_file(const QString &title, const QString &filter, const QString &start) = 0;
    // Font dialog starting with `font` and `color`; on OK both take the choice and true is
    // returned, on cancel they stay and false is returned.
    virtual bool choose_font(const QString &title, QFont &font, QColor &color)
    {
        Q_UNUSED(title);
        Q_UNUSED(font);
        Q_UNUSED(color);
        return false;
    }
};

} // namespace yunshan
