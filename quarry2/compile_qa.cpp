// The questionnaire compiler: one pass writes the compiled lines and records
// labels and jump sites, a second pass patches the jump offsets in.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dates.h"
#include "platform.h"
#include "program_frame.h"
#include "quarry2.h"
#include "run_failure.h"
#include "switches.h"
#include "text.h"

namespace {

constexpr size_t kMaxLabels = 500;
constexpr size_t kMaxReferences = 2500;
constexpr size_t kStreamBuffer = 262144;
constexpr int kLineLimit = 298;  // characters taken by one read

struct Label {
  std::string name;
  int32_t offset;
};

struct Reference {
  std::string name;
  int32_t position;  // offset of the 8-digit field in the output
};

bool BeginsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void CompileQA() {
  std::string script;
  GetMinusSlashParam("COMPILE", script);

  plat::UniqueFile in(plat::OpenFile(script, plat::Access::Read, plat::Share::DenyNone, plat::Mode::Text));
  if (!in) {
    ReportFileFailure(errno, "opening", script);
    return;
  }
  if (!plat::SetStreamBuffer(in.get(), kStreamBuffer)) std::printf("Failed to Setup %s Buffer\n", script.c_str());
  std::printf("Compiling %s...", script.c_str());

  std::string outName = script;
  ForceExtension(outName, ".QAC");
  plat::UniqueFile out(plat::OpenFile(outName, plat::Access::WriteRead, plat::Share::DenyWrite, plat::Mode::Text));
  if (!out) {
    ReportFileFailure(errno, "creating", outName);
    return;
  }
  if (!plat::SetStreamBuffer(out.get(), kStreamBuffer)) std::printf("Failed to Setup %s Buffer\n", outName.c_str());

  std::vector<Label> labels;
  std::vector<Reference> references;
  labels.reserve(kMaxLabels);
  references.reserve(kMaxReferences);
  bool error = false;
  bool writeFailed = false;

  // Offsets count the bytes as stored: every line end is CR LF, two bytes.
  int32_t offset = 0;
  auto writeLine = [&](const std::string &line) {
    if (std::fprintf(out.get(), "%s\n", line.c_str()) < 0) writeFailed = true;
    offset += static_cast<int32_t>(line.size()) + 2;
  };

  plat::LocalTime now = plat::GetLocalTime();
  writeLine(StrPrintf("; Compiled on %02d-%s-%d for Velmora V%s", now.day, ShortMonths[(now.month + 11) % 12],
                      now.year, kVersion));

  char buffer[kLineLimit + 1];
  while (!error && std::fgets(buffer, sizeof buffer, in.get())) {
    std::string line(buffer);
    Trim(line);
    if (line.empty() || line[0] == ';') continue;
    for (char &c : line) {
      if (c == ' ') break;
      c = UpperChar(c);
    }

    auto addReference = [&](size_t skip, const char *control) {
      if (references.size() < kMaxReferences) {
        std::string name = line.substr(skip);
        references.push_back({UpperCase(name), offset + 5});
      } else {
        ReportFailure("\nToo Many Gotos/Gosubs Defined", "Too Many Gotos/Gosubs Defined in " + script);
        error = true;
      }
      line = control;
    };
    if (BeginsWith(line, "GOSUB ")) {
      addReference(6, "@#00 00000000");
    } else if (BeginsWith(line, "GOTO ")) {
      addReference(5, "@#01 00000000");
    } else if (line == "POSTINFO") {
      line = "@#02";
    } else if (line == "RETURN" || BeginsWith(line, "RETURN ")) {
      line = "@#03";
    }

    if (!line.empty() && line[0] == ':') {
      if (labels.size() < kMaxLabels) {
        labels.push_back({line.substr(1), offset});
      } else {
        ReportFailure("\nToo Many Labels Defined", "Too Many Labels Defined in " + script);
        error = true;
      }
      continue;
    }
    writeLine(line);
  }

  // The jump offsets count stored bytes, so they are patched in through a
  // binary stream once the text stream has written every line.
  int closeError = plat::CloseFile(out.release()) ? 0 : errno;
  if (!closeError && !writeFailed) {
    out.reset(plat::OpenFile(outName, plat::Access::ReadWrite, plat::Share::DenyWrite, plat::Mode::Binary));
    if (!out) closeError = errno;
  }
  for (const Reference &ref : references) {
    const Label *target = nullptr;
    for (const Label &label : labels) {
      if (label.name == ref.name) {
        target = &label;
        break;
      }
    }
    if (!target) {
      ReportFailure("\nLabel " + ref.name + " not found", "Label " + ref.name + " not found in " + script);
      error = true;
      continue;
    }
    if (!out) continue;
    std::string digits = StrPrintf("%08ld", static_cast<long>(target->offset));
    if (std::fseek(out.get(), ref.position, SEEK_SET) != 0 || !plat::WriteBytes(out.get(), digits.data(), digits.size()))
      writeFailed = true;
  }
  if (out) {
    int e = plat::CloseFile(out.release()) ? 0 : errno;
    if (!closeError) closeError = e;
  }

  // A compiled file that could not be written completely must not be
  // reported as compiled.
  if (writeFailed || closeError) {
    ReportFailure("\n" + std::string(std::strerror(closeError ? closeError : EIO)) + " writing " + outName + "\n");
    return;
  }
  std::printf(error ? "\n" : "Ok\n");
}
