#pragma once
// The settings dialog. Created at start-up, hidden between uses.
#include <QDialog>

namespace yunshan {

class TForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
};

} // namespace yunshan
