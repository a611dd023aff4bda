#include "platform/ui/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

namespace yunshan {
namespace {

// Waits for the next modal dialog, records its title and hands it to `act` after the timer's
// slot has returned. A dialog that never shows up, or stays open, is closed after 5 s.
class ModalDriver {
  public:
    explicit ModalDriver(std::function<void(QWidget *)> act) : act_(std::move(act))
    {
        clock_.start();
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    QString title;
    bool seen = false;

  private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && !seen) {
            seen = true;
            title = modal->windowTitle();
            QTimer::singleShot(0, modal, [this, modal] { act_(modal); });
        } else if (clock_.elapsed() > 5000) {
            timer_.stop();
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->isModal())
                    w->close();
            ADD_FAILURE() << "dialog not handled in time";
        }
    }

    std::function<void(QWidget *)> act_;
    QTimer timer_;
    QElapsedTimer clock_;
};

void click_box_button(QWidget *w, QMessageBox::StandardButton which)
{
    auto *box = qobject_cast<QMessageBox *>(w);
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->button(which), nullptr);
    box->button(which)->click();
}

// A box is wide enough for its title to show whole, however short its text.
TEST(QtDialogs, BoxesAreWideEnoughForTheirTitles)
{
    QtDialogs dialogs;
    const auto fits = [](QWidget *w) {
        return w->width() >= QFontMetrics(w->font()).horizontalAdvance(w->windowTitle()) + 100;
    };
    bool fit = false;
    ModalDriver message([&](QWidget *w) {
        fit = fits(w);
        click_box_button(w, QMessageBox::Ok);
    });
    dialogs.message(QStringLiteral("添加成功。"));
    EXPECT_TRUE(fit);
    fit = false;
    ModalDriver password([&](QWidget *w) {
        fit = fits(w);
        qobject_cast<QDialog *>(w)->reject();
    });
    dialogs.password(QStringLiteral("恢复自动保存的加密笔记，请输入此笔记的密码"), QStringLiteral("密码"));
    EXPECT_TRUE(fit);
}

TEST(QtDialogs, FontDialogFieldsHaveNames)
{
    QtDialogs dialogs;
    QStringList names;
    ModalDriver driver([&](QWidget *w) {
        // What a screen reader reads out for each field and list (the sample text aside).
        for (QWidget *c : w->findChildren<QWidget *>())
            if ((qobject_cast<QLineEdit *>(c) || qobject_cast<QListView *>(c)) &&
                c->objectName() != QLatin1String("qt_fontDialog_sampleEdit"))
                names << QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name);
        qobject_cast<QDialog *>(w)->reject();
    });
    QFont font;
    QColor colour;
    dialogs.choose_font(QStringLiteral("字体"), font, colour);
    EXPECT_EQ(names, (QStringList{QStringLiteral("字体"), QStringLiteral("字体"), QStringLiteral("字体风格"),
                                  QStringLiteral("字体风格"), QStringLiteral("大小"), QStringLiteral("大小")}))
        << names.join(u'|').toStdString();
}

TEST(QtDialogs, MessageTitledWithTheProgramsName)
{
    QtDialogs dialogs;
    QString text;
    ModalDriver driver([&](QWidget *w) {
        text = qobject_cast<QMessageBox *>(w)->text();
        click_box_button(w, QMessageBox::Ok);
    });
    dialogs.message(QStringLiteral("同步完成。"));
    EXPECT_TRUE(driver.seen);
    EXPECT_EQ(driver.title, QStringLiteral("云杉札记"));
    EXPECT_EQ(text, QStringLiteral("同步完成。"));
}

TEST(QtDialogs, QuestionsAreTitledTiShiAndReturnTheChosenButton)
{
    QtDialogs dialogs;
    struct Case {
        bool three;
        QMessageBox::StandardButton click;
        Dialogs::Answer expected;
    } const cases[] = {
        {false, QMessageBox::Yes, Dialogs::Answer::Yes},      {false, QMessageBox::No, Dialogs::Answer::No},
        {true, QMessageBox::Yes, Dialogs::Answer::Yes},       {true, QMessageBox::No, Dialogs::Answer::No},
        {true, QMessageBox::Cancel, Dialogs::Answer::Cancel},
    };
    for (const Case &c : cases) {
        ModalDriver driver([&](QWidget *w) { click_box_button(w, c.click); });
        const Dialogs::Answer a = c.three ? dialogs.question_yes_no_cancel(QStringLiteral("是否保存？"))
                                          : dialogs.question_yes_no(QStringLiteral("是否删除？"));
        EXPECT_EQ(driver.title, QStringLiteral("提示"));
        EXPECT_EQ(a, c.expected);
    }
}

