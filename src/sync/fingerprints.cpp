#include "sync/fingerprints.h"

#include "store/connection.h"
#include "sync/content_hash.h"
#include "sync/print_rows.h"

#include <QFile>
#include <QFileInfo>

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <type_traits>

#include <fcntl.h>
#include <unistd.h>

namespace yunshan::sync {

namespace {

// The columns read for each kind of row. The whole-database scan and the single-row reads use
// the same lists, so both hash a row alike.
const QString kMajorColumns = QStringLiteral("select id, px, 0, caption from Class");
const QString kMinorColumns = QStringLiteral("select id, px, classId, caption from Section");
const QString kTitleColumns =
    QStringLiteral("select noteId, id, px, classId, sectionId, fast, isDel, beiyong1, beiyong2, beiyong3, beiyong4, "
                   "beiyong5, isRtf, caption from title");
const QString kNotesColumns =
    QStringLiteral("select id, isDel, beiyong1, beiyong2, label, cuanjian, content, put from notes");
const QString kRtfColumns = QStringLiteral("select noteId, rtf from rtffile");
const QString kPictureColumns = QStringLiteral("select id, articleId, img from picture");
const QString kSettingColumns = QStringLiteral("select key1, value1 from set_table where key1 is not null");
const QString kSpareColumns = QStringLiteral("select key1, value1, value2, value3, value4 from beiyong_table");

// Written into the fingerprint file; a file with other values is not read.
const QString kFormat = QStringLiteral("1");
const QString kHashName = QStringLiteral("xxh64-fields-1");

void add_column(FieldHasher &h, const PreparedQuery &q, int column)
{
    if (q.is_null(column))
        h.add_null();
    else
        h.add_bytes(q.text_bytes(column));
}

quint64 columns_hash(const PreparedQuery &q, int first, int last)
{
    FieldHasher h;
    for (int c = first; c <= last; ++c)
        add_column(h, q, c);
    return h.value();
}

CategoryPrint category_row(const PreparedQuery &q)
{
    CategoryPrint p;
    p.id = q.integer(0);
    p.px = q.integer(1);
    p.class_id = q.integer(2);
    p.caption = detail::caption_hash(q.is_null(3) ? QByteArray() : q.text_bytes(3));
    return p;
}

// One title row: its note, its row id, the plain values and the hash of its content.
struct TitleRow {
    qint64 note_id = 0;
    qint64 row_id = 0;
    qint64 px = 0, class_id = 0, section_id = 0, fast = 0;
    quint64 content = 0;
};

TitleRow title_row(const PreparedQuery &q)
{
    TitleRow t;
    t.note_id = q.integer(0);
    t.row_id = q.integer(1);
    t.px = q.integer(2);
    t.class_id = q.integer(3);
    t.section_id = q.integer(4);
    t.fast = q.integer(5);
    t.content = columns_hash(q, 6, 13);
    return t;
}

// The title part of a note from its rows (in row order): plain values of the first, a hash that
// folds in every row's content.
void set_title(NotePrint &p, const TitleRow *rows, std::size_t count)
{
    if (count == 0)
        return;
    p.has_title = true;
    p.px = rows[0].px;
    p.fast = rows[0].fast;
    p.class_id = rows[0].class_id;
    p.section_id = rows[0].section_id;
    FieldHasher h;
    for (std::size_t i = 0; i < count; ++i)
        h.add_integer(qint64(rows[i].content));
    p.title = h.value();
}

void set_notes(NotePrint &p, const PreparedQuery &q)
{
    p.has_notes = true;
    p.notes = columns_hash(q, 1, 6);
    FieldHasher put;
    add_column(put, q, 7);
    p.put = put.value();
}

void set_rtf(NotePrint &p, const PreparedQuery &q)
{
    p.has_rtf = true;
    p.rtf = columns_hash(q, 1, 1);
}

PicturePrint picture_row(const PreparedQuery &q)
{
    return PicturePrint{q.integer(0), q.integer(1), columns_hash(q, 2, 2)};
}

SparePrint spare_row(const PreparedQuery &q)
{
    return SparePrint{q.integer(0), columns_hash(q, 1, 4)};
}

// The row `sql` finds for the key bound to ?1, as `row` reads it; nothing when there is none.
template <typename Row, typename Print = std::invoke_result_t<Row, const PreparedQuery &>>
std::optional<Print> read_row(Connection &db, const QString &sql, qint64 key, Row row)
{
    PreparedQuery q(db, sql);
    q.bind(1, key);
    if (!q.next())
        return std::nullopt;
    return row(q);
}

// Values of one key's rows folded in row order.
class SettingFold {
  public:
    void add(const PreparedQuery &q) { h_.add_integer(qint64(columns_hash(q, 1, 1))); }
    quint64 value() const { return h_.value(); }

