// The real program killed (SIGKILL) at random moments while it saves large notes, reorders
// categories and notes and moves notes, with a main and a backup database. After every kill, and
// before the next start, each file must be sound and hold every note wholly in its old or wholly
// in its new form (title, tag line, plain-text copy and RTF body of the same version); the two
// files must hold the same rows, or else the next start must notice it and copy the backup afresh
// from the main file, keeping the old one aside, and never touch the main file.
//
// YUNSHAN_KILL_SEED=<number> repeats a run; the seed is printed with every run.
// YUNSHAN_KILL_KEEP=<folder> keeps there what each kill left in both folders (kill<N>/main, ...).
#include "editor/rtf/rtf.h"
#include "store/connection.h"
#include "store/database_files.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "support/driven_program.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>

#include <cstdio>
#include <optional>

namespace yunshan {
namespace {

using test::DrivenProgram;
using test::DriverFolders;

constexpr int kNotes = 3;
constexpr int kKills = 24;
constexpr int kParagraphs = 16;
constexpr int kParagraphChars = 9000;
// The kill comes 0 .. this long after the save is pressed (after a reorder or a move: the small
// one); every other kill aims at the time the last such command took instead, so that many land
// inside the write.
constexpr int kSaveDelayMs = 350;
constexpr int kSmallDelayMs = 40;
const QStringList kSections = {QStringLiteral("日记"), QStringLiteral("工作"), QStringLiteral("杂项")};

// xorshift: the same seed gives the same run.
struct Random {
    quint64 s;
    quint32 next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return quint32(s >> 11);
    }
    int below(int n) { return int(next() % quint32(n)); }
};

// ---- What is typed ----

QString marker(int note, int version)
{
    return QStringLiteral("[[N%1V%2]]").arg(note).arg(version);
}
QString title_of(int note, int version)
{
    return QStringLiteral("札记%1·第%2版").arg(note).arg(version);
}
QString tag_of(int note, int version)
{
    return QStringLiteral("标签%1 v%2").arg(note).arg(version);
}

// The paragraphs of version `version` of note `note`: mixed Chinese and ASCII words, each
// paragraph starting and ending with the version's marker.
QStringList body_of(int note, int version)
{
    static const QStringList chinese =
        QStringLiteral("会议 讨论 进度 预计 下个月 完成 第一阶段 开发 工作 需要 注意 以下 几点 首先 其次 最后 客户 "
                       "反馈 问题 已经 解决 测试 结果 表明 性能 提升 明显 数据 备份 安全 加密 文件 目录 分类 笔记 "
                       "标题 标签 内容 图片 时间 地点 人员 安排 计划 总结 经验 教训 改进 方案 镕堃喆，。、")
            .split(QLatin1Char(' '));
    static const QStringList ascii = QStringLiteral("version release build test server client database backup "
                                                    "network update config the and of for with 2024 1.5 API SQL")
                                         .split(QLatin1Char(' '));
    Random r{quint64(note) * 1000003u + quint64(version) * 7919u + 1};
    QStringList paragraphs;
    for (int p = 0; p < kParagraphs; ++p) {
        QString text = marker(note, version) + QStringLiteral(" 第%1段 ").arg(p + 1);
        while (text.size() < kParagraphChars) {
            text += r.below(3) == 0 ? ascii.at(r.below(int(ascii.size()))) + QLatin1Char(' ')
                                    : chinese.at(r.below(int(chinese.size())));
        }
        paragraphs << text + QLatin1Char(' ') + marker(note, version);
    }
    return paragraphs;
}

// Where the bold and the red stretch lie in the body (document positions): inside the third and
// the tenth paragraph, away from their markers.
struct Stretch {
    int from;
    int to;
};
Stretch stretch_in(const QStringList &paragraphs, int paragraph)
{
    int at = 0;
    for (int p = 0; p < paragraph; ++p)
        at += int(paragraphs.at(p).size()) + 1;
    return {at + 100, at + 2100};
}

// ---- What a file holds ----

QString cell_text(const SqlValue &v)
{
    if (!v.isValid())
        return QStringLiteral("NULL");
    const QByteArray bytes = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    if (bytes.size() <= 80)
        return QString::fromUtf8(bytes);
    return QStringLiteral("<%1 bytes %2>")
        .arg(bytes.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex()));
}

