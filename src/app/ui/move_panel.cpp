#include "app/ui/move_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace yunshan {

namespace {

QToolButton *make_button(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text); // no fixed accessible name: screen readers read the text
    return b;
}

} // namespace

MovePanel::MovePanel(QWidget *parent) : QGroupBox(QStringLiteral("移动笔记到"), parent)
{
    setObjectName(QStringLiteral("GroupBox8"));
    setAccessibleName(title());
    setAutoFillBackground(true);
    auto *col = new QVBoxLayout(this);
    col->setContentsMargins(8, 8, 8, 8);
    col->setSpacing(2);
    LabelMoveNote = new QLabel(this);
    LabelMoveNote->setObjectName(QStringLiteral("LabelMoveNote"));
    LabelMoveSource = new QLabel(this);
    LabelMoveSource->setObjectName(QStringLiteral("LabelMoveSource"));
    auto *prompt = new QLabel(QStringLiteral("请选择一个目的大类和小类后点击确定"), this);
    prompt->setObjectName(QStringLiteral("LabelMovePrompt"));
    prompt->setWordWrap(true);
    col->addWidget(LabelMoveNote);
    col->addWidget(LabelMoveSource);
    col->addWidget(prompt);
    col->addStretch(1);
    auto *buttons = new QHBoxLayout;
    Button4 = make_button(this, "Button4", QStringLiteral("确定"));
    Button5 = make_button(this, "Button5", QStringLiteral("取消"));
    connect(Button4, &QToolButton::clicked, this, &MovePanel::confirmed);
    connect(Button5, &QToolButton::clicked, this, &MovePanel::cancelled);
    buttons->addStretch(1);
    buttons->addWidget(Button4);
    buttons->addWidget(Button5);
    col->addLayout(buttons);
    hide();
}

void MovePanel::show_for(const QString &note_text, const QString &source)
{
    LabelMoveNote->setText(note_text);
    LabelMoveSource->setText(source);
    show();
    raise();
}

QString MovePanel::note_text() const
{
    return LabelMoveNote->text();
}

QString MovePanel::source() const
{
    return LabelMoveSource->text();
}

} // namespace yunshan
