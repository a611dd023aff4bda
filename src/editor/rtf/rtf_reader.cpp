// RTF reader: bytes -> QTextDocument. A single pass over the input with a stack of group states;
// text bytes are collected and decoded run by run in the code page of the current font.
#include "editor/rtf/rtf.h"

#include "editor/rtf/rtf_paragraph.h"
#include "editor/rtf/rtf_pictures.h"
#include "editor/rtf/rtf_tables.h"
#include "platform/code_page.h"
#include "platform/hex_digit.h"

#include <QHash>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace yunshan {

namespace {

using rtf_detail::PictureData;

constexpr int kMaxDepth = 1000;                           // deeper groups share the state of the deepest one
constexpr long long kMaxParam = 1000000000;               // control word parameters are clamped to this
constexpr int kMaxEdge = 31680 * rtf_detail::kMaxColumns; // table edges (\cellx, \trleft) are clamped
constexpr int kMaxCellDefs = 256;                         // cell definitions kept per row
// Cells read into tables per body. Past it, further cells are read as text (tabs and paragraphs),
// and at most as many table cells are made, so that a body of thousands of broken rows stays quick.
constexpr int kMaxTableCells = 100000;

enum class Dest : quint8 { Body, FontTable, ColorTable, Pict, FieldInst, Upr, Ignore, Skip };

struct CharState {
    int font = -1; // \fN id, -1 = the default font
    int size = 0;  // half points, 0 = not set
    int fg = 0;    // colour table index, 0 = automatic
    int bg = 0;
    int link = -1;      // index into the reader's links
    qint8 vertical = 0; // 1 superscript, -1 subscript
    // Associated properties for double-byte text (\dbch \af \afs \ab \ai), as LibreOffice
    // writes Chinese runs.
    int afont = -1;
    int asize = 0;
    bool dbch = false;
    bool abold = false;
    bool aitalic = false;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool operator==(const CharState &) const = default;
};

using ParaState = RtfParagraph;

struct Group {
    CharState chr;
    ParaState para;
    Dest dest = Dest::Body;
    Dest upr_outer = Dest::Body;
    int uc = 1;
    int field = -1;
    bool intbl = false; // \intbl: the paragraph belongs to a table cell
};

struct Font {
    int charset = -1;
    int codepage = 0;
    QString name;
    QStringList families; // filled when first used
    bool resolved = false;
};

struct Field {
    QString instruction;
    bool has_result = false;
};

enum class Kw : quint8 {
    // destinations
    FontTbl,
    ColorTbl,
    Pict,
    Field,
    FldInst,
    FldRslt,
    ShpPict,
    NonShpPict,
    Ud,
    Upr,
    SkipDest,
    Result,
    // header
    Rtf,
    Urtf,
    Ansi,
    Mac,
    Pc,
    Pca,
    AnsiCpg,
    Deff,
    Uc,
    U,
    Bin,
    // fonts, colours
    F,
    FCharset,
    Cpg,
    Red,
    Green,
    Blue,
    // character
    Af,
    Afs,
    Ab,
    Ai,
    Loch,
    Hich,
    Dbch,
    Plain,
    B,
    I,
    Ul,
    UlNone,
    UlStyle,
    Strike,
    StrikeD,
    Fs,
    Cf,
    Highlight,
    Cb,
    Super,
    Sub,
    NoSuperSub,
    Up,
    Dn,
    // paragraph
    Pard,
    Ql,
    Qc,
    Qr,
    Qj,
    Li,
    Ri,
    Fi,
    Sb,
    Sa,
    Sl,
    SlMult,
    LtrPar,
    RtlPar,
    // specials
    Par,
    Line,
    Tab,
    Cell,
    Row,
    NestCell,
    NestRow,
    EmDash,
    EnDash,
    Bullet,
    LQuote,
    RQuote,
    LDblQuote,
    RDblQuote,
    EmSpace,
    EnSpace,
    QmSpace,
    Zwj,
    Zwnj,
    LtrMark,
    RtlMark,
    // pictures
    PngBlip,
    JpegBlip,
    EmfBlip,
    WMetafile,
    DiBitmap,
    WBitmap,
    MacPict,
    PmMetafile,
    PicW,
    PicH,
    PicWGoal,
    PicHGoal,
    PicScaleX,
    PicScaleY,
    // tables
    Trowd,
    Cellx,
    Intbl,
    Itap,
    TrGaph,
    TrLeft,
    TrQl,
    TrQc,
    TrQr,
    ClBrdrT,
    ClBrdrL,
    ClBrdrB,
    ClBrdrR,
    TrBrdrT,
    TrBrdrL,
    TrBrdrB,
    TrBrdrR,
    TrBrdrH,
    TrBrdrV,
    ParaBrdr,
    BrdrStyle,
    BrdrW,
    BrdrCf,
    ClCbPat,
    ClVertAlT,
    ClVertAlC,
    ClVertAlB,
    ClMgf,
    ClMrg,
    ClVmgf,
    ClVmrg,
    // nothing after the table words: is_table_word() takes every word from Trowd on
};

const std::unordered_map<std::string_view, Kw> &keywords()
{
    static const std::unordered_map<std::string_view, Kw> table = [] {
        std::unordered_map<std::string_view, Kw> t{
            {"fonttbl", Kw::FontTbl},
            {"colortbl", Kw::ColorTbl},
            {"pict", Kw::Pict},
            {"field", Kw::Field},
            {"fldinst", Kw::FldInst},
            {"fldrslt", Kw::FldRslt},
            {"shppict", Kw::ShpPict},
            {"nonshppict", Kw::NonShpPict},
            {"ud", Kw::Ud},
            {"upr", Kw::Upr},
            {"result", Kw::Result},
            {"rtf", Kw::Rtf},
            {"urtf", Kw::Urtf},
            {"ansi", Kw::Ansi},
            {"mac", Kw::Mac},
            {"pc", Kw::Pc},
            {"pca", Kw::Pca},
            {"ansicpg", Kw::AnsiCpg},
            {"deff", Kw::Deff},
            {"uc", Kw::Uc},
            {"u", Kw::U},
            {"bin", Kw::Bin},
            {"f", Kw::F},
            {"fcharset", Kw::FCharset},
            {"cpg", Kw::Cpg},
            {"red", Kw::Red},
            {"green", Kw::Green},
            {"blue", Kw::Blue},
            {"plain", Kw::Plain},
            {"af", Kw::Af},
            {"afs", Kw::Afs},
            {"ab", Kw::Ab},
            {"ai", Kw::Ai},
            {"loch", Kw::Loch},
            {"hich", Kw::Hich},
            {"dbch", Kw::Dbch},
            {"b", Kw::B},
            {"i", Kw::I},
            {"ul", Kw::Ul},
            {"ulnone", Kw::UlNone},
            {"strike", Kw::Strike},
            {"striked", Kw::StrikeD},
            {"fs", Kw::Fs},
            {"cf", Kw::Cf},
            {"highlight", Kw::Highlight},
            {"cb", Kw::Cb},
            {"chcbpat", Kw::Cb},
            {"super", Kw::Super},
            {"sub", Kw::Sub},
            {"nosupersub", Kw::NoSuperSub},
            {"up", Kw::Up},
            {"dn", Kw::Dn},
            {"pard", Kw::Pard},
            {"ql", Kw::Ql},
            {"qc", Kw::Qc},
            {"qr", Kw::Qr},
            {"qj", Kw::Qj},
            {"qd", Kw::Qj},
            {"li", Kw::Li},
            {"lin", Kw::Li},
            {"ri", Kw::Ri},
            {"rin", Kw::Ri},
            {"fi", Kw::Fi},
            {"sb", Kw::Sb},
            {"sa", Kw::Sa},
            {"sl", Kw::Sl},
            {"slmult", Kw::SlMult},
            {"ltrpar", Kw::LtrPar},
            {"rtlpar", Kw::RtlPar},
            {"par", Kw::Par},
            {"sect", Kw::Par},
            {"page", Kw::Par},
            {"line", Kw::Line},
            {"tab", Kw::Tab},
            {"cell", Kw::Cell},
            {"nestcell", Kw::NestCell},
            {"row", Kw::Row},
            {"nestrow", Kw::NestRow},
            {"emdash", Kw::EmDash},
            {"endash", Kw::EnDash},
            {"bullet", Kw::Bullet},
            {"lquote", Kw::LQuote},
            {"rquote", Kw::RQuote},
            {"ldblquote", Kw::LDblQuote},
            {"rdblquote", Kw::RDblQuote},
            {"emspace", Kw::EmSpace},
            {"enspace", Kw::EnSpace},
            {"qmspace", Kw::QmSpace},
            {"zwj", Kw::Zwj},
            {"zwnj", Kw::Zwnj},
            {"ltrmark", Kw::LtrMark},
            {"rtlmark", Kw::RtlMark},
            {"pngblip", Kw::PngBlip},
            {"jpegblip", Kw::JpegBlip},
            {"emfblip", Kw::EmfBlip},
            {"wmetafile", Kw::WMetafile},
            {"dibitmap", Kw::DiBitmap},
            {"wbitmap", Kw::WBitmap},
            {"macpict", Kw::MacPict},
            {"pmmetafile", Kw::PmMetafile},
            {"picw", Kw::PicW},
            {"pich", Kw::PicH},
            {"picwgoal", Kw::PicWGoal},
            {"pichgoal", Kw::PicHGoal},
            {"picscalex", Kw::PicScaleX},
            {"picscaley", Kw::PicScaleY},
            {"trowd", Kw::Trowd},
            {"cellx", Kw::Cellx},
            {"intbl", Kw::Intbl},
            {"itap", Kw::Itap},
            {"trgaph", Kw::TrGaph},
            {"trleft", Kw::TrLeft},
            {"trql", Kw::TrQl},
            {"trqc", Kw::TrQc},
            {"trqr", Kw::TrQr},
            {"clbrdrt", Kw::ClBrdrT},
            {"clbrdrl", Kw::ClBrdrL},
            {"clbrdrb", Kw::ClBrdrB},
            {"clbrdrr", Kw::ClBrdrR},
            {"trbrdrt", Kw::TrBrdrT},
            {"trbrdrl", Kw::TrBrdrL},
            {"trbrdrb", Kw::TrBrdrB},
            {"trbrdrr", Kw::TrBrdrR},
            {"trbrdrh", Kw::TrBrdrH},
            {"trbrdrv", Kw::TrBrdrV},
            {"brdrt", Kw::ParaBrdr},
            {"brdrl", Kw::ParaBrdr},
            {"brdrb", Kw::ParaBrdr},
            {"brdrr", Kw::ParaBrdr},
            {"brdrbtw", Kw::ParaBrdr},
            {"brdrbar", Kw::ParaBrdr},
            {"box", Kw::ParaBrdr},
            {"brdrw", Kw::BrdrW},
            {"brdrcf", Kw::BrdrCf},
            {"clcbpat", Kw::ClCbPat},
            {"clvertalt", Kw::ClVertAlT},
            {"clvertalc", Kw::ClVertAlC},
            {"clvertalb", Kw::ClVertAlB},
            {"clmgf", Kw::ClMgf},
            {"clmrg", Kw::ClMrg},
            {"clvmgf", Kw::ClVmgf},
            {"clvmrg", Kw::ClVmrg},
        };
        for (const char *w :
             {"brdrs",        "brdrth",       "brdrsh",      "brdrhair",       "brdrdb",     "brdrdot",    "brdrdash",
              "brdrdashsm",   "brdrdashd",    "brdrdashdd",  "brdrengrave",    "brdremboss", "brdrinset",  "brdroutset",
              "brdrtriple",   "brdrwavy",     "brdrwavydb",  "brdrdashdotstr", "brdrframe",  "brdrnone",   "brdrnil",
              "brdrtbl",      "brdrthtnsg",   "brdrthtnmg",  "brdrthtnlg",     "brdrtnthsg", "brdrtnthmg", "brdrtnthlg",
              "brdrtnthtnsg", "brdrtnthtnmg", "brdrtnthtnlg"})
            t.emplace(w, Kw::BrdrStyle);
        for (const char *w :
             {"uld", "uldb", "ulw", "ulwave", "uldash", "uldashd", "uldashdd", "ulth", "ulhwave", "ululdbwave",
              "ulldash", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ulwave", "ulc"})
            t.emplace(w, Kw::UlStyle);
        // Destinations without \* whose content is never body text.
        for (const char *w : {"stylesheet",
                              "info",
                              "header",
                              "headerl",
                              "headerr",
                              "headerf",
                              "footer",
                              "footerl",
                              "footerr",
                              "footerf",
                              "listtable",
                              "listoverridetable",
                              "revtbl",
                              "rsidtbl",
                              "xmlnstbl",
                              "themedata",
                              "colorschememapping",
                              "latentstyles",
                              "datastore",
                              "generator",
                              "mmathPr",
                              "bkmkstart",
                              "bkmkend",
                              "footnote",
                              "ftnsep",
                              "ftnsepc",
                              "ftncn",
                              "aftnsep",
                              "aftnsepc",
                              "aftncn",
                              "xe",
                              "tc",
                              "txe",
                              "pnseclvl",
                              "objdata",
                              "template",
                              "private",
                              "pgdsctbl",
                              "fchars",
                              "lchars",
                              "picprop",
                              "blipuid",
                              "pn",
                              "pntxta",
                              "pntxtb",
                              "userprops",
                              "docvar",
                              "filetbl",
                              "passwordhash",
                              "protusertbl",
                              "wgrffmtfilter",
                              "nesttableprops"})
            t.emplace(w, Kw::SkipDest);
        t.erase("ulc"); // \ulcN is an underline colour, not a style
        return t;
    }();
    return table;
}

bool is_letter(uchar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int charset_codepage(int charset)
{
    switch (charset) {
    case 0:
        return 1252;
    case 2:
        return 1252; // symbol fonts: show the bytes as Latin-1 characters
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0; // 1 (default) and unknown: the document's code page
    }
}

bool is_double_byte(int codepage)
{
    return codepage == 936 || codepage == 932 || codepage == 949 || codepage == 950 || codepage == 1361;
}

bool is_lead_byte(int codepage, uchar b)
{
    if (codepage == 932)
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    if (codepage == 1361)
        return (b >= 0x84 && b <= 0xD3) || (b >= 0xD8 && b <= 0xDE) || (b >= 0xE0 && b <= 0xF9);
    return b >= 0x81 && b <= 0xFE;
}

QStringList font_families_for(const QString &name)
{
    QStringList families{name};
    static const QHash<QString, QStringList> aliases = {
        {QStringLiteral("宋体"), {QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC")}},
        {QStringLiteral("新宋体"), {QStringLiteral("NSimSun"), QStringLiteral("Noto Serif CJK SC")}},
        {QStringLiteral("SimSun"), {QStringLiteral("宋体"), QStringLiteral("Noto Serif CJK SC")}},
        {QStringLiteral("微软雅黑"), {QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC")}},
        {QStringLiteral("Microsoft YaHei"), {QStringLiteral("微软雅黑"), QStringLiteral("Noto Sans CJK SC")}},
        {QStringLiteral("黑体"), {QStringLiteral("SimHei"), QStringLiteral("Noto Sans CJK SC")}},
        {QStringLiteral("SimHei"), {QStringLiteral("黑体"), QStringLiteral("Noto Sans CJK SC")}},
        {QStringLiteral("楷体"), {QStringLiteral("KaiTi"), QStringLiteral("AR PL UKai CN")}},
        {QStringLiteral("楷体_GB2312"), {QStringLiteral("KaiTi"), QStringLiteral("AR PL UKai CN")}},
        {QStringLiteral("仿宋"), {QStringLiteral("FangSong"), QStringLiteral("Noto Serif CJK SC")}},
        {QStringLiteral("仿宋_GB2312"), {QStringLiteral("FangSong"), QStringLiteral("Noto Serif CJK SC")}},
        {QStringLiteral("等线"), {QStringLiteral("DengXian"), QStringLiteral("Noto Sans CJK SC")}},
    };
    const auto it = aliases.constFind(name);
    if (it != aliases.constEnd())
        families += *it;
    return families;
}

// Words from \trowd on build tables; table_word() reads them.
bool is_table_word(Kw kw)
{
    return kw >= Kw::Trowd;
}

// The character a special word stands for, 0 for other words.
char16_t special_character(Kw kw)
{
    static constexpr std::pair<Kw, char16_t> specials[] = {
        {Kw::Line, 0x2028},    {Kw::EmDash, 0x2014},  {Kw::EnDash, 0x2013},    {Kw::Bullet, 0x2022},
        {Kw::LQuote, 0x2018},  {Kw::RQuote, 0x2019},  {Kw::LDblQuote, 0x201C}, {Kw::RDblQuote, 0x201D},
        {Kw::EmSpace, 0x2003}, {Kw::EnSpace, 0x2002}, {Kw::QmSpace, 0x2005},   {Kw::Zwj, 0x200D},
        {Kw::Zwnj, 0x200C},    {Kw::LtrMark, 0x200E}, {Kw::RtlMark, 0x200F},
    };
    for (const auto &[special, c] : specials) {
        if (special == kw)
            return c;
    }
    return 0;
}

// The picture format a blip word names, nullptr for other words.
const char *picture_kind(Kw kw)
{
    static constexpr std::pair<Kw, const char *> kinds[] = {
        {Kw::PngBlip, "png"},       {Kw::JpegBlip, "jpeg"},   {Kw::EmfBlip, "emfblip"}, {Kw::WMetafile, "wmetafile"},
        {Kw::DiBitmap, "dibitmap"}, {Kw::WBitmap, "wbitmap"}, {Kw::MacPict, "macpict"}, {Kw::PmMetafile, "pmmetafile"},
    };
    for (const auto &[blip, kind] : kinds) {
        if (blip == kw)
            return kind;
    }
    return nullptr;
}

class Reader {
  public:
    Reader(QTextCursor &cursor, bool fragment) : out_(cursor), fragment_(fragment) {}

    RtfReadResult run(const QByteArray &input);

  private:
    // input
    const uchar *p_ = nullptr;
    const uchar *end_ = nullptr;

    // output
    QTextCursor &out_;
    bool fragment_;
    bool first_block_ = true;  // the cursor's block: in a fragment it belongs to the user's text
    bool par_pending_ = false; // a \par was read; its new block is made when content follows
    QString body_;             // decoded body text of the current run, not yet inserted
    CharState cached_state_;
    QTextCharFormat cached_format_;
    bool cached_valid_ = false;

    // state
    Group cur_;
    std::vector<Group> stack_;
    int overflow_ = 0;     // '{' beyond kMaxDepth
    bool started_ = false; // the outer group was opened
    bool star_ = false;    // \* read, the next control word is an ignorable destination
    int skip_units_ = 0;   // \uN fallback units still to skip
    int ansi_codepage_ = 1252;
    int default_font_ = 0;

    // text bytes waiting for decoding
    QByteArray bytes_;
    int bytes_codepage_ = 0;
    bool lead_pending_ = false;

    // tables
    std::vector<Font> fonts_;
    QHash<int, int> font_index_;
    int font_defining_ = -1;      // index into fonts_ while in the font table
    std::vector<QColor> colours_; // invalid colour = automatic
    int red_ = -1, green_ = -1, blue_ = -1;
    std::vector<Field> fields_;
    QStringList links_;

    // picture being read
    PictureData pict_;
    int pict_nibble_ = -1;

    std::unordered_map<int, std::unique_ptr<QStringDecoder>> decoders_;

    // tables: the open table's rows are kept until it ends, then made into a QTextTable
    struct OpenTable {
        std::vector<rtf_detail::TableRow> rows;
        std::vector<rtf_detail::CellContent> cells; // the cells of the row being read
        rtf_detail::CellContent cell;               // the cell being read
    };
    std::unique_ptr<OpenTable> table_;
    std::shared_ptr<rtf_detail::RowDef> row_def_; // the last \trowd, shared with the rows read under it
    rtf_detail::CellDef cell_def_;                // the cell being defined, up to its \cellx
    bool row_defined_ = false;                    // \trowd read and its \row not yet
    int border_target_ = -1;                      // 0-3 the cell's sides, 4-9 the row's borders, -1 none
    int table_cells_left_ = kMaxTableCells;
    int grid_budget_ = kMaxTableCells;
    bool after_table_ = false; // the cursor stands in the empty block after a table

    // findings
    RtfReadResult result_;
    bool too_deep_ = false;
    bool extra_close_ = false;
    int missing_close_ = 0;
    bool cut_off_ = false;

    void parse();
    void control();
    void handle_word(std::string_view word, bool has_param, int param);
    void text_bytes();
    void pict_hex();
    void binary(int length);
    void skip_group();
    void push_group();
    void pop_group();

    int current_codepage();
    int codepage_cache_ = 0; // 0 = to be computed
    int font_codepage(int id);
    int compute_codepage();
    Font *font(int id);
    void put_byte(uchar b, bool raw = false);
    bool utf8_text_ = false; // {\urtf: raw text bytes are UTF-8 whatever the font
    void put_char(char32_t c);
    void put_text(QStringView s);
    void flush_bytes();
    QString decode(const QByteArray &b, int codepage);
    void flush_run();
    void change_char(); // before a character property changes
    const QTextCharFormat &char_format();
    QTextBlockFormat block_format() const;
    void materialize_paragraph();
    void apply_block_format();
    void end_paragraph();
    void finish_font();
    void finish_colour();
    void finish_picture(bool show);
    void finish_field(int index);
    void start_result();

    bool table_wanted() const { return table_cells_left_ > 0 && (cur_.intbl || row_defined_); }
    void sync_table();
    void open_table();
    void close_table();
    void end_cell();
    void end_row();
    rtf_detail::CellBlock &cell_block();
    rtf_detail::RowDef &row_def();
    rtf_detail::Border *border_target();
    QColor colour_at(int index) const;
    void table_word(Kw kw, std::string_view word, bool has_param, int param);
    bool char_word(Kw kw, bool has_param, int param);
};

RtfReadResult Reader::run(const QByteArray &input)
{
    qsizetype n = input.size();
    while (n > 0 && input.at(n - 1) == '\0')
        --n;
    p_ = reinterpret_cast<const uchar *>(input.constData());
    end_ = p_ + n;
    while (p_ < end_ && *p_ != '{')
        ++p_;
    parse();

    // Whatever is left open is closed, so that pictures and links read so far are kept.
    flush_run();
    if (overflow_ > 0 || !stack_.empty()) {
        missing_close_ += overflow_ + int(stack_.size());
        overflow_ = 0;
        while (!stack_.empty())
            pop_group();
    }
    flush_run();
    close_table();
    if (!par_pending_ && !after_table_)
        apply_block_format();

    if (missing_close_ > 0)
        result_.warnings
            << QStringLiteral("RTF 内容不完整（缺少 %1 个右括号），已显示能读出的部分。").arg(missing_close_);
    if (extra_close_)
        result_.warnings << QStringLiteral("RTF 中有多余的右括号，其后的内容仍已读出。");
    if (too_deep_)
        result_.warnings << QStringLiteral("RTF 的分组嵌套过深，过深的部分按同一层读取。");
    if (cut_off_)
        result_.warnings << QStringLiteral("RTF 中有被截断的数据。");
    if (result_.placeholders > 0)
        result_.warnings << QStringLiteral("有 %1 张图片无法显示，已用占位图代替。").arg(result_.placeholders);
    return result_;
}

void Reader::parse()
{
    while (p_ < end_) {
        const uchar c = *p_;
        if (c == '{') {
            ++p_;
            push_group();
        } else if (c == '}') {
            ++p_;
            if (!started_ || (stack_.empty() && overflow_ == 0)) {
                extra_close_ = true;
                continue;
            }
            pop_group();
            if (stack_.empty() && overflow_ == 0) {
                // The outer group is closed. Anything but white space after it is still read.
                const uchar *q = p_;
                while (q < end_ && (*q == ' ' || *q == '\r' || *q == '\n' || *q == '\t' || *q == 0 || *q == '}'))
                    ++q;
                if (q == end_)
                    return;
                extra_close_ = true;
            }
        } else if (c == '\\') {
            control();
        } else if (c == '\r' || c == '\n' || c == 0) {
            ++p_;
        } else if (cur_.dest == Dest::Pict) {
            pict_hex();
        } else {
            text_bytes();
        }
    }
}

void Reader::push_group()
{
    codepage_cache_ = 0;
    started_ = true;
    skip_units_ = 0;
    flush_run();
    if (int(stack_.size()) >= kMaxDepth) {
        ++overflow_;
        too_deep_ = true;
        return;
    }
    stack_.push_back(cur_);
}

void Reader::pop_group()
{
    codepage_cache_ = 0;
    skip_units_ = 0;
    star_ = false;
    flush_run();
    if (overflow_ > 0) {
        --overflow_;
        return;
    }
    if (stack_.empty())
        return;
    const Group closing = cur_;
    cur_ = stack_.back();
    stack_.pop_back();
    if (closing.dest == Dest::FontTable && font_defining_ >= 0 && cur_.dest != Dest::FontTable)
        font_defining_ = -1;
    if (closing.dest == Dest::Pict && cur_.dest != Dest::Pict)
        finish_picture(cur_.dest == Dest::Body);
    if (closing.field >= 0 && closing.field != cur_.field)
        finish_field(closing.field);
}

void Reader::skip_group()
{
    // Skips to the end of the current group without looking at its content.
    int depth = 1;
    while (p_ < end_) {
        const uchar c = *p_++;
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) {
                pop_group();
                return;
            }
        } else if (c == '\\' && p_ < end_) {
            if (*p_ == 'b' && end_ - p_ > 3 && p_[1] == 'i' && p_[2] == 'n' && !is_letter(p_[3])) {
                p_ += 3;
                bool negative = false;
                if (p_ < end_ && *p_ == '-') {
                    negative = true;
                    ++p_;
                }
                long long v = 0;
                while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
                    v = std::min(v * 10 + (*p_ - '0'), kMaxParam);
                    ++p_;
                }
                if (p_ < end_ && *p_ == ' ')
                    ++p_;
                if (!negative)
                    p_ += std::min<long long>(v, end_ - p_);
            } else {
                ++p_; // escaped character: \\ \{ \} or the first letter of a word
            }
        }
    }
    // The input ended inside the skipped group: the end of parsing closes the rest.
    pop_group();
    ++missing_close_;
}

void Reader::control()
{
    ++p_; // backslash
    if (p_ >= end_)
        return;
    const uchar c = *p_;
    if (is_letter(c)) {
        char word[33];
        int length = 0;
        while (p_ < end_ && is_letter(*p_)) {
            if (length < 32)
                word[length++] = char(*p_);
            ++p_;
        }
        bool has_param = false;
        bool negative = false;
        long long value = 0;
        if (p_ < end_ && *p_ == '-' && end_ - p_ > 1 && p_[1] >= '0' && p_[1] <= '9') {
            negative = true;
            ++p_;
        }
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            has_param = true;
            value = std::min(value * 10 + (*p_ - '0'), kMaxParam);
            ++p_;
        }
        if (p_ < end_ && *p_ == ' ')
            ++p_;
        const int param = int(negative ? -value : value);
        const std::string_view w(word, size_t(length));
        if (w == "bin" && has_param) {
            binary(param);
            return;
        }
        if (skip_units_ > 0) {
            --skip_units_;
            return;
        }
        handle_word(w, has_param, param);
        return;
    }
    ++p_;
    if (c == '\'') {
        int v = -1;
        if (end_ - p_ >= 2) {
            const int hi = hex_digit_value(p_[0]);
            const int lo = hex_digit_value(p_[1]);
            if (hi >= 0 && lo >= 0) {
                v = hi * 16 + lo;
                p_ += 2;
            }
        }
        if (v < 0) {
            cut_off_ = true;
            return;
        }
        if (skip_units_ > 0) {
            --skip_units_;
            return;
        }
        star_ = false;
        put_byte(uchar(v));
        return;
    }
    if (c == '*') {
        star_ = true;
        return;
    }
    if (skip_units_ > 0) {
        --skip_units_;
        return;
    }
    star_ = false;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        put_byte(c);
        break;
    case '~':
        put_char(0x00A0);
        break;
    case '_':
        put_char(0x2011);
        break;
    case '-':
        put_char(0x00AD);
        break; // optional hyphen
    case '\r':
    case '\n':
        handle_word("par", false, 0);
        break;
    case '\t':
        put_char('\t');
        break;
    default:
        break; // \| \: and unknown symbols
    }
}

void Reader::binary(int length)
{
    const qsizetype available = end_ - p_;
    if (length < 0)
        length = 0;
    if (length > available) {
        cut_off_ = true;
        length = int(available);
    }
    if (skip_units_ > 0) {
        --skip_units_;
    } else if (cur_.dest == Dest::Pict) {
        pict_.bytes.append(reinterpret_cast<const char *>(p_), length);
    }
    p_ += length;
}

void Reader::text_bytes()
{
    // Plain text bytes up to the next brace, backslash or line end.
    const Dest dest = cur_.dest;
    while (p_ < end_) {
        const uchar c = *p_;
        if (c == '\\' || c == '{' || c == '}' || c == '\r' || c == '\n' || c == 0)
            return;
        ++p_;
        if (skip_units_ > 0) {
            --skip_units_;
            continue;
        }
        if (c < 0x20 && c != '\t')
            continue;
        if (dest == Dest::FontTable && c == ';') {
            finish_font();
            continue;
        }
        if (dest == Dest::ColorTable) {
            if (c == ';')
                finish_colour();
            continue;
        }
        put_byte(c, true);
    }
}

void Reader::pict_hex()
{
    while (p_ < end_) {
        const uchar c = *p_;
        if (c == '\\' || c == '{' || c == '}')
            return;
        ++p_;
        const int v = hex_digit_value(c);
        if (v < 0)
            continue;
        if (pict_nibble_ < 0) {
            pict_nibble_ = v;
        } else {
            pict_.bytes.append(char(pict_nibble_ * 16 + v));
            pict_nibble_ = -1;
        }
    }
}

Font *Reader::font(int id)
{
    const auto it = font_index_.constFind(id);
    return it == font_index_.constEnd() ? nullptr : &fonts_[size_t(*it)];
}

int Reader::font_codepage(int id)
{
    const Font *f = font(id);
    if (f) {
        if (f->codepage > 0)
            return f->codepage;
        const int cp = charset_codepage(f->charset);
        if (cp > 0)
            return cp;
    }
    return ansi_codepage_;
}

int Reader::current_codepage()
{
    if (codepage_cache_ == 0)
        codepage_cache_ = compute_codepage();
    return codepage_cache_;
}

int Reader::compute_codepage()
{
    if (cur_.dest == Dest::FontTable) {
        if (font_defining_ < 0)
            return ansi_codepage_;
        const Font &f = fonts_[size_t(font_defining_)];
        if (f.codepage > 0)
            return f.codepage;
        const int cp = charset_codepage(f.charset);
        return cp > 0 ? cp : ansi_codepage_;
    }
    return font_codepage(cur_.chr.font >= 0 ? cur_.chr.font : default_font_);
}

void Reader::put_byte(uchar b, bool raw)
{
    const int cp = (raw && utf8_text_ && cur_.dest != Dest::FontTable) ? 65001 : current_codepage();
    if (!bytes_.isEmpty() && cp != bytes_codepage_ && !lead_pending_)
        flush_bytes();
    if (bytes_.isEmpty())
        bytes_codepage_ = cp;
    bytes_.append(char(b));
    if (is_double_byte(bytes_codepage_))
        lead_pending_ = !lead_pending_ && is_lead_byte(bytes_codepage_, b);
}

QString Reader::decode(const QByteArray &b, int codepage)
{
    if (codepage == 936)
        return ansi_to_unicode(b);
    if (codepage == 65001)
        return QString::fromUtf8(b);
    auto it = decoders_.find(codepage);
    if (it == decoders_.end()) {
        std::unique_ptr<QStringDecoder> decoder;
        QByteArrayList names;
        switch (codepage) {
        case 932:
            names = {"windows-932", "Shift_JIS"};
            break;
        case 949:
            names = {"windows-949", "EUC-KR"};
            break;
        case 950:
            names = {"windows-950", "Big5"};
            break;
        case 10000:
            names = {"macintosh", "x-mac-roman"};
            break;
        case 437:
            names = {"IBM437", "cp437"};
            break;
        case 850:
            names = {"IBM850", "cp850"};
            break;
        case 1361:
            names = {"johab", "ibm-1363"};
            break;
        default:
            names = {"windows-" + QByteArray::number(codepage), "cp" + QByteArray::number(codepage)};
            break;
        }
        for (const QByteArray &name : names) {
            auto d = std::make_unique<QStringDecoder>(name.constData(), QStringConverter::Flag::Stateless);
            if (d->isValid()) {
                decoder = std::move(d);
                break;
            }
        }
        it = decoders_.emplace(codepage, std::move(decoder)).first;
    }
    if (!it->second) {
        // An unknown code page: read the bytes as the Western one rather than lose them.
        return codepage != 1252 ? decode(b, 1252) : QString::fromLatin1(b);
    }
    QString s = it->second->decode(b);
    it->second->resetState();
    return s;
}

void Reader::flush_bytes()
{
    if (bytes_.isEmpty())
        return;
    const QString s = decode(bytes_, bytes_codepage_);
    bytes_.clear();
    lead_pending_ = false;
    put_text(QStringView(s));
}

void Reader::put_char(char32_t c)
{
    flush_bytes();
    const QChar ch(char16_t(c & 0xFFFF));
    put_text(QStringView(&ch, 1));
}

void Reader::put_text(QStringView s)
{
    switch (cur_.dest) {
    case Dest::Body:
        body_ += s;
        break;
    case Dest::FontTable:
        if (font_defining_ >= 0)
            fonts_[size_t(font_defining_)].name += s;
        break;
    case Dest::FieldInst:
        if (cur_.field >= 0)
            fields_[size_t(cur_.field)].instruction += s;
        break;
    default:
        break;
    }
}

const QTextCharFormat &Reader::char_format()
{
    if (cached_valid_ && cached_state_ == cur_.chr)
        return cached_format_;
    CharState s = cur_.chr;
    if (s.dbch) {
        // Double-byte text takes the associated font, size and styles where they are given.
        if (s.afont >= 0 && font(s.afont))
            s.font = s.afont;
        if (s.asize > 0)
            s.size = s.asize;
        s.bold = s.bold || s.abold;
        s.italic = s.italic || s.aitalic;
    }
    QTextCharFormat f;
    if (s.bold)
        f.setFontWeight(QFont::Bold);
    if (s.italic)
        f.setFontItalic(true);
    if (s.underline)
        f.setFontUnderline(true);
    if (s.strike)
        f.setFontStrikeOut(true);
    if (Font *ft = font(s.font >= 0 ? s.font : default_font_)) {
        if (!ft->resolved) {
            ft->name = ft->name.trimmed();
            if (!ft->name.isEmpty())
                ft->families = font_families_for(ft->name);
            ft->resolved = true;
        }
        if (!ft->families.isEmpty())
            f.setFontFamilies(ft->families);
    }
    if (s.size > 0)
        f.setFontPointSize(s.size / 2.0);
    if (s.fg >= 0 && size_t(s.fg) < colours_.size() && colours_[size_t(s.fg)].isValid())
        f.setForeground(colours_[size_t(s.fg)]);
    if (s.bg > 0 && size_t(s.bg) < colours_.size() && colours_[size_t(s.bg)].isValid())
        f.setBackground(colours_[size_t(s.bg)]);
    if (s.vertical > 0)
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (s.vertical < 0)
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    if (s.link >= 0 && s.link < links_.size()) {
        f.setAnchor(true);
        f.setAnchorHref(links_.at(s.link));
    }
    cached_state_ = cur_.chr;
    cached_format_ = f;
    cached_valid_ = true;
    return cached_format_;
}

QTextBlockFormat Reader::block_format() const
{
    const ParaState &p = cur_.para;
    QTextBlockFormat f;
    switch (p.align) {
    case 1:
        f.setAlignment(Qt::AlignHCenter);
        break;
    case 2:
        f.setAlignment(Qt::AlignRight);
        break;
    case 3:
        f.setAlignment(Qt::AlignJustify);
        break;
    default:
        break;
    }
    if (p.left)
        f.setLeftMargin(p.left / 15.0);
    if (p.right)
        f.setRightMargin(p.right / 15.0);
    if (p.first)
        f.setTextIndent(p.first / 15.0);
    if (p.before)
        f.setTopMargin(p.before / 15.0);
    if (p.after)
        f.setBottomMargin(p.after / 15.0);
    if (p.line > 0 && p.line_multiple)
        f.setLineHeight(p.line * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
    else if (p.line < 0)
        f.setLineHeight(-p.line / 15.0, QTextBlockFormat::FixedHeight);
    else if (p.line > 0)
        f.setLineHeight(p.line / 15.0, QTextBlockFormat::MinimumHeight);
    if (p.rtl)
        f.setLayoutDirection(Qt::RightToLeft);
    return f;
}

void Reader::materialize_paragraph()
{
    if (!par_pending_)
        return;
    par_pending_ = false;
    if (table_) {
        table_->cell.push_back({block_format(), char_format(), {}});
        return;
    }
    out_.insertBlock(block_format(), char_format());
    first_block_ = false;
    after_table_ = false;
}

void Reader::apply_block_format()
{
    if (table_) {
        cell_block().format = block_format();
        return;
    }
    if (fragment_ && first_block_)
        return;
    out_.setBlockFormat(block_format());
    after_table_ = false;
}

void Reader::flush_run()
{
    flush_bytes();
    if (body_.isEmpty())
        return;
    // Unpaired surrogates from broken \u pairs become replacement characters; control
    // characters and object marks (which only pictures may carry) are dropped.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < body_.size(); ++i) {
        QChar ch = body_.at(i);
        if (ch.isHighSurrogate() && i + 1 < body_.size() && body_.at(i + 1).isLowSurrogate()) {
            body_[kept++] = ch;
            body_[kept++] = body_.at(++i);
            continue;
        }
        if (ch.isSurrogate())
            ch = QChar(QChar::ReplacementCharacter);
        else if ((ch.unicode() < 0x20 && ch != QLatin1Char('\t')) || ch == QChar::ObjectReplacementCharacter)
            continue;
        body_[kept++] = ch;
    }
    body_.truncate(kept);
    if (body_.isEmpty())
        return;
    sync_table();
    materialize_paragraph();
    if (table_) {
        std::vector<rtf_detail::CellRun> &runs = cell_block().runs;
        const QTextCharFormat &format = char_format();
        if (!runs.empty() && !runs.back().image && runs.back().format == format)
            runs.back().text += body_;
        else
            runs.push_back({body_, format, false});
    } else {
        out_.insertText(body_, char_format());
        after_table_ = false;
    }
    if (cur_.field >= 0)
        fields_[size_t(cur_.field)].has_result = true;
    body_.clear();
}

void Reader::change_char()
{
    flush_run();
}

void Reader::end_paragraph()
{
    flush_run();
    sync_table();
    materialize_paragraph();
    apply_block_format();
    par_pending_ = true;
}

void Reader::finish_font()
{
    flush_bytes();
    font_defining_ = -1;
}

void Reader::finish_colour()
{
    if (red_ < 0 && green_ < 0 && blue_ < 0)
        colours_.emplace_back();
    else
        colours_.emplace_back(std::clamp(red_, 0, 255), std::clamp(green_, 0, 255), std::clamp(blue_, 0, 255));
    red_ = green_ = blue_ = -1;
    cached_valid_ = false;
}

void Reader::finish_picture(bool show)
{
    PictureData picture = std::move(pict_);
    pict_ = PictureData();
    pict_nibble_ = -1;
    if (!show)
        return;
    if (picture.bytes.isEmpty() && picture.kind.isEmpty())
        return;
    // Keep the first and last bytes honest: a PNG or JPEG cut short is shown as a placeholder and
    // saved as one, since other programs refuse a whole body that holds a broken picture.
    auto stored = rtf_detail::store_picture(*out_.document(), std::move(picture));
    sync_table();
    materialize_paragraph();
    if (table_) {
        cell_block().runs.push_back({QString(QChar::ObjectReplacementCharacter), stored.format, true});
    } else {
        out_.insertImage(stored.format);
        after_table_ = false;
    }
    ++result_.pictures;
    if (stored.placeholder)
        ++result_.placeholders;
}

void Reader::start_result()
{
    if (cur_.field < 0)
        return;
    Field &field = fields_[size_t(cur_.field)];
    // HYPERLINK "url" [\l "anchor"] [\o "tip"]: the first argument is the address.
    const QString inst = field.instruction.trimmed();
    if (!inst.startsWith(QLatin1String("HYPERLINK"), Qt::CaseInsensitive))
        return;
    QStringList args;
    QString current;
    bool in_quotes = false;
    bool any = false;
    const QString rest = inst.mid(9);
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QChar ch = rest.at(i);
        if (in_quotes) {
            if (ch == QLatin1Char('\\') && i + 1 < rest.size()) {
                current += rest.at(++i);
            } else if (ch == QLatin1Char('"')) {
                in_quotes = false;
            } else {
                current += ch;
            }
        } else if (ch == QLatin1Char('"')) {
            in_quotes = true;
            any = true;
        } else if (ch.isSpace()) {
            if (any)
                args << current;
            current.clear();
            any = false;
        } else {
            current += ch;
            any = true;
        }
    }
    if (any)
        args << current;
    QString href;
    QString anchor;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("\\l") && i + 1 < args.size()) {
            anchor = args.at(++i);
        } else if (a.startsWith(QLatin1Char('\\'))) {
            if (a == QLatin1String("\\o") || a == QLatin1String("\\t") || a == QLatin1String("\\m"))
                ++i;
        } else if (href.isEmpty()) {
            href = a;
        }
    }
    if (!anchor.isEmpty())
        href += QLatin1Char('#') + anchor;
    if (href.isEmpty())
        return;
    links_ << href;
    cur_.chr.link = int(links_.size() - 1);
}

