#include "session/note_list_model.h"

namespace yunshan {

NoteListModel::NoteListModel(QObject *parent) : QAbstractListModel(parent) {}

int NoteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant NoteListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= count())
        return {};
    const Entry &e = entries_.at(index.row());
    const QString shown_match = !match_.isEmpty() && e.text.contains(match_) ? match_ : QString();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return e.text;
    case Qt::AccessibleTextRole:
        return e.text;
    case Qt::AccessibleDescriptionRole:
        return description(index.row() + 1, e, shown_match);
    case NoteIdRole:
        return e.note_id;
    case ModeRole:
        return e.mode;
    case FavouriteRole:
        return e.favourite;
    case NumberRole:
        return index.row() + 1;
    case MatchRole:
        return shown_match;
    default:
        return {};
    }
}

QHash<int, QByteArray> NoteListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(NoteIdRole, "noteId");
    names.insert(ModeRole, "mode");
    names.insert(FavouriteRole, "favourite");
    names.insert(NumberRole, "number");
    names.insert(MatchRole, "match");
    return names;
}

QString NoteListModel::description(int number, const Entry &entry, const QString &match)
{
    QStringList parts{QStringLiteral("第%1条").arg(number)};
    if (entry.favourite)
        parts << QStringLiteral("已收藏");
    if (entry.mode > 0)
        parts << QStringLiteral("已加密");
    if (!match.isEmpty())
        parts << QStringLiteral("含“%1”").arg(match);
    return parts.join(QStringLiteral("，"));
}

void NoteListModel::set_rows(const QList<NoteListRow> &rows, const QString &match)
{
    beginResetModel();
    entries_.clear();
    entries_.reserve(rows.size());
    for (const NoteListRow &r : rows)
        entries_.append(Entry{r.noteId, r.isDel, r.fast != 0, displayed_note_text(r.caption, r.isDel)});
    match_ = match;
    endResetModel();
}

void NoteListModel::clear()
{
    beginResetModel();
    entries_.clear();
    endResetModel();
}

void NoteListModel::append(const Entry &entry)
{
    beginInsertRows({}, count(), count());
    entries_.append(entry);
    endInsertRows();
}

void NoteListModel::remove(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    entries_.removeAt(row);
    endRemoveRows();
    // The numbers after it moved up.
    if (row < count())
        Q_EMIT dataChanged(index(row), index(count() - 1), {NumberRole, Qt::AccessibleDescriptionRole});
}

int NoteListModel::row_of(int note_id) const
{
    for (int i = 0; i < count(); ++i)
        if (entries_.at(i).note_id == note_id)
            return i;
    return -1;
}

QList<int> NoteListModel::note_ids() const
{
    QList<int> ids;
    ids.reserve(count());
    for (const Entry &e : entries_)
        ids << e.note_id;
    return ids;
}

void NoteListModel::changed(int row, const QList<int> &roles)
{
    Q_EMIT dataChanged(index(row), index(row), roles);
}

void NoteListModel::set_text(int row, const QString &text)
{
    if (row < 0 || row >= count() || entries_[row].text == text)
        return;
    entries_[row].text = text;
    changed(row, {Qt::DisplayRole, Qt::AccessibleTextRole, MatchRole, Qt::AccessibleDescriptionRole});
}

bool NoteListModel::set_mode(int note_id, int mode)
{
    bool any = false;
    for (int i = 0; i < count(); ++i) {
        if (entries_.at(i).note_id != note_id || entries_.at(i).mode == mode)
            continue;
        entries_[i].mode = mode;
        changed(i, {ModeRole, Qt::AccessibleDescriptionRole});
        any = true;
    }
    return any;
}

void NoteListModel::set_favourite(int row, bool on)
{
    if (row < 0 || row >= count() || entries_.at(row).favourite == on)
        return;
    entries_[row].favourite = on;
    changed(row, {FavouriteRole, Qt::AccessibleDescriptionRole});
}

void NoteListModel::set_match(const QString &match)
{
    if (match == match_)
        return;
    match_ = match;
    if (count() > 0)
        Q_EMIT dataChanged(index(0), index(count() - 1), {MatchRole, Qt::AccessibleDescriptionRole});
}

} // namespace yunshan
