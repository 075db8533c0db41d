// E-mail paths, index files per folder and per account inbox, the account of
// the plain INBOX, and the message files: both layouts, the full and quick
// reads, and every reader fed cut files (AddressSanitizer checks the bounds).
#include <array>
#include <functional>
#include <set>

#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using msgstore_test::Le32;
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
  auto made = [](const std::string& vol, std::vector<std::string> folders) {
    const std::string email = vol + "/User/MESSAGING/Email";
    std::set<std::string> t = {vol, vol + "/User", vol + "/User/MESSAGING", email};
    for (const std::string& f : folders) t.insert(email + "/" + f);
    return t;
  };
  std::set<std::string> all =
      made("DiskOnChip", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "NONE"});
  all.merge(made("SD Card", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM"}));
  EXPECT_EQ(tree(), all);
  // A tree with its "Email" directory, in any spelling, is not repaired.
  fs::remove_all(Host("SD Card/User/MESSAGING"));
  fs::create_directories(Host("SD Card/User/MESSAGING/EMAIL"));
  fs::remove(Dir(false, kNone));
  EXPECT_EQ(EmailMsgStore_CreateDir(true) + EmailMsgStore_CreateDir(false), 2);
  all = made("DiskOnChip", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM"});
  all.insert({"SD Card", "SD Card/User", "SD Card/User/MESSAGING", "SD Card/User/MESSAGING/EMAIL"});
  EXPECT_EQ(tree(), all);
  // Phone memory takes "\DiskOnChip\User" to exist; no card, nothing made.
  fs::remove_all(Host("DiskOnChip/User"));
  RemoveCard();
  EXPECT_EQ(EmailMsgStore_CreateDir(false) + EmailMsgStore_CreateDir(true), 2);
  EXPECT_EQ(tree(), std::set<std::string>{"DiskOnChip"});
}

TEST_F(EmailIndex, FilesPerFolderAndPerAccountInboxNewestFirst) {
  for (DWORD folder : {1u, 7u, 8u, 9u, 11u, 12u, kAccount, kOther})
    EmailMsgStore_AddMsgToIni(100 + folder % 100, folder, {folder % 1000, 0});
  EXPECT_EQ(Index(kInbox), (Records{{1, 101, 1}}));
  EXPECT_EQ(Index(12), (Records{{12, 112, 12}}));
  EXPECT_EQ(Index(kAccount), (Records{{kAccount, 171, 371}}));
  EXPECT_EQ(Index(kOther), (Records{{kOther, 129, 629}}));
  for (DWORD folder : {7u, 8u, 9u, 11u}) EXPECT_FALSE(fs::exists(IndexFile(folder))) << folder;
  EXPECT_FALSE(fs::exists(Dir(false, kNone) + "/EmailIni"));
  CMsgList list;
  ASSERT_EQ(EmailMsgStore_GetQuickMsgList(list, kOther), 1u);
  EXPECT_EQ(list[0].byFolder, kOther & 0xFF);
  ASSERT_EQ(EmailMsgStore_GetQuickMsgList(list, kAccount), 1u);
  EXPECT_EQ(std::make_tuple(list[0].bMemoryCard, list[0].byFolder, list[0].dwOid),
            std::make_tuple(0, 3, 171u));
  // An empty index file is left alone and lists nothing; neither do folders
  // without index, which leave the list as it was.
  Store({}, IndexFile(kSent));
  EmailMsgStore_AddMsgToIni(1, kSent, {1, 0});
  EXPECT_EQ(fs::file_size(IndexFile(kSent)), 0u);
  for (DWORD folder : {kSent, 0u, 9u}) EXPECT_EQ(EmailMsgStore_GetQuickMsgList(list, folder), 0u);
  EXPECT_EQ(list.GetSize(), 1);

  // Records go only under the folder field they were added with; the last
  // one removed takes its file along.
  EmailMsgStore_DeleteMsgFromIni(171, kInbox);
  EmailMsgStore_DeleteMsgFromIni(101, kAccount);
  EXPECT_EQ(Index(kAccount).size() + Index(kInbox).size(), 2u);
  EmailMsgStore_DeleteMsgFromIni(171, kAccount);
  EXPECT_FALSE(fs::exists(IndexFile(kAccount)));

  // Newest first as 64-bit times, a tie puts the later record first; the
  // first match goes.
  for (DWORD t : {1u, 5u, 3u, 3u}) EmailMsgStore_AddMsgToIni(t + 20, kDraft, {t, 0});
  EmailMsgStore_AddMsgToIni(23, kDraft, {0, 1});
  EXPECT_EQ(Index(kDraft),
            (Records{{2, 23, uint64_t{1} << 32}, {2, 25, 5}, {2, 23, 3}, {2, 23, 3}, {2, 21, 1}}));
  EmailMsgStore_DeleteMsgFromIni(23, kDraft);
  EXPECT_EQ(Index(kDraft), (Records{{2, 25, 5}, {2, 23, 3}, {2, 23, 3}, {2, 21, 1}}));
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

  struct Step {
    std::function<void()> change;
    std::u16string phone, card;
  } const steps[] = {
      {[] {}, u"<failed>", u"<failed>"},
      {[] { msgstore_test::SetAccountUniqueId(u"fifteen-chars-1", kAccount); }, u"<failed>",
       u"<failed>"},
      {[] { msgstore_test::SetIncomingServerName(u"fifteen-chars-1"); }, u"mine", u"card"},
      {[] { msgstore_test::SetIncomingServerName(u"unknown"); }, u"<failed>", u"<failed>"},
      {[] { msgstore_test::SetAccountUniqueId(u"unknown", kOther); }, u"other", u"<failed>"},
      // A preferences key without the value names the key "Accounts\".
      {[] {
         fs::remove_all(fs::path(msgstore::GetDeviceRoot()) / ".platform/registry");
         msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Preferences", u"Other",
                                         REG_DWORD, "\1\0\0\0", 4);
         msgstore_test::SetAccountUniqueId(u"", 0);
       },
       u"nobody", u"<failed>"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(&s - steps);
    s.change();
    EXPECT_EQ(quick(false, kInbox), s.phone);
    EXPECT_EQ(quick(true, kInbox), s.card);
  }
}

class EmailFile : public msgstore_test::EmailTest {
 protected:
  void SetUp() override {
    EmailTest::SetUp();
    p_.bRead = 1, p_.wStatus = 0xBEEF, p_.ftIndexTime = {0x89ABCDEF, 0x01D2E3F4}, p_.dwFolder = 3;
    p_.dwOid = 0x80000001, p_.dwUser1 = 0x11223344, p_.wUser2 = 0xFEDC;
    p_.pszSubject = subject_, p_.pszText1 = text1_, p_.pszText2 = text2_;
    p_.pData = data_, p_.cbData = sizeof data_;
    e_.wQuickValue = 0xA55A, e_.dwAccountId = kAccount, e_.pszEmailText2 = text2_;
  }
  int Write(bool old) {
    return old ? EmailMsgStore_WriteToFileOld(path_, &p_, &e_)
               : EmailMsgStore_WriteToFile(path_, &p_, &e_);
  }
  // Every reader on bytes: full, header, quick, old full, old header.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes, File(false, kDraft, 1));
    std::array<int, 5> r{};
    for (int i = 0; i < 5; ++i) {
      tagMSGPROPS p{};
      tagEMAILMSGPROPS e{};
      const bool content = i == 0 || i == 3;
      r[i] = i == 2  ? EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &p)
             : i < 2 ? EmailMsgStore_ReadFromFile(path_, &p, &e, content)
                     : EmailMsgStore_ReadFromFileOld(path_, &p, &e, content);
      EXPECT_TRUE(!r[i] || !content || p.pData[p.cbData] == 0) << i;
      EmailMsgStore_FreeMsgProps(&p, &e);
    }
    return r;
  }
  WCHAR path_[48] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\1.email";
  WCHAR subject_[3] = u"Hi", text1_[4] = u"one", text2_[3] = u"t2";
  BYTE data_[5] = {0x00, 0x01, 0xFF, 0x7F, 0x80};
  tagMSGPROPS p_{};
  tagEMAILMSGPROPS e_{};
};

