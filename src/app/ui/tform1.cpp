#include "app/ui/tform1.h"

#include "app/ui/application_setup.h"
#include "app/ui/tform2.h"
#include "backup/cloud_sync.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "crypto/login_password.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"
#include "store/note_store.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>

namespace yunshan {

namespace {

QLineEdit *password_edit(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setEchoMode(QLineEdit::Password);
    // Every style shows "*", whatever its own mask character.
    e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    return e;
}

void set_text_colour(QLabel *label, const QColor &colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

} // namespace

TForm1::TForm1(TForm2 &main, SettingsStore &settings, QWidget *parent)
    : QDialog(parent), main_(main), settings_(settings)
{
    build();
}

QString TForm1::webdav_help_url()
{
    return QUrl(TForm2::help_url()).resolved(QUrl(QStringLiteral("/article-41-1.html"))).toString();
}

void TForm1::build()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("设置"));
    QFont f;
    f.setFamilies({QStringLiteral("Segoe UI"), ui_font_family()});
    f.setPointSize(9);
    setFont(f);

    auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        return e;
    };
    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    auto check = [this](const char *name, const QString &text, bool checked) {
        auto *c = new QCheckBox(text, this);
        c->setObjectName(QString::fromLatin1(name));
        c->setChecked(checked);
        return c;
    };

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setPlainText(QStringList{
        QStringLiteral("说明：主数据文件夹，用于笔记的存储，必填。可以保存在“我的文档”里面，或者其他文件夹内。"),
        QStringLiteral("备份文件夹，选填。如果本机有第二个硬盘或者插了移动硬盘，U盘，或者有其他网络映射的硬盘"),
        QStringLiteral("比如NAS映射到本机为一个盘符。那么建议备份文件夹指定到这些地方。"),
        QStringLiteral("退出时自动备份，勾选的话会在每次程序退出时备份一个以当天日期命名的数据库文件。"),
        QStringLiteral("如果当天文件已经存在，会自动覆盖。注：自动备份可以提高由于误操作导致的数据丢失，"),
        QStringLiteral("因为主备会同时更新，操作错误需要额外备份来恢复。当然如果笔记数据库文件过大，那么"),
        QStringLiteral("不勾选此项，可以经常手动备份。"),
        QStringLiteral("自动备份保留天数，默认为10，那么10天前的会自动删掉。"),
    }
                            .join(QLatin1Char('\n')));
    Memo1->setAccessibleName(QStringLiteral("说明"));
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Label1 = label("Label1", QStringLiteral("主数据文件夹："));
    Edit1 = edit("Edit1");
    Button1 = button("Button1", QStringLiteral("浏览…"));
    Label2 = label("Label2", QStringLiteral("备份文件夹："));
    Edit2 = edit("Edit2");
    Button2 = button("Button2", QStringLiteral("浏览…"));
    CheckBox1 = check("CheckBox1", QStringLiteral("退出时自动备份"), true);
    Label3 = label("Label3", QStringLiteral("备份保留天数："));
    Edit3 = edit("Edit3");
    Edit3->setText(QStringLiteral("10"));
    CheckBox2 = check("CheckBox2", QStringLiteral("启动时自动从网盘同步"), false);
    CheckBox2->setToolTip(QStringLiteral("下载后会默认把原本机数据库改名备份，自动保留10个备份。"));
    CheckBox3 = check("CheckBox3", QStringLiteral("退出时自动保存到网盘"), true);
    CheckBox3->setToolTip(
        QStringLiteral("建议启用，这样可以本机双备份+网络再备份，确保电脑硬件故障时数据也不会丢失。"));
    Label5 = label("Label5", QStringLiteral("网盘说明：目前支持webdav协议，比如国内的坚果云，国外的Infini-Cloud，"
                                            "Dropbox 或者自建私有云点击查看"));
    Label5->setToolTip(QStringLiteral("常见支持webDAV的网盘推荐"));
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->setWordWrap(true);
    set_text_colour(Label5, Qt::black);
    Label10 = label("Label10", QStringLiteral("经测试，坚果云备份后立即重新下载，数据已更新。123云盘马上下载还老数"
                                              "据。过3分钟左右再下才是新数据"));
    Label10->setWordWrap(true);
    Label6 = label("Label6", QStringLiteral("webDAV网址："));
    Edit6 = edit("Edit6");
    Edit6->setToolTip(QStringLiteral("网盘运营商给的webDAV网址，参看运营商设置说明"));
    Label9 = label("Label9", QStringLiteral("压缩包密码，明文："));
    Label7 = label("Label7", QStringLiteral("webDAV用户名："));
    Edit7 = edit("Edit7");
    Edit7->setToolTip(QStringLiteral("网盘的登陆用户名或者特定的DAV用户名"));
    Label8 = label("Label8", QStringLiteral("wevDAV密码："));
    Edit8 = password_edit(this, "Edit8");
    Edit8->setToolTip(QStringLiteral("webDAV特定的密码或者网盘密码，具体参看运营商说明"));
    Edit9 = edit("Edit9");
    Edit9->setPlaceholderText(QStringLiteral("建议设置，防泄密"));
    Edit9->setToolTip(QStringLiteral("保存在网盘上的压缩备份文件的密码，强烈建议设置一下，可有效防止第三方泄密。"));
    Button4 = button("Button4", QStringLiteral("测试"));
    Button3 = button("Button3", QStringLiteral("保存设置"));
    Button3->setDefault(true);
    Button3->setEnabled(false);
    Button6 = button("Button6", QStringLiteral("立即同步"));
    Button6->setToolTip(QStringLiteral("立即从网盘服务器下载数据文件并作为主数据库"));
    Label4 = label("Label4", QStringLiteral("设置登陆密码(为空表示不使用密码)："));
    Edit4 = password_edit(this, "Edit4");
    Edit5 = password_edit(this, "Edit5");
    Button5 = button("Button5", QStringLiteral("保存密码"));
    Button5->setEnabled(false);
    Edit4->setAccessibleName(QStringLiteral("登陆密码"));
    Edit5->setAccessibleName(QStringLiteral("再次输入登陆密码"));

    Label1->setBuddy(Edit1);
    Label2->setBuddy(Edit2);
    Label3->setBuddy(Edit3);
    Label6->setBuddy(Edit6);
    Label7->setBuddy(Edit7);
    Label8->setBuddy(Edit8);
    Label9->setBuddy(Edit9);
    Label4->setBuddy(Edit4);
    Edit1->setAccessibleName(Label1->text());
    Edit2->setAccessibleName(Label2->text());
    Edit3->setAccessibleName(Label3->text());
    Edit6->setAccessibleName(Label6->text());
    Edit7->setAccessibleName(Label7->text());
    Edit8->setAccessibleName(Label8->text());
    Edit9->setAccessibleName(Label9->text());
    Button1->setAccessibleName(QStringLiteral("浏览主数据文件夹"));
    Button2->setAccessibleName(QStringLiteral("浏览备份文件夹"));

    // Layout, top to bottom.
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Edit1, 0, 1, 1, 2);
    grid->addWidget(Button1, 0, 3);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(Edit2, 1, 1, 1, 2);
    grid->addWidget(Button2, 1, 3);
    auto *backup_row = new QHBoxLayout;
    backup_row->addWidget(CheckBox1);
    backup_row->addSpacing(24);
    backup_row->addWidget(Label3);
    Edit3->setFixedWidth(60);
    backup_row->addWidget(Edit3);
    backup_row->addStretch();
    grid->addLayout(backup_row, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    auto *sync_row = new QHBoxLayout;
    sync_row->addWidget(CheckBox2);
    sync_row->addSpacing(24);
    sync_row->addWidget(CheckBox3);
    sync_row->addStretch();

    auto *dav = new QGridLayout;
    dav->setHorizontalSpacing(8);
    dav->setVerticalSpacing(6);
    dav->addWidget(Label6, 0, 0);
    dav->addWidget(Edit6, 0, 1);
    dav->addWidget(Label9, 0, 2);
    dav->addWidget(Label7, 1, 0);
    dav->addWidget(Edit7, 1, 1);
    dav->addWidget(Edit9, 1, 2);
    dav->addWidget(Label8, 2, 0);
    dav->addWidget(Edit8, 2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button4);
    buttons->addWidget(Button3);
    buttons->addWidget(Button6);
    dav->addLayout(buttons, 2, 2);
    dav->setColumnStretch(1, 3);
    dav->setColumnStretch(2, 2);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto *login = new QHBoxLayout;
    login->addWidget(Edit4, 1);
    login->addWidget(Edit5, 1);
    login->addWidget(Button5);

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(12, 10, 12, 10);
    top->addWidget(Memo1, 1);
    top->addLayout(grid);
    top->addLayout(sync_row);
    top->addWidget(Label5);
    top->addWidget(Label10);
    top->addLayout(dav);
    top->addWidget(line);
    top->addWidget(Label4);
    top->addLayout(login);
    top->setSpacing(8);
    // At least the eight lines of the explanation, without scrolling.
    Memo1->setMinimumHeight(QFontMetrics(Memo1->font()).lineSpacing() * 9 + 2 * Memo1->frameWidth() +
                            int(2 * Memo1->document()->documentMargin()));

    setFixedSize(643, 567);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Wiring.
    for (QLineEdit *e : {Edit1, Edit2, Edit6, Edit7, Edit8, Edit9})
        connect(e, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
    for (QCheckBox *c : {CheckBox1, CheckBox2, CheckBox3})
        connect(c, &QCheckBox::clicked, this, &TForm1::Edit1Change);
    for (QLineEdit *e : {Edit4, Edit5})
        connect(e, &QLineEdit::textChanged, this, &TForm1::Edit4Change);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    // The main window asks for the dialog without waiting for it.
    connect(&main_, &TForm2::settingsRequested, this, [this] {
        show();
        raise();
        activateWindow();
    });
    // "立即备份到网盘…" with incomplete WebDAV settings waits for the dialog.
    connect(&main_, &TForm2::settingsModalRequested, this, [this] { exec(); });
    // While a backup, a sync or a test runs, nothing here saves, reconnects or transfers.
    connect(&main_.transfers(), &TransferRunner::transferRunningChanged, this, &TForm1::transfer_running);
    // The days field enables the save button when typed into, and when clicked as it always did.
    connect(Edit3, &QLineEdit::textEdited, this, &TForm1::Edit1Change);
    Edit3->installEventFilter(this);
    // "取消登陆密码…": empty fields saved clear the password, without typing anything first.
    connect(&main_, &TForm2::passwordClearRequested, this, [this] {
        Edit4->clear();
        Edit5->clear();
        Button5->setEnabled(true);
        Button5->setFocus();
    });
    Label5->installEventFilter(this);
}

bool TForm1::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == Edit3 && e->type() == QEvent::MouseButtonPress)
        Edit1Change();
    if (watched == Label5) {
        switch (e->type()) {
        case QEvent::Enter:
            Label5MouseEnter();
            break;
        case QEvent::Leave:
            Label5MouseLeave();
            break;
        case QEvent::MouseButtonRelease:
            Label5Click();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, e);
}

