#pragma once
// The move panel of the main window: the group "移动笔记到" that floats over the panes while a
// note is being moved, with the note's text, the minor category it comes from, a prompt and the
// buttons 确定 and 取消. It knows nothing of the store: the window moves the note when the panel
// is confirmed and hides it.
#include <QGroupBox>

class QLabel;
class QToolButton;

namespace yunshan {

class MovePanel : public QGroupBox {
    Q_OBJECT

  public:
    explicit MovePanel(QWidget *parent = nullptr);

    // Shows the panel over its siblings for the note listed as `note_text`, taken from the minor
    // category `source`.
    void show_for(const QString &note_text, const QString &source);
    // The texts the panel was last shown with.
    QString note_text() const;
    QString source() const;

  Q_SIGNALS:
    // The buttons 确定 and 取消.
    void confirmed();
    void cancelled();

  private:
    QLabel *LabelMoveNote = nullptr;   // the moved note's text
    QLabel *LabelMoveSource = nullptr; // the source minor category
    QToolButton *Button4 = nullptr;    // 确定
    QToolButton *Button5 = nullptr;    // 取消
};

} // namespace yunshan
