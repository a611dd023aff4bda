#include "store/note_search_index.h"

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
#include <bit>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>

namespace yunshan {

namespace {

constexpr int kIndexVersion = 5;
constexpr int kChunkRows = 500;              // title rows read per short read transaction of a build
constexpr quint32 kLastCharacter = 0x110000; // every larger decoded value shares this one
constexpr quint32 kFieldEnd = 0x110001;      // the position after each of a document's three fields
constexpr qint64 kNoTitle = std::numeric_limits<qint64>::min();
constexpr qint64 kMaxTitleId = qint64(1) << 26;
// A build writes its postings to the file as blocks of notes in list order: a page near the top
// of the list reads only the first block of each key.
constexpr qint64 kBlockNotes = 16384;
qint64 block_notes = kBlockNotes;
constexpr size_t kBlockBytes = size_t(96) << 20;
// Postings rows are numbered (block << 44) | key: a build only ever appends.
constexpr int kBlockShift = 44;

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
    "case when a.isdel in (0,2) then b.label end, case when a.isdel=0 then b.content end, a.isdel "
    "from title a left join notes b on a.noteId=b.id");

qint64 unigram(quint32 c)
{
    return qint64(c);
}
qint64 bigram(quint32 a, quint32 b)
{
    return ((qint64(a) + 1) << 21) | qint64(b);
}
bool is_unigram(qint64 key)
{
    return key < (qint64(1) << 21);
}

// Appends the characters LIKE reads from UTF-8 `text` to `out` (see like_characters). The engine
// reads a value up to its first NUL.
void append_like_characters(const QByteArray &text, std::vector<quint32> &out)
{
    // The engine's lead-byte table: the payload bits of a lead byte of 0xC0 and above.
    static const unsigned char trans1[64] = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f,
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00,
    };
    const auto *p = reinterpret_cast<const unsigned char *>(text.constData());
    const auto *end = p + text.size();
    while (p < end) {
        quint32 c = *p++;
        if (c < 0x80) {
            if (c == 0)
                break;
            if (c >= 'A' && c <= 'Z')
                c += 'a' - 'A';
            out.push_back(c);
            continue;
        }
        if (c >= 0xC0) {
            c = trans1[c - 0xC0];
            while (p < end && (*p & 0xC0) == 0x80)
                c = (c << 6) + (0x3F & *p++);
            if (c < 0x80 || (c & 0xFFFFF800) == 0xD800 || (c & 0xFFFFFFFE) == 0xFFFE)
                c = 0xFFFD;
        }
        out.push_back(std::min(c, kLastCharacter));
    }
}

// A document as one run of characters: caption, kFieldEnd, tag line, kFieldEnd, plain text,
// kFieldEnd. A character's position is its index here.
void document_characters(const QByteArray fields[3], std::vector<quint32> &out)
{
    out.clear();
    for (int f = 0; f < 3; ++f) {
        append_like_characters(fields[f], out);
        out.push_back(kFieldEnd);
    }
}