TEST_F(EmailFile, EmptyRecordLayoutsAndFullReadsOfBoth) {
  tagMSGPROPS p{};
  tagEMAILMSGPROPS e{};
  Store(Bytes(500, 0xAA), File(false, kDraft, 1));
  ASSERT_EQ(EmailMsgStore_WriteToFile(path_, &p, &e), 1);
  Bytes current = Le32(36), length = Le32(90);
  current.insert(current.end(), length.begin(), length.end());
  current.resize(94, 0);
  EXPECT_EQ(Load(File(false, kDraft, 1)), current);
  ASSERT_EQ(EmailMsgStore_WriteToFileOld(path_, &p, &e), 1);
  Bytes old = Le32(84);
  old.resize(88, 0);
  EXPECT_EQ(Load(File(false, kDraft, 1)), old);

  for (bool isOld : {false, true}) {
    ASSERT_EQ(Write(isOld), 1);
    ASSERT_EQ(isOld ? EmailMsgStore_ReadFromFileOld(path_, &p, &e, true)
                    : EmailMsgStore_ReadFromFile(path_, &p, &e, true),
              1);
    EXPECT_EQ(std::u16string(p.pszSubject) + p.pszText1, u"Hione");
    EXPECT_EQ(p.pszText2 == nullptr, isOld) << "the old layout has no text2";
    EXPECT_EQ(std::make_tuple(p.dwOid, p.dwUser1, p.wUser2, e.wQuickValue, e.dwAccountId),
              std::make_tuple(p_.dwOid, p_.dwUser1, p_.wUser2, e_.wQuickValue, kAccount));
    EXPECT_EQ(Bytes(p.pData, p.pData + p.cbData + 1), Bytes({0x00, 0x01, 0xFF, 0x7F, 0x80, 0}));
    EmailMsgStore_FreeMsgProps(&p, &e);
  }
}

