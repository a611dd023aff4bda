#include "app/ui/find_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <initializer_list>

namespace yunshan {

FindDialog::FindDialog(QWidget *parent) : QDialog(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("FindDialog1"));
    setWindowTitle(QStringLiteral("查找"));
    setModal(false);

    auto *label = new QLabel(QStringLiteral("查找内容:"), this);
    FindText = new QLineEdit(this);
    FindText->setObjectName(QStringLiteral("FindText"));
    FindText->setAccessibleName(QStringLiteral("查找内容"));
    label->setBuddy(FindText);
    MatchCase = new QCheckBox(QStringLiteral("区分大小写"), this);
    MatchCase->setObjectName(QStringLiteral("MatchCase"));
    WholeWord = new QCheckBox(QStringLiteral("全字匹配"), this);
    WholeWord->setObjectName(QStringLiteral("WholeWord"));
    FindNext = new QPushButton(QStringLiteral("查找下一个"), this);
    FindNext->setObjectName(QStringLiteral("FindNext"));
    FindNext->setDefault(true);
    FindNext->setEnabled(false);
    CancelButton = new QPushButton(QStringLiteral("取消"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(FindText, 0, 1);
    grid->addWidget(FindNext, 0, 2);
    grid->addWidget(WholeWord, 1, 0, 1, 2);
    grid->addWidget(CancelButton, 1, 2);
    grid->addWidget(MatchCase, 2, 0, 1, 2);

    for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{MatchCase, WholeWord, FindNext, CancelButton})
        b->setAccessibleName(b->text());

    connect(FindText, &QLineEdit::textChanged, this, [this](const QString &t) { FindNext->setEnabled(!t.isEmpty()); });
    connect(FindNext, &QPushButton::clicked, this, &FindDialog::findRequested);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::close);
}

QString FindDialog::find_text() const
{
    return FindText->text();
}

FindOptions FindDialog::options() const
{
    return {MatchCase->isChecked(), WholeWord->isChecked()};
}

void FindDialog::hideEvent(QHideEvent *e)
{
    QDialog::hideEvent(e);
    Q_EMIT closed();
}

} // namespace yunshan
