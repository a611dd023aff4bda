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
    NoteListState list;
    list.is_fast_list = {0, 1, 0};

    NoteListMenuState s = note_list_menu_state(true, 2, list, 1);
    EXPECT_TRUE(s.save);
    EXPECT_EQ(s.encryption, (EncryptionMenuState{true, false, true}));
    ASSERT_TRUE(s.favourite.has_value());
    EXPECT_EQ(*s.favourite, (FavouriteMenuState{false, true}));

    s = note_list_menu_state(false, 2, list, 0);
    EXPECT_FALSE(s.save);
    ASSERT_TRUE(s.favourite.has_value());
    EXPECT_EQ(*s.favourite, (FavouriteMenuState{true, false}));

    // No selection, or a row the list does not hold: the favourite entries are left alone.
    EXPECT_FALSE(note_list_menu_state(false, 2, list, -1).favourite.has_value());
    EXPECT_FALSE(note_list_menu_state(false, 2, list, 3).favourite.has_value());
    EXPECT_FALSE(note_list_menu_state(false, 2, NoteListState{}, 0).favourite.has_value());
}

} // namespace
} // namespace yunshan
