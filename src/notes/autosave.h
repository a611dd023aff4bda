#pragma once
// The autosave copy of an unsaved body: its cycle, its file (one per note in the private
// autosave folder), the file's bytes with the title and tag line, and the stored fields shown
// beside a recovered body. An encrypted note's file is ciphertext (crypto/note_crypt.h).
#include <QByteArray>
#include <QString>

#include <optional>

class QTextDocument;

namespace yunshan {

class NoteStore;

// Seconds of unsaved body changes before the autosave: 300, or YUNSHAN_AUTOSAVE_SECONDS when
// that is a positive number (read once at start-up).
int autosave_cycle_seconds();

struct AutosaveCycle {
    int time_count = 0;
    int cycle_seconds = 300;
};

// One timer tick: counts it and tells whether the autosave is due now (a note is open and the
// cycle is complete). A due autosave starts the next cycle at 0.
bool autosave_tick(AutosaveCycle &cycle, int note_id);

// The autosave file of a note in `folder` (ending in "/").
QString autosave_path(const QString &folder, int note_id);

// The autosave file's bytes: the body as RTF, with the title and the tag line in its
// information group (\title and \keywords), which readers of the body skip.
QByteArray autosave_bytes(const QTextDocument &body, const QString &title, const QString &label);
// The title and tag line of autosave bytes; nullopt when the file holds none.
struct AutosaveFields {
    QString title;
    QString label;
};
std::optional<AutosaveFields> autosave_fields(const QByteArray &rtf);

// Writes the autosave bytes to the note's autosave file (private, replaced whole), then records
// the note in tmp_file1. False when the file could not be written (the key is not touched).
bool write_autosave(NoteStore &store, const QString &folder, int note_id, const QTextDocument &body,
                    const QString &title, const QString &label);
// The same with the file's bytes made already (an encrypted note's file is ciphertext).
bool write_autosave_file(NoteStore &store, const QString &folder, int note_id, const QByteArray &bytes);

// The end of a note's autosave cycle, once it is saved: its autosave file is removed, and
// tmp_file1 is reset when it names this note or a note whose file is gone. It keeps naming
// another note whose file is still waiting for recovery. Throws on a database error.
void end_autosave_cycle(NoteStore &store, const QString &folder, int note_id);

// The stored fields shown beside a recovered body.
struct RecoveredFields {
    QString title;
    QString label;
    int is_crypt = 0;
};

// The note's title and tag line from the main database, for a body recovered from its autosave
// file; nullopt when the note no longer exists.
std::optional<RecoveredFields> recovered_note_fields(NoteStore &store, int note_id);

} // namespace yunshan
