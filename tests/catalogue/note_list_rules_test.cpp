// Rules of the note list and of reading a note, without the window.
#include "catalogue/note_list.h"
#include "editor/note_loader.h"
#include "pictures/thumbnail.h"
#include "store/note_store.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>

namespace yunshan {
namespace {

const QString kHex = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");

TEST(NoteListRules, DisplayedTextByListMark)
{
    struct Case {
        QString caption;
        int mark;
        QString shown;
    };
    const QString long_title(600, QChar(0x8BB0));
    const Case cases[] = {
        {QStringLiteral("会议记录"), 0, QStringLiteral("会议记录")},
        {kHex + kHex, 1, QStringLiteral("******")},
        {kHex + QStringLiteral(":ppp预算表"), 2, QStringLiteral("预算表")},
        {kHex + QStringLiteral(":ppp甲:ppp乙"), 2, QStringLiteral("甲:ppp乙")}, // the first separator counts
        {kHex + QStringLiteral(":ppp") + long_title, 2, long_title.left(555)},
        {QStringLiteral("abcdef"), 2, QStringLiteral("def")}, // no separator: from the fourth character
    };
    for (const Case &c : cases)
        EXPECT_EQ(displayed_note_text(c.caption, c.mark), c.shown) << c.caption.toStdString();
}

class NoteListRows : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store = std::make_unique<NoteStore>(lock);
        QString z = zhu, b = bei;
        ASSERT_EQ(store->Connect_to_db(z, b, dialogs), kMainAndBackup);
        // Nothing but the rows of the test (a new file has a first category and note).
        for (const char *table : {"title", "notes", "Section", "Class"})
            test::write_sql(*store, QStringLiteral("delete from ") + QLatin1String(table));
        test::write_sql(*store, QStringLiteral("insert into Class(id,caption) values(1,'大')"));
        test::write_sql(*store,
                        QStringLiteral("insert into Section(id,classId,caption) values(1,1,'Tom''s'),(2,1,'乙')"));
    }
    void add(int id, int px, int section, int mark, int fast, const QString &caption, const QString &label = {})
    {
        test::write_sql(*store, QStringLiteral("insert into notes(id,label,content) values(?1,?2,'')"), {id, label});
        test::write_sql(*store,
                        QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,caption) "
                                       "values(?1,1,?2,?3,?4,?5,?6)"),
                        {px, section, id, mark, fast, caption});
    }
    QList<int> ids(NoteListKind kind, const QString &key, int offset = 0)
    {
        QList<int> out;
        for (const NoteListRow &r : note_list_rows(*store, kind, key, offset))
            out.append(r.noteId);
        return out;
    }
    std::unique_ptr<NoteStore> store;
};

