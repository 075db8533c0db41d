// EMS folder tree, paths, which index file each folder's records go to,
// listings, reads by position and identifier, counts, the card INBOX unread
// count and the rebuild of the phone index files.
#include <map>

#include "ems_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Words;
using Result = std::pair<int, std::u16string>;

// A refusal must leave the buffer as it was, a path must be zero-filled.
Result Path(bool card, DWORD folder, DWORD oid, bool file) {
  WCHAR p[MAX_PATH];
  std::fill(p, p + MAX_PATH, static_cast<WCHAR>(0xFFFF));
  int ok = file ? EMSMsgStore_GetFilePath(card, oid, folder, p)
                : EMSMsgStore_GetFolderPath(card, folder, p);
  std::u16string s = ok ? std::u16string(p) : u"";
  EXPECT_TRUE(
      std::all_of(p + s.size(), p + MAX_PATH, [ok](WCHAR c) { return c == (ok ? 0 : 0xFFFF); }));
  return {ok, s};
}

TEST(EmsPaths, FolderAndFilePathsOnBothStorages) {
  const std::u16string P = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\";
  const std::u16string C = u"\\SD Card\\User\\MESSAGING\\EMS\\";
  struct Row {
    DWORD folder, oid;
    std::u16string name, phone, card, cardFile;  // "": refused
  };
  const Row rows[] = {
      {1, 0, u"\\0.sms", P + u"INBOX", C + u"INBOX", C + u"INBOX"},
      {2, 0xFFFFFFFFu, u"\\-1.sms", P + u"DRAFT", C + u"DRAFT", C + u"DRAFT"},
      {3, 2147483648u, u"\\-2147483648.sms", P + u"SENT", C + u"SENT", C + u"SENT"},
      {4, 5, u"\\5.sms", P + u"UNSENT", C + u"UNSENT", C + u"UNSENT"},
      {5, 2147483647u, u"\\2147483647.sms", P + u"REPORT", u"", u""},
      {6, 14, u"\\14.sms", P + u"SPAM", C + u"SPAM", C + u"SPAM"},
      {7, 9, u"\\9.sms", P + u"SIM_INBOX", u"", P + u"SIM_INBOX"},
      {8, 12, u"\\12.sms", P + u"NONE", P + u"NONE", P + u"NONE"},
      {12, 10, u"\\10.sms", P + u"SIM_SENT", u"", P + u"SIM_SENT"},
      {13, 11, u"\\11.sms", P + u"SIM_UNSENT", u"", P + u"SIM_UNSENT"},
  };
  auto ok = [](const std::u16string& s) { return Result(!s.empty(), s); };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder);
    EXPECT_EQ(Path(false, r.folder, r.oid, false), ok(r.phone));
    EXPECT_EQ(Path(false, r.folder, r.oid, true), ok(r.phone + r.name));
    EXPECT_EQ(Path(true, r.folder, r.oid, false), ok(r.card));
    EXPECT_EQ(Path(true, r.folder, r.oid, true),
              ok(r.cardFile.empty() ? u"" : r.cardFile + r.name));
  }
  for (DWORD folder : {0u, 9u, 10u, 11u, 14u, 0x101u, 0xFFFFFFFFu})
    for (int how = 0; how < 4; ++how) EXPECT_EQ(Path(how & 1, folder, 1, how & 2), Result(0, u""));
}

using EmsStore = msgstore_test::DeviceTest;