SettingsFields TForm1::fields() const
{
    SettingsFields f;
    f.zhu_db = Edit1->text();
    f.bei_db = Edit2->text();
    f.auto_backup = CheckBox1->isChecked();
    f.tian = Edit3->text();
    f.start_download = CheckBox2->isChecked();
    f.exit_upload = CheckBox3->isChecked();
    f.dav_url = Edit6->text();
    f.dav_username = Edit7->text();
    f.dav_password = Edit8->text();
    f.zip_password = Edit9->text();
    return f;
}

void TForm1::set_fields(const SettingsFields &f)
{
    Edit1->setText(f.zhu_db);
    Edit2->setText(f.bei_db);
    CheckBox1->setChecked(f.auto_backup);
    Edit3->setText(f.tian);
    CheckBox2->setChecked(f.start_download);
    CheckBox3->setChecked(f.exit_upload);
    Edit6->setText(f.dav_url);
    Edit7->setText(f.dav_username);
    Edit8->setText(f.dav_password);
    Edit9->setText(f.zip_password);
}

SettingsTarget TForm1::target()
{
    SettingsTarget t{main_.store, main_.run, main_.dialogs(), [this] { main_.database_owned_elsewhere(); }, {}, {}, {}};
    t.test_connection = [this](const WebDavAccount &account) { return main_.transfers().test_webdav(account); };
    t.fetch_certificate = [this](const QString &url) {
        ServerCertificate certificate;
        main_.transfers().run_transfer([&](BackupContext &c) {
            certificate = main_.transfers().webdav().client.fetch_certificate(url, c.panel.esc_down);
        });
        return certificate;
    };
    t.trust_certificate = [this](const ServerCertificate &certificate) {
        store_trusted_key(settings_, certificate.origin, public_key_pin(certificate.der));
        // A connection made before must not carry on unchecked.
        main_.transfers().webdav().client.close_connections();
    };
    return t;
}

