// EMS folder tree and path building.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "ems/ems_internal.h"
#include "msgstore/ems.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::u16string kPhone = u"\\DiskOnChip\\User\\MESSAGING\\EMS";
const std::u16string kCard = u"\\SD Card\\User\\MESSAGING\\EMS";

// Calls fn(path) on a buffer full of 0xFFFF; returns the result and the text.
template <class Fn>
std::pair<int, std::u16string> Build(Fn fn) {
  WCHAR path[MAX_PATH];
  std::fill(path, path + MAX_PATH, static_cast<WCHAR>(0xFFFF));
  int ok = fn(path);
  if (!ok) {
    // A refusal leaves the buffer as it was.
    EXPECT_TRUE(std::all_of(path, path + MAX_PATH, [](WCHAR c) { return c == 0xFFFF; }));
    return {ok, u""};
  }
  std::u16string s(path);
  // The rest of the buffer is zero-filled.
  EXPECT_TRUE(std::all_of(path + s.size(), path + MAX_PATH, [](WCHAR c) { return c == 0; }));
  return {ok, s};
}

std::pair<int, std::u16string> FolderPath(bool card, DWORD folder) {
  return Build([&](WCHAR* p) { return EMSMsgStore_GetFolderPath(card, folder, p); });
}

std::pair<int, std::u16string> FilePath(bool card, DWORD oid, DWORD folder) {
  return Build([&](WCHAR* p) { return EMSMsgStore_GetFilePath(card, oid, folder, p); });
}

std::set<std::string> SubDirs(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_directory()) names.insert(e.path().filename().string());
  return names;
}

using Result = std::pair<int, std::u16string>;

TEST(EmsPaths, FolderPathsOfEveryFolderOnBothStorages) {
  struct Row {
    DWORD folder;
    const char16_t* phone;
    const char16_t* card;  // null: the card refuses the folder
  };
  const Row rows[] = {
      {1, u"INBOX", u"\\SD Card\\User\\MESSAGING\\EMS\\INBOX"},
      {2, u"DRAFT", u"\\SD Card\\User\\MESSAGING\\EMS\\DRAFT"},
      {3, u"SENT", u"\\SD Card\\User\\MESSAGING\\EMS\\SENT"},
      {4, u"UNSENT", u"\\SD Card\\User\\MESSAGING\\EMS\\UNSENT"},
      {5, u"REPORT", nullptr},
      {6, u"SPAM", u"\\SD Card\\User\\MESSAGING\\EMS\\SPAM"},
      {7, u"SIM_INBOX", nullptr},
      {8, u"NONE", u"\\DiskOnChip\\User\\MESSAGING\\EMS\\NONE"},
      {12, u"SIM_SENT", nullptr},
      {13, u"SIM_UNSENT", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder);
    EXPECT_EQ(FolderPath(false, r.folder), Result(1, kPhone + u"\\" + r.phone));
    if (r.card) {
      EXPECT_EQ(FolderPath(true, r.folder), Result(1, r.card));
    } else {
      EXPECT_EQ(FolderPath(true, r.folder).first, 0);
    }
  }
}