void Reader::finish_field(int index)
{
    Field &field = fields_[size_t(index)];
    if (field.has_result || cur_.dest != Dest::Body)
        return;
    // A link without shown text: show its address rather than nothing.
    const Group saved = cur_;
    cur_.field = index;
    start_result();
    if (cur_.chr.link >= 0 && cur_.chr.link != saved.chr.link) {
        body_ = links_.at(cur_.chr.link);
        flush_run();
    }
    cur_ = saved;
}

void Reader::handle_word(std::string_view word, bool has_param, int param)
{
    codepage_cache_ = 0;
    const bool ignorable = std::exchange(star_, false);
    const auto &table = keywords();
    const auto it = table.find(word);
    if (it == table.end()) {
        if (ignorable) {
            cur_.dest = Dest::Skip;
            skip_group();
        }
        return;
    }
    const Kw kw = it->second;
    const bool on = !has_param || param != 0;
    Group &g = cur_;

    // Inside tables and ignored parts only a few words matter.
    switch (g.dest) {
    case Dest::FontTable:
        switch (kw) {
        case Kw::F:
            flush_bytes();
            if (!font_index_.contains(param)) {
                font_index_.insert(param, int(fonts_.size()));
                fonts_.emplace_back();
            }
            font_defining_ = font_index_.value(param);
            cached_valid_ = false;
            fonts_[size_t(font_defining_)].name.clear();
            fonts_[size_t(font_defining_)].resolved = false;
            return;
        case Kw::FCharset:
            if (font_defining_ >= 0)
                fonts_[size_t(font_defining_)].charset = param;
            return;
        case Kw::Cpg:
            if (font_defining_ >= 0 && param > 0)
                fonts_[size_t(font_defining_)].codepage = param;
            return;
        case Kw::U:
            put_char(char16_t(param < 0 ? param + 65536 : std::clamp(param, 0, 0xFFFF)));
            skip_units_ = g.uc;
            return;
        case Kw::Uc:
            g.uc = std::clamp(param, 0, 16);
            return;
        default:
            break;
        }
        if (kw != Kw::SkipDest)
            return;
        break;
    case Dest::ColorTable:
        switch (kw) {
        case Kw::Red:
            red_ = param;
            return;
        case Kw::Green:
            green_ = param;
            return;
        case Kw::Blue:
            blue_ = param;
            return;
        default:
            return;
        }
    case Dest::Pict:
        if (const char *kind = picture_kind(kw)) {
            pict_.kind = QString::fromLatin1(kind);
            if (kw == Kw::WMetafile)
                pict_.mode = has_param ? std::clamp(param, 0, 100) : 1;
            return;
        }
        switch (kw) {
        case Kw::PicW:
            pict_.picw = std::clamp(param, 0, 1000000);
            return;
        case Kw::PicH:
            pict_.pich = std::clamp(param, 0, 1000000);
            return;
        case Kw::PicWGoal:
            pict_.goal_w = std::clamp(param, 0, 1000000);
            return;
        case Kw::PicHGoal:
            pict_.goal_h = std::clamp(param, 0, 1000000);
            return;
        case Kw::PicScaleX:
            pict_.scale_x = std::clamp(param, 1, 1000);
            return;
        case Kw::PicScaleY:
            pict_.scale_y = std::clamp(param, 1, 1000);
            return;
        case Kw::SkipDest:
            break; // nested \*\picprop, \*\blipuid
        default:
            return;
        }
        break;
    case Dest::Upr:
        if (kw == Kw::Ud)
            g.dest = g.upr_outer;
        return;
    case Dest::Ignore:
    case Dest::Skip:
        return;
    default:
        break;
    }

    if (is_table_word(kw)) {
        if (g.dest == Dest::Body)
            table_word(kw, word, has_param, param);
        return;
    }
    if (char_word(kw, has_param, param))
        return;

    switch (kw) {
    // destinations
    case Kw::FontTbl:
        flush_run();
        g.dest = Dest::FontTable;
        return;
    case Kw::ColorTbl:
        flush_run();
        g.dest = Dest::ColorTable;
        colours_.clear();
        red_ = green_ = blue_ = -1;
        cached_valid_ = false;
        return;
    case Kw::Pict:
        flush_run();
        g.dest = Dest::Pict;
        pict_ = PictureData();
        pict_nibble_ = -1;
        return;
    case Kw::Field:
        flush_run();
        fields_.emplace_back();
        g.field = int(fields_.size() - 1);
        return;
    case Kw::FldInst:
        flush_run();
        g.dest = g.field >= 0 ? Dest::FieldInst : Dest::Ignore;
        return;
    case Kw::FldRslt:
        flush_run();
        start_result();
        return;
    case Kw::ShpPict:
    case Kw::Result:
        return;
    case Kw::Ud:
        return; // \ud outside \upr: its content is the text
    case Kw::Upr:
        flush_run();
        g.upr_outer = g.dest;
        g.dest = Dest::Upr;
        return;
    case Kw::NonShpPict:
    case Kw::SkipDest:
        flush_run();
        g.dest = Dest::Skip;
        skip_group();
        return;

    // header
    case Kw::Rtf:
        return;
    case Kw::Urtf:
        ansi_codepage_ = 65001;
        utf8_text_ = true;
        return;
    case Kw::Ansi:
        ansi_codepage_ = 1252;
        return;
    case Kw::Mac:
        ansi_codepage_ = 10000;
        return;
    case Kw::Pc:
        ansi_codepage_ = 437;
        return;
    case Kw::Pca:
        ansi_codepage_ = 850;
        return;
    case Kw::AnsiCpg:
        flush_bytes();
        if (param > 0)
            ansi_codepage_ = param;
        return;
    case Kw::Deff:
        default_font_ = param;
        return;
    case Kw::Uc:
        g.uc = std::clamp(param, 0, 16);
        return;
    case Kw::U: {
        const int v = param < 0 ? param + 65536 : param;
        skip_units_ = 0;
        if (v == '\t')
            put_char('\t');
        else if (v >= 0x20 && v <= 0xFFFF)
            put_char(char16_t(v));
        skip_units_ = g.uc;
        return;
    }
    case Kw::Bin:
        return;

    case Kw::FCharset:
    case Kw::Cpg:
    case Kw::Red:
    case Kw::Green:
    case Kw::Blue:
        return;

    // paragraph
    case Kw::Pard:
        g.para = ParaState();
        g.intbl = false;
        border_target_ = -1;
        return;
    case Kw::Ql:
        g.para.align = 0;
        return;
    case Kw::Qc:
        g.para.align = 1;
        return;
    case Kw::Qr:
        g.para.align = 2;
        return;
    case Kw::Qj:
        g.para.align = 3;
        return;
    case Kw::Li:
        g.para.left = std::clamp(param, -31680, 31680);
        return;
    case Kw::Ri:
        g.para.right = std::clamp(param, -31680, 31680);
        return;
    case Kw::Fi:
        g.para.first = std::clamp(param, -31680, 31680);
        return;
    case Kw::Sb:
        g.para.before = std::clamp(param, 0, 31680);
        return;
    case Kw::Sa:
        g.para.after = std::clamp(param, 0, 31680);
        return;
    case Kw::Sl:
        g.para.line = std::clamp(param, -31680, 31680);
        return;
    case Kw::SlMult:
        g.para.line_multiple = on;
        return;
    case Kw::LtrPar:
        g.para.rtl = false;
        return;
    case Kw::RtlPar:
        g.para.rtl = true;
        return;

    // specials
    case Kw::Par:
        if (g.dest == Dest::Body)
            end_paragraph();
        return;
    case Kw::Row:
        if (g.dest != Dest::Body)
            return;
        if (table_ || table_wanted())
            end_row();
        else
            end_paragraph(); // a row end outside any table: a paragraph end
        return;
    case Kw::Cell:
        if (g.dest == Dest::Body && table_wanted())
            end_cell();
        else
            put_char('\t'); // a cell end outside any table: its text stays, after a tab
        return;
    // Tables inside table cells are read as text of the outer cell: a nested row is a paragraph.
    case Kw::NestRow:
        if (g.dest == Dest::Body)
            end_paragraph();
        return;
    case Kw::NestCell:
    case Kw::Tab:
        put_char('\t');
        return;
    default:
        if (const char16_t c = special_character(kw))
            put_char(c);
        return; // other words: picture words outside \pict
    }
}

