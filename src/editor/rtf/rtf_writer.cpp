// RTF writer: QTextDocument -> bytes, in the form the Windows rich-text control writes and reads.
#include "editor/rtf/rtf.h"

#include "editor/rtf/rtf_paragraph.h"
#include "editor/rtf/rtf_pictures.h"
#include "editor/rtf/rtf_tables.h"
#include "platform/code_page.h"

#include <QGuiApplication>
#include <QHash>
#include <QStringEncoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextTable>

#include <charconv>
#include <vector>

#ifndef YUNSHAN_VERSION
#define YUNSHAN_VERSION "0"
#endif

namespace yunshan {

namespace {

// Code page 936 form of every BMP character: 0 = not in the code page, below 0x100 one byte,
// otherwise lead byte * 256 + trail byte.
const std::vector<quint16> &gbk_table()
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(0x10000, 0);
        QString all;
        all.resize(0x10000 - 0x80);
        for (int c = 0x80; c < 0x10000; ++c)
            all[c - 0x80] = (c >= 0xD800 && c <= 0xDFFF) ? QChar(QChar::ReplacementCharacter) : QChar(char16_t(c));
        const QByteArray bytes = unicode_to_ansi(all);
        qsizetype pos = 0;
        for (int c = 0x80; c < 0x10000; ++c) {
            if (pos >= bytes.size())
                return std::vector<quint16>(0x10000, 0); // unexpected output: use \uN? only
            const auto b0 = uchar(bytes.at(pos));
            if (b0 >= 0x81 && b0 <= 0xFE && pos + 1 < bytes.size()) {
                t[size_t(c)] = quint16(b0 << 8 | uchar(bytes.at(pos + 1)));
                pos += 2;
            } else {
                if (b0 >= 0x80)
                    t[size_t(c)] = b0;
                pos += 1;
            }
        }
        if (pos != bytes.size())
            return std::vector<quint16>(0x10000, 0);
        for (int c = 0xD800; c <= 0xDFFF; ++c)
            t[size_t(c)] = 0;
        return t;
    }();
    return table;
}

