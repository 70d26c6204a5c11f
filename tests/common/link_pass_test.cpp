// The subject key and the link pass: worked subjects, and the fast pass
// against a plain transcription of the quadratic scan on random tables.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "crc32.h"
#include "link.h"
#include "plain_link_pass.h"

namespace {

void SetSubject(uint8_t (&field)[73], const std::string &text, int lengthByte = -1) {
  std::memset(field, 0, sizeof field);
  field[0] = static_cast<uint8_t>(lengthByte >= 0 ? lengthByte : static_cast<int>(text.size()));
  std::memcpy(field + 1, text.data(), std::min<size_t>(text.size(), 72));
}

uint32_t KeyOf(const std::string &text, int lengthByte = -1) {
  uint8_t field[73];
  SetSubject(field, text, lengthByte);
  return SubjectKey(field);
}

uint32_t Register(const std::string &text) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : text) crc = UpdateCRC32(c, crc);
  return crc;
}

TEST(SubjectKey, DropsOneLeadingReplyPrefixAndIgnoresCase) {
  EXPECT_EQ(KeyOf("Hello"), Register("HELLO"));
  EXPECT_EQ(KeyOf("RE:Hello"), KeyOf("hello"));
  EXPECT_EQ(KeyOf("rE:hello"), KeyOf("HELLO"));
  // Nothing is trimmed: the blank after the prefix belongs to the key.
  EXPECT_EQ(KeyOf("Re: Hello"), Register(" HELLO"));
  EXPECT_NE(KeyOf("Re: Hello"), KeyOf("Hello"));
  EXPECT_EQ(KeyOf("RE:RE: x"), Register("RE: X"));
  EXPECT_EQ(KeyOf("Re:"), 0xFFFFFFFFu);
  EXPECT_EQ(KeyOf(""), 0xFFFFFFFFu);
  EXPECT_EQ(KeyOf("RE"), Register("RE"));
  // Only a-z are folded; other bytes are fed as they are.
  EXPECT_EQ(KeyOf("\xe4x"), Register("\xe4X"));
}

TEST(SubjectKey, StaysInsideItsField) {
  std::string full(72, 'a');
  // A count above 72 reads no further than the field.
  EXPECT_EQ(KeyOf(full, 255), Register(std::string(72, 'A')));
  EXPECT_EQ(KeyOf("RE:" + std::string(69, 'b'), 200), Register(std::string(69, 'B')));
  // The text ends at its first zero byte; the count is not consulted past it.
  EXPECT_EQ(KeyOf(std::string("ab\0cd", 5)), Register("AB"));
  // A count shorter than the text cuts it.
  EXPECT_EQ(KeyOf("Hello", 3), Register("HEL"));
  // "RE:" counts only when the count covers it.
  EXPECT_EQ(KeyOf("RE:x", 2), Register("RE"));
}

LinkEntry Entry(uint32_t key, uint16_t replyTo = 0, uint16_t nextReply = 0, uint8_t excluded = 0) {
  LinkEntry e{};
  e.SubjectKey = key;
  e.ReplyTo = replyTo;
  e.NextReply = nextReply;
  e.Excluded = excluded;
  return e;
}

void ExpectSame(const std::vector<LinkEntry> &a, const std::vector<LinkEntry> &b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(+a[i].ReplyTo, +b[i].ReplyTo) << "entry " << i;
    EXPECT_EQ(+a[i].NextReply, +b[i].NextReply) << "entry " << i;
    EXPECT_EQ(+a[i].SubjectKey, +b[i].SubjectKey) << "entry " << i;
    EXPECT_EQ(+a[i].Excluded, +b[i].Excluded) << "entry " << i;
  }
}

