#include "area_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "run_failure.h"
#include "startup.h"
#include "switches.h"

std::unique_ptr<uint8_t[]> AreaLink;

namespace {

// MSGREPLY.BBS opened for reading and clearing, denying other writers.
plat::UniqueFile OpenMarks() {
  std::string name = MsgPath + "MSGREPLY.BBS";
  plat::UniqueFile file(plat::OpenFile(name, plat::Access::ReadWrite, plat::Share::DenyWrite, plat::Mode::Binary));
  if (file) return file;
  if (errno == ENOENT) {
    // A board where no area has received mail since the last run may have
    // no marks file at all: said as always, but no failure.
    std::printf("%s opening %s\n", std::strerror(errno), name.c_str());
  } else {
    // The marks are there but cannot be read: marked areas go unlinked.
    ReportFileFailure(errno, "opening", name);
  }
  return file;
}

}  // namespace

void GetAreaLink() {
  size_t areas = Constant.MaxMsgAreas;
  AreaLink = std::make_unique<uint8_t[]>(areas);  // value-initialised: all 0
  // Reading and clearing within one opening that denies writers, so a mark
  // set by another node either arrives before the read or stays for the next run.
  plat::UniqueFile file = OpenMarks();
  if (file) {
    size_t got = std::fread(AreaLink.get(), 1, areas, file.get());
    for (size_t k = got; k < areas; ++k) AreaLink[k] = 0;
    std::fseek(file.get(), 0, SEEK_SET);
    std::vector<uint8_t> zeros(areas, 0);
    // Like the board's own programs, a clearing that fails is not reported:
    // the marks then stay and the areas are linked once more next time.
    if (areas > 0) plat::WriteBytes(file.get(), zeros.data(), zeros.size());
    plat::CloseFile(file.release());
  }
  if (FindMinusSlashParam("LINKALL"))
    for (size_t k = 0; k < areas; ++k) AreaLink[k] = 1;
}

void KeepAreaLink() { OpenMarks(); }