TEST(EmsPaths, NonFoldersFailOnBothStorages) {
  for (DWORD folder : {0u, 9u, 10u, 11u, 14u, 0x101u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(folder);
    for (bool card : {false, true}) {
      EXPECT_EQ(FolderPath(card, folder).first, 0);
      EXPECT_EQ(FilePath(card, 1, folder).first, 0);
    }
  }
}

TEST(EmsPaths, FilePathsFollowTheStorageRules) {
  EXPECT_EQ(FilePath(true, 5, 4), Result(1, u"\\SD Card\\User\\MESSAGING\\EMS\\UNSENT\\5.sms"));
  EXPECT_EQ(FilePath(false, 5, 4), Result(1, kPhone + u"\\UNSENT\\5.sms"));
  // SIM folders and NONE always name the phone file; REPORT has no card file.
  EXPECT_EQ(FilePath(true, 9, 7), Result(1, kPhone + u"\\SIM_INBOX\\9.sms"));
  EXPECT_EQ(FilePath(true, 10, 12), Result(1, kPhone + u"\\SIM_SENT\\10.sms"));
  EXPECT_EQ(FilePath(true, 11, 13), Result(1, kPhone + u"\\SIM_UNSENT\\11.sms"));
  EXPECT_EQ(FilePath(true, 12, 8), Result(1, kPhone + u"\\NONE\\12.sms"));
  EXPECT_EQ(FilePath(false, 13, 5), Result(1, kPhone + u"\\REPORT\\13.sms"));
  EXPECT_EQ(FilePath(true, 13, 5).first, 0);
  EXPECT_EQ(FilePath(true, 14, 6), Result(1, kCard + u"\\SPAM\\14.sms"));
}

TEST(EmsPaths, IdentifierPrintsAsSignedDecimal) {
  EXPECT_EQ(FilePath(false, 0, 1), Result(1, kPhone + u"\\INBOX\\0.sms"));
  EXPECT_EQ(FilePath(false, 2147483647u, 1), Result(1, kPhone + u"\\INBOX\\2147483647.sms"));
  EXPECT_EQ(FilePath(false, 2147483648u, 1), Result(1, kPhone + u"\\INBOX\\-2147483648.sms"));
  EXPECT_EQ(FilePath(true, 0xFFFFFFFFu, 2), Result(1, kCard + u"\\DRAFT\\-1.sms"));
}

TEST(EmsPaths, IndexFoldersAndIndexPaths) {
  using msgstore::ems::IndexFolderOf;
  using msgstore::ems::IndexPath;
  EXPECT_EQ(IndexFolderOf(7), 1u);
  EXPECT_EQ(IndexFolderOf(12), 3u);
  EXPECT_EQ(IndexFolderOf(13), 4u);
  for (DWORD f : {1u, 2u, 3u, 4u, 5u, 6u, 8u, 9u, 0u}) EXPECT_EQ(IndexFolderOf(f), f);

  WCHAR path[MAX_PATH] = {};
  ASSERT_TRUE(IndexPath(1, path));
  EXPECT_EQ(std::u16string(path), kPhone + u"\\INBOX\\EmsIni");
  // No mapping: a SIM folder's own directory.
  ASSERT_TRUE(IndexPath(7, path));
  EXPECT_EQ(std::u16string(path), kPhone + u"\\SIM_INBOX\\EmsIni");
  ASSERT_TRUE(IndexPath(5, path));
  EXPECT_EQ(std::u16string(path), kPhone + u"\\REPORT\\EmsIni");
  EXPECT_FALSE(IndexPath(9, path));
  EXPECT_FALSE(IndexPath(0, path));
}

class EmsCreateDir : public msgstore_test::DeviceTest {};

TEST_F(EmsCreateDir, MakesThePhoneTree) {
  EXPECT_EQ(EMSMsgStore_CreateDir(false), 1);
  EXPECT_EQ(SubDirs(Host("DiskOnChip/User/MESSAGING/EMS")),
            (std::set<std::string>{"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "NONE",
                                   "SIM_INBOX", "SIM_SENT", "SIM_UNSENT"}));
  EXPECT_EQ(SubDirs(Host("DiskOnChip/User/MESSAGING")), (std::set<std::string>{"EMS"}));
  // The card is left alone.
  EXPECT_FALSE(fs::exists(Host("SD Card/User")));
}

TEST_F(EmsCreateDir, MakesTheCardTree) {
  EXPECT_EQ(EMSMsgStore_CreateDir(true), 1);
  EXPECT_EQ(SubDirs(Host("SD Card/User/MESSAGING/EMS")),
            (std::set<std::string>{"INBOX", "DRAFT", "SENT", "UNSENT", "SPAM"}));
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/User/MESSAGING")));
}

TEST_F(EmsCreateDir, ExistingTreeIsKept) {
  ASSERT_EQ(EMSMsgStore_CreateDir(false), 1);
  std::string file = Host("DiskOnChip/User/MESSAGING/EMS/INBOX/1.sms");
  std::ofstream(file, std::ios::binary) << "keep";
  EXPECT_EQ(EMSMsgStore_CreateDir(false), 1);
  EXPECT_EQ(fs::file_size(file), 4u);
  EXPECT_EQ(SubDirs(Host("DiskOnChip/User/MESSAGING/EMS")).size(), 10u);
}

TEST_F(EmsCreateDir, MissingCardStillReportsSuccess) {
  RemoveCard();
  EXPECT_EQ(EMSMsgStore_CreateDir(true), 1);
  // Nothing can be made without the card's volume, and the card stays out.
  EXPECT_FALSE(fs::exists(Host("SD Card")));
}

}  // namespace