TEST(LinkPass, WorkedTables) {
  uint32_t hello = KeyOf("Hello"), reBlank = KeyOf("Re: Hello"), reHello = KeyOf("RE:Hello");
  std::vector<LinkEntry> t{Entry(hello), Entry(reBlank), Entry(reHello)};
  EXPECT_EQ(LinkPass(t), 1);
  EXPECT_EQ(+t[0].NextReply, 3);
  EXPECT_EQ(+t[2].ReplyTo, 1);
  EXPECT_EQ(+t[1].ReplyTo, 0);
  EXPECT_EQ(+t[1].NextReply, 0);

  std::vector<LinkEntry> three(3, Entry(7));
  EXPECT_EQ(LinkPass(three), 1);
  EXPECT_EQ(+three[0].NextReply, 2);
  EXPECT_EQ(+three[1].ReplyTo, 1);
  EXPECT_EQ(+three[1].NextReply, 3);
  EXPECT_EQ(+three[2].ReplyTo, 2);
  EXPECT_EQ(+three[0].ReplyTo, 0);
  EXPECT_EQ(+three[2].NextReply, 0);

  std::vector<LinkEntry> deleted{Entry(7), Entry(7, 0, 0, 1), Entry(7)};
  EXPECT_EQ(LinkPass(deleted), 1);
  EXPECT_EQ(+deleted[0].NextReply, 3);
  EXPECT_EQ(+deleted[2].ReplyTo, 1);
  EXPECT_EQ(+deleted[1].ReplyTo, 0);
  EXPECT_EQ(+deleted[1].NextReply, 0);

  // An existing NextReply is not extended; an existing ReplyTo is never chosen.
  std::vector<LinkEntry> existing{Entry(7, 0, 9), Entry(7, 4), Entry(7)};
  EXPECT_EQ(LinkPass(existing), 1);
  EXPECT_EQ(+existing[0].NextReply, 9);
  EXPECT_EQ(+existing[1].NextReply, 3);  // 2 has a ReplyTo but an open end
  EXPECT_EQ(+existing[2].ReplyTo, 2);

  std::vector<LinkEntry> none{Entry(1), Entry(2)};
  EXPECT_EQ(LinkPass(none), 0);
  std::vector<LinkEntry> empty;
  EXPECT_EQ(LinkPass(empty), 0);
}

TEST(LinkPass, RefusesTablesBeyondSixteenBitNumbers) {
  std::vector<LinkEntry> big(65536, Entry(1));
  EXPECT_EQ(LinkPass(big), 0);
  EXPECT_EQ(+big[0].NextReply, 0);
  EXPECT_EQ(+big[65535].ReplyTo, 0);

  std::vector<LinkEntry> most(65535, Entry(1));
  EXPECT_EQ(LinkPass(most), 1);
  EXPECT_EQ(+most[65533].NextReply, 65535);
  EXPECT_EQ(+most[65534].ReplyTo, 65534);
}

TEST(LinkPass, MatchesThePlainScanOnRandomTables) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 4000; ++round) {
    size_t count = rng() % (round < 3000 ? 40 : 700);
    unsigned pool = 1 + rng() % 6;        // how many distinct keys
    unsigned excludedShare = rng() % 4;   // in quarters
    unsigned linkedShare = rng() % 4;
    std::vector<LinkEntry> table(count);
    for (auto &e : table) {
      e.SubjectKey = rng() % pool * 0x9E3779B9u;
      e.Excluded = static_cast<uint8_t>(rng() % 4 < excludedShare ? 1 + rng() % 255 : 0);
      // Existing links, in range and out of range (the pass only looks at
      // whether they are zero, whatever their value).
      auto link = [&]() -> uint16_t {
        if (rng() % 4 >= linkedShare) return 0;
        return static_cast<uint16_t>(rng() % 3 == 0 ? count + 1 + rng() % 5 : 1 + rng() % (count + 1));
      };
      e.ReplyTo = link();
      e.NextReply = link();
    }
    std::vector<LinkEntry> expected = table;
    int plain = PlainLinkPass(expected);
    int fast = LinkPass(table);
    ASSERT_EQ(fast, plain) << "round " << round;
    ExpectSame(table, expected);
    if (::testing::Test::HasFailure()) FAIL() << "round " << round;
  }
}

}  // namespace