TEST_F(NoteListRows, EachListKindPicksItsRows)
{
    add(1, 300, 1, 0, 1, QStringLiteral("it's 5%_ x"));
    add(2, 100, 1, 1, 0, kHex + QStringLiteral("it's 5%_"));                  // ciphertext caption: never matched
    add(3, 200, 2, 2, 1, kHex + QStringLiteral(":pppit's 5%_ y"));            // readable title after ":ppp"
    add(4, 100, 2, 0, 0, QStringLiteral("其他"), QStringLiteral("it's 5%_")); // the tag line
    add(5, 100, 2, 0, 0, QStringLiteral("it's 5a_"));                         // "%" keeps its meaning
    struct Case {
        NoteListKind kind;
        QString key;
        QList<int> ids;
    };
    const Case cases[] = {
        {kSearchList, QStringLiteral("it's 5%_"), {4, 5, 3, 1}},
        {kSearchList, QString(), {1, 2, 3, 4, 5}},
        {kFavouriteList, QStringLiteral("ignored"), {1, 3}},
        {kEncryptedList, QString(), {2, 3}},
        {kSectionList, QStringLiteral("Tom's"), {2, 1}},
        {kSectionList, QStringLiteral("无"), {}},
        {NoteListKind(7), QString(), {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ids(c.kind, c.key), c.ids) << c.kind << ' ' << c.key.toStdString();
    EXPECT_EQ(ids(kSectionList, QStringLiteral("乙"), 2), QList<int>({3}));
}

TEST(NoteListRules, OffsetStartsAgainForAnotherListAndIsKeptByPaging)
{
    NoteListState list;
    choose_note_list(list, kSectionList, QStringLiteral("甲"));
    next_note_page(list);
    next_note_page(list);
    choose_note_list(list, kSectionList, QStringLiteral("甲")); // paging refills the same list
    EXPECT_EQ(list.search_offset, 400);
    choose_note_list(list, kSectionList, QStringLiteral("乙"));
    EXPECT_EQ(list.search_offset, 0);
    next_note_page(list);
    choose_note_list(list, kSearchList, QStringLiteral("乙"));
    EXPECT_EQ(list.search_offset, 0);
    EXPECT_EQ(list.search_flag, kSearchList);
    next_note_page(list);
    choose_note_list(list, kSearchList, QStringLiteral("丙"));
    EXPECT_EQ(list.search_offset, 0);
    EXPECT_FALSE(previous_note_page(list));
    EXPECT_EQ(list.search_offset, 0);
    next_note_page(list);
    EXPECT_TRUE(previous_note_page(list));
    EXPECT_EQ(list.search_offset, 0);
}

int width10(const QString &s)
{
    return int(s.size()) * 10;
}

TEST(NoteListRules, EntryPiecesMarkTheCaseSensitiveMatch)
{
    EXPECT_EQ(entry_pieces(0, QStringLiteral("年度预算表"), QStringLiteral("预算"), true, width10),
              QList<EntryPiece>({{QStringLiteral("1 年度"), 0, false},
                                 {QStringLiteral("预算"), 40, true},
                                 {QStringLiteral("表"), 60, false}}));
    // Numbers restart on every page: the row inside the page counts.
    EXPECT_EQ(entry_pieces(199, QStringLiteral("Budget"), QStringLiteral("budget"), true, width10),
              QList<EntryPiece>({{QStringLiteral("200 Budget"), 0, false}}));
    EXPECT_EQ(entry_pieces(1, QStringLiteral("预算"), QStringLiteral("预算"), false, width10),
              QList<EntryPiece>({{QStringLiteral("2 预算"), 0, false}}));
    EXPECT_EQ(entry_pieces(0, QStringLiteral("预算"), QStringLiteral("预算"), true, width10),
              QList<EntryPiece>({{QStringLiteral("1 "), 0, false}, {QStringLiteral("预算"), 20, true}}));
    const auto long_rest =
        entry_pieces(0, QStringLiteral("x") + QString(300, QLatin1Char('y')), QStringLiteral("x"), true, width10);
    ASSERT_EQ(long_rest.size(), 3);
    EXPECT_EQ(long_rest.at(2).text.size(), 255);
    EXPECT_EQ(entry_hint_measure_text(3, QStringLiteral("甲")), QStringLiteral("3 甲"));
}

// A screen reader is told the search text exactly when the entry shows it in red.
TEST(NoteListRules, MarkedTextFollowsTheRedMark)
{
    struct Case {
        const char *displayed, *search;
        bool highlight;
        const char *marked;
    };
    const Case cases[] = {
        {"年度预算表", "预算", true, "预算"}, {"年度预算表", "预算", false, ""}, {"Budget", "budget", true, ""},
        {"年度预算表", "", true, ""},         {"******", "预算", true, ""},
    };
    for (const Case &c : cases) {
        const QString displayed = QString::fromUtf8(c.displayed), search = QString::fromUtf8(c.search);
        EXPECT_EQ(entry_marked_text(displayed, search, c.highlight), QString::fromUtf8(c.marked)) << c.displayed;
        const bool red = entry_pieces(0, displayed, search, c.highlight, width10).size() > 1;
        EXPECT_EQ(red, !QString::fromUtf8(c.marked).isEmpty()) << c.displayed;
    }
}

TEST(NoteReading, PlainBodyInEveryStoredForm)
{
    const QString text = QStringLiteral("第一行 ABC\r\n镕堃喆 😀");
    QByteArray utf16("\xFF\xFE", 2);
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    EXPECT_EQ(plain_body_text(QVariant(utf16)), text);
    EXPECT_EQ(plain_body_text(QVariant(QChar(0xFEFF) + text)), text);
    EXPECT_EQ(plain_body_text(QVariant(text)), text);
    EXPECT_EQ(plain_body_text(QVariant(text.toUtf8())), text);
    EXPECT_EQ(plain_body_text(QVariant()), QString());
}

TEST(NoteReading, UpdateTimeInTheRegionalFormat)
{
    const QLocale china(QLocale::Chinese, QLocale::China);
    EXPECT_EQ(regional_date_time(QStringLiteral("2024-03-05 07:08:09"), china), QStringLiteral("2024/3/5 07:08:09"));
    EXPECT_EQ(regional_date_time(QStringLiteral("2024-03-05 07:08:09"), QLocale::c()),
              QLocale::c().toString(QDate(2024, 3, 5), QLocale::ShortFormat) + QStringLiteral(" 07:08:09"));
    EXPECT_EQ(regional_date_time(QStringLiteral("不是时间"), china), QStringLiteral("不是时间"));
}

TEST(NoteReading, FindNextRunsForwardIgnoringCase)
{
    QTextDocument doc(QStringLiteral("Alpha beta ALPHA gamma"));
    QTextCursor c(&doc);
    ASSERT_TRUE(find_next_in(doc, c, QStringLiteral("alpha")));
    EXPECT_EQ(c.selectionStart(), 0);
    ASSERT_TRUE(find_next_in(doc, c, QStringLiteral("alpha")));
    EXPECT_EQ(c.selectionStart(), 11);
    EXPECT_FALSE(find_next_in(doc, c, QStringLiteral("alpha")));
    EXPECT_EQ(c.selectionStart(), 11); // a miss keeps the selection
    EXPECT_TRUE(body_has_headings_mark(QStringLiteral("text #not at line start")));
    EXPECT_FALSE(body_has_headings_mark(QStringLiteral("no mark")));
}

TEST(Thumbnails, HeightFollowsThePanelWidthRoundingHalfToEven)
{
    EXPECT_EQ(thumbnail_height(QSize(400, 300), 200), 150);
    EXPECT_EQ(thumbnail_height(QSize(200, 5), 100), 2); // 2.5 -> 2
    EXPECT_EQ(thumbnail_height(QSize(200, 7), 100), 4); // 3.5 -> 4
    EXPECT_EQ(thumbnail_height(QSize(0, 7), 100), 0);
    const Thumbnail broken = decode_thumbnail(QByteArray("not a picture"), 100);
    EXPECT_TRUE(broken.image.isNull());
    EXPECT_FALSE(broken.error.isEmpty());
}

} // namespace
} // namespace yunshan
