#pragma once
// The dialogs interface on Qt's message boxes, input boxes and file dialogs.
#include "platform/dialogs.h"

class QInputDialog;
class QMessageBox;
class QWidget;

namespace yunshan {

class QtDialogs : public Dialogs {
  public:
    // `parent`: the window the boxes belong to; null uses the active window.
    explicit QtDialogs(QWidget *parent = nullptr) : parent_(parent) {}

    void set_parent(QWidget *parent) { parent_ = parent; }

    void message(const QString &text) override;
    void error(const QString &text) override;
    void warning(const QString &title, const QString &text) override;
    Answer warning_yes_no(const QString &title, const QString &text) override;
    Answer question_yes_no(const QString &text) override;
    Answer question_yes_no_cancel(const QString &text) override;
    bool input(const QString &title, const QString &prompt, QString &value) override;
    QString password(const QString &title, const QString &prompt) override;
    QString choose_folder(const QString &title, const QString &start) override;
    QString open_file(const QString &title, const QString &filter, const QString &start) override;
    QString save_file(const QString &title, const QString &filter, const QString &start) override;
    bool choose_font(const QString &title, QFont &font, QColor &color) override;

    // The password input box, not yet shown: empty entry, every typed character shown as "*".
    static QInputDialog *make_password_box(QWidget *parent, const QString &title, const QString &prompt);

  private:
    QWidget *owner() const;

    QWidget *parent_;
};

} // namespace yunshan