struct NoteInFile {
    QString caption;
    QString label;
    QString content;
    QByteArray rtf;
    qint64 title_row = -1;
    qint64 section = -1;
    qint64 px = 0;
};

struct FileState {
    QString error;     // opening or reading failed
    QString integrity; // "ok" or the engine's findings
    QString generation;
    qint64 change_counter = -1;
    QMap<QString, QMap<QString, QString>> rows; // "table#rowid" -> column -> value (long ones hashed)
    QMap<int, NoteInFile> notes;                // by note id
    QMap<QString, qint64> section_ids;          // by caption
};

// Opens the file as the next start would (a transaction a kill interrupted is rolled back).
FileState read_state(const QString &path)
{
    FileState s;
    try {
        Connection db;
        db.open(path, false);
        QStringList findings;
        for (const auto &row : db.query(QStringLiteral("PRAGMA integrity_check")))
            findings << row.value(0).toString();
        s.integrity = findings.join(QStringLiteral("; "));
        for (const auto &o : db.query(QStringLiteral("select type, name, sql from sqlite_master")))
            s.rows[QStringLiteral("sqlite_master#") + o.value(1).toString()][QStringLiteral("sql")] =
                o.value(0).toString() + QLatin1Char(' ') + o.value(2).toString();
        for (const auto &t : db.query(QStringLiteral("select name from sqlite_master where type='table'"))) {
            const QString table = t.value(0).toString();
            QStringList columns;
            for (const auto &c : db.query(QStringLiteral("select name from pragma_table_info(?1)"), {table}))
                columns << c.value(0).toString();
            for (const auto &r : db.query(QStringLiteral("select rowid, * from \"%1\"").arg(table))) {
                if (table == QLatin1String("set_table") && r.value(1).toString() == QLatin1String(kGenerationKey)) {
                    s.generation = r.value(2).toString();
                    continue;
                }
                auto &cells = s.rows[table + QLatin1Char('#') + r.value(0).toString()];
                for (int c = 0; c < columns.size(); ++c)
                    cells[columns.at(c)] = cell_text(r.value(c + 1));
            }
        }
        for (const auto &r :
             db.query(QStringLiteral("select t.noteId, t.caption, n.label, n.content, f.rtf, t.id, "
                                     "t.sectionId, t.px from title t left join notes n on n.id=t.noteId "
                                     "left join rtffile f on f.noteId=t.noteId"))) {
            NoteInFile &n = s.notes[int(r.value(0).toLongLong())];
            n.caption = r.value(1).toString();
            n.label = r.value(2).toString();
            n.content = r.value(3).toString();
            n.rtf = r.value(4).toByteArray();
            n.title_row = r.value(5).toLongLong();
            n.section = r.value(6).toLongLong();
            n.px = r.value(7).toLongLong();
        }
        for (const auto &r : db.query(QStringLiteral("select caption, id from Section")))
            s.section_ids[r.value(0).toString()] = r.value(1).toLongLong();
    } catch (const DbError &e) {
        s.error = e.message();
    }
    s.change_counter = file_change_counter(path);
    return s;
}

// The cells in which two states differ, as "table#rowid.column: old -> new".
QStringList differences(const FileState &a, const FileState &b)
{
    QStringList out;
    QStringList keys = a.rows.keys() + b.rows.keys();
    keys.removeDuplicates();
    for (const QString &key : keys) {
        if (!a.rows.contains(key) || !b.rows.contains(key)) {
            out << key + (a.rows.contains(key) ? QStringLiteral(": removed") : QStringLiteral(": added"));
            continue;
        }
        const QMap<QString, QString> mine = a.rows.value(key);
        const QMap<QString, QString> theirs = b.rows.value(key);
        for (auto it = mine.begin(); it != mine.end(); ++it) {
            const QString other = theirs.value(it.key());
            if (other != it.value())
                out << QStringLiteral("%1.%2: %3 -> %4").arg(key, it.key(), it.value(), other);
        }
    }
    return out;
}