TEST_F(EmsStore, CreateDirMakesTheExactTreesAndKeepsWhatExists) {
  auto tree = [this] {
    std::set<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      all.insert(fs::relative(e.path(), root_).string());
    return all;
  };
  std::set<std::string> all = {"SD Card"};
  const char* const folders[] = {"INBOX",  "DRAFT", "SENT",      "UNSENT",   "SPAM",
                                 "REPORT", "NONE",  "SIM_INBOX", "SIM_SENT", "SIM_UNSENT"};
  for (const std::string vol : {"DiskOnChip", "SD Card"}) {
    const std::string ems = vol + "/User/MESSAGING/EMS";
    all.insert({vol, vol + "/User", vol + "/User/MESSAGING", ems});
    for (int i = 0; i < (vol == "SD Card" ? 5 : 10); ++i) all.insert(ems + "/" + folders[i]);
  }
  const std::string kept = "DiskOnChip/User/MESSAGING/EMS/INBOX/1.sms";
  for (int twice = 0; twice < 2; ++twice) {
    EXPECT_EQ(EMSMsgStore_CreateDir(false) + EMSMsgStore_CreateDir(true), 2);
    EXPECT_EQ(tree(), all);
    std::ofstream(Host(kept), std::ios::binary) << "keep";
    all.insert(kept);
  }
  EXPECT_EQ(fs::file_size(Host(kept)), 4u);
  RemoveCard();
  EXPECT_EQ(EMSMsgStore_CreateDir(true), 1);
  EXPECT_FALSE(fs::exists(Host("SD Card")));
}

TEST_F(EmsStore, SimCopiesGoToTheirCounterpartsIndexNoneToNone) {
  ASSERT_EQ(EMSMsgStore_CreateDir(false), 1);
  for (DWORD folder : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 12u, 13u, 0u, 9u, 14u})
    EMSMsgStore_AddMsgToIni(100 + folder, folder, {folder, 0});
  auto indexes = [this] {  // every index file, by the name of its directory
    std::map<std::string, std::vector<char>> all;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      if (e.path().filename() == "EmsIni")
        all[e.path().parent_path().filename().string()] = msgstore_test::Bytes(e.path());
    return all;
  };
  std::map<std::string, std::vector<char>> expected = {
      {"INBOX", Words({7, 107, 7, 0, 1, 101, 1, 0})},    {"DRAFT", Words({2, 102, 2, 0})},
      {"SENT", Words({12, 112, 12, 0, 3, 103, 3, 0})},   {"REPORT", Words({5, 105, 5, 0})},
      {"UNSENT", Words({13, 113, 13, 0, 4, 104, 4, 0})}, {"SPAM", Words({6, 106, 6, 0})}};
  EXPECT_EQ(indexes(), expected);
  // NONE's index is never written, even where one exists.
  expected["NONE"] = Words({8, 108, 8, 0});
  msgstore_test::Store(Host("DiskOnChip/User/MESSAGING/EMS/NONE/EmsIni"), expected["NONE"]);
  EMSMsgStore_AddMsgToIni(109, 8, {9, 0});
  EMSMsgStore_DeleteMsgFromIni(108, 8);
  // The quick list reads the folder's own index, with no mapping.
  CArray<tagOidArray, tagOidArray> list;
  for (DWORD folder : {7u, 12u, 13u}) EXPECT_EQ(EMSMsgStore_GetQuickMsgList(list, folder), 0u);
  ASSERT_EQ(EMSMsgStore_GetQuickMsgList(list, 1), 2u);
  EXPECT_EQ(list[0].byFolder, 7);
  // A record is removed only under the folder it was added with.
  for (DWORD folder : {7u, 12u, 13u})
    EMSMsgStore_DeleteMsgFromIni(100 + folder, folder == 7 ? 1 : folder - 9);
  EXPECT_EQ(indexes(), expected);
  for (DWORD folder : {7u, 12u, 13u}) EMSMsgStore_DeleteMsgFromIni(100 + folder, folder);
  expected["INBOX"] = Words({1, 101, 1, 0});
  expected["SENT"] = Words({3, 103, 3, 0});
  expected["UNSENT"] = Words({4, 104, 4, 0});
  EXPECT_EQ(indexes(), expected);
}

using EmsListTest = msgstore_test::EmsTest;