// A character formatting word sets one property of the group's character state; the text read so
// far keeps the properties it was read with. Returns false for other words.
bool Reader::char_word(Kw kw, bool has_param, int param)
{
    const bool on = !has_param || param != 0;
    const int size = has_param ? std::clamp(param, 2, 3276) : 0;
    CharState c = cur_.chr;
    switch (kw) {
    case Kw::Plain: {
        CharState plain;
        plain.link = c.link;
        c = plain;
        break;
    }
    case Kw::F:
        c.font = param;
        break;
    case Kw::Af:
        c.afont = param;
        break;
    case Kw::Fs:
        c.size = size;
        break;
    case Kw::Afs:
        c.asize = size;
        break;
    case Kw::Loch:
    case Kw::Hich:
    case Kw::Dbch:
        c.dbch = kw == Kw::Dbch;
        break;
    case Kw::B:
        c.bold = on;
        break;
    case Kw::I:
        c.italic = on;
        break;
    case Kw::Ab:
        c.abold = on;
        break;
    case Kw::Ai:
        c.aitalic = on;
        break;
    case Kw::Ul:
    case Kw::UlStyle:
        c.underline = on;
        break;
    case Kw::UlNone:
        c.underline = false;
        break;
    case Kw::Strike:
    case Kw::StrikeD:
        c.strike = on;
        break;
    case Kw::Cf:
        c.fg = std::max(param, 0);
        break;
    case Kw::Highlight:
    case Kw::Cb:
        c.bg = std::max(param, 0);
        break;
    case Kw::Super:
        c.vertical = 1;
        break;
    case Kw::Sub:
        c.vertical = -1;
        break;
    case Kw::NoSuperSub:
        c.vertical = 0;
        break;
    case Kw::Up: // \up0 ends the raise
        c.vertical = on ? 1 : 0;
        break;
    case Kw::Dn:
        c.vertical = on ? -1 : 0;
        break;
    default:
        return false;
    }
    change_char();
    cur_.chr = c;
    return true;
}

