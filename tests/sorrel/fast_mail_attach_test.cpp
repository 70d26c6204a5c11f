// The name key, the user key table and the mail-check rule; erasing
// attachments and tidying the attach directory.
#include <gtest/gtest.h>

#include <cstring>

#include "msgbase.h"
#include "records.h"
#include "sorrel.h"
#include "startup.h"
#include "test_support.h"

namespace {

template <size_t N>
void Pas(uint8_t (&field)[N], const std::string &text) {
  std::memset(field, 0, N);
  field[0] = static_cast<uint8_t>(text.size());
  std::memcpy(field + 1, text.data(), std::min(text.size(), N - 1));
}

TEST(NameKey, KnownValuesCaseAndBadCounts) {
  uint8_t f[36];
  Pas(f, "ALL");
  EXPECT_EQ(GetPasStringCRC(f), 0x5240CCA8u);
  Pas(f, "abc");
  EXPECT_EQ(GetPasStringCRC(f), 0x5C7CFCB7u);
  Pas(f, "ABC");
  EXPECT_EQ(GetPasStringCRC(f), 0x5C7CFCB7u);
  Pas(f, "");
  EXPECT_EQ(GetPasStringCRC(f), 0xFFFFFFFFu);
  f[0] = 200;  // read as a negative count
  EXPECT_EQ(GetPasStringCRC(f), 0xFFFFFFFFu);
  // A count beyond the field is cut to the field: bytes after it never count.
  uint8_t two[72] = {};
  std::memset(two, 'A', sizeof two);
  two[0] = 35;
  two[36] = 'Z';
  uint8_t cut[36];
  std::memcpy(cut, two, 36);
  cut[0] = 100;
  uint32_t whole = GetPasStringCRC(two, 36);
  EXPECT_EQ(GetPasStringCRC(cut), whole);
}

TEST(NameKey, SignedOrderOfTheTable) {
  int32_t high = static_cast<int32_t>(0x80000000u), low = 5;
  EXPECT_EQ(CompUserCRC(&high, &low), -1);
  EXPECT_EQ(CompUserCRC(&low, &high), 1);
  EXPECT_EQ(CompUserCRC(&low, &low), 0);
}

class UserTable : public ::testing::Test {
 protected:
  void SetUp() override {
    UserBasePath = dir.Board();
    ClearUserCRC();
  }
  void TearDown() override { ClearUserCRC(); }
  std::string Build() {
    ::testing::internal::CaptureStdout();
    GetUserCRC();
    return ::testing::internal::GetCapturedStdout();
  }
  static std::string User(const std::string &name, const std::string &alias) {
    UserRecord u{};
    vt::SetPas(u.UserName, name);
    vt::SetPas(u.UserAlias, alias);
    return vt::AsBytes(u);
  }
  vt::TempDir dir;
};

TEST_F(UserTable, MissingUsersGiveNoTableAndEveryKeyIsAccepted) {
  EXPECT_EQ(Build(), "");
  EXPECT_EQ(NumUserCRC, 0);
  EXPECT_EQ(FindUser(12345), 1);
}

TEST_F(UserTable, NamesAliasesAndAllSortedWithTheShortTailIgnored) {
  // 300 bytes: two whole users, 44 bytes ignored.
  vt::WriteFile(dir / "USERS.BBS", User("JOHN DOE", "John Doe") + User("ANN", "") + std::string(44, 'x'));
  EXPECT_EQ(Build(), "Scaning Userbase...\n");
  ASSERT_EQ(NumUserCRC, 4);  // JOHN DOE once, ANN, the empty alias, ALL
  for (int i = 1; i < NumUserCRC; ++i) EXPECT_LE(UserCRC[i - 1], UserCRC[i]);
  uint8_t f[36];
  for (const char *known : {"john doe", "ANN", "", "All"}) {
    Pas(f, known);
    int32_t key = static_cast<int32_t>(GetPasStringCRC(f));
    EXPECT_EQ(FindUser(key), 1) << known;
  }
  Pas(f, "ALL USERS");
  int32_t key = static_cast<int32_t>(GetPasStringCRC(f));
  EXPECT_EQ(FindUser(key), 0);
}

TEST(MailCheckRule, ReceivedFlagsAllAndTypeSeven) {
  ClearUserCRC();
  MessageHeader h{};
  MessageRecord r{};
  Pas(h.WhoTo, "SYSOP");
  r.AreaType = 2;
  EXPECT_EQ(WantsFastMail(h, r, 0), 0);  // area not in the mail check
  r.AreaFlags2 = 0x02;
  EXPECT_EQ(WantsFastMail(h, r, 0), 1);
  h.Attribute = 0x10;
  EXPECT_EQ(WantsFastMail(h, r, 0), 0);  // received
  h.Attribute = 0;
  Pas(h.WhoTo, "aLl");
  EXPECT_EQ(WantsFastMail(h, r, 0), 0);
  r.AreaType = 5;
  EXPECT_EQ(WantsFastMail(h, r, 1), 1);
  Pas(h.WhoTo, "SYSOP");
  r.AreaType = 7;
  EXPECT_EQ(WantsFastMail(h, r, 1), 0);  // skipped type 7
  EXPECT_EQ(WantsFastMail(h, r, 0), 1);  // packed type 7
}

class Attachments : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(Config.FileAttachPath, 0, sizeof Config.FileAttachPath);
    attach = dir.Board() + "Attach\\";
    Pas(Config.FileAttachPath, attach);
    vt::MakeDirs(dir / "Attach/~@000123");
  }
  vt::TempDir dir;
  std::string attach;
};

