#include "area_files.h"

#include "msgbase.h"
#include "text.h"

namespace {

std::string WithExtension(std::string path, const char *extension) {
  ForceExtension(path, extension);
  return path;
}

}  // namespace

AreaFiles GetAreaFiles(uint16_t area) {
  AreaFiles f;
  GetMsgAreaPath(area, f.header, kHeaderFile);
  GetMsgAreaPath(area, f.text, kTextFile);
  f.newHeader = WithExtension(f.header, ".NEW");
  f.newText = WithExtension(f.text, ".NEW");
  f.oldHeader = WithExtension(f.header, ".OLD");
  f.oldText = WithExtension(f.text, ".OLD");
  f.journal = WithExtension(f.header, ".PKJ");
  f.committed = WithExtension(f.header, ".PKC");
  f.movedText = WithExtension(f.text, ".TMP");
  f.directory = f.header.substr(0, f.header.find_last_of('\\') + 1);
  return f;
}
