// Checks on a message area after a maintenance run, shared by the targets
// that pack: what must hold of the files whatever the packing's inner
// workings (its journal, its order of steps) are.
#pragma once

#include <string>

#include "msgbase.h"

namespace fz {

// Whether the header file was rewritten beyond its link fields, or the
// text file changed at all: the area was packed.
bool Packed(const std::string &headerBefore, const std::string &textBefore, const std::string &headerAfter,
            const std::string &textAfter);

// A packed area: whole headers whose texts follow each other without gaps
// and fill the text file exactly, no deleted or corrupt header kept, links
// within the area, and the kept headers (apart from links and text place)
// those of the old file in their old order, each text no longer than its
// old one.
void CheckPackedArea(const std::string &headerBefore, const std::string &headerAfter, const std::string &textAfter);

// Clears the attachment flag of every header whose subject names anything
// outside the attach directory C:\BBS\ATTACH\ (or climbs out of it): such
// messages would erase the board's own files, which is what the board asks
// for but leaves nothing to check.
std::string KeepAttachmentsInside(const std::string &headerFile);

// Whether a header's subject names only files inside the attach directory.
bool SubjectInsideAttach(const MessageHeader &h);

}  // namespace fz