void Reader::table_word(Kw kw, std::string_view word, bool has_param, int param)
{
    Group &g = cur_;
    switch (kw) {
    case Kw::Trowd:
        row_def_ = std::make_shared<rtf_detail::RowDef>();
        cell_def_ = rtf_detail::CellDef();
        row_defined_ = true;
        border_target_ = -1;
        return;
    case Kw::Cellx: {
        cell_def_.right = std::clamp(param, -kMaxEdge, kMaxEdge);
        cell_def_.has_right = true;
        rtf_detail::RowDef &def = row_def();
        if (def.cells.size() < size_t(kMaxCellDefs))
            def.cells.push_back(cell_def_);
        cell_def_ = rtf_detail::CellDef();
        border_target_ = -1;
        return;
    }
    case Kw::Intbl:
        g.intbl = true;
        return;
    case Kw::Itap:
        g.intbl = !has_param || param > 0;
        return;
    case Kw::TrGaph:
        row_def().gap = std::clamp(param, 0, 31680);
        return;
    case Kw::TrLeft:
        row_def().left = std::clamp(param, -kMaxEdge, kMaxEdge);
        return;
    case Kw::TrQl:
        row_def().align = 0;
        return;
    case Kw::TrQc:
        row_def().align = 1;
        return;
    case Kw::TrQr:
        row_def().align = 2;
        return;
    case Kw::ClBrdrT:
    case Kw::ClBrdrL:
    case Kw::ClBrdrB:
    case Kw::ClBrdrR:
        border_target_ = int(kw) - int(Kw::ClBrdrT);
        *border_target() = rtf_detail::Border();
        return;
    case Kw::TrBrdrT:
    case Kw::TrBrdrL:
    case Kw::TrBrdrB:
    case Kw::TrBrdrR:
    case Kw::TrBrdrH:
    case Kw::TrBrdrV:
        border_target_ = 4 + int(kw) - int(Kw::TrBrdrT);
        *border_target() = rtf_detail::Border();
        return;
    case Kw::ParaBrdr:
        border_target_ = -1;
        return; // paragraph borders are not kept
    case Kw::BrdrStyle:
        if (rtf_detail::Border *b = border_target()) {
            bool none = false;
            QTextFrameFormat::BorderStyle style = QTextFrameFormat::BorderStyle_Solid;
            if (rtf_detail::border_style_of_word(word, &style, &none)) {
                b->present = !none;
                b->style = style;
            }
        }
        return;
    case Kw::BrdrW:
        if (rtf_detail::Border *b = border_target())
            b->width = std::clamp(param, 1, 255);
        return;
    case Kw::BrdrCf:
        if (rtf_detail::Border *b = border_target())
            b->colour = colour_at(param);
        return;
    case Kw::ClCbPat:
        cell_def_.background = colour_at(param);
        return;
    case Kw::ClVertAlT:
        cell_def_.valign = 0;
        return;
    case Kw::ClVertAlC:
        cell_def_.valign = 1;
        return;
    case Kw::ClVertAlB:
        cell_def_.valign = 2;
        return;
    case Kw::ClMgf:
        cell_def_.hmerge = 1;
        return;
    case Kw::ClMrg:
        cell_def_.hmerge = 2;
        return;
    case Kw::ClVmgf:
        cell_def_.vmerge = 1;
        return;
    case Kw::ClVmrg:
        cell_def_.vmerge = 2;
        return;
    default:
        return;
    }
}

