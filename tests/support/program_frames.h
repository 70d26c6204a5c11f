// What each program prints around its work: the banner (its title, the
// rights notice and the help hint) before it and the completion line after.
#pragma once

#include <string>

namespace vt {

struct Frame {
  const char *title;
  const char *completed;
  std::string Banner() const {
    return std::string(title) + "Copyright (c) Velmora.  All Rights Reserved.\nUse -? for help\n\n";
  }
};

inline constexpr Frame kSorrel{"Sorrel WIN 95/NT V1.48.  Velmora Message Base Maintenance.\n", "\nSorrel Completed\n"};
inline constexpr Frame kTether{"Tether WIN 95/NT V1.48.  Velmora Fast Message Base Linker.\n", "\nTether Completed\n"};
inline constexpr Frame kMarten{"Marten WIN 95/NT V1.48.  Velmora Fast Find Index Maintenance.\n", "MARTEN Completed\n"};
inline constexpr Frame kQuarry2{"Quarry2 WIN 95/NT V1.48.  Velmora Utilities 2.\n", "\nQUARRY2 Completed\n"};

// The output between the frame's banner and its completion line; "<frame
// missing>" and the whole output when it does not begin with exactly that
// banner and end with exactly that line.
inline std::string Work(const Frame &frame, const std::string &out) {
  const std::string banner = frame.Banner(), completed = frame.completed;
  if (out.size() < banner.size() + completed.size() || out.compare(0, banner.size(), banner) != 0 ||
      out.compare(out.size() - completed.size(), completed.size(), completed) != 0)
    return "<frame missing>" + out;
  return out.substr(banner.size(), out.size() - banner.size() - completed.size());
}

}  // namespace vt