  private:
    FieldHasher h_;
};

template <typename T, typename K, typename KeyOf>
const T *find_sorted(const std::vector<T> &v, const K &key, KeyOf key_of)
{
    auto it = std::lower_bound(v.begin(), v.end(), key, [&](const T &e, const K &k) { return key_of(e) < k; });
    return it != v.end() && key_of(*it) == key ? &*it : nullptr;
}

QString read_error(const QString &name, const DbError &e)
{
    return QStringLiteral("无法读取数据库“%1”：%2").arg(name, database_problem_words(e));
}

Fingerprints scan(Connection &db, const QString &name)
{
    const detail::Layout layout = detail::check_layout(db, name);
    Fingerprints f;
    for (int major = 1; major >= 0; --major) {
        PreparedQuery q(db, (major ? kMajorColumns : kMinorColumns) + QStringLiteral(" order by id"));
        auto &list = major ? f.majors : f.minors;
        while (q.next())
            list.push_back(category_row(q));
    }

    // Title rows are read in row order and sorted by note; the notes and RTF rows come in note
    // order already (their ids are the row ids), so the three meet in one pass.
    std::vector<TitleRow> titles;
    {
        // The highest row id is found at once and is near the number of rows.
        const qint64 rows = db.query_first(QStringLiteral("select max(rowid) from title"))->toLongLong();
        titles.reserve(std::size_t(std::clamp<qint64>(rows, 0, 10'000'000)));
        PreparedQuery q(db, kTitleColumns + QStringLiteral(" where noteId is not null"));
        while (q.next())
            titles.push_back(title_row(q));
    }
    std::sort(titles.begin(), titles.end(), [](const TitleRow &a, const TitleRow &b) {
        return a.note_id != b.note_id ? a.note_id < b.note_id : a.row_id < b.row_id;
    });
    PreparedQuery notes(db, kNotesColumns + QStringLiteral(" order by id"));
    PreparedQuery rtf(db, kRtfColumns + QStringLiteral(" order by noteId"));
    bool more_notes = notes.next();
    bool more_rtf = rtf.next();
    std::size_t t = 0;
    f.notes.reserve(titles.size());
    while (more_notes || more_rtf || t < titles.size()) {
        qint64 id = std::numeric_limits<qint64>::max();
        if (more_notes)
            id = std::min(id, notes.integer(0));
        if (more_rtf)
            id = std::min(id, rtf.integer(0));
        if (t < titles.size())
            id = std::min(id, titles[t].note_id);
        NotePrint p;
        p.id = id;
        std::size_t end = t;
        while (end < titles.size() && titles[end].note_id == id)
            ++end;
        set_title(p, titles.data() + t, end - t);
        t = end;
        if (more_notes && notes.integer(0) == id) {
            set_notes(p, notes);
            more_notes = notes.next();
        }
        if (more_rtf && rtf.integer(0) == id) {
            set_rtf(p, rtf);
            more_rtf = rtf.next();
        }
        f.notes.push_back(p);
    }
    titles = {};

    {
        PreparedQuery q(db, kPictureColumns + QStringLiteral(" order by id"));
        while (q.next())
            f.pictures.push_back(picture_row(q));
    }
    if (layout.settings) {
        QMap<QString, SettingFold> folds;
        PreparedQuery q(db, kSettingColumns + QStringLiteral(" order by rowid"));
        while (q.next())
            folds[QString::fromUtf8(q.text_bytes(0))].add(q);
        for (auto it = folds.cbegin(); it != folds.cend(); ++it)
            f.settings.push_back(SettingPrint{it.key(), it.value().value()});
    }
    if (layout.spare) {
        PreparedQuery q(db, kSpareColumns + QStringLiteral(" order by key1"));
        while (q.next())
            f.spare.push_back(spare_row(q));
    }
    f.sequences = detail::read_sequences(db);
    return f;
}

QString write_error(const QString &path, const QString &cause)
{
    return QStringLiteral("无法写入同步记录“%1”：%2").arg(path, cause);
}

} // namespace

// ---- Fingerprints ----

const CategoryPrint *Fingerprints::major(qint64 id) const
{
    return find_sorted(majors, id, [](const CategoryPrint &p) { return p.id; });
}

const CategoryPrint *Fingerprints::minor(qint64 id) const
{
    return find_sorted(minors, id, [](const CategoryPrint &p) { return p.id; });
}

const NotePrint *Fingerprints::note(qint64 id) const
{
    return find_sorted(notes, id, [](const NotePrint &p) { return p.id; });
}

const PicturePrint *Fingerprints::picture(qint64 id) const
{
    return find_sorted(pictures, id, [](const PicturePrint &p) { return p.id; });
}

const SettingPrint *Fingerprints::setting(const QString &key) const
{
    return find_sorted(settings, key, [](const SettingPrint &p) -> const QString & { return p.key; });
}

const SparePrint *Fingerprints::spare_row(qint64 key) const
{
    return find_sorted(spare, key, [](const SparePrint &p) { return p.key; });
}

bool Fingerprints::same_content(const Fingerprints &o) const
{
    return majors == o.majors && minors == o.minors && notes == o.notes && pictures == o.pictures &&
           settings == o.settings && spare == o.spare && sequences == o.sequences;
}

// ---- Single rows ----

namespace detail {

quint64 caption_hash(const QByteArray &caption)
{
    return content_hash(caption.constData(), std::size_t(caption.size()));
}

bool note_present(const NotePrint &p)
{
    return p.has_title || p.has_notes || p.has_rtf;
}

bool needs_upgrade(Connection &db)
{
    return db.query_first(QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                         "name='beiyong_table' collate nocase"))
               ->toLongLong() == 0;
}

Layout check_layout(Connection &db, const QString &name)
{
    QStringList tables;
    for (const auto &row : db.query(QStringLiteral("select lower(name) from sqlite_master where type='table'")))
        tables << row.at(0).toString();
    for (const char *needed : {"class", "section", "title", "notes", "picture", "rtffile"}) {
        if (!tables.contains(QLatin1String(needed)))
            throw SyncError(QStringLiteral("“%1”不是笔记数据库：没有表 %2。").arg(name, QLatin1String(needed)));
    }
    const qint64 upgraded =
        db.query_first(QStringLiteral("select count(*) from pragma_table_info('title') where name in "
                                      "('fast','beiyong1','beiyong2','beiyong3','beiyong4','beiyong5')"))
            ->toLongLong();
    if (upgraded != 6)
        throw SyncError(
            QStringLiteral("数据库“%1”是旧版本的表结构（title 表缺少新增的列），请先用本程序打开一次。").arg(name));
    return Layout{tables.contains(QLatin1String("set_table")), tables.contains(QLatin1String("beiyong_table"))};
}

NotePrint read_note(Connection &db, qint64 id)
{
    NotePrint p;
    p.id = id;
    std::vector<TitleRow> rows;
    {
        PreparedQuery q(db, kTitleColumns + QStringLiteral(" where noteId=?1 order by id"));
        q.bind(1, id);
        while (q.next())
            rows.push_back(title_row(q));
    }
    set_title(p, rows.data(), rows.size());
    {
        PreparedQuery q(db, kNotesColumns + QStringLiteral(" where id=?1"));
        q.bind(1, id);
        if (q.next())
            set_notes(p, q);
    }
    {
        PreparedQuery q(db, kRtfColumns + QStringLiteral(" where noteId=?1"));
        q.bind(1, id);
        if (q.next())
            set_rtf(p, q);
    }
    return p;
}

std::optional<CategoryPrint> read_category(Connection &db, bool major, qint64 id)
{
    return read_row(db, (major ? kMajorColumns : kMinorColumns) + QStringLiteral(" where id=?1"), id, category_row);
}

std::optional<PicturePrint> read_picture(Connection &db, qint64 id)
{
    return read_row(db, kPictureColumns + QStringLiteral(" where id=?1"), id, picture_row);
}

std::optional<SettingPrint> read_setting(Connection &db, const QString &key)
{
    PreparedQuery q(db, kSettingColumns + QStringLiteral(" and key1=?1 order by rowid"));
    q.bind(1, key);
    SettingFold fold;
    bool any = false;
    while (q.next()) {
        fold.add(q);
        any = true;
    }
    if (!any)
        return std::nullopt;
    return SettingPrint{key, fold.value()};
}

std::optional<SparePrint> read_spare(Connection &db, qint64 key)
{
    return read_row(db, kSpareColumns + QStringLiteral(" where key1=?1"), key, spare_row);
}

QMap<QString, qint64> read_sequences(Connection &db)
{
    QMap<QString, qint64> out;
    if (db.query_first(QStringLiteral("select count(*) from sqlite_master where name='sqlite_sequence'"))
            ->toLongLong() == 0)
        return out;
    for (const auto &row : db.query(QStringLiteral("select name, seq from sqlite_sequence")))
        out.insert(row.at(0).toString(), row.at(1).toLongLong());
    return out;
}

} // namespace detail