rtf_detail::RowDef &Reader::row_def()
{
    // Rows already read keep the definition they were read under.
    if (!row_def_)
        row_def_ = std::make_shared<rtf_detail::RowDef>();
    else if (row_def_.use_count() > 1)
        row_def_ = std::make_shared<rtf_detail::RowDef>(*row_def_);
    return *row_def_;
}

rtf_detail::Border *Reader::border_target()
{
    if (border_target_ < 0)
        return nullptr;
    if (border_target_ < 4)
        return &cell_def_.border[border_target_];
    return &row_def().border[border_target_ - 4];
}

QColor Reader::colour_at(int index) const
{
    return index > 0 && size_t(index) < colours_.size() ? colours_[size_t(index)] : QColor();
}

rtf_detail::CellBlock &Reader::cell_block()
{
    rtf_detail::CellContent &cell = table_->cell;
    if (cell.empty())
        cell.push_back({block_format(), char_format(), {}});
    return cell.back();
}

// Content goes into the open table while the paragraph is a cell's (\intbl) or a row is being
// read; anything else first ends the table.
void Reader::sync_table()
{
    if (table_wanted()) {
        if (!table_)
            open_table();
    } else if (table_) {
        close_table();
    }
}

void Reader::open_table()
{
    table_ = std::make_unique<OpenTable>();
    // The table begins a paragraph of its own: a paragraph end read before it is used up.
    par_pending_ = false;
}

