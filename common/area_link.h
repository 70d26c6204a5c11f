// Which message areas a run links: the marks other parts of the board leave
// in MSGREPLY.BBS, consumed by the run that loads them.
#pragma once

#include <cstdint>
#include <memory>

// One byte per message area, area k at index k - 1: non-zero when the area
// is to be linked.  Null until GetAreaLink has run; then MaxMsgAreas bytes
// that live until the process ends.
extern std::unique_ptr<uint8_t[]> AreaLink;

// Loads the marks of MSGREPLY.BBS into AreaLink and clears them in the file
// (its first MaxMsgAreas bytes become 0; bytes beyond are left alone); with
// LINKALL every area is selected.  A missing file is reported and not created.
void GetAreaLink();
// For a run that can link nothing: opens MSGREPLY.BBS as GetAreaLink does and
// reports it the same way when it cannot be opened, but reads and clears
// nothing, so the marks stay for the next run.
void KeepAreaLink();
