#include "platform/ui/qt_dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace yunshan {

namespace {

const QString kQuestionTitle = QStringLiteral("提示");

// Message boxes carry the program's name (not set as Qt's display name, which Qt would append
// to every window title).
QString box_title() { return QStringLiteral("云杉札记"); }

Dialogs::Answer to_answer(int button)
{
    switch (button) {
    case QMessageBox::Yes: return Dialogs::Answer::Yes;
    case QMessageBox::No: return Dialogs::Answer::No;
    default: return Dialogs::Answer::Cancel;
    }
}

} // namespace

QWidget *QtDialogs::owner() const
{
    if (parent_)
        return parent_;
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

void QtDialogs::message(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, box_title(), text, QMessageBox::Ok, owner());
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void QtDialogs::error(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, box_title(), text, QMessageBox::Ok, owner());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void QtDialogs::warning(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, owner());
    box.setObjectName(QStringLiteral("WarningBox"));
    box.exec();
}

Dialogs::Answer QtDialogs::warning_yes_no(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, owner());
    box.setObjectName(QStringLiteral("WarningQuestionBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

Dialogs::Answer QtDialogs::question_yes_no(const QString &text)
{
    QMessageBox box(QMessageBox::Question, kQuestionTitle, text, QMessageBox::Yes | QMessageBox::No, owner());
    box.setObjectName(QStringLiteral("QuestionBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    const int button = box.exec();
    // Closing the box without a choice answers No.
    return button == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

Dialogs::Answer QtDialogs::question_yes_no_cancel(const QString &text)
{
    QMessageBox box(QMessageBox::Question, kQuestionTitle, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner());
    box.setObjectName(QStringLiteral("QuestionBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    return to_answer(box.exec());
}

bool QtDialogs::input(const QString &title, const QString &prompt, QString &value)
{
    QInputDialog box(owner());
    box.setObjectName(QStringLiteral("InputBox"));
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(value);
    if (box.exec() != QDialog::Accepted)
        return false;
    value = box.textValue();
    return true;
}

QInputDialog *QtDialogs::make_password_box(QWidget *parent, const QString &title, const QString &prompt)
{
    auto *box = new QInputDialog(parent);
    box->setObjectName(QStringLiteral("PasswordBox"));
    box->setWindowTitle(title);
    box->setLabelText(prompt);
    box->setTextEchoMode(QLineEdit::Password);
    box->setTextValue(QString());
    // The style's own mask character differs between styles; this box always shows "*".
    if (auto *edit = box->findChild<QLineEdit *>())
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    return box;
}

QString QtDialogs::password(const QString &title, const QString &prompt)
{
    QInputDialog *box = make_password_box(owner(), title, prompt);
    const bool ok = box->exec() == QDialog::Accepted;
    const QString value = ok ? box->textValue() : QString();
    delete box;
    return value;
}

QString QtDialogs::choose_folder(const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(owner(), title, start);
}

QString QtDialogs::open_file(const QString &title, const QString &filter, const QString &start)
{
    return QFileDialog::getOpenFileName(owner(), title, start, filter);
}

QString QtDialogs::save_file(const QString &title, const QString &filter, const QString &start)
{
    return QFileDialog::getSaveFileName(owner(), title, start, filter);
}

bool QtDialogs::choose_font(const QString &title, QFont &font, QColor &color)
{
    QFontDialog box(font, owner());
    box.setObjectName(QStringLiteral("FontBox"));
    box.setWindowTitle(title);
    box.setOption(QFontDialog::DontUseNativeDialog);
    // Qt's font dialog has no colour choice: a "颜色……" button beside OK and Cancel adds it, and
    // the sample text shows the colour.
    QColor chosen = color;
    QWidget *sample = nullptr;
    for (QLineEdit *edit : box.findChildren<QLineEdit *>())
        if (qobject_cast<QGroupBox *>(edit->parentWidget())) // the sample text sits in its own group
            sample = edit;
    auto show_colour = [&] {
        if (sample) {
            QPalette p = sample->palette();
            p.setColor(QPalette::Text, chosen);
            sample->setPalette(p);
        }
    };
    if (auto *buttons = box.findChild<QDialogButtonBox *>()) {
        QPushButton *colour = buttons->addButton(QStringLiteral("颜色……"), QDialogButtonBox::ActionRole);
        colour->setObjectName(QStringLiteral("FontColourButton"));
        QObject::connect(colour, &QPushButton::clicked, &box, [&] {
            const QColor c = QColorDialog::getColor(chosen, &box, QStringLiteral("颜色"));
            if (c.isValid()) {
                chosen = c;
                show_colour();
            }
        });
    }
    show_colour();
    if (box.exec() != QDialog::Accepted)
        return false;
    font = box.selectedFont();
    color = chosen;
    return true;
}

} // namespace yunshan
