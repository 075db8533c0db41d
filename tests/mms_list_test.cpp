// MMS listings, counts, reads by position and identifier, the search over
// all folders and the rebuild of missing phone index files.
#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using MmsListTest = msgstore_test::MmsTest;

TEST_F(MmsListTest, ListingsAppendEntriesMarkedTwoAndCountFiles) {
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  EXPECT_EQ(0u, MMSMsgStore_GetMessageList(false, kSpam, list));
  for (const char* name : {"-5.mms", "abc.mms", "7.txt", "8.mms.123.4.tmp", "MmsIni"})
    std::ofstream(Dir(false, kSpam) + "/" + name) << "x";
  Put(true, kSent, 12, 1);
  Put(true, kSent, 7, 1);
  Put(false, kAutoDownload, 9, 1);
  Put(false, kNone, 10, 1);
  Put(false, kReport, 11, 1);
  const std::tuple<bool, DWORD, DWORD> counts[] = {
      {false, kSpam, 2},
      {true, kSent, 2},
      {true, kAutoDownload, 1},
      {false, kSent, 0},
      {false, kAutoDownload, 1},
      {false, kReport, 1},
      {true, kReport, 0},
      {false, kNone, 0},
      {true, kNone, 0},
      {false, 10, 0},
      {true, 0, 0},
  };
  for (const auto& [card, folder, n] : counts) {
    SCOPED_TRACE(testing::Message() << card << " " << folder);
    EXPECT_EQ(n, MMSMsgStore_GetFolderMessageCount(card, folder));
    const long before = list.GetSize();
    EXPECT_EQ(n, MMSMsgStore_GetMessageList(card, folder, list));
    EXPECT_EQ(before + static_cast<long>(n), list.GetSize());
  }
  std::vector<std::array<DWORD, 3>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.push_back({list[i].bMemoryCard, list[i].byFolder, list[i].dwOid});
  EXPECT_EQ((std::array<DWORD, 3>{1, 9, 777}), entries[0]);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ((std::vector<std::array<DWORD, 3>>{{0, 2, 0},
                                               {0, 2, 9},
                                               {0, 2, 11},
                                               {0, 2, 0xFFFFFFFB},
                                               {1, 2, 7},
                                               {1, 2, 9},
                                               {1, 2, 12},
                                               {1, 9, 777}}),
            entries);

  CMsgList sent;
  RemoveCard();
  EXPECT_EQ(0u, MMSMsgStore_GetFolderMessageCount(true, kSent));
  EXPECT_EQ(0u, MMSMsgStore_GetMessageList(true, kSent, sent));
}

TEST_F(MmsListTest, ReadFolderMessageByPositionOrIdentifier) {
  for (DWORD oid = 1; oid <= 3; ++oid) Put(false, kUnsent, oid, oid);
  CMsgList order;
  ASSERT_EQ(3u, MMSMsgStore_GetMessageList(false, kUnsent, order));
  const std::pair<int, long> cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {1000, 2}, {-1, 2}};
  for (const auto& [position, index] : cases) {
    Record r;
    ASSERT_EQ(1,
              MMSMsgStore_ReadFolderMessage(false, kUnsent, position, 0, true, &r.props, &r.mms));
    EXPECT_EQ(order[index].dwOid, r.props.dwOid) << position;
    EXPECT_EQ(kBodySize, r.props.cbData);
  }
  Record r;
  ASSERT_EQ(1, MMSMsgStore_ReadFolderMessage(false, kUnsent, 1000, 2, false, &r.props, &r.mms));
  EXPECT_EQ(2u, r.props.dwOid);
  EXPECT_TRUE(r.props.pData == nullptr && r.props.cbData == 0);
  EXPECT_EQ(0, MMSMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &r.props, &r.mms));
  EXPECT_EQ(0, MMSMsgStore_ReadFolderMessage(false, kUnsent, 0, 4, true, &r.props, &r.mms));
  EXPECT_EQ(0, MMSMsgStore_ReadFolderMessage(true, kReport, 0, 1, true, &r.props, &r.mms));
  // NONE is read by identifier only; AUTODOWNLOAD on the card is the phone's.
  Put(false, kNone, 5, 1);
  Put(false, kAutoDownload, 6, 1);
  EXPECT_EQ(0, MMSMsgStore_ReadFolderMessage(false, kNone, 0, 0, true, &r.props, &r.mms));
  EXPECT_EQ(1, MMSMsgStore_ReadFolderMessage(true, kNone, 0, 5, true, &r.props, &r.mms));
  EXPECT_EQ(5u, r.props.dwOid);
  MMSMsgStore_FreeMsgProps(&r.props, &r.mms);
  EXPECT_EQ(1, MMSMsgStore_ReadFolderMessage(true, kAutoDownload, -1, 0, true, &r.props, &r.mms));
  EXPECT_EQ(6u, r.props.dwOid);
  // An unreadable file at the position fails the read.
  Store({1, 2, 3}, File(false, kDraft, 9));
  EXPECT_EQ(0, MMSMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &r.props, &r.mms));
}

