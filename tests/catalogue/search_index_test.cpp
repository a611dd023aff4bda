// The search index against the plain search statement: random databases and search texts give
// the same rows page by page, every writing command is seen by the next search, and a damaged or
// lost index file is rebuilt.
#include "catalogue/move_note.h"
#include "catalogue/note_list.h"
#include "editor/note_save.h"
#include "notes/note_lifetime.h"
#include "store/connection.h"
#include "store/note_search_index.h"
#include "store/note_store.h"
#include "store/set_table.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <random>

namespace yunshan {
namespace {

std::string show(const QList<NoteListRow> &rows)
{
    std::string s;
    for (const NoteListRow &r : rows)
        s += std::to_string(r.noteId) + "/" + std::to_string(r.isDel) + "/" + std::to_string(r.fast) + " ";
    return s;
}

bool same_rows(const QList<NoteListRow> &a, const QList<NoteListRow> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].noteId != b[i].noteId || a[i].isDel != b[i].isDel || a[i].fast != b[i].fast ||
            a[i].caption != b[i].caption)
            return false;
    return true;
}

class SearchIndexTest : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        set_search_index_folder_override(dir.mkdir(QStringLiteral("cache")));
        connect_store();
    }
    void TearDown() override
    {
        index.reset();
        store.reset();
        set_search_index_folder_override({});
        set_search_index_block_notes(0);
        StoreTest::TearDown();
    }
    void connect_store()
    {
        index.reset();
        store.reset();
        store = std::make_unique<NoteStore>(lock);
        QString z = zhu, b = bei;
        ASSERT_EQ(store->Connect_to_db(z, b, dialogs), kMainAndBackup);
        // Thousands of small writes: no flush to the disk after each.
        store->main().execute(QStringLiteral("PRAGMA main.synchronous=OFF"));
        store->main().execute(QStringLiteral("PRAGMA bei.synchronous=OFF"));
        index = std::make_unique<NoteSearchIndex>(*store);
        index->set_background(false);
    }
    QList<NoteListRow> plain(const QString &text, int offset, int limit)
    {
        return search_note_rows(*store, text, offset, limit);
    }
    // Every page of `text` by both ways; false on the first difference (reported).
    void expect_same_pages(const QString &text, int limit, const std::string &where)
    {
        const bool narrowable = !search_pieces(text).empty();
        for (int offset = 0;; offset += limit) {
            const auto found = index->search(text, offset, limit);
            const QList<NoteListRow> expected = plain(text, offset, limit);
            if (!narrowable) {
                EXPECT_FALSE(found.has_value()) << where;
                return;
            }
            ASSERT_TRUE(found.has_value()) << where << " text " << text.toStdString();
            ASSERT_TRUE(same_rows(*found, expected))
                << where << " text \"" << text.toStdString() << "\" offset " << offset << "\n index: " << show(*found)
                << "\n plain: " << show(expected);
            if (expected.size() < limit)
                return;
        }
    }
    int add_note(const QString &caption, const QString &label, const QString &content, int px = 100, int mode = 0)
    {
        test::write_sql(*store,
                        QStringLiteral("insert into notes(label,content,cuanjian,put) values(?,?,'2023-11-02 "
                                       "08:09:10','2023-11-02 08:09:10')"),
                        {label, content});
        const int id = int(store->get_first_integer(QStringLiteral("select max(id) from notes")));
        test::write_sql(
            *store, QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,caption) values(?,1,1,?,?,?)"),
            {px, id, mode, caption});
        return id;
    }
    QList<int> ids_of(const QString &text)
    {
        const auto found = index->search(text, 0, kNotePageSize);
        EXPECT_TRUE(found.has_value()) << text.toStdString();
        QList<int> ids;
        for (const NoteListRow &r : found.value_or(QList<NoteListRow>{}))
            ids.append(r.noteId);
        EXPECT_EQ(ids.size(), plain(text, 0, kNotePageSize).size()) << text.toStdString();
        return ids;
    }

    std::unique_ptr<NoteStore> store;
    std::unique_ptr<NoteSearchIndex> index;
};

