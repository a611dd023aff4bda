#include "editor/rtf/rtf_tables.h"

#include <QTextCursor>
#include <QTextTable>

#include <algorithm>
#include <utility>

namespace yunshan::rtf_detail {

namespace {

constexpr int kSnap = 20;           // cell edges this close (twips) are one column edge
constexpr int kDefaultWidth = 1440; // a cell without \cellx: one inch
constexpr int kMinWidth = 15;

struct Cell {
    int row = 0;
    int col = 0;
    int rows = 1;
    int cols = 1;
    CellDef def;
    CellContent content;
    bool alive = true;
};

bool has_text(const CellContent &content)
{
    for (const CellBlock &b : content)
        if (!b.runs.empty())
            return true;
    return false;
}

QTextCharFormat text_format_before(const CellBlock &block)
{
    for (auto it = block.runs.rbegin(); it != block.runs.rend(); ++it)
        if (!it->image)
            return it->format;
    return {};
}

void insert_run(QTextCursor &cursor, const CellRun &run)
{
    if (run.image)
        cursor.insertImage(run.format.toImageFormat());
    else
        cursor.insertText(run.text, run.format);
}

// The cell's paragraphs into the empty cell the cursor stands in.
void fill(QTextCursor &cursor, const CellContent &content)
{
    bool first = true;
    for (const CellBlock &b : content) {
        // The first block's character format is the cell's own format: it stays as it is.
        if (first)
            cursor.setBlockFormat(b.format);
        else
            cursor.insertBlock(b.format, b.char_format);
        first = false;
        for (const CellRun &run : b.runs)
            insert_run(cursor, run);
    }
}

QTextTableCellFormat cell_format(const CellDef &def)
{
    QTextTableCellFormat f;
    // \trgaph is the space left and right of a cell's text, the table's padding; none above and below.
    f.setTopPadding(0);
    f.setBottomPadding(0);
    for (int side = 0; side < 4; ++side) {
        const Border &b = def.border[side];
        if (!b.present)
            continue;
        const qreal width = b.width / 15.0;
        const QBrush brush(b.colour.isValid() ? b.colour : QColor(Qt::black));
        switch (side) {
        case kTop:
            f.setTopBorder(width);
            f.setTopBorderStyle(b.style);
            f.setTopBorderBrush(brush);
            break;
        case kLeft:
            f.setLeftBorder(width);
            f.setLeftBorderStyle(b.style);
            f.setLeftBorderBrush(brush);
            break;
        case kBottom:
            f.setBottomBorder(width);
            f.setBottomBorderStyle(b.style);
            f.setBottomBorderBrush(brush);
            break;
        default:
            f.setRightBorder(width);
            f.setRightBorderStyle(b.style);
            f.setRightBorderBrush(brush);
            break;
        }
    }
    if (def.background.isValid())
        f.setBackground(def.background);
    if (def.valign == 1)
        f.setVerticalAlignment(QTextCharFormat::AlignMiddle);
    else if (def.valign == 2)
        f.setVerticalAlignment(QTextCharFormat::AlignBottom);
    return f;
}

// Row borders (\trbrdr*) stand for the sides a cell does not give itself.
void apply_row_borders(CellDef &def, const RowDef &row, bool first_row, bool last_row, bool first_cell, bool last_cell)
{
    const Border *fallback[4] = {&row.border[first_row ? 0 : 4], &row.border[first_cell ? 1 : 5],
                                 &row.border[last_row ? 2 : 4], &row.border[last_cell ? 3 : 5]};
    for (int side = 0; side < 4; ++side)
        if (!def.border[side].present && fallback[side]->present)
            def.border[side] = *fallback[side];
}

// Rows the budget leaves out: one paragraph each, cells separated by tabs.
void insert_flat_rows(QTextCursor &cursor, std::vector<std::vector<Cell>> &rows, size_t from, bool new_block)
{
    for (size_t r = from; r < rows.size(); ++r) {
        if (new_block)
            cursor.insertBlock();
        new_block = true;
        bool first_cell = true;
        for (Cell &cell : rows[r]) {
            if (!first_cell)
                cursor.insertText(QStringLiteral("\t"));
            bool first_block = true;
            for (const CellBlock &b : cell.content) {
                if (!first_block)
                    cursor.insertBlock(b.format, b.char_format);
                else if (first_cell)
                    cursor.setBlockFormat(b.format);
                first_block = false;
                for (const CellRun &run : b.runs)
                    insert_run(cursor, run);
            }
            first_cell = false;
        }
    }
    cursor.insertBlock();
}

} // namespace

void append_content(CellContent &to, CellContent &&from, bool tab)
{
    if (!has_text(from))
        return;
    if (!has_text(to)) {
        to = std::move(from);
        return;
    }
    auto it = from.begin();
    if (tab) {
        CellBlock &last = to.back();
        last.runs.push_back({QStringLiteral("\t"), text_format_before(last), false});
        for (CellRun &run : it->runs)
            last.runs.push_back(std::move(run));
        ++it;
    }
    for (; it != from.end(); ++it)
        to.push_back(std::move(*it));
}

void insert_table(QTextCursor &cursor, std::vector<TableRow> &rows, int &grid_budget)
{
    const int row_count = int(rows.size());
    if (row_count == 0)
        return;
    static const RowDef no_def;

    // The edges of every cell, and whether they form a grid of increasing edges.
    std::vector<std::vector<std::pair<int, int>>> edges(static_cast<size_t>(row_count));
    std::vector<int> lines;
    bool grid = true;
    size_t max_cells = 1;
    for (int r = 0; r < row_count; ++r) {
        const RowDef &def = rows[size_t(r)].def ? *rows[size_t(r)].def : no_def;
        const size_t n = rows[size_t(r)].cells.size();
        max_cells = std::max(max_cells, n);
        int x = def.left;
        int last_width = kDefaultWidth;
        for (size_t i = 0; i < n; ++i) {
            int right = x + last_width;
            if (i < def.cells.size() && def.cells[i].has_right)
                right = def.cells[i].right;
            if (right <= x)
                grid = false;
            edges[size_t(r)].emplace_back(x, right);
            lines.push_back(x);
            lines.push_back(right);
            last_width = std::max(right - x, kMinWidth);
            x = right;
        }
    }
    std::sort(lines.begin(), lines.end());
    std::vector<int> grid_lines;
    for (int v : lines)
        if (grid_lines.empty() || v - grid_lines.back() > kSnap)
            grid_lines.push_back(v);
    const auto line_of = [&](int x) {
        return int(std::upper_bound(grid_lines.begin(), grid_lines.end(), x) - grid_lines.begin()) - 1;
    };
    int columns = int(grid_lines.size()) - 1;
    if (columns < 1 || columns > kMaxColumns)
        grid = false;
    if (grid) {
        for (int r = 0; r < row_count && grid; ++r)
            for (const auto &[left, right] : edges[size_t(r)])
                if (line_of(right) <= line_of(left)) {
                    grid = false;
                    break;
                }
    }

    // Column widths: the grid's, or else (cells placed one per column) the first row's that has them.
    std::vector<int> widths;
    if (grid) {
        for (int k = 0; k < columns; ++k)
            widths.push_back(grid_lines[size_t(k) + 1] - grid_lines[size_t(k)]);
    } else {
        columns = int(std::min<size_t>(max_cells, kMaxColumns));
        widths.assign(size_t(columns), 0);
        for (int r = 0; r < row_count; ++r)
            for (size_t k = 0; k < edges[size_t(r)].size() && k < size_t(columns); ++k) {
                const auto [left, right] = edges[size_t(r)][k];
                if (widths[k] == 0 && right > left)
                    widths[k] = right - left;
            }
        for (int &w : widths)
            if (w == 0)
                w = kDefaultWidth;
    }

    // Cells in their columns, with horizontal merges (\clmrg) joined to the cell on their left.
    std::vector<std::vector<Cell>> cells(static_cast<size_t>(row_count));
    for (int r = 0; r < row_count; ++r) {
        TableRow &source = rows[size_t(r)];
        const RowDef &def = source.def ? *source.def : no_def;
        std::vector<Cell> &row = cells[size_t(r)];
        const size_t n = source.cells.size();
        for (size_t i = 0; i < n; ++i) {
            CellContent &content = source.cells[i];
            if (!grid && i >= size_t(kMaxColumns)) {
                append_content(row.back().content, std::move(content), true);
                continue;
            }
            Cell cell;
            cell.row = r;
            if (grid) {
                cell.col = line_of(edges[size_t(r)][i].first);
                cell.cols = line_of(edges[size_t(r)][i].second) - cell.col;
            } else {
                cell.col = int(i);
            }
            if (i < def.cells.size())
                cell.def = def.cells[i];
            apply_row_borders(cell.def, def, r == 0, r == row_count - 1, i == 0, i + 1 == n);
            if (cell.def.hmerge == 2 && !row.empty() && row.back().col + row.back().cols == cell.col) {
                Cell &left = row.back();
                left.cols += cell.cols;
                left.def.border[kRight] = cell.def.border[kRight];
                append_content(left.content, std::move(content), false);
                continue;
            }
            cell.content = std::move(content);
            row.push_back(std::move(cell));
        }
    }

    // As many rows as the budget allows form the table.
    const int table_rows = std::clamp(grid_budget / columns, 0, row_count);
    grid_budget -= table_rows * columns;

    // Vertical merges (\clvmrg): a cell joins the one above when it covers the same columns.
    std::vector<std::pair<int, int>> above(size_t(columns), {-1, -1}); // (row, index) of each column's cell
    for (int r = 0; r < table_rows; ++r) {
        std::vector<std::pair<int, int>> here(size_t(columns), {-1, -1});
        std::vector<Cell> &row = cells[size_t(r)];
        for (int i = 0; i < int(row.size()); ++i) {
            Cell &cell = row[size_t(i)];
            std::pair<int, int> owner{r, i};
            if (cell.def.vmerge == 2 && above[size_t(cell.col)].first >= 0) {
                Cell &top = cells[size_t(above[size_t(cell.col)].first)][size_t(above[size_t(cell.col)].second)];
                if (top.col == cell.col && top.cols == cell.cols && top.row + top.rows == r) {
                    ++top.rows;
                    top.def.border[kBottom] = cell.def.border[kBottom];
                    append_content(top.content, std::move(cell.content), false);
                    cell.alive = false;
                    owner = above[size_t(cell.col)];
                }
            }
            for (int c = cell.col; c < cell.col + cell.cols && c < columns; ++c)
                here[size_t(c)] = owner;
        }
        above = std::move(here);
    }

    if (table_rows > 0) {
        QTextTableFormat format;
        QList<QTextLength> constraints;
        for (int w : widths)
            constraints << QTextLength(QTextLength::FixedLength, std::max(w, kMinWidth) / 15.0);
        format.setColumnWidthConstraints(constraints);
        const RowDef &first = rows.front().def ? *rows.front().def : no_def;
        format.setCellPadding(first.gap > 0 ? first.gap / 15.0 : 0);
        format.setCellSpacing(0);
        format.setBorder(0);
        format.setBorderCollapse(true);
        if (first.align == 1)
            format.setAlignment(Qt::AlignHCenter);
        else if (first.align == 2)
            format.setAlignment(Qt::AlignRight);
        QTextTable *table = cursor.insertTable(table_rows, columns, format);
        for (int r = 0; r < table_rows; ++r)
            for (const Cell &cell : cells[size_t(r)])
                if (cell.alive && (cell.rows > 1 || cell.cols > 1))
                    table->mergeCells(cell.row, cell.col, cell.rows, cell.cols);
        for (int r = 0; r < table_rows; ++r)
            for (const Cell &cell : cells[size_t(r)]) {
                if (!cell.alive)
                    continue;
                QTextTableCell target = table->cellAt(cell.row, cell.col);
                target.setFormat(cell_format(cell.def));
                QTextCursor c = target.firstCursorPosition();
                fill(c, cell.content);
            }
        cursor.setPosition(table->lastPosition() + 1);
    }
    if (table_rows < row_count)
        insert_flat_rows(cursor, cells, size_t(table_rows), table_rows == 0 && cursor.block().length() > 1);
}

bool border_style_of_word(std::string_view word, QTextFrameFormat::BorderStyle *style, bool *none)
{
    struct Entry {
        std::string_view word;
        QTextFrameFormat::BorderStyle style;
    };
    static const Entry table[] = {
        {"brdrs", QTextFrameFormat::BorderStyle_Solid},
        {"brdrth", QTextFrameFormat::BorderStyle_Solid},
        {"brdrsh", QTextFrameFormat::BorderStyle_Solid},
        {"brdrhair", QTextFrameFormat::BorderStyle_Solid},
        {"brdrdb", QTextFrameFormat::BorderStyle_Double},
        {"brdrdot", QTextFrameFormat::BorderStyle_Dotted},
        {"brdrdash", QTextFrameFormat::BorderStyle_Dashed},
        {"brdrdashsm", QTextFrameFormat::BorderStyle_Dashed},
        {"brdrdashd", QTextFrameFormat::BorderStyle_DotDash},
        {"brdrdashdd", QTextFrameFormat::BorderStyle_DotDotDash},
        {"brdrengrave", QTextFrameFormat::BorderStyle_Groove},
        {"brdremboss", QTextFrameFormat::BorderStyle_Ridge},
        {"brdrinset", QTextFrameFormat::BorderStyle_Inset},
        {"brdroutset", QTextFrameFormat::BorderStyle_Outset},
        {"brdrtriple", QTextFrameFormat::BorderStyle_Solid},
        {"brdrwavy", QTextFrameFormat::BorderStyle_Solid},
        {"brdrwavydb", QTextFrameFormat::BorderStyle_Double},
        {"brdrdashdotstr", QTextFrameFormat::BorderStyle_DotDash},
        {"brdrframe", QTextFrameFormat::BorderStyle_Solid},
    };
    *none = false;
    if (word == "brdrnone" || word == "brdrnil" || word == "brdrtbl") {
        *none = true;
        return true;
    }
    for (const Entry &e : table)
        if (e.word == word) {
            *style = e.style;
            return true;
        }
    // The thick-thin families (\brdrthtnsg, \brdrtnthmg, ...) draw a solid line here.
    if (word.size() > 6 && (word.substr(0, 7) == "brdrtnt" || word.substr(0, 7) == "brdrtht")) {
        *style = QTextFrameFormat::BorderStyle_Solid;
        return true;
    }
    return false;
}

const char *border_word(QTextFrameFormat::BorderStyle style)
{
    switch (style) {
    case QTextFrameFormat::BorderStyle_None:
        return nullptr;
    case QTextFrameFormat::BorderStyle_Dotted:
        return "brdrdot";
    case QTextFrameFormat::BorderStyle_Dashed:
        return "brdrdash";
    case QTextFrameFormat::BorderStyle_Double:
        return "brdrdb";
    case QTextFrameFormat::BorderStyle_DotDash:
        return "brdrdashd";
    case QTextFrameFormat::BorderStyle_DotDotDash:
        return "brdrdashdd";
    case QTextFrameFormat::BorderStyle_Groove:
        return "brdrengrave";
    case QTextFrameFormat::BorderStyle_Ridge:
        return "brdremboss";
    case QTextFrameFormat::BorderStyle_Inset:
        return "brdrinset";
    case QTextFrameFormat::BorderStyle_Outset:
        return "brdroutset";
    default:
        return "brdrs";
    }
}

} // namespace yunshan::rtf_detail
