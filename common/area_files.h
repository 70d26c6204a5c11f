// The names of one message area's files, with those that packing uses
// beside them.  sorrel packs under these names; the checker reports any of
// them that a packing left behind.
#pragma once

#include <cstdint>
#include <string>

struct AreaFiles {
  std::string header, text;        // the live files
  std::string newHeader, newText;  // replacements being built
  std::string oldHeader, oldText;  // the former files during the switch
  std::string journal;             // pending: the switch may be undone
  std::string committed;           // the journal of a final switch, as earlier versions named it
  // MTnnnnn.TMP: where packing of earlier versions moved the old texts
  // while it copied them.  sorrel never creates or deletes it.
  std::string movedText;
  std::string directory;  // the area's directory, with its backslash
};
AreaFiles GetAreaFiles(uint16_t area);
