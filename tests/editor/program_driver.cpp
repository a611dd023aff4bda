// The real program with a remote keyboard: it runs exactly as yunshan-note does, and reads
// commands from standard input, one per line, which it turns into the events a user's keyboard
// and mouse would give the main window's widgets. Each command is answered by one line
// ("ok ..." or "error ...") on standard output. Used by the tests that kill the program, and
// by the input method test, which types on a real X server and asks here what arrived.
//
//   ready                  answers once the start-up worker has ended (recovery done)
//   focus <widget>         the widget takes the focus as by a mouse click
//   type <widget> <text>   text entered into the widget as an input method commits it
//   key <widget> Return    a key press
//   click <widget>         a button click
//   click <list> <row>     a mouse click on an entry of a list widget
//   select <list> <row>    selects an entry of a list widget as the user does
//   select <edit> <from> <to>  selects the characters from..to of a line or text edit (to -1: the
//                          end), as the user drags over them
//   trigger <action>       a menu command chosen
//   state                  noteId, whether the save commands are enabled, title, tag line
//   close                  the window's close request
//   window                 the main window's native id and whether it is the active window
//   text <widget>          the text of a line edit, the plain text of a text edit, or the
//                          entries of a list widget ("|" between)
//   preedit <widget>       the composition an input method last showed in the widget
//   screenshot <file>      the whole screen (with other programs' windows) saved as PNG
//   shown                  the texts of the message and input boxes answered so far, "|" between
//
// Message and input boxes are answered from YUNSHAN_DRIVER_ANSWERS, "|" between the answers in
// the order the boxes come: an input box gets the answer as its text ("<cancel>" cancels it), a
// message box the button whose text is the answer (else its default button). A box that comes
// when no answer is left stays open.
#include "app/ui/program.h"
#include "app/ui/tform2.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QHash>
#include <QInputDialog>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

using yunshan::TForm2;

TForm2 *main_window()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *f = qobject_cast<TForm2 *>(w))
            return f;
    return nullptr;
}

// The last composition each widget was shown by the input method, by object name.
QHash<QString, QString> &preedits()
{
    static QHash<QString, QString> texts;
    return texts;
}

// Watches the input method's events on their way to the widgets, and lets them pass.
class PreeditWatch : public QObject {
  public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::InputMethod && !watched->objectName().isEmpty())
            preedits().insert(watched->objectName(), static_cast<QInputMethodEvent *>(event)->preeditString());
        return false;
    }
};

// The texts of the boxes answered, in order.
QStringList &shown_boxes()
{
    static QStringList texts;
    return texts;
}

// Answers the box on top, if any, with the next answer of `answers`.
void answer_box(QStringList &answers)
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || answers.isEmpty() || modal->property("driver_answered").toBool())
        return;
    if (auto *input = qobject_cast<QInputDialog *>(modal)) {
        modal->setProperty("driver_answered", true);
        shown_boxes() << input->labelText();
        const QString a = answers.takeFirst();
        if (a == QLatin1String("<cancel>")) {
            input->reject();
        } else {
            input->setTextValue(a);
            input->accept();
        }
    } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        modal->setProperty("driver_answered", true);
        shown_boxes() << box->text();
        const QString a = answers.takeFirst();
        QAbstractButton *chosen = box->defaultButton();
        for (QAbstractButton *b : box->buttons())
            if (b->text().remove(QLatin1Char('&')) == a)
                chosen = b;
        if (chosen)
            chosen->click();
        else
            box->accept();
    }
}