// ---- Whole files ----

Fingerprints compute_fingerprints(Connection &db, const QString &name)
{
    try {
        return scan(db, name);
    } catch (const DbError &e) {
        throw SyncError(read_error(name, e));
    }
}

Fingerprints compute_fingerprints(const QString &database)
{
    Connection db;
    try {
        db.open(database, false);
        // Only read: the engine refuses any write on this connection.
        db.execute(QStringLiteral("PRAGMA query_only=1"));
    } catch (const DbError &e) {
        throw SyncError(read_error(database, e));
    }
    return compute_fingerprints(db, database);
}

void save_fingerprints(const Fingerprints &prints, const QString &path)
{
    const QString side = path + QStringLiteral(".part");
    const QByteArray side_name = QFile::encodeName(side);
    ::unlink(side_name.constData()); // left over from an interrupted save
    // The engine creates files with the process's default mode; an empty file of mode 0600 made
    // here first is opened as an empty database instead, and its journal takes the same mode.
    const int fd = ::open(side_name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw SyncError(write_error(path, QString::fromLocal8Bit(std::strerror(errno))));
    ::close(fd);
    try {
        Connection db;
        db.open(side, false);
        db.execute(QStringLiteral("BEGIN"));
        for (const char *sql : {
                 "CREATE TABLE header (key TEXT PRIMARY KEY, value TEXT)",
                 "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT)",
                 "CREATE TABLE category (major INTEGER, id INTEGER, caption INTEGER, px INTEGER, classId INTEGER, "
                 "PRIMARY KEY (major, id))",
                 "CREATE TABLE note (id INTEGER PRIMARY KEY, parts INTEGER, title INTEGER, px INTEGER, fast INTEGER, "
                 "classId INTEGER, sectionId INTEGER, notes INTEGER, put INTEGER, rtf INTEGER)",
                 "CREATE TABLE picture (id INTEGER PRIMARY KEY, noteId INTEGER, img INTEGER)",
                 "CREATE TABLE setting (key TEXT PRIMARY KEY, value INTEGER)",
                 "CREATE TABLE spare (key INTEGER PRIMARY KEY, value INTEGER)",
                 "CREATE TABLE sequence (name TEXT PRIMARY KEY, seq INTEGER)",
             })
            db.execute(QString::fromLatin1(sql));
        db.execute(QStringLiteral("insert into header values ('format', ?1), ('hash', ?2)"), {kFormat, kHashName});
        {
            PreparedQuery q(db, QStringLiteral("insert into meta values (?1, ?2)"));
            for (auto it = prints.meta.cbegin(); it != prints.meta.cend(); ++it) {
                q.bind(1, it.key());
                q.bind(2, it.value());
                q.run();
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("insert into category values (?1, ?2, ?3, ?4, ?5)"));
            for (int major = 1; major >= 0; --major) {
                for (const CategoryPrint &c : major ? prints.majors : prints.minors) {
                    q.bind(1, major);
                    q.bind(2, c.id);
                    q.bind(3, qint64(c.caption));
                    q.bind(4, c.px);
                    q.bind(5, c.class_id);
                    q.run();
                }
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("insert into note values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"));
            for (const NotePrint &n : prints.notes) {
                q.bind(1, n.id);
                q.bind(2, (n.has_title ? 1 : 0) | (n.has_notes ? 2 : 0) | (n.has_rtf ? 4 : 0));
                q.bind(3, qint64(n.title));
                q.bind(4, n.px);
                q.bind(5, n.fast);
                q.bind(6, n.class_id);
                q.bind(7, n.section_id);
                q.bind(8, qint64(n.notes));
                q.bind(9, qint64(n.put));
                q.bind(10, qint64(n.rtf));
                q.run();
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("insert into picture values (?1, ?2, ?3)"));
            for (const PicturePrint &p : prints.pictures) {
                q.bind(1, p.id);
                q.bind(2, p.note_id);
                q.bind(3, qint64(p.img));
                q.run();
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("insert into setting values (?1, ?2)"));
            for (const SettingPrint &s : prints.settings) {
                q.bind(1, s.key);
                q.bind(2, qint64(s.value));
                q.run();
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("insert into spare values (?1, ?2)"));
            for (const SparePrint &s : prints.spare) {
                q.bind(1, s.key);
                q.bind(2, qint64(s.value));
                q.run();
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("insert into sequence values (?1, ?2)"));
            for (auto it = prints.sequences.cbegin(); it != prints.sequences.cend(); ++it) {
                q.bind(1, it.key());
                q.bind(2, it.value());
                q.run();
            }
        }
        db.execute(QStringLiteral("COMMIT"));
    } catch (const DbError &e) {
        ::unlink(side_name.constData());
        throw SyncError(write_error(path, database_problem_words(e)));
    }
    if (::rename(side_name.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString cause = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(side_name.constData());
        throw SyncError(write_error(path, cause));
    }
}

std::optional<Fingerprints> load_fingerprints(const QString &path, QString *why)
{
    if (why)
        why->clear();
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    const auto fail = [&](const QString &cause) -> std::optional<Fingerprints> {
        if (why)
            *why = QStringLiteral("同步记录“%1”无法使用：%2").arg(path, cause);
        return std::nullopt;
    };
    try {
        Connection db;
        db.open(path, false);
        db.execute(QStringLiteral("PRAGMA query_only=1"));
        QMap<QString, QString> header;
        for (const auto &row : db.query(QStringLiteral("select key, value from header")))
            header.insert(row.at(0).toString(), row.at(1).toString());
        if (header.value(QStringLiteral("format")) != kFormat || header.value(QStringLiteral("hash")) != kHashName)
            return fail(QStringLiteral("格式 %1/%2 不是本程序所写")
                            .arg(header.value(QStringLiteral("format")), header.value(QStringLiteral("hash"))));
        Fingerprints f;
        for (const auto &row : db.query(QStringLiteral("select key, value from meta")))
            f.meta.insert(row.at(0).toString(), row.at(1).toString());
        {
            PreparedQuery q(db,
                            QStringLiteral("select major, id, caption, px, classId from category order by major desc, "
                                           "id"));
            while (q.next())
                (q.integer(0) ? f.majors : f.minors)
                    .push_back(CategoryPrint{q.integer(1), quint64(q.integer(2)), q.integer(3), q.integer(4)});
        }
        {
            PreparedQuery q(db, QStringLiteral("select id, parts, title, px, fast, classId, sectionId, notes, put, rtf "
                                               "from note order by id"));
            while (q.next()) {
                NotePrint n;
                n.id = q.integer(0);
                const qint64 parts = q.integer(1);
                n.has_title = parts & 1;
                n.has_notes = parts & 2;
                n.has_rtf = parts & 4;
                n.title = quint64(q.integer(2));
                n.px = q.integer(3);
                n.fast = q.integer(4);
                n.class_id = q.integer(5);
                n.section_id = q.integer(6);
                n.notes = quint64(q.integer(7));
                n.put = quint64(q.integer(8));
                n.rtf = quint64(q.integer(9));
                f.notes.push_back(n);
            }
        }
        {
            PreparedQuery q(db, QStringLiteral("select id, noteId, img from picture order by id"));
            while (q.next())
                f.pictures.push_back(PicturePrint{q.integer(0), q.integer(1), quint64(q.integer(2))});
        }
        {
            PreparedQuery q(db, QStringLiteral("select key, value from setting"));
            while (q.next())
                f.settings.push_back(SettingPrint{QString::fromUtf8(q.text_bytes(0)), quint64(q.integer(1))});
            std::sort(f.settings.begin(), f.settings.end(),
                      [](const SettingPrint &a, const SettingPrint &b) { return a.key < b.key; });
        }
        {
            PreparedQuery q(db, QStringLiteral("select key, value from spare order by key"));
            while (q.next())
                f.spare.push_back(SparePrint{q.integer(0), quint64(q.integer(1))});
        }
        for (const auto &row : db.query(QStringLiteral("select name, seq from sequence")))
            f.sequences.insert(row.at(0).toString(), row.at(1).toLongLong());
        return f;
    } catch (const DbError &e) {
        return fail(database_problem_words(e));
    }
}

} // namespace yunshan::sync