// Random text over a small alphabet, so terms hit often: Chinese, ASCII of both cases, the
// wildcards, a quote, a letter outside ASCII with its capital, a character outside the BMP.
const QStringList kAlphabet = {
    QStringLiteral("项"), QStringLiteral("目"), QStringLiteral("会"), QStringLiteral("议"), QStringLiteral("计"),
    QStringLiteral("a"),  QStringLiteral("B"),  QStringLiteral("b"),  QStringLiteral("A"),  QStringLiteral("c"),
    QStringLiteral("%"),  QStringLiteral("_"),  QStringLiteral("'"),  QStringLiteral(" "),  QStringLiteral("é"),
    QStringLiteral("É"),  QStringLiteral("😀"),  QStringLiteral(":"),  QStringLiteral("p"),
};

QString random_text(std::mt19937 &r, int max_len)
{
    const int n = int(r() % unsigned(max_len + 1));
    QString s;
    for (int i = 0; i < n; ++i)
        s += kAlphabet.at(qsizetype(r() % unsigned(kAlphabet.size())));
    return s;
}

TEST_F(SearchIndexTest, RandomDatabasesAndTextsGiveThePlainStatementsRowsPageByPage)
{
    for (unsigned seed = 1; seed <= 48; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        // Blocks of a few notes: pages run across them.
        set_search_index_block_notes(seed % 2 ? 0 : 1 + seed % 7);
        test::write_sql(*store, QStringLiteral("delete from title"));
        test::write_sql(*store, QStringLiteral("delete from notes"));
        std::mt19937 r(seed);
        QStringList fields;  // texts the terms are cut from
        QList<int> note_ids; // in the order they were added
        auto add_random_note = [&] {
            const int mode = int(r() % 6) == 0 ? 1 : (int(r() % 5) == 0 ? 2 : 0);
            QString caption = random_text(r, 8);
            if (mode == 2)
                caption = (r() % 4 ? QStringLiteral("ABCDEF0123:ppp") : QStringLiteral("9a")) + caption;
            else if (mode == 1)
                caption = QStringLiteral("4142434445") + caption;
            const QString label = random_text(r, 5);
            const QString body = random_text(r, 30);
            const int px = int(r() % 4); // many equal keys: the tie order counts
            const int id = add_note(caption, label, body, px, mode);
            note_ids << id;
            if (r() % 9 == 0) // a title whose notes row is missing
                test::write_sql(*store, QStringLiteral("delete from notes where id=") + QString::number(id));
            if (r() % 7 == 0)
                test::write_sql(*store, QStringLiteral("update title set fast=1 where noteId=") + QString::number(id));
            fields << caption << label << body << caption.right(2) + label.left(2) << label.right(1) + body.left(2);
        };
        const int notes = 10 + int(r() % 40);
        for (int i = 0; i < notes; ++i)
            add_random_note();
        ASSERT_TRUE(index->update_now());

        auto check_terms = [&](const char *stage) {
            for (int t = 0; t < 25; ++t) {
                QString term;
                const QString &f = fields.at(qsizetype(r() % unsigned(fields.size())));
                const int from = f.isEmpty() ? 0 : int(r() % unsigned(f.size()));
                if (t % 3 == 0) {
                    term = random_text(r, 3);
                } else if (t % 3 == 1) {
                    term = f.mid(from, 1 + int(r() % 3));
                } else {
                    // A piece of a field with wildcards put in: "_" for one of its characters or
                    // "%" between two of them, and at its ends.
                    term = f.mid(from, 2 + int(r() % 4));
                    if (term.size() > 1) {
                        const qsizetype at = 1 + qsizetype(r() % unsigned(term.size() - 1));
                        if (r() % 2)
                            term[at - (r() % 2)] = QLatin1Char('_');
                        else
                            term.insert(at, QLatin1Char('%'));
                    }
                    const QString ends[] = {{}, QStringLiteral("_"), QStringLiteral("%"), QStringLiteral("__")};
                    term = ends[r() % 4] + term + ends[r() % 4];
                }
                if (term.isEmpty())
                    continue;
                if (r() % 4 == 0)
                    term = term.toUpper();
                expect_same_pages(term, 1 + int(r() % 4), stage);
                if (HasFatalFailure())
                    return;
            }
        };
        check_terms("built");
        if (HasFatalFailure())
            return;

        // Writes of every kind, followed by searches without a rebuild. (Encrypting a note the
        // build read drops the index for a new build: tested on its own.)
        for (int w = 0; w < 12; ++w) {
            const qsizetype pick = qsizetype(r() % unsigned(note_ids.size() + 2));
            const bool added_since_build = pick >= notes && pick < note_ids.size();
            const QString id =
                pick < note_ids.size() ? QString::number(note_ids.at(pick)) : QStringLiteral("999999"); // none
            switch (r() % 7) {
            case 0:
                test::write_sql(*store, QStringLiteral("update notes set content=? where id=") + id,
                                {random_text(r, 30)});
                break;
            case 1:
                test::write_sql(*store, QStringLiteral("update title set caption=? where noteId=") + id,
                                {random_text(r, 8)});
                break;
            case 2:
                test::write_sql(*store, QStringLiteral("update title set px=") + QString::number(r() % 4) +
                                            QStringLiteral(" where noteId=") + id);
                break;
            case 3:
                test::write_sql(*store, QStringLiteral("update title set isDel=") +
                                            QString::number(added_since_build ? r() % 3 : 0) +
                                            QStringLiteral(" where noteId=") + id);
                break;
            case 4:
                test::write_sql(*store, QStringLiteral("delete from title where noteId=") + id);
                break;
            case 5:
                test::write_sql(*store, QStringLiteral("update notes set label=? where id=") + id, {random_text(r, 5)});
                break;
            default:
                add_random_note();
            }
        }
        check_terms("after writes");
        if (HasFatalFailure())
            return;
    }
}