// Bytes a build appends to, many millions of times: growing is the only call.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer &) = delete;
    ByteBuffer &operator=(const ByteBuffer &) = delete;
    ByteBuffer(ByteBuffer &&other) noexcept { swap(other); }
    ByteBuffer &operator=(ByteBuffer &&other) noexcept
    {
        swap(other);
        return *this;
    }
    ~ByteBuffer() { std::free(data_); }

    void put_varint(quint64 v)
    {
        if (size_ + 10 > capacity_)
            grow();
        while (v >= 0x80) {
            data_[size_++] = static_cast<unsigned char>((v & 0x7F) | 0x80);
            v >>= 7;
        }
        data_[size_++] = static_cast<unsigned char>(v);
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    QByteArray bytes() const { return QByteArray(reinterpret_cast<const char *>(data_), qsizetype(size_)); }
    void clear() { size_ = 0; }

  private:
    void swap(ByteBuffer &other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    void grow()
    {
        const size_t capacity = std::max<size_t>(32, capacity_ * 2);
        auto *data = static_cast<unsigned char *>(std::realloc(data_, capacity));
        if (!data)
            throw std::bad_alloc();
        data_ = data;
        capacity_ = capacity;
    }
    unsigned char *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

void put_varint(std::string &out, quint64 v)
{
    while (v >= 0x80) {
        out.push_back(char((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(char(v));
}

quint64 get_varint(const unsigned char *&p, const unsigned char *end)
{
    quint64 v = 0;
    int shift = 0;
    while (p < end) {
        const unsigned char b = *p++;
        v |= quint64(b & 0x7F) << shift;
        shift += 7;
        if (!(b & 0x80))
            break;
    }
    return v;
}

// The postings of one document, by key: a character's positions (ascending, as the first and
// then the gaps), a pair's empty text.
std::vector<std::pair<qint64, std::string>> document_postings(const QByteArray fields[3])
{
    std::vector<quint32> chars;
    document_characters(fields, chars);
    std::vector<std::pair<qint64, qint64>> at; // key, position
    at.reserve(chars.size() * 2);
    for (size_t i = 0; i < chars.size(); ++i) {
        at.emplace_back(unigram(chars[i]), qint64(i));
        if (i + 1 < chars.size() && chars[i] != kFieldEnd && chars[i + 1] != kFieldEnd)
            at.emplace_back(bigram(chars[i], chars[i + 1]), -1);
    }
    std::sort(at.begin(), at.end());
    std::vector<std::pair<qint64, std::string>> out;
    for (size_t i = 0; i < at.size();) {
        const qint64 key = at[i].first;
        std::string pos;
        qint64 last = 0;
        for (; i < at.size() && at[i].first == key; ++i) {
            if (at[i].second >= 0) {
                put_varint(pos, quint64(at[i].second - last));
                last = at[i].second;
            }
        }
        out.emplace_back(key, std::move(pos));
    }
    return out;
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

std::vector<qint64> intersect(const std::vector<qint64> &a, const std::vector<qint64> &b)
{
    std::vector<qint64> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

// A search text as LIKE reads it inside "%…%": groups between its "%" wildcards, each of a
// fixed length with its literal characters at fixed offsets ("_" takes one character).
struct Group {
    qint64 length = 0;
    std::vector<std::pair<qint64, quint32>> literals; // offset, character
    std::vector<size_t> index;                        // of each literal's character in the search's list
};

std::vector<Group> search_groups(const QString &text)
{
    std::vector<Group> groups(1);
    std::vector<quint32> chars;
    append_like_characters(text.toUtf8(), chars);
    for (const quint32 c : chars) {
        if (c == '%') {
            if (groups.back().length > 0)
                groups.emplace_back();
        } else {
            if (c != '_')
                groups.back().literals.emplace_back(groups.back().length, c);
            ++groups.back().length;
        }
    }
    if (groups.back().length == 0)
        groups.pop_back();
    return groups;
}

// A simple open-addressing table from pair keys to posting numbers, for the build.
class KeyTable {
  public:
    KeyTable() { resize(1 << 16); }
    // The posting number of `key`, `fresh` (and recorded) when the key is new.
    int32_t find(qint64 key, int32_t fresh)
    {
        size_t i = slot(key);
        while (values_[i] >= 0) {
            if (keys_[i] == key)
                return values_[i];
            i = (i + 1) & mask_;
        }
        keys_[i] = key;
        values_[i] = fresh;
        if (++used_ * 2 > keys_.size())
            resize(keys_.size() * 2);
        return fresh;
    }

  private:
    size_t slot(qint64 key) const { return size_t((quint64(key) * 0x9E3779B97F4A7C15ull) >> shift_); }
    void resize(size_t n)
    {
        std::vector<qint64> keys = std::move(keys_);
        std::vector<int32_t> values = std::move(values_);
        keys_.assign(n, 0);
        values_.assign(n, -1);
        mask_ = n - 1;
        shift_ = 64 - std::countr_zero(n);
        for (size_t i = 0; i < keys.size(); ++i) {
            if (values[i] < 0)
                continue;
            size_t j = slot(keys[i]);
            while (values_[j] >= 0)
                j = (j + 1) & mask_;
            keys_[j] = keys[i];
            values_[j] = values[i];
        }
    }
    std::vector<qint64> keys_;
    std::vector<int32_t> values_;
    size_t mask_ = 0;
    int shift_ = 0;
    size_t used_ = 0;
};

const char *const kIndexSchema[] = {
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value)",
    // Notes are numbered by their place in the list (px, then id) when the file was built, in
    // blocks; `tids` holds the title ids of a block's notes, in that order, as varints.
    "CREATE TABLE ranks(block INTEGER PRIMARY KEY, first INTEGER, tids BLOB)",
    // Row (block << 44) | key: the notes of `key` in that block as varint pairs (number gap,
    // length of its positions in `pos`) for a character, number gaps for a pair.
    "CREATE TABLE post(id INTEGER PRIMARY KEY, key INTEGER, docs BLOB, pos BLOB)",
    "CREATE TABLE delta(key INTEGER, tid INTEGER, pos BLOB, PRIMARY KEY(key, tid)) WITHOUT ROWID",
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

void set_search_index_block_notes(qint64 notes)
{
    block_notes = notes > 0 ? notes : kBlockNotes;
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
    std::vector<quint32> out;
    out.reserve(size_t(text.size()));
    append_like_characters(text, out);
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
    std::vector<quint32> chars;
    append_like_characters(text.toUtf8(), chars);
    std::vector<qint64> keys;
    for (size_t i = 0; i < chars.size(); ++i) {
        keys.push_back(unigram(chars[i]));
        if (i + 1 < chars.size())
            keys.push_back(bigram(chars[i], chars[i + 1]));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

namespace {

// The postings of a build's current block, in memory.
class BlockPostings {
  public:
    BlockPostings() : char_slot_(size_t(kFieldEnd) + 1, -1) {}

    void add_document(qint64 id, const std::vector<quint32> &chars)
    {
        touched_.clear();
        for (size_t i = 0; i < chars.size(); ++i) {
            const quint32 c = chars[i];
            int32_t &u = char_slot_[c];
            if (u < 0)
                u = new_posting(unigram(c));
            Posting &up = postings_[size_t(u)];
            if (up.doc != id) {
                up.doc = id;
                up.pos_start = up.pos.size();
                up.last_pos = 0;
                touched_.push_back(u);
            }
            up.pos.put_varint(quint64(qint64(i) - up.last_pos));
            up.last_pos = qint64(i);
            if (i + 1 < chars.size() && c != kFieldEnd && chars[i + 1] != kFieldEnd) {
                const qint64 key = bigram(c, chars[i + 1]);
                const int32_t b = pairs_.find(key, int32_t(postings_.size()));
                if (size_t(b) == postings_.size())
                    new_posting(key);
                Posting &bp = postings_[size_t(b)];
                if (bp.doc != id) {
                    bp.doc = id;
                    bp.docs.put_varint(quint64(id - bp.last_doc));
                    bp.last_doc = id;
                }
            }
        }
        for (const int32_t u : touched_) {
            Posting &up = postings_[size_t(u)];
            up.docs.put_varint(quint64(id - up.last_doc));
            up.docs.put_varint(quint64(up.pos.size() - up.pos_start));
            up.last_doc = id;
        }
        bytes_ += chars.size() * 3; // positions, pairs and their documents, roughly
    }
    size_t bytes() const { return bytes_; }

    // Writes the block's rows (ascending) and empties the block.
    void write(PreparedQuery &insert, qint64 block, const std::atomic<bool> *cancel)
    {
        std::vector<int32_t> order;
        for (size_t i = 0; i < postings_.size(); ++i)
            if (!postings_[i].docs.empty())
                order.push_back(int32_t(i));
        std::sort(order.begin(), order.end(),
                  [this](int32_t a, int32_t b) { return postings_[size_t(a)].key < postings_[size_t(b)].key; });
        for (const int32_t i : order) {
            Posting &p = postings_[size_t(i)];
            insert.bind(1, (block << kBlockShift) | p.key);
            insert.bind(2, p.key);
            insert.bind(3, p.docs.bytes());
            insert.bind(4, is_unigram(p.key) ? SqlValue(p.pos.bytes()) : SqlValue());
            insert.run();
            p.docs.clear(); // the next block's postings of the key are about as long
            p.pos.clear();
            p.last_doc = 0;
            p.doc = -1;
            if (cancel && cancel->load())
                return;
        }
        bytes_ = 0;
    }

  private:
    struct Posting {
        qint64 key = 0;
        qint64 doc = -1;     // the document being added
        qint64 last_doc = 0; // the last document written to `docs`
        qint64 last_pos = 0;
        size_t pos_start = 0;
        ByteBuffer docs;
        ByteBuffer pos;
    };
    int32_t new_posting(qint64 key)
    {
        Posting p;
        p.key = key;
        postings_.push_back(std::move(p));
        return int32_t(postings_.size() - 1);
    }
    std::vector<int32_t> char_slot_; // posting of each character
    KeyTable pairs_;
    std::vector<Posting> postings_;
    std::vector<int32_t> touched_;
    size_t bytes_ = 0;
};

} // namespace

bool build_search_index_file(const QString &database_path, const QString &index_path,
                             const std::function<void(int, int)> &progress, const std::atomic<bool> *cancel)
{
    QFile::remove(index_path);
    struct Cancelled {};
    try {
        Connection index;
        index.open(index_path);
        index.query(QStringLiteral("PRAGMA page_size=16384"));
        index.query(QStringLiteral("PRAGMA journal_mode=OFF")); // a half-built file is removed
        index.execute(QStringLiteral("PRAGMA synchronous=OFF"));
        // Rows are only appended: the pages of a block's postings are written once, in order.
        index.execute(QStringLiteral("PRAGMA cache_size=-65536"));
        index.execute(QStringLiteral("BEGIN"));
        for (const char *sql : kIndexSchema)
            index.execute(QString::fromLatin1(sql));
        PreparedQuery insert(index, QStringLiteral("insert into post(id, key, docs, pos) values(?1, ?2, ?3, ?4)"));
        PreparedQuery seal(index, QStringLiteral("insert into sealed(tid) values(?1)"));

        PreparedQuery rank_row(index, QStringLiteral("insert into ranks(block, first, tids) values(?1, ?2, ?3)"));
        BlockPostings block;
        qint64 blocks = 0;
        qint64 ranked = 0;      // notes numbered so far
        qint64 block_first = 0; // the number of the block's first note
        std::string block_tids; // its title ids
        qint64 last_id = 0;     // the highest title id read: rows after it are not in the postings
        int done = 0;
        auto end_block = [&] {
            block.write(insert, blocks, cancel);
            rank_row.bind(1, blocks);
            rank_row.bind(2, block_first);
            rank_row.bind(3, QByteArray(block_tids.data(), qsizetype(block_tids.size())));
            rank_row.run();
            ++blocks;
            block_first = ranked;
            block_tids.clear();
            if (cancel && cancel->load())
                throw Cancelled{};
        };
        {
            Connection source;
            source.open(database_path, false);
            // Every note is read once, in list order, not in the file's: straight from the
            // mapped file rather than copied page by page.
            source.query(QStringLiteral("PRAGMA mmap_size=4294967296"));
            source.execute(QStringLiteral("PRAGMA cache_size=-65536"));
            // The notes in list order; rows written from here on are in the change log.
            std::vector<qint64> order;
            {
                PreparedQuery ids(source, QStringLiteral("select id from title order by px, id"));
                while (ids.next())
                    order.push_back(ids.integer(0));
            }
            const int total = int(order.size());
            if (progress)
                progress(0, total);
            PreparedQuery row(source, QStringLiteral("select ") + kDocumentColumns + QStringLiteral(" where a.id=?1"));
            std::vector<quint32> chars;
            for (size_t from = 0; from < order.size(); from += kChunkRows) {
                if (cancel && cancel->load())
                    throw Cancelled{};
                source.execute(QStringLiteral("BEGIN")); // a short read transaction: writers go on between chunks
                const size_t to = std::min(order.size(), from + size_t(kChunkRows));
                for (size_t i = from; i < to; ++i) {
                    row.bind(1, order[i]);
                    if (row.next()) {
                        const qint64 id = row.integer(0);
                        last_id = std::max(last_id, id);
                        if (row.integer(4) != 0) {
                            seal.bind(1, id);
                            seal.run();
                        }
                        const QByteArray fields[3] = {row.text_bytes(1), row.text_bytes(2), row.text_bytes(3)};
                        document_characters(fields, chars);
                        block.add_document(ranked++, chars);
                        put_varint(block_tids, quint64(id));
                        if (ranked - block_first >= block_notes || block.bytes() >= kBlockBytes)
                            end_block();
                    }
                    row.reset();
                }
                source.execute(QStringLiteral("COMMIT"));
                done = int(to);
                if (progress)
                    progress(done, total);
            }
        }
        if (ranked > block_first || blocks == 0)
            end_block();
        index.execute(
            QStringLiteral("insert into meta values('version',?),('source',?),('docs',?),('last_tid',?),('blocks',?)"),
            {kIndexVersion, canonical_database_path(database_path), ranked, last_id, blocks});
        index.execute(QStringLiteral("COMMIT"));
    } catch (const Cancelled &) {
        QFile::remove(index_path);
        return false;
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
    tid_of_rank_.clear();
    block_first_.clear();
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
        for (const auto &row : index_.query(QStringLiteral("select first, tids from ranks order by block"))) {
            if (row.value(0).toLongLong() != qint64(tid_of_rank_.size()))
                throw DbError(QStringLiteral("damaged search index"));
            block_first_.push_back(row.value(0).toLongLong());
            const QByteArray tids = row.value(1).toByteArray();
            const auto *p = reinterpret_cast<const unsigned char *>(tids.constData());
            const auto *end = p + tids.size();
            while (p < end)
                tid_of_rank_.push_back(qint64(get_varint(p, end)));
        }
        block_first_.push_back(qint64(tid_of_rank_.size()));
        if (qint64(block_first_.size()) != meta.value(QStringLiteral("blocks")).toLongLong() + 1)
            throw DbError(QStringLiteral("damaged search index"));
        // The postings are read far more than written: straight from the mapped file.
        index_.query(QStringLiteral("PRAGMA mmap_size=4294967296"));
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
    // A note whose px changed leaves its place in the build's order: it is indexed again.
    QSet<qint64> titles(changes.titles.begin(), changes.titles.end());
    titles.unite(QSet<qint64>(changes.px.begin(), changes.px.end()));
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
        PreparedQuery add(index_, QStringLiteral("insert or replace into delta(key, tid, pos) values(?1, ?2, ?3)"));
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
                    for (const auto &[key, pos] : document_postings(fields)) {
                        add.bind(1, key);
                        add.bind(2, t);
                        add.bind(3, is_unigram(key) ? SqlValue(QByteArray(pos.data(), qsizetype(pos.size())))
                                                    : SqlValue());
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

// The notes of one key in one block, ascending, with where each one's positions are in `pos`
// (characters only).
struct NoteSearchIndex::Postings {
    quint32 character = 0; // the key's character, for a character
    std::vector<qint64> docs;
    std::vector<std::pair<quint32, quint32>> spans; // start and end in `pos`
    QByteArray pos;
    size_t cursor = 0; // for lookups in ascending order

    // Whether note `n` holds the key; calls go in ascending order of `n`.
    bool seek(qint64 n)
    {
        while (cursor < docs.size() && docs[cursor] < n)
            ++cursor;
        return cursor < docs.size() && docs[cursor] == n;
    }
    // The positions of the note `seek` found.
    void positions(std::vector<qint64> &out) const { decode(spans[cursor], out); }
    void decode(std::pair<quint32, quint32> span, std::vector<qint64> &out) const
    {
        out.clear();
        const auto *base = reinterpret_cast<const unsigned char *>(pos.constData());
        const unsigned char *p = base + span.first;
        const unsigned char *end = base + span.second;
        qint64 last = 0;
        while (p < end) {
            if (*p < 0x80) {
                last += *p++; // most gaps fit one byte
            } else {
                last += qint64(get_varint(p, end));
            }
            out.push_back(last);
        }
    }
};

NoteSearchIndex::Postings NoteSearchIndex::block_postings(PreparedQuery &read, qint64 key, qint64 block,
                                                          bool with_positions)
{
    Postings out;
    out.character = quint32(key);
    const bool lengths = is_unigram(key); // a character's notes come with the length of their positions
    const bool positions = lengths && with_positions;
    struct Reset {
        PreparedQuery &query;
        ~Reset() { query.reset(); }
    } reset{read};
    read.bind(1, (block << kBlockShift) | key);
    if (read.next()) {
        const QByteArray docs = read.text_bytes(0);
        if (positions)
            out.pos = read.text_bytes(1);
        const auto *p = reinterpret_cast<const unsigned char *>(docs.constData());
        const auto *end = p + docs.size();
        qint64 last = 0;
        quint32 at = 0;
        while (p < end) {
            last += qint64(get_varint(p, end));
            out.docs.push_back(last);
            if (lengths) {
                const auto length = quint32(get_varint(p, end));
                if (positions)
                    out.spans.emplace_back(at, at + length);
                at += length;
            }
        }
        if (positions && at > quint32(out.pos.size()))
            throw DbError(QStringLiteral("damaged search index"));
    }
    return out;
}

namespace {

// The first place s >= `from` with s + length <= `limit` where group `g` stands, by the positions
// `at` of its characters; -1 when there is none.
qint64 find_group(const Group &g, const std::vector<std::vector<qint64>> &at, qint64 from, qint64 limit)
{
    if (g.literals.empty())
        return from + g.length <= limit ? from : -1;
    // The rarest literal anchors the group; the others are looked up around it.
    size_t anchor = 0;
    for (size_t l = 1; l < g.literals.size(); ++l)
        if (at[g.index[l]].size() < at[g.index[anchor]].size())
            anchor = l;
    const qint64 anchor_offset = g.literals[anchor].first;
    const std::vector<qint64> &anchors = at[g.index[anchor]];
    // The places tried only grow: each other literal is walked once, alongside.
    thread_local std::vector<size_t> next;
    next.assign(g.literals.size(), 0);
    for (auto it = std::lower_bound(anchors.begin(), anchors.end(), from + anchor_offset); it != anchors.end(); ++it) {
        const qint64 s = *it - anchor_offset;
        if (s + g.length > limit)
            return -1;
        bool found = true;
        for (size_t l = 0; l < g.literals.size() && found; ++l) {
            if (l == anchor)
                continue;
            const std::vector<qint64> &other = at[g.index[l]];
            const qint64 want = s + g.literals[l].first;
            size_t &j = next[l];
            while (j < other.size() && other[j] < want)
                ++j;
            if (j == other.size())
                return -1;
            found = other[j] == want;
        }
        if (found)
            return s;
    }
    return -1;
}

// Whether a note holds the search text in one of its fields, from the positions `at` of the
// text's characters and of the field ends (`ends`).
// Whether each group stands somewhere, fields aside: most notes that fail, fail here.
bool holds_anywhere(const std::vector<Group> &groups, const std::vector<std::vector<qint64>> &at)
{
    for (const Group &g : groups)
        if (!g.literals.empty() && find_group(g, at, 0, std::numeric_limits<qint64>::max() / 2) < 0)
            return false;
    return true;
}

bool holds_groups(const std::vector<Group> &groups, const std::vector<std::vector<qint64>> &at,
                  const std::vector<qint64> &ends)
{
    qint64 field_start = 0;
    for (const qint64 field_end : ends) {
        qint64 from = field_start;
        bool all = true;
        for (const Group &g : groups) {
            const qint64 s = find_group(g, at, from, field_end);
            if (s < 0) {
                all = false;
                break;
            }
            from = s + g.length;
        }
        if (all)
            return true;
        field_start = field_end + 1;
    }
    return false;
}

} // namespace

std::optional<QList<NoteListRow>> NoteSearchIndex::search(const QString &text, int offset, int limit)
{
    if (text.isEmpty() || text.contains(QChar(0)) || text.size() > 1000 || offset < 0 || limit <= 0)
        return std::nullopt;
    const auto pieces = search_pieces(text);
    if (pieces.empty())
        return std::nullopt; // wildcards only: nothing to narrow by
    if (!catch_up() || odd_px_)
        return std::nullopt;

    std::vector<Group> groups = search_groups(text);
    // One piece of at most two characters without "_": a note holding its key matches.
    const bool by_keys =
        groups.size() == 1 && groups[0].length <= 2 && qsizetype(groups[0].literals.size()) == groups[0].length;
    const std::vector<qint64> keys = search_keys(pieces);
    // Characters A and B with one "_" between them, as in "A_B".
    std::vector<std::pair<quint32, quint32>> gapped;
    for (const Group &g : groups)
        for (size_t l = 0; l + 1 < g.literals.size(); ++l)
            if (g.literals[l + 1].first - g.literals[l].first == 2)
                gapped.emplace_back(g.literals[l].second, g.literals[l + 1].second);
    std::sort(gapped.begin(), gapped.end());
    gapped.erase(std::unique(gapped.begin(), gapped.end()), gapped.end());
    std::vector<quint32> characters; // whose positions decide, with the field ends
    if (!by_keys) {
        characters.push_back(kFieldEnd);
        for (const Group &g : groups)
            for (const auto &l : g.literals)
                characters.push_back(l.second);
        std::sort(characters.begin(), characters.end());
        characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
        for (Group &g : groups)
            for (const auto &l : g.literals)
                g.index.push_back(
                    size_t(std::lower_bound(characters.begin(), characters.end(), l.second) - characters.begin()));
    }
    // kFieldEnd sorts last.
    auto holds = [&](const std::vector<std::vector<qint64>> &at) {
        return holds_anywhere(groups, at) && holds_groups(groups, at, at.back());
    };
    auto list_key = [this](qint64 t) { return std::pair(px_[size_t(t)], t); };
    auto listed = [this](qint64 t) { return t >= 0 && size_t(t) < px_.size() && px_[size_t(t)] != kNoTitle; };

    std::vector<qint64> page;
    try {
        // Notes written since the build (the delta): all decided at once, in list order.
        std::vector<qint64> fresh;
        if (!stale_.isEmpty()) {
            std::unordered_map<qint64, std::unordered_map<qint64, QByteArray>> of; // tid -> key -> positions
            std::vector<qint64> all_keys = keys;
            for (const quint32 c : characters)
                all_keys.push_back(unigram(c));
            std::sort(all_keys.begin(), all_keys.end());
            all_keys.erase(std::unique(all_keys.begin(), all_keys.end()), all_keys.end());
            PreparedQuery delta(index_, QStringLiteral("select tid, pos from delta where key=?1"));
            for (const qint64 key : all_keys) {
                delta.bind(1, key);
                while (delta.next())
                    of[delta.integer(0)][key] = delta.text_bytes(1);
                delta.reset();
            }
            std::vector<std::vector<qint64>> at(characters.size());
            for (const auto &[t, by_key] : of) {
                if (!listed(t) || !stale_.contains(t) ||
                    !std::all_of(all_keys.begin(), all_keys.end(), [&](qint64 k) { return by_key.count(k) > 0; }))
                    continue;
                Postings one;
                for (size_t k = 0; k < characters.size(); ++k) {
                    one.pos = by_key.at(unigram(characters[k]));
                    one.decode({0, quint32(one.pos.size())}, at[k]);
                }
                if (by_keys || holds(at))
                    fresh.push_back(t);
            }
            std::sort(fresh.begin(), fresh.end(), [&](qint64 a, qint64 b) { return list_key(a) < list_key(b); });
        }

        // The notes of the build, block by block in list order, merged with the fresh ones; the
        // walk stops at the end of the page.
        size_t next_fresh = 0;
        int skipped = 0;
        auto take = [&](qint64 t) {
            if (skipped < offset)
                ++skipped;
            else
                page.push_back(t);
            return qsizetype(page.size()) < limit;
        };
        PreparedQuery post(index_, QStringLiteral("select docs, pos from post where id=?1"));
        PreparedQuery pair_keys(index_, QStringLiteral("select id from post where id between ?1 and ?2"));
        // The notes of a block that hold a pair with one character between (A_B): those holding
        // pairs A c and c B for some character c. The positions decide afterwards; this only
        // spares reading them for the many notes that hold A and B apart.
        auto gapped_notes = [&](std::pair<quint32, quint32> ab, qint64 b) {
            const qint64 first = (b << kBlockShift) | bigram(ab.first, 0);
            std::vector<qint64> middles;
            pair_keys.bind(1, first);
            pair_keys.bind(2, first | ((qint64(1) << 21) - 1));
            while (pair_keys.next())
                middles.push_back(pair_keys.integer(0) & ((qint64(1) << 21) - 1));
            pair_keys.reset();
            std::vector<qint64> out;
            for (const qint64 c : middles) {
                const Postings to = block_postings(post, bigram(quint32(c), ab.second), b, false);
                if (to.docs.empty())
                    continue;
                const Postings from = block_postings(post, bigram(ab.first, quint32(c)), b, false);
                std::set_intersection(from.docs.begin(), from.docs.end(), to.docs.begin(), to.docs.end(),
                                      std::back_inserter(out));
            }
            std::sort(out.begin(), out.end());
            out.erase(std::unique(out.begin(), out.end()), out.end());
            return out;
        };
        bool more = true;
        std::pair<qint64, qint64> previous(std::numeric_limits<qint64>::min(), 0);
        std::vector<std::vector<qint64>> at(characters.size());
        const qint64 blocks = qint64(block_first_.size()) - 1;
        for (qint64 b = 0; b < blocks && more; ++b) {
            // The rarest keys first; a character whose positions are read is read once.
            std::vector<Postings> lists;
            for (const qint64 key : keys)
                if (!is_unigram(key) || !std::binary_search(characters.begin(), characters.end(), quint32(key)))
                    lists.push_back(block_postings(post, key, b, false));
            std::vector<Postings> positions;
            for (const quint32 c : characters)
                if (std::binary_search(keys.begin(), keys.end(), unigram(c)))
                    positions.push_back(block_postings(post, unigram(c), b, true));
            std::vector<const std::vector<qint64> *> narrowing;
            for (const Postings &p : lists)
                narrowing.push_back(&p.docs);
            for (const Postings &p : positions)
                narrowing.push_back(&p.docs);
            std::sort(narrowing.begin(), narrowing.end(),
                      [](const auto *x, const auto *y) { return x->size() < y->size(); });
            std::vector<qint64> candidates;
            for (size_t i = 0; i < narrowing.size(); ++i) {
                candidates = i == 0 ? *narrowing[i] : intersect(candidates, *narrowing[i]);
                if (candidates.empty())
                    break;
            }
            for (size_t g = 0; g < gapped.size() && !candidates.empty(); ++g)
                candidates = intersect(candidates, gapped_notes(gapped[g], b));
            if (candidates.empty())
                continue;
            // Then the other characters, in the order of `characters`.
            for (const quint32 c : characters)
                if (!std::binary_search(keys.begin(), keys.end(), unigram(c)))
                    positions.push_back(block_postings(post, unigram(c), b, true));
            std::sort(positions.begin(), positions.end(),
                      [](const Postings &x, const Postings &y) { return x.character < y.character; });
            for (const qint64 n : candidates) {
                if (n < block_first_[size_t(b)] || n >= block_first_[size_t(b) + 1])
                    throw DbError(QStringLiteral("damaged search index"));
                const qint64 t = tid_of_rank_[size_t(n)];
                if (stale_.contains(t) || !listed(t))
                    continue;
                bool found = true;
                for (size_t k = 0; k < positions.size() && found; ++k)
                    found = positions[k].seek(n);
                if (!found)
                    continue;
                if (!by_keys) {
                    // The field ends (last) only once the text's characters stand right.
                    for (size_t k = 0; k + 1 < positions.size(); ++k)
                        positions[k].positions(at[k]);
                    if (!holds_anywhere(groups, at))
                        continue;
                    positions.back().positions(at.back());
                    if (!holds_groups(groups, at, at.back()))
                        continue;
                }
                const auto key = list_key(t);
                if (key < previous)
                    throw DbError(QStringLiteral("search index out of list order"));
                previous = key;
                for (; more && next_fresh < fresh.size() && list_key(fresh[next_fresh]) < key; ++next_fresh)
                    more = take(fresh[next_fresh]);
                if (more)
                    more = take(t);
                if (!more)
                    break;
            }
        }
        for (; more && next_fresh < fresh.size(); ++next_fresh)
            more = take(fresh[next_fresh]);
    } catch (const DbError &) {
        drop_broken();
        start_build();
        return std::nullopt;
    }

    // Only the page's rows are read.
    QList<NoteListRow> rows;
    PreparedQuery read(store_.main(), QStringLiteral("select noteId,isDel,fast,caption,px from title where id=?1"));
    for (const qint64 t : page) {
        read.bind(1, t);
        if (!read.next() || read.integer(4) != px_[size_t(t)]) {
            // The index lost track of a change: never show a wrong list.
            drop_broken();
            start_build();
            return std::nullopt;
        }
        const SqlValue caption = read.value(3);
        rows.append(NoteListRow{int(read.integer(0)), int(read.integer(1)), int(read.integer(2)),
                                caption.typeId() == QMetaType::QByteArray ? QString::fromUtf8(caption.toByteArray())
                                                                          : caption.toString()});
        read.reset();
    }
    return rows;
}

} // namespace yunshan
