#include "sync/merge.h"

#include "store/connection.h"
#include "store/note_change_log.h"
#include "store/schema.h"
#include "sync/print_rows.h"

#include <QFileInfo>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace yunshan::sync {

namespace {

using detail::caption_hash;
using detail::note_present;

const QString kLocalKey = QStringLiteral("tmp_file1");      // this machine's autosave bookkeeping
const QString kCallerKey = QStringLiteral("yz_generation"); // rewritten by the caller

// Hands out ids after the share's highest. `keep_or_next` keeps an id that is free (above
// everything handed out so far) when called in ascending order; every id it returns is new.
class IdAllocator {
  public:
    void raise_to(qint64 id) { last_ = std::max(last_, id); }
    qint64 keep_or_next(qint64 wanted)
    {
        if (wanted > last_)
            return last_ = wanted;
        return ++last_;
    }
    qint64 fresh() { return ++last_; }
    qint64 last() const { return last_; }

  private:
    qint64 last_ = 0;
};

// A category row as stored.
struct CatRow {
    qint64 id = 0;
    qint64 px = 0;
    qint64 class_id = 0;
    QByteArray caption; // stored bytes
    bool null_caption = false;
    QString text() const { return QString::fromUtf8(caption); }
};
using CatTable = std::map<qint64, CatRow>;

CatTable read_categories(Connection &db, bool major)
{
    CatTable out;
    PreparedQuery q(db, major ? QStringLiteral("select id, px, 0, caption from Class")
                              : QStringLiteral("select id, px, classId, caption from Section"));
    while (q.next()) {
        CatRow r;
        r.id = q.integer(0);
        r.px = q.integer(1);
        r.class_id = q.integer(2);
        r.null_caption = q.is_null(3);
        r.caption = r.null_caption ? QByteArray() : q.text_bytes(3);
        out.emplace(r.id, r);
    }
    return out;
}

// A category of the merged database.
struct MergedCat {
    CatRow row;
    bool caption_local = false; // its caption came from this machine (new, renamed or restored)
    bool local_origin = false;  // the row or one of its fields came from this machine
};

// What becomes of one note.
enum class NoteAction {
    Parts,    // the share's note stays; parts and fields of this machine go into it
    Insert,   // this machine's note goes in whole (new, or deleted on the share and changed here)
    Delete,   // deleted here, unchanged on the share
    Conflict, // the share's content stays, this machine's becomes a copy
};

struct NotePlan {
    NoteAction action = NoteAction::Parts;
    qint64 local_id = 0;
    qint64 id = 0; // in the merged database
    bool take_title = false, take_notes = false, take_rtf = false;
    // Merged order, favourite and place of the note's title rows, and whether they differ from
    // the share's.
    bool set_fields = false;
    qint64 px = 0, fast = 0, class_id = 0, section_id = 0;
    // A conflict's copy: its id, order and place.
    qint64 copy_id = 0;
    qint64 copy_px = 0, copy_class_id = 0, copy_section_id = 0;
};

enum class PictureAction { Write, InsertCopy, Delete };

struct PicturePlan {
    PictureAction action = PictureAction::Write;
    qint64 local_id = 0;
    qint64 id = 0;
    qint64 note_id = 0;
};

bool same_title(const NotePrint &a, const NotePrint &b)
{
    return a.has_title == b.has_title && a.title == b.title;
}
bool same_notes_text(const NotePrint &a, const NotePrint &b)
{
    return a.has_notes == b.has_notes && a.notes == b.notes;
}
bool same_notes(const NotePrint &a, const NotePrint &b)
{
    return same_notes_text(a, b) && a.put == b.put;
}
bool same_rtf(const NotePrint &a, const NotePrint &b)
{
    return a.has_rtf == b.has_rtf && a.rtf == b.rtf;
}
bool same_content(const NotePrint &a, const NotePrint &b)
{
    return same_title(a, b) && same_notes_text(a, b) && same_rtf(a, b);
}

// Patches a sorted list of fingerprints: every key in `changes` is replaced by its value or,
// when that is empty, removed.
template <typename T, typename K, typename KeyOf>
void patch_sorted(std::vector<T> &list, const std::map<K, std::optional<T>> &changes, KeyOf key_of)
{
    if (changes.empty())
        return;
    std::vector<T> out;
    out.reserve(list.size() + changes.size());
    auto c = changes.begin();
    for (const T &e : list) {
        while (c != changes.end() && c->first < key_of(e)) {
            if (c->second)
                out.push_back(*c->second);
            ++c;
        }
        if (c != changes.end() && c->first == key_of(e)) {
            if (c->second)
                out.push_back(*c->second);
            ++c;
        } else {
            out.push_back(e);
        }
    }
    for (; c != changes.end(); ++c) {
        if (c->second)
            out.push_back(*c->second);
    }
    list = std::move(out);
}

// Visits the union of keys of sorted lists in ascending order.
template <typename T, typename KeyOf, typename Fn>
void for_each_key(const std::vector<const std::vector<T> *> &lists, KeyOf key_of, Fn fn)
{
    std::vector<std::size_t> pos(lists.size(), 0);
    for (;;) {
        bool any = false;
        qint64 key = 0;
        for (std::size_t i = 0; i < lists.size(); ++i) {
            if (pos[i] < lists[i]->size()) {
                const qint64 k = key_of((*lists[i])[pos[i]]);
                if (!any || k < key)
                    key = k;
                any = true;
            }
        }
        if (!any)
            return;
        fn(key);
        for (std::size_t i = 0; i < lists.size(); ++i) {
            if (pos[i] < lists[i]->size() && key_of((*lists[i])[pos[i]]) == key)
                ++pos[i];
        }
    }
}

class Merger {
  public:
    Merger(const Fingerprints *base, Connection &local, Connection &share, const QDateTime &now)
        : has_base_(base != nullptr), B_(base ? *base : empty_), ldb_(local), sdb_(share), now_(now)
    {
    }

    MergeResult run(Fingerprints local_prints, Fingerprints share_prints);

  private:
    enum Table { kMajor, kMinor, kNote, kPicture, kSpare, kTables };

