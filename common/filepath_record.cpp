#include "filepath_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "startup.h"

plat::UniqueFile OpenFilePathFile(size_t bufferSize) {
  std::string areaFile;
  FindDataFilePath("FILEPATH", areaFile);
  if (areaFile.empty()) {
    std::printf("FILEPATH.VLM not found\n");
    return nullptr;
  }
  plat::UniqueFile areas(plat::OpenFile(areaFile, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!areas) {
    std::printf("%s opening %s\n", std::strerror(errno), areaFile.c_str());
    return nullptr;
  }
  if (!plat::SetStreamBuffer(areas.get(), bufferSize)) std::printf("Failed to Setup FILEPATH.VLM Buffer\n");
  return areas;
}
