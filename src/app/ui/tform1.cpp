#include "app/ui/tform1.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace yunshan {

TForm1::TForm1(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("设置"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("功能未完成，请等待升级版本。"), this);
    label->setObjectName(QStringLiteral("Form1Placeholder"));
    layout->addWidget(label);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(buttons);
    resize(420, 160);
}

} // namespace yunshan