bool is_ascii(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

// Fonts whose text is Chinese get \fcharset134 (GB2312), so that Windows picks the Chinese face.
bool is_chinese_font(const QString &name)
{
    if (!is_ascii(name))
        return true;
    static const char *const names[] = {
        "SimSun",   "NSimSun", "SimHei",  "Microsoft YaHei", "Microsoft YaHei UI", "KaiTi",   "FangSong",
        "DengXian", "STSong",  "STHeiti", "STKaiti",         "STFangsong",         "YouYuan", "LiSu"};
    for (const char *n : names)
        if (name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return true;
    return name.contains(QLatin1String("CJK"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("WenQuanYi"), Qt::CaseInsensitive);
}

struct Run {
    int font = -1;
    int dbfont = -1; // the font of double-byte text (\dbch\af)
    int size = -1;   // half points
    int fg = 0;
    int bg = 0;
    int vertical = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
};

using Para = RtfParagraph;

// Tables whose widths are relative get this width: six inches, the text width of a letter page.
constexpr int kTextWidth = 8640;

// The note's own default font: the document's default family when it was given one. A default that
// is only the program's interface font is this computer's fallback (on Linux some font the Windows
// program's users do not have) and counts as none; then the notes' customary 宋体 is named.
QString own_default_family(const QTextDocument &doc)
{
    const QFont font = doc.defaultFont();
    QString family;
    if (font.resolveMask() & (QFont::FamilyResolved | QFont::FamiliesResolved)) {
        for (const QString &name : font.families())
            if (family.isEmpty() && !name.trimmed().isEmpty())
                family = name.trimmed();
        if (family.isEmpty())
            family = font.family().trimmed();
    }
    if (!family.isEmpty() && qGuiApp &&
        family.compare(QGuiApplication::font().family().trimmed(), Qt::CaseInsensitive) == 0)
        family.clear();
    if (family.isEmpty())
        family = QStringLiteral("宋体");
    family.remove(QLatin1Char(';'));
    return family;
}

// The blocks of a cell or frame in document order; those of tables inside it are included.
std::vector<QTextBlock> blocks_between(const QTextDocument &doc, int first, int last)
{
    std::vector<QTextBlock> blocks;
    for (QTextBlock b = doc.findBlock(first); b.isValid() && b.position() <= last; b = b.next())
        blocks.push_back(b);
    return blocks;
}

int twips(qreal pixels)
{
    const qreal t = pixels * 15.0;
    if (t > 1e8)
        return 100000000;
    if (t < -1e8)
        return -100000000;
    return int(t < 0 ? t - 0.5 : t + 0.5);
}

class Writer {
  public:
    explicit Writer(const QTextDocument &doc) : doc_(doc), gbk_(gbk_table()) {}
    QByteArray run();

  private:
    const QTextDocument &doc_;
    const std::vector<quint16> &gbk_;
    QByteArray out_;
    QString default_family_;
    qreal default_size_ = 12;
    QStringList fonts_;
    QHash<QString, int> font_index_;
    std::vector<bool> font_chinese_;
    QList<QRgb> colours_;
    QHash<QRgb, int> colour_index_;
    Run cur_;
    int uc_ = 1;
    int font_charset_ = 0;
    int chinese_font_ = -1; // the font of double-byte text in runs whose own font is Western
    Para para_state_;
    bool para_in_table_ = false;
    bool force_para_ = true; // the next paragraph states its properties whatever they are

    void word(const char *w) { out_.append(w); }
    void number(long long v)
    {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.append(buf, r.ptr - buf);
    }
    void word(const char *w, long long v)
    {
        out_.append(w);
        number(v);
    }
    void hex_byte(uchar b)
    {
        static const char digits[] = "0123456789abcdef";
        const char h[4] = {'\\', '\'', digits[b >> 4], digits[b & 15]};
        out_.append(h, 4);
    }
    void set_uc(int n)
    {
        if (uc_ != n) {
            word("\\uc", n);
            out_.append(' ');
            uc_ = n;
        }
    }

    QString family_of(const QTextCharFormat &f) const;
    int font_of(const QTextCharFormat &f);
    int font_named(QString name);
    int dbch_font(int font);
    int colour_of(const QBrush &b);
    Run run_of(const QTextCharFormat &f);
    static Para para_of(const QTextBlockFormat &f);
    void header();
    void para(const Para &p, bool in_table);
    void paragraph(const QTextBlock &b, bool in_table, const char *end);
    void table(const QTextTable &t);
    void row_definition(const QTextTable &t, int row, const std::vector<int> &widths, int gap);
    void cell_border(const char *side_word, int side, const QTextTableCellFormat &cell, const QTextTableFormat &table);
    void switch_run(const Run &r);
    void text(QStringView s);
    void font_name(const QString &name, bool chinese);
    void picture(const QTextImageFormat &f);
};

QString Writer::family_of(const QTextCharFormat &f) const
{
    const QStringList families = f.fontFamilies().toStringList();
    for (const QString &name : families)
        if (!name.trimmed().isEmpty())
            return name.trimmed();
    const QString family = f.stringProperty(QTextFormat::FontFamily).trimmed();
    return family.isEmpty() ? default_family_ : family;
}

int Writer::font_of(const QTextCharFormat &f)
{
    return font_named(family_of(f));
}

int Writer::font_named(QString name)
{
    name.remove(QLatin1Char(';'));
    const auto it = font_index_.constFind(name);
    if (it != font_index_.constEnd())
        return *it;
    const int index = int(fonts_.size());
    fonts_ << name;
    font_index_.insert(name, index);
    font_chinese_.push_back(is_chinese_font(name));
    return index;
}

int Writer::dbch_font(int font)
{
    if (font_chinese_[size_t(font)])
        return font;
    if (chinese_font_ < 0)
        chinese_font_ = font_chinese_[0] ? 0 : font_named(QStringLiteral("宋体"));
    return chinese_font_;
}

int Writer::colour_of(const QBrush &b)
{
    if (b.style() == Qt::NoBrush)
        return 0;
    const QRgb rgb = b.color().rgb() & 0xFFFFFF;
    const auto it = colour_index_.constFind(rgb);
    if (it != colour_index_.constEnd())
        return *it;
    colours_ << rgb;
    const int index = int(colours_.size()); // entry 0 is "automatic"
    colour_index_.insert(rgb, index);
    return index;
}

Run Writer::run_of(const QTextCharFormat &f)
{
    Run r;
    r.font = font_of(f);
    r.dbfont = dbch_font(r.font);
    qreal size = f.hasProperty(QTextFormat::FontPointSize) ? f.fontPointSize() : default_size_;
    if (size <= 0)
        size = default_size_;
    r.size = std::clamp(int(size * 2 + 0.5), 2, 3276);
    r.bold = f.fontWeight() >= QFont::DemiBold;
    r.italic = f.fontItalic();
    r.underline = f.fontUnderline();
    r.strike = f.fontStrikeOut();
    r.fg = colour_of(f.foreground());
    r.bg = colour_of(f.background());
    switch (f.verticalAlignment()) {
    case QTextCharFormat::AlignSuperScript:
        r.vertical = 1;
        break;
    case QTextCharFormat::AlignSubScript:
        r.vertical = -1;
        break;
    default:
        break;
    }
    return r;
}

Para Writer::para_of(const QTextBlockFormat &f)
{
    Para p;
    const Qt::Alignment a = f.alignment() & Qt::AlignHorizontal_Mask;
    if (a & Qt::AlignHCenter)
        p.align = 1;
    else if (a & Qt::AlignJustify)
        p.align = 3;
    else if (a & Qt::AlignRight)
        p.align = 2;
    p.left = twips(f.leftMargin());
    p.right = twips(f.rightMargin());
    p.first = twips(f.textIndent());
    p.before = twips(f.topMargin());
    p.after = twips(f.bottomMargin());
    switch (f.lineHeightType()) {
    case QTextBlockFormat::ProportionalHeight:
        if (f.lineHeight() > 0 && qAbs(f.lineHeight() - 100) > 0.01) {
            p.line = int(f.lineHeight() * 240 / 100 + 0.5);
            p.line_multiple = true;
        }
        break;
    case QTextBlockFormat::FixedHeight:
        p.line = -twips(f.lineHeight());
        break;
    case QTextBlockFormat::MinimumHeight:
        p.line = twips(f.lineHeight());
        break;
    default:
        break;
    }
    p.rtl = f.layoutDirection() == Qt::RightToLeft;
    return p;
}

void Writer::font_name(const QString &name, bool chinese)
{
    for (QChar ch : name) {
        const char16_t c = ch.unicode();
        if (c < 0x80) {
            if (c == '\\' || c == '{' || c == '}')
                out_.append('\\');
            if (c >= 0x20)
                out_.append(char(c));
        } else if (chinese && gbk_[c] >= 0x100) {
            hex_byte(uchar(gbk_[c] >> 8));
            hex_byte(uchar(gbk_[c] & 0xFF));
        } else {
            word("\\u", c > 32767 ? int(c) - 65536 : int(c));
            out_.append('?');
        }
    }
}

void Writer::header()
{
    out_.append("{\\rtf1\\ansi\\ansicpg936\\deff0\\nouicompat\\deflang1033\\deflangfe2052{\\fonttbl");
    for (qsizetype i = 0; i < fonts_.size(); ++i) {
        const bool chinese = font_chinese_[size_t(i)];
        word("{\\f", i);
        word(chinese ? "\\fnil\\fcharset134 " : "\\fnil\\fcharset0 ");
        font_name(fonts_.at(i), chinese);
        out_.append(";}");
    }
    out_.append("}\r\n");
    if (!colours_.isEmpty()) {
        out_.append("{\\colortbl ;");
        for (QRgb c : std::as_const(colours_)) {
            word("\\red", qRed(c));
            word("\\green", qGreen(c));
            word("\\blue", qBlue(c));
            out_.append(';');
        }
        out_.append("}\r\n");
    }
    out_.append("{\\*\\generator YunShanNote " YUNSHAN_VERSION ";}\\viewkind4\\uc1 \r\n");
}

void Writer::para(const Para &p, bool in_table)
{
    word("\\pard");
    if (in_table)
        word("\\intbl");
    if (p.rtl)
        word("\\rtlpar");
    static const char *const align[] = {"", "\\qc", "\\qr", "\\qj"};
    word(align[p.align]);
    if (p.first)
        word("\\fi", p.first);
    if (p.left)
        word("\\li", p.left);
    if (p.right)
        word("\\ri", p.right);
    if (p.before)
        word("\\sb", p.before);
    if (p.after)
        word("\\sa", p.after);
    if (p.line) {
        word("\\sl", p.line);
        word(p.line_multiple ? "\\slmult1" : "\\slmult0");
    }
}

void Writer::switch_run(const Run &r)
{
    const qsizetype before = out_.size();
    if (r.font != cur_.font || r.dbfont != cur_.dbfont) {
        // Word processors take the font of Chinese text from the double-byte one (\dbch\af): a
        // Chinese font, also in runs whose own font is Western. \f stays the run's own font.
        word("\\hich\\af", r.font);
        word("\\dbch\\af", r.dbfont);
        word("\\loch\\f", r.font);
        font_charset_ = font_chinese_[size_t(r.font)] ? 134 : 0;
    }
    if (r.size != cur_.size)
        word("\\fs", r.size);
    if (r.bold != cur_.bold)
        word(r.bold ? "\\b" : "\\b0");
    if (r.italic != cur_.italic)
        word(r.italic ? "\\i" : "\\i0");
    if (r.underline != cur_.underline)
        word(r.underline ? "\\ul" : "\\ulnone");
    if (r.strike != cur_.strike)
        word(r.strike ? "\\strike" : "\\strike0");
    if (r.fg != cur_.fg)
        word("\\cf", r.fg);
    if (r.bg != cur_.bg)
        word("\\highlight", r.bg);
    if (r.vertical != cur_.vertical)
        word(r.vertical > 0 ? "\\super" : r.vertical < 0 ? "\\sub" : "\\nosupersub");
    if (out_.size() != before)
        out_.append(' ');
    cur_ = r;
}

void Writer::text(QStringView s)
{
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < 0x80) {
            switch (c) {
            case '\\':
                out_.append("\\\\", 2);
                break;
            case '{':
                out_.append("\\{", 2);
                break;
            case '}':
                out_.append("\\}", 2);
                break;
            case '\t':
                out_.append("\\tab ", 5);
                break;
            case '\n':
            case 0x0B:
                out_.append("\\line ", 6);
                break;
            default:
                if (c >= 0x20)
                    out_.append(char(c));
                break;
            }
            continue;
        }
        if (c == 0x2028) {
            out_.append("\\line ", 6);
            continue;
        }
        if (c == 0x2029) {
            out_.append("\\par ", 5);
            continue;
        }
        if (c == 0x00A0) {
            out_.append("\\~", 2);
            continue;
        }
        if (c == 0x00AD) {
            out_.append("\\-", 2);
            continue;
        }
        if (c == 0xFFFC)
            continue; // object replacement characters outside image fragments carry nothing
        const quint16 code = (font_charset_ == 134 && !(c >= 0xD800 && c <= 0xDFFF)) ? gbk_[c] : 0;
        set_uc(code >= 0x100 ? 2 : 1);
        word("\\u", c > 32767 ? int(c) - 65536 : int(c));
        if (code >= 0x100) {
            hex_byte(uchar(code >> 8));
            hex_byte(uchar(code & 0xFF));
        } else if (code >= 0x80) {
            hex_byte(uchar(code));
        } else {
            out_.append('?');
        }
    }
}

void Writer::picture(const QTextImageFormat &f)
{
    rtf_detail::PictureData pic;
    if (!rtf_detail::picture_for_writing(doc_, f, &pic) || pic.bytes.isEmpty())
        return;
    out_.append("{\\pict");
    const bool metafile = pic.kind == QLatin1String("wmetafile") || pic.kind == QLatin1String("emfblip") ||
                          pic.kind == QLatin1String("pmmetafile");
    if (pic.kind == QLatin1String("png"))
        word("\\pngblip");
    else if (pic.kind == QLatin1String("jpeg"))
        word("\\jpegblip");
    else if (pic.kind == QLatin1String("emfblip"))
        word("\\emfblip");
    else if (pic.kind == QLatin1String("wmetafile"))
        word("\\wmetafile", pic.mode);
    else if (pic.kind == QLatin1String("pmmetafile"))
        word("\\pmmetafile", pic.mode);
    else if (pic.kind == QLatin1String("dibitmap"))
        word("\\dibitmap0");
    else if (pic.kind == QLatin1String("wbitmap"))
        word("\\wbitmap0");
    else if (pic.kind == QLatin1String("macpict"))
        word("\\macpict");
    if (pic.picw > 0 && pic.pich > 0) {
        word("\\picw", pic.picw);
        word("\\pich", pic.pich);
    }
    long long goal_w = f.width() > 0 ? twips(f.width()) : 0;
    long long goal_h = f.height() > 0 ? twips(f.height()) : 0;
    if (goal_w <= 0 || goal_h <= 0) {
        goal_w = metafile ? pic.picw * 1440LL / 2540 : pic.picw * 15LL;
        goal_h = metafile ? pic.pich * 1440LL / 2540 : pic.pich * 15LL;
    }
    if (goal_w > 0 && goal_h > 0) {
        word("\\picwgoal", goal_w);
        word("\\pichgoal", goal_h);
    }
    out_.append("\r\n");
    static const char digits[] = "0123456789abcdef";
    const auto *data = reinterpret_cast<const uchar *>(pic.bytes.constData());
    const qsizetype n = pic.bytes.size();
    const qsizetype start = out_.size();
    out_.resize(start + n * 2 + (n / 64) * 2);
    char *o = out_.data() + start;
    for (qsizetype i = 0; i < n; ++i) {
        *o++ = digits[data[i] >> 4];
        *o++ = digits[data[i] & 15];
        if (i % 64 == 63) {
            *o++ = '\r';
            *o++ = '\n';
        }
    }
    out_.append("\r\n}");
}

void Writer::paragraph(const QTextBlock &b, bool in_table, const char *end)
{
    const Para p = para_of(b.blockFormat());
    if (force_para_ || !(p == para_state_) || in_table != para_in_table_) {
        para(p, in_table);
        out_.append(' ');
        // \pard keeps character properties; nothing else to do.
        para_state_ = p;
        para_in_table_ = in_table;
        force_para_ = false;
    }
    QString open_link;
    Run outside;
    int outside_uc = 1;
    int outside_charset = 0;
    auto close_link = [&] {
        if (open_link.isEmpty())
            return;
        out_.append("}}}");
        cur_ = outside;
        uc_ = outside_uc;
        font_charset_ = outside_charset;
        open_link.clear();
    };
    for (auto it = b.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QTextCharFormat format = fragment.charFormat();
        const QString href = format.isAnchor() ? format.anchorHref() : QString();
        if (href != open_link) {
            close_link();
            if (!href.isEmpty()) {
                outside = cur_;
                outside_uc = uc_;
                outside_charset = font_charset_;
                out_.append("{\\field{\\*\\fldinst{HYPERLINK \"");
                QString address = href;
                address.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
                address.replace(QLatin1Char('"'), QLatin1String("\\\""));
                text(address);
                uc_ = outside_uc; // the instruction's groups end here, and with them any \uc
                out_.append("\" }}{\\fldrslt{");
                open_link = href;
            }
        }
        switch_run(run_of(format));
        const QString s = fragment.text();
        if (format.isImageFormat()) {
            const QTextImageFormat image = format.toImageFormat();
            for (QChar c : s)
                if (c == QChar::ObjectReplacementCharacter)
                    picture(image);
        } else {
            text(s);
        }
    }
    close_link();
    out_.append(end);
}

// Column widths in twips: fixed ones as they are, relative ones out of the text width.
std::vector<int> column_widths(const QTextTableFormat &format, int columns)
{
    int total = kTextWidth;
    const QTextLength width = format.width();
    if (width.type() == QTextLength::FixedLength && width.rawValue() > 0)
        total = twips(width.rawValue());
    else if (width.type() == QTextLength::PercentageLength && width.rawValue() > 0)
        total = int(kTextWidth * std::min(width.rawValue(), 100.0) / 100);
    const QList<QTextLength> constraints = format.columnWidthConstraints();
    std::vector<int> widths(size_t(columns), -1);
    int known = 0;
    int variable = 0;
    for (int c = 0; c < columns; ++c) {
        const QTextLength length = c < constraints.size() ? constraints.at(c) : QTextLength();
        if (length.type() == QTextLength::FixedLength && length.rawValue() > 0)
            widths[size_t(c)] = twips(length.rawValue());
        else if (length.type() == QTextLength::PercentageLength && length.rawValue() > 0)
            widths[size_t(c)] = int(total * std::min(length.rawValue(), 100.0) / 100);
        if (widths[size_t(c)] < 0)
            ++variable;
        else
            known += widths[size_t(c)];
    }
    const int share = variable > 0 ? std::max(720, (total - known) / variable) : 0;
    for (int &w : widths)
        w = std::clamp(w < 0 ? share : w, 15, 31680);
    return widths;
}

void Writer::cell_border(const char *side_word, int side, const QTextTableCellFormat &cell,
                         const QTextTableFormat &table)
{
    static const QTextFormat::Property properties[4][3] = {
        {QTextFormat::TableCellTopBorder, QTextFormat::TableCellTopBorderStyle, QTextFormat::TableCellTopBorderBrush},
        {QTextFormat::TableCellLeftBorder, QTextFormat::TableCellLeftBorderStyle,
         QTextFormat::TableCellLeftBorderBrush},
        {QTextFormat::TableCellBottomBorder, QTextFormat::TableCellBottomBorderStyle,
         QTextFormat::TableCellBottomBorderBrush},
        {QTextFormat::TableCellRightBorder, QTextFormat::TableCellRightBorderStyle,
         QTextFormat::TableCellRightBorderBrush},
    };
    const auto &[width_property, style_property, brush_property] = properties[side];
    // A table's own border (as in tables pasted from web pages) draws round every cell.
    QTextFrameFormat::BorderStyle table_style = table.borderStyle();
    if (table_style == QTextFrameFormat::BorderStyle_Outset || table_style == QTextFrameFormat::BorderStyle_Inset)
        table_style = QTextFrameFormat::BorderStyle_Solid;
    qreal width = table.border();
    auto style = table_style;
    QBrush brush = table.borderBrush();
    if (cell.hasProperty(width_property)) {
        width = cell.doubleProperty(width_property);
        if (cell.hasProperty(style_property))
            style = QTextFrameFormat::BorderStyle(cell.intProperty(style_property));
        if (cell.hasProperty(brush_property))
            brush = cell.brushProperty(brush_property);
    }
    const char *style_word = rtf_detail::border_word(style);
    if (width <= 0 || !style_word)
        return;
    word(side_word);
    out_.append('\\');
    word(style_word);
    word("\\brdrw", std::clamp(twips(width), 1, 255));
    if (brush.style() != Qt::NoBrush && (brush.color().rgb() & 0xFFFFFF) != 0)
        word("\\brdrcf", colour_of(brush));
}

void Writer::row_definition(const QTextTable &t, int row, const std::vector<int> &widths, int gap)
{
    const QTextTableFormat format = t.format();
    word("\\trowd\\trgaph", gap);
    word("\\trleft", -gap);
    const Qt::Alignment align = format.alignment() & Qt::AlignHorizontal_Mask;
    if (align & Qt::AlignHCenter)
        word("\\trqc");
    else if (align & Qt::AlignRight)
        word("\\trqr");
    long long x = -gap;
    for (int c = 0; c < t.columns(); ++c) {
        // Merged cells are written as Word and the Windows control write them: every place of the
        // grid is a cell, the ones after the first flagged as joined to it.
        const QTextTableCell cell = t.cellAt(row, c);
        const QTextTableCellFormat f = cell.format().toTableCellFormat();
        const int r0 = cell.row();
        const int c0 = cell.column();
        if (cell.columnSpan() > 1)
            word(c == c0 ? "\\clmgf" : "\\clmrg");
        if (cell.rowSpan() > 1)
            word(row == r0 ? "\\clvmgf" : "\\clvmrg");
        if (f.verticalAlignment() == QTextCharFormat::AlignMiddle)
            word("\\clvertalc");
        else if (f.verticalAlignment() == QTextCharFormat::AlignBottom)
            word("\\clvertalb");
        if (row == r0)
            cell_border("\\clbrdrt", rtf_detail::kTop, f, format);
        if (c == c0)
            cell_border("\\clbrdrl", rtf_detail::kLeft, f, format);
        if (row == r0 + cell.rowSpan() - 1)
            cell_border("\\clbrdrb", rtf_detail::kBottom, f, format);
        if (c == c0 + cell.columnSpan() - 1)
            cell_border("\\clbrdrr", rtf_detail::kRight, f, format);
        if (f.background().style() != Qt::NoBrush)
            word("\\clcbpat", colour_of(f.background()));
        x += widths[size_t(c)];
        word("\\cellx", x);
    }
    out_.append("\r\n");
}

// A table as RTF rows. Tables inside its cells are written as paragraphs of the cell.
void Writer::table(const QTextTable &t)
{
    const QTextTableFormat format = t.format();
    const std::vector<int> widths = column_widths(format, t.columns());
    const int gap = std::clamp(twips(format.cellPadding()), 0, 31680);
    for (int r = 0; r < t.rows(); ++r) {
        row_definition(t, r, widths, gap);
        force_para_ = true;
        for (int c = 0; c < t.columns(); ++c) {
            const QTextTableCell cell = t.cellAt(r, c);
            std::vector<QTextBlock> blocks;
            if (cell.row() == r && cell.column() == c)
                blocks = blocks_between(doc_, cell.firstPosition(), cell.lastPosition());
            for (size_t i = 0; i < blocks.size(); ++i)
                paragraph(blocks[i], true, i + 1 == blocks.size() ? "\\cell " : "\\par\r\n");
            if (blocks.empty()) {
                // A place covered by a merged cell.
                if (force_para_ || !para_in_table_) {
                    para_state_ = Para();
                    para(para_state_, true);
                    out_.append(' ');
                    para_in_table_ = true;
                    force_para_ = false;
                }
                out_.append("\\cell ");
            }
        }
        out_.append("\\row\r\n");
    }
    force_para_ = true; // the paragraph after the table is no longer in it
}

QByteArray Writer::run()
{
    default_family_ = own_default_family(doc_);
    default_size_ = doc_.defaultFont().pointSizeF();
    if (default_size_ <= 0)
        default_size_ = doc_.defaultFont().pixelSize() > 0 ? doc_.defaultFont().pixelSize() * 0.75 : 12;
    font_of(QTextCharFormat()); // the default font is \f0
    out_.reserve(qsizetype(doc_.characterCount()) * 8 + 1024);
    cur_ = Run();

    const QTextFrame *root = doc_.rootFrame();
    bool first = true;
    for (auto it = root->begin(); !it.atEnd(); ++it) {
        if (const QTextFrame *frame = it.currentFrame()) {
            if (const auto *t = qobject_cast<const QTextTable *>(frame)) {
                table(*t);
            } else {
                for (const QTextBlock &b : blocks_between(doc_, frame->firstPosition(), frame->lastPosition()))
                    paragraph(b, false, "\\par\r\n");
            }
        } else {
            const QTextBlock b = it.currentBlock();
            // A document always has a paragraph before a table that begins it; reading a body that
            // begins with a table makes that empty paragraph again, so it is not written.
            auto next = it;
            ++next;
            const bool before_first_table = first && b.length() == 1 && !next.atEnd() &&
                                            qobject_cast<const QTextTable *>(next.currentFrame()) &&
                                            para_of(b.blockFormat()) == Para();
            if (!before_first_table)
                paragraph(b, false, "\\par\r\n");
        }
        first = false;
    }
    out_.append("}\r\n");

    // The header comes last: its font and colour tables hold what the body used.
    QByteArray body;
    body.swap(out_);
    out_.reserve(body.size() + 1024);
    header();
    out_.append(body);
    return out_;
}

} // namespace

