// RTF writer: QTextDocument -> bytes, in the form the Windows rich-text control writes and reads.
#include "editor/rtf/rtf.h"

#include "editor/rtf/rtf_paragraph.h"
#include "editor/rtf/rtf_pictures.h"
#include "platform/code_page.h"

#include <QHash>
#include <QStringEncoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

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
    static const char *const names[] = {"SimSun", "NSimSun", "SimHei", "Microsoft YaHei", "Microsoft YaHei UI",
                                        "KaiTi", "FangSong", "DengXian", "STSong", "STHeiti", "STKaiti",
                                        "STFangsong", "YouYuan", "LiSu"};
    for (const char *n : names)
        if (name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return true;
    return name.contains(QLatin1String("CJK"), Qt::CaseInsensitive)
           || name.contains(QLatin1String("WenQuanYi"), Qt::CaseInsensitive);
}

struct Run {
    int font = -1;
    int size = -1; // half points
    int fg = 0;
    int bg = 0;
    int vertical = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
};

using Para = RtfParagraph;

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
    int colour_of(const QBrush &b);
    Run run_of(const QTextCharFormat &f);
    static Para para_of(const QTextBlockFormat &f);
    void collect();
    void header();
    void para(const Para &p);
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
    QString name = family_of(f);
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
    case QTextCharFormat::AlignSuperScript: r.vertical = 1; break;
    case QTextCharFormat::AlignSubScript: r.vertical = -1; break;
    default: break;
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

void Writer::collect()
{
    default_family_ = doc_.defaultFont().family().trimmed();
    if (default_family_.isEmpty())
        default_family_ = QStringLiteral("宋体");
    default_family_.remove(QLatin1Char(';'));
    default_size_ = doc_.defaultFont().pointSizeF();
    if (default_size_ <= 0)
        default_size_ = doc_.defaultFont().pixelSize() > 0 ? doc_.defaultFont().pixelSize() * 0.75 : 12;
    font_of(QTextCharFormat()); // the default font is \f0
    for (QTextBlock b = doc_.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            run_of(it.fragment().charFormat());
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

void Writer::para(const Para &p)
{
    word("\\pard");
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
    if (r.font != cur_.font) {
        word("\\f", r.font);
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
            case '\\': out_.append("\\\\", 2); break;
            case '{': out_.append("\\{", 2); break;
            case '}': out_.append("\\}", 2); break;
            case '\t': out_.append("\\tab ", 5); break;
            case '\n':
            case 0x0B: out_.append("\\line ", 6); break;
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
    const bool metafile = pic.kind == QLatin1String("wmetafile") || pic.kind == QLatin1String("emfblip")
                          || pic.kind == QLatin1String("pmmetafile");
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

QByteArray Writer::run()
{
    collect();
    out_.reserve(qsizetype(doc_.characterCount()) * 8 + 1024);
    header();

    bool first = true;
    Para para_state;
    cur_ = Run();
    for (QTextBlock b = doc_.begin(); b.isValid(); b = b.next()) {
        const Para p = para_of(b.blockFormat());
        if (first || !(p == para_state)) {
            para(p);
            out_.append(' ');
            // \pard keeps character properties; nothing else to do.
            para_state = p;
            first = false;
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
        out_.append("\\par\r\n");
    }
    out_.append("}\r\n");
    return out_;
}

} // namespace

QByteArray write_rtf(const QTextDocument &doc)
{
    Writer writer(doc);
    return writer.run();
}

QByteArray plain_text_copy(const QTextDocument &doc)
{
    QString text = doc.toPlainText();
    text.remove(QChar::ObjectReplacementCharacter);
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QStringEncoder encoder(QStringConverter::Utf16LE);
    QByteArray out("\xFF\xFE", 2);
    out.append(encoder.encode(text));
    return out;
}

} // namespace yunshan