void answer(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void run_command(const QString &line);

QStringList list_entries(const QAbstractItemView *l)
{
    QStringList texts;
    for (int i = 0; i < l->model()->rowCount(); ++i)
        texts << l->model()->index(i, 0).data().toString();
    return texts;
}

// A left click in the middle of entry `row`, scrolled into view first. False when there is no
// such entry.
bool click_entry(QAbstractItemView *l, int row)
{
    const QModelIndex item = l->model()->index(row, 0);
    if (!item.isValid())
        return false;
    l->scrollTo(item);
    const QPointF at = l->visualRect(item).center();
    const QPointF global = l->viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(l->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(l->viewport(), &release);
    return true;
}

void when_ready(int tries)
{
    TForm2 *f = main_window();
    if (f && f->isVisible() && !f->worker_running() && !f->workers().isEmpty()) {
        answer(QStringLiteral("ok ready"));
        return;
    }
    if (tries > 3000) {
        QWidget *modal = QApplication::activeModalWidget();
        answer(
            QStringLiteral("error not ready: window %1, worker %2, dialog %3")
                .arg(f ? f->isVisible() : -1)
                .arg(f ? f->worker_running() : -1)
                .arg(modal ? modal->windowTitle() + QLatin1Char(' ') + modal->property("text").toString() : QString()));
        return;
    }
    QTimer::singleShot(10, [tries] { when_ready(tries + 1); });
}

void run_command(const QString &line)
{
    const QString command = line.section(QLatin1Char(' '), 0, 0);
    const QString name = line.section(QLatin1Char(' '), 1, 1);
    const QString rest = line.section(QLatin1Char(' '), 2);
    TForm2 *f = main_window();
    if (command == QLatin1String("ready")) {
        when_ready(0);
        return;
    }
    if (!f) {
        answer(QStringLiteral("error no window"));
        return;
    }
    QWidget *w = name.isEmpty() ? nullptr : f->findChild<QWidget *>(name);
    if (command == QLatin1String("state")) {
        answer(QStringLiteral("ok %1 %2 %3|%4")
                   .arg(f->note.noteId)
                   .arg(f->save_enabled() ? 1 : 0)
                   .arg(f->title_field()->text(), f->tag_field()->text()));
        return;
    }
    if (command == QLatin1String("shown")) {
        answer(QStringLiteral("ok ") + shown_boxes().join(QLatin1Char('|')));
        return;
    }
    if (command == QLatin1String("window")) {
        answer(QStringLiteral("ok %1 %2").arg(f->winId()).arg(f->isActiveWindow() ? 1 : 0));
        return;
    }
    if (command == QLatin1String("screenshot")) {
        const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(name, "PNG");
        answer(saved ? QStringLiteral("ok screenshot") : QStringLiteral("error screenshot not saved"));
        return;
    }
    if (command == QLatin1String("close")) {
        answer(QStringLiteral("ok close"));
        QTimer::singleShot(0, f, [f] { f->close(); });
        return;
    }
    if (command == QLatin1String("trigger")) {
        auto *a = f->findChild<QAction *>(name);
        if (!a) {
            answer(QStringLiteral("error no action ") + name);
            return;
        }
        a->trigger();
        answer(QStringLiteral("ok trigger"));
        return;
    }
    if (!w) {
        answer(QStringLiteral("error no widget ") + name);
        return;
    }
    if (command == QLatin1String("text")) {
        if (auto *e = qobject_cast<QLineEdit *>(w))
            answer(QStringLiteral("ok ") + e->text());
        else if (auto *t = qobject_cast<QTextEdit *>(w))
            answer(QStringLiteral("ok ") + t->toPlainText().replace(QLatin1Char('\n'), QLatin1Char(' ')));
        else if (auto *l = qobject_cast<QAbstractItemView *>(w))
            answer(QStringLiteral("ok ") + list_entries(l).join(QLatin1Char('|')));
        else
            answer(QStringLiteral("error no text in ") + name);
        return;
    }
    if (command == QLatin1String("preedit")) {
        answer(QStringLiteral("ok ") + preedits().value(name));
        return;
    }
    if (command == QLatin1String("focus")) {
        w->setFocus(Qt::MouseFocusReason);
    } else if (command == QLatin1String("type")) {
        QInputMethodEvent e;
        e.setCommitString(rest);
        QApplication::sendEvent(w, &e);
    } else if (command == QLatin1String("key")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(w, &press);
    } else if (command == QLatin1String("click")) {
        if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            b->click();
        } else if (auto *l = qobject_cast<QAbstractItemView *>(w)) {
            if (!click_entry(l, rest.toInt())) {
                answer(QStringLiteral("error no entry ") + rest);
                return;
            }
        }
    } else if (command == QLatin1String("select")) {
        if (auto *l = qobject_cast<QAbstractItemView *>(w)) {
            l->setCurrentIndex(l->model()->index(rest.toInt(), 0));
        } else if (auto *e = qobject_cast<QLineEdit *>(w)) {
            const int from = rest.section(QLatin1Char(' '), 0, 0).toInt();
            const int to = rest.section(QLatin1Char(' '), 1, 1).toInt();
            e->setSelection(from, (to < 0 ? int(e->text().size()) : to) - from);
        } else if (auto *t = qobject_cast<QTextEdit *>(w)) {
            const int from = rest.section(QLatin1Char(' '), 0, 0).toInt();
            const int to = rest.section(QLatin1Char(' '), 1, 1).toInt();
            QTextCursor c(t->document());
            c.setPosition(from);
            if (to < 0)
                c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            else
                c.setPosition(to, QTextCursor::KeepAnchor);
            t->setTextCursor(c);
        }
    } else {
        answer(QStringLiteral("error unknown command"));
        return;
    }
    answer(QStringLiteral("ok ") + command);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    PreeditWatch preedit_watch;
    app.installEventFilter(&preedit_watch);
    QStringList answers = qEnvironmentVariable("YUNSHAN_DRIVER_ANSWERS").split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, &app, [&answers] { answer_box(answers); });
    boxes.start(20);
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const QString line = QString::fromUtf8(pending.data(), static_cast<qsizetype>(end));
            pending.erase(0, end + 1);
            run_command(line);
        }
    });
    return yunshan::run_program(app);
}