    // Steps, in the order they run.
    void prepare_allocators();
    void plan_categories(bool major);
    void collect_picture_notes();
    void plan_notes();
    void plan_pictures();
    void resolve_categories();
    void keep_captions_unique(bool major);
    void write_categories(bool major);
    void write_notes();
    void write_pictures();
    void merge_settings();
    void merge_spare();
    void write_sequences();
    Fingerprints merged_prints();

    // Local ids to merged ids.
    qint64 map_ref(Table t, qint64 local_id);
    std::pair<qint64, qint64> map_place(const NotePrint &l);
    bool local_note_changed(const NotePrint *b, const NotePrint &l) const;
    bool share_note_changed(const NotePrint *b, const NotePrint &r) const;
    void plan_fields(NotePlan &plan, const NotePrint *b, const NotePrint &l, const NotePrint &r);
    void plan_local_fields(NotePlan &plan, const NotePrint &l);
    void note_references(const NotePlan &plan, std::set<qint64> &majors, std::set<qint64> &minors) const;

    // Writing pieces.
    void insert_local_note(const NotePlan &plan);
    void copy_local_titles(qint64 local_id, qint64 id, qint64 px, qint64 fast, qint64 class_id, qint64 section_id,
                           bool mark);
    bool copy_local_row(const QString &select, qint64 local_key, const QString &replace, qint64 key, int columns);
    void copy_local_notes_row(qint64 local_id, qint64 id);
    void copy_local_rtf(qint64 local_id, qint64 id);
    void copy_local_picture(qint64 local_id, qint64 id, qint64 note_id, bool replace);
    int share_title_rows(qint64 note_id);

    static inline const Fingerprints empty_{};
    const bool has_base_;
    const Fingerprints &B_;
    Connection &ldb_;
    Connection &sdb_;
    const QDateTime now_;

    Fingerprints L_, R_;
    MergeReport report_;

    CatTable local_cats_[2], share_cats_[2];
    std::map<qint64, MergedCat> merged_cats_[2];
    std::set<qint64> restore_candidates_[2], delete_candidates_[2];

    IdAllocator alloc_[kTables];
    std::unordered_map<qint64, qint64> map_[kTables];
    bool reserved_[kTables] = {};

    std::vector<NotePlan> note_plans_;
    std::unordered_set<qint64> conflict_notes_; // local ids
    std::unordered_set<qint64> local_picture_notes_, share_picture_notes_;
    std::vector<PicturePlan> picture_plans_;

