// The fast message-base linker.
#pragma once

// Links the reply chains of every marked message area (every area with
// LINKALL) of a type the linker handles; writes its own log frame.
void LinkMessageBase();