void TForm1::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TForm1::FormShow()
{
    if (!main_.run.zhu_db.isEmpty()) {
        SettingsFields f;
        fill_from_run(f, main_.run);
        set_fields(f);
        Button3->setEnabled(false);
    } else {
        // A new user: a proposal that can be saved at once (changed texts enable the button).
        SettingsFields f = fields();
        propose_first_run(f, proposal);
        Edit1->setText(f.zhu_db);
        Edit2->setText(f.bei_db);
    }
}

void TForm1::Edit1Change()
{
    if (transfer_)
        unsaved_settings_ = true; // the button shows it once the transfer is over
    else
        Button3->setEnabled(true);
}

void TForm1::Edit4Change()
{
    if (transfer_)
        unsaved_password_ = true;
    else
        Button5->setEnabled(true);
}

void TForm1::transfer_running(bool running)
{
    if (running == transfer_)
        return;
    transfer_ = running;
    if (running) {
        unsaved_settings_ = Button3->isEnabled();
        unsaved_password_ = Button5->isEnabled();
    }
    Button3->setEnabled(!running && unsaved_settings_);
    Button4->setEnabled(!running);
    Button5->setEnabled(!running && unsaved_password_);
    Button6->setEnabled(!running);
}

bool TForm1::settings_unsaved() const
{
    return transfer_ ? unsaved_settings_ : Button3->isEnabled();
}