void Reader::close_table()
{
    if (!table_)
        return;
    std::unique_ptr<OpenTable> table = std::move(table_);
    // A row that was not ended with \row keeps its cells.
    if (!table->cell.empty())
        table->cells.push_back(std::move(table->cell));
    if (!table->cells.empty())
        table->rows.push_back({std::move(table->cells), row_def_});
    rtf_detail::insert_table(out_, table->rows, grid_budget_);
    first_block_ = false;
    par_pending_ = false;
    row_defined_ = false;
    after_table_ = true;
}

void Reader::end_cell()
{
    flush_run();
    if (!table_)
        open_table();
    materialize_paragraph(); // a \par just before \cell leaves an empty paragraph in the cell
    apply_block_format();
    par_pending_ = false;
    std::vector<rtf_detail::CellContent> &cells = table_->cells;
    cells.push_back(std::move(table_->cell));
    table_->cell.clear();
    if (cells.size() > size_t(rtf_detail::kMaxColumns)) {
        rtf_detail::CellContent extra = std::move(cells.back());
        cells.pop_back();
        rtf_detail::append_content(cells.back(), std::move(extra), true);
    }
    if (--table_cells_left_ <= 0)
        close_table();
}

void Reader::end_row()
{
    flush_run();
    if (table_) {
        // Text after the last \cell of the row is a cell of its own.
        if (!table_->cell.empty()) {
            par_pending_ = false;
            apply_block_format();
            table_->cells.push_back(std::move(table_->cell));
            table_->cell.clear();
        }
        if (!table_->cells.empty())
            table_->rows.push_back({std::move(table_->cells), row_def_});
        table_->cells.clear();
    }
    row_defined_ = false;
    par_pending_ = false;
}

