// E-mail paths, index files per folder and per account inbox, the account of
// the plain INBOX, and the message files: both layouts, the full and quick
// reads, and every reader fed cut files (AddressSanitizer checks the bounds).
#include <array>
#include <set>

#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::ByteBuilder;
using msgstore_test::Bytes;
using msgstore_test::Load;
using msgstore_test::LoadU32;
using msgstore_test::Store;

enum Kind { kFolderPath, kFilePath, kInboxPath };

// A refusal must leave the buffer as it was.
std::u16string Path(Kind kind, bool card, DWORD a, DWORD b = 0) {
  WCHAR p[MAX_PATH];
  std::fill(p, p + MAX_PATH, static_cast<WCHAR>(0xFFFF));
  const int ok = kind == kFolderPath ? EmailMsgStore_GetFolderPath(card, a, p)
                 : kind == kFilePath ? EmailMsgStore_GetFilePath(card, b, a, p)
                                     : EmailMsgStore_GetFilePathInbox(card, b, a, p);
  if (ok) return p;
  EXPECT_TRUE(std::all_of(p, p + MAX_PATH, [](WCHAR c) { return c == 0xFFFF; }));
  return u"<refused>";
}

TEST(EmailPaths, FolderFileAndAccountInboxPaths) {
  const std::u16string P = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\",
                       C = u"\\SD Card\\User\\MESSAGING\\EMAIL\\", refused = u"<refused>";
  EXPECT_EQ(Path(kFolderPath, false, EMAIL_FOLDER_INBOX), P + u"INBOX");
  EXPECT_EQ(Path(kFolderPath, true, EMAIL_FOLDER_SPAM), C + u"SPAM");
  EXPECT_EQ(Path(kFolderPath, true, EMAIL_FOLDER_NONE), P + u"NONE");
  EXPECT_EQ(Path(kFilePath, false, EMAIL_FOLDER_DRAFT, 0xFFFFFFFF), P + u"DRAFT\\-1.email");
  EXPECT_EQ(Path(kFilePath, true, EMAIL_FOLDER_REPORT, 2147483647),
            C + u"REPORT\\2147483647.email");
  EXPECT_EQ(Path(kFilePath, false, EMAIL_FOLDER_INBOX, 5), refused);
  EXPECT_EQ(Path(kFilePath, true, EMAIL_FOLDER_NONE, 5), refused);
  for (DWORD folder : {0u, 7u, 9u, 11u, 12u, 805306371u}) {
    EXPECT_EQ(Path(kFolderPath, false, folder), refused) << folder;
    EXPECT_EQ(Path(kFilePath, true, folder, 1), refused) << folder;
  }
  // The account comes first in the name, though second among the arguments.
  EXPECT_EQ(Path(kInboxPath, false, 805306371, 17), P + u"INBOX\\805306371_17.email");
  EXPECT_EQ(Path(kInboxPath, true, 0xFFFFFFFE, 0x80000000), C + u"INBOX\\-2_-2147483648.email");
}

using EmailIndex = msgstore_test::EmailTest;