TEST_F(EmsListTest, ListingsAppendEntriesNamedBySignedLeadingNumbers) {
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(false, kSpam, list));
  for (const char* name : {"-5.sms", "abc.sms", "7.txt"})
    std::ofstream(Dir(false, kSpam) + "/" + name) << "x";
  Put(true, kSent, 12, 1);
  Put(false, kSimInbox, 3, 1);
  const std::tuple<bool, DWORD, DWORD> counts[] = {{false, kSpam, 2},
                                                   {true, kSent, 1},
                                                   {true, kSimInbox, 0},
                                                   {true, kReport, 0},
                                                   {false, 10, 0}};
  for (const auto& [card, folder, n] : counts)
    EXPECT_EQ(n, EMSMsgStore_GetMessageList(card, folder, list)) << folder;
  std::set<std::tuple<int, int, DWORD>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.emplace(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
  EXPECT_EQ((decltype(entries){{0, 6, 0}, {0, 6, 0xFFFFFFFB}, {1, 3, 12}, {1, 9, 777}}), entries);
}

TEST_F(EmsListTest, ReadByPositionIdentifierOrFolderSearch) {
  for (DWORD oid = 1; oid <= 3; ++oid) Put(false, kUnsent, oid, oid);
  CMsgList order;
  ASSERT_EQ(3u, EMSMsgStore_GetMessageList(false, kUnsent, order));
  tagMSGPROPS p{};
  const std::tuple<int, DWORD, DWORD> reads[] = {
      {0, 0, order[0].dwOid},  {1, 0, order[1].dwOid}, {1000, 0, order[2].dwOid},
      {-1, 0, order[2].dwOid}, {1000, 2, 2},           {0, 4, 0}};
  for (const auto& [position, oid, found] : reads) {
    EXPECT_EQ(found != 0, EMSMsgStore_ReadFolderMessage(false, kUnsent, position, oid, true, &p));
    EXPECT_EQ(found, found ? p.dwOid : 0u) << position;
    EMSMsgStore_FreeMsgProps(&p);
  }
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &p));

  const std::tuple<bool, DWORD, DWORD, const WCHAR*> files[] = {
      {0, kSpam, 5, u"spam"},      {0, kDraft, 5, u"draft"},  {0, kSimSent, 5, u"simsent"},
      {0, kInbox, 6, u"inbox"},    {0, 8, 6, u"none"},        {0, 8, 7, u"none"},
      {1, kSpam, 7, u"card spam"}, {0, kSimInbox, 8, u"sim"}, {0, kDraft, 9, u"s"}};
  for (const auto& [card, folder, oid, subject] : files) Put(card, folder, oid, 1, 0, subject);
  std::ofstream(File(false, kInbox, 9)) << "tiny";
  const std::tuple<bool, DWORD, bool, const char16_t*> searches[] = {
      {false, 5, true, u"simsent"},  {false, 6, true, u"inbox"}, {false, 7, true, u"none"},
      {true, 7, true, u"card spam"}, {false, 8, false, u"sim"},  {true, 6, true, nullptr},
      {true, 8, true, nullptr},      {false, 9, true, nullptr},  {false, 99, true, nullptr}};
  for (const auto& [card, oid, content, subject] : searches) {
    EXPECT_EQ(subject != nullptr, EMSMsgStore_ReadMessage(card, oid, content, &p)) << oid;
    EXPECT_TRUE(!subject || std::u16string(subject) == p.pszSubject) << oid;
    EMSMsgStore_FreeMsgProps(&p);
  }
}

TEST_F(EmsListTest, CountsScanTheFolders) {
  for (DWORD oid = 1; oid <= 5; ++oid) Put(oid > 2, kInbox, oid, 1);
  for (DWORD oid = 6; oid <= 8; ++oid) Put(false, oid < 8 ? kSimInbox : kSimSent, oid, 1);
  EXPECT_EQ(std::make_tuple(2u, 3u, 5u, 3u, 0u),
            std::make_tuple(GetEMSPhoneInboxMsgCount(), GetEMSSDInboxMsgCount(),
                            GetEMSInboxMsgCount(), GetEMSSimMsgCount(), Count(true, kReport)));
  RemoveCard();
  EXPECT_EQ(std::make_pair(0u, 2u), std::make_pair(GetEMSSDInboxMsgCount(), GetEMSInboxMsgCount()));
}