TEST_F(SearchIndexTest, TextsTheIndexCannotNarrowFallBackToThePlainStatement)
{
    add_note(QStringLiteral("甲"), {}, {});
    ASSERT_TRUE(index->update_now());
    for (const QString &text : {QStringLiteral("%"), QStringLiteral("_"), QStringLiteral("%_%"), QString()})
        EXPECT_FALSE(index->search(text, 0, kNotePageSize).has_value()) << text.toStdString();
    EXPECT_TRUE(index->search(QStringLiteral("甲%"), 0, kNotePageSize).has_value());
}

TEST_F(SearchIndexTest, EveryWritingCommandIsSeenByTheNextSearch)
{
    test::write_sql(*store, QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲')"));
    test::write_sql(*store, QStringLiteral("insert into Section(px,classId,caption) values(101,1,'乙')"));
    const int first = add_note(QStringLiteral("早餐"), QStringLiteral("饮食"), QStringLiteral("豆浆油条"), 5);
    const int second = add_note(QStringLiteral("午餐"), QStringLiteral("饮食"), QStringLiteral("米饭"), 6);
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("饮食")), (QList<int>{first, second}));

    // Save: a new body and title.
    QTextDocument body;
    body.setPlainText(QStringLiteral("牛奶面包"));
    SaveRequest save;
    save.note_id = first;
    save.title_changed = save.body_changed = true;
    save.title = QStringLiteral("早饭");
    save.label = QStringLiteral("饮食");
    save.body = &body;
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_EQ(ids_of(QStringLiteral("豆浆")), QList<int>{});
    EXPECT_EQ(ids_of(QStringLiteral("面包")), QList<int>{first});
    EXPECT_EQ(ids_of(QStringLiteral("早饭")), QList<int>{first});

    // Create: the new note's caption is found.
    const QString caption = new_note_caption(QDate(2026, 12, 10), QLocale(QLocale::Chinese, QLocale::China));
    const NewNote created = create_note(*store, QStringLiteral("默认大类"), QStringLiteral("甲"), 2, caption);
    EXPECT_EQ(ids_of(QStringLiteral("新的笔记")), QList<int>{created.note_id});

    // Reorder: the list order follows px at once.
    test::write_sql(*store, QStringLiteral("update title set px=1 where noteId=") + QString::number(second));
    EXPECT_EQ(ids_of(QStringLiteral("饮食")), (QList<int>{second, first}));

    // Move to another minor category keeps the note findable.
    EXPECT_EQ(move_note(*store, second, QStringLiteral("甲"), QStringLiteral("乙")), MoveOutcome::Moved);
    EXPECT_EQ(ids_of(QStringLiteral("米饭")), QList<int>{second});

    // Encrypt body-only, then with title: the body is no longer searched; the readable title and
    // the tag line of body-only notes are (both stay in clear).
    save.title_changed = save.body_changed = true;
    save.is_crypt = 2;
    save.key_crypt = QStringLiteral("pw");
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    // The index held the note's plain text: it is dropped at once and built again without it,
    // the plain statement answering meanwhile.
    EXPECT_FALSE(index->search(QStringLiteral("面包"), 0, kNotePageSize).has_value());
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("面包")), QList<int>{});
    EXPECT_EQ(ids_of(QStringLiteral("早饭")), QList<int>{first});
    EXPECT_EQ(ids_of(save.label), (QList<int>{second, first})); // the tag line "饮食" of both
    save.is_crypt = 1;
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_EQ(ids_of(QStringLiteral("早饭")), QList<int>{});
    EXPECT_EQ(ids_of(save.label), QList<int>{second});
    // Decrypt.
    save.is_crypt = 0;
    save.key_crypt.clear();
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_EQ(ids_of(QStringLiteral("面包")), QList<int>{first});

    // Delete.
    delete_note(*store, first);
    EXPECT_EQ(ids_of(QStringLiteral("面包")), QList<int>{});
    EXPECT_EQ(ids_of(QStringLiteral("饮食")), QList<int>{second});
}

