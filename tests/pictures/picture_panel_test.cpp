// The picture panel of the main window against real main and backup database files: adding from
// a file and from the clipboard, the thumbnails' places, selecting, deleting, opening the viewer.
#include "app/ui/catalogue_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/tform2.h"
#include "pictures/picture_codec.h"
#include "pictures/picture_test_util.h"
#include "pictures/thumbnail_slots.h"
#include "pictures/ui/tpictureview.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace yunshan {
namespace {

using test::png_bytes;
using test::sample_image;
using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

const QString kDeleteQuestion = QStringLiteral("是否删除当前图片？");
const QString kChooseFirst = QStringLiteral("请先鼠标点击来选择一个要删除的图片。");

class PicturePanelTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        open_window();
        note_id = add_note(QStringLiteral("带图片的笔记"));
        open_note();
    }
    void open_window()
    {
        start_connected();
        show_window();
    }
    int add_note(const QString &caption)
    {
        NoteStore &s = form->store;
        if (!s.main().query_first(QStringLiteral("select id from Section where caption='图片类'")))
            test::write_sql(s, QStringLiteral("insert into Section(px,classId,caption) values(100,1,'图片类')"), {});
        test::write_sql(s,
                        QStringLiteral("insert into notes(label,cuanjian,put,content) values('','2024-01-02 03:04:05',"
                                       "'2024-01-02 03:04:05',:a)"),
                        {QVariant(QString(QChar(0xFEFF)) + QStringLiteral("正文"))});
        const int id = static_cast<int>(s.main().last_insert_rowid());
        const int section =
            static_cast<int>(s.get_first_integer(QStringLiteral("select id from Section where caption='图片类'")));
        test::write_sql(
            s,
            QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,caption) values(100,1,?,?,0,0,?)"),
            {section, id, caption});
        return id;
    }
    // Shows the category's notes and opens the first one as a click does.
    void open_note()
    {
        form->catalogue_pane()->minor_list()->clear();
        form->catalogue_pane()->minor_list()->addItem(QStringLiteral("图片类"));
        form->catalogue_pane()->minor_list()->setCurrentRow(0);
        form->fill_section_notes(QStringLiteral("图片类"));
        ASSERT_GT(form->note_list_model()->count(), 0);
        test::choose_note(*form, -1);
        form->selection.note_index = -1;
        test::choose_note(*form, 0);
        ASSERT_EQ(form->note.noteId, note_id);
    }
    // The pane's widgets, found by name as the rest of the program knows them.
    QScrollArea *box() const { return widget<QScrollArea>("ScrollBox1"); }
    QToolButton *button(const char *name) const { return widget<QToolButton>(name); }
    QLabel *number() const { return widget<QLabel>("LabelPictureNumber"); }
    int width() const { return box()->viewport()->width(); }
    QString picture_file(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.file(name);
        TempFolder::write(path, bytes);
        return path;
    }
    void add_file(const QString &path)
    {
        dialogs.expect_file(Kind::OpenFile, path);
        button("SpeedButton4")->click();
    }
    QList<QByteArray> stored(Connection &db)
    {
        QList<QByteArray> out;
        for (const auto &row :
             db.query(QStringLiteral("select img from picture where articleId=%1 order by id").arg(note_id)))
            out.append(row.at(0).toByteArray());
        return out;
    }
    qint64 last_picture_id() { return form->store.get_first_integer(QStringLiteral("select max(id) from picture")); }
    QWidget *thumb(int slot) const { return form->picture_pane()->thumbnail(slot); }
    int shown() const
    {
        int n = 0;
        for (int slot = 0; slot < ThumbnailSlots::kSlots; ++slot)
            n += thumb(slot) != nullptr;
        return n;
    }

    int note_id = -1;
};

