// Two machines with their own folders and sync bases on one real Apache WebDAV share: what one
// saved is never lost by a sync of the other, notes changed on both sides leave a conflict copy,
// and an upload never replaces a package it has not seen.
#include "backup/cloud_sync.h"
#include "backup/local_backup.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "platform/paths.h"
#include "platform/silent_dialogs.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/share_peer.h"
#include "support/temp_folder.h"
#include "support/webdav_server.h"
#include "sync/merge.h"
#include "sync/sync_base.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <sys/stat.h>

#include <memory>

namespace yunshan {
namespace {

using test::TempFolder;

const QString kUser = QStringLiteral("u");
const QString kPassword = QStringLiteral("p");
// The local time written into the captions of conflict copies.
const QDateTime kNow(QDate(2025, 6, 7), QTime(8, 9));

// One installation: its main and backup folders, its store, settings and HTTP session. Boxes are
// not answered; their texts are kept.
class Machine {
  public:
    Machine(const TempFolder &dir, const QString &name, const QString &url)
        : store(QStringLiteral("yunshan_share_sync_") + name),
          dialogs(Dialogs::Answer::No, [this](const QString &text) { shown << text; })
    {
        run.zhu_db = dir.mkdir(name + QStringLiteral("-main"));
        run.bei_db = dir.mkdir(name + QStringLiteral("-backup"));
        run.auto_backup = QStringLiteral("0");
        run.dav_url = url;
        run.dav_username = kUser;
        run.dav_password = kPassword;
        run.zip_password = QStringLiteral("zip");
        run.webdav_tcbc = 1;
        EXPECT_EQ(store.Connect_to_db(run.zhu_db, run.bei_db, dialogs), kMainAndBackup);
    }

    BackupPanel panel()
    {
        BackupPanel p;
        p.show = [](const QString &) {};
        p.line = [](const QString &) {};
        p.hide = [] {};
        p.start = [](ProgressMode) {};
        p.esc_down = [] { return false; };
        return p;
    }
    SyncOutcome sync(SyncPurpose purpose)
    {
        SyncContext c{store, run, session, dialogs, panel()};
        c.now = [] { return kNow; };
        return sync_with_share(c, purpose);
    }
    // The upload at exit (no dated copy).
    BackupResult exit_upload()
    {
        store.set_changed(true);
        BackupContext c{store, run, session, dialogs, panel(), QDate::currentDate(), [] { return kNow; }};
        return backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    }
    QString file() const { return database_file_in(run.zhu_db); }

    qint64 add_note(qint64 section, const QString &caption, const QString &content)
    {
        test::write_sql(store, QStringLiteral("insert into notes(label,content) values('',?)"), {content});
        const qint64 id = store.get_first_integer(QStringLiteral("select max(id) from notes"));
        const qint64 major =
            store.get_first_integer(QStringLiteral("select classId from Section where id=?"), {section});
        test::write_sql(store,
                        QStringLiteral("insert into title(px,classId,sectionId,noteId,isRtf,caption) "
                                       "values(100,?,?,?,0,?)"),
                        {major, section, id, caption});
        return id;
    }
    void set_caption(qint64 note, const QString &caption)
    {
        test::write_sql(store, QStringLiteral("update title set caption=? where noteId=?"), {caption, note});
    }
    void set_content(qint64 note, const QString &content)
    {
        test::write_sql(store, QStringLiteral("update notes set content=? where id=?"), {content, note});
    }
    // Captions of the notes, sorted.
    QStringList captions()
    {
        QStringList out;
        for (const auto &row : store.main().query(QStringLiteral("select caption from title")))
            out << row.value(0).toString();
        out.sort();
        return out;
    }
    // Every caption and body, as the user sees them, one note a line (sorted).
    QStringList notes()
    {
        QStringList out;
        for (const auto &row : store.main().query(
                 QStringLiteral("select t.caption, n.content from title t join notes n on n.id=t.noteId")))
            out << row.value(0).toString() + QLatin1Char('|') + row.value(1).toString();
        out.sort();
        return out;
    }

