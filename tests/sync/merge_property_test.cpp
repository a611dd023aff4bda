// Random edits on two copies of a random database, merged, and checked against what each side
// did: every edit of this machine is in the result (in place or in a conflict copy), nothing the
// share changed is lost, merging the result with itself changes nothing, the file is sound.
//
//   YUNSHAN_SYNC_SEEDS=N   number of seeds (default 300)
//   YUNSHAN_SYNC_SEED=S    only seed S (the failure message names it)
#include "sync/merge.h"

#include "sync_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <random>
#include <set>

using namespace yunshan;
using namespace yunshan::sync;
using namespace yunshan::test;

namespace {

const QString kCopyMark = conflict_copy_suffix(kMergeTime);

// ---- Random edits ----

class Side {
  public:
    Side(const QString &path, std::mt19937_64 &rng, const QString &name) : f_(path), rng_(rng), name_(name) {}

    QStringList log;

    void random_base()
    {
        const int majors = 2 + pick(3);
        for (int i = 0; i < majors; ++i)
            create_major();
        for (int i = 0; i < 3 + pick(5); ++i)
            create_minor();
        for (int i = 0; i < 8 + pick(12); ++i)
            create_note();
        for (int i = 0; i < 4; ++i)
            set_setting();
        log.clear();
    }

    void random_edits(int count)
    {
        for (int i = 0; i < count; ++i) {
            switch (pick(20)) {
            case 0:
            case 1:
                create_note();
                break;
            case 2:
                edit_title();
                break;
            case 3:
                edit_tag();
                break;
            case 4:
            case 5:
                edit_body();
                break;
            case 6:
                delete_note();
                break;
            case 7:
                move_note();
                break;
            case 8:
                reorder();
                break;
            case 9:
                favourite();
                break;
            case 10:
                encrypt_as_stored();
                break;
            case 11:
                add_picture();
                break;
            case 12:
                delete_picture();
                break;
            case 13:
                create_major();
                break;
            case 14:
                create_minor();
                break;
            case 15:
                rename_category(true);
                break;
            case 16:
                rename_category(false);
                break;
            case 17:
                delete_category(pick(3) == 0);
                break;
            default:
                set_setting();
                break;
            }
        }
    }

  private:
    int pick(int n) { return int(rng_() % quint64(n)); }
    QString unique(const QString &stem) { return stem + QString::number(++counter_) + name_; }
    QString hex(int digits)
    {
        QString out;
        for (int i = 0; i < digits; ++i)
            out += QLatin1Char("0123456789ABCDEF"[pick(16)]);
        return out;
    }
    QString put() { return QStringLiteral("2025-02-%1 10:00:00").arg(10 + counter_ % 18) + unique(QString()); }
    QList<qint64> ids(const QString &sql)
    {
        QList<qint64> out;
        for (const auto &row : f_.db().query(sql))
            out << row[0].toLongLong();
        return out;
    }
    qint64 any(const QList<qint64> &list) { return list.isEmpty() ? 0 : list.at(pick(int(list.size()))); }
    qint64 any_note() { return any(ids(QStringLiteral("select noteId from title order by noteId"))); }
    // Minor categories the lists show: those of existing major categories.
    qint64 any_minor()
    {
        return any(ids(QStringLiteral("select id from Section where classId in (select id from Class) order by id")));
    }
    qint64 mode(qint64 note)
    {
        return f_.db().query_first(QStringLiteral("select isDel from title where noteId=?1"), {note})->toLongLong();
    }
    QString caption_for(qint64 m, const QString &title)
    {
        if (m == 1)
            return hex(64);
        if (m == 2)
            return hex(32) + QStringLiteral(":ppp") + title;
        return title;
    }
    void body(qint64 note, qint64 m, const QString &tag)
    {
        const bool rich = pick(2) == 0;
        const QString text = m ? hex(40) : unique(QStringLiteral("正文 text "));
        QByteArray rtf;
        if (rich)
            rtf = m ? QByteArray::fromHex(hex(32).toLatin1())
                    : (QStringLiteral("{\\rtf1 ") + text + QLatin1Char('}')).toUtf8();
        f_.save_body(note, tag, text, rtf, put());
    }