TEST_F(PicturePanelTest, FilesAreStoredByteForByteAndStackFourPixelsApart)
{
    const int w = width();
    ASSERT_GT(w, 50);
    QList<QByteArray> files;
    for (int h : {100, 50, 80}) {
        files.append(png_bytes(sample_image(w, h)));
        add_file(picture_file(QStringLiteral("图%1.png").arg(h), files.last()));
        EXPECT_EQ(form->note.img_id, last_picture_id());
    }
    ASSERT_EQ(shown(), 3);
    EXPECT_EQ(thumb(0)->geometry(), QRect(0, 0, w, 100));
    EXPECT_EQ(thumb(1)->geometry(), QRect(0, 104, w, 50));
    EXPECT_EQ(thumb(2)->geometry(), QRect(0, 158, w, 80));
    EXPECT_EQ(stored(form->store.main()), files);
    EXPECT_EQ(stored(*test::open_backup(form->store)), files);
    EXPECT_TRUE(form->store.changed());
    test::expect_mirror_identical(form->store);

    // A JPEG file is kept as it is too, not re-encoded.
    const QByteArray jpeg = encode_jpeg(sample_image(w * 2, 60), 60);
    add_file(picture_file(QStringLiteral("照片.jpg"), jpeg));
    EXPECT_EQ(stored(form->store.main()).last(), jpeg);
    EXPECT_EQ(thumb(3)->geometry(), QRect(0, 242, w, 30));

    // Cancelling the dialog adds nothing.
    dialogs.expect_file(Kind::OpenFile, QString());
    button("SpeedButton4")->click();
    EXPECT_EQ(stored(form->store.main()).size(), 4);
}

TEST_F(PicturePanelTest, PastedBitmapIsStoredAsJpegAndTextOnlyDoesNothing)
{
    QApplication::clipboard()->setImage(sample_image(320, 200));
    button("SpeedButton6")->click();
    const QList<QByteArray> main_rows = stored(form->store.main());
    ASSERT_EQ(main_rows.size(), 1);
    EXPECT_TRUE(main_rows.first().startsWith(QByteArray("\xFF\xD8", 2)));
    EXPECT_EQ(stored(*test::open_backup(form->store)), main_rows);
    EXPECT_EQ(decode_picture(main_rows.first()).size, QSize(320, 200));
    ASSERT_EQ(shown(), 1);
    EXPECT_EQ(thumb(0)->height(), thumbnail_height(QSize(320, 200), width()));
    EXPECT_EQ(form->note.img_id, last_picture_id());

    QApplication::clipboard()->setText(QStringLiteral("只有文字"));
    button("SpeedButton6")->click(); // no prompt expected
    EXPECT_EQ(stored(form->store.main()).size(), 1);
}

TEST_F(PicturePanelTest, DeleteTheNewestOrTheClickedPictureAfterTheQuestion)
{
    const int w = width();
    for (int h : {100, 50, 80})
        add_file(picture_file(QStringLiteral("%1.png").arg(h), png_bytes(sample_image(w, h))));
    const qint64 third = last_picture_id();

    // Without a click "删除" takes the picture added last; No keeps everything.
    dialogs.expect_question(kDeleteQuestion, Dialogs::Answer::No);
    button("SpeedButton5")->click();
    EXPECT_EQ(shown(), 3);
    dialogs.expect_question(kDeleteQuestion, Dialogs::Answer::Yes);
    button("SpeedButton5")->click();
    EXPECT_EQ(thumb(2), nullptr);
    EXPECT_EQ(form->store.get_first_integer(QStringLiteral("select count(*) from picture where id=%1").arg(third)), 0);
    test::expect_mirror_identical(form->store);
    EXPECT_EQ(form->note.img_id, -1);
    dialogs.expect_message(kChooseFirst);
    button("SpeedButton5")->click();

    // A click selects the picture and marks it with its slot number.
    QTest::mouseClick(thumb(1), Qt::LeftButton);
    const qint64 second = thumb(1)->property("picture_id").toLongLong();
    EXPECT_EQ(form->note.img_id, second);
    ASSERT_TRUE(number()->isVisible());
    EXPECT_EQ(number()->text(), QStringLiteral("2"));
    EXPECT_EQ(number()->pos(), QPoint(0, 104));
    dialogs.expect_question(kDeleteQuestion, Dialogs::Answer::Yes);
    button("SpeedButton5")->click();
    EXPECT_FALSE(number()->isVisible());
    // The first picture keeps its place, a gap stays where the second was.
    EXPECT_EQ(thumb(0)->geometry(), QRect(0, 0, w, 100));
    EXPECT_EQ(stored(form->store.main()).size(), 1);
    test::expect_mirror_identical(form->store);

    // A new picture fills the first free slot but lies below the lowest thumbnail.
    add_file(picture_file(QStringLiteral("新.png"), png_bytes(sample_image(w, 40))));
    EXPECT_EQ(thumb(1)->geometry(), QRect(0, 104, w, 40));
}

