#include "crypto/login_password.h"

#include "platform/dialogs.h"
#include "platform/text_trim.h"
#include "store/note_store.h"
#include "store/set_table.h"

#include <QCryptographicHash>

namespace yunshan {

QString login_password_digest(const QString &password)
{
    const QByteArray digest = QCryptographicHash::hash(trim_controls(password).toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex());
}

bool login_check(NoteStore &store, Dialogs &dialogs)
{
    const QString stored = set_table::read_password(store);
    if (stored.isEmpty())
        return true;
    const QString entry = dialogs.password(QStringLiteral("请输入密码"), QStringLiteral("密码"));
    // An empty (or blank) entry never matches, whatever digest is stored.
    if (!trim_controls(entry).isEmpty() && login_password_digest(entry) == stored)
        return true;
    dialogs.message(QStringLiteral("密码错误"));
    return false;
}

bool save_login_password(NoteStore &store, Dialogs &dialogs, const QString &first, const QString &second)
{
    if (!store.main_connected()) {
        // Nothing could be stored: say so instead of reporting a success.
        dialogs.message(QStringLiteral("数据库没有连接，请先指定一个保存笔记的文件夹。"));
        return false;
    }
    const QString stored = set_table::read_password(store);
    if (!stored.isEmpty()) {
        // A password box (the entry is not shown); a cancelled box counts as an empty entry.
        const QString current = dialogs.password(QStringLiteral("请输入原密码"), QStringLiteral("原密码验证"));
        if (login_password_digest(current) != stored) {
            dialogs.message(QStringLiteral("原密码错误，不能更改密码"));
            return false;
        }
    }
    if (first != second) {
        dialogs.message(QStringLiteral("两次输入的密码不同。请重新输入。"));
        return false;
    }
    if (trim_controls(first).isEmpty()) {
        set_table::remove_password(store);
        dialogs.message(QStringLiteral("密码已经清除。"));
        return true;
    }
    const QString digest = login_password_digest(first);
    if (stored.isEmpty())
        set_table::insert_password(store, digest);
    else
        set_table::update_password(store, digest);
    dialogs.message(QStringLiteral("密码设置成功。"));
    return true;
}

} // namespace yunshan