// Input that is not RTF is shown as text rather than lost.
void read_as_plain_text(const QByteArray &input, QTextCursor &cursor)
{
    QString text;
    if (input.startsWith("\xFF\xFE")) {
        text = QStringDecoder(QStringConverter::Utf16LE).decode(input.mid(2));
    } else if (input.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(input.mid(3));
    } else {
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        text = utf8.decode(input);
        if (utf8.hasError())
            text = ansi_to_unicode(input);
    }
    while (text.endsWith(QChar(0)))
        text.chop(1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    qsizetype kept = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if ((ch.unicode() >= 0x20 || ch == QLatin1Char('\t') || ch == QLatin1Char('\n')) &&
            ch != QChar::ObjectReplacementCharacter)
            text[kept++] = ch;
    }
    text.truncate(kept);
    cursor.insertText(text);
}

bool looks_like_rtf(const QByteArray &input)
{
    qsizetype i = 0;
    while (i < input.size() &&
           (input.at(i) == ' ' || input.at(i) == '\r' || input.at(i) == '\n' || input.at(i) == '\t'))
        ++i;
    const QByteArrayView rest = QByteArrayView(input).sliced(i);
    return rest.startsWith("{\\rtf") || rest.startsWith("{\\urtf");
}

RtfReadResult read_into(QTextCursor &cursor, const QByteArray &input, bool fragment)
{
    if (!looks_like_rtf(input)) {
        RtfReadResult result;
        qsizetype n = input.size();
        while (n > 0 && input.at(n - 1) == '\0')
            --n;
        if (n == 0)
            return result;
        result.was_rtf = false;
        result.warnings << QStringLiteral("正文不是 RTF 格式，已按纯文本显示。");
        read_as_plain_text(input.left(n), cursor);
        return result;
    }
    Reader reader(cursor, fragment);
    return reader.run(input);
}

} // namespace

RtfReadResult read_rtf(const QByteArray &rtf, QTextDocument &doc)
{
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();
    QTextCursor cursor(&doc);
    // One edit block: the cursor does not lay out every line it passes.
    cursor.beginEditBlock();
    RtfReadResult result = read_into(cursor, rtf, false);
    cursor.endEditBlock();
    doc.setUndoRedoEnabled(undo);
    return result;
}

RtfReadResult insert_rtf(QTextCursor &cursor, const QByteArray &rtf_fragment)
{
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    RtfReadResult result = read_into(cursor, rtf_fragment, true);
    cursor.endEditBlock();
    return result;
}

} // namespace yunshan
