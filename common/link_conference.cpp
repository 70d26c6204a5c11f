#include "link_conference.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "link.h"
#include "platform.h"
#include "program_frame.h"
#include "run_failure.h"
#include "system_log.h"
#include "text.h"

namespace {

// Reads up to `wanted` whole headers at `records` into the buffer; the number
// read.  A failing read ends the pass like the end of the file.
size_t ReadHeaders(FILE *file, int64_t records, std::vector<MessageHeader> &buffer, size_t wanted) {
  if (std::fseek(file, static_cast<long>(records * sizeof(MessageHeader)), SEEK_SET) != 0) return 0;
  return std::fread(buffer.data(), sizeof(MessageHeader), wanted, file);
}

// Builds the link table of the first `count` headers: links above count are
// out of range and taken as 0.
void FillTable(FILE *file, int64_t count, std::vector<MessageHeader> &buffer, std::vector<LinkEntry> &table) {
  int64_t filled = 0;
  while (filled < count) {
    size_t got = ReadHeaders(file, filled, buffer, static_cast<size_t>(std::min<int64_t>(kHeaderChunk, count - filled)));
    if (got == 0) break;
    for (size_t r = 0; r < got; ++r) {
      const MessageHeader &h = buffer[r];
      LinkEntry &e = table[static_cast<size_t>(filled) + r];
      e.ReplyTo = h.ReplyTo > count ? 0 : h.ReplyTo;
      e.NextReply = h.NextReply > count ? 0 : h.NextReply;
      e.Excluded = h.Attribute & kMsgDeleted;
      e.SubjectKey = SubjectKey(h.Subject);
    }
    filled += static_cast<int64_t>(got);
  }
  table.resize(static_cast<size_t>(filled));
}

// Rewrites the links of the table's headers chunk by chunk; every other byte
// goes back as it was read.  Returns 1, or 0 when a write failed.
int WriteTable(FILE *file, std::vector<MessageHeader> &buffer, const std::vector<LinkEntry> &table) {
  int64_t done = 0;
  int64_t total = static_cast<int64_t>(table.size());
  while (done < total) {
    size_t got = ReadHeaders(file, done, buffer, static_cast<size_t>(std::min<int64_t>(kHeaderChunk, total - done)));
    if (got == 0) break;
    for (size_t r = 0; r < got; ++r) {
      buffer[r].NextReply = table[static_cast<size_t>(done) + r].NextReply;
      buffer[r].ReplyTo = table[static_cast<size_t>(done) + r].ReplyTo;
    }
    if (std::fseek(file, static_cast<long>(done * sizeof(MessageHeader)), SEEK_SET) != 0 ||
        !plat::WriteBytes(file, buffer.data(), got * sizeof(MessageHeader)))
      return 0;
    done += static_cast<int64_t>(got);
  }
  return 1;
}

}  // namespace

void LinkConference(uint16_t area, const MessageRecord &record) {
  std::string path;
  GetMsgAreaPath(area, path, kHeaderFile);
  plat::UniqueFile file(plat::OpenFile(path, plat::Access::ReadWrite, plat::Share::DenyNone, plat::Mode::Binary));
  if (!file) {
    if (errno == ENOENT) return;  // an area without messages has no files
    ReportFileFailure(errno, "opening", path);
    return;
  }
  int64_t length = plat::FileLength(file.get());
  int64_t count = length < 0 ? 0 : length / static_cast<int64_t>(sizeof(MessageHeader));
  if (count <= 1) return;

  std::string name = pPasToC(record.AreaName);
  std::printf("Linking %s...", name.c_str());
  std::fflush(stdout);

  // Message numbers are 16 bits wide: links in a larger file could only be
  // wrapped, so the area is left exactly as it is.
  if (count > kMaxMessages) {
    std::printf("\n%s holds %lld messages, more than 65535: not linked\n", path.c_str(),
                static_cast<long long>(count));
    WriteSystemLog(StrPrintf("Not linked %s: more than 65535 messages", name.c_str()));
    RunFailed();
    return;
  }

  std::vector<MessageHeader> buffer;
  std::vector<LinkEntry> table;
  try {
    buffer.resize(kHeaderChunk);
    table.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc &) {
    ReportFailure("\nError allocation memory\n", "Error allocation memory linking " + path);
    return;
  }

  FillTable(file.get(), count, buffer, table);
  int error = 0;
  if (LinkPass(table) && !WriteTable(file.get(), buffer, table)) error = errno ? errno : EIO;
  if (!plat::CloseFile(file.release()) && !error) error = errno;

  std::printf("\n");
  if (error) {
    // Some links may already be new; the messages themselves are untouched.
    ReportFileFailure(error, "writing", path);
    return;
  }
  WriteSystemLog(StrPrintf("Linked %s", name.c_str()));
}
