// MMS folder tree and paths.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

#include "msgstore/mms.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Result = std::pair<int, std::u16string>;

// A refusal must leave the buffer as it was, a path must be zero-filled.
Result Path(bool card, DWORD folder, DWORD oid, bool file) {
  WCHAR p[MAX_PATH];
  std::fill(p, p + MAX_PATH, static_cast<WCHAR>(0xFFFF));
  const int ok = file ? MMSMsgStore_GetFilePath(card, oid, folder, p)
                      : MMSMsgStore_GetFolderPath(card, folder, p);
  const std::u16string s = ok ? std::u16string(p) : u"";
  EXPECT_TRUE(
      std::all_of(p + s.size(), p + MAX_PATH, [ok](WCHAR c) { return c == (ok ? 0 : 0xFFFF); }));
  return {ok, s};
}

TEST(MmsPaths, FolderAndFilePathsOnBothStorages) {
  const std::u16string P = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\";
  const std::u16string C = u"\\SD Card\\User\\MESSAGING\\MMS\\";
  struct Row {
    DWORD folder, oid;
    std::u16string name, phone, phoneFile, card, cardFile;  // "": refused
  };
  const Row rows[] = {
      {1, 0, u"\\0.mms", P + u"INBOX", P + u"INBOX", C + u"INBOX", C + u"INBOX"},
      {2, 0xFFFFFFFFu, u"\\-1.mms", P + u"DRAFT", P + u"DRAFT", C + u"DRAFT", C + u"DRAFT"},
      {3, 2147483648u, u"\\-2147483648.mms", P + u"SENT", P + u"SENT", C + u"SENT", C + u"SENT"},
      {4, 5, u"\\5.mms", P + u"UNSENT", P + u"UNSENT", C + u"UNSENT", C + u"UNSENT"},
      {5, 2147483647u, u"\\2147483647.mms", P + u"REPORT", P + u"REPORT", u"", u""},
      {6, 14, u"\\14.mms", P + u"SPAM", P + u"SPAM", C + u"SPAM", C + u"SPAM"},
      {8, 7, u"\\7.mms", u"", P + u"NONE", u"", P + u"NONE"},
      {11, 7, u"\\7.mms", P + u"AUTODOWNLOAD", P + u"AUTODOWNLOAD", P + u"AUTODOWNLOAD",
       P + u"AUTODOWNLOAD"},
  };
  auto ok = [](const std::u16string& dir, const std::u16string& name) {
    return dir.empty() ? Result(0, u"") : Result(1, dir + name);
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder);
    EXPECT_EQ(Path(false, r.folder, r.oid, false), ok(r.phone, u""));
    EXPECT_EQ(Path(false, r.folder, r.oid, true), ok(r.phoneFile, r.name));
    EXPECT_EQ(Path(true, r.folder, r.oid, false), ok(r.card, u""));
    EXPECT_EQ(Path(true, r.folder, r.oid, true), ok(r.cardFile, r.name));
  }
  for (DWORD folder : {0u, 7u, 9u, 10u, 12u, 0x101u, 0x10Bu, 0xFFFFFFFFu})
    for (bool card : {false, true})
      for (bool file : {false, true})
        EXPECT_EQ(Path(card, folder, 1, file), Result(0, u"")) << folder;
}

class MmsTree : public msgstore_test::DeviceTest {
 protected:
  // Every directory and file under the device root, relative to it.
  std::set<std::string> Tree() {
    std::set<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      all.insert(fs::relative(e.path(), root_).string());
    return all;
  }
  static std::set<std::string> Expected(const std::string& vol, std::vector<std::string> folders) {
    const std::string mms = vol + "/User/MESSAGING/MMS";
    std::set<std::string> t = {vol, vol + "/User", vol + "/User/MESSAGING", mms};
    for (const std::string& f : folders) t.insert(mms + "/" + f);
    return t;
  }
};

TEST_F(MmsTree, CreateDirMakesTheExactTreesAndCompletesPartialOnes) {
  std::set<std::string> all = Expected(
      "DiskOnChip", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "AUTODOWNLOAD", "NONE"});
  all.insert("SD Card");
  EXPECT_EQ(MMSMsgStore_CreateDir(false), 1);
  EXPECT_EQ(Tree(), all);
  all.merge(Expected("SD Card", {"INBOX", "DRAFT", "SENT", "UNSENT", "SPAM"}));
  EXPECT_EQ(MMSMsgStore_CreateDir(true), 1);
  EXPECT_EQ(Tree(), all);

  // A tree that lacks one folder gets that folder; what is there stays.
  const std::string kept = "DiskOnChip/User/MESSAGING/MMS/INBOX/1.mms";
  std::ofstream(Host(kept), std::ios::binary) << "keep";
  all.insert(kept);
  fs::remove(Host("DiskOnChip/User/MESSAGING/MMS/AUTODOWNLOAD"));
  fs::remove(Host("SD Card/User/MESSAGING/MMS/SPAM"));
  EXPECT_EQ(MMSMsgStore_CreateDir(false), 1);
  EXPECT_EQ(MMSMsgStore_CreateDir(true), 1);
  EXPECT_EQ(Tree(), all);
  EXPECT_EQ(fs::file_size(Host(kept)), 4u);

  RemoveCard();
  EXPECT_EQ(MMSMsgStore_CreateDir(true), 1);
  EXPECT_FALSE(fs::exists(Host("SD Card")));
}

}  // namespace
