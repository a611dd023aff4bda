#include "app/ui/focused_text.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLineEdit>
#include <QTextCursor>
#include <QTextEdit>

namespace yunshan {

namespace {

template <typename OnText, typename OnLine> void on_focused_text(OnText on_text, OnLine on_line)
{
    QWidget *w = QApplication::focusWidget();
    while (w && !qobject_cast<QTextEdit *>(w) && !qobject_cast<QLineEdit *>(w) && w->parentWidget() &&
           qobject_cast<QAbstractScrollArea *>(w->parentWidget()))
        w = w->parentWidget(); // the editor's viewport
    if (auto *t = qobject_cast<QTextEdit *>(w))
        on_text(t);
    else if (auto *l = qobject_cast<QLineEdit *>(w))
        on_line(l);
}

} // namespace

void undo_in_focused_text()
{
    // Undo is an edit too: nothing of a read-only field goes back.
    on_focused_text(
        [](QTextEdit *t) {
            if (!t->isReadOnly())
                t->undo();
        },
        [](QLineEdit *l) {
            if (!l->isReadOnly())
                l->undo();
        });
}

void cut_focused_text()
{
    on_focused_text([](QTextEdit *t) { t->cut(); }, [](QLineEdit *l) { l->cut(); });
}

void copy_focused_text()
{
    on_focused_text([](QTextEdit *t) { t->copy(); }, [](QLineEdit *l) { l->copy(); });
}

void paste_into_focused_text()
{
    on_focused_text([](QTextEdit *t) { t->paste(); }, [](QLineEdit *l) { l->paste(); });
}

void delete_focused_selection()
{
    on_focused_text(
        [](QTextEdit *t) {
            if (!t->isReadOnly())
                t->textCursor().removeSelectedText();
        },
        [](QLineEdit *l) {
            if (l->hasSelectedText() && !l->isReadOnly())
                l->del();
        });
}

void select_all_focused_text()
{
    on_focused_text([](QTextEdit *t) { t->selectAll(); }, [](QLineEdit *l) { l->selectAll(); });
}

} // namespace yunshan
