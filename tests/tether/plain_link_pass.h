// The link scan as the board's linker describes it, kept plain and
// quadratic as the reference that the fast pass is compared with.
#pragma once

#include <vector>

#include "link.h"

int PlainLinkPass(std::vector<LinkEntry> &entries);
