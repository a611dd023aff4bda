// Creating notes without the window: the caption of a new note.
#include "notes/note_lifetime.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QLocale>

namespace yunshan {
namespace {

TEST(NoteLifetime, NewNoteCaptionCarriesTheShortDate)
{
    const QLocale locale(QLocale::Chinese, QLocale::China);
    const QDate d(2024, 3, 9);
    EXPECT_EQ(new_note_caption(d, locale), QStringLiteral("新的笔记") + locale.toString(d, QLocale::ShortFormat));
}

} // namespace
} // namespace yunshan