TEST_F(PicturePanelTest, WideningThePanelScalesTheThumbnailsAndKeepsTheirOrder)
{
    const int w = width();
    for (int h : {100, 50})
        add_file(picture_file(QStringLiteral("%1.png").arg(h), png_bytes(sample_image(w, h))));
    form->resize(form->width() + 100, form->height());
    QTRY_VERIFY(width() > w);
    const int wide = width();
    EXPECT_EQ(thumb(0)->geometry(), QRect(0, 0, wide, thumbnail_height(QSize(w, 100), wide)));
    EXPECT_EQ(thumb(1)->geometry(), QRect(0, thumb(0)->height() + 4, wide, thumbnail_height(QSize(w, 50), wide)));
    EXPECT_EQ(form->findChild<QWidget *>(QStringLiteral("ScrollBoxContent"))->minimumHeight(),
              thumb(1)->geometry().bottom() + 1 + 4);
}

TEST_F(PicturePanelTest, WheelStepScrollsOneLine)
{
    for (int i = 0; i < 12; ++i)
        add_file(picture_file(QStringLiteral("%1.png").arg(i), png_bytes(sample_image(width(), 200))));
    QScrollBar *bar = box()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 2 * bar->singleStep());
    bar->setValue(0);
    const QPoint at = thumb(0)->rect().center();
    QWheelEvent down(at, thumb(0)->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(thumb(0), &down);
    EXPECT_EQ(bar->value(), bar->singleStep());
    QWheelEvent up(at, thumb(0)->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box()->viewport(), &up);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(PicturePanelTest, PicturesSurviveReopeningInBothDatabases)
{
    const QByteArray file = png_bytes(sample_image(120, 90));
    add_file(picture_file(QStringLiteral("a.png"), file));
    QApplication::clipboard()->setImage(sample_image(64, 48));
    button("SpeedButton6")->click();
    const QList<QByteArray> before = stored(form->store.main());
    ASSERT_EQ(before.size(), 2);
    form.reset();

    for (const QString &folder : {zhu, bei}) {
        Connection db;
        db.open(folder + QStringLiteral("/notedb.sl3"));
        EXPECT_EQ(stored(db), before) << folder.toStdString();
    }
    open_window();
    open_note();
    EXPECT_EQ(shown(), 2);
    EXPECT_EQ(thumb(1)->y(), thumb(0)->height() + 4);
}

TEST_F(PicturePanelTest, HostileOrDamagedFilesAreRefusedWithTheReason)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        QString error;
    } cases[] = {
        {"jpeg bomb", test::jpeg_declaring(60000, 60000),
         QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。")},
        {"png bomb", test::png_declaring(60000, 60000),
         QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。")},
        {"cut jpeg",
         [] {
             const QByteArray j = encode_jpeg(sample_image(300, 200));
             return j.left(j.size() / 2);
         }(),
         QStringLiteral("无法读取图片：图片数据不完整，文件可能已被截断。")},
    };
    form->store.set_changed(false); // what the set-up wrote
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.expect_file(Kind::OpenFile, picture_file(QString::fromLatin1(c.name), c.bytes));
        dialogs.expect_error(c.error);
        button("SpeedButton4")->click();
        EXPECT_TRUE(stored(form->store.main()).isEmpty());
        EXPECT_EQ(shown(), 0);
    }
    EXPECT_FALSE(form->store.changed());

    // Such bytes already stored show a stand-in that names the reason.
    test::write_sql(form->store, QStringLiteral("insert into picture(articleId,img) values(:a,:b)"),
                    {note_id, test::jpeg_declaring(60000, 60000)});
    open_note();
    ASSERT_EQ(shown(), 1);
    EXPECT_EQ(qobject_cast<QLabel *>(thumb(0))->text(), QStringLiteral("无法显示的图片"));
    EXPECT_EQ(thumb(0)->toolTip(), cases[0].error);
}

TEST_F(PicturePanelTest, ReadOnlyModeWritesNothing)
{
    add_file(picture_file(QStringLiteral("a.png"), png_bytes(sample_image(80, 80))));
    form->enter_read_only_mode();
    QApplication::clipboard()->setImage(sample_image(64, 48));
    // Called directly: the buttons are disabled, but the commands themselves refuse as well.
    form->add_picture_file();
    form->paste_picture();
    form->delete_selected_picture();
    EXPECT_EQ(stored(form->store.main()).size(), 1);
    EXPECT_EQ(shown(), 1);
}

