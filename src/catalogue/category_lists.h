#pragma once
// Queries that fill the major and minor category lists.
#include <QStringList>

namespace yunshan {

class NoteStore;

// Captions of all major categories in ascending px order; empty when the main database is closed.
QStringList class_captions(NoteStore &store);
// Captions of the minor categories of the major category `class_caption`, in px order.
QStringList section_captions(NoteStore &store, const QString &class_caption);

} // namespace yunshan