bool TForm1::password_unsaved() const
{
    return transfer_ ? unsaved_password_ : Button5->isEnabled();
}

bool TForm1::refused_during_transfer()
{
    if (!main_.transfers().running())
        return false;
    main_.dialogs().message(QStringLiteral("正在和网盘传输数据，请等传输结束后再保存或测试设置。"));
    return true;
}

void TForm1::Button1Click()
{
    const QString folder = main_.dialogs().choose_folder(QStringLiteral("请选择存放主数据库的文件夹"), Edit1->text());
    if (!folder.isEmpty())
        Edit1->setText(QDir::toNativeSeparators(folder));
}

void TForm1::Button2Click()
{
    const QString folder = main_.dialogs().choose_folder(QStringLiteral("请选择存放备份数据库的文件夹"), Edit2->text());
    if (!folder.isEmpty())
        Edit2->setText(QDir::toNativeSeparators(folder));
}

bool TForm1::save()
{
    // A transfer packs or replaces the database files: no reconnect meanwhile.
    if (refused_during_transfer())
        return false;
    // The database is connected again, possibly to another file: the open note is settled first.
    if (!main_.settle_note_before_database_change())
        return false;
    SettingsFields f = fields();
    SaveResult r;
    try {
        r = save_settings(f, settings_, target());
    } catch (const std::exception &e) {
        main_.dialogs().error(QString::fromUtf8(e.what()));
        return false;
    }
    if (r.invalid) {
        Edit1->setFocus();
        return false;
    }
    // The edits show what was stored; the fills must not count as changes.
    Edit1->setText(f.zhu_db);
    Edit2->setText(f.bei_db);
    Edit3->setText(f.tian);
    main_.set_panel(0, r.connected ? QStringLiteral("就绪") : connection_status_text(kNotConnected));
    Button3->setEnabled(false);

    // The lists now come from the database just connected: forget the old selections.
    try {
        main_.reload_catalogue(false);
    } catch (const std::exception &e) {
        main_.dialogs().error(QString::fromUtf8(e.what()));
    }
    return !r.keep_open;
}

void TForm1::Button3Click()
{
    if (testing_ || main_.transfers().running())
        return; // the databases are being replaced
    if (save())
        close();
}

