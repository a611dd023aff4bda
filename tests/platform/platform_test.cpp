#include "platform/owner_lock.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "platform/settings_store.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace yunshan;

TEST(Rounding, RoundHalfEven)
{
    const std::pair<double, int> cases[] = {{19.5, 20}, {20.5, 20}, {21.5, 22}, {15.6, 16}, {16.9, 17}, {24.0, 24}};
    for (const auto &[v, r] : cases)
        EXPECT_EQ(round_half_even(v), r) << v;
}

TEST(Paths, JoinUsesOneSlash)
{
    EXPECT_EQ(join_path(QStringLiteral("/a/b"), QStringLiteral("notedb.sl3")), QStringLiteral("/a/b/notedb.sl3"));
    EXPECT_EQ(join_path(QStringLiteral("/a/b/"), QStringLiteral("/notedb.sl3")), QStringLiteral("/a/b/notedb.sl3"));
    EXPECT_TRUE(autosave_folder().endsWith(QLatin1Char('/')));
    EXPECT_TRUE(program_folder().endsWith(QLatin1Char('/')));
}

TEST(SettingsStore, DefaultLocationFollowsXdgConfigHome)
{
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/YunShanNote/YunShanNote.ini");
    EXPECT_EQ(SettingsStore::default_location(), expected);
}

TEST(SettingsStore, MissingReadsEmptyAndValuesLandUnderGeneral)
{
    test::TempFolder dir;
    const QString ini = dir.file(QStringLiteral("YunShanNote.ini"));
    {
        SettingsStore s(ini);
        EXPECT_FALSE(s.exists());
        EXPECT_EQ(s.value(QStringLiteral("zhu_db")), QString());
        s.set_value(QStringLiteral("zhu_db"), QStringLiteral("/数据/笔记"));
        s.set_value(QStringLiteral("font_size"), QStringLiteral("12"));
    }
    const QByteArray text = test::TempFolder::read(ini);
    EXPECT_TRUE(text.contains("[General]"));
    EXPECT_TRUE(text.contains("font_size=12"));
    SettingsStore again(ini);
    EXPECT_TRUE(again.exists());
    EXPECT_EQ(again.value(QStringLiteral("zhu_db")), QStringLiteral("/数据/笔记"));
}

TEST(OwnerLock, SecondHolderIsRefusedUntilReleased)
{
    OwnerLock first(QStringLiteral("yunshan_note_test"));
    OwnerLock second(QStringLiteral("yunshan_note_test"));
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.acquire()); // taking it again while held is harmless
    EXPECT_FALSE(second.acquire());
    first.release();
    EXPECT_TRUE(second.acquire());
}