TEST_F(EmsListTest, UnreadCountSetsUpCardCountersOnTheFirstRunAndCopiesThePictogramModule) {
  const std::string copy = Host("DiskOnChip/Corvane.conf");
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ((Calls{"xSetEms_SDRecvMsgCount(0)"}), platform_.calls);
  platform_.calls.clear();
  for (DWORD oid = 1; oid <= 4; ++oid) Put(true, kInbox, oid, 1, oid % 2 == 0);
  Put(false, kInbox, 5, 1, 0);
  std::filesystem::create_directories(Host("DiskOnChipROM"));
  std::ofstream(Host("DiskOnChipROM/cvPictogram.dll"), std::ios::binary) << "PICTO";
  std::ofstream(copy, std::ios::binary) << "old contents";
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  const Calls firstRun = {"xSetEms_SDRecvMsgCount(4)", "xSetEms_SDReadMsgCount(1)",
                          "xSetEms_SDReadMsgCount(1)"};
  EXPECT_EQ(firstRun, platform_.calls);
  EXPECT_EQ((std::vector<char>{'P', 'I', 'C', 'T', 'O'}), msgstore_test::Bytes(copy));
  platform_.sdRead = 1;  // set up: counted, not set again
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ(firstRun, platform_.calls);
  struct VanishingCard : msgstore_test::FakePlatform {
    int presentFor = 2;
    int xGetSDCardState() override { return presentFor-- > 0 ? 1 : 0; }
  } vanishing;
  Put(true, kInbox, 2, 1, 0);
  vanishing.sdRecv = 4;
  msgstore::SetPlatform(&vanishing);
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());  // the first two, then the card went
  msgstore::SetPlatform(&platform_);
}

TEST_F(EmsListTest, RefreshRebuildsInboxSentAndUnsentAndKeepsOtherIndexes) {
  const std::tuple<bool, DWORD, DWORD, DWORD, BOOL> files[] = {
      {0, kInbox, 1, 10, 1},     {0, kInbox, 2, 30, 0},    {0, kSimInbox, 3, 20, 1},
      {1, kInbox, 4, 5, 1},      {1, kInbox, 5, 5, 0},     {1, kInbox, 6, 5, 1},
      {0, kSent, 11, 10, 0},     {0, kSimSent, 12, 20, 0}, {0, kUnsent, 14, 10, 0},
      {0, kSimUnsent, 15, 5, 0}, {0, kDraft, 16, 10, 0},   {0, kReport, 17, 40, 0},
      {0, kReport, 18, 60, 0}};
  for (const auto& [card, folder, oid, time, read] : files) Put(card, folder, oid, time, read);
  std::ofstream(File(false, kSent, 13)) << "tiny";
  for (DWORD folder : {kInbox, kSent, kUnsent, kDraft})
    EMSMsgStore_AddMsgToIni(99, folder, {50, 0});
  const std::vector<char> draft = msgstore_test::Bytes(Dir(false, kDraft) + "/EmsIni");
  const Calls phone = {"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
                       "xSetEmsReadMsgCount(1)"};
  Calls all = phone;
  all.insert(all.end(), {"xSetEms_SDRecvMsgCount(3)", "xSetEms_SDReadMsgCount(1)",
                         "xSetEms_SDReadMsgCount(1)"});
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(all, platform_.calls);
  EXPECT_EQ((Entries{{2, 1}, {3, 7}, {1, 1}}), Index(kInbox));
  EXPECT_EQ((Entries{{12, 12}, {11, 3}, {13, 3}}), Index(kSent));
  EXPECT_EQ((Entries{{14, 4}, {15, 13}}), Index(kUnsent));
  EXPECT_EQ((Entries{{18, 5}, {17, 5}}), Index(kReport));
  EXPECT_EQ(draft, msgstore_test::Bytes(Dir(false, kDraft) + "/EmsIni"));
  platform_.cardState = 0;
  platform_.calls.clear();
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(phone, platform_.calls);
}

}  // namespace
