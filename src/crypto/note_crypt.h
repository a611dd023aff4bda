#pragma once
// Stored forms of an encrypted note's fields (modes 1 and 2).
#include <QByteArray>
#include <QString>

namespace yunshan {

// A note's fields as they are written: the plain forms going in, the stored forms coming out.
struct NoteFields {
    QString caption;    // title.caption: the title text
    QString label;      // notes.label: the tag line
    QByteArray content; // notes.content: FF FE + UTF-16LE text; encoded: the hexadecimal digits
    QByteArray rtf;     // rtffile.rtf: the RTF bytes (empty: the note keeps no rtffile row)
};

// The stored forms of `plain` for encryption mode `mode` (1 with title, 2 content only) under
// `password`. An empty `rtf` stays empty.
NoteFields encode_note_fields(const NoteFields &plain, int mode, const QString &password);

} // namespace yunshan
