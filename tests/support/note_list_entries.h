#pragma once
// The main window's note list as tests read and drive it: through the pane's view and the model.
#include "app/ui/note_list_pane.h"
#include "app/ui/tform2.h"
#include "session/note_list_model.h"

#include <QListView>
#include <QStringList>

namespace yunshan::test {

inline QListView *note_list(const TForm2 &form)
{
    return form.note_list_pane()->note_list_view();
}

// One field of every entry, top to bottom.
template <class T> QList<T> entry_fields(const TForm2 &form, T NoteListModel::Entry::*field)
{
    QList<T> out;
    const NoteListModel &m = *form.note_list_model();
    for (int i = 0; i < m.count(); ++i)
        out << m.entry(i).*field;
    return out;
}

inline QStringList note_texts(const TForm2 &form)
{
    return entry_fields(form, &NoteListModel::Entry::text);
}

inline QString note_text(const TForm2 &form, int row)
{
    return form.note_list_model()->entry(row).text;
}

inline QList<int> note_modes(const TForm2 &form)
{
    return entry_fields(form, &NoteListModel::Entry::mode);
}

inline QList<bool> note_favourites(const TForm2 &form)
{
    return entry_fields(form, &NoteListModel::Entry::favourite);
}

// Makes entry `row` current and selected as the user does (the selection opens its note); -1
// leaves none selected.
inline void choose_note(const TForm2 &form, int row)
{
    QListView *view = note_list(form);
    view->setCurrentIndex(row < 0 ? QModelIndex() : view->model()->index(row, 0));
}

// Puts plain entries of the given texts and note ids in the list, as a fill would.
inline void put_note_entries(const TForm2 &form, const QStringList &texts, const QList<int> &ids)
{
    NoteListModel &m = *form.note_list_model();
    m.clear();
    for (qsizetype i = 0; i < texts.size(); ++i)
        m.append(NoteListModel::Entry{ids.value(i), 0, false, texts.at(i)});
}

} // namespace yunshan::test