// Every key of `text` that stands in the index file (in the postings or the delta).
QList<qint64> keys_in_file(const QString &file, const QString &text)
{
    Connection c;
    c.open(file, false);
    QList<qint64> found;
    for (const qint64 key : text_index_keys(text)) {
        const auto in_post = c.query_first(QStringLiteral("select count(*) from post where key=?"), {key});
        const auto in_delta = c.query_first(QStringLiteral("select count(*) from delta where key=?"), {key});
        if (in_post.value_or(0).toLongLong() + in_delta.value_or(0).toLongLong() > 0)
            found << key;
    }
    return found;
}

TEST_F(SearchIndexTest, NothingOfANoteEncryptedSinceTheBuildStaysInTheIndexFile)
{
    const QString secret = QStringLiteral("鲲鹏计划");
    add_note(QStringLiteral("别的"), {}, QStringLiteral("日常"));
    const int id = add_note(QStringLiteral("计划书"), QStringLiteral("私人"), secret);
    ASSERT_TRUE(index->update_now());
    const QString file = search_index_file(main_file());
    ASSERT_FALSE(keys_in_file(file, secret).isEmpty());

    // Encrypted with title: the next search drops the file; the build has none of it.
    QTextDocument body;
    body.setPlainText(secret);
    SaveRequest save;
    save.note_id = id;
    save.title_changed = save.body_changed = true;
    save.title = QStringLiteral("计划书");
    save.label = QStringLiteral("私人");
    save.body = &body;
    save.is_crypt = 1;
    save.key_crypt = QStringLiteral("pw");
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_FALSE(index->search(QStringLiteral("日常"), 0, kNotePageSize).has_value());
    EXPECT_FALSE(QFile::exists(file));
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(keys_in_file(file, secret), QList<qint64>{});
    EXPECT_EQ(keys_in_file(file, QStringLiteral("私人")), QList<qint64>{});

    // Saving it again encrypted keeps the file; decrypted, its text is searched again.
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_EQ(ids_of(QStringLiteral("日常")).size(), 1);
    save.is_crypt = 0;
    save.key_crypt.clear();
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_EQ(ids_of(secret), QList<int>{id});
    // Encrypted once more: the plain text lived only in the delta, which forgets it.
    save.is_crypt = 2;
    save.key_crypt = QStringLiteral("pw");
    ASSERT_EQ(save_note(*store, save).outcome, SaveOutcome::Saved);
    EXPECT_EQ(ids_of(secret), QList<int>{});
    EXPECT_EQ(keys_in_file(file, QStringLiteral("鲲鹏")), QList<qint64>{}); // its readable title has the rest
}