TEST_F(Attachments, FilesInTheirDirectoryGoAndTheDirectoryWithThem) {
  // Stored in lower case: the upper-cased words still find them.
  vt::WriteFile(dir / "Attach/~@000123/report.zip", "r");
  vt::WriteFile(dir / "Attach/~@000123/data.txt", "d");
  std::string subject = " " + attach + "~@000123\\REPORT.ZIP  " + attach + "~@000123\\DATA.TXT";
  EraseFileAttaches(subject);
  EXPECT_TRUE(subject.empty());
  EXPECT_FALSE(vt::FileExists(dir / "Attach/~@000123/report.zip"));
  EXPECT_FALSE(vt::FileExists(dir / "Attach/~@000123"));
}

TEST_F(Attachments, WildcardsOutsideTheAttachDirectoryRemoveNoDirectory) {
  vt::MakeDirs(dir / "UPLOADS/SUB.ZIP");
  vt::WriteFile(dir / "UPLOADS/A.ZIP", "a");
  vt::WriteFile(dir / "UPLOADS/b.zip", "b");
  vt::WriteFile(dir / "UPLOADS/C.TXT", "c");
  vt::WriteFile(dir / "UPLOADS/.hidden.zip", "h");
  std::string subject = dir.Board() + "UPLOADS\\*.ZIP";
  EraseFileAttaches(subject);
  EXPECT_FALSE(vt::FileExists(dir / "UPLOADS/A.ZIP"));
  EXPECT_FALSE(vt::FileExists(dir / "UPLOADS/b.zip"));
  EXPECT_TRUE(vt::FileExists(dir / "UPLOADS/C.TXT"));
  EXPECT_TRUE(vt::FileExists(dir / "UPLOADS/.hidden.zip"));
  EXPECT_TRUE(vt::FileExists(dir / "UPLOADS/SUB.ZIP"));
}

TEST_F(Attachments, CleanUpRemovesOnlyEmptyEightCharacterTildeAtDirectories) {
  for (const char *d : {"~@ABCDEF", "~@ABCDE", "~@ABCDEFG", "~$ABCDEF", "~@FULL01"}) vt::MakeDirs(dir / "Attach/" + d);
  vt::WriteFile(dir / "Attach/~@FULL01/x", "x");
  vt::WriteFile(dir / "Attach/~@FILE01", "plain file");
  CleanUpFileAttachPath();
  EXPECT_FALSE(vt::FileExists(dir / "Attach/~@ABCDEF"));
  EXPECT_FALSE(vt::FileExists(dir / "Attach/~@000123"));
  for (const char *kept : {"~@ABCDE", "~@ABCDEFG", "~$ABCDEF", "~@FULL01", "~@FILE01"})
    EXPECT_TRUE(vt::FileExists(dir / "Attach/" + kept)) << kept;
}

}  // namespace
