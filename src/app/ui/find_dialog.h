#pragma once
// The find dialog of the editor: find text, match case, whole word, "查找下一个" and "取消".
// It does not block the main window; every press of "查找下一个" emits findRequested.
#include "editor/find.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace yunshan {

class FindDialog : public QDialog {
    Q_OBJECT

  public:
    explicit FindDialog(QWidget *parent = nullptr);

    QString find_text() const;
    FindOptions options() const;

    QLineEdit *FindText = nullptr;
    QCheckBox *MatchCase = nullptr;
    QCheckBox *WholeWord = nullptr;
    QPushButton *FindNext = nullptr;
    QPushButton *CancelButton = nullptr;

  Q_SIGNALS:
    void findRequested();
    void closed();

  protected:
    void hideEvent(QHideEvent *e) override;
};

} // namespace yunshan