TEST_F(SearchIndexTest, AFileReplacedBehindItsBackIsRebuilt)
{
    const int id = add_note(QStringLiteral("旧"), {}, QStringLiteral("旧的内容"));
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("旧的")), QList<int>{id});

    // Another program writes the file (as a download replacing it would): the open connection
    // notices at the next search; a reopened one by the file's stamp.
    {
        Connection other;
        other.open(main_file(), false);
        other.execute(QStringLiteral("update notes set content='新的内容' where id=?"), {id});
    }
    EXPECT_FALSE(index->search(QStringLiteral("新的"), 0, kNotePageSize).has_value());
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("新的")), QList<int>{id});
    EXPECT_EQ(ids_of(QStringLiteral("旧的")), QList<int>{});

    index.reset(); // the index goes before the store it follows
    store.reset();
    {
        Connection other;
        other.open(main_file(), false);
        other.execute(QStringLiteral("update notes set content='第三版' where id=?"), {id});
    }
    // The main file no longer matches its backup: the store sees it and copies it afresh.
    dialogs.expect_containing(test::ScriptedDialogs::Kind::Message, QStringLiteral("旧备份已改名为"));
    connect_store();
    EXPECT_FALSE(index->search(QStringLiteral("第三"), 0, kNotePageSize).has_value());
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("第三")), QList<int>{id});
}

TEST_F(SearchIndexTest, TheIndexOfAnUnchangedFileIsReusedAndItsWritesKept)
{
    const int id = add_note(QStringLiteral("甲"), {}, QStringLiteral("内容"));
    ASSERT_TRUE(index->update_now());
    test::write_sql(*store, QStringLiteral("update notes set content='改过' where id=?"), {id});
    index->finish(); // the window's end: the log is applied to the file
    connect_store();
    // No build is allowed here: the file is taken as it is.
    EXPECT_EQ(ids_of(QStringLiteral("改过")), QList<int>{id});
}

TEST_F(SearchIndexTest, ADamagedOrLostIndexFileIsRebuilt)
{
    const int id = add_note(QStringLiteral("甲"), {}, QStringLiteral("内容"));
    ASSERT_TRUE(index->update_now());
    const QString file = search_index_file(main_file());
    ASSERT_TRUE(QFile::exists(file));
    index.reset(); // the index goes before the store it follows
    store.reset();

    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    connect_store();
    EXPECT_FALSE(index->search(QStringLiteral("内容"), 0, kNotePageSize).has_value());
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("内容")), QList<int>{id});

    index->finish();
    QFile::remove(file);
    connect_store();
    ASSERT_TRUE(index->update_now());
    EXPECT_EQ(ids_of(QStringLiteral("内容")), QList<int>{id});
}

TEST_F(SearchIndexTest, ABackgroundBuildAnswersWhenDoneAndFollowsWritesMadeMeanwhile)
{
    for (int i = 0; i < 1200; ++i)
        add_note(QStringLiteral("笔记") + QString::number(i), {}, QStringLiteral("正文内容") + QString::number(i),
                 i % 7);
    index->set_background(true);
    QSignalSpy finished(index.get(), &NoteSearchIndex::build_finished);
    QSignalSpy progress(index.get(), &NoteSearchIndex::build_progress);
    EXPECT_FALSE(index->search(QStringLiteral("正文"), 0, kNotePageSize).has_value());
    EXPECT_TRUE(index->building());
    // A write while the worker reads.
    const int late = add_note(QStringLiteral("迟到"), {}, QStringLiteral("正文迟到"), 0);
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toInt(), progress.last().at(1).toInt());
    const auto found = index->search(QStringLiteral("迟到"), 0, kNotePageSize);
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->size(), 1);
    EXPECT_EQ(found->at(0).noteId, late);
    expect_same_pages(QStringLiteral("正文"), kNotePageSize, "background");
}