    // Rows written, to bring their fingerprints up to date.
    std::set<qint64> touched_[kTables];
    QSet<QString> touched_settings_;
};

// ---- Ids ----

void Merger::prepare_allocators()
{
    static const char *const names[kTables] = {"Class", "Section", "notes", "picture", "beiyong_table"};
    for (int t = 0; t < kTables; ++t)
        alloc_[t].raise_to(R_.sequence(QLatin1String(names[t])));
    for (const auto &c : R_.majors)
        alloc_[kMajor].raise_to(c.id);
    for (const auto &c : R_.minors) {
        alloc_[kMinor].raise_to(c.id);
        alloc_[kMajor].raise_to(c.class_id);
    }
    // References of the share's notes and pictures count too: a row deleted on the share may
    // have left them behind (a deleted note keeps its pictures), and a new row must not adopt them.
    for (const auto &n : R_.notes) {
        alloc_[kNote].raise_to(n.id);
        alloc_[kMajor].raise_to(n.class_id);
        alloc_[kMinor].raise_to(n.section_id);
    }
    for (const auto &p : R_.pictures) {
        alloc_[kPicture].raise_to(p.id);
        alloc_[kNote].raise_to(p.note_id);
    }
    for (const auto &s : R_.spare)
        alloc_[kSpare].raise_to(s.key);
}

qint64 Merger::map_ref(Table t, qint64 local_id)
{
    const auto it = map_[t].find(local_id);
    if (it != map_[t].end())
        return it->second;
    // A row of this machine that kept its id, or a reference to a row that is gone here. A
    // reference to a row the base knew (or an id the base had handed out) means the same on both
    // sides; one to a row that was new here and is gone gets an id nobody will use, so that it
    // points nowhere on the share as well.
    bool known = local_id <= 0;
    switch (t) {
    case kMajor:
        known = known || L_.major(local_id) || B_.major(local_id) || local_id <= B_.sequence(QStringLiteral("Class"));
        break;
    case kMinor:
        known = known || L_.minor(local_id) || B_.minor(local_id) || local_id <= B_.sequence(QStringLiteral("Section"));
        break;
    case kNote:
        known = known || L_.note(local_id) || B_.note(local_id) || local_id <= B_.sequence(QStringLiteral("notes"));
        break;
    default:
        known = true;
        break;
    }
    if (known)
        return local_id;
    const qint64 id = alloc_[t].fresh();
    reserved_[t] = true;
    map_[t].emplace(local_id, id);
    return id;
}

std::pair<qint64, qint64> Merger::map_place(const NotePrint &l)
{
    const qint64 section = map_ref(kMinor, l.section_id);
    // A note that lies in its minor category's major category stays with it, also when the
    // minor category met a new one of the share under another major category.
    const auto local_section = local_cats_[kMinor].find(l.section_id);
    const auto merged_section = merged_cats_[kMinor].find(section);
    if (local_section != local_cats_[kMinor].end() && local_section->second.class_id == l.class_id &&
        merged_section != merged_cats_[kMinor].end())
        return {merged_section->second.row.class_id, section};
    return {map_ref(kMajor, l.class_id), section};
}

// ---- Categories ----

void Merger::plan_categories(bool major)
{
    const int k = major ? kMajor : kMinor;
    const CatTable &L = local_cats_[k];
    const CatTable &R = share_cats_[k];
    auto &M = merged_cats_[k];
    for (const auto &[id, row] : R)
        M.emplace(id, MergedCat{row, false, false});
    const auto base_of = [&](qint64 id) { return major ? B_.major(id) : B_.minor(id); };
    const auto local_class = [&](const CatRow &row) { return major ? 0 : map_ref(kMajor, row.class_id); };
    const auto differs = [](const CategoryPrint &b, const CatRow &row) {
        return caption_hash(row.caption) != b.caption || row.px != b.px || row.class_id != b.class_id;
    };

    for (const CategoryPrint &b : major ? B_.majors : B_.minors) {
        const auto l = L.find(b.id);
        const auto r = R.find(b.id);
        if (l != L.end())
            map_[k].emplace(b.id, b.id);
        if (l != L.end() && r != R.end()) {
            MergedCat &m = M[b.id];
            bool applied = false;
            if (caption_hash(l->second.caption) != b.caption && caption_hash(r->second.caption) == b.caption) {
                m.row.caption = l->second.caption;
                m.row.null_caption = l->second.null_caption;
                m.caption_local = true;
                applied = true;
            }
            if (l->second.px != b.px && r->second.px == b.px) {
                m.row.px = l->second.px;
                applied = true;
            }
            if (l->second.class_id != b.class_id && r->second.class_id == b.class_id) {
                m.row.class_id = local_class(l->second);
                applied = true;
            }
            if (applied) {
                m.local_origin = true;
                ++report_.applied_local_changes;
            }
        } else if (l != L.end()) { // deleted on the share
            if (differs(b, l->second)) {
                CatRow row = l->second;
                row.class_id = local_class(row);
                M[b.id] = MergedCat{row, true, true};
                ++report_.kept_deletions;
            } else {
                restore_candidates_[k].insert(b.id);
            }
        } else if (r != R.end()) { // deleted here
            if (differs(b, r->second))
                ++report_.kept_deletions;
            else
                delete_candidates_[k].insert(b.id);
        }
    }

    // New here: the same category as a new one of the share with that caption, else a new row.
    const auto same_caption = [&](const CatRow &a, const CatRow &b) {
        return major ? a.text().compare(b.text(), Qt::CaseInsensitive) == 0 : a.caption == b.caption;
    };
    for (const auto &[id, row] : L) {
        if (base_of(id))
            continue;
        const CatRow *match = nullptr;
        const auto same_id = R.find(id);
        if (same_id != R.end() && same_caption(same_id->second, row)) {
            match = &same_id->second;
        } else {
            for (const auto &[rid, rrow] : R) {
                if (!base_of(rid) && same_caption(rrow, row)) {
                    match = &rrow;
                    break;
                }
            }
        }
        if (match) {
            map_[k].emplace(id, match->id);
            continue;
        }
        const qint64 new_id = alloc_[k].keep_or_next(id);
        map_[k].emplace(id, new_id);
        CatRow copy = row;
        copy.id = new_id;
        copy.class_id = local_class(row);
        M[new_id] = MergedCat{copy, true, true};
        ++report_.applied_local_changes;
        if (new_id != id)
            ++report_.renumbered_rows;
    }
}

// Categories deleted on one side and unchanged on the other go, unless notes (or minor
// categories) changed on the other side lie in them.
void Merger::resolve_categories()
{
    std::set<qint64> local_refs[2], share_refs[2];
    std::unordered_map<qint64, const NotePlan *> planned;
    for (const NotePlan &plan : note_plans_) {
        note_references(plan, local_refs[kMajor], local_refs[kMinor]);
        planned.emplace(plan.local_id, &plan);
    }
    // Notes changed here of which nothing was written (a picture changed, or the share made the
    // same change) lie where the share has them.
    for (const NotePrint &l : L_.notes) {
        const NotePrint *r = R_.note(l.id);
        if (r && r->has_title && !planned.count(l.id) && local_note_changed(B_.note(l.id), l)) {
            local_refs[kMajor].insert(r->class_id);
            local_refs[kMinor].insert(r->section_id);
        }
    }
    // Notes changed on the share, where they lie in the result.
    for (const NotePrint &r : R_.notes) {
        if (!r.has_title || !share_note_changed(B_.note(r.id), r))
            continue;
        const auto plan = planned.find(r.id);
        const bool merged_place = plan != planned.end() && (plan->second->action == NoteAction::Parts ||
                                                            plan->second->action == NoteAction::Conflict);
        share_refs[kMajor].insert(merged_place ? plan->second->class_id : r.class_id);
        share_refs[kMinor].insert(merged_place ? plan->second->section_id : r.section_id);
    }
    for (int k : {kMinor, kMajor}) {
        if (k == kMajor) {
            // Minor categories, restored ones included, hold on to their major category.
            for (const auto &[id, m] : merged_cats_[kMinor]) {
                if (m.local_origin)
                    local_refs[kMajor].insert(m.row.class_id);
                const auto r = share_cats_[kMinor].find(id);
                const CategoryPrint *b = B_.minor(id);
                if (r != share_cats_[kMinor].end() &&
                    (!b || b->class_id != r->second.class_id || b->caption != caption_hash(r->second.caption) ||
                     b->px != r->second.px))
                    share_refs[kMajor].insert(r->second.class_id);
            }
        }
        for (qint64 id : restore_candidates_[k]) {
            if (!local_refs[k].count(id))
                continue;
            CatRow row = local_cats_[k].at(id);
            if (k == kMinor)
                row.class_id = map_ref(kMajor, row.class_id);
            merged_cats_[k][id] = MergedCat{row, true, true};
            ++report_.kept_deletions;
        }
        for (qint64 id : delete_candidates_[k]) {
            if (share_refs[k].count(id)) {
                ++report_.kept_deletions;
                continue;
            }
            merged_cats_[k].erase(id);
            ++report_.applied_local_changes;
        }
    }
}

void Merger::keep_captions_unique(bool major)
{
    auto &M = merged_cats_[major ? kMajor : kMinor];
    const auto key = [&](const MergedCat &m) { return major ? m.row.text().toCaseFolded() : m.row.text(); };
    QMap<QString, QList<qint64>> groups;
    QSet<QString> taken;
    for (const auto &[id, m] : M) {
        groups[key(m)].append(id);
        taken.insert(key(m));
    }
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        if (it.value().size() < 2)
            continue;
        // The categories of the share keep their captions (the share had them unique); of this
        // machine's, the first keeps its caption only when no category of the share has it.
        bool share_has = false;
        for (qint64 id : it.value())
            share_has = share_has || !M[id].caption_local;
        bool first_kept = share_has;
        for (qint64 id : it.value()) {
            MergedCat &m = M[id];
            if (!m.caption_local)
                continue;
            if (!first_kept) {
                first_kept = true;
                continue;
            }
            const QString from = m.row.text();
            QString to;
            for (int attempt = 1;; ++attempt) {
                to = from + category_suffix(now_, attempt);
                if (!taken.contains(major ? to.toCaseFolded() : to))
                    break;
            }
            taken.insert(major ? to.toCaseFolded() : to);
            m.row.caption = to.toUtf8();
            m.row.null_caption = false;
            report_.renames.append(CategoryRename{major, from, to});
            ++report_.renamed_categories;
        }
    }
}