QByteArray write_rtf(const QTextDocument &doc)
{
    Writer writer(doc);
    return writer.run();
}

namespace {

// The text of a body with tables: a row is a line with its cells separated by tabs.
QString plain_text_with_tables(const QTextDocument &doc)
{
    QString text;
    auto add_blocks = [&](int first, int last) {
        bool start = true;
        for (const QTextBlock &b : blocks_between(doc, first, last)) {
            if (!start)
                text += QLatin1Char('\n');
            text += b.text();
            start = false;
        }
    };
    const QTextFrame *root = doc.rootFrame();
    bool start = true;
    for (auto it = root->begin(); !it.atEnd(); ++it) {
        if (!start)
            text += QLatin1Char('\n');
        start = false;
        const QTextFrame *frame = it.currentFrame();
        if (!frame) {
            text += it.currentBlock().text();
            continue;
        }
        const auto *t = qobject_cast<const QTextTable *>(frame);
        if (!t) {
            add_blocks(frame->firstPosition(), frame->lastPosition());
            continue;
        }
        for (int r = 0; r < t->rows(); ++r) {
            if (r > 0)
                text += QLatin1Char('\n');
            for (int c = 0; c < t->columns(); ++c) {
                const QTextTableCell cell = t->cellAt(r, c);
                if (c > 0)
                    text += QLatin1Char('\t');
                if (cell.row() == r && cell.column() == c)
                    add_blocks(cell.firstPosition(), cell.lastPosition());
            }
        }
    }
    // What the document's own plain text turns into line ends and spaces.
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::Nbsp, QLatin1Char(' '));
    return text;
}

} // namespace

QByteArray plain_text_copy(const QTextDocument &doc)
{
    QString text = doc.rootFrame()->childFrames().isEmpty() ? doc.toPlainText() : plain_text_with_tables(doc);

    text.remove(QChar::ObjectReplacementCharacter);
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QStringEncoder encoder(QStringConverter::Utf16LE);
    QByteArray out("\xFF\xFE", 2);
    out.append(encoder.encode(text));
    return out;
}

} // namespace yunshan
