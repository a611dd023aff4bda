#pragma once
// The remembered selections of the three lists.
namespace yunshan {

struct CatalogueSelection {
    int class_index = -1;   // major entry whose minor categories the minor list shows, -1 none
    int section_index = -1; // minor entry whose notes the note list shows, -1 none
    int note_index = -1;    // open-entry index: the note-list entry whose note is open
    int select = 0;         // list the user acted on last: kTargetMajor, kTargetMinor, kTargetNote
};

} // namespace yunshan