void Merger::write_categories(bool major)
{
    const int k = major ? kMajor : kMinor;
    const QString table = major ? QStringLiteral("Class") : QStringLiteral("Section");
    const auto &R = share_cats_[k];
    const auto &M = merged_cats_[k];
    PreparedQuery del(sdb_, QStringLiteral("delete from %1 where id=?1").arg(table));
    PreparedQuery put(sdb_, major ? QStringLiteral("replace into Class(id,px,caption) values(?1,?2,?4)")
                                  : QStringLiteral("replace into Section(id,px,classId,caption) values(?1,?2,?3,?4)"));
    for (const auto &[id, row] : R) {
        if (!M.count(id)) {
            del.bind(1, id);
            del.run();
            touched_[k].insert(id);
        }
    }
    for (const auto &[id, m] : M) {
        const auto r = R.find(id);
        if (r != R.end() && r->second.px == m.row.px && r->second.class_id == m.row.class_id &&
            r->second.caption == m.row.caption && r->second.null_caption == m.row.null_caption)
            continue;
        put.bind(1, id);
        put.bind(2, m.row.px);
        if (!major)
            put.bind(3, m.row.class_id);
        put.bind(4, m.row.null_caption ? QVariant() : QVariant(m.row.text()));
        put.run();
        touched_[k].insert(id);
    }
}

// ---- Notes ----

bool Merger::local_note_changed(const NotePrint *b, const NotePrint &l) const
{
    return !b || !(*b == l) || local_picture_notes_.count(l.id);
}

bool Merger::share_note_changed(const NotePrint *b, const NotePrint &r) const
{
    return !b || !(*b == r) || share_picture_notes_.count(r.id);
}

// Notes whose pictures changed on either side (added, deleted, replaced): such a note counts as
// changed when the other side deleted it.
void Merger::collect_picture_notes()
{
    const auto scan = [&](const Fingerprints &side, std::unordered_set<qint64> &out) {
        for_each_key<PicturePrint>(
            {&B_.pictures, &side.pictures}, [](const PicturePrint &p) { return p.id; },
            [&](qint64 id) {
                const PicturePrint *b = B_.picture(id);
                const PicturePrint *s = side.picture(id);
                if (b && s && *b == *s)
                    return;
                if (b)
                    out.insert(b->note_id);
                if (s)
                    out.insert(s->note_id);
            });
    };
    scan(L_, local_picture_notes_);
    scan(R_, share_picture_notes_);
}

void Merger::plan_local_fields(NotePlan &plan, const NotePrint &l)
{
    plan.px = l.px;
    plan.fast = l.fast;
    std::tie(plan.class_id, plan.section_id) = map_place(l);
}

void Merger::plan_fields(NotePlan &plan, const NotePrint *b, const NotePrint &l, const NotePrint &r)
{
    plan.px = r.px;
    plan.fast = r.fast;
    plan.class_id = r.class_id;
    plan.section_id = r.section_id;
    if (!r.has_title) {
        // The share's note has no title row: one of this machine comes with the title part.
        if (plan.take_title && l.has_title)
            plan_local_fields(plan, l);
        return;
    }
    if (!b || !b->has_title || !l.has_title)
        return;
    if (l.px != b->px && r.px == b->px)
        plan.px = l.px;
    if (l.fast != b->fast && r.fast == b->fast)
        plan.fast = l.fast;
    if ((l.class_id != b->class_id || l.section_id != b->section_id) &&
        (r.class_id == b->class_id && r.section_id == b->section_id))
        std::tie(plan.class_id, plan.section_id) = map_place(l);
    plan.set_fields =
        plan.px != r.px || plan.fast != r.fast || plan.class_id != r.class_id || plan.section_id != r.section_id;
}

// The categories in which a note written from this machine lies.
void Merger::note_references(const NotePlan &plan, std::set<qint64> &majors, std::set<qint64> &minors) const
{
    if (plan.action == NoteAction::Delete)
        return;
    majors.insert(plan.class_id);
    minors.insert(plan.section_id);
    if (plan.action == NoteAction::Conflict) {
        majors.insert(plan.copy_class_id);
        minors.insert(plan.copy_section_id);
    }
}