void TForm1::Button4Click()
{
    if (testing_ || main_.transfers().running())
        return; // the databases are being replaced
    // The test connects to the folders under test for a while.
    if (!main_.settle_note_before_database_change())
        return;
    // The share's test lets events run: the dialog's own commands wait for it.
    testing_ = true;
    const auto tested = qScopeGuard([this] { testing_ = false; });
    try {
        if (!test_settings(fields(), target()))
            Edit1->setFocus();
    } catch (const std::exception &e) {
        main_.dialogs().error(QString::fromUtf8(e.what()));
    }
}

void TForm1::Button5Click()
{
    save_password();
}

bool TForm1::save_password()
{
    if (refused_during_transfer())
        return false;
    bool saved = false;
    try {
        saved = save_login_password(main_.store, main_.dialogs(), Edit4->text(), Edit5->text());
    } catch (const std::exception &e) {
        main_.dialogs().error(QString::fromUtf8(e.what()));
    }
    // The fields keep what was typed; only the button shows that it is stored.
    if (saved)
        Button5->setEnabled(false);
    return saved;
}

void TForm1::Button6Click()
{
    if (testing_ || main_.transfers().running())
        return;
    if (main_.dialogs().warning_yes_no(
            QStringLiteral("是否立即同步"),
            QStringLiteral(
                "本操作会从网盘下载数据库替换掉当前主数据库。替换时会自动创建本机数据库的备份，如误操作请退出"
                "程序后手工删除错误数据库然后修改备份文件后缀恢复即可。是否同步？")) != Dialogs::Answer::Yes)
        return;
    RunSettings &run = main_.run;
    run.dav_url = with_trailing_slash(Edit6->text());
    run.dav_username = Edit7->text();
    run.dav_password = Edit8->text();
    run.zip_password = Edit9->text();
    Button6->setEnabled(false);
    const auto enable = qScopeGuard([this] { Button6->setEnabled(!transfer_); });
    try {
        QString report;
        const bool completed = main_.load_from_webdav(false, &report);
        main_.dialogs().message(!completed         ? QStringLiteral("同步失败。")
                                : report.isEmpty() ? QStringLiteral("同步完成。")
                                                   : report);
        // The settings used go with the database now open, the archive password too, so that
        // the next start reads the package the next upload writes.
        write_webdav_settings(main_.store, run);
    } catch (const std::exception &e) {
        report_transfer_failure(main_.dialogs(), TransferStep::Download, run.dav_url, e);
    }
}

void TForm1::Label5Click()
{
    QDesktopServices::openUrl(QUrl(webdav_help_url()));
}

void TForm1::Label5MouseEnter()
{
    set_text_colour(Label5, palette().color(QPalette::Highlight));
}

void TForm1::Label5MouseLeave()
{
    set_text_colour(Label5, Qt::black);
}

bool TForm1::FormCloseQuery()
{
    bool can_close = true;
    if (settings_unsaved()) {
        switch (main_.dialogs().question_yes_no_cancel(QStringLiteral("笔记存储路径没有保存，是否保存？"))) {
        case Dialogs::Answer::Cancel:
            can_close = false;
            break;
        case Dialogs::Answer::Yes:
            can_close = save();
            break;
        case Dialogs::Answer::No:
            break;
        }
    }
    if (password_unsaved()) {
        switch (main_.dialogs().question_yes_no_cancel(QStringLiteral("密码没有保存，是否保存？"))) {
        case Dialogs::Answer::Cancel:
            can_close = false;
            break;
        case Dialogs::Answer::Yes:
            // A save that wrote nothing keeps the dialog open with the fields as typed.
            if (!save_password())
                can_close = false;
            break;
        case Dialogs::Answer::No:
            break;
        }
    }
    return can_close;
}

void TForm1::closeEvent(QCloseEvent *e)
{
    if (testing_ || !FormCloseQuery()) {
        e->ignore();
        return;
    }
    // Hidden, not destroyed; a modal showing ends here.
    done(QDialog::Rejected);
    e->accept();
}

void TForm1::reject()
{
    if (testing_)
        return; // ESC stops the running test, not the dialog
    close();
}

} // namespace yunshan
