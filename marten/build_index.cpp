// The build pass: one FFIDX.BBS record for every file with an 8+4 name in
// every file area's directory, appended as the directories are enumerated,
// and the total size of those files stored in the system information.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "filepath_record.h"
#include "marten.h"
#include "run_failure.h"
#include "startup.h"
#include "system_log.h"
#include "text.h"

std::string FastIndexPath;
int32_t TotalKilobytes = 0;
int32_t TotalBytes = 0;

namespace {

constexpr size_t kIndexBuffer = 131072;
constexpr size_t kAreaFileBuffer = 131072;

// Error number of the first failed write to the index of this build; 0 while
// every write went through.
int IndexWriteError = 0;

}  // namespace

int FastIndexName(const std::string &fileName, uint8_t (&field)[12]) {
  std::string name = fileName;
  UpperCase(name);
  if (name.size() > 12) return 0;
  // The board's own listings describe the files; they are not files to find.
  if (name == "FILES.BBS" || name == "FILES.BAK" || name == "SFFILES.BBS") return 0;

  std::memset(field, ' ', sizeof field);
  size_t dot = name.find('.');
  size_t baseLength = name.size();
  if (dot != std::string::npos) {
    size_t extensionLength = name.size() - dot;  // the dot included
    if (extensionLength > 4) return 0;
    std::memcpy(field + 8, name.data() + dot, extensionLength);
    baseLength = dot;
  }
  if (baseLength > 8) return 0;
  std::memcpy(field, name.data(), baseLength);
  return 1;
}

int AddDirectory(const std::string &directory, long area, FILE *index) {
  FastIndexRecord record;
  std::memset(&record, 0, sizeof record);
  record.NameLength = 12;
  record.Area = static_cast<uint16_t>(area);

  plat::DirectorySearch search;
  plat::FoundEntry entry;
  for (int found = search.First(directory + "*.*", plat::FindFiles, entry); found; found = search.Next(entry)) {
    if (!FastIndexName(entry.name, record.Name)) continue;
    // The field keeps the low 32 bits; the totals count them as the
    // unsigned size the board's directory search reports.
    uint32_t size = static_cast<uint32_t>(entry.size);
    record.Size = static_cast<int32_t>(size);
    if (!IndexWriteError) {
      errno = 0;
      if (!plat::WriteBytes(index, &record, sizeof record)) IndexWriteError = errno ? errno : EIO;
    }
    TotalKilobytes += static_cast<int32_t>(size / 1024);
    TotalBytes += static_cast<int32_t>(size % 1024);
  }
  return IndexWriteError ? 0 : 1;
}

namespace {

// Stores the build's total in the system information record.
void StoreFileKilobytes(int32_t kilobytes) {
  SysInfoFile sysInfo;
  SysInfoRecord record;
  if (!GetSysInfo(sysInfo, record)) {
    ReportFailure("Failed Opening SYSINFO.BBS\n", "Failed Opening " + SystemPath + "SYSINFO.BBS");
    return;
  }
  record.FileKilobytes = kilobytes;
  if (!PutSysInfo(sysInfo, record))
    ReportFailure(StrPrintf("Error %s writing to %s\n", std::strerror(errno), (SystemPath + "SYSINFO.BBS").c_str()));
}

// Reads every area record and indexes the directories of the areas in use.
void IndexFileAreas(FILE *index) {
  plat::UniqueFile areas = OpenFilePathFile(kAreaFileBuffer);
  if (!areas) return;

  FilePathRecord record;
  std::string directory;
  long area = 0;
  while (std::fread(&record, sizeof record, 1, areas.get()) == 1) {
    ++area;
    PasToC(record.AreaPath, directory);
    if (!directory.empty()) AddDirectory(directory, area, index);
  }
  StoreFileKilobytes(TotalBytes / 1024 + TotalKilobytes);
}

}  // namespace

void ProcessFilePath() {
  WriteSystemLog("Building Fast Find Index");
  std::printf("Building Fast Find Index...\n");
  PasToC(Config.FastIndexPath, FastIndexPath);
  TotalKilobytes = 0;
  TotalBytes = 0;
  IndexWriteError = 0;

  std::string indexName = FastIndexPath + "FFIDX.BBS";
  plat::UniqueFile index(plat::OpenFile(indexName, plat::Access::Write, plat::Share::Exclusive, plat::Mode::Binary));
  if (!index) {
    ReportFileFailure(errno, "opening", indexName);
    return;
  }
  if (!plat::SetStreamBuffer(index.get(), kIndexBuffer)) std::printf("Failed to Setup FFIDX.BBS Buffer\n");

  IndexFileAreas(index.get());

  // Buffered records reach the disk at the close: its failure is a write
  // failure of the index too.
  int closeError = plat::CloseFile(index.release()) ? 0 : errno;
  int error = IndexWriteError ? IndexWriteError : closeError;
  if (error) ReportFailure(StrPrintf("Error %s writing to %s\n", std::strerror(error), indexName.c_str()));
}