    RunSettings run;
    NoteStore store;
    WebDavSession session;
    QStringList shown;
    SilentDialogs dialogs;
};

class ShareSyncTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.started()) << server.error().toStdString();
        set_program_folder_override(dir.mkdir(QStringLiteral("program")));
        a = std::make_unique<Machine>(dir, QStringLiteral("a"), server.url());
        b = std::make_unique<Machine>(dir, QStringLiteral("b"), server.url());
        test::write_sql(a->store, QStringLiteral("insert into Section(px,classId,caption) values(100,(select min(id) "
                                                 "from Class),'共同小类')"));
        section = a->store.get_first_integer(QStringLiteral("select id from Section where caption='共同小类'"));
    }
    void TearDown() override
    {
        a.reset();
        b.reset();
        set_program_folder_override({});
    }
    QStringList requests(const QString &method) const
    {
        return server.requests().filter(QRegularExpression(QStringLiteral("^") + method + QLatin1Char(' ')));
    }
    // Both machines hold the same notes and each knows the share holds them.
    void start_in_step()
    {
        a->exit_upload();
        ASSERT_TRUE(a->shown.isEmpty()) << a->shown.join(QLatin1Char('\n')).toStdString();
        ASSERT_TRUE(b->sync(SyncPurpose::SyncNow).completed) << b->shown.join(QLatin1Char('\n')).toStdString();
        ASSERT_TRUE(a->sync(SyncPurpose::SyncNow).completed);
        ASSERT_EQ(a->notes(), b->notes());
    }
    // The rows of the database the share's package holds.
    QStringList share_notes()
    {
        Machine peek(dir, QStringLiteral("peek"), server.url());
        peek.store.close_all();
        QFile::remove(peek.file());
        const QString package = server.share() + QStringLiteral("/yunshanzhaji/notedb.zip");
        extract_package_file(package, a->run.zip_password, peek.run.zhu_db);
        QString none;
        peek.store.Connect_to_db(peek.run.zhu_db, none, peek.dialogs);
        return peek.notes();
    }

    TempFolder dir;
    test::ApacheDav server{kUser, kPassword};
    std::unique_ptr<Machine> a, b;
    qint64 section = 0;
};

TEST_F(ShareSyncTest, UploadOntoAPackageOfTheOtherMachineMergesFirstAndCopiesTheNoteBothChanged)
{
    const qint64 shared = a->add_note(section, QStringLiteral("共同笔记"), QStringLiteral("原文"));
    start_in_step();
    b->set_content(shared, QStringLiteral("乙改的正文"));
    b->add_note(section, QStringLiteral("乙的新笔记"), QStringLiteral("乙"));
    ASSERT_TRUE(b->exit_upload().replaced == false);
    ASSERT_TRUE(b->shown.isEmpty()) << b->shown.join(QLatin1Char('\n')).toStdString();

    a->set_content(shared, QStringLiteral("甲改的正文"));
    a->add_note(section, QStringLiteral("甲的新笔记"), QStringLiteral("甲"));
    const BackupResult result = a->exit_upload();
    EXPECT_TRUE(result.replaced);
    // One message, naming the one copy.
    sync::MergeReport report;
    report.conflict_copies = 1;
    EXPECT_EQ(a->shown, QStringList{conflict_report_text(report, kNow)});

    const QStringList expected{
        QStringLiteral("乙的新笔记|乙"),
        QStringLiteral("共同笔记|乙改的正文"),
        QStringLiteral("共同笔记") + sync::conflict_copy_suffix(kNow) + QStringLiteral("|甲改的正文"),
        QStringLiteral("甲的新笔记|甲"),
    };
    QStringList sorted = expected;
    sorted.sort();
    EXPECT_EQ(a->notes(), sorted);
    EXPECT_EQ(share_notes(), sorted);
    // The backup follows the merged file; the earlier one is kept aside.
    test::expect_mirror_identical(a->store);
    EXPECT_FALSE(QDir(a->run.bei_db).entryList({QStringLiteral("notedb_old_*")}).isEmpty());

    // The other machine gets the merged notes back with nothing to merge.
    const SyncOutcome back = b->sync(SyncPurpose::StartUp);
    EXPECT_TRUE(back.completed);
    EXPECT_TRUE(back.replaced);
    EXPECT_FALSE(back.merge.has_value());
    EXPECT_EQ(b->notes(), sorted);
}

TEST_F(ShareSyncTest, MachineThatAloneChangedDownloadsNothing)
{
    a->add_note(section, QStringLiteral("共同笔记"), QStringLiteral("原文"));
    start_in_step();
    const qsizetype gets = requests(QStringLiteral("GET")).size();
    a->add_note(section, QStringLiteral("甲的新笔记"), QStringLiteral("甲"));

    // At start-up: nothing comes in and nothing goes out.
    const SyncOutcome at_start = a->sync(SyncPurpose::StartUp);
    EXPECT_TRUE(at_start.completed);
    EXPECT_FALSE(at_start.replaced);
    EXPECT_FALSE(at_start.uploaded);
    EXPECT_TRUE(QDir(a->run.zhu_db).entryList({QStringLiteral("notedb.sl3.bat*")}).isEmpty());
    // "立即同步" sends the change up, still without downloading.
    const SyncOutcome now = a->sync(SyncPurpose::SyncNow);
    EXPECT_TRUE(now.completed);
    EXPECT_FALSE(now.replaced);
    EXPECT_TRUE(now.uploaded);
    EXPECT_EQ(requests(QStringLiteral("GET")).size(), gets);
    EXPECT_TRUE(a->captions().contains(QStringLiteral("甲的新笔记")));
    EXPECT_TRUE(share_notes().contains(QStringLiteral("甲的新笔记|甲")));
    EXPECT_TRUE(a->shown.isEmpty()) << a->shown.join(QLatin1Char('\n')).toStdString();
}