// The pane on its own, with no window answering it: what it shows and what it asks for.
TEST(PicturePaneAlone, SelectsOpensAndAsksThroughItsSignals)
{
    ScriptedDialogs dialogs;
    PicturePane pane(dialogs);
    pane.resize(220, 400);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    QSignalSpy selected(&pane, &PicturePane::pictureSelected);
    QSignalSpy opened(&pane, &PicturePane::pictureOpenRequested);

    const int w = pane.thumbnail_width();
    pane.add_thumbnail(png_bytes(sample_image(w, 60)), 7);
    pane.add_thumbnail(png_bytes(sample_image(w, 30)), 9);
    ASSERT_EQ(selected.size(), 2);
    EXPECT_EQ(selected.at(1).at(0).toInt(), 9); // the picture placed last is the selected one
    EXPECT_EQ(pane.thumbnail_count(), 2);
    EXPECT_EQ(pane.thumbnail(1)->geometry(), QRect(0, 64, w, 30));

    QTest::mouseClick(pane.thumbnail(0), Qt::LeftButton);
    EXPECT_EQ(selected.last().at(0).toInt(), 7);
    auto *number = pane.findChild<QLabel *>(QStringLiteral("LabelPictureNumber"));
    ASSERT_TRUE(number->isVisible());
    EXPECT_EQ(number->text(), QStringLiteral("1"));
    QTest::mouseDClick(pane.thumbnail(1), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.at(0).at(0).toInt(), 9);
    EXPECT_EQ(pane.picture_view(), nullptr); // the window reads the picture and shows it

    struct {
        const char *name;
        void (PicturePane::*signal)();
    } buttons[] = {{"SpeedButton4", &PicturePane::addRequested},
                   {"SpeedButton6", &PicturePane::pasteRequested},
                   {"SpeedButton5", &PicturePane::deleteRequested}};
    for (const auto &b : buttons) {
        QSignalSpy asked(&pane, b.signal);
        pane.findChild<QToolButton *>(QString::fromLatin1(b.name))->click();
        EXPECT_EQ(asked.size(), 1) << b.name;
    }
    EXPECT_EQ(pane.thumbnail_count(), 2); // asking removes nothing by itself

    EXPECT_TRUE(pane.remove_thumbnail(7));
    EXPECT_FALSE(number->isVisible());
    EXPECT_EQ(pane.thumbnail(0), nullptr);
    EXPECT_FALSE(pane.remove_thumbnail(7));
    pane.clear();
    EXPECT_EQ(selected.last().at(0).toInt(), -1);
    EXPECT_EQ(pane.thumbnail_count(), 0);
    dialogs.verify_done();
}

// An opened note's pictures: more than the pane shows at once, with a picture that is cut off
// after its header, one whose bytes are no picture at all, and one cut off out of view.
struct NotePictures {
    QList<QByteArray> bytes;
    QList<int> ids;
};

NotePictures note_pictures(int first_id)
{
    NotePictures n;
    for (int i = 0; i < 9; ++i) {
        QByteArray b = encode_jpeg(sample_image(300 + 20 * i, 180 + 15 * i));
        if (i == 1 || i == 6)
            b.truncate(b.size() / 2);
        if (i == 4)
            b = QByteArray("no picture here");
        n.bytes.append(b);
        n.ids.append(first_id + i);
    }
    return n;
}

// What a thumbnail shows, for comparing a pane with another.
struct Shown {
    QString name, accessible, text, hint;
    QVariant id;
    QRect geometry;
    int frame;
    Qt::Alignment alignment;
    bool scaled;
    QImage image;
    bool operator==(const Shown &) const = default;
};

std::vector<Shown> shown_thumbnails(const PicturePane &pane)
{
    std::vector<Shown> all;
    for (int slot = 0; slot < ThumbnailSlots::kSlots; ++slot) {
        auto *t = qobject_cast<QLabel *>(pane.thumbnail(slot));
        if (!t) {
            all.push_back({});
            continue;
        }
        all.push_back({t->objectName(), t->accessibleName(), t->text(), t->toolTip(), t->property("picture_id"),
                       t->geometry(), t->frameStyle(), t->alignment(), t->hasScaledContents(), t->pixmap().toImage()});
    }
    return all;
}