// One line each, for the failure messages.
std::string lines(const QStringList &list)
{
    return list.join(QLatin1Char('\n')).toStdString();
}

const QRegularExpression kMarker(QStringLiteral("\\[\\[N(\\d+)V(\\d+)\\]\\]"));

// The version a note holds in a file when its title, tag line, plain-text copy and RTF body all
// hold the same one; else what disagrees. `parse_rtf` reads the RTF body in full as well.
std::optional<int> whole_version(int id, const NoteInFile &n, bool parse_rtf, QString &why)
{
    static const QRegularExpression title(QStringLiteral("^札记(\\d+)·第(\\d+)版$"));
    static const QRegularExpression tag(QStringLiteral("^标签(\\d+) v(\\d+)$"));
    const auto t = title.match(n.caption);
    const auto g = tag.match(n.label);
    if (!t.hasMatch() || !g.hasMatch() || t.captured(1).toInt() != id || g.captured(1).toInt() != id) {
        why = QStringLiteral("title “%1”, tag line “%2”").arg(n.caption, n.label);
        return std::nullopt;
    }
    const int version = t.captured(2).toInt();
    if (g.captured(2).toInt() != version) {
        why = QStringLiteral("title of version %1, tag line of version %2").arg(version).arg(g.captured(2));
        return std::nullopt;
    }
    const QStringList expected = body_of(id, version);
    QString content = n.content;
    if (content.startsWith(QChar(0xFEFF)))
        content.remove(0, 1);
    content.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (content != expected.join(QLatin1Char('\n'))) {
        QStringList found;
        for (auto it = kMarker.globalMatch(content); it.hasNext();)
            found << it.next().captured(0);
        found.removeDuplicates();
        why = QStringLiteral("title of version %1, plain-text copy of %2 characters with markers %3")
                  .arg(version)
                  .arg(content.size())
                  .arg(found.join(QLatin1Char(',')));
        return std::nullopt;
    }
    QStringList markers;
    for (auto it = kMarker.globalMatch(QString::fromLatin1(n.rtf)); it.hasNext();)
        markers << it.next().captured(0);
    const QString own = marker(id, version);
    if (markers.size() != 2 * kParagraphs || markers.count(own) != markers.size()) {
        markers.removeDuplicates();
        why = QStringLiteral("title of version %1, RTF body of %2 bytes with markers %3")
                  .arg(version)
                  .arg(n.rtf.size())
                  .arg(markers.join(QLatin1Char(',')));
        return std::nullopt;
    }
    if (parse_rtf) {
        QTextDocument doc;
        const RtfReadResult read = read_rtf(n.rtf, doc);
        if (!read.warnings.isEmpty() || doc.toPlainText() != expected.join(QLatin1Char('\n'))) {
            why = QStringLiteral("title of version %1, RTF body that reads as %2 characters (%3)")
                      .arg(version)
                      .arg(doc.toPlainText().size())
                      .arg(read.warnings.join(QStringLiteral("; ")));
            return std::nullopt;
        }
        const Stretch bold = stretch_in(expected, 2);
        QTextCursor c(&doc);
        c.setPosition(bold.from + 1);
        if (c.charFormat().fontWeight() < QFont::Bold) {
            why = QStringLiteral("RTF body of version %1 without its bold stretch").arg(version);
            return std::nullopt;
        }
    }
    return version;
}

