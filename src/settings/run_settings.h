#pragma once
// The settings of the run: read from this computer's settings at start-up, the WebDAV part from
// `set_table` by the deferred settings step, changed by the settings dialog and the exit commands.
#include <QString>

namespace yunshan {

struct RunSettings {
    QString zhu_db;
    QString bei_db;
    QString auto_backup;      // settings value `auto`: "1" = back up at exit
    QString tian;             // retention days
    QString tmp_save;         // folder of the autosave files, ending in "/"
    bool webdav_qdxz = false; // "启动从网盘同步": download at start-up
    bool webdav_tcbc = false; // "退出保存到网盘": upload at exit
    QString dav_url;
    QString dav_username;
    QString dav_password;
    QString zip_password;
    // After "退出(不备份)": no backup at exit (the exit stamp still follows the change flag).
    bool skip_exit_backup = false;
};

} // namespace yunshan