TEST(QtDialogs, PasswordBoxShowsStars)
{
    std::unique_ptr<QInputDialog> box(
        QtDialogs::make_password_box(nullptr, QStringLiteral("密码"), QStringLiteral("请输入密码")));
    box->show();
    auto *edit = box->findChild<QLineEdit *>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QString());
    edit->setText(QStringLiteral("ab中1"));
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit->displayText(), QStringLiteral("****"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("密码"));
    EXPECT_EQ(box->labelText(), QStringLiteral("请输入密码"));
}

TEST(QtDialogs, PasswordEntryOrEmptyOnCancel)
{
    QtDialogs dialogs;
    {
        ModalDriver driver([](QWidget *w) {
            auto *box = qobject_cast<QInputDialog *>(w);
            ASSERT_NE(box, nullptr);
            box->findChild<QLineEdit *>()->setText(QStringLiteral("s3cret密"));
            box->accept();
        });
        EXPECT_EQ(dialogs.password(QStringLiteral("密码"), QStringLiteral("请输入密码")), QStringLiteral("s3cret密"));
    }
    {
        ModalDriver driver([](QWidget *w) {
            auto *box = qobject_cast<QInputDialog *>(w);
            ASSERT_NE(box, nullptr);
            box->findChild<QLineEdit *>()->setText(QStringLiteral("typed"));
            box->reject();
        });
        EXPECT_EQ(dialogs.password(QStringLiteral("密码"), QStringLiteral("请输入密码")), QString());
    }
}

TEST(QtDialogs, InputKeepsValueOnCancel)
{
    QtDialogs dialogs;
    QString value = QStringLiteral("旧");
    {
        ModalDriver driver([](QWidget *w) { qobject_cast<QDialog *>(w)->reject(); });
        EXPECT_FALSE(dialogs.input(QStringLiteral("重命名"), QStringLiteral("新名称"), value));
        EXPECT_EQ(value, QStringLiteral("旧"));
    }
    {
        ModalDriver driver([](QWidget *w) {
            auto *box = qobject_cast<QInputDialog *>(w);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->textValue(), QStringLiteral("旧"));
            box->setTextValue(QStringLiteral("新"));
            box->accept();
        });
        EXPECT_TRUE(dialogs.input(QStringLiteral("重命名"), QStringLiteral("新名称"), value));
        EXPECT_EQ(value, QStringLiteral("新"));
    }
}

TEST(QtDialogs, FontDialogOffersAColourAndReturnsTheChoice)
{
    QtDialogs dialogs;
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(19);
    QColor colour(Qt::blue);
    QFont wanted(QStringLiteral("WenQuanYi Micro Hei"));
    wanted.setPointSize(24);
    bool has_colour_button = false;
    ModalDriver accept([&](QWidget *w) {
        auto *box = qobject_cast<QFontDialog *>(w);
        ASSERT_NE(box, nullptr);
        has_colour_button = box->findChild<QPushButton *>(QStringLiteral("FontColourButton")) != nullptr;
        box->setCurrentFont(wanted);
        box->accept();
    });
    EXPECT_TRUE(dialogs.choose_font(QStringLiteral("字体"), font, colour));
    EXPECT_EQ(accept.title, QStringLiteral("字体"));
    EXPECT_TRUE(has_colour_button);
    EXPECT_EQ(font.pointSize(), 24);
    EXPECT_EQ(colour, QColor(Qt::blue));

    ModalDriver cancel([](QWidget *w) { qobject_cast<QDialog *>(w)->reject(); });
    EXPECT_FALSE(dialogs.choose_font(QStringLiteral("字体"), font, colour));
    EXPECT_TRUE(cancel.seen);
    EXPECT_EQ(font.pointSize(), 24);
}

} // namespace
} // namespace yunshan
