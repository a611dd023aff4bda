#include "app/command_rules.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

TEST(ContextMenuRules, EncryptionEntriesFollowTheOpenNotesMode)
{
    struct Case {
        int is_crypt;
        EncryptionMenuState expected;
    } const cases[] = {
        {0, {true, true, false}},
        {1, {false, true, true}},
        {2, {true, false, true}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(encryption_menu_state(c.is_crypt), c.expected) << "is_crypt " << c.is_crypt;
}

TEST(ContextMenuRules, NoteListMenu)
{
    NoteListMenuState s = note_list_menu_state(true, 2, true);
    EXPECT_TRUE(s.save);
    EXPECT_EQ(s.encryption, (EncryptionMenuState{true, false, true}));
    ASSERT_TRUE(s.favourite.has_value());
    EXPECT_EQ(*s.favourite, (FavouriteMenuState{false, true}));

    s = note_list_menu_state(false, 2, false);
    EXPECT_FALSE(s.save);
    ASSERT_TRUE(s.favourite.has_value());
    EXPECT_EQ(*s.favourite, (FavouriteMenuState{true, false}));

    // No selection: the favourite entries are left alone.
    EXPECT_FALSE(note_list_menu_state(false, 2, std::nullopt).favourite.has_value());
}

} // namespace
} // namespace yunshan