// What this machine changed since its last sync is known from the database itself: a note saved
// just before the program ended (or crashed) is merged at the next start, not replaced.
TEST_F(ShareSyncTest, EditSavedBeforeARestartIsMergedAtTheNextStart)
{
    start_in_step();
    a->add_note(section, QStringLiteral("关机前保存"), QStringLiteral("甲"));
    a->store.close_all(); // no exit step: the program was killed
    b->add_note(section, QStringLiteral("乙的新笔记"), QStringLiteral("乙"));
    b->exit_upload();

    QString zhu = a->run.zhu_db, bei = a->run.bei_db;
    ASSERT_EQ(a->store.Connect_to_db(zhu, bei, a->dialogs), kMainAndBackup);
    const SyncOutcome r = a->sync(SyncPurpose::StartUp);
    EXPECT_TRUE(r.completed);
    EXPECT_TRUE(r.merge.has_value());
    EXPECT_TRUE(r.uploaded); // the merged file goes up at once
    const QStringList captions = a->captions();
    EXPECT_TRUE(captions.contains(QStringLiteral("关机前保存")));
    EXPECT_TRUE(captions.contains(QStringLiteral("乙的新笔记")));
    EXPECT_TRUE(share_notes().contains(QStringLiteral("关机前保存|甲")));
    EXPECT_TRUE(a->shown.isEmpty()) << a->shown.join(QLatin1Char('\n')).toStdString();
}