void Merger::plan_notes()
{
    std::vector<NotePlan> copies; // conflicts get their copy ids after every new note has one
    for_each_key<NotePrint>(
        {&B_.notes, &L_.notes, &R_.notes}, [](const NotePrint &p) { return p.id; },
        [&](qint64 id) {
            const NotePrint *b = B_.note(id);
            const NotePrint *l = L_.note(id);
            const NotePrint *r = R_.note(id);
            NotePlan plan;
            plan.local_id = id;
            plan.id = id;
            if (b && l && r) {
                const bool lt = !same_title(*l, *b), rt = !same_title(*r, *b);
                const bool ln = !same_notes(*l, *b), rn = !same_notes(*r, *b);
                const bool ln_text = !same_notes_text(*l, *b), rn_text = !same_notes_text(*r, *b);
                const bool lr = !same_rtf(*l, *b), rr = !same_rtf(*r, *b);
                const bool conflict = (lt && rt && !same_title(*l, *r)) ||
                                      (ln_text && rn_text && !same_notes_text(*l, *r)) ||
                                      (lr && rr && !same_rtf(*l, *r));
                if (conflict) {
                    plan.action = NoteAction::Conflict;
                } else {
                    plan.take_title = lt && !rt;
                    plan.take_notes = ln && !rn;
                    plan.take_rtf = lr && !rr;
                }
                plan_fields(plan, b, *l, *r);
                if (plan.action == NoteAction::Conflict) {
                    conflict_notes_.insert(id);
                    copies.push_back(plan);
                    return;
                }
                if (plan.take_title || plan.take_notes || plan.take_rtf || plan.set_fields) {
                    ++report_.applied_local_changes;
                    note_plans_.push_back(plan);
                }
            } else if (b && l) { // deleted on the share
                if (local_note_changed(b, *l)) {
                    plan.action = NoteAction::Insert;
                    plan_local_fields(plan, *l);
                    ++report_.kept_deletions;
                    note_plans_.push_back(plan);
                }
            } else if (b && r) { // deleted here
                if (share_note_changed(b, *r)) {
                    ++report_.kept_deletions;
                } else {
                    plan.action = NoteAction::Delete;
                    ++report_.applied_local_changes;
                    note_plans_.push_back(plan);
                }
            } else if (!b && l) {
                if (r && same_content(*l, *r))
                    return; // the same note on both sides
                if (r && !has_base_) {
                    // Without a base, the same id on both sides is the same note changed on both.
                    plan.action = NoteAction::Conflict;
                    plan_fields(plan, nullptr, *l, *r);
                    conflict_notes_.insert(id);
                    copies.push_back(plan);
                    return;
                }
                plan.action = NoteAction::Insert;
                plan.id = alloc_[kNote].keep_or_next(id);
                map_[kNote].emplace(id, plan.id);
                plan_local_fields(plan, *l);
                ++report_.applied_local_changes;
                if (plan.id != id)
                    ++report_.renumbered_rows;
                note_plans_.push_back(plan);
            }
        });
    for (NotePlan &plan : copies) {
        // The copy lies beside the note as merged; when the share's note has no title row, where
        // this machine had it.
        plan.copy_id = alloc_[kNote].fresh();
        const NotePrint *r = R_.note(plan.local_id);
        if (r->has_title) {
            plan.copy_px = plan.px;
            plan.copy_class_id = plan.class_id;
            plan.copy_section_id = plan.section_id;
        } else {
            const NotePrint *l = L_.note(plan.local_id);
            plan.copy_px = l->px;
            std::tie(plan.copy_class_id, plan.copy_section_id) = map_place(*l);
        }
        if (plan.set_fields)
            ++report_.applied_local_changes;
        ++report_.conflict_copies;
        note_plans_.push_back(plan);
    }
}

// ---- Pictures ----

void Merger::plan_pictures()
{
    for_each_key<PicturePrint>(
        {&B_.pictures, &L_.pictures, &R_.pictures}, [](const PicturePrint &p) { return p.id; },
        [&](qint64 id) {
            const PicturePrint *b = B_.picture(id);
            const PicturePrint *l = L_.picture(id);
            const PicturePrint *r = R_.picture(id);
            // The pictures of a note in conflict travel with this machine's copy of it.
            if ((l && conflict_notes_.count(l->note_id)) || (b && !l && conflict_notes_.count(b->note_id)))
                return;
            PicturePlan plan;
            plan.local_id = id;
            plan.id = id;
            if (l)
                plan.note_id = map_ref(kNote, l->note_id);
            if (b && l && r) {
                const bool lc = !(*l == *b), rc = !(*r == *b);
                if (lc && !rc) {
                    picture_plans_.push_back(plan);
                    ++report_.applied_local_changes;
                } else if (lc && rc && (l->img != r->img || plan.note_id != r->note_id)) {
                    plan.action = PictureAction::InsertCopy;
                    plan.id = alloc_[kPicture].fresh();
                    picture_plans_.push_back(plan);
                    ++report_.applied_local_changes;
                }
            } else if (b && l) { // deleted on the share
                if (!(*l == *b)) {
                    picture_plans_.push_back(plan);
                    ++report_.kept_deletions;
                }
            } else if (b && r) { // deleted here
                if (!(*r == *b)) {
                    ++report_.kept_deletions;
                } else {
                    plan.action = PictureAction::Delete;
                    picture_plans_.push_back(plan);
                    ++report_.applied_local_changes;
                }
            } else if (!b && l) {
                if (r && r->img == l->img && r->note_id == plan.note_id)
                    return; // the same picture on both sides
                plan.action = PictureAction::InsertCopy;
                plan.id = alloc_[kPicture].keep_or_next(id);
                picture_plans_.push_back(plan);
                ++report_.applied_local_changes;
                if (plan.id != id)
                    ++report_.renumbered_rows;
            }
        });
}

// ---- Writing notes and pictures ----

int Merger::share_title_rows(qint64 note_id)
{
    return int(sdb_.query_first(QStringLiteral("select count(*) from title where noteId=?1"), {note_id})->toLongLong());
}

// Copies the row `select` finds on this machine for `local_key` (bound to ?1) into the shared
// database by `replace`: `key` goes to ?1, the row's `columns` columns to ?2 onwards, as stored.
// False when this machine has no such row.
bool Merger::copy_local_row(const QString &select, qint64 local_key, const QString &replace, qint64 key, int columns)
{
    PreparedQuery from(ldb_, select);
    from.bind(1, local_key);
    if (!from.next())
        return false;
    PreparedQuery to(sdb_, replace);
    to.bind(1, key);
    for (int c = 0; c < columns; ++c)
        to.bind_column(c + 2, from, c);
    to.run();
    return true;
}

void Merger::copy_local_notes_row(qint64 local_id, qint64 id)
{
    if (!copy_local_row(QStringLiteral("select isDel,beiyong1,beiyong2,label,cuanjian,put,content from notes "
                                       "where id=?1"),
                        local_id,
                        QStringLiteral("replace into notes(id,isDel,beiyong1,beiyong2,label,cuanjian,put,content) "
                                       "values(?1,?2,?3,?4,?5,?6,?7,?8)"),
                        id, 7))
        sdb_.execute(QStringLiteral("delete from notes where id=?1"), {id});
}

void Merger::copy_local_rtf(qint64 local_id, qint64 id)
{
    if (!copy_local_row(QStringLiteral("select rtf from rtffile where noteId=?1"), local_id,
                        QStringLiteral("replace into rtffile(noteId,rtf) values(?1,?2)"), id, 1))
        sdb_.execute(QStringLiteral("delete from rtffile where noteId=?1"), {id});
}