TEST_F(EmailIndex, CreateDirProbesOnlyTheEmailDirectoryOfEachTree) {
  auto tree = [this] {
    std::set<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      const std::string rel = fs::relative(e.path(), root_).string();
      if (rel.rfind(".platform", 0) != 0) all.insert(rel);
    }
    return all;
  };
  // The e-mail directory and its first n folders on each volume.
  auto made = [](int phone, int card) {
    const char* const kDirs[] = {"",        "/INBOX",  "/DRAFT", "/SENT",
                                 "/UNSENT", "/REPORT", "/SPAM",  "/NONE"};
    std::set<std::string> t;
    for (std::string vol : {"DiskOnChip", "SD Card"}) {
      t.insert({vol, vol + "/User", vol + "/User/MESSAGING"});
      for (int i = 0; i < (vol == "SD Card" ? card : phone); ++i)
        t.insert(vol + "/User/MESSAGING/Email" + kDirs[i]);
    }
    return t;
  };
  EXPECT_EQ(tree(), made(8, 7));
  // A tree with its "Email" directory, in any spelling, is not repaired.
  fs::remove_all(Host("SD Card/User/MESSAGING"));
  fs::create_directories(Host("SD Card/User/MESSAGING/EMAIL"));
  fs::remove(Dir(false, kNone));
  EXPECT_EQ(EmailMsgStore_CreateDir(true) + EmailMsgStore_CreateDir(false), 2);
  std::set<std::string> all = made(7, 0);
  all.insert("SD Card/User/MESSAGING/EMAIL");
  EXPECT_EQ(tree(), all);
  // Phone memory takes "\DiskOnChip\User" to exist; no card, nothing made.
  fs::remove_all(Host("DiskOnChip/User"));
  RemoveCard();
  EXPECT_EQ(EmailMsgStore_CreateDir(false) + EmailMsgStore_CreateDir(true), 2);
  EXPECT_EQ(tree(), std::set<std::string>{"DiskOnChip"});
}