// The package the upload may replace is named by its entity tag; the server hands out a weak one
// for a file written within the last second and a strong one later.
TEST_F(ShareSyncTest, UploadIsRefusedOnceTheShareHoldsAnotherPackage)
{
    start_in_step();
    const WebDavAccount account{server.url(), kUser, kPassword};
    const PackageLookup fresh = lookup_package(a->session, account);
    QThread::msleep(1100);
    const PackageLookup settled = lookup_package(a->session, account);
    ASSERT_TRUE(fresh.found);
    ASSERT_TRUE(settled.found);
    EXPECT_TRUE(settled.identity.same_file(fresh.identity));
    EXPECT_FALSE(settled.identity.etag.startsWith(QLatin1String("W/")));

    test::upload_changed_copy(b->file(), QStringLiteral("insert into Class(px,caption) values(1,'乙')"), account,
                              a->run.zip_password, dir.path() + QStringLiteral("/c"));
    const QStringList on_share = share_notes();
    const QString package = server.share() + QStringLiteral("/yunshanzhaji/notedb.zip");
    const QByteArray bytes = TempFolder::read(package);

    struct Case {
        const char *what;
        ShareIdentity expected;
    };
    const Case cases[] = {
        {"the package seen a moment after its upload", fresh.identity},
        {"the package seen later", settled.identity},
        {"no package", ShareIdentity{}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        UploadSteps steps;
        steps.expected = c.expected;
        EXPECT_EQ(upload_package(a->session, account, a->file(), a->run.zip_password, a->dialogs, steps),
                  UploadOutcome::ShareChanged);
        EXPECT_EQ(TempFolder::read(package), bytes);
    }
    EXPECT_EQ(share_notes(), on_share);
    EXPECT_TRUE(a->shown.isEmpty()) << a->shown.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ShareSyncTest, BaseIsPrivateAndHoldsNoTextOfANote)
{
    a->add_note(section, QStringLiteral("秘密标题"), QStringLiteral("秘密正文"));
    a->exit_upload();
    ASSERT_TRUE(a->shown.isEmpty()) << a->shown.join(QLatin1Char('\n')).toStdString();
    const QString base = sync::sync_base_file(a->file());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(base).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(state_folder()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const QByteArray bytes = TempFolder::read(base);
    EXPECT_FALSE(bytes.contains(QStringLiteral("秘密").toUtf8()));
    EXPECT_FALSE(bytes.contains(QStringLiteral("秘密").toUtf8().toHex()));
    // Each main database has its own base.
    EXPECT_NE(sync::sync_base_file(b->file()), base);
}

// Random edits on both machines and syncs in random order: at the end both hold the same notes,
// every piece of text ever saved on either machine is in them, and there are exactly as many
// conflict copies as the syncs reported.
TEST_F(ShareSyncTest, RandomEditsAndSyncsOnTwoMachinesLoseNothing)
{
    const quint32 seed = qEnvironmentVariableIsSet("YUNSHAN_SYNC_SEED")
                             ? quint32(qEnvironmentVariableIntValue("YUNSHAN_SYNC_SEED"))
                             : QRandomGenerator::system()->generate();
    SCOPED_TRACE("YUNSHAN_SYNC_SEED=" + std::to_string(seed));
    QRandomGenerator random(seed);

    a->add_note(section, QStringLiteral("起点"), QStringLiteral("起点"));
    start_in_step();

    QSet<QString> written;
    int next = 0;
    int reported_copies = 0;
    QStringList log;
    const auto token = [&](const char *kind) {
        const QString t = QStringLiteral("%1%2x").arg(QLatin1String(kind)).arg(++next, 4, 10, QLatin1Char('0'));
        written.insert(t);
        return t;
    };
    const auto count_reported = [&](Machine &m) {
        static const QRegularExpression copies(QStringLiteral("两台电脑都改过的笔记有 (\\d+) 篇"));
        for (const QString &text : std::as_const(m.shown)) {
            const auto match = copies.match(text);
            ASSERT_TRUE(match.hasMatch()) << "unexpected box: " << text.toStdString();
            reported_copies += match.captured(1).toInt();
        }
        m.shown.clear();
    };
    const auto do_sync = [&](Machine &m, const char *name) {
        const int how = random.bounded(3);
        log << QStringLiteral("%1 sync %2").arg(QLatin1String(name)).arg(how);
        if (how == 2) {
            m.exit_upload();
        } else {
            const SyncOutcome r = m.sync(how == 0 ? SyncPurpose::SyncNow : SyncPurpose::StartUp);
            EXPECT_TRUE(r.completed) << log.join(QLatin1Char('\n')).toStdString();
            if (r.merge)
                reported_copies += r.merge->conflict_copies;
        }
        count_reported(m);
    };

    for (int step = 0; step < 60; ++step) {
        Machine &m = random.bounded(2) == 0 ? *a : *b;
        const char *name = &m == a.get() ? "a" : "b";
        const int what = random.bounded(10);
        if (what < 3) {
            do_sync(m, name);
            continue;
        }
        const auto ids = m.store.main().query(QStringLiteral("select noteId from title order by noteId"));
        if (what < 5 || ids.isEmpty()) {
            const QString t = token("n");
            m.add_note(section, t, token("c"));
            log << QStringLiteral("%1 adds %2").arg(QLatin1String(name), t);
            continue;
        }
        const qint64 note = ids.at(random.bounded(int(ids.size()))).value(0).toLongLong();
        // A saved edit keeps what the note held and adds to it, so nothing legitimately goes.
        if (what < 8) {
            const QString old =
                m.store.get_first_string(QStringLiteral("select caption from title where noteId=?"), {note});
            m.set_caption(note, old + QLatin1Char(' ') + token("t"));
        } else {
            const QString old =
                m.store.get_first_string(QStringLiteral("select content from notes where id=?"), {note});
            m.set_content(note, old + QLatin1Char(' ') + token("b"));
        }
        log << QStringLiteral("%1 edits %2").arg(QLatin1String(name)).arg(note);
    }
    // Settle: each side sends and takes what is left.
    for (Machine *m : {a.get(), b.get(), a.get(), b.get()}) {
        const SyncOutcome r = m->sync(SyncPurpose::SyncNow);
        ASSERT_TRUE(r.completed) << m->shown.join(QLatin1Char('\n')).toStdString();
        if (r.merge)
            reported_copies += r.merge->conflict_copies;
        count_reported(*m);
    }
    const QStringList final_notes = a->notes();
    EXPECT_EQ(b->notes(), final_notes) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(share_notes(), final_notes);
    const QString all = final_notes.join(QLatin1Char('\n'));
    for (const QString &t : std::as_const(written))
        EXPECT_TRUE(all.contains(t)) << t.toStdString() << " lost\n" << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(final_notes.filter(QStringLiteral("（冲突副本 ")).size(), reported_copies);
    test::expect_mirror_identical(a->store);
    test::expect_mirror_identical(b->store);
}

} // namespace
} // namespace yunshan
