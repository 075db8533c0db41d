// The store descriptions against what the stores do: each folder of each
// description, walked from its table, where the store's path operations put
// it on both storages.
#include <map>

#include "msgstore/msgstore.h"
#include "test_support.h"

namespace {

using msgstore::StoreDescription;

struct PathOps {
  int (*createDir)(bool card);
  int (*folderPath)(bool card, DWORD folder, WCHAR* path);
  int (*filePath)(bool card, DWORD oid, DWORD folder, WCHAR* path);
};

PathOps Ops(msgstore::StoreKind kind) {
  switch (kind) {
    case msgstore::StoreKind::kSms:
      return {EMSMsgStore_CreateDir, EMSMsgStore_GetFolderPath, EMSMsgStore_GetFilePath};
    case msgstore::StoreKind::kMms:
      return {MMSMsgStore_CreateDir, MMSMsgStore_GetFolderPath, MMSMsgStore_GetFilePath};
    default:
      return {EmailMsgStore_CreateDir, EmailMsgStore_GetFolderPath, EmailMsgStore_GetFilePath};
  }
}

using StoreDescriptions = msgstore_test::DeviceTest;

// Per folder: its number, its directory, then where its folder path and its
// file path of message 5 lie with the phone and the card selector: P in
// phone memory, C on the card, - refused. A path given is the folder's
// directory under a root (or its file "5<extension>" there), and exists once
// the store has made both trees.
TEST_F(StoreDescriptions, EachFolderWhereThePathOperationsPutIt) {
  const std::map<std::string, std::string> expected = {
      {"sms",
       "1 INBOX PPCC 2 DRAFT PPCC 3 SENT PPCC 4 UNSENT PPCC 5 REPORT PP-- 6 SPAM PPCC 8 NONE PPPP "
       "7 SIM_INBOX PP-P 12 SIM_SENT PP-P 13 SIM_UNSENT PP-P "},
      {"mms",
       "1 INBOX PPCC 2 DRAFT PPCC 3 SENT PPCC 4 UNSENT PPCC 5 REPORT PP-- 6 SPAM PPCC "
       "11 AUTODOWNLOAD PPPP 8 NONE -P-P "},
      {"email",
       "1 INBOX P-C- 2 DRAFT PPCC 3 SENT PPCC 4 UNSENT PPCC 5 REPORT PPCC 6 SPAM PPCC 8 NONE "
       "P-P- "}};
  for (const StoreDescription* s : msgstore::Stores()) {
    const PathOps ops = Ops(s->kind);
    ops.createDir(false), ops.createDir(true);
    std::string got;
    for (const msgstore::FolderDescription& f : *s) {
      std::string where, dir;
      for (int how = 0; how < 4; ++how) {
        WCHAR path[MAX_PATH] = {};
        const bool card = how >= 2, file = how % 2 == 1;
        if ((file ? ops.filePath(card, 5, f.number, path) : ops.folderPath(card, f.number, path)) ==
            0) {
          where += '-';
          continue;
        }
        std::u16string p = path;
        const std::u16string tail = file ? u"\\5" + std::u16string(s->extension) : u"";
        ASSERT_EQ(p.substr(p.size() - tail.size()), tail) << msgstore_test::Ascii(path);
        p.resize(p.size() - tail.size());
        EXPECT_TRUE(std::filesystem::is_directory(Host(p))) << msgstore_test::Ascii(path);
        const bool onCard = p.rfind(s->cardRoot, 0) == 0;
        ASSERT_EQ(p.rfind(onCard ? s->cardRoot : s->phoneRoot, 0), 0u);
        where += onCard ? 'C' : 'P';
        dir = msgstore_test::Ascii(p.substr(p.rfind(u'\\') + 1).c_str());
      }
      got += std::to_string(f.number) + " " + dir + " " + where + " ";
    }
    EXPECT_EQ(got, expected.at(s->name));
  }
}

}  // namespace
