// Linking the reply chains of one message area in place.
#pragma once

#include <cstdint>

#include "msgbase.h"

// Links the area's header file by subject: every open chain end gets the
// first later message with the same subject key that answers nothing yet.
// Prints "Linking <name>..." and logs "Linked <name>" for an area of two or
// more messages; a missing header file is passed over silently.  An area of
// more than 65,535 messages cannot be numbered and is left untouched.
void LinkConference(uint16_t area, const MessageRecord &record);