// Runs the event loop until the pane has decoded every thumbnail (about five seconds at most).
void finish_by_event_loop(PicturePane &pane)
{
    for (int i = 0; i < 500 && pane.pending_thumbnails() > 0; ++i)
        QTest::qWait(10);
    EXPECT_EQ(pane.pending_thumbnails(), 0);
}

class PicturePaneOpening : public ::testing::Test {
  protected:
    void SetUp() override
    {
        for (PicturePane *p : {&lazy, &eager}) {
            p->resize(220, 400);
            p->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(p));
        }
    }
    // Opens `n` as the window does: decoding starts, the old note goes, the thumbnails come.
    static void open(PicturePane &pane, const NotePictures &n)
    {
        pane.start_thumbnails(n.bytes);
        pane.clear();
        pane.add_thumbnails(n.ids);
    }
    // The same, each picture decoded before it is placed.
    static void open_eagerly(PicturePane &pane, const NotePictures &n)
    {
        pane.clear();
        for (qsizetype i = 0; i < n.ids.size(); ++i)
            pane.add_thumbnail(n.bytes.at(i), n.ids.at(i));
    }
    QScrollBar *scroll_bar(PicturePane &pane) const
    {
        return pane.findChild<QScrollArea *>(QStringLiteral("ScrollBox1"))->verticalScrollBar();
    }
    int view_height(PicturePane &pane) const
    {
        return pane.findChild<QScrollArea *>(QStringLiteral("ScrollBox1"))->viewport()->height();
    }

    ScriptedDialogs dialogs;
    PicturePane lazy{dialogs};
    PicturePane eager{dialogs};
    const NotePictures note = note_pictures(100);
};

TEST_F(PicturePaneOpening, ShowsTheThumbnailsInViewAtOnceAndTheOthersWhenDecoded)
{
    QSignalSpy selected(&lazy, &PicturePane::pictureSelected);
    open(lazy, note);
    const int w = lazy.thumbnail_width();
    // Before the event loop runs: decoded in view, placeholders of the picture's size below it
    // (bytes without a readable header are the stand-in at once).
    int in_view = 0;
    int decoded = 0;
    for (int slot = 0; slot < note.ids.size(); ++slot) {
        auto *t = qobject_cast<QLabel *>(lazy.thumbnail(slot));
        ASSERT_NE(t, nullptr) << slot;
        EXPECT_EQ(t->accessibleName(), QStringLiteral("图片%1").arg(slot + 1));
        const QSize header = picture_size(note.bytes.at(slot));
        const bool shown = !t->pixmap().isNull() || t->text() == QStringLiteral("无法显示的图片");
        decoded += shown;
        if (t->y() < view_height(lazy))
            ++in_view;
        if (t->y() < view_height(lazy) || !header.isValid()) {
            EXPECT_TRUE(shown) << slot;
        } else {
            EXPECT_TRUE(t->pixmap().isNull() && t->text().isEmpty()) << slot;
            EXPECT_EQ(t->height(), thumbnail_height(header, w)) << slot;
        }
    }
    EXPECT_GE(in_view, 2);
    EXPECT_EQ(lazy.pending_thumbnails(), note.ids.size() - decoded);
    ASSERT_GT(lazy.pending_thumbnails(), 2);

    finish_by_event_loop(lazy);
    open_eagerly(eager, note);
    EXPECT_TRUE(shown_thumbnails(lazy) == shown_thumbnails(eager));
    ASSERT_FALSE(selected.isEmpty());
    EXPECT_EQ(selected.last().at(0).toInt(), note.ids.last());
}

TEST_F(PicturePaneOpening, PlaceholderScrolledIntoViewIsDecodedThen)
{
    open(lazy, note);
    // Only the scroll range follows the new content, not the helper's results.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    ASSERT_GT(scroll_bar(lazy)->maximum(), view_height(lazy));
    const int last = int(note.ids.size()) - 1;
    auto *t = qobject_cast<QLabel *>(lazy.thumbnail(last));
    ASSERT_TRUE(t->pixmap().isNull());
    scroll_bar(lazy)->setValue(scroll_bar(lazy)->maximum());
    EXPECT_FALSE(t->pixmap().isNull());
    finish_by_event_loop(lazy);
}

