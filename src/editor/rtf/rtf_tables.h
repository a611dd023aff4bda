#pragma once
// Tables of rich-text bodies: the rows the reader collects, the QTextTable made from them, and the
// border words the reader and the writer share. Internal to the RTF reader and writer.
//
// RTF describes a table row by row: \trowd starts a row definition (\trgaph, \trleft, then for
// each cell its borders, merge flags and right edge \cellxN in twips), the cells' paragraphs end
// with \cell and the row with \row. Rows of one table need not have the same cells: the table's
// columns are the union of all cell edges, and a cell spans the columns between its edges.
#include <QColor>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextFrameFormat>

#include <memory>
#include <string_view>
#include <vector>

class QTextCursor;

namespace yunshan::rtf_detail {

// More columns than this are not made; cells beyond it are joined into the last one.
constexpr int kMaxColumns = 64;

enum Side { kTop, kLeft, kBottom, kRight };

struct Border {
    bool present = false;
    QTextFrameFormat::BorderStyle style = QTextFrameFormat::BorderStyle_Solid;
    int width = 15; // twips
    QColor colour;  // invalid = automatic (black)
};

struct CellDef {
    int right = 0; // \cellxN, twips from the margin
    bool has_right = false;
    Border border[4];
    QColor background; // \clcbpatN; invalid = none
    qint8 valign = 0;  // 0 top, 1 middle, 2 bottom
    quint8 hmerge = 0; // 1 \clmgf, 2 \clmrg (joins the cell on its left)
    quint8 vmerge = 0; // 1 \clvmgf, 2 \clvmrg (joins the cell above)
};

struct RowDef {
    int left = 0;     // \trleftN
    int gap = -1;     // \trgaphN, -1 = not given
    int align = 0;    // 0 left, 1 centre, 2 right
    Border border[6]; // \trbrdrt \trbrdrl \trbrdrb \trbrdrr \trbrdrh \trbrdrv
    std::vector<CellDef> cells;
};

struct CellRun {
    QString text;
    QTextCharFormat format;
    bool image = false; // one picture; `format` is its image format
};

struct CellBlock {
    QTextBlockFormat format;
    QTextCharFormat char_format;
    std::vector<CellRun> runs;
};

// A cell's paragraphs; empty until something was read into it.
using CellContent = std::vector<CellBlock>;

struct TableRow {
    std::vector<CellContent> cells;
    std::shared_ptr<const RowDef> def; // rows without their own definition share the last one
};

// Appends `from` to `to`: with `tab` its first paragraph continues the last one of `to` after a
// tab, otherwise its paragraphs follow those of `to`. Nothing happens when `from` holds no text.
void append_content(CellContent &to, CellContent &&from, bool tab);

// Inserts the rows at the cursor as one table and leaves the cursor in the empty block after it.
// At most `grid_budget` cells are made (the budget is lowered by what was used); rows beyond it
// become paragraphs after the table, their cells separated by tabs, so no text is lost.
void insert_table(QTextCursor &cursor, std::vector<TableRow> &rows, int &grid_budget);

// The style an RTF border word names (\brdrs, \brdrdb, \brdrdot, ...): false for other words;
// `none` is set for \brdrnone, \brdrnil and \brdrtbl.
bool border_style_of_word(std::string_view word, QTextFrameFormat::BorderStyle *style, bool *none);
// The word for a style, without the backslash ("brdrs", ...); nullptr for BorderStyle_None.
const char *border_word(QTextFrameFormat::BorderStyle style);

} // namespace yunshan::rtf_detail