    void create_note()
    {
        const qint64 minor = any_minor();
        if (!minor)
            return;
        const qint64 id = f_.note(minor, unique(QStringLiteral("笔记")), unique(QStringLiteral("标签")),
                                  unique(QStringLiteral("内容 ")),
                                  pick(2) ? QByteArray() : unique(QStringLiteral("{\\rtf1 ")).toUtf8());
        for (int i = pick(3); i > 0; --i)
            f_.picture(id, unique(QStringLiteral("图")).toUtf8());
        log << QStringLiteral("create note %1 in %2").arg(id).arg(minor);
    }
    void edit_title()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        f_.run(QStringLiteral("update title set caption=?1 where noteId=?2"),
               {caption_for(mode(note), unique(QStringLiteral("标题"))), note});
        log << QStringLiteral("title %1").arg(note);
    }
    void edit_tag()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        f_.run(QStringLiteral("update notes set label=?1, put=?2 where id=?3"),
               {mode(note) == 1 ? hex(32) : unique(QStringLiteral("标签")), put(), note});
        log << QStringLiteral("tag %1").arg(note);
    }
    void edit_body()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        const QString tag = f_.db()
                                .query_first(QStringLiteral("select label from notes where id=?1"), {note})
                                .value_or(QString())
                                .toString();
        body(note, mode(note), tag);
        log << QStringLiteral("body %1").arg(note);
    }
    void delete_note()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        f_.delete_note(note);
        log << QStringLiteral("delete note %1").arg(note);
    }
    void move_note()
    {
        const qint64 note = any_note();
        const qint64 minor = any_minor();
        if (!note || !minor)
            return;
        f_.run(QStringLiteral("update title set classId=(select classId from Section where id=?1), sectionId=?1 "
                              "where noteId=?2"),
               {minor, note});
        log << QStringLiteral("move %1 to %2").arg(note).arg(minor);
    }
    void reorder()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        const char *sql[] = {"update title set px=px-3 where noteId=?1", "update title set px=px+3 where noteId=?1",
                             "update title set px=0 where noteId=?1", "update title set px=105 where noteId=?1"};
        f_.run(QString::fromLatin1(sql[pick(4)]), {note});
        log << QStringLiteral("reorder %1").arg(note);
    }
    void favourite()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        f_.run(QStringLiteral("update title set fast=1-fast where noteId=?1"), {note});
        log << QStringLiteral("favourite %1").arg(note);
    }
    // A save after encrypting, decrypting or switching the mode: every stored field changes.
    void encrypt_as_stored()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        const qint64 m = (mode(note) + 1 + pick(2)) % 3;
        f_.run(QStringLiteral("update title set isDel=?1, caption=?2 where noteId=?3"),
               {m, caption_for(m, unique(QStringLiteral("标题"))), note});
        body(note, m, m == 1 ? hex(32) : unique(QStringLiteral("标签")));
        log << QStringLiteral("mode %1 of %2").arg(m).arg(note);
    }
    void add_picture()
    {
        const qint64 note = any_note();
        if (!note)
            return;
        log << QStringLiteral("picture %1 on %2")
                   .arg(f_.picture(note, unique(QStringLiteral("图")).toUtf8()))
                   .arg(note);
    }
    void delete_picture()
    {
        const qint64 picture = any(ids(QStringLiteral("select id from picture order by id")));
        if (!picture)
            return;
        f_.run(QStringLiteral("delete from picture where id=?1"), {picture});
        log << QStringLiteral("delete picture %1").arg(picture);
    }
    // Captions from small pools, so that both sides often pick the same one.
    QString major_caption()
    {
        static const char *pool[] = {"Alpha", "alpha", "BETA", "Beta", "甲类", "乙类", "丙类", "Gamma"};
        return QString::fromUtf8(pool[pick(8)]);
    }
    QString minor_caption()
    {
        static const char *pool[] = {"会议", "项目", "读书", "Notes", "notes", "日记", "旅行", "杂项", "NOTES"};
        return QString::fromUtf8(pool[pick(9)]);
    }
    bool major_taken(const QString &caption)
    {
        for (const auto &row : f_.db().query(QStringLiteral("select caption from Class"))) {
            if (row[0].toString().compare(caption, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
    bool minor_taken(const QString &caption) { return category_id(f_.db(), false, caption) != 0; }
    void create_major()
    {
        const QString caption = major_caption();
        if (major_taken(caption))
            return;
        log << QStringLiteral("major %1 %2").arg(f_.major(caption, 100 + 2 * pick(5))).arg(caption);
    }
    void create_minor()
    {
        const qint64 major = any(ids(QStringLiteral("select id from Class order by id")));
        const QString caption = minor_caption();
        if (!major || minor_taken(caption))
            return;
        log << QStringLiteral("minor %1 %2 in %3")
                   .arg(f_.minor(major, caption, 100 + 2 * pick(5)))
                   .arg(caption)
                   .arg(major);
    }
    void rename_category(bool major)
    {
        const qint64 id = any(ids(major ? QStringLiteral("select id from Class order by id")
                                        : QStringLiteral("select id from Section order by id")));
        const QString caption = major ? major_caption() : minor_caption();
        if (!id || (major ? major_taken(caption) : minor_taken(caption)))
            return;
        f_.run(major ? QStringLiteral("update Class set caption=?1 where id=?2")
                     : QStringLiteral("update Section set caption=?1 where id=?2"),
               {caption, id});
        log << QStringLiteral("rename %1 %2 to %3").arg(major ? "major" : "minor").arg(id).arg(caption);
    }
    void delete_category(bool major)
    {
        const qint64 id = any(ids(major ? QStringLiteral("select id from Class order by id")
                                        : QStringLiteral("select id from Section order by id")));
        if (!id)
            return;
        f_.run(major ? QStringLiteral("delete from Class where id=?1")
                     : QStringLiteral("delete from Section where id=?1"),
               {id});
        log << QStringLiteral("delete %1 %2").arg(major ? "major" : "minor").arg(id);
    }
    void set_setting()
    {
        static const char *keys[] = {"webDAV网址", "zip密码",        "last_time",    "tmp_file1",
                                     "password",   "启动从网盘同步", "yz_generation"};
        const QString key = QString::fromUtf8(keys[pick(7)]);
        if (pick(5) == 0) {
            f_.run(QStringLiteral("delete from set_table where key1=?1"), {key});
            log << QStringLiteral("delete setting ") + key;
        } else {
            f_.setting(key, unique(QStringLiteral("v")));
            log << QStringLiteral("setting ") + key;
        }
    }

    NotesFile f_;
    std::mt19937_64 &rng_;
    QString name_;
    int counter_ = 0;
};

// ---- A whole file in memory ----

struct Category {
    QString caption;
    qint64 px = 0, class_id = 0;
    friend bool operator==(const Category &, const Category &) = default;
};

struct State {
    std::map<qint64, NoteView> notes;
    std::map<qint64, Category> majors, minors;
    std::map<qint64, std::pair<qint64, QByteArray>> pictures;
    std::map<QString, QStringList> settings;
};

State load(const QString &path)
{
    Connection db;
    db.open(path, false);
    State s;
    for (const auto &row : db.query(QStringLiteral("select noteId from title union select id from notes"))) {
        const qint64 id = row[0].toLongLong();
        s.notes[id] = *read_note(db, id);
    }
    for (const auto &row : db.query(QStringLiteral("select id, caption, px from Class")))
        s.majors[row[0].toLongLong()] = Category{row[1].toString(), row[2].toLongLong(), 0};
    for (const auto &row : db.query(QStringLiteral("select id, caption, px, classId from Section")))
        s.minors[row[0].toLongLong()] = Category{row[1].toString(), row[2].toLongLong(), row[3].toLongLong()};
    for (const auto &row : db.query(QStringLiteral("select id, articleId, img from picture")))
        s.pictures[row[0].toLongLong()] = {row[1].toLongLong(), row[2].toByteArray()};
    for (const auto &row : db.query(QStringLiteral("select key1, value1 from set_table order by rowid")))
        s.settings[row[0].toString()] << row[1].toString();
    return s;
}

const NoteView *find(const std::map<qint64, NoteView> &notes, qint64 id)
{
    const auto it = notes.find(id);
    return it == notes.end() ? nullptr : &it->second;
}

bool same_title(const NoteView &a, const NoteView &b)
{
    return a.caption == b.caption && a.is_del == b.is_del;
}
bool same_text(const NoteView &a, const NoteView &b)
{
    return a.label == b.label && a.content == b.content;
}
bool same_rtf(const NoteView &a, const NoteView &b)
{
    return a.has_rtf == b.has_rtf && a.rtf == b.rtf;
}
bool same_place(const NoteView &a, const NoteView &b)
{
    return a.class_id == b.class_id && a.section_id == b.section_id;
}

// The caption this machine's category has in the result: as it was, renamed to keep captions
// unique, or (for a new major category) the share's spelling of it.
bool caption_carried(const QString &merged, const QString &local, bool major)
{
    if (merged == local || merged.startsWith(local + QStringLiteral("（冲突 ")))
        return true;
    return major && merged.compare(local, Qt::CaseInsensitive) == 0;
}

class Checker {
  public:
    Checker(const State &base, const State &local, const State &share, const State &merged)
        : b_(base), l_(local), s_(share), m_(merged)
    {
        for (const auto &[id, n] : m_.notes) {
            if (!find(s_.notes, id))
                added_.push_back(&n);
        }
    }

    void run()
    {
        share_notes_are_kept();
        local_notes_are_carried();
        categories();
        settings();
        captions_are_unique();
    }

  private:
    bool share_changed(qint64 id) const
    {
        const NoteView *b = find(b_.notes, id), *s = find(s_.notes, id);
        return s && (!b || !(*b == *s));
    }
    bool local_changed(qint64 id) const
    {
        const NoteView *b = find(b_.notes, id), *l = find(l_.notes, id);
        return l && (!b || !(*b == *l));
    }
    // This machine's version of a note among the rows the merge added.
    const NoteView *copy_of(const NoteView &l, bool marked) const
    {
        for (const NoteView *n : added_) {
            const QString caption = marked && l.is_del != 1 ? l.caption + kCopyMark : l.caption;
            if (n->caption == caption && n->is_del == l.is_del && same_text(*n, l) && same_rtf(*n, l) &&
                n->put == l.put && n->pictures == l.pictures)
                return n;
        }
        return nullptr;
    }
    QString minor_caption(const State &s, qint64 id) const
    {
        const auto it = s.minors.find(id);
        return it == s.minors.end() ? QString() : it->second.caption;
    }
    // Whether a note of this machine lies in its minor category: the same row when the base
    // had it (or when it is gone here), else the category that carries its caption.
    bool same_minor(qint64 merged_id, qint64 local_id) const
    {
        if (!l_.minors.count(local_id))
            return true; // a place that is gone here
        if (!m_.minors.count(merged_id))
            return false;
        if (b_.minors.count(local_id))
            return merged_id == local_id;
        return caption_carried(minor_caption(m_, merged_id), minor_caption(l_, local_id), false);
    }

    void share_notes_are_kept()
    {
        for (const auto &[id, s] : s_.notes) {
            const NoteView *b = find(b_.notes, id);
            const NoteView *m = find(m_.notes, id);
            if (!share_changed(id)) {
                // Unchanged on the share: gone only when deleted here.
                EXPECT_EQ(m != nullptr, find(l_.notes, id) != nullptr || !b) << "note " << id;
                continue;
            }
            ASSERT_TRUE(m) << "note " << id << " changed on the share is missing";
            if (!b || !same_title(*b, s)) {
                EXPECT_TRUE(same_title(*m, s)) << "share's title of note " << id;
            }
            if (!b || !same_text(*b, s)) {
                EXPECT_TRUE(same_text(*m, s)) << "share's text of note " << id;
            }
            if (!b || !same_rtf(*b, s)) {
                EXPECT_TRUE(same_rtf(*m, s)) << "share's rtf of note " << id;
            }
            if (!b || b->px != s.px) {
                EXPECT_EQ(m->px, s.px) << "share's order of note " << id;
            }
            if (!b || b->fast != s.fast) {
                EXPECT_EQ(m->fast, s.fast) << "share's favourite of note " << id;
            }
            if (!b || !same_place(*b, s)) {
                EXPECT_TRUE(same_place(*m, s)) << "share's place of note " << id;
            }
            // A note changed on the share keeps its minor category, also one deleted here.
            if (s_.minors.count(m->section_id)) {
                EXPECT_TRUE(m_.minors.count(m->section_id)) << "minor category of note " << id;
            }
        }
        for (const auto &[id, b] : b_.notes) {
            if (!find(s_.notes, id) && find(m_.notes, id)) {
                EXPECT_TRUE(local_changed(id)) << "note " << id << " deleted on the share came back unchanged";
            }
        }
        for (const auto &[id, p] : s_.pictures) {
            if (!b_.pictures.count(id)) {
                EXPECT_TRUE(m_.pictures.count(id) && m_.pictures.at(id) == p) << "share's new picture " << id;
            }
        }
        for (const auto &[id, p] : b_.pictures) {
            if (!s_.pictures.count(id)) {
                EXPECT_FALSE(m_.pictures.count(id)) << "picture " << id << " deleted on the share";
            }
        }
    }

    void local_notes_are_carried()
    {
        for (const auto &[id, b] : b_.notes) {
            if (!local_changed(id) && find(l_.notes, id))
                continue;
            const NoteView *l = find(l_.notes, id);
            const NoteView *m = find(m_.notes, id);
            if (!l) {
                EXPECT_EQ(m != nullptr, share_changed(id)) << "note " << id << " deleted here";
                continue;
            }
            const bool in_place = m && (same_title(b, *l) || same_title(*m, *l)) &&
                                  (same_text(b, *l) || same_text(*m, *l)) && (same_rtf(b, *l) || same_rtf(*m, *l));
            const NoteView *copy = in_place ? nullptr : copy_of(*l, true);
            EXPECT_TRUE(in_place || copy) << "note " << id << " changed here is neither in place nor copied";
            if (!m)
                continue;
            const NoteView *s = find(s_.notes, id);
            if (b.px != l->px && (!s || s->px == b.px)) {
                EXPECT_EQ(m->px, l->px) << "order of note " << id;
            }
            if (b.fast != l->fast && (!s || s->fast == b.fast)) {
                EXPECT_EQ(m->fast, l->fast) << "favourite of note " << id;
            }
            if (!same_place(b, *l) && (!s || same_place(b, *s))) {
                EXPECT_TRUE(same_minor(m->section_id, l->section_id)) << "place of note " << id;
            }
            // A note changed here keeps its minor category, also one deleted on the share.
            if (b_.minors.count(m->section_id) && l_.minors.count(m->section_id)) {
                EXPECT_TRUE(m_.minors.count(m->section_id)) << "minor category of note " << id;
            }
            // Pictures added here are with the note or its copy; those deleted here are gone
            // unless the note was copied (the share's version keeps its own).
            for (const auto &[pid, p] : l_.pictures) {
                if (p.first == id && !b_.pictures.count(pid)) {
                    EXPECT_TRUE(m->pictures.contains(p.second) || copy) << "picture " << pid << " of note " << id;
                }
            }
            for (const auto &[pid, p] : b_.pictures) {
                if (p.first == id && !l_.pictures.count(pid) && !copy) {
                    EXPECT_FALSE(m_.pictures.count(pid)) << "picture " << pid << " deleted here";
                }
            }
        }
        for (const auto &[id, l] : l_.notes) {
            if (b_.notes.count(id))
                continue;
            const NoteView *m = copy_of(l, false);
            if (!m)
                m = find(m_.notes, id); // the same note made on both sides
            ASSERT_TRUE(m && same_title(*m, l) && same_text(*m, l) && same_rtf(*m, l) && m->pictures == l.pictures)
                << "new note " << id << " of this machine";
            EXPECT_TRUE(same_minor(m->section_id, l.section_id)) << "place of new note " << id;
        }
    }

    void categories()
    {
        for (bool major : {true, false}) {
            const auto &B = major ? b_.majors : b_.minors;
            const auto &L = major ? l_.majors : l_.minors;
            const auto &S = major ? s_.majors : s_.minors;
            const auto &M = major ? m_.majors : m_.minors;
            for (const auto &[id, s] : S) {
                const auto b = B.find(id);
                if (b != B.end() && b->second == s)
                    continue;
                ASSERT_TRUE(M.count(id)) << "category " << id << " changed on the share";
                EXPECT_EQ(M.at(id).caption, s.caption);
                if (b == B.end() || b->second.px != s.px) {
                    EXPECT_EQ(M.at(id).px, s.px);
                }
            }
            for (const auto &[id, l] : L) {
                const auto b = B.find(id);
                if (b != B.end() && b->second == l)
                    continue;
                const auto s = S.find(id);
                if (b != B.end() && s != S.end() && s->second.caption != b->second.caption)
                    continue; // renamed on both sides: the share's caption
                bool found = false;
                for (const auto &[mid, m] : M)
                    found = found || caption_carried(m.caption, l.caption, major);
                EXPECT_TRUE(found) << "category " << l.caption.toStdString() << " of this machine";
            }
        }
    }

    void settings()
    {
        std::set<QString> keys;
        for (const State *s : {&b_, &l_, &s_})
            for (const auto &[k, v] : s->settings)
                keys.insert(k);
        const auto value = [](const State &s, const QString &k) {
            const auto it = s.settings.find(k);
            return it == s.settings.end() ? QStringList{QStringLiteral("<none>")} : it->second;
        };
        for (const QString &k : keys) {
            const QStringList b = value(b_, k), l = value(l_, k), s = value(s_, k), m = value(m_, k);
            if (k == QStringLiteral("tmp_file1")) {
                EXPECT_EQ(m, l);
            } else if (k == QStringLiteral("yz_generation")) {
                EXPECT_EQ(m, s);
            } else if (s != b && !(s == QStringList{QStringLiteral("<none>")} && l != b)) {
                EXPECT_EQ(m, s) << k.toStdString();
            } else if (l != b) {
                EXPECT_EQ(m, l) << k.toStdString();
            }
        }
    }

    void captions_are_unique()
    {
        QSet<QString> majors, minors;
        for (const auto &[id, c] : m_.majors)
            majors.insert(c.caption.toCaseFolded());
        for (const auto &[id, c] : m_.minors)
            minors.insert(c.caption);
        EXPECT_EQ(majors.size(), qsizetype(m_.majors.size())) << "major captions repeat";
        EXPECT_EQ(minors.size(), qsizetype(m_.minors.size())) << "minor captions repeat";
    }

    const State &b_, &l_, &s_, &m_;
    std::vector<const NoteView *> added_;
};

int env_int(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

TEST(MergeProperty, RandomEditsOnBothSides)
{
    const int only = env_int("YUNSHAN_SYNC_SEED", -1);
    const int seeds = env_int("YUNSHAN_SYNC_SEEDS", 300);
    // Hundreds of merges, each committed with the engine's syncs: a folder in memory where the
    // machine has one.
    QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                          ? QStringLiteral("/dev/shm/yunshan-sync-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/yunshan-sync-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    const QString base = dir.filePath(QStringLiteral("base.sl3"));
    const QString local = dir.filePath(QStringLiteral("local.sl3"));
    const QString share = dir.filePath(QStringLiteral("share.sl3"));
    const QString share_before = dir.filePath(QStringLiteral("share-before.sl3"));
    const QString again = dir.filePath(QStringLiteral("again.sl3"));
    MergeReport total;
    for (int seed = only >= 0 ? only : 1; seed <= (only >= 0 ? only : seeds); ++seed) {
        QFile::remove(base);
        std::mt19937_64 rng{quint64(seed)};
        Side(base, rng, QStringLiteral("b")).random_base();
        const Fingerprints base_prints = compute_fingerprints(base);
        copy_file(base, local);
        copy_file(base, share);
        QStringList local_log, share_log;
        {
            Side l(local, rng, QStringLiteral("L"));
            l.random_edits(int(rng() % 14));
            local_log = l.log;
            Side s(share, rng, QStringLiteral("S"));
            s.random_edits(int(rng() % 14));
            share_log = s.log;
        }
        copy_file(share, share_before);
        const auto describe = [&] {
            return QStringLiteral("seed %1 (YUNSHAN_SYNC_SEED=%1)\n  here: %2\n  share: %3")
                .arg(seed)
                .arg(local_log.join(QStringLiteral("; ")), share_log.join(QStringLiteral("; ")))
                .toStdString();
        };
        SCOPED_TRACE(describe());

        MergeResult result;
        try {
            result = merge_databases(base_prints, local, share, kMergeTime);
        } catch (const SyncError &e) {
            FAIL() << e.message().toStdString();
        }
        {
            Connection merged;
            merged.open(share);
            EXPECT_EQ(integrity(merged), QStringLiteral("ok"));
            // Every table's sequence covers its ids, so the program never hands out one in use.
            for (const char *table : {"Class", "Section", "notes", "picture"}) {
                const qint64 max_id =
                    merged.query_first(QStringLiteral("select coalesce(max(id),0) from %1").arg(QLatin1String(table)))
                        ->toLongLong();
                const qint64 seq = merged
                                       .query_first(QStringLiteral("select seq from sqlite_sequence where name=?1"),
                                                    {QString::fromLatin1(table)})
                                       .value_or(0)
                                       .toLongLong();
                EXPECT_LE(max_id, seq) << table;
            }
            // So does every reference, so a new row is never taken for one that was there.
            const auto highest = [&](const char *sql) {
                return merged.query_first(QString::fromLatin1(sql))->toLongLong();
            };
            const auto sequence = [&](const char *table) {
                return merged
                    .query_first(QStringLiteral("select seq from sqlite_sequence where name=?1"),
                                 {QString::fromLatin1(table)})
                    .value_or(0)
                    .toLongLong();
            };
            EXPECT_LE(highest("select coalesce(max(classId),0) from title"), sequence("Class"));
            EXPECT_LE(highest("select coalesce(max(classId),0) from Section"), sequence("Class"));
            EXPECT_LE(highest("select coalesce(max(sectionId),0) from title"), sequence("Section"));
            EXPECT_LE(highest("select coalesce(max(noteId),0) from title"), sequence("notes"));
            EXPECT_LE(highest("select coalesce(max(articleId),0) from picture"), sequence("notes"));
        }
        Checker(load(base), load(local), load(share_before), load(share)).run();
        const MergeReport &r = result.report;
        total.applied_local_changes += r.applied_local_changes;
        total.conflict_copies += r.conflict_copies;
        total.unmarked_copies += r.unmarked_copies;
        total.kept_deletions += r.kept_deletions;
        total.renumbered_rows += r.renumbered_rows;
        total.renamed_categories += r.renamed_categories;
        EXPECT_TRUE(result.merged == compute_fingerprints(share));

        copy_file(share, again);
        const MergeResult second = merge_databases(result.merged, share, again, kMergeTime);
        EXPECT_FALSE(second.report.changed_share());
        EXPECT_EQ(dump(again), dump(share));
        if (::testing::Test::HasFailure())
            break;
    }
    std::printf("applied %d, conflict copies %d (unmarked %d), kept deletions %d, renumbered %d, renamed %d\n",
                total.applied_local_changes, total.conflict_copies, total.unmarked_copies, total.kept_deletions,
                total.renumbered_rows, total.renamed_categories);
    // The random edits reach every rule.
    if (only < 0 && seeds >= 100) {
        EXPECT_GT(total.conflict_copies, 0);
        EXPECT_GT(total.unmarked_copies, 0);
        EXPECT_GT(total.kept_deletions, 0);
        EXPECT_GT(total.renumbered_rows, 0);
        EXPECT_GT(total.renamed_categories, 0);
    }
}

} // namespace
