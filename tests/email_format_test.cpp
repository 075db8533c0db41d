// E-mail account INBOX paths, the tree, index files per folder and per account inbox, the
// account of the plain INBOX, and the message files: both layouts and the
// quick read. (Cut files are the shared layout reader's, fed them by the MMS
// and EMS tests and the fuzzers.)
#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::ByteBuilder;
using msgstore_test::Bytes;
using msgstore_test::Load;

// The account comes first in an account INBOX file's name, though second
// among the arguments (where each folder lies: stores_test.cpp); an account's
// folder value names no file of its own.
TEST(EmailPaths, AccountInboxFileNames) {
  WCHAR p[MAX_PATH] = {};
  EXPECT_EQ(EmailMsgStore_GetFilePath(false, 5, 805306371u, p), 0);
  ASSERT_EQ(EmailMsgStore_GetFilePathInbox(true, 0x80000000, 0xFFFFFFFE, p), 1);
  EXPECT_EQ(std::u16string(p), u"\\SD Card\\User\\MESSAGING\\EMAIL\\INBOX\\-2_-2147483648.email");
}

using EmailIndex = msgstore_test::EmailTest;

// CreateDir: a tree with its "Email" directory, in any spelling, is not
// repaired. The quick read finds the plain INBOX's
// account in the registry.
TEST_F(EmailIndex, CreateDirProbesTheEmailDirectoryAndQuickReadFindsThePlainInboxAccount) {
  fs::remove_all(Host("SD Card/User/MESSAGING"));
  fs::create_directories(Host("SD Card/User/MESSAGING/EMAIL"));
  EXPECT_EQ(EmailMsgStore_CreateDir(true), 1);
  EXPECT_TRUE(fs::is_empty(Host("SD Card/User/MESSAGING/EMAIL")));
  fs::remove_all(Host(".platform/registry"));
  Put(false, kInbox, 7, 70, 0, kAccount, u"mine");
  Put(false, kInbox, 7, 72, 0, kOther, u"other");
  Put(false, kInbox, 7, 73, 0, 0, u"nobody");
  auto quick = [](DWORD folder) {
    tagMSGPROPS p{};
    std::u16string subject = u"<failed>";
    if (EmailMsgStore_QuickReadFromFile(false, folder, 7, &p) == 1) subject = p.pszSubject;
    EmailMsgStore_FreeMsgProps(&p, nullptr);
    return subject;
  };
  // Folder values of 12 and more are accounts.
  EXPECT_EQ(quick(kOther), u"other");
  // The account named as the incoming server's, with its identifier, as the
  // e-mail application names them.
  const DWORD id = kAccount;
  msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Accounts\\fifteen-chars-1",
                                  u"AccountUniqueID", REG_DWORD, &id, 4);
  EXPECT_EQ(quick(kInbox), u"<failed>");
  msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Preferences",
                                  u"IncomingServerAccount", REG_SZ, u"fifteen-chars-1", 32);
  EXPECT_EQ(quick(kInbox), u"mine");
  // A name of 16 characters does not fit the 32 bytes read.
  msgstore_test::SetAccountUniqueId(u"sixteen-chars-12", kAccount);
  msgstore_test::SetIncomingServerName(u"sixteen-chars-12");
  EXPECT_EQ(quick(kInbox), u"<failed>");
}

struct Sample : msgstore_test::SampleProps {
  WCHAR emailText1[4] = u"et1", emailText2[6] = u"et-02";
  tagEMAILMSGPROPS e{0xA55A, 0x01020304, emailText1, emailText2, -7, 805306371, 0xF0E0D0C0};
};

// The file of (p, e) in the current (or the old) layout.
Bytes Expected(const tagMSGPROPS& p, const tagEMAILMSGPROPS& e, bool old) {
  return msgstore_test::Layout(p, old, true, [&e](ByteBuilder& b, int part) {
    if (part != 1) b.U16(e.wQuickValue);
    if (part == 0) return;
    b.U32(e.dwEmailData1).Str(e.pszEmailText1).Str(e.pszEmailText2).U32(e.dwReadReportStatus);
    b.U32(e.dwAccountId).U32(e.dwEmailData2);
  });
}

using EmailFile = msgstore_test::EmailTest;

TEST_F(EmailFile, BothLayoutsAreExactAndTheQuickReadPutsTheQuickValueInWUser2) {
  WCHAR path[] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\1.email";
  Sample s;
  for (bool old : {true, false}) {
    ASSERT_EQ(old ? EmailMsgStore_WriteToFileOld(path, &s.p, &s.e)
                  : EmailMsgStore_WriteToFile(path, &s.p, &s.e),
              1);
    EXPECT_EQ(Load(File(false, kDraft, 1)), Expected(s.p, s.e, old)) << old;
  }
  tagMSGPROPS q{};
  ASSERT_EQ(EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &q), 1);
  EXPECT_EQ(std::make_tuple(q.dwOid, q.wStatus, q.ftIndexTime.dwHighDateTime, q.wUser2, q.pszTo),
            std::make_tuple(0x80000001u, WORD{0xBEEF}, 0x01D2E3F4u, WORD{0xA55A}, nullptr));
  EXPECT_EQ(std::u16string(q.pszSubject) + q.pszText2, u"Hit2");
  EmailMsgStore_FreeMsgProps(&q, nullptr);
}

}  // namespace
