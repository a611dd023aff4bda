#include "app/ui/program_pictures.h"

#include "app/ui/tform2.h"

#include <QAction>
#include <QToolButton>

static void init_program_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace yunshan {

QIcon program_picture(const char *name)
{
    static const bool loaded = (init_program_resources(), true);
    Q_UNUSED(loaded);
    return QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".svg"));
}

QIcon mark_picture(MarkPicture which)
{
    switch (which) {
    case MarkPicture::Lock:
        return program_picture("lock");
    case MarkPicture::Favourite:
        return program_picture("favourite");
    case MarkPicture::Headings:
        return program_picture("headings");
    }
    return QIcon();
}

void apply_program_pictures(TForm2 &form)
{
    const std::pair<QToolButton *, const char *> buttons[] = {
        {form.ToolButton1, "class-new"},
        {form.ToolButton2, "class-delete"},
        {form.ToolButton3, "section-new"},
        {form.ToolButton4, "section-delete"},
        {form.ToolButton6, "note-new"},
        {form.ToolButtonSave, "note-save"},
        {form.ToolButtonAddPicture, "picture-add"},
        {form.ToolButtonDeletePicture, "picture-delete"},
        {form.ToolButton7, "note-delete"},
        {form.ToolButton12, "pin-top"},
        {form.ToolButton16, "pin-remove"},
        {form.ToolButton13, "move-up"},
        {form.ToolButton14, "move-down"},
        {form.ToolButton17, "rename"},
        {form.ToolButton18, "backup"},
    };
    for (const auto &[button, name] : buttons)
        button->setIcon(program_picture(name));
    // The encrypt-with-title commands carry the lock, "添加到常用列表" the favourite mark.
    for (QAction *a : {form.N41, form.Popup1EncryptTitle, form.Popup2EncryptTitle})
        a->setIcon(mark_picture(MarkPicture::Lock));
    form.Popup2AddFavourite->setIcon(mark_picture(MarkPicture::Favourite));
}

} // namespace yunshan
