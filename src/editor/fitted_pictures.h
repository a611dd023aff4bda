#pragma once
// Pictures in a note's body shown no wider than the text: a picture wider than the editor is
// drawn scaled down to the text width, so the editor never scrolls sideways. Only the drawing
// changes: the picture's format, the size written with the note, stays as it was.
class QTextDocument;

namespace yunshan {

// Makes `doc`'s layout draw its pictures fitted to the text width (the editor sets that width to
// its own). Call once per document, before or after it is shown.
void fit_pictures_to_text_width(QTextDocument &doc);

} // namespace yunshan
