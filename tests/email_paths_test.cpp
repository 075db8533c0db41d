// E-mail folder tree and paths, the index file of each folder and account
// inbox, and the account of the plain INBOX as the registry names it.
#include <functional>
#include <map>
#include <set>

#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Builder;
using msgstore_test::Bytes;
using Result = std::pair<int, std::u16string>;

enum Kind { kFolderPath, kFilePath, kInboxPath };

// A refusal must leave the buffer as it was.
Result Path(Kind kind, bool card, DWORD a, DWORD b = 0) {
  WCHAR p[MAX_PATH];
  std::fill(p, p + MAX_PATH, static_cast<WCHAR>(0xFFFF));
  const int ok = kind == kFolderPath ? EmailMsgStore_GetFolderPath(card, a, p)
                 : kind == kFilePath ? EmailMsgStore_GetFilePath(card, b, a, p)
                                     : EmailMsgStore_GetFilePathInbox(card, b, a, p);
  if (!ok) {
    EXPECT_TRUE(std::all_of(p, p + MAX_PATH, [](WCHAR c) { return c == 0xFFFF; }));
    return {ok, u""};
  }
  EXPECT_NE(std::find(p, p + MAX_PATH, 0), p + MAX_PATH);
  return {ok, std::u16string(p)};
}

TEST(EmailPaths, FolderFileAndInboxPathsOnBothStorages) {
  const std::u16string P = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\";
  const std::u16string C = u"\\SD Card\\User\\MESSAGING\\EMAIL\\";
  struct Row {
    DWORD folder, oid;
    std::u16string dir, name;  // name "": no message file path
  };
  const Row rows[] = {
      {1, 5, u"INBOX", u""},
      {2, 0xFFFFFFFFu, u"DRAFT", u"\\-1.email"},
      {3, 2147483648u, u"SENT", u"\\-2147483648.email"},
      {4, 0, u"UNSENT", u"\\0.email"},
      {5, 2147483647u, u"REPORT", u"\\2147483647.email"},
      {6, 5, u"SPAM", u"\\5.email"},
  };
  auto ok = [](const std::u16string& s) { return Result(!s.empty(), s); };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder);
    EXPECT_EQ(Path(kFolderPath, false, r.folder), ok(P + r.dir));
    EXPECT_EQ(Path(kFolderPath, true, r.folder), ok(C + r.dir));
    EXPECT_EQ(Path(kFilePath, false, r.folder, r.oid),
              ok(r.name.empty() ? u"" : P + r.dir + r.name));
    EXPECT_EQ(Path(kFilePath, true, r.folder, r.oid),
              ok(r.name.empty() ? u"" : C + r.dir + r.name));
  }
  // NONE is the phone directory for both selectors and has no file path.
  for (bool card : {false, true}) {
    EXPECT_EQ(Path(kFolderPath, card, 8), ok(P + u"NONE"));
    EXPECT_EQ(Path(kFilePath, card, 8, 3), Result(0, u""));
  }
  for (DWORD folder : {0u, 7u, 9u, 10u, 11u, 12u, 805306371u, 0xFFFFFFFFu})
    for (bool card : {false, true}) {
      EXPECT_EQ(Path(kFolderPath, card, folder), Result(0, u"")) << folder;
      EXPECT_EQ(Path(kFilePath, card, folder, 1), Result(0, u"")) << folder;
    }
  // Account first, although the message comes first among the arguments.
  EXPECT_EQ(Path(kInboxPath, false, 805306371, 17), ok(P + u"INBOX\\805306371_17.email"));
  EXPECT_EQ(Path(kInboxPath, true, 805306371, 17), ok(C + u"INBOX\\805306371_17.email"));
  EXPECT_EQ(Path(kInboxPath, true, 0xFFFFFFFEu, 0x80000000u),
            ok(C + u"INBOX\\-2_-2147483648.email"));
  EXPECT_EQ(Path(kInboxPath, false, 0, 0), ok(P + u"INBOX\\0_0.email"));
}

class EmailStore : public msgstore_test::EmailTest {
 protected:
  // Every directory and file under the device root but the platform's own.
  std::set<std::string> Tree() {
    std::set<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      const std::string rel = fs::relative(e.path(), root_).string();
      if (rel.rfind(".platform", 0) != 0) all.insert(rel);
    }
    return all;
  }
  // Every index file, by its name under the phone e-mail tree.
  std::map<std::string, Bytes> Indexes() {
    std::map<std::string, Bytes> all;
    const fs::path tree = Host("DiskOnChip/User/MESSAGING/Email");
    for (const auto& e : fs::recursive_directory_iterator(tree)) {
      const std::string name = e.path().filename().string();
      if (name.size() >= 8 && name.compare(name.size() - 8, 8, "EmailIni") == 0)
        all[fs::relative(e.path(), tree).string()] = Load(e.path().string());
    }
    return all;
  }
};