// Inserts this machine's title rows of a note under `id` with the given order, favourite and
// place; with `mark`, the caption gets the conflict suffix (unless it is ciphertext).
void Merger::copy_local_titles(qint64 local_id, qint64 id, qint64 px, qint64 fast, qint64 class_id, qint64 section_id,
                               bool mark)
{
    PreparedQuery from(ldb_, QStringLiteral("select isDel,beiyong1,beiyong2,beiyong3,beiyong4,beiyong5,isRtf,caption "
                                            "from title where noteId=?1 order by id"));
    from.bind(1, local_id);
    PreparedQuery to(sdb_, QStringLiteral("insert into title(px,classId,sectionId,noteId,fast,isDel,beiyong1,beiyong2,"
                                          "beiyong3,beiyong4,beiyong5,isRtf,caption) "
                                          "values(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13)"));
    bool unmarked = false;
    while (from.next()) {
        to.bind(1, px);
        to.bind(2, class_id);
        to.bind(3, section_id);
        to.bind(4, id);
        to.bind(5, fast);
        for (int c = 0; c < 7; ++c)
            to.bind_column(c + 6, from, c);
        // A note encrypted with title (isDel 1) stores its caption as ciphertext: anything
        // appended would make the caption, and so the note, unreadable with its password. Its
        // copy keeps the stored caption and is told apart only by its place and id. A note
        // encrypted body-only (isDel 2) keeps its title in plain after ":ppp", where the suffix
        // can go.
        if (mark && from.integer(0) != 1)
            to.bind(13, QString::fromUtf8(from.text_bytes(7)) + conflict_copy_suffix(now_));
        else
            to.bind_column(13, from, 7);
        unmarked = unmarked || (mark && from.integer(0) == 1);
        to.run();
    }
    if (unmarked)
        ++report_.unmarked_copies;
}

void Merger::copy_local_picture(qint64 local_id, qint64 id, qint64 note_id, bool replace)
{
    PreparedQuery from(ldb_, QStringLiteral("select img from picture where id=?1"));
    from.bind(1, local_id);
    if (!from.next())
        return;
    PreparedQuery to(sdb_, replace ? QStringLiteral("replace into picture(id,articleId,img) values(?1,?2,?3)")
                                   : QStringLiteral("insert into picture(id,articleId,img) values(?1,?2,?3)"));
    to.bind(1, id);
    to.bind(2, note_id);
    to.bind_column(3, from, 0);
    to.run();
    touched_[kPicture].insert(id);
}

void Merger::insert_local_note(const NotePlan &plan)
{
    copy_local_notes_row(plan.local_id, plan.id);
    copy_local_rtf(plan.local_id, plan.id);
    copy_local_titles(plan.local_id, plan.id, plan.px, plan.fast, plan.class_id, plan.section_id, false);
}

void Merger::write_notes()
{
    for (const NotePlan &plan : note_plans_) {
        const qint64 id = plan.id;
        touched_[kNote].insert(id);
        switch (plan.action) {
        case NoteAction::Delete:
            sdb_.execute(QStringLiteral("delete from title where noteId=?1"), {id});
            sdb_.execute(QStringLiteral("delete from notes where id=?1"), {id});
            sdb_.execute(QStringLiteral("delete from rtffile where noteId=?1"), {id});
            break;
        case NoteAction::Insert:
            insert_local_note(plan);
            break;
        case NoteAction::Parts:
        case NoteAction::Conflict: {
            if (plan.take_notes)
                copy_local_notes_row(plan.local_id, id);
            if (plan.take_rtf)
                copy_local_rtf(plan.local_id, id);
            if (plan.take_title) {
                const int local_rows =
                    int(ldb_.query_first(QStringLiteral("select count(*) from title where noteId=?1"), {plan.local_id})
                            ->toLongLong());
                if (local_rows == 1 && share_title_rows(id) > 0) {
                    // Content columns only: the row keeps its id (the list's order among equal
                    // px) and takes the merged fields below.
                    PreparedQuery from(ldb_, QStringLiteral("select isDel,beiyong1,beiyong2,beiyong3,beiyong4,"
                                                            "beiyong5,isRtf,caption from title where noteId=?1"));
                    from.bind(1, plan.local_id);
                    from.next();
                    PreparedQuery to(sdb_, QStringLiteral("update title set isDel=?1,beiyong1=?2,beiyong2=?3,"
                                                          "beiyong3=?4,beiyong4=?5,beiyong5=?6,isRtf=?7,caption=?8 "
                                                          "where noteId=?9"));
                    for (int c = 0; c < 8; ++c)
                        to.bind_column(c + 1, from, c);
                    to.bind(9, id);
                    to.run();
                } else {
                    sdb_.execute(QStringLiteral("delete from title where noteId=?1"), {id});
                    copy_local_titles(plan.local_id, id, plan.px, plan.fast, plan.class_id, plan.section_id, false);
                }
            }
            if (plan.set_fields) {
                sdb_.execute(QStringLiteral("update title set px=?1,fast=?2,classId=?3,sectionId=?4 where noteId=?5"),
                             {plan.px, plan.fast, plan.class_id, plan.section_id, id});
            }
            if (plan.action == NoteAction::Conflict) {
                // This machine's version beside the share's, in the same minor category and
                // order; the favourite mark stays with the original.
                const qint64 copy = plan.copy_id;
                copy_local_notes_row(plan.local_id, copy);
                copy_local_rtf(plan.local_id, copy);
                copy_local_titles(plan.local_id, copy, plan.copy_px, 0, plan.copy_class_id, plan.copy_section_id, true);
                PreparedQuery pictures(ldb_, QStringLiteral("select id from picture where articleId=?1 order by id"));
                pictures.bind(1, plan.local_id);
                while (pictures.next())
                    copy_local_picture(pictures.integer(0), alloc_[kPicture].fresh(), copy, false);
                touched_[kNote].insert(copy);
                report_.copy_ids.append(copy);
            }
            break;
        }
        }
    }
}

void Merger::write_pictures()
{
    for (const PicturePlan &plan : picture_plans_) {
        switch (plan.action) {
        case PictureAction::Write:
            copy_local_picture(plan.local_id, plan.id, plan.note_id, true);
            break;
        case PictureAction::InsertCopy:
            copy_local_picture(plan.local_id, plan.id, plan.note_id, false);
            break;
        case PictureAction::Delete:
            sdb_.execute(QStringLiteral("delete from picture where id=?1"), {plan.id});
            touched_[kPicture].insert(plan.id);
            break;
        }
    }
}

// ---- Settings and spare rows ----

