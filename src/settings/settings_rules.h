#pragma once
// Rules of the settings dialog that need no widgets: the first-run proposal of the two data
// folders, folder normalising and comparison, saving the dialog's fields and testing the
// folders they name.
#include "backup/webdav.h"
#include "settings/run_settings.h"

#include <QString>

#include <functional>

namespace yunshan {

class Dialogs;
class NoteStore;
class SettingsStore;

// The controls of the settings dialog as plain values (defaults: the dialog's first state).
struct SettingsFields {
    QString zhu_db;                      // Edit1: main data folder
    QString bei_db;                      // Edit2: backup folder
    bool auto_backup = true;             // CheckBox1: back up at exit
    QString tian = QStringLiteral("10"); // Edit3: retention days
    bool start_download = false;         // CheckBox2: download from WebDAV at start-up
    bool exit_upload = true;             // CheckBox3: upload to WebDAV at exit
    QString dav_url;                     // Edit6
    QString dav_username;                // Edit7
    QString dav_password;                // Edit8
    QString zip_password;                // Edit9
};

// ---- Folders ----

// Removes the trailing "/" and "\" of a folder; a lone root ("/") stays.
QString strip_trailing_separators(const QString &folder);
// The folder as it is stored: trailing separators removed, a relative path made absolute
// against the current folder. Empty stays empty.
QString normalise_folder(const QString &folder);
// The path the folder has (or will have once created): absolute, "." and ".." resolved and
// the symbolic links of its existing part followed.
QString canonical_folder(const QString &folder);
// Whether two folder texts name the same folder (and so the same database file).
bool same_folder(const QString &a, const QString &b);

// ---- First-run proposal ----

// Where the proposal looks: the user's Documents folder, the mount table (the text of
// /proc/self/mounts) and the login name.
struct ProposalSources {
    std::function<QString()> documents_folder;
    std::function<QString()> mount_table;
    QString user;
    // The real ones of this computer.
    static ProposalSources system();
};

// The first mount point, in the order of the table, of a disk or network file system under
// /media/<user>, /run/media/<user> or /mnt; empty when there is none.
QString proposed_backup_drive(const QString &mount_table, const QString &user);
// Edit1 = Documents + "/云杉札记"; Edit2 = the proposed drive + "/云杉札记备份" when there is
// one, else unchanged.
void propose_first_run(SettingsFields &fields, const ProposalSources &sources);

// The share's address as held: "/" appended unless it is empty or ends with one.
QString with_trailing_slash(const QString &url);

// Filling from the running program's values (a main data folder is set).
void fill_from_run(SettingsFields &fields, const RunSettings &run);

// ---- Save and test ----

// The database side of the main window that saving and testing use.
struct SettingsTarget {
    NoteStore &store;
    RunSettings &run;
    Dialogs &dialogs;
    // Runs when another instance holds the owner mark after a reconnect.
    std::function<void()> on_read_only;
    // The connection test of the share: the answer to a PROPFIND with the account's credentials.
    // Transport failures throw HttpError.
    std::function<HttpResponse(const WebDavAccount &)> test_connection;
    // The certificate of an https share, read without sending anything (throws HttpError).
    std::function<ServerCertificate(const QString &url)> fetch_certificate;
    // Trusts the key of `certificate` for its server from now on.
    std::function<void(const ServerCertificate &certificate)> trust_certificate;
};

struct SaveResult {
    bool invalid = false;   // a validation message was shown; focus the main folder field
    int status = 0;         // connection status after the reconnect
    bool connected = false; // the main database is open
    bool keep_open = false; // both sync switches are on: the dialog stays open
};

// "保存设置": validates, writes the computer's settings, creates the folders, reconnects,
// writes the WebDAV keys when the three WebDAV fields are filled and shows the outcome.
// `fields` shows the stored folder texts afterwards.
SaveResult save_settings(SettingsFields &fields, SettingsStore &settings, const SettingsTarget &target);

// "测试": connects to the folders of the dialog, reports the outcome, then returns to the
// connection that was open before; with the three WebDAV fields filled, tests the share. A share
// whose certificate is not trusted shows the certificate's fingerprint and asks whether to trust
// it; without that consent the connection stays refused. Returns false when validation stopped
// it (focus the main folder field).
bool test_settings(const SettingsFields &fields, const SettingsTarget &target);

} // namespace yunshan