TEST_F(MmsListTest, ReadMessageSearchesFoldersInOrder) {
  const std::tuple<bool, DWORD, DWORD, const char16_t*> files[] = {
      {false, kInbox, 5, u"inbox"},      {false, kAutoDownload, 5, u"auto"},
      {false, kDraft, 5, u"draft"},      {false, kAutoDownload, 6, u"auto6"},
      {true, kDraft, 6, u"card draft"},  {false, kDraft, 7, u"draft7"},
      {false, kSent, 7, u"sent7"},       {false, kSent, 8, u"sent8"},
      {false, kUnsent, 8, u"unsent8"},   {false, kUnsent, 9, u"unsent9"},
      {false, kSpam, 9, u"spam9"},       {false, kSpam, 10, u"spam10"},
      {false, kReport, 10, u"report10"}, {false, kReport, 11, u"report11"},
      {false, kNone, 11, u"none11"},     {false, kNone, 12, u"none12"},
      {false, kDraft, 13, u"draft13"},   {true, kSpam, 14, u"card spam14"},
      {false, kInbox, 14, u"inbox14"},   {true, kUnsent, 15, u"card unsent15"},
  };
  for (const auto& [card, folder, oid, subject] : files)
    Put(card, folder, oid, 1, 0, 0, u"text", subject);
  Store({}, File(false, kInbox, 13));
  const std::tuple<bool, DWORD, const char16_t*> found[] = {
      {false, 5, u"inbox"},         {false, 6, u"auto6"},   {false, 7, u"draft7"},
      {false, 8, u"sent8"},         {false, 9, u"unsent9"}, {false, 10, u"spam10"},
      {false, 11, u"report11"},     {false, 12, nullptr},   {false, 13, nullptr},
      {false, 14, u"inbox14"},      {true, 5, u"auto"},     {true, 6, u"auto6"},
      {true, 7, nullptr},           {true, 11, nullptr},    {true, 14, u"card spam14"},
      {true, 15, u"card unsent15"},
  };
  for (const auto& [card, oid, subject] : found) {
    SCOPED_TRACE(testing::Message() << card << " " << oid);
    Record r;
    ASSERT_EQ(subject ? 1 : 0, MMSMsgStore_ReadMessage(card, oid, true, &r.props, &r.mms));
    EXPECT_EQ(std::u16string(subject ? subject : u""),
              r.props.pszSubject ? r.props.pszSubject : u"");
    EXPECT_EQ(subject ? kBodySize : 0u, r.props.cbData);
  }
  Record r;
  ASSERT_EQ(1, MMSMsgStore_ReadMessage(false, 9, false, &r.props, &r.mms));
  EXPECT_TRUE(r.props.pData == nullptr && r.props.cbData == 0);
}

TEST_F(MmsListTest, RefreshRebuildsOnlyMissingPhoneIndexes) {
  Put(false, kInbox, 1, 10);
  Put(false, kInbox, 2, 30);
  Store({}, File(false, kInbox, 3));  // unreadable: indexed with time 0
  Put(false, kSent, 4, 5);
  SetIndex(kSent, {{kSent, 99, 50, 0}});
  const Bytes sent = Load(IndexFile(kSent));
  Put(false, kReport, 5, 40);
  Put(false, kReport, 6, 60);
  Put(true, kSpam, 7, 1);
  Put(false, kAutoDownload, 8, 1);
  Put(false, kNone, 9, 1);
  EXPECT_EQ(1, MMSMsgStore_RefreshIniFiles());
  EXPECT_EQ((std::vector<IndexRecord>{{kInbox, 2, 30, 0}, {kInbox, 1, 10, 0}, {kInbox, 3, 0, 0}}),
            Index(kInbox));
  EXPECT_EQ(sent, Load(IndexFile(kSent)));
  EXPECT_EQ((std::vector<IndexRecord>{{kReport, 6, 60, 0}, {kReport, 5, 40, 0}}), Index(kReport));
  for (DWORD folder : {kDraft, kUnsent, kSpam, kAutoDownload, kNone})
    EXPECT_FALSE(fs::exists(IndexFile(folder))) << folder;
  EXPECT_FALSE(fs::exists(Dir(true, kSpam) + "/MmsIni"));
  EXPECT_FALSE(fs::exists(Dir(true, kInbox) + "/MmsIni"));
}

}  // namespace