// Order, ties and removal are the shared index code's; here the e-mail
// files, their folder keys and the folders without an index.
TEST_F(EmailIndex, FilesPerFolderAndPerAccountInbox) {
  for (DWORD folder : {1u, 2u, 6u, 7u, 8u, 9u, 11u, 12u, kAccount, kOther})
    EmailMsgStore_AddMsgToIni(100 + folder % 100, folder, {folder % 1000, 0});
  EXPECT_EQ(Load(IndexFile(kInbox)), (Bytes{1, 0, 0, 0, 101, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  for (DWORD folder : {2u, 6u, 12u, kAccount, kOther})
    EXPECT_EQ(Index(folder), (Records{{folder, 100 + folder % 100, folder % 1000}})) << folder;
  EXPECT_TRUE(fs::exists(Dir(false, kInbox) + "/805306371_EmailIni"));
  for (DWORD folder : {7u, 8u, 9u, 11u}) EXPECT_FALSE(fs::exists(IndexFile(folder))) << folder;
  EXPECT_FALSE(fs::exists(Dir(false, kNone) + "/EmailIni"));
  CMsgList list;
  ASSERT_EQ(EmailMsgStore_GetQuickMsgList(list, kOther), 1u);
  EXPECT_EQ(list[0].byFolder, kOther & 0xFF);
  ASSERT_EQ(EmailMsgStore_GetQuickMsgList(list, kAccount), 1u);
  EXPECT_EQ(std::make_tuple(list[0].bMemoryCard, list[0].byFolder, list[0].dwOid),
            std::make_tuple(0, 3, 171u));
  for (DWORD folder : {0u, 9u}) EXPECT_EQ(EmailMsgStore_GetQuickMsgList(list, folder), 0u);
  EXPECT_EQ(list.GetSize(), 1);
  // Records go only under the folder key they were added with.
  EmailMsgStore_DeleteMsgFromIni(171, kInbox);
  EmailMsgStore_DeleteMsgFromIni(101, kAccount);
  EXPECT_EQ(Index(kAccount).size() + Index(kInbox).size(), 2u);
  EmailMsgStore_DeleteMsgFromIni(171, kAccount);
  EXPECT_FALSE(fs::exists(IndexFile(kAccount)));
}

TEST_F(EmailIndex, QuickReadFindsThePlainInboxAccountInTheRegistry) {
  fs::remove_all(Host(".platform/registry"));
  Put(false, kInbox, 7, 70, 0, kAccount, u"mine");
  Put(true, kInbox, 7, 71, 0, kAccount, u"card");
  Put(false, kInbox, 7, 72, 0, kOther, u"other");
  Put(false, kInbox, 7, 73, 0, 0, u"nobody");
  auto quick = [](bool card, DWORD folder) {
    tagMSGPROPS p{};
    std::u16string subject = u"<failed>";
    if (EmailMsgStore_QuickReadFromFile(card, folder, 7, &p) == 1) subject = p.pszSubject;
    EmailMsgStore_FreeMsgProps(&p, nullptr);
    return subject;
  };
  // Folder values of 12 and more are accounts; 7 to 11 are refused.
  EXPECT_EQ(quick(true, kAccount), u"card");
  EXPECT_EQ(quick(false, kOther), u"other");
  for (DWORD folder : {0u, 7u, 8u, 11u}) EXPECT_EQ(quick(false, folder), u"<failed>");

  // Set the incoming-server account's name, then an account's identifier.
  const std::tuple<const char16_t*, const char16_t*, DWORD, std::u16string, std::u16string>
      steps[] = {{nullptr, nullptr, 0, u"<failed>", u"<failed>"},
                 {nullptr, u"fifteen-chars-1", kAccount, u"<failed>", u"<failed>"},
                 {u"fifteen-chars-1", nullptr, 0, u"mine", u"card"},
                 {u"unknown", nullptr, 0, u"<failed>", u"<failed>"},
                 {nullptr, u"unknown", kOther, u"other", u"<failed>"}};
  for (const auto& [server, account, id, phone, card] : steps) {
    if (server) msgstore_test::SetIncomingServerName(server);
    if (account) msgstore_test::SetAccountUniqueId(account, id);
    EXPECT_EQ(std::make_pair(phone, card),
              std::make_pair(quick(false, kInbox), quick(true, kInbox)));
  }
  // A preferences key without the value names the key "Accounts\".
  fs::remove_all(Host(".platform/registry"));
  msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Preferences", u"Other", REG_DWORD,
                                  "\1\0\0\0", 4);
  msgstore_test::SetAccountUniqueId(u"", 0);
  EXPECT_EQ(std::make_pair(quick(false, kInbox), quick(true, kInbox)),
            std::make_pair(std::u16string(u"nobody"), std::u16string(u"<failed>")));
}

struct Sample : msgstore_test::SampleProps {
  WCHAR emailText1[4] = u"et1", emailText2[6] = u"et-02";
  tagEMAILMSGPROPS e{0xA55A, 0x01020304, emailText1, emailText2, -7, 805306371, 0xF0E0D0C0};
};

// The file of (p, e) in the current (or the old) layout. (The readers walk
// the layout that the writer does; the MMS tests read both back.)
Bytes Expected(const tagMSGPROPS& p, const tagEMAILMSGPROPS& e, bool old) {
  return msgstore_test::Layout(p, old, true, [&e](ByteBuilder& b, int part) {
    if (part != 1) b.U16(e.wQuickValue);
    if (part == 0) return;
    b.U32(e.dwEmailData1).Str(e.pszEmailText1).Str(e.pszEmailText2).U32(e.dwReadReportStatus);
    b.U32(e.dwAccountId).U32(e.dwEmailData2);
  });
}

class EmailFile : public msgstore_test::EmailTest {
 protected:
  int Write(tagMSGPROPS* p, tagEMAILMSGPROPS* e, bool old, WCHAR* path = nullptr) {
    path = path ? path : path_;
    return old ? EmailMsgStore_WriteToFileOld(path, p, e) : EmailMsgStore_WriteToFile(path, p, e);
  }
  int Read(tagMSGPROPS* p, tagEMAILMSGPROPS* e, bool old, bool content) {
    return old ? EmailMsgStore_ReadFromFileOld(path_, p, e, content)
               : EmailMsgStore_ReadFromFile(path_, p, e, content);
  }
  Bytes Written() const { return Load(File(false, kDraft, 1)); }
  // Every reader on bytes: full, header, quick, old full, old header.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes, File(false, kDraft, 1));
    std::array<int, 5> r{};
    for (int i = 0; i < 5; ++i) {
      tagMSGPROPS p{};
      tagEMAILMSGPROPS e{};
      const bool content = i == 0 || i == 3;
      r[i] = i == 2 ? EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &p)
                    : Read(&p, &e, i > 2, content);
      EXPECT_TRUE(!r[i] || i == 2 || (content ? p.pData[p.cbData] == 0 : p.pData == nullptr));
      EmailMsgStore_FreeMsgProps(&p, &e);
    }
    return r;
  }
  WCHAR path_[48] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\1.email";
};

