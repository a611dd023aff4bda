#pragma once
// Paragraph properties as RTF states them (\ql \qc \qr \qj, \li \ri \fi, \sb \sa, \sl \slmult,
// \rtlpar), shared by the reader and the writer.

namespace yunshan {

struct RtfParagraph {
    int align = 0; // 0 left, 1 centre, 2 right, 3 justified
    int left = 0;  // twips
    int right = 0;
    int first = 0;
    int before = 0;
    int after = 0;
    int line = 0;
    bool line_multiple = false;
    bool rtl = false;
    bool operator==(const RtfParagraph &) const = default;
};

} // namespace yunshan