TEST_F(EmailFile, QuickReadFillsTheQuickPartOnlyWithTheQuickValueInWUser2) {
  ASSERT_EQ(Write(false), 1);
  tagMSGPROPS q{};
  WCHAR mine[] = u"x";
  q.pszText1 = mine, q.pData = data_, q.cbData = 2, q.dwUser1 = 11, q.dwUser3 = 16;
  ASSERT_EQ(EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &q), 1);
  EXPECT_EQ(
      std::make_tuple(q.dwOid, q.bRead, q.wStatus, q.ftIndexTime.dwLowDateTime,
                      q.ftIndexTime.dwHighDateTime, q.dwFolder, q.wUser2),
      std::make_tuple(0x80000001u, 1, WORD{0xBEEF}, 0x89ABCDEFu, 0x01D2E3F4u, 3u, WORD{0xA55A}));
  EXPECT_EQ(std::u16string(q.pszSubject) + q.pszText2, u"Hit2");
  EXPECT_EQ(std::make_tuple(q.pszText1, q.pData, q.cbData, q.dwUser1, q.dwUser3, q.pszTo),
            std::make_tuple(mine, data_, 2u, 11u, 16u, nullptr));
  q.pszText1 = nullptr, q.pData = nullptr;
  EmailMsgStore_FreeMsgProps(&q, nullptr);
}

TEST_F(EmailFile, ReadersStayWithinCutFilesAndHugeLengths) {
  ASSERT_EQ(Write(false), 1);
  const Bytes whole = Load(File(false, kDraft, 1));
  const size_t quick = LoadU32(whole, 0), header = LoadU32(whole, 4);
  ASSERT_EQ(header + 4 + sizeof data_, whole.size());
  for (size_t len = 0; len <= whole.size(); ++len) {
    SCOPED_TRACE(len);
    const std::array<int, 5> r = ReadAll(Bytes(whole.begin(), whole.begin() + len));
    EXPECT_EQ(r[0], len == whole.size() ? 1 : 0);
    EXPECT_EQ(r[1], len >= header ? 1 : 0);
    // The quick read asks for 4 bytes past the quick part.
    EXPECT_TRUE((len >= quick && len < quick + 4) || r[2] == (len >= quick ? 1 : 0));
  }
  for (uint32_t huge : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(huge);
    // cbData past the end fails the full read only; a header length past the
    // end is not used by the full read, which parses the fields in order.
    Bytes f = whole;
    for (size_t at : {header, size_t{4}}) {
      std::copy_n(Le32(huge).begin(), 4, f.begin() + at);
      const std::array<int, 5> r = ReadAll(f);
      EXPECT_EQ(r[0], at == 4 ? 1 : 0);
      EXPECT_TRUE(at != header || r[1] == 1);
      f = whole;
    }
  }
}

}  // namespace
