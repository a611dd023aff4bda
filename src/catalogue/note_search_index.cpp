#include "catalogue/note_search_index.h"

#include "platform/paths.h"
#include "store/note_change_log.h"
#include "store/note_store.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

namespace yunshan {

namespace {

constexpr int kIndexVersion = 2;
constexpr int kChunkRows = 500;              // title rows read per short read transaction of a build
constexpr quint32 kLastCharacter = 0x110000; // every larger decoded value shares this one
constexpr qint64 kNoTitle = std::numeric_limits<qint64>::min();
constexpr qint64 kMaxTitleId = qint64(1) << 26;
// Candidates confirmed before a page that is still not full is left to the plain statement (a
// pattern whose pieces are everywhere but rarely in that order).
constexpr qsizetype kMaxConfirmed = 1000;

QString &folder_override()
{
    static QString folder;
    return folder;
}

// The text each title row is searched in, as the search condition computes it: the caption
// (after ":ppp" for notes encrypted body-only, none for notes encrypted with title) and, for
// plain notes, the tag line and the plain-text copy; then the encryption mode.
const QString kDocumentColumns = QStringLiteral(
    "a.id, case a.isdel when 1 then null when 2 then substr(a.caption,instr(a.caption,':ppp')+4) else a.caption end, "
    "case when a.isdel=0 then b.label end, case when a.isdel=0 then b.content end, a.isdel "
    "from title a left join notes b on a.noteId=b.id");

qint64 unigram(quint32 c)
{
    return qint64(c);
}
qint64 bigram(quint32 a, quint32 b)
{
    return ((qint64(a) + 1) << 21) | qint64(b);
}

// The keys of one document: every character and every pair of adjacent characters within a
// field, sorted and unique.
std::vector<qint64> document_keys(const QByteArray fields[3])
{
    std::vector<qint64> keys;
    for (int f = 0; f < 3; ++f) {
        const std::vector<quint32> chars = like_characters(fields[f]);
        for (size_t i = 0; i < chars.size(); ++i) {
            keys.push_back(unigram(chars[i]));
            if (i + 1 < chars.size())
                keys.push_back(bigram(chars[i], chars[i + 1]));
        }
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

// The keys every matching document must hold: a single character for a one-character piece,
// the pairs of a longer one.
std::vector<qint64> search_keys(const std::vector<std::vector<quint32>> &pieces)
{
    std::vector<qint64> keys;
    for (const auto &p : pieces) {
        if (p.size() == 1)
            keys.push_back(unigram(p[0]));
        for (size_t i = 0; i + 1 < p.size(); ++i)
            keys.push_back(bigram(p[i], p[i + 1]));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

void put_varint(std::string &out, quint64 v)
{
    while (v >= 0x80) {
        out.push_back(char((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(char(v));
}

// The ascending title ids of a posting blob (varint gaps).
void decode_docs(const QByteArray &blob, std::vector<qint64> &out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(blob.constData());
    const auto *end = p + blob.size();
    qint64 last = 0;
    while (p < end) {
        quint64 v = 0;
        int shift = 0;
        while (p < end) {
            const unsigned char b = *p++;
            v |= quint64(b & 0x7F) << shift;
            shift += 7;
            if (!(b & 0x80))
                break;
        }
        last += qint64(v);
        out.push_back(last);
    }
}

std::vector<qint64> intersect(const std::vector<qint64> &a, const std::vector<qint64> &b)
{
    std::vector<qint64> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

const char *const kIndexSchema[] = {
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value)",
    "CREATE TABLE post(key INTEGER PRIMARY KEY, docs BLOB)",
    "CREATE TABLE delta(key INTEGER, tid INTEGER, PRIMARY KEY(key, tid)) WITHOUT ROWID",
    "CREATE INDEX delta_tid ON delta(tid)",
    "CREATE TABLE stale(tid INTEGER PRIMARY KEY)",
    // Title rows that were encrypted when the file was built: their postings hold no secret text.
    "CREATE TABLE sealed(tid INTEGER PRIMARY KEY)",
};

QString canonical_database_path(const QString &database_path)
{
    const QString canonical = QFileInfo(database_path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(database_path).absoluteFilePath() : canonical;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Files and characters

QString search_index_folder()
{
    QString folder = folder_override();
    if (folder.isEmpty()) {
        QString base = qEnvironmentVariable("XDG_CACHE_HOME");
        if (base.isEmpty() || !QDir::isAbsolutePath(base))
            base = QDir::homePath() + QStringLiteral("/.cache");
        folder = base + QStringLiteral("/YunShanNote");
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    // The files tell which characters the notes hold: for this user only.
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

void set_search_index_folder_override(const QString &folder)
{
    folder_override() = folder;
}

QString search_index_file(const QString &database_path)
{
    const QByteArray hash =
        QCryptographicHash::hash(canonical_database_path(database_path).toUtf8(), QCryptographicHash::Sha1).toHex();
    return search_index_folder() + QStringLiteral("search-") + QString::fromLatin1(hash.left(24)) +
           QStringLiteral(".sl3");
}

std::vector<quint32> like_characters(const QByteArray &text)
{
    // The engine's lead-byte table: the payload bits of a lead byte of 0xC0 and above.
    static const unsigned char trans1[64] = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f,
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00,
    };
    std::vector<quint32> out;
    out.reserve(size_t(text.size()));
    const auto *p = reinterpret_cast<const unsigned char *>(text.constData());
    const auto *end = p + text.size();
    while (p < end) {
        quint32 c = *p++;
        if (c >= 0xC0) {
            c = trans1[c - 0xC0];
            while (p < end && (*p & 0xC0) == 0x80)
                c = (c << 6) + (0x3F & *p++);
            if (c < 0x80 || (c & 0xFFFFF800) == 0xD800 || (c & 0xFFFFFFFE) == 0xFFFE)
                c = 0xFFFD;
        }
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        out.push_back(std::min(c, kLastCharacter));
    }
    return out;
}

std::vector<std::vector<quint32>> search_pieces(const QString &text)
{
    std::vector<std::vector<quint32>> pieces(1);
    for (const quint32 c : like_characters(text.toUtf8())) {
        if (c == '%' || c == '_') {
            if (!pieces.back().empty())
                pieces.emplace_back();
        } else {
            pieces.back().push_back(c);
        }
    }
    if (pieces.back().empty())
        pieces.pop_back();
    return pieces;
}

// ---------------------------------------------------------------------------------------------
// Building

std::vector<qint64> text_index_keys(const QString &text)
{
    const QByteArray fields[3] = {text.toUtf8(), QByteArray(), QByteArray()};
    return document_keys(fields);
}

bool build_search_index_file(const QString &database_path, const QString &index_path,
                             const std::function<void(int, int)> &progress, const std::atomic<bool> *cancel)
{
    struct Posting {
        std::string docs;
        qint64 last = 0;
    };
    std::unordered_map<qint64, Posting> postings;
    std::vector<qint64> sealed;
    qint64 last_id = 0; // the highest title id read: rows after it are not in the postings
    int total = 0;
    int done = 0;
    {
        Connection source;
        source.open(database_path, false);
        total = int(source.query_first(QStringLiteral("select count(*) from title")).value_or(0).toLongLong());
        if (progress)
            progress(0, total);
        PreparedQuery rows(source, QStringLiteral("select ") + kDocumentColumns +
                                       QStringLiteral(" where a.id>?1 order by a.id limit ") +
                                       QString::number(kChunkRows));
        qint64 after = std::numeric_limits<qint64>::min();
        for (;;) {
            if (cancel && cancel->load())
                return false;
            rows.bind(1, after);
            int in_chunk = 0;
            while (rows.next()) {
                ++in_chunk;
                const qint64 id = rows.integer(0);
                after = id;
                last_id = std::max(last_id, id);
                if (rows.integer(4) != 0)
                    sealed.push_back(id);
                const QByteArray fields[3] = {rows.text_bytes(1), rows.text_bytes(2), rows.text_bytes(3)};
                for (const qint64 key : document_keys(fields)) {
                    Posting &p = postings[key];
                    put_varint(p.docs, quint64(id - p.last));
                    p.last = id;
                }
            }
            rows.reset(); // ends the read transaction: writers go on between chunks
            done += in_chunk;
            if (progress)
                progress(std::min(done, total), total);
            if (in_chunk < kChunkRows)
                break;
        }
    }
    if (cancel && cancel->load())
        return false;

    QFile::remove(index_path);
    try {
        Connection index;
        index.open(index_path);
        index.execute(QStringLiteral("PRAGMA journal_mode=OFF")); // a half-built file is removed
        index.execute(QStringLiteral("BEGIN"));
        for (const char *sql : kIndexSchema)
            index.execute(QString::fromLatin1(sql));
        std::vector<qint64> keys;
        keys.reserve(postings.size());
        for (const auto &kv : postings)
            keys.push_back(kv.first);
        std::sort(keys.begin(), keys.end());
        PreparedQuery insert(index, QStringLiteral("insert into post(key, docs) values(?1, ?2)"));
        for (const qint64 key : keys) {
            const std::string &docs = postings[key].docs;
            insert.bind(1, key);
            insert.bind(2, QByteArray(docs.data(), qsizetype(docs.size())));
            insert.run();
            if (cancel && cancel->load()) {
                index.close();
                QFile::remove(index_path);
                return false;
            }
        }
        PreparedQuery seal(index, QStringLiteral("insert into sealed(tid) values(?1)"));
        for (const qint64 id : sealed) {
            seal.bind(1, id);
            seal.run();
        }
        index.execute(QStringLiteral("insert into meta values('version',?),('source',?),('docs',?),('last_tid',?)"),
                      {kIndexVersion, canonical_database_path(database_path), done, last_id});
        index.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        QFile::remove(index_path);
        throw;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The index of the open database

class NoteSearchIndex::Worker : public QThread {
  public:
    Worker(NoteSearchIndex *owner, QString database, QString target, quint64 generation)
        : owner_(owner), database_(std::move(database)), target_(std::move(target)), generation_(generation)
    {
    }
    void abort() { cancel_ = true; }
    QString target() const { return target_; }

  protected:
    void run() override
    {
        bool ok = false;
        try {
            ok = build_search_index_file(
                database_, target_,
                [this](int done, int total) {
                    QMetaObject::invokeMethod(
                        owner_, [o = owner_, done, total] { Q_EMIT o->build_progress(done, total); },
                        Qt::QueuedConnection);
                },
                &cancel_);
        } catch (const std::exception &) {
            ok = false; // the next search tries again
        }
        QMetaObject::invokeMethod(
            owner_, [o = owner_, g = generation_, ok] { o->build_done(g, ok); }, Qt::QueuedConnection);
    }

  private:
    NoteSearchIndex *owner_;
    QString database_;
    QString target_;
    quint64 generation_;
    std::atomic<bool> cancel_{false};
};

NoteSearchIndex::NoteSearchIndex(NoteStore &store, QObject *parent) : QObject(parent), store_(store)
{
    // The log of a connection ends with it: what it holds goes into the file first.
    store_.set_before_main_closes([this] { settle(); });
    // A backup or a sync opened the main file again: the index follows the new connection at
    // once (a file that was replaced is built afresh).
    store_.set_after_main_reopens([this] {
        try {
            catch_up();
        } catch (const std::exception &) {
            // the next search runs the plain statement and tries again
        }
    });
}

NoteSearchIndex::~NoteSearchIndex()
{
    store_.set_before_main_closes({});
    store_.set_after_main_reopens({});
    stop();
    detach();
}

void NoteSearchIndex::settle()
{
    stop();
    if (store_.main_connected()) {
        const bool background = std::exchange(background_, false);
        // Caught up, the file stands for the database as it is now, whatever else was written
        // (settings rows the log does not follow): the connection that opens next takes it.
        stamp_due_ = stamp_due_ || attached_;
        try {
            catch_up();
        } catch (const std::exception &) {
            // the stamp then tells the next run to build afresh
        }
        background_ = background;
    }
    detach();
}

void NoteSearchIndex::stop()
{
    if (!worker_)
        return;
    worker_->abort();
    worker_->wait();
    QFile::remove(worker_->target());
    delete worker_;
    worker_ = nullptr;
    ++generation_; // its queued answer is for nobody
}

void NoteSearchIndex::detach()
{
    index_.close();
    attached_ = false;
    token_.clear();
    stale_.clear();
    sealed_.clear();
    last_built_tid_ = 0;
    px_.clear();
    titles_ = 0;
    odd_px_ = false;
}

void NoteSearchIndex::drop_broken()
{
    const QString path = index_.path();
    detach();
    if (!path.isEmpty())
        QFile::remove(path);
}

bool NoteSearchIndex::attach()
{
    detach();
    Connection &main = store_.main();
    const NoteChangeLogInfo info = note_change_log_info(main);
    if (info.token.isEmpty())
        return false;
    const QString path = search_index_file(main.path());
    if (!QFileInfo::exists(path))
        return false;
    try {
        index_.open(path, false);
        QHash<QString, QVariant> meta;
        for (const auto &row : index_.query(QStringLiteral("select key, value from meta")))
            meta.insert(row.value(0).toString(), row.value(1));
        // The file must describe this database as it was when the connection opened it.
        if (meta.value(QStringLiteral("version")).toInt() != kIndexVersion ||
            meta.value(QStringLiteral("source")).toString() != canonical_database_path(main.path()) ||
            meta.value(QStringLiteral("stamp")).toString() != info.opened) {
            index_.close();
            return false;
        }
        for (const auto &row : index_.query(QStringLiteral("select tid from stale")))
            stale_.insert(row.value(0).toLongLong());
        for (const auto &row : index_.query(QStringLiteral("select tid from sealed")))
            sealed_.insert(row.value(0).toLongLong());
        last_built_tid_ = meta.value(QStringLiteral("last_tid")).toLongLong();
        PreparedQuery px(main, QStringLiteral("select id, px, typeof(px)='integer' from title"));
        while (px.next()) {
            set_px(px.integer(0), true, px.integer(2) ? std::optional<qint64>(px.integer(1)) : std::nullopt);
        }
        token_ = info.token;
        data_version_ = data_version(main);
        attached_ = true;
        stamp_due_ = true; // once caught up, the file stands for the database as it is now
        return true;
    } catch (const DbError &) {
        drop_broken();
        return false;
    }
}

void NoteSearchIndex::write_stamp()
{
    index_.execute(QStringLiteral("insert or replace into meta values('stamp',?)"),
                   {file_stamp(store_.main().path()).text()});
}

bool NoteSearchIndex::apply(const NoteChanges &changes)
{
    bool secret_in_postings = false;
    Connection &main = store_.main();
    QSet<qint64> titles(changes.titles.begin(), changes.titles.end());
    if (!changes.notes.isEmpty()) {
        PreparedQuery of_note(main, QStringLiteral("select id from title where noteId=?1"));
        for (const qint64 n : changes.notes) {
            of_note.bind(1, n);
            while (of_note.next())
                titles.insert(of_note.integer(0));
            of_note.reset();
        }
    }
    if (!titles.isEmpty()) {
        PreparedQuery read(main, QStringLiteral("select ") + kDocumentColumns + QStringLiteral(" where a.id=?1"));
        PreparedQuery drop(index_, QStringLiteral("delete from delta where tid=?1"));
        PreparedQuery add(index_, QStringLiteral("insert or ignore into delta(key, tid) values(?1, ?2)"));
        PreparedQuery mark(index_, QStringLiteral("insert or ignore into stale(tid) values(?1)"));
        index_.execute(QStringLiteral("BEGIN"));
        try {
            for (const qint64 t : std::as_const(titles)) {
                drop.bind(1, t);
                drop.run();
                mark.bind(1, t);
                mark.run();
                read.bind(1, t);
                if (read.next()) {
                    // A note encrypted since the build: its earlier plain text is in the postings.
                    if (read.integer(4) != 0 && t <= last_built_tid_ && !sealed_.contains(t))
                        secret_in_postings = true;
                    const QByteArray fields[3] = {read.text_bytes(1), read.text_bytes(2), read.text_bytes(3)};
                    for (const qint64 key : document_keys(fields)) {
                        add.bind(1, key);
                        add.bind(2, t);
                        add.run();
                    }
                }
                read.reset();
                stale_.insert(t);
            }
            write_stamp();
            index_.execute(QStringLiteral("COMMIT"));
        } catch (...) {
            try {
                index_.execute(QStringLiteral("ROLLBACK"));
            } catch (const DbError &) {
            }
            throw;
        }
    } else {
        write_stamp();
    }
    QSet<qint64> px_ids(changes.px.begin(), changes.px.end());
    px_ids.unite(titles);
    PreparedQuery px(main, QStringLiteral("select px, typeof(px)='integer' from title where id=?1"));
    for (const qint64 t : std::as_const(px_ids)) {
        px.bind(1, t);
        if (!px.next())
            set_px(t, false, std::nullopt);
        else
            set_px(t, true, px.integer(1) ? std::optional<qint64>(px.integer(0)) : std::nullopt);
        px.reset();
    }
    return secret_in_postings;
}

void NoteSearchIndex::set_px(qint64 id, bool exists, std::optional<qint64> px)
{
    const bool in_range = id >= 0 && id < kMaxTitleId;
    if (exists && (!px || !in_range || *px == kNoTitle)) {
        odd_px_ = true; // the plain statement answers until the next build
        return;
    }
    if (!in_range)
        return;
    if (size_t(id) >= px_.size()) {
        if (!exists)
            return;
        px_.resize(size_t(id) + 1 + px_.size() / 4, kNoTitle);
    }
    qint64 &slot = px_[size_t(id)];
    if (slot == kNoTitle && exists)
        ++titles_;
    else if (slot != kNoTitle && !exists)
        --titles_;
    slot = exists ? *px : kNoTitle;
}

bool NoteSearchIndex::catch_up()
{
    if (!store_.main_connected() || store_.read_only()) {
        // A second instance reads only: the instance that owns the data keeps the file.
        stop();
        detach();
        return false;
    }
    Connection &main = store_.main();
    const NoteChangeLogInfo info = note_change_log_info(main);
    if (info.token.isEmpty()) {
        stop();
        detach();
        return false; // a file without the note tables: nothing to index
    }
    if (worker_) {
        if (build_token_ == info.token)
            return false; // the plain statement answers until the build is in
        stop();           // built for another connection
    }
    if (!attached_ || token_ != info.token) {
        if (!attach()) {
            start_build();
            return false;
        }
    }
    try {
        if (data_version(main) != data_version_) {
            // Another program wrote the file: what changed is unknown, the file is of no use.
            drop_broken();
            start_build();
            return false;
        }
        const NoteChanges changes = take_note_changes(main);
        bool secret_in_postings = false;
        if (!changes.empty())
            secret_in_postings = apply(changes); // stamps the file
        else if (stamp_due_)
            write_stamp();
        stamp_due_ = false;
        if (secret_in_postings) {
            // The file still holds the text a note had before it was encrypted: it goes now,
            // and a build without it takes its place.
            drop_broken();
            start_build();
            return false;
        }
    } catch (const DbError &) {
        if (!main.is_open())
            throw;
        drop_broken();
        start_build();
        return false;
    }
    // Many notes changed since the build: a fresh build makes the delta small again.
    if (stale_.size() > std::max<qint64>(1000, titles_ / 50)) {
        detach();
        start_build();
        return false;
    }
    return true;
}

void NoteSearchIndex::start_build()
{
    if (worker_ || !background_)
        return;
    Connection &main = store_.main();
    const NoteChangeLogInfo info = note_change_log_info(main);
    if (info.token.isEmpty())
        return;
    detach();
    // Every write from here on is in the log and is applied once the build is in; writes before
    // are in the file the build reads.
    clear_note_changes(main);
    build_token_ = info.token;
    build_data_version_ = data_version(main);
    const QString target = search_index_file(main.path()) + QStringLiteral(".building-") +
                           QString::number(QCoreApplication::applicationPid());
    worker_ = new Worker(this, main.path(), target, ++generation_);
    worker_->start();
}

void NoteSearchIndex::build_done(quint64 generation, bool ok)
{
    if (!worker_ || generation != generation_)
        return;
    worker_->wait();
    const QString target = worker_->target();
    delete worker_;
    worker_ = nullptr;
    const NoteChangeLogInfo info = store_.main_connected() ? note_change_log_info(store_.main()) : NoteChangeLogInfo();
    if (!ok || info.token.isEmpty() || info.token != build_token_ ||
        data_version(store_.main()) != build_data_version_) {
        QFile::remove(target);
        Q_EMIT build_finished();
        return; // the next search starts again
    }
    const QString path = search_index_file(store_.main().path());
    QFile::remove(path);
    if (QFile::rename(target, path)) {
        try {
            Connection file;
            file.open(path, false);
            // The file now stands for the database as this connection opened it plus the log.
            file.execute(QStringLiteral("insert or replace into meta values('stamp',?)"), {info.opened});
        } catch (const DbError &) {
            QFile::remove(path);
        }
    }
    Q_EMIT build_finished();
}

bool NoteSearchIndex::update_now()
{
    if (!store_.main_connected() || store_.read_only())
        return false;
    stop();
    const bool background = std::exchange(background_, false);
    struct Restore {
        bool &flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{background_, background};
    if (catch_up())
        return true;
    Connection &main = store_.main();
    if (note_change_log_info(main).token.isEmpty())
        return false;
    const QString path = search_index_file(main.path());
    const NoteChangeLogInfo info = note_change_log_info(main);
    clear_note_changes(main);
    detach();
    if (!build_search_index_file(main.path(), path, {}, nullptr))
        return false;
    {
        Connection file;
        file.open(path, false);
        file.execute(QStringLiteral("insert or replace into meta values('stamp',?)"), {info.opened});
    }
    return catch_up();
}

bool NoteSearchIndex::ready()
{
    return catch_up();
}

void NoteSearchIndex::finish()
{
    background_ = false;
    settle();
}

std::vector<qint64> NoteSearchIndex::docs_of(qint64 key, const QHash<qint64, qint64> &sizes)
{
    std::vector<qint64> docs;
    if (sizes.value(key) > 0) {
        const auto blob = index_.query_first(QStringLiteral("select docs from post where key=?1"), {key});
        if (blob) {
            decode_docs(blob->toByteArray(), docs);
            if (!stale_.isEmpty())
                docs.erase(std::remove_if(docs.begin(), docs.end(), [this](qint64 t) { return stale_.contains(t); }),
                           docs.end());
        }
    }
    if (!stale_.isEmpty()) {
        std::vector<qint64> fresh;
        for (const auto &row : index_.query(QStringLiteral("select tid from delta where key=?1 order by tid"), {key}))
            fresh.push_back(row.value(0).toLongLong());
        if (!fresh.empty()) {
            std::vector<qint64> merged;
            std::merge(docs.begin(), docs.end(), fresh.begin(), fresh.end(), std::back_inserter(merged));
            docs.swap(merged);
        }
    }
    return docs;
}

std::optional<QList<NoteListRow>> NoteSearchIndex::search(const QString &text, int offset, int limit)
{
    if (text.isEmpty() || text.contains(QChar(0)) || text.size() > 1000 || offset < 0 || limit <= 0)
        return std::nullopt;
    const auto pieces = search_pieces(text);
    if (pieces.empty())
        return std::nullopt; // wildcards only: nothing to narrow by
    if (!catch_up() || odd_px_)
        return std::nullopt;

    std::vector<qint64> candidates;
    try {
        // The rarest keys first; a handful of candidates is narrow enough for the confirmation.
        const std::vector<qint64> keys = search_keys(pieces);
        QHash<qint64, qint64> sizes;
        for (const qint64 key : keys) {
            const auto size = index_.query_first(QStringLiteral("select length(docs) from post where key=?1"), {key});
            sizes.insert(key, size ? size->toLongLong() : 0);
        }
        std::vector<qint64> order = keys;
        std::stable_sort(order.begin(), order.end(), [&](qint64 a, qint64 b) { return sizes[a] < sizes[b]; });
        bool first = true;
        for (const qint64 key : order) {
            std::vector<qint64> docs = docs_of(key, sizes);
            candidates = first ? std::move(docs) : intersect(candidates, docs);
            first = false;
            if (candidates.size() <= 16)
                break;
        }
    } catch (const DbError &) {
        drop_broken();
        start_build();
        return std::nullopt;
    }

    // In list order: px, then the title row's id. Only the front is sorted until more is needed.
    std::vector<std::pair<qint64, qint64>> ordered;
    ordered.reserve(candidates.size());
    for (const qint64 t : candidates) {
        if (t >= 0 && size_t(t) < px_.size() && px_[size_t(t)] != kNoTitle)
            ordered.emplace_back(px_[size_t(t)], t);
    }
    size_t sorted = std::min(ordered.size(), std::max<size_t>(1024, 2 * size_t(offset + limit)));
    std::partial_sort(ordered.begin(), ordered.begin() + std::ptrdiff_t(sorted), ordered.end());

    QList<NoteListRow> rows;
    PreparedQuery confirm(store_.main(), QStringLiteral("select a.noteId,a.isDel,a.fast,a.caption,a.px from title a "
                                                        "left join notes b ON a.noteId=b.id where a.id=?1 and (") +
                                             note_search_condition(text) + QLatin1Char(')'));
    int skipped = 0;
    for (size_t i = 0; i < ordered.size() && rows.size() < limit; ++i) {
        if (i == sorted) {
            std::sort(ordered.begin() + std::ptrdiff_t(sorted), ordered.end());
            sorted = ordered.size();
        }
        if (qsizetype(i) - skipped - rows.size() >= kMaxConfirmed && ordered.size() - i > size_t(kMaxConfirmed))
            return std::nullopt; // few of many candidates match: the plain statement reads faster
        const auto [px, t] = ordered[i];
        confirm.bind(1, t);
        if (confirm.next()) {
            if (confirm.integer(4) != px) {
                // The index lost track of an order change: never show a wrong order.
                drop_broken();
                start_build();
                return std::nullopt;
            }
            if (skipped < offset) {
                ++skipped;
            } else {
                const SqlValue caption = confirm.value(3);
                rows.append(NoteListRow{int(confirm.integer(0)), int(confirm.integer(1)), int(confirm.integer(2)),
                                        caption.typeId() == QMetaType::QByteArray
                                            ? QString::fromUtf8(caption.toByteArray())
                                            : caption.toString()});
            }
        }
        confirm.reset();
    }
    return rows;
}

} // namespace yunshan
