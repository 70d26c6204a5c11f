// What every quarry2 run prints around its work.
#pragma once

inline constexpr char kBanner[] =
    "Quarry2 WIN 95/NT V1.48.  Velmora Utilities 2.\n"
    "Copyright (c) Velmora.  All Rights Reserved.\n"
    "Use -? for help\n\n";
inline constexpr char kCompleted[] = "\nQUARRY2 Completed\n";
