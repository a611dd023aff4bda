#pragma once
// The note list as a model: one entry per note of the page shown, with its id, encryption mode,
// favourite mark, number on the page and the search text it matched as roles. Views draw and
// read it out from these roles; commands change it through the methods below.
#include "catalogue/note_list.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>

namespace yunshan {

class NoteListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        NoteIdRole = Qt::UserRole + 1, // int: the note's id
        ModeRole,                      // int: 0 plain, 1 encrypted with title, 2 body only
        FavouriteRole,                 // bool: marked as favourite
        NumberRole,                    // int: the entry's number on the page, from 1
        MatchRole,                     // QString: the search text marked in the entry, else empty
    };

    // One entry.
    struct Entry {
        int note_id = 0;
        int mode = 0;
        bool favourite = false;
        QString text; // as shown: the title, "******" or the readable part of a body-only title
    };

    explicit NoteListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The entries of a list statement; `match` is marked in the entries that show it (empty: none).
    void set_rows(const QList<NoteListRow> &rows, const QString &match = {});
    void clear();
    // A new entry at the end (a note just created).
    void append(const Entry &entry);
    void remove(int row);

    int count() const { return int(entries_.size()); }
    // The entry at `row`; a default entry (note id 0) outside the list.
    Entry entry(int row) const { return entries_.value(row); }
    int note_id(int row) const { return entry(row).note_id; }
    // The first entry of note `note_id`, -1 when it is not listed.
    int row_of(int note_id) const;
    QList<int> note_ids() const;

    // The shown text of entry `row` (a renamed note, the real title of an opened note).
    void set_text(int row, const QString &text);
    // The mode of every entry of note `note_id`; true when one changed.
    bool set_mode(int note_id, int mode);
    void set_favourite(int row, bool on);

    // The search text marked in the entries (empty: none).
    QString match() const { return match_; }
    void set_match(const QString &match);

    // What a screen reader says of an entry besides its text: its number, "已收藏", "已加密" and
    // the matched text.
    static QString description(int number, const Entry &entry, const QString &match);

  private:
    void changed(int row, const QList<int> &roles);

    QList<Entry> entries_;
    QString match_;
};

} // namespace yunshan
