#include "platform/ui/qt_dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>

#include <algorithm>

namespace yunshan {

namespace {

const QString kQuestionTitle = QStringLiteral("提示");

// Message boxes carry the program's name (not set as Qt's display name, which Qt would append
// to every window title).
QString box_title()
{
    return QStringLiteral("云杉札记");
}

// Room the window frame takes beside the title: the icon and the buttons of the title bar.
constexpr int kTitleBarRoom = 120;

// The box is wide enough for its title to show whole in the title bar (a short text such as
// "添加成功。" made the box narrower than its title). A message box ignores a minimum width; a
// spacer row in its grid gives it one.
void fit_title(QDialog &box)
{
    const int wanted = QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) + kTitleBarRoom;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()); grid && qobject_cast<QMessageBox *>(&box)) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    } else if (auto *edit = box.findChild<QLineEdit *>()) {
        // An input box keeps to its layout's size: its entry field makes it wide.
        const QMargins m = box.layout() ? box.layout()->contentsMargins() : QMargins();
        edit->setMinimumWidth(std::max(edit->minimumWidth(), wanted - m.left() - m.right()));
    } else {
        box.setMinimumWidth(std::max(box.minimumWidth(), wanted));
    }
}

// Qt's font dialog leaves its family and style fields without names: each field and list takes
// the text of the label above it ("字体", "字体风格", "大小" in the Chinese translation).
void name_font_dialog_fields(QFontDialog &box)
{
    static const QRegularExpression accelerator(QStringLiteral("\\(&?.\\)$|&"));
    QHash<QWidget *, QString> names;
    for (QLabel *label : box.findChildren<QLabel *>())
        if (QWidget *buddy = label->buddy())
            names.insert(buddy, label->text().remove(accelerator).trimmed());
    // The family, style and size fields, each with the list under it, in that order.
    const QList<QLineEdit *> fields = box.findChildren<QLineEdit *>();
    const QList<QListView *> lists = box.findChildren<QListView *>();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        // The label names the field or the list, whichever it is the buddy of.
        QString name = names.value(fields.at(i));
        if (name.isEmpty() && i < lists.size())
            name = names.value(lists.at(i));
        if (name.isEmpty())
            continue;
        if (fields.at(i)->accessibleName().isEmpty())
            fields.at(i)->setAccessibleName(name);
        if (i < lists.size() && lists.at(i)->accessibleName().isEmpty())
            lists.at(i)->setAccessibleName(name);
    }
}

Dialogs::Answer to_answer(int button)
{
    switch (button) {
    case QMessageBox::Yes:
        return Dialogs::Answer::Yes;
    case QMessageBox::No:
        return Dialogs::Answer::No;
    default:
        return Dialogs::Answer::Cancel;
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
    fit_title(box);
    box.exec();
}

void QtDialogs::error(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, box_title(), text, QMessageBox::Ok, owner());
    box.setObjectName(QStringLiteral("ErrorBox"));
    fit_title(box);
    box.exec();
}

void QtDialogs::warning(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, owner());
    box.setObjectName(QStringLiteral("WarningBox"));
    fit_title(box);
    box.exec();
}

Dialogs::Answer QtDialogs::warning_yes_no(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, owner());
    box.setObjectName(QStringLiteral("WarningQuestionBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    fit_title(box);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

Dialogs::Answer QtDialogs::question_yes_no(const QString &text)
{
    QMessageBox box(QMessageBox::Question, kQuestionTitle, text, QMessageBox::Yes | QMessageBox::No, owner());
    box.setObjectName(QStringLiteral("QuestionBox"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    fit_title(box);
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
    fit_title(box);
    return to_answer(box.exec());
}

bool QtDialogs::input(const QString &title, const QString &prompt, QString &value)
{
    QInputDialog box(owner());
    box.setObjectName(QStringLiteral("InputBox"));
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(value);
    fit_title(box);
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
    fit_title(*box);
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
    name_font_dialog_fields(box);
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