TEST_F(EmailStore, CreateDirMakesEachTreeOnlyWhenItsEmailDirectoryIsMissing) {
  fs::remove_all(root_);
  fs::create_directories(root_ + "/DiskOnChip");
  std::set<std::string> all = {"DiskOnChip"};
  // Phone memory takes "\DiskOnChip\User" to exist: without it nothing is made.
  EXPECT_EQ(EmailMsgStore_CreateDir(false), 1);
  EXPECT_EQ(Tree(), all);
  EXPECT_EQ(EmailMsgStore_CreateDir(true), 1);  // no card
  EXPECT_EQ(Tree(), all);

  auto tree = [](const std::string& vol, std::vector<std::string> folders) {
    const std::string email = vol + "/User/MESSAGING/Email";
    std::set<std::string> t = {vol, vol + "/User", vol + "/User/MESSAGING", email};
    for (const std::string& f : folders) t.insert(email + "/" + f);
    return t;
  };
  fs::create_directories(root_ + "/DiskOnChip/User");
  all = tree("DiskOnChip", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "NONE"});
  EXPECT_EQ(EmailMsgStore_CreateDir(false), 1);
  EXPECT_EQ(Tree(), all);
  fs::create_directories(root_ + "/SD Card");
  all.merge(tree("SD Card", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM"}));
  EXPECT_EQ(EmailMsgStore_CreateDir(true), 1);
  EXPECT_EQ(Tree(), all);

  // The probe looks at the "Email" directory alone, in any spelling.
  fs::remove(root_ + "/SD Card/User/MESSAGING/Email/INBOX");
  fs::remove(root_ + "/DiskOnChip/User/MESSAGING/Email/NONE");
  all.erase("SD Card/User/MESSAGING/Email/INBOX");
  all.erase("DiskOnChip/User/MESSAGING/Email/NONE");
  EXPECT_EQ(EmailMsgStore_CreateDir(true), 1);
  EXPECT_EQ(EmailMsgStore_CreateDir(false), 1);
  EXPECT_EQ(Tree(), all);
  fs::remove_all(root_ + "/SD Card/User/MESSAGING");
  fs::create_directories(root_ + "/SD Card/User/MESSAGING/EMAIL");
  all = tree("DiskOnChip", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM"});
  all.insert({"SD Card", "SD Card/User", "SD Card/User/MESSAGING", "SD Card/User/MESSAGING/EMAIL"});
  EXPECT_EQ(EmailMsgStore_CreateDir(true), 1);
  EXPECT_EQ(Tree(), all);
}

// Index records, 16 bytes each: folder or account, identifier, time.
Bytes Image(const std::vector<std::vector<uint32_t>>& recs) {
  Builder b;
  for (const auto& r : recs) b.U32(r[0]).U32(r[1]).U32(r[2]).U32(0);
  return b.b;
}

TEST_F(EmailStore, IndexFilesPerFolderAndPerAccountInbox) {
  for (DWORD folder : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, kAccount, kOther})
    EmailMsgStore_AddMsgToIni(100 + folder % 100, folder, {folder % 1000, 0});
  std::map<std::string, Bytes> expected = {
      {"INBOX/EmailIni", Image({{1, 101, 1}})},
      {"DRAFT/EmailIni", Image({{2, 102, 2}})},
      {"SENT/EmailIni", Image({{3, 103, 3}})},
      {"UNSENT/EmailIni", Image({{4, 104, 4}})},
      {"REPORT/EmailIni", Image({{5, 105, 5}})},
      {"SPAM/EmailIni", Image({{6, 106, 6}})},
      {"INBOX/12_EmailIni", Image({{12, 112, 12}})},
      {"INBOX/805306371_EmailIni", Image({{kAccount, 171, 371}})},
      {"INBOX/805306629_EmailIni", Image({{kOther, 129, 629}})}};
  EXPECT_EQ(Indexes(), expected);

  // Quick lists carry the low 8 bits of the folder field.
  CMsgList list;
  list.Add({1, 1, 77});
  for (DWORD folder : {0u, 7u, 8u, 9u, 11u})
    EXPECT_EQ(EmailMsgStore_GetQuickMsgList(list, folder), 0u);
  ASSERT_EQ(list.GetSize(), 1);
  EXPECT_EQ(list[0].dwOid, 77u);
  EmailMsgStore_AddMsgToIni(7, kAccount, {900, 0});
  EXPECT_EQ(QuickList(kAccount), (Entries{{7, 3}, {171, 3}}));
  EXPECT_EQ(QuickList(kOther), (Entries{{129, 5}}));
  EXPECT_EQ(QuickList(1), (Entries{{101, 1}}));
  ASSERT_EQ(EmailMsgStore_GetQuickMsgList(list, kOther), 1u);
  EXPECT_EQ(list[0].bMemoryCard, 0);

  // Records are found under the folder field they were added with only;
  // removing the last one removes the file.
  EmailMsgStore_DeleteMsgFromIni(171, 1);
  EmailMsgStore_DeleteMsgFromIni(101, kAccount);
  EmailMsgStore_DeleteMsgFromIni(102, 8);
  EmailMsgStore_DeleteMsgFromIni(999, kAccount);
  expected["INBOX/805306371_EmailIni"] = Image({{kAccount, 7, 900}, {kAccount, 171, 371}});
  EXPECT_EQ(Indexes(), expected);
  EmailMsgStore_DeleteMsgFromIni(171, kAccount);
  EmailMsgStore_DeleteMsgFromIni(129, kOther);
  EmailMsgStore_DeleteMsgFromIni(101, 1);
  expected.erase("INBOX/805306629_EmailIni");
  expected.erase("INBOX/EmailIni");
  expected["INBOX/805306371_EmailIni"] = Image({{kAccount, 7, 900}});
  EXPECT_EQ(Indexes(), expected);

  // Newest first, a tie puts the later record first, the first match goes.
  for (DWORD t : {1u, 5u, 3u, 4u, 3u, 0u}) EmailMsgStore_AddMsgToIni(t + 20, kDraft, {t, 0});
  EmailMsgStore_AddMsgToIni(23, kDraft, {0, 1});  // times compare as 64-bit values
  const uint64_t late = uint64_t{1} << 32;
  EXPECT_EQ(Index(kDraft), (Records{{2, 23, late},
                                    {2, 25, 5},
                                    {2, 24, 4},
                                    {2, 23, 3},
                                    {2, 23, 3},
                                    {2, 102, 2},
                                    {2, 21, 1},
                                    {2, 20, 0}}));
  EmailMsgStore_DeleteMsgFromIni(23, kDraft);
  EXPECT_EQ(
      Index(kDraft),
      (Records{
          {2, 25, 5}, {2, 24, 4}, {2, 23, 3}, {2, 23, 3}, {2, 102, 2}, {2, 21, 1}, {2, 20, 0}}));

  // An empty index file is left alone and lists nothing.
  Store({}, IndexFile(kSent));
  EmailMsgStore_AddMsgToIni(1, kSent, {1, 0});
  EmailMsgStore_DeleteMsgFromIni(103, kSent);
  EXPECT_TRUE(fs::exists(IndexFile(kSent)));
  EXPECT_EQ(fs::file_size(IndexFile(kSent)), 0u);
  EXPECT_EQ(EmailMsgStore_GetQuickMsgList(list, kSent), 0u);
}

TEST_F(EmailStore, QuickReadFindsThePlainInboxAccountInTheRegistry) {
  fs::remove_all(Host(".platform/registry"));  // no registry at all
  Put(false, kInbox, 7, 70, 0, kAccount, u"mine");
  Put(true, kInbox, 7, 71, 0, kAccount, u"card");
  Put(false, kInbox, 7, 72, 0, kOther, u"other");
  Put(false, kInbox, 7, 73, 0, 0, u"nobody");
  Put(false, kDraft, 7, 74, 0, kAccount, u"draft");
  auto quick = [](bool card, DWORD folder) {
    tagMSGPROPS p{};
    std::u16string subject = u"<failed>";
    if (EmailMsgStore_QuickReadFromFile(card, folder, 7, &p) == 1)
      subject = p.pszSubject ? p.pszSubject : u"";
    EmailMsgStore_FreeMsgProps(&p, nullptr);
    return subject;
  };
  // Folder values of 12 and more are accounts; 7 to 11 and NONE are refused.
  EXPECT_EQ(quick(false, kAccount), u"mine");
  EXPECT_EQ(quick(true, kAccount), u"card");
  EXPECT_EQ(quick(false, kOther), u"other");
  EXPECT_EQ(quick(false, kDraft), u"draft");
  for (DWORD folder : {0u, 7u, 8u, 9u, 11u}) EXPECT_EQ(quick(false, folder), u"<failed>");

  struct Step {
    std::function<void()> change;
    std::u16string phone, card;
  };
  const Step steps[] = {
      {[] {}, u"<failed>", u"<failed>"},  // no preferences key
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
       },
       u"<failed>", u"<failed>"},
      {[] {
         const DWORD none = 0;
         msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Accounts\\",
                                         u"AccountUniqueID", REG_DWORD, &none, 4);
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

}  // namespace