void Merger::merge_settings()
{
    QSet<QString> keys;
    for (const std::vector<SettingPrint> *list :
         {&B_.settings, static_cast<const std::vector<SettingPrint> *>(&L_.settings),
          static_cast<const std::vector<SettingPrint> *>(&R_.settings)}) {
        for (const SettingPrint &s : *list)
            keys.insert(s.key);
    }
    bool table_ready = false;
    const auto replace_with_local = [&](const QString &key) {
        if (!table_ready) {
            if (sdb_.query_first(QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                                "name='set_table' collate nocase"))
                    ->toLongLong() == 0)
                sdb_.execute(QStringLiteral("CREATE TABLE set_table (key1 TEXT,value1 TEXT);"));
            table_ready = true;
        }
        sdb_.execute(QStringLiteral("delete from set_table where key1=?1"), {key});
        if (L_.setting(key)) {
            PreparedQuery from(ldb_, QStringLiteral("select key1, value1 from set_table where key1=?1 order by rowid"));
            from.bind(1, key);
            PreparedQuery to(sdb_, QStringLiteral("insert into set_table(key1,value1) values(?1,?2)"));
            while (from.next()) {
                to.bind_column(1, from, 0);
                to.bind_column(2, from, 1);
                to.run();
            }
        }
        touched_settings_.insert(key);
    };
    QStringList sorted(keys.cbegin(), keys.cend());
    sorted.sort();
    for (const QString &key : sorted) {
        if (key == kCallerKey)
            continue;
        const SettingPrint *b = B_.setting(key);
        const SettingPrint *l = L_.setting(key);
        const SettingPrint *r = R_.setting(key);
        const auto same = [](const SettingPrint *x, const SettingPrint *y) {
            return (!x && !y) || (x && y && x->value == y->value);
        };
        if (key == kLocalKey) {
            if (!same(l, r)) {
                replace_with_local(key);
                ++report_.applied_local_changes;
            }
            continue;
        }
        const bool lc = !same(l, b), rc = !same(r, b);
        if (lc && !rc) {
            replace_with_local(key);
            ++report_.applied_local_changes;
        } else if (lc && rc && !same(l, r)) {
            // Both changed: the share's value, except that a deletion loses to a change.
            if (!r && b) {
                replace_with_local(key);
                ++report_.kept_deletions;
            } else if (!l && b) {
                ++report_.kept_deletions;
            }
        }
    }
}

void Merger::merge_spare()
{
    if (L_.spare.empty() && B_.spare.empty())
        return;
    const auto copy = [&](qint64 local_key, qint64 key) {
        if (copy_local_row(QStringLiteral("select value1,value2,value3,value4 from beiyong_table where key1=?1"),
                           local_key,
                           QStringLiteral("replace into beiyong_table(key1,value1,value2,value3,value4) "
                                          "values(?1,?2,?3,?4,?5)"),
                           key, 4))
            touched_[kSpare].insert(key);
    };
    for_each_key<SparePrint>(
        {&B_.spare, &L_.spare, &R_.spare}, [](const SparePrint &s) { return s.key; },
        [&](qint64 key) {
            const SparePrint *b = B_.spare_row(key);
            const SparePrint *l = L_.spare_row(key);
            const SparePrint *r = R_.spare_row(key);
            if (b && l && r) {
                if (!(*l == *b) && *r == *b) {
                    copy(key, key);
                    ++report_.applied_local_changes;
                }
            } else if (b && l) {
                if (!(*l == *b)) {
                    copy(key, key);
                    ++report_.kept_deletions;
                }
            } else if (b && r) {
                if (*r == *b) {
                    sdb_.execute(QStringLiteral("delete from beiyong_table where key1=?1"), {key});
                    touched_[kSpare].insert(key);
                    ++report_.applied_local_changes;
                } else {
                    ++report_.kept_deletions;
                }
            } else if (!b && l && !(r && *r == *l)) {
                const qint64 new_key = alloc_[kSpare].keep_or_next(key);
                copy(key, new_key);
                ++report_.applied_local_changes;
                if (new_key != key)
                    ++report_.renumbered_rows;
            }
        });
}

// Ids handed out for references that point nowhere are recorded as used, so that the program
// never gives them to a new row.
void Merger::write_sequences()
{
    static const char *const names[kTables] = {"Class", "Section", "notes", "picture", "beiyong_table"};
    for (int t = 0; t < kTables; ++t) {
        if (!reserved_[t])
            continue;
        const QString name = QLatin1String(names[t]);
        const qint64 last = alloc_[t].last();
        if (sdb_.execute(QStringLiteral("update sqlite_sequence set seq=?1 where name=?2 and seq<?1"), {last, name}) ==
                0 &&
            sdb_.query_first(QStringLiteral("select count(*) from sqlite_sequence where name=?1"), {name})
                    ->toLongLong() == 0)
            sdb_.execute(QStringLiteral("insert into sqlite_sequence(name,seq) values(?1,?2)"), {name, last});
    }
}

Fingerprints Merger::merged_prints()
{
    Fingerprints m = std::move(R_);
    for (int major = 1; major >= 0; --major) {
        const int k = major ? kMajor : kMinor;
        std::map<qint64, std::optional<CategoryPrint>> changes;
        for (qint64 id : touched_[k])
            changes[id] = detail::read_category(sdb_, major, id);
        patch_sorted(major ? m.majors : m.minors, changes, [](const CategoryPrint &p) { return p.id; });
    }
    {
        std::map<qint64, std::optional<NotePrint>> changes;
        for (qint64 id : touched_[kNote]) {
            NotePrint p = detail::read_note(sdb_, id);
            changes[id] = note_present(p) ? std::optional<NotePrint>(p) : std::nullopt;
        }
        patch_sorted(m.notes, changes, [](const NotePrint &p) { return p.id; });
    }
    {
        std::map<qint64, std::optional<PicturePrint>> changes;
        for (qint64 id : touched_[kPicture])
            changes[id] = detail::read_picture(sdb_, id);
        patch_sorted(m.pictures, changes, [](const PicturePrint &p) { return p.id; });
    }
    {
        std::map<qint64, std::optional<SparePrint>> changes;
        for (qint64 key : touched_[kSpare])
            changes[key] = detail::read_spare(sdb_, key);
        patch_sorted(m.spare, changes, [](const SparePrint &p) { return p.key; });
    }
    {
        std::map<QString, std::optional<SettingPrint>> changes;
        for (const QString &key : touched_settings_)
            changes[key] = detail::read_setting(sdb_, key);
        patch_sorted(m.settings, changes, [](const SettingPrint &p) -> const QString & { return p.key; });
    }
    m.sequences = detail::read_sequences(sdb_);
    m.meta.clear();
    return m;
}

