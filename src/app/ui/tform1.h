#pragma once
// The settings dialog "设置": data folders, exit backup and retention, WebDAV settings with the
// two sync switches and the archive password, and the login password rows. Created once at
// start-up and hidden, not destroyed, when closed; every showing refills it from the program.
#include "settings/settings_rules.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace yunshan {

class SettingsStore;
class TForm2;

class TForm1 : public QDialog {
    Q_OBJECT
  public:
    TForm1(TForm2 &main, SettingsStore &settings, QWidget *parent = nullptr);

    // Where the first-run proposal looks (tests put their own folders and mount table here).
    ProposalSources proposal = ProposalSources::system();

    // The controls as values, and back.
    SettingsFields fields() const;
    void set_fields(const SettingsFields &f);

    // The page about WebDAV providers opened by Label5.
    static QString webdav_help_url();

    QPlainTextEdit *Memo1 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr,
           *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr, *Label9 = nullptr, *Label10 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr,
              *Edit6 = nullptr, *Edit7 = nullptr, *Edit8 = nullptr, *Edit9 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr, *Button4 = nullptr, *Button5 = nullptr,
                *Button6 = nullptr;

  public Q_SLOTS:
    void FormShow();
    void Edit1Change(); // enables "保存设置"
    void Edit4Change(); // enables "保存密码"
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Label5Click();
    void Label5MouseEnter();
    void Label5MouseLeave();
    // The close question; false keeps the dialog open.
    bool FormCloseQuery();
    // A backup, sync or test of the main window started or ended: saving, testing and syncing
    // wait for its end (changes made meanwhile are kept for the save).
    void transfer_running(bool running);

  protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

  public:
    // Escape and the title bar go through the close question.
    void reject() override;

  private:
    void build();
    // The save; true when the dialog may close afterwards.
    bool save();
    // "保存密码"; true when the password was written or cleared.
    bool save_password();
    SettingsTarget target();

    // Unsaved changes, also while the buttons that show them are off during a transfer.
    bool settings_unsaved() const;
    bool password_unsaved() const;
    // During a transfer: says that the save waits and returns true.
    bool refused_during_transfer();

    TForm2 &main_;
    SettingsStore &settings_;
    bool testing_ = false; // "测试" is running
    bool transfer_ = false;
    bool unsaved_settings_ = false;
    bool unsaved_password_ = false;
};

} // namespace yunshan
