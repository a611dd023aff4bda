#include "session/note_list_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace yunshan {
namespace {

QList<NoteListRow> rows()
{
    return {{11, 0, 0, QStringLiteral("周报 第一周")},
            {12, 1, 1, QStringLiteral("0A1B2C")}, // encrypted with its title
            {13, 2, 0, QStringLiteral("X:ppp周报草稿")},
            {14, 0, 1, QStringLiteral("读书")}};
}

class NoteListModelTest : public ::testing::Test {
  protected:
    NoteListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(NoteListModelTest, RolesOfEachEntry)
{
    model.set_rows(rows(), QStringLiteral("周报"));
    ASSERT_EQ(model.rowCount(), 4);
    const struct {
        int row;
        QString text;
        int mode;
        bool favourite;
        QString match;
        QString description;
    } cases[] = {
        {0, QStringLiteral("周报 第一周"), 0, false, QStringLiteral("周报"), QStringLiteral("第1条，含“周报”")},
        {1, QStringLiteral("******"), 1, true, QString(), QStringLiteral("第2条，已收藏，已加密")},
        {2, QStringLiteral("周报草稿"), 2, false, QStringLiteral("周报"), QStringLiteral("第3条，已加密，含“周报”")},
        {3, QStringLiteral("读书"), 0, true, QString(), QStringLiteral("第4条，已收藏")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.row);
        const QModelIndex i = model.index(c.row);
        EXPECT_EQ(i.data().toString(), c.text);
        EXPECT_EQ(i.data(NoteListModel::NoteIdRole).toInt(), 11 + c.row);
        EXPECT_EQ(i.data(NoteListModel::ModeRole).toInt(), c.mode);
        EXPECT_EQ(i.data(NoteListModel::FavouriteRole).toBool(), c.favourite);
        EXPECT_EQ(i.data(NoteListModel::NumberRole).toInt(), c.row + 1);
        EXPECT_EQ(i.data(NoteListModel::MatchRole).toString(), c.match);
        EXPECT_EQ(i.data(Qt::AccessibleDescriptionRole).toString(), c.description);
    }
}

TEST_F(NoteListModelTest, ChangesReachTheViewsThroughSignals)
{
    model.set_rows(rows());
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    EXPECT_TRUE(model.set_mode(11, 2));
    EXPECT_FALSE(model.set_mode(11, 2)); // no change, no signal
    model.set_favourite(0, true);
    model.set_text(0, QStringLiteral("改名"));
    EXPECT_EQ(changed.size(), 3);
    EXPECT_EQ(model.index(0).data(Qt::AccessibleDescriptionRole).toString(), QStringLiteral("第1条，已收藏，已加密"));

    model.remove(1);
    EXPECT_EQ(model.note_ids(), (QList<int>{11, 13, 14}));
    EXPECT_EQ(model.index(1).data(NoteListModel::NumberRole).toInt(), 2);
    model.append({20, 0, false, QStringLiteral("新的笔记")});
    EXPECT_EQ(model.row_of(20), 3);
    EXPECT_EQ(model.row_of(12), -1);
    EXPECT_EQ(model.entry(99).note_id, 0);
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(NoteListModelTest, ModeFollowsTheNoteIdWhereverItsEntriesAre)
{
    model.set_rows({{9, 1, 0, QStringLiteral("A")}, {7, 0, 0, QStringLiteral("B")}, {9, 1, 0, QStringLiteral("C")}});
    const auto modes = [this] {
        QList<int> out;
        for (int i = 0; i < model.count(); ++i)
            out << model.entry(i).mode;
        return out;
    };
    EXPECT_TRUE(model.set_mode(9, 2));
    EXPECT_EQ(modes(), QList<int>({2, 0, 2}));
    EXPECT_FALSE(model.set_mode(9, 2));
    EXPECT_FALSE(model.set_mode(5, 1));
    EXPECT_EQ(modes(), QList<int>({2, 0, 2}));
}

TEST_F(NoteListModelTest, ChangedMatchIsMarkedAndToldInEveryEntry)
{
    model.set_rows(rows(), QStringLiteral("周报"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.set_match(QStringLiteral("读书"));
    model.set_match(QStringLiteral("读书")); // the same: no signal
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>().row(), 0);
    EXPECT_EQ(changed.at(0).at(1).value<QModelIndex>().row(), 3);
    EXPECT_EQ(model.index(0).data(NoteListModel::MatchRole).toString(), QString());
    EXPECT_EQ(model.index(3).data(NoteListModel::MatchRole).toString(), QStringLiteral("读书"));
    EXPECT_EQ(model.index(3).data(Qt::AccessibleDescriptionRole).toString(), QStringLiteral("第4条，已收藏，含“读书”"));
    model.set_match({});
    EXPECT_EQ(model.match(), QString());
    EXPECT_EQ(model.index(3).data(NoteListModel::MatchRole).toString(), QString());
}

} // namespace
} // namespace yunshan
