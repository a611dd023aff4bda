#pragma once
// An index of the text the note search looks at, kept in a file of the user's cache folder
// (never inside the database): for every title row, the positions of each character and the pairs
// of adjacent characters of its searched caption, tag line and plain-text copy, ASCII letters
// folded to lower case, and where each field ends; LIKE's "_" and "%" are decided from the
// positions. Notes are numbered in list order (`px`, then the title row's id) when the file is
// built and their postings kept in blocks of that order, so a search walks the matching notes in
// list order, reads only the blocks its page reaches and then only the page's rows: exactly the
// statement's rows, page by page. Until the index is ready the caller runs the plain statement.
//
// The index follows the writes of this program through the main connection's change log, and
// rebuilds (on a worker thread with its own read connection) when the database changed behind
// its back, when it is new, lost or damaged.
#include "store/connection.h"
#include "store/note_change_log.h"
#include "store/note_queries.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace yunshan {

class NoteStore;

// The folder of the index files, ending in "/": $XDG_CACHE_HOME/YunShanNote/ (by default
// ~/.cache/YunShanNote/), created private.
QString search_index_folder();
void set_search_index_folder_override(const QString &folder);
// Notes per block of the postings a build writes (0: the default); tests use small blocks.
void set_search_index_block_notes(qint64 notes);
// The index file of the database file `database_path` (keyed by its canonical path).
QString search_index_file(const QString &database_path);

// The code points the engine's LIKE reads from UTF-8 `text` (invalid sequences decoded the
// engine's way), ASCII letters folded to lower case.
std::vector<quint32> like_characters(const QByteArray &text);
// The literal pieces of a search text between its "%" and "_" wildcards, as like_characters.
std::vector<std::vector<quint32>> search_pieces(const QString &text);
// The keys under which the index files `text`: its characters and pairs of adjacent characters.
std::vector<qint64> text_index_keys(const QString &text);

// Builds a complete index file at `index_path` from the database file `database_path`, reading it
// in short transactions through its own connection. `progress(done, total)` is called now and
// then; `cancel` stops it (returns false, nothing left behind). Throws DbError.
bool build_search_index_file(const QString &database_path, const QString &index_path,
                             const std::function<void(int, int)> &progress, const std::atomic<bool> *cancel);

class NoteSearchIndex : public QObject {
    Q_OBJECT
  public:
    // `store` must outlive the index.
    explicit NoteSearchIndex(NoteStore &store, QObject *parent = nullptr);
    ~NoteSearchIndex() override; // stops a running build and waits for it

    // The kind-1 search rows for `text` at `offset`, at most `limit` of them, through the index;
    // nullopt when the index cannot answer (not ready yet, a text it cannot narrow, no database):
    // the caller runs the plain statement. May start a background build. Throws DbError for an
    // engine error of the main database.
    std::optional<QList<NoteListRow>> search(const QString &text, int offset, int limit = kNotePageSize);

    // Brings the index up to date on this thread, building it when needed (tests, benchmarks).
    // False when there is nothing to index.
    bool update_now();
    // Whether the index answers now (after catching up with the change log).
    bool ready();
    bool building() const { return worker_ != nullptr; }
    // Stops a running build and waits for it.
    void stop();
    // Catches up with the change log, so the file stays valid for the next run, and starts no
    // more builds; at the window's end, before the main database closes. (A reconnect of the
    // store catches up by itself.)
    void finish();

    // Whether a needed build starts by itself on a worker thread (default) or waits for
    // update_now().
    void set_background(bool on) { background_ = on; }

  Q_SIGNALS:
    void build_progress(int done, int total);
    void build_finished();

  private:
    class Worker;

    bool catch_up();
    // Applies the change log to the file and lets go of it (the main connection is closing).
    void settle();
    bool attach();
    void detach();
    void start_build();
    void build_done(quint64 generation, bool ok);
    // True when a note encrypted since the build had its plain text in the postings.
    bool apply(const NoteChanges &changes);
    void write_stamp();
    void drop_broken();
    struct Postings;
    // The notes of `key` in block `block` (numbered in the build's list order), with the
    // positions of a character's when `with_positions`.
    // `read`: "select docs, pos from post where id=?1" on the index file.
    Postings block_postings(PreparedQuery &read, qint64 key, qint64 block, bool with_positions);

    NoteStore &store_;
    Connection index_;
    bool attached_ = false;
    bool stamp_due_ = false; // attached: the file's stamp is brought up to date at the next catch-up
    QString token_;          // the change log of the main connection the index follows
    qint64 data_version_ = -1;
    QSet<qint64> stale_;        // title ids whose main postings are out of date (the delta holds them)
    QSet<qint64> sealed_;       // title ids that were encrypted at the build
    qint64 last_built_tid_ = 0; // the highest title id the build read
    // px of every title row by its id (kNoTitle where there is none).
    std::vector<qint64> px_;
    qint64 titles_ = 0;
    bool odd_px_ = false; // a px that is not an integer, or an id out of range: the plain statement
    // Records title `id` with its px (nullopt: not an integer), or its absence.
    void set_px(qint64 id, bool exists, std::optional<qint64> px);
    // The title id of each note number of the build and the first number of each block (and the
    // count at the end).
    std::vector<qint64> tid_of_rank_;
    std::vector<qint64> block_first_;
    bool background_ = true;
    Worker *worker_ = nullptr;
    QString build_token_;
    qint64 build_data_version_ = -1;
    quint64 generation_ = 0;
};

} // namespace yunshan