// The note goes away, or changes, before its thumbnails are all decoded: the pane ends as one
// that decoded each picture before placing it.
TEST_F(PicturePaneOpening, ClosingOrChangingTheNoteBeforeTheRestIsDecoded)
{
    const NotePictures other = note_pictures(200);
    struct Case {
        const char *name;
        std::function<void(PicturePane &, bool eagerly)> then;
    } cases[] = {
        {"closed", [](PicturePane &p, bool) { p.clear(); }},
        {"another note opened",
         [&](PicturePane &p, bool eagerly) { eagerly ? open_eagerly(p, other) : open(p, other); }},
        {"a placeholder deleted", [&](PicturePane &p, bool) { EXPECT_TRUE(p.remove_thumbnail(note.ids.last())); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        open(lazy, note);
        c.then(lazy, false);
        finish_by_event_loop(lazy);
        QTest::qWait(50); // anything the old helper still reports
        open_eagerly(eager, note);
        c.then(eager, true);
        EXPECT_TRUE(shown_thumbnails(lazy) == shown_thumbnails(eager));
    }
    // The thumbnails of a note opened after another look as in a pane that showed nothing before
    // (a stand-in's text, hint and frame do not stay with its label).
    {
        PicturePane fresh(dialogs);
        fresh.resize(220, 400);
        fresh.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
        const NotePictures shifted = [&] {
            NotePictures n = note_pictures(300);
            n.bytes.move(4, 0); // the unreadable picture first, where the other note has a picture
            return n;
        }();
        open(lazy, note);
        finish_by_event_loop(lazy);
        open(lazy, shifted);
        finish_by_event_loop(lazy);
        open(fresh, shifted);
        finish_by_event_loop(fresh);
        EXPECT_TRUE(shown_thumbnails(lazy) == shown_thumbnails(fresh));
        EXPECT_EQ(lazy.findChildren<QLabel *>(QStringLiteral("Image1")).size(), 1);
    }
    // The pane itself goes while its helper is at work.
    {
        auto pane = std::make_unique<PicturePane>(dialogs);
        pane->resize(220, 400);
        open(*pane, note);
        pane.reset();
        QTest::qWait(50);
    }
}

// Runs `open`, which is to open the picture viewer modally; `look` sees the viewer, which is
// then closed. A viewer that never comes is given up after about three seconds.
void with_viewer(const std::function<void()> &open, const std::function<void(TPictureView &)> &look)
{
    int tries = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *view = qobject_cast<TPictureView *>(QApplication::activeModalWidget())) {
            look(*view);
            QMetaObject::invokeMethod(view, &QDialog::reject, Qt::QueuedConnection);
            poll.stop();
        } else if (++tries > 300) {
            poll.stop();
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QDialog *>(top))
                    d->reject();
        }
    });
    poll.start();
    open();
}

TEST_F(PicturePanelTest, DoubleClickOpensTheStoredPictureInTheViewer)
{
    const QImage picture = sample_image(400, 300);
    add_file(picture_file(QStringLiteral("a.png"), png_bytes(picture)));
    QSize seen;
    bool writable = false;
    with_viewer([this] { QTest::mouseDClick(thumb(0), Qt::LeftButton); },
                [&](TPictureView &view) {
                    seen = view.bitmap().size();
                    writable = view.ButtonAddText->isEnabled();
                });
    EXPECT_EQ(seen, QSize(400, 300));
    EXPECT_TRUE(writable);
    ASSERT_NE(form->picture_pane()->picture_view(), nullptr);
    EXPECT_EQ(form->picture_pane()->picture_view()->picture_id(), form->note.img_id);
}

TEST_F(PicturePanelTest, KeyboardReachesSelectsAndOpensAThumbnail)
{
    const int w = width();
    for (int h : {60, 70})
        add_file(picture_file(QStringLiteral("%1.png").arg(h), png_bytes(sample_image(w, h))));
    const qint64 first = thumb(0)->property("picture_id").toLongLong();
    EXPECT_EQ(thumb(0)->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(thumb(0)->accessibleName(), QStringLiteral("图片1"));

    // Tab onto the first thumbnail selects it as a click does.
    QFocusEvent tab(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(thumb(0), &tab);
    EXPECT_EQ(form->note.img_id, first);
    ASSERT_TRUE(number()->isVisible());
    EXPECT_EQ(number()->text(), QStringLiteral("1"));

    // Enter opens it in the viewer.
    int opened = -1;
    with_viewer([this] { QTest::keyClick(thumb(0), Qt::Key_Return); },
                [&](TPictureView &view) { opened = view.picture_id(); });
    EXPECT_EQ(opened, first);
}

} // namespace
} // namespace yunshan
