// EMS folder tree, paths, and which index file each folder's records go to.
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

}  // namespace