TEST_F(EmailFile, BothLayoutsAreExact) {
  tagMSGPROPS p{};
  tagEMAILMSGPROPS e{};
  Store(Bytes(500, 0xAA), File(false, kDraft, 1));
  ASSERT_EQ(Write(&p, &e, false), 1);
  EXPECT_EQ(Written(), ByteBuilder().U32(36).U32(90).Raw(Bytes(86, 0)).b);
  ASSERT_EQ(Write(&p, &e, true), 1);
  EXPECT_EQ(Written(), ByteBuilder().U32(84).Raw(Bytes(84, 0)).b);
  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(Write(&s.p, &s.e, old), 1);
    EXPECT_EQ(Written(), Expected(s.p, s.e, old)) << old;
  }
  WCHAR missing[] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\GONE\\1.email";
  for (bool old : {false, true}) EXPECT_EQ(Write(&s.p, &s.e, old, missing), 0);
}

TEST_F(EmailFile, QuickReadFillsTheQuickPartOnlyWithTheQuickValueInWUser2) {
  Sample s;
  ASSERT_EQ(Write(&s.p, &s.e, false), 1);
  tagMSGPROPS q{};
  WCHAR mine[] = u"x";
  q.pszText1 = mine, q.pData = s.data, q.cbData = 2, q.dwUser1 = 11, q.dwUser3 = 16;
  ASSERT_EQ(EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &q), 1);
  EXPECT_EQ(
      std::make_tuple(q.dwOid, q.bRead, q.wStatus, q.ftIndexTime.dwLowDateTime,
                      q.ftIndexTime.dwHighDateTime, q.dwFolder, q.wUser2),
      std::make_tuple(0x80000001u, 1, WORD{0xBEEF}, 0x89ABCDEFu, 0x01D2E3F4u, 3u, WORD{0xA55A}));
  EXPECT_EQ(std::u16string(q.pszSubject) + q.pszText2, u"Hit2");
  EXPECT_EQ(std::make_tuple(q.pszText1, q.pData, q.cbData, q.dwUser1, q.dwUser3, q.pszTo),
            std::make_tuple(mine, s.data, 2u, 11u, 16u, nullptr));
  q.pszText1 = nullptr, q.pData = nullptr;
  EmailMsgStore_FreeMsgProps(&q, nullptr);
}

// A file whose fields or content run past its end is unreadable; the header
// read needs the header only, the quick read the quick part and 4 bytes.
// (The shared field reader and the fuzzers cover the bounds at every offset.)
TEST_F(EmailFile, ReadersOfCutFiles) {
  Sample s;
  ASSERT_EQ(Write(&s.p, &s.e, false), 1);
  const Bytes whole = Written();
  const size_t quick = LoadU32(whole, 0), header = LoadU32(whole, 4);
  ASSERT_EQ(header + 4 + sizeof s.data, whole.size());
  for (size_t len : {size_t{0}, quick - 1, quick + 4, header - 1, header, whole.size() - 1}) {
    const std::array<int, 5> r = ReadAll(Bytes(whole.begin(), whole.begin() + len));
    EXPECT_EQ((std::array<int, 3>{0, len >= header, len >= quick + 4}),
              (std::array<int, 3>{r[0], r[1], r[2]}))
        << len;
  }
  EXPECT_EQ(ReadAll(ByteBuilder{whole}.Patch(header).b)[0], 0) << "cbData past the end";
}

}  // namespace
