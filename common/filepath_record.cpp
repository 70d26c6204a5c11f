#include "filepath_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "run_failure.h"
#include "startup.h"

plat::UniqueFile OpenFilePathFile(size_t bufferSize) {
  std::string areaFile;
  FindDataFilePath("FILEPATH", areaFile);
  if (areaFile.empty()) {
    ReportFailure("FILEPATH.VLM not found\n");
    return nullptr;
  }
  plat::UniqueFile areas(plat::OpenFile(areaFile, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Binary));
  if (!areas) {
    ReportFileFailure(errno, "opening", areaFile);
    return nullptr;
  }
  if (!plat::SetStreamBuffer(areas.get(), bufferSize)) std::printf("Failed to Setup FILEPATH.VLM Buffer\n");
  return areas;
}
