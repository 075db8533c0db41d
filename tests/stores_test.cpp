// The store descriptions against what the stores' path and index operations
// do with each folder, walked from the description's table.
#include <algorithm>
#include <map>
#include <set>

#include "email_fixtures.h"
#include "msgstore/msgstore.h"

namespace {

using msgstore::StoreDescription;

// Each store's path operations, in the order of StoreKind.
struct PathOps {
  int (*createDir)(bool card);
  int (*folderPath)(bool card, DWORD folder, WCHAR* path);
  int (*filePath)(bool card, DWORD oid, DWORD folder, WCHAR* path);
  void (*addToIndex)(DWORD oid, DWORD folder, FILETIME time);
};
const PathOps kOps[] = {{EMSMsgStore_CreateDir, EMSMsgStore_GetFolderPath, EMSMsgStore_GetFilePath,
                         EMSMsgStore_AddMsgToIni},
                        {MMSMsgStore_CreateDir, MMSMsgStore_GetFolderPath, MMSMsgStore_GetFilePath,
                         MMSMsgStore_AddMsgToIni},
                        {EmailMsgStore_CreateDir, EmailMsgStore_GetFolderPath,
                         EmailMsgStore_GetFilePath, EmailMsgStore_AddMsgToIni}};

using StoreDescriptions = msgstore_test::DeviceTest;

// Per folder: its number, its directory, then where its folder path and its
// file path of message 2^31 lie with the phone and the card selector: P in
// phone memory, C on the card, - refused. A path given is the folder's
// directory under a root (or its file "-2147483648<extension>" there), is
// zero-filled to the end of the buffer, and exists once the store has made
// both trees, whose card tree has no other directory; a refusal leaves the
// buffer as it was, as do folder values that no store describes.
// Then message 100 + n added to the index under each folder value n: each
// index file made, with its records in order, k standing for (k, 100 + k,
// time k). SIM copies go to their counterpart's index; e-mail values from 12
// on name an account's inbox index.
TEST_F(StoreDescriptions, EachFolderWhereThePathOperationsPutItAndWhereItIsIndexed) {
  const std::map<std::string, std::string> paths = {
      {"sms",
       "1 INBOX PPCC 2 DRAFT PPCC 3 SENT PPCC 4 UNSENT PPCC 5 REPORT PP-- 6 SPAM PPCC 8 NONE PPPP "
       "7 SIM_INBOX PP-P 12 SIM_SENT PP-P 13 SIM_UNSENT PP-P 0 - ---- 9 - ---- 10 - ---- "
       "267 - ---- 4294967295 - ---- "},
      {"mms",
       "1 INBOX PPCC 2 DRAFT PPCC 3 SENT PPCC 4 UNSENT PPCC 5 REPORT PP-- 6 SPAM PPCC "
       "11 AUTODOWNLOAD PPPP 8 NONE -P-P 0 - ---- 9 - ---- 10 - ---- 267 - ---- "
       "4294967295 - ---- "},
      {"email",
       "1 INBOX P-C- 2 DRAFT PPCC 3 SENT PPCC 4 UNSENT PPCC 5 REPORT PPCC 6 SPAM PPCC 8 NONE "
       "P-P- 0 - ---- 9 - ---- 10 - ---- "}};
  const std::map<std::string, std::string> indexes = {
      {"sms",
       "DRAFT/EmsIni:2 INBOX/EmsIni:7,1 REPORT/EmsIni:5 SENT/EmsIni:12,3 SPAM/EmsIni:6 "
       "UNSENT/EmsIni:13,4 "},
      {"mms",
       "DRAFT/MmsIni:2 INBOX/MmsIni:1 REPORT/MmsIni:5 SENT/MmsIni:3 SPAM/MmsIni:6 "
       "UNSENT/MmsIni:4 "},
      {"email",
       "DRAFT/EmailIni:2 INBOX/12_EmailIni:12 INBOX/13_EmailIni:13 INBOX/14_EmailIni:14 "
       "INBOX/EmailIni:1 REPORT/EmailIni:5 SENT/EmailIni:3 SPAM/EmailIni:6 "
       "UNSENT/EmailIni:4 "}};
  for (const StoreDescription* s : msgstore::Stores()) {
    const PathOps& ops = kOps[static_cast<int>(s->kind)];
    ops.createDir(false), ops.createDir(true);
    std::vector<DWORD> numbers;
    for (const msgstore::FolderDescription& f : *s) numbers.push_back(f.number);
    for (DWORD n : {0u, 9u, 10u, 0x10Bu, 0xFFFFFFFFu})
      if (s->firstAccountFolder == 0 || n < s->firstAccountFolder) numbers.push_back(n);
    std::string got;
    std::set<std::string> cardDirs;
    for (DWORD number : numbers) {
      std::string where, dir = "-";
      for (int how = 0; how < 4; ++how) {
        WCHAR path[MAX_PATH];
        std::fill(path, path + MAX_PATH, WCHAR{0xFFFF});
        const bool card = how >= 2, file = how % 2 == 1;
        const int ok = file ? ops.filePath(card, 0x80000000u, number, path)
                            : ops.folderPath(card, number, path);
        std::u16string p = ok ? path : u"";
        EXPECT_TRUE(std::all_of(path + p.size(), path + MAX_PATH,
                                [ok](WCHAR c) { return c == (ok ? 0 : 0xFFFF); }));
        if (!ok) {
          where += '-';
          continue;
        }
        const std::u16string tail = file ? u"\\-2147483648" + std::u16string(s->extension) : u"";
        ASSERT_EQ(p.substr(p.size() - tail.size()), tail) << msgstore_test::Ascii(path);
        p.resize(p.size() - tail.size());
        EXPECT_TRUE(std::filesystem::is_directory(Host(p))) << msgstore_test::Ascii(path);
        const bool onCard = p.rfind(s->cardRoot, 0) == 0;
        ASSERT_EQ(p.rfind(onCard ? s->cardRoot : s->phoneRoot, 0), 0u);
        where += onCard ? 'C' : 'P';
        dir = msgstore_test::Ascii(p.substr(p.rfind(u'\\') + 1).c_str());
        if (onCard) cardDirs.insert(dir);
      }
      got += std::to_string(number) + " " + dir + " " + where + " ";
    }
    EXPECT_EQ(got, paths.at(s->name));
    std::set<std::string> made;
    for (const auto& e : std::filesystem::directory_iterator(Host(s->cardRoot)))
      made.insert(e.path().filename());
    EXPECT_EQ(made, cardDirs) << s->name;

    for (DWORD n = 0; n <= 14; ++n) ops.addToIndex(100 + n, n, {n, 0});
    std::map<std::string, std::string> files;
    const std::string root = Host(s->phoneRoot);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      if (!e.is_regular_file()) continue;
      std::string& records = files[std::filesystem::relative(e.path(), root).string()];
      for (const auto& [k, id, low, high] : msgstore_test::LoadIndex(e.path()))
        records += (records.empty() ? "" : ",") +
                   (id == 100 + k && low == k && high == 0 ? std::to_string(k) : "?");
      if (e.file_size() % 16 != 0) records += ",?";  // a partial record
    }
    got.clear();
    for (const auto& [path, records] : files) got += path + ":" + records + " ";
    EXPECT_EQ(got, indexes.at(s->name));
  }
}

// The phone indexes each store's refresh rewrites even when present, and those
// it builds only where missing (what the refresh does: the stores' tests); the
// e-mail inbox's, one per account, are neither.
TEST(StoreIndexes, ThoseTheRefreshRewritesAndThoseItBuildsWhereMissing) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(msgstore::SmsStore().IndexesRefreshed(true), (Names{"inbox", "sent", "unsent"}));
  EXPECT_EQ(msgstore::SmsStore().IndexesRefreshed(false), (Names{"draft", "report", "spam"}));
  EXPECT_EQ(msgstore::MmsStore().IndexesRefreshed(true), Names{});
  EXPECT_EQ(msgstore::MmsStore().IndexesRefreshed(false),
            (Names{"inbox", "draft", "sent", "unsent", "report", "spam"}));
  EXPECT_EQ(msgstore::EmailStore().IndexesRefreshed(true), Names{});
  EXPECT_EQ(msgstore::EmailStore().IndexesRefreshed(false),
            (Names{"draft", "sent", "unsent", "report", "spam"}));
}

}  // namespace
