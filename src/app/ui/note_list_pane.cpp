#include "app/ui/note_list_pane.h"

#include "app/ui/note_list_delegate.h"
#include "session/note_list_model.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QListView>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace yunshan {

namespace {

const QString kHeadingsTabHint = QStringLiteral("显示当前笔记内的章节小标题，某行#开头即可自动创建小标题");

QVBoxLayout *tight_column(QWidget *w, int margin)
{
    auto *v = new QVBoxLayout(w);
    v->setContentsMargins(margin, margin, margin, margin);
    v->setSpacing(2);
    return v;
}

QToolButton *page_button(QWidget *parent, const char *name, const QString &text, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text); // screen readers read the text
    b->setToolTip(hint);
    b->setStatusTip(hint);
    b->setAccessibleDescription(hint);
    return b;
}

} // namespace

NoteListPane::NoteListPane(const QFont &list_font, QWidget *parent) : QGroupBox(QStringLiteral(" "), parent)
{
    setObjectName(QStringLiteral("GroupBox3"));
    setAccessibleName(QStringLiteral("笔记列表"));
    auto *column = tight_column(this, 2);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setDocumentMode(true);
    PageControl1->tabBar()->setObjectName(QStringLiteral("PageControl1Tabs"));

    TabSheet1 = new QWidget(PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    auto *sheet1 = tight_column(TabSheet1, 0);
    ListBox3 = new QListView(TabSheet1);
    ListBox3->setObjectName(QStringLiteral("ListBox3"));
    ListBox3->setAccessibleName(QStringLiteral("笔记列表"));
    ListBox3->setFont(list_font);
    ListBox3->setUniformItemSizes(true);
    ListBox3->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListBox3->setContextMenuPolicy(Qt::CustomContextMenu);
    ListBox3->setMouseTracking(true);
    ListBox3->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    delegate_ = new NoteListDelegate(*this, ListBox3);
    ListBox3->setItemDelegate(delegate_);
    ListBox3->viewport()->installEventFilter(this);
    connect(ListBox3, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { Q_EMIT contextMenuRequested(ListBox3->viewport()->mapToGlobal(pos)); });
    sheet1->addWidget(ListBox3);

    auto *pages = new QHBoxLayout;
    pages->setSpacing(2);
    Button6 = page_button(TabSheet1, "Button6", QStringLiteral("上一页"),
                          QStringLiteral("当有大量笔记时进行分页显示，显示上一页"));
    Button7 = page_button(TabSheet1, "Button7", QStringLiteral("下一页"),
                          QStringLiteral("当有大量笔记时，进行分页显示，显示下一页"));
    ButtonFavourites = page_button(TabSheet1, "ButtonFavourites", QStringLiteral("常用"),
                                   QStringLiteral("显示全部带常用标签的笔记列表"));
    connect(Button6, &QToolButton::clicked, this, &NoteListPane::previousPageClicked);
    connect(Button7, &QToolButton::clicked, this, &NoteListPane::nextPageClicked);
    connect(ButtonFavourites, &QToolButton::clicked, this, &NoteListPane::favouritesClicked);
    for (QToolButton *b : {Button6, Button7, ButtonFavourites})
        pages->addWidget(b);
    pages->addStretch(1);
    sheet1->addLayout(pages);

    TabSheet2 = new QWidget(PageControl1);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    tight_column(TabSheet2, 0);
    PageControl1->addTab(TabSheet1, QStringLiteral("笔记列表"));
    PageControl1->addTab(TabSheet2, QStringLiteral("小标题"));
    PageControl1->setTabToolTip(1, kHeadingsTabHint);
    // The tab bar has no hint per tab of its own: the status bar follows the tab under the pointer.
    PageControl1->tabBar()->setMouseTracking(true);
    PageControl1->tabBar()->installEventFilter(this);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1)
            Q_EMIT headingsShown();
    });
    column->addWidget(PageControl1, 1);
}

NoteListPane::~NoteListPane() = default;

void NoteListPane::set_model(NoteListModel *model)
{
    model_ = model;
    ListBox3->setModel(model);
    // An entry the user selects opens; the current entry given on focus alone does not.
    connect(ListBox3->selectionModel(), &QItemSelectionModel::selectionChanged, this, &NoteListPane::selection_changed);
}

void NoteListPane::selection_changed()
{
    const int row = selected_row();
    if (quiet_ == 0 && row >= 0)
        Q_EMIT noteActivated(row);
}

void NoteListPane::set_headings_page(QWidget *headings)
{
    headings->setParent(TabSheet2);
    TabSheet2->layout()->addWidget(headings);
}

int NoteListPane::current_row() const
{
    const QModelIndex i = ListBox3->currentIndex();
    return i.isValid() ? i.row() : -1;
}

int NoteListPane::selected_row() const
{
    const QModelIndex i = ListBox3->currentIndex();
    return i.isValid() && ListBox3->selectionModel()->isSelected(i) ? i.row() : -1;
}

void NoteListPane::set_current_row(int row)
{
    QItemSelectionModel *selection = ListBox3->selectionModel();
    if (!selection)
        return;
    ++quiet_;
    const QModelIndex i = model_ && row >= 0 ? model_->index(row) : QModelIndex();
    if (i.isValid())
        selection->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    else
        selection->clear();
    --quiet_;
}

void NoteListPane::set_metrics(int font_height, int item_height)
{
    font_height_ = font_height;
    item_height_ = item_height;
    ListBox3->doItemsLayout();
}

void NoteListPane::set_scroll_width(int width)
{
    scroll_width_ = width;
    ListBox3->doItemsLayout();
}

void NoteListPane::arm_hint(int row, const QString &hint)
{
    hint_row_ = row;
    hint_ = hint;
}

void NoteListPane::show_tab(int index)
{
    PageControl1->setCurrentIndex(index);
}

int NoteListPane::current_tab() const
{
    return PageControl1->currentIndex();
}

void NoteListPane::set_headings_icon(const QIcon &icon)
{
    // Setting a tab's icon lays out and repaints the whole page control, even for the same icon.
    const QIcon shown = PageControl1->tabIcon(1);
    if (shown.isNull() ? icon.isNull() : !icon.isNull() && icon.cacheKey() == shown.cacheKey())
        return;
    PageControl1->setTabIcon(1, icon);
}

bool NoteListPane::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == ListBox3->viewport()) {
        if (e->type() == QEvent::MouseMove)
            Q_EMIT mouseMoved(static_cast<QMouseEvent *>(e)->position().toPoint());
        else if (e->type() == QEvent::Leave)
            Q_EMIT mouseLeft();
    } else if (watched == PageControl1->tabBar() && (e->type() == QEvent::MouseMove || e->type() == QEvent::Leave)) {
        const int tab = e->type() == QEvent::MouseMove
                            ? PageControl1->tabBar()->tabAt(static_cast<QMouseEvent *>(e)->position().toPoint())
                            : -1;
        Q_EMIT tabHint(tab == 1 ? kHeadingsTabHint : QString());
    }
    return QGroupBox::eventFilter(watched, e);
}

} // namespace yunshan
