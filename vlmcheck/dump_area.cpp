// -DUMP<n>: one area's headers as a table of three lines per message that
// fits an 80-column console: number and names; subject; dates, attributes,
// links and the place of the text.
#include <cstdio>
#include <cstring>

#include "dates.h"
#include "files.h"
#include "msgbase.h"
#include "text.h"
#include "vlmcheck.h"

namespace {

std::string DateText(int32_t packed) {
  if (packed == 0) return "-";
  uint16_t year, month, day, hour, minute, second;
  Long2Date(packed, year, month, day, hour, minute, second);
  return StrPrintf("%04u-%02u-%02u %02u:%02u", unsigned(year), unsigned(month), unsigned(day), unsigned(hour),
                   unsigned(minute));
}

// D deleted, R received, K keeps its attachments, E exempt, F files
// attached, C corrupt header; '.' where clear.
std::string Flags(const MessageHeader &h) {
  std::string f = "......";
  if (h.Attribute & kMsgDeleted) f[0] = 'D';
  if (h.Attribute & kMsgReceived) f[1] = 'R';
  if (h.Attribute & kMsgKeepAttaches) f[2] = 'K';
  if (h.Attribute & kMsgExempt) f[3] = 'E';
  if (h.Attribute2 & kMsgFilesAttached) f[4] = 'F';
  if (h.WhoTo[0] > kMaxWhoLength || h.WhoFrom[0] > kMaxWhoLength || h.Subject[0] > kMaxSubjectLength) f[5] = 'C';
  return f;
}

template <size_t N>
std::string Field(const uint8_t (&field)[N]) {
  std::string text;
  PasToC(field, text);
  return Printable(text);
}

}  // namespace

void DumpArea(uint16_t area) {
  std::string path, bytes;
  GetMsgAreaPath(area, path, kHeaderFile);
  std::printf("\nHeaders of area %u, %s\n", unsigned(area), path.c_str());
  int read = ReadBoardFile(path, bytes);
  if (read == kFileMissing) {
    std::printf("  none: no such file\n");
    return;
  }
  if (read != 1) return;
  std::printf("Flags: D deleted, R received, K keeps attachments, E exempt, F files attached, C corrupt\n\n");
  std::printf("%5s %-35s %s\n", "Msg", "From", "To");
  std::printf("      %s\n", "Subject");
  std::printf("      %-16s %-16s %-6s %5s %5s %10s %9s\n", "Written", "Received", "Flags", "Reply", "Next", "Text at",
              "Length");
  size_t total = bytes.size() / sizeof(MessageHeader);
  for (size_t i = 0; i < total; ++i) {
    MessageHeader h;
    std::memcpy(&h, bytes.data() + i * sizeof h, sizeof h);
    std::printf("%5zu %-35s %s\n", i + 1, Field(h.WhoFrom).c_str(), Field(h.WhoTo).c_str());
    std::printf("      %s\n", Field(h.Subject).c_str());
    std::printf("      %-16s %-16s %-6s %5u %5u %10u %9d\n", DateText(h.DateWritten).c_str(),
                DateText(h.DateReceived).c_str(), Flags(h).c_str(), unsigned(h.ReplyTo), unsigned(h.NextReply),
                unsigned(h.TextStart), int(h.TextLength));
  }
  if (bytes.size() % sizeof(MessageHeader))
    std::printf("  and %zu bytes of a header cut short\n", bytes.size() % sizeof(MessageHeader));
}