// Copies the database file and its journal from `folder` into `to`; returns the copy's path. A
// journal's pointer to a super-journal names it where it is, beside the main file.
QString copy_as_left(const QString &folder, const QString &to)
{
    for (const QString &name : {QStringLiteral("notedb.sl3"), QStringLiteral("notedb.sl3-journal")})
        if (QFile::exists(folder + QLatin1Char('/') + name))
            QFile::copy(folder + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
    return to + QStringLiteral("/notedb.sl3");
}

// Copies everything in the main and backup folders to `to`/main and `to`/backup.
void keep_as_left(const DriverFolders &runs, const QString &to)
{
    for (const auto &[name, folder] : {std::pair{"main", runs.zhu}, std::pair{"backup", runs.bei}}) {
        const QString target = to + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(target);
        for (const QString &file : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            QFile::copy(folder + QLatin1Char('/') + file, target + QLatin1Char('/') + file);
    }
}

// ---- The runs ----

struct Runs : DriverFolders {
    Runs()
    {
        // A box at start (a backup copied afresh) is answered with its default button; a question
        // gets "否", so nothing is restored behind the test's back.
        env.insert(QStringLiteral("YUNSHAN_DRIVER_ANSWERS"), QStringLiteral("否|否|否"));
    }
};

// The program with its own check of every answer.
class DrivenRun {
  public:
    explicit DrivenRun(const Runs &runs) : program_(QStringLiteral(YUNSHAN_PROGRAM_DRIVER), runs.env) {}
    DrivenProgram &program() { return program_; }
    bool start()
    {
        return program_.started() && program_.command(QStringLiteral("ready")) == QLatin1String("ok ready");
    }
    // Runs a command that must answer "ok ...": the rest of the answer.
    QString ok(const QString &line)
    {
        const QString answer = program_.command(line);
        if (!answer.startsWith(QLatin1String("ok"))) {
            ADD_FAILURE() << line.left(60).toStdString() << " -> " << answer.toStdString();
            failed_ = true;
        }
        return answer.mid(3);
    }
    bool failed() const { return failed_; }

    int row_of(const QString &list, const QString &text)
    {
        return int(ok(QStringLiteral("text ") + list).split(QLatin1Char('|')).indexOf(text));
    }
    int row_starting(const QString &list, const QString &start)
    {
        const QStringList entries = ok(QStringLiteral("text ") + list).split(QLatin1Char('|'));
        for (int i = 0; i < entries.size(); ++i)
            if (entries.at(i).startsWith(start))
                return i;
        return -1;
    }
    // Shows minor category `section` (of the one major category).
    void show_section(const QString &section)
    {
        ok(QStringLiteral("click ListBox1 0"));
        ok(QStringLiteral("click ListBox2 %1").arg(row_of(QStringLiteral("ListBox2"), section)));
    }
    // Opens note `id`, listed in `section`.
    void open_note(int id, const QString &section)
    {
        show_section(section);
        ok(QStringLiteral("click ListBox3 %1")
               .arg(row_starting(QStringLiteral("ListBox3"), QStringLiteral("札记%1·").arg(id))));
        const QString state = ok(QStringLiteral("state"));
        if (state.section(QLatin1Char(' '), 0, 0) != QString::number(id))
            ADD_FAILURE() << "note " << id << " not open: " << state.toStdString();
    }
    // Types version `version` of the open note `id`: title, tag line, a body of about 1 MB as RTF
    // with a bold and a red stretch. Nothing is saved.
    void type_version(int id, int version)
    {
        ok(QStringLiteral("focus Edit2"));
        ok(QStringLiteral("select Edit2 0 -1"));
        ok(QStringLiteral("type Edit2 ") + title_of(id, version));
        ok(QStringLiteral("focus Edit3"));
        ok(QStringLiteral("select Edit3 0 -1"));
        ok(QStringLiteral("type Edit3 ") + tag_of(id, version));
        ok(QStringLiteral("focus RichEdit1"));
        ok(QStringLiteral("select RichEdit1 0 -1"));
        const QStringList body = body_of(id, version);
        for (int p = 0; p < body.size(); ++p) {
            if (p > 0)
                ok(QStringLiteral("key RichEdit1 Return"));
            ok(QStringLiteral("type RichEdit1 ") + body.at(p));
        }
        const Stretch bold = stretch_in(body, 2);
        ok(QStringLiteral("select RichEdit1 %1 %2").arg(bold.from).arg(bold.to));
        ok(QStringLiteral("click SpeedButton8"));
        const Stretch red = stretch_in(body, 9);
        ok(QStringLiteral("select RichEdit1 %1 %2").arg(red.from).arg(red.to));
        ok(QStringLiteral("click SpeedButton9"));
    }

  private:
    DrivenProgram program_;
    bool failed_ = false;
};

// One command of the test, and what it may change.
struct Step {
    enum Kind { Save, OrderNote, OrderSection, Move } kind = Save;
    int note = 0;          // the note saved, reordered or moved
    int version = 0;       // Save: the version typed
    QString section;       // OrderSection: the category; Move: the target
    int delta = 0;         // Order*: the change of px
    QString button;        // what is clicked last
    int delay_ms = 0;      // from that click to the kill
    qint64 answer_ms = -1; // when the program answered the click (-1: not before the kill)
    QString journals;      // what the kill left beside the files (see leftovers())
    QString text() const
    {
        static const char *const names[] = {"save", "order-note", "order-section", "move"};
        return QStringLiteral("%1 note %2 v%3 %4 %5 delay %6 ms answered %7 ms; %8")
            .arg(QLatin1String(names[kind]))
            .arg(note)
            .arg(version)
            .arg(section)
            .arg(delta)
            .arg(delay_ms)
            .arg(answer_ms)
            .arg(journals);
    }
};

QString section_caption(const FileState &s, qint64 id)
{
    for (auto it = s.section_ids.begin(); it != s.section_ids.end(); ++it)
        if (it.value() == id)
            return it.key();
    return QString();
}

// Whether `after` (one file after the kill) is `before` with the step done wholly or not at all;
// else what is wrong. Every note must be whole in it.
QStringList check_step(const FileState &before, const FileState &after, const Step &step)
{
    QStringList wrong;
    if (!after.error.isEmpty())
        return {QStringLiteral("does not open: ") + after.error};
    if (after.integrity != QLatin1String("ok"))
        wrong << QStringLiteral("integrity_check: ") + after.integrity;
    // Every note whole, of the version it had or (the note saved) the one typed.
    for (auto it = before.notes.begin(); it != before.notes.end(); ++it) {
        const int id = it.key();
        QString why;
        const bool in_flight = step.kind == Step::Save && step.note == id;
        const auto version = whole_version(id, after.notes.value(id), in_flight, why);
        if (!version) {
            wrong << QStringLiteral("note %1 is not whole: %2").arg(id).arg(why);
            continue;
        }
        QString dummy;
        const int old_version = whole_version(id, it.value(), false, dummy).value_or(-1);
        if (*version != old_version && !(in_flight && *version == step.version))
            wrong << QStringLiteral("note %1 holds version %2 (before: %3)").arg(id).arg(*version).arg(old_version);
    }
    // Nothing else changed than what the step writes; the stamp changed exactly with its rows.
    QStringList allowed;
    const NoteInFile &n = before.notes.value(step.note);
    const QString title = QStringLiteral("title#%1.").arg(n.title_row);
    switch (step.kind) {
    case Step::Save:
        allowed << title + QStringLiteral("caption") << QStringLiteral("notes#%1.label").arg(step.note)
                << QStringLiteral("notes#%1.put").arg(step.note) << QStringLiteral("notes#%1.content").arg(step.note)
                << QStringLiteral("rtffile#%1").arg(step.note);
        break;
    case Step::OrderNote:
        allowed << title + QStringLiteral("px");
        break;
    case Step::OrderSection:
        allowed << QStringLiteral("Section#%1.px").arg(before.section_ids.value(step.section));
        break;
    case Step::Move:
        allowed << title + QStringLiteral("sectionId");
        break;
    }
    const QStringList changed = differences(before, after);
    for (const QString &d : changed) {
        if (!std::any_of(allowed.begin(), allowed.end(), [&d](const QString &a) { return d.startsWith(a); }))
            wrong << QStringLiteral("unexpected change ") + d;
    }
    if (step.kind == Step::OrderNote || step.kind == Step::OrderSection) {
        for (const QString &d : changed) {
            const QStringList parts = d.section(QStringLiteral(": "), 1).split(QStringLiteral(" -> "));
            if (parts.size() == 2 && parts.at(1).toLongLong() - parts.at(0).toLongLong() != step.delta)
                wrong << QStringLiteral("px changed by other than %1: %2").arg(step.delta).arg(d);
        }
    }
    if (step.kind == Step::Move && !changed.isEmpty() &&
        section_caption(after, after.notes.value(step.note).section) != step.section)
        wrong << QStringLiteral("note %1 moved elsewhere than %2").arg(step.note).arg(step.section);
    if (changed.isEmpty() != (after.generation == before.generation))
        wrong << QStringLiteral("the generation stamp %1 the rows (%2 cells changed)")
                     .arg(after.generation == before.generation ? QStringLiteral("stayed, unlike")
                                                                : QStringLiteral("changed without"))
                     .arg(changed.size());
    return wrong;
}

// What the kill left beside the files: for each journal whether it is hot (its header written:
// the database file may have been changed, a start rolls it back) and whether it names a
// super-journal (the commit of both files had begun); and the super-journals. A journal with a
// zeroed header is no hot journal: its transaction had not touched the database file.
struct Leftovers {
    QString text;
    bool hot = false;
};
Leftovers leftovers(const Runs &runs)
{
    static const QByteArray magic("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8);
    Leftovers out;
    QStringList found;
    for (const auto &[name, folder] : {std::pair{"main", runs.zhu}, std::pair{"backup", runs.bei}}) {
        QFile journal(folder + QStringLiteral("/notedb.sl3-journal"));
        if (journal.open(QIODevice::ReadOnly)) {
            const bool hot = journal.read(8) == magic;
            const bool super = journal.seek(journal.size() - 8) && journal.read(8) == magic;
            found << QStringLiteral("%1 journal %2%3")
                         .arg(QLatin1String(name), hot ? QStringLiteral("hot") : QStringLiteral("idle"),
                              super ? QStringLiteral("+super") : QString());
            out.hot = out.hot || hot;
        }
    }
    const int supers = int(QDir(runs.zhu).entryList({QStringLiteral("notedb.sl3-mj*")}, QDir::Files).size());
    if (supers > 0)
        found << QStringLiteral("%1 super-journal(s)").arg(supers);
    out.text = found.isEmpty() ? QStringLiteral("no journal") : found.join(QStringLiteral(", "));
    return out;
}

TEST(KillDuringWriteTest, EveryKillLeavesWholeNotesAndMirrorsOrARepairAtStart)
{
    bool seed_ok = false;
    quint64 seed = qEnvironmentVariable("YUNSHAN_KILL_SEED").toULongLong(&seed_ok);
    if (!seed_ok || seed == 0)
        seed = QRandomGenerator::system()->generate64() | 1;
    std::printf("seed %llu (YUNSHAN_KILL_SEED=%llu repeats this run)\n", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(seed));
    Random random{seed};
    QStringList log;
    const auto dump_log = [&] { return QStringLiteral("seed %1\n").arg(seed) + log.join(QLatin1Char('\n')); };

    Runs runs;
    {
        // The database: one major category with three minor ones, mirrored.
        Connection db;
        db.open(runs.main_file);
        create_schema(db);
        for (int i = 0; i < kSections.size(); ++i)
            db.execute(QStringLiteral("insert into Section(px,classId,caption) values(?1,1,?2)"),
                       {100 + 10 * i, kSections.at(i)});
        db.close();
        copy_database_file(runs.main_file, runs.backup_file);
    }

    // The notes, each saved once as version 1, and the program closed as the user does.
    {
        DrivenRun run(runs);
        ASSERT_TRUE(run.start());
        for (int id = 1; id <= kNotes; ++id) {
            run.show_section(kSections.at(0));
            run.ok(QStringLiteral("click ToolButton6"));
            ASSERT_EQ(run.ok(QStringLiteral("state")).section(QLatin1Char(' '), 0, 0).toStdString(),
                      std::to_string(id));
            run.type_version(id, 1);
            run.ok(QStringLiteral("click SpeedButton2"));
            ASSERT_EQ(run.ok(QStringLiteral("state")).toStdString(),
                      QStringLiteral("%1 0 %2|%3").arg(id).arg(title_of(id, 1), tag_of(id, 1)).toStdString());
        }
        ASSERT_FALSE(run.failed());
        run.ok(QStringLiteral("close"));
        ASSERT_TRUE(run.program().finished());
    }
    FileState main = read_state(runs.main_file);
    FileState backup = read_state(runs.backup_file);
    ASSERT_EQ(main.notes.size(), kNotes);
    for (int id = 1; id <= kNotes; ++id) {
        QString why;
        ASSERT_EQ(whole_version(id, main.notes.value(id), true, why), 1) << why.toStdString();
    }
    ASSERT_EQ(lines(differences(main, backup)), "");
    std::printf("a note as saved: RTF body %lld bytes, plain-text copy %lld characters\n",
                static_cast<long long>(main.notes.value(1).rtf.size()),
                static_cast<long long>(main.notes.value(1).content.size()));
    QMap<int, int> versions;
    for (int id = 1; id <= kNotes; ++id)
        versions[id] = 1;

    QElapsedTimer clock;
    clock.start();
    const test::TempFolder check;
    const QString keep = qEnvironmentVariable("YUNSHAN_KILL_KEEP");
    int save_ms = 150; // how long the last save and reorder or move took until answered
    int small_ms = 10;
    bool repair_expected = false;
    int kills_in_flight = 0;
    for (int kill = 0; kill <= kKills; ++kill) {
        SCOPED_TRACE(dump_log().toStdString());
        const QStringList kept_before = kept_aside_files(runs.bei);
        DrivenRun run(runs);
        ASSERT_TRUE(run.start()) << "start " << kill;
        // The start: a difference left by the kill is repaired towards the main file, which
        // stays as it was; files that agree are left alone.
        const QString shown = run.ok(QStringLiteral("shown"));
        const QStringList kept_now = kept_aside_files(runs.bei);
        const FileState main_started = read_state(runs.main_file);
        const FileState backup_started = read_state(runs.backup_file);
        EXPECT_EQ(lines(differences(main, main_started)), "") << "the start changed the main file";
        EXPECT_EQ(lines(differences(main_started, backup_started)), "") << "not mirrored after the start";
        EXPECT_EQ(main_started.generation.toStdString(), backup_started.generation.toStdString());
        // A super-journal a kill left behind is gone once both files were opened.
        EXPECT_EQ(QDir(runs.zhu).entryList({QStringLiteral("notedb.sl3-mj*")}, QDir::Files).size(), 0);
        if (repair_expected) {
            ASSERT_EQ(kept_now.size(), std::min<qsizetype>(kept_before.size() + 1, 3)) << "no backup kept aside";
            EXPECT_EQ(shown.toStdString(), stale_backup_text(kept_now.first()).toStdString());
        } else {
            EXPECT_EQ(lines(kept_now), lines(kept_before)) << "a backup kept aside although the files agreed";
            EXPECT_EQ(shown.toStdString(), "");
        }
        if (kill == kKills || HasFailure()) {
            run.ok(QStringLiteral("close"));
            EXPECT_TRUE(run.program().finished());
            break;
        }

        // The step: mostly a large save, every fourth a reorder or a move.
        Step step;
        step.note = 1 + random.below(kNotes);
        const QString section = section_caption(main_started, main_started.notes.value(step.note).section);
        if (kill % 4 != 3) {
            step.kind = Step::Save;
            step.version = versions[step.note] + 1;
            run.open_note(step.note, section);
            run.type_version(step.note, step.version);
            step.button = QStringLiteral("SpeedButton2");
            step.delay_ms = random.below((kill % 2 == 0 ? kSaveDelayMs : save_ms * 6 / 5) + 1);
        } else {
            step.kind = Step::Kind(1 + (kill / 4) % 3);
            step.delta = random.below(2) == 0 ? -3 : 3;
            step.button = step.delta < 0 ? QStringLiteral("ToolButton13") : QStringLiteral("ToolButton14");
            if (step.kind == Step::OrderNote) {
                run.open_note(step.note, section);
            } else if (step.kind == Step::OrderSection) {
                step.section = kSections.at(random.below(int(kSections.size())));
                run.show_section(step.section);
            } else {
                run.open_note(step.note, section);
                run.ok(QStringLiteral("trigger N71"));
                step.section = kSections.at((kSections.indexOf(section) + 1 + random.below(2)) % kSections.size());
                run.ok(QStringLiteral("click ListBox2 %1").arg(run.row_of(QStringLiteral("ListBox2"), step.section)));
                step.button = QStringLiteral("Button4");
                step.delta = 0;
            }
            step.delay_ms = random.below((kill % 2 == 0 ? kSmallDelayMs : small_ms * 6 / 5) + 1);
        }
        ASSERT_FALSE(run.failed()) << step.text().toStdString();
        QElapsedTimer since_click;
        run.program().send(QStringLiteral("click ") + step.button);
        since_click.start();
        // The answer, if it comes before the kill, says the command is done.
        while (since_click.elapsed() < step.delay_ms) {
            const QString answer = run.program().answer_within(int(step.delay_ms - since_click.elapsed()));
            if (!answer.isEmpty() && step.answer_ms < 0)
                step.answer_ms = since_click.elapsed();
        }
        const QStringList late = run.program().kill();
        const Leftovers left = leftovers(runs);
        step.journals = left.text;
        if (!keep.isEmpty())
            keep_as_left(runs, keep + QStringLiteral("/kill%1").arg(kill));
        if (left.hot)
            ++kills_in_flight;
        log << QStringLiteral("kill %1: ").arg(kill) + step.text() +
                   (late.isEmpty() ? QString() : QStringLiteral(" (answer after the kill)"));

        if (step.answer_ms >= 0)
            (step.kind == Step::Save ? save_ms : small_ms) = int(step.answer_ms);
        // Copies of the files as the kill left them, journals included, each opened on its own as
        // a start opens it; the files themselves wait for the program's own start.
        const FileState main_after =
            read_state(copy_as_left(runs.zhu, check.mkdir(QStringLiteral("main%1").arg(kill))));
        const FileState backup_after =
            read_state(copy_as_left(runs.bei, check.mkdir(QStringLiteral("backup%1").arg(kill))));
        for (const auto &[name, after] : {std::pair{"main", &main_after}, std::pair{"backup", &backup_after}}) {
            const QStringList wrong = check_step(main_started, *after, step);
            EXPECT_EQ(lines(wrong), "") << name << " file after kill " << kill << ": " << step.text().toStdString();
            if (step.answer_ms >= 0 && differences(main_started, *after).isEmpty())
                ADD_FAILURE() << name
                              << " file lacks a command the program had answered: " << step.text().toStdString();
        }
        const QStringList apart = differences(main_after, backup_after);
        repair_expected = !apart.isEmpty() || main_after.generation != backup_after.generation ||
                          main_after.change_counter != backup_after.change_counter;
        if (!apart.isEmpty() && main_after.generation == backup_after.generation &&
            main_after.change_counter == backup_after.change_counter)
            ADD_FAILURE() << "main and backup differ where no start looks: "
                          << apart.join(QLatin1Char('\n')).toStdString();
        if (repair_expected)
            log.last() += QStringLiteral(" -> files apart: %1 cells, stamps %2/%3, counters %4/%5")
                              .arg(apart.size())
                              .arg(main_after.generation, backup_after.generation)
                              .arg(main_after.change_counter)
                              .arg(backup_after.change_counter);
        if (step.kind == Step::Save) {
            QString why;
            versions[step.note] = whole_version(step.note, main_after.notes.value(step.note), false, why).value_or(-1);
        }
        main = main_after;
    }
    std::printf("%s\n%d of %d kills left a hot journal; %lld ms\n", dump_log().toUtf8().constData(), kills_in_flight,
                kKills, static_cast<long long>(clock.elapsed()));
}

} // namespace
} // namespace yunshan