TEST_F(SearchIndexTest, WildcardsBetweenCommonPiecesArePagedExactlyByTheIndex)
{
    // Both pieces of "甲_乙" are in every note, in that order only in every 15th; a thousand
    // misses come before the first match in list order, over several blocks.
    set_search_index_block_notes(256);
    for (int i = 0; i < 900; ++i)
        add_note(QString::number(i), {}, i % 15 == 0 ? QStringLiteral("甲x乙") : QStringLiteral("乙x甲"), (i * 7) % 50);
    for (int i = 0; i < 1000; ++i)
        add_note(QStringLiteral("前"), {}, QStringLiteral("乙x甲"), -1);
    ASSERT_TRUE(index->update_now());
    for (const QString &text : {QStringLiteral("甲_乙"), QStringLiteral("甲%乙"), QStringLiteral("_x乙"),
                                QStringLiteral("甲x_"), QStringLiteral("甲%_乙")}) {
        expect_same_pages(text, 30, "sparse");
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(ids_of(QStringLiteral("甲_乙")).size(), 60);
}

TEST_F(SearchIndexTest, AReconnectKeepsTheIndexWithItsWrites)
{
    const int id = add_note(QStringLiteral("甲"), {}, QStringLiteral("内容"));
    ASSERT_TRUE(index->update_now());
    test::write_sql(*store, QStringLiteral("update notes set content='改过' where id=?"), {id});
    // As the settings dialog or the export reconnect: no build is allowed, the file serves on.
    QString z = zhu, b = bei;
    ASSERT_EQ(store->Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_EQ(ids_of(QStringLiteral("改过")), QList<int>{id});
    EXPECT_EQ(ids_of(QStringLiteral("内容")), QList<int>{});
}

TEST_F(SearchIndexTest, TheMainFileReopenedAfterABackupKeepsItsIndex)
{
    const int id = add_note(QStringLiteral("甲"), {}, QStringLiteral("内容"));
    ASSERT_TRUE(index->update_now());
    test::write_sql(*store, QStringLiteral("update notes set content='改过' where id=?"), {id});
    EXPECT_EQ(ids_of(QStringLiteral("改过")), QList<int>{id});
    set_table::set_tmp_file1(*store, id); // a write the note log does not see
    store->with_main_closed([] {});       // as the packing of a backup does
    EXPECT_EQ(ids_of(QStringLiteral("改过")), QList<int>{id});
    test::write_sql(*store, QStringLiteral("update notes set content='再改' where id=?"), {id});
    EXPECT_EQ(ids_of(QStringLiteral("再改")), QList<int>{id});
}

TEST_F(SearchIndexTest, AMainFileReplacedByASyncIsIndexedAfreshAtOnce)
{
    const int id = add_note(QStringLiteral("甲"), {}, QStringLiteral("本机内容"));
    ASSERT_TRUE(index->update_now());
    const QString other = dir.file(QStringLiteral("downloaded.sl3"));
    ASSERT_TRUE(QFile::copy(main_file(), other));
    {
        Connection db;
        db.open(other, false);
        db.execute(QStringLiteral("update notes set content='网盘内容' where id=?"), {id});
    }
    index->set_background(true);
    QSignalSpy finished(index.get(), &NoteSearchIndex::build_finished);
    store->replace_main_file([&] {
        QFile::remove(main_file());
        return QFile::rename(other, main_file());
    });
    EXPECT_TRUE(index->building()); // without waiting for a search
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(ids_of(QStringLiteral("网盘")), QList<int>{id});
    EXPECT_EQ(ids_of(QStringLiteral("本机")), QList<int>{});
    test::expect_mirror_identical(*store);
}

TEST(SearchPieces, SplitAtWildcardsAndFoldAsciiOnly)
{
    const auto pieces = search_pieces(QStringLiteral("Ab%é_Éx"));
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], (std::vector<quint32>{'a', 'b'}));
    EXPECT_EQ(pieces[1], (std::vector<quint32>{0xE9}));
    EXPECT_EQ(pieces[2], (std::vector<quint32>{0xC9, 'x'}));
    // Broken UTF-8 is read as the engine reads it.
    EXPECT_EQ(like_characters(QByteArray("\xC3(\x80", 3)), (std::vector<quint32>{0xFFFD, '(', 0x80}));
}

} // namespace
} // namespace yunshan
