#include "app/start_page.h"

#include "app/startup.h"
#include "editor/editor_tools.h"

#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace yunshan {

const QStringList &start_page_lines()
{
    static const QStringList lines = {
        QStringLiteral("欢迎使用云杉札记"),
        QStringLiteral("致力于打造一个极简笔记，支持分类，标签，文字和附件图片。"),
        QStringLiteral("支持图文混排。"),
        QStringLiteral("特点1：完全本地存储，不使用网络云。"),
        QStringLiteral("  防止笔记泄露或者网络商家跑路导致的笔记丢失。"),
        QStringLiteral("特点2：支持双文件夹同步备份。适合拥有双硬盘或者NAS存储系统与Onedrive等映射为本地磁盘。这样笔记"
                       "一份保存在本机，"),
        QStringLiteral("    一份设置好备份文件夹后会同步保存到服务器。"),
        QStringLiteral("特点3：全部笔记和图片保存到一个文件内。方便自行保存备份。"),
        QStringLiteral("特点4：支持两种加密，设置“登陆密码”不会加密数据库不影响全文搜索。如忘记密码还能找回数据。"),
        QStringLiteral("   "
                       "“加密当前笔记”属于高强度加密，加密后的笔记是乱码不能被全文搜索，支持对不同笔记设置不同的密码。"
                       "如忘记密码无法再打开。适合对隐私安全有高要求的少量笔记采用这个方法加密。"),
        QStringLiteral("特点5：云杉札记仅一个可执行文件（添加笔记后多一个数据库文件）。方便携带移动。"),
        QStringLiteral("使用方法：先新建大类，再新建小类，然后小类下就可以添加笔记了。"),
        QStringLiteral("有任何意见建议可以发邮件：") + contact_email(),
    };
    return lines;
}

static QTextCursor range(QTextDocument &doc, int from, int to_inclusive)
{
    QTextCursor c(&doc);
    c.setPosition(from);
    c.setPosition(to_inclusive + 1, QTextCursor::KeepAnchor);
    return c;
}

void fill_start_page(QTextDocument &doc)
{
    doc.clear();
    QTextCursor c(&doc);
    c.beginEditBlock();
    const QStringList &lines = start_page_lines();
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            c.insertBlock();
        c.insertText(lines.at(i));
    }
    c.endEditBlock();

    QTextCursor name = range(doc, 4, 7);
    QTextCharFormat size;
    size.setFontPointSize(14);
    name.mergeCharFormat(size);
    toggle_bold(name);
    QTextCursor mixed = range(doc, 40, 43);
    toggle_red(mixed);
    QTextCursor crypt = range(doc, 216, 217);
    toggle_bold(crypt);
    toggle_red(crypt);
}

} // namespace yunshan