MergeResult Merger::run(Fingerprints local_prints, Fingerprints share_prints)
{
    L_ = std::move(local_prints);
    R_ = std::move(share_prints);
    local_cats_[kMajor] = read_categories(ldb_, true);
    local_cats_[kMinor] = read_categories(ldb_, false);
    share_cats_[kMajor] = read_categories(sdb_, true);
    share_cats_[kMinor] = read_categories(sdb_, false);

    prepare_allocators();
    plan_categories(true);
    plan_categories(false);
    collect_picture_notes();
    plan_notes();
    plan_pictures();
    resolve_categories();
    keep_captions_unique(true);
    keep_captions_unique(false);

    write_categories(true);
    write_categories(false);
    write_notes();
    write_pictures();
    merge_settings();
    merge_spare();
    write_sequences();
    return MergeResult{report_, merged_prints()};
}

} // namespace

QString conflict_copy_suffix(const QDateTime &now)
{
    return QStringLiteral("（冲突副本 %1）").arg(now.toString(QStringLiteral("yyyy-MM-dd hh:mm")));
}

QString category_suffix(const QDateTime &now, int attempt)
{
    const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    return attempt <= 1 ? QStringLiteral("（冲突 %1）").arg(stamp)
                        : QStringLiteral("（冲突 %1 %2）").arg(stamp).arg(attempt);
}

LocalPrints fingerprint_local(const QString &local_database)
{
    Connection local;
    try {
        local.open(local_database, false);
        local.execute(QStringLiteral("PRAGMA query_only=1"));
        local.execute(QStringLiteral("BEGIN"));
        local.query_first(QStringLiteral("select count(*) from sqlite_master"));
    } catch (const DbError &e) {
        throw SyncError(QStringLiteral("无法读取数据库“%1”：%2").arg(local_database, database_problem_words(e)));
    }
    // The stamp is taken while the read transaction holds writers off, so it is the state read.
    LocalPrints out{compute_fingerprints(local, local_database), file_stamp(local_database).text()};
    local.execute(QStringLiteral("COMMIT"));
    return out;
}

MergeResult merge_databases(const std::optional<Fingerprints> &base, const QString &local_database,
                            const QString &share_database, const QDateTime &now, const LocalPrints *ahead)
{
    const QFileInfo local_info(local_database), share_info(share_database);
    if (local_info.exists() && share_info.exists() && local_info.canonicalFilePath() == share_info.canonicalFilePath())
        throw SyncError(QStringLiteral("本机数据库和网盘数据库是同一个文件“%1”，无法合并。").arg(share_database));

    Connection local;
    try {
        local.open(local_database, false);
        local.execute(QStringLiteral("PRAGMA query_only=1"));
    } catch (const DbError &e) {
        throw SyncError(QStringLiteral("无法读取数据库“%1”：%2").arg(local_database, database_problem_words(e)));
    }
    Connection share;
    try {
        share.open(share_database, false);
    } catch (const DbError &e) {
        throw SyncError(QStringLiteral("无法打开数据库“%1”：%2").arg(share_database, database_problem_words(e)));
    }
    const auto end_transaction = [](Connection &db, const char *sql) {
        try {
            db.execute(QString::fromLatin1(sql));
        } catch (const DbError &) {
            // Nothing was begun, or the engine ended it already.
        }
    };
    const auto rollback = [&] {
        end_transaction(share, "ROLLBACK");
        end_transaction(local, "ROLLBACK");
    };
    // One read transaction: the fingerprints and the rows copied later are of one state.
    try {
        local.execute(QStringLiteral("BEGIN"));
        local.query_first(QStringLiteral("select count(*) from sqlite_master"));
    } catch (const DbError &e) {
        end_transaction(local, "ROLLBACK");
        throw SyncError(QStringLiteral("无法读取数据库“%1”：%2").arg(local_database, database_problem_words(e)));
    }

    // Reading both files is most of the work: this machine's on a second thread meanwhile,
    // unless it was read ahead and has not changed since.
    Fingerprints local_prints;
    std::exception_ptr local_error;
    const bool use_ahead = ahead && ahead->stamp == file_stamp(local_database).text();
    if (use_ahead)
        local_prints = ahead->prints;
    std::thread local_scan([&] {
        if (use_ahead)
            return;
        try {
            local_prints = compute_fingerprints(local, local_database);
        } catch (...) {
            local_error = std::current_exception();
        }
    });
    Fingerprints share_prints;
    std::exception_ptr share_error;
    try {
        try {
            share.execute(QStringLiteral("BEGIN IMMEDIATE"));
        } catch (const DbError &e) {
            throw SyncError(QStringLiteral("无法写入数据库“%1”：%2").arg(share_database, database_problem_words(e)));
        }
        // A share file of an older layout gets the upgrade every start-up applies.
        if (detail::needs_upgrade(share)) {
            for (const QString &sql : upgrade_statements())
                share.execute(sql);
        }
        share_prints = compute_fingerprints(share, share_database);
    } catch (const DbError &e) {
        share_error = std::make_exception_ptr(
            SyncError(QStringLiteral("合并到数据库“%1”失败：%2").arg(share_database, database_problem_words(e))));
    } catch (...) {
        share_error = std::current_exception();
    }
    local_scan.join();
    if (share_error || local_error) {
        rollback();
        std::rethrow_exception(share_error ? share_error : local_error);
    }

    try {
        Merger merger(base ? &*base : nullptr, local, share, now);
        MergeResult result = merger.run(std::move(local_prints), std::move(share_prints));
        share.execute(QStringLiteral("COMMIT"));
        end_transaction(local, "COMMIT");
        return result;
    } catch (const DbError &e) {
        rollback();
        throw SyncError(QStringLiteral("合并到数据库“%1”失败：%2").arg(share_database, database_problem_words(e)));
    } catch (...) {
        rollback();
        throw;
    }
}

} // namespace yunshan::sync
