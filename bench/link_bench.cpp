// Link pass over a full area of 65,535 messages: the per-key pass against
// the plain quadratic scan, for all subjects distinct and for one subject,
// and the whole linking of such an area through its header file.
//
// Usage: link_bench [work directory]   (default: the system's temporary directory)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link.h"
#include "link_conference.h"
#include "msgbase.h"
#include "plain_link_pass.h"
#include "startup.h"

namespace {

constexpr size_t kMessages = 65535;

std::vector<LinkEntry> Table(bool distinct) {
  std::vector<LinkEntry> t(kMessages);
  for (size_t i = 0; i < kMessages; ++i) t[i] = LinkEntry{distinct ? static_cast<uint32_t>(i * 2654435761u) : 7u, 0, 0, 0};
  return t;
}

template <typename F>
double Seconds(F &&work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of a few runs, each on a fresh table.
template <typename Pass>
double TimePass(bool distinct, Pass pass, int runs) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    std::vector<LinkEntry> t = Table(distinct);
    best = std::min(best, Seconds([&] { pass(t); }));
  }
  return best;
}

void WriteArea(const std::filesystem::path &file, bool distinct) {
  std::vector<MessageHeader> headers(kMessages);
  for (size_t i = 0; i < kMessages; ++i) {
    MessageHeader &h = headers[i];
    h = MessageHeader{};
    std::string subject = distinct ? "Subject " + std::to_string(i) : "One subject for all";
    h.Subject[0] = static_cast<uint8_t>(subject.size());
    for (size_t k = 0; k < subject.size(); ++k) h.Subject[1 + k] = static_cast<uint8_t>(subject[k]);
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(headers.data()),
            static_cast<std::streamsize>(headers.size() * sizeof(MessageHeader)));
}

}  // namespace

int main(int argc, char **argv) {
  std::filesystem::path work = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  work /= "link_bench_area";
  std::filesystem::create_directories(work / "AREA1");

  std::printf("Link pass over %zu messages (best of runs, seconds)\n", kMessages);
  for (bool distinct : {true, false}) {
    double fast = TimePass(distinct, LinkPass, 5);
    double plain = TimePass(distinct, PlainLinkPass, distinct ? 1 : 5);
    std::printf("  %-18s fast %.6f  plain %.6f  plain/fast %.1f\n", distinct ? "distinct subjects" : "one subject",
                fast, plain, plain / fast);
  }

  // The whole area: two reads of the header file, one write, the pass.
  MsgPath = work.string() + "/";
  MessageRecord record{};
  record.AreaName[0] = 5;
  for (int k = 0; k < 5; ++k) record.AreaName[1 + k] = static_cast<uint8_t>("Bench"[k]);
  std::printf("Whole area through its header file (%zu bytes)\n", kMessages * sizeof(MessageHeader));
  for (bool distinct : {true, false}) {
    std::filesystem::path file = work / "AREA1" / "MH00001.BBS";
    double best = 1e30;
    for (int r = 0; r < 3; ++r) {
      WriteArea(file, distinct);
      best = std::min(best, Seconds([&] { LinkConference(1, record); }));
    }
    // The cost floor: reading and writing the same file once each.
    double floor = Seconds([&] {
      std::vector<char> bytes(kMessages * sizeof(MessageHeader));
      std::FILE *f = std::fopen(file.string().c_str(), "r+b");
      if (!f) return;
      size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
      std::fseek(f, 0, SEEK_SET);
      std::fwrite(bytes.data(), 1, got, f);
      std::fclose(f);
    });
    std::printf("  %-18s link %.6f  read+write once %.6f  ratio %.2f\n",
                distinct ? "distinct subjects" : "one subject", best, floor, best / floor);
  }
  std::filesystem::remove_all(work);
  return 0;
}
