// The MMS write path: identifiers, the oldest message of a folder, the folder
// limit, the free space and the choice of storage.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;

class MmsWriteTest : public msgstore_test::MmsTest {
 protected:
  static constexpr uint64_t kShort = kBodySize - 1, kExact = kBodySize, kPlenty = 1 << 30,
                            kFails = 0xFFFFFFFFFFFFFFFF;  // every query fails
  void SetFree(uint64_t phone, uint64_t card) {
    platform_.volumeFreeBytes = {{u"\\DiskOnChip", phone}, {u"\\SD Card", card}};
    platform_.diskQueryFails = phone == kFails;
    platform_.volumesAsked.clear();
  }
  // The volumes asked for free space: P phone memory, C memory card.
  std::string Queries() const {
    std::string out;
    for (const std::u16string& v : platform_.volumesAsked)
      out += v == u"\\DiskOnChip" ? 'P' : v == u"\\SD Card" ? 'C' : '?';
    return out;
  }
  Bytes Counter() const { return Load(CounterFile()); }
};

TEST_F(MmsWriteTest, IdentifiersComeFromTheLittleEndianCounter) {
  Message m(kInbox, 5);
  EXPECT_EQ(1u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 0, nullptr));
  EXPECT_EQ(1u, m.props.dwOid);
  EXPECT_EQ((Bytes{1, 0, 0, 0}), Counter());
  EXPECT_EQ((std::vector<IndexRecord>{{kInbox, 1, 5, 0}}), Index(kInbox));
  Record r(false, kInbox, 1);
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(1u, r.props.dwOid);
  EXPECT_EQ(0x5151, r.mms.wMmsQuick1);

  SetCounter(0x000102FF);
  EXPECT_EQ(0x00010300u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 0, nullptr));
  EXPECT_EQ((Bytes{0, 3, 1, 0}), Counter());
  SetCounter(0xFFFFFFFA);
  m.props.dwFolder = kDraft;
  EXPECT_EQ(0xFFFFFFFBu, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 0, nullptr));
  EXPECT_TRUE(fs::exists(Dir(false, kDraft) + "/-5.mms"));

  // Writes that fail after drawing an identifier still use it up.
  m.props.dwFolder = kReport;
  EXPECT_EQ(0u, MMSMsgStore_WriteMessage(true, &m.props, &m.mms, 0, nullptr));
  EXPECT_EQ((Bytes{0xFC, 0xFF, 0xFF, 0xFF}), Counter());
  fs::remove_all(Dir(false, kUnsent));
  m.props.dwFolder = kUnsent;
  EXPECT_EQ(0u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 0, nullptr));
  EXPECT_EQ((Bytes{0xFD, 0xFF, 0xFF, 0xFF}), Counter());
  EXPECT_FALSE(fs::exists(Dir(false, kUnsent)));

  fs::remove(CounterFile());
  m.props.dwFolder = kSpam;
  EXPECT_EQ(1u, MMSMsgStore_WriteMessage(true, &m.props, &m.mms, 0, nullptr));
  EXPECT_TRUE(Exists(true, kSpam, 1));
  EXPECT_FALSE(fs::exists(IndexFile(kSpam)));
}

TEST_F(MmsWriteTest, TakenNamesConsumeIdentifiersOnTheCardOnly) {
  Put(false, kDraft, 1, 10);
  Put(true, kDraft, 2, 10);
  Put(true, kDraft, 3, 11);
  Message m(kDraft, 500, 0, 0, u"new");
  EXPECT_EQ(1u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 0, nullptr));
  EXPECT_EQ(1u, Count(false, kDraft));
  EXPECT_EQ(std::u16string(u"new"), Record(false, kDraft, 1).props.pszText1);
  EXPECT_EQ(4u, MMSMsgStore_WriteMessage(true, &m.props, &m.mms, 0, nullptr));
  EXPECT_EQ(4u, m.props.dwOid);
  EXPECT_EQ((Bytes{4, 0, 0, 0}), Counter());
  EXPECT_EQ(3u, Count(true, kDraft));
  EXPECT_EQ(std::u16string(u"text"), Record(true, kDraft, 2).props.pszText1);
}

TEST_F(MmsWriteTest, LastRecordFromTheIndexOrFromTheCardFiles) {
  DWORD count = 99;
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(0u, count);
  // Phone memory trusts the index, stale records included.
  SetIndex(kInbox, {{1, 5, 300, 0}, {1, 6, 200, 0}, {1, 9, 100, 0}});
  Put(false, kInbox, 5, 300);
  EXPECT_EQ(9u, MMSMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(3u, count);
  EXPECT_EQ(9u, MMSMsgStore_GetLastRecord(false, kInbox, nullptr));

  // The card counts its files and takes the identifier inside the oldest
  // readable one; a tie keeps the file listed first.
  Put(true, kSent, 1, 50);
  Put(true, kSent, 2, 20);
  Put(true, kSent, 3, 90);
  Put(true, kSent, 5, 20);
  Store({}, File(true, kSent, 4));
  EXPECT_EQ(5u, Count(true, kSent));
  CMsgList order;
  ASSERT_EQ(5u, MMSMsgStore_GetMessageList(true, kSent, order));
  DWORD first = 0;
  for (long i = 0; i < order.GetSize() && first == 0; ++i)
    if (order[i].dwOid == 2 || order[i].dwOid == 5) first = order[i].dwOid;
  EXPECT_EQ(first, MMSMsgStore_GetLastRecord(true, kSent, &count));
  EXPECT_EQ(5u, count);
  Message inner(kSent, 10);
  inner.props.dwOid = 70;
  WCHAR path[MAX_PATH] = {};
  ASSERT_EQ(1, MMSMsgStore_GetFilePath(true, 7, kSent, path));
  ASSERT_EQ(1, MMSMsgStore_WriteToFile(path, &inner.props, &inner.mms));
  EXPECT_EQ(70u, MMSMsgStore_GetLastRecord(true, kSent, &count));
  EXPECT_EQ(6u, count);
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(true, kDraft, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(true, kReport, &count));
  EXPECT_EQ(0u, count);

  // AUTODOWNLOAD has no index; on the card it is the phone directory.
  Put(false, kAutoDownload, 8, 40);
  Put(false, kAutoDownload, 9, 30);
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(false, kAutoDownload, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(9u, MMSMsgStore_GetLastRecord(true, kAutoDownload, &count));
  EXPECT_EQ(2u, count);
}

TEST_F(MmsWriteTest, StorageChoiceAtTheFolderLimitAndTheFreeSpace) {
  enum : long long { kNull = -2, kA = kAuto };
  enum { kRefused = -1, kNone = -1, kPhone = 0, kCard = 1 };
  struct Case {
    DWORD folder, phone, card;  // messages already stored
    bool toCard;
    long long storage;
    int cardState;
    uint64_t phoneFree, cardFree;
    int lands;
    long long storageOut;
    int evicted;
    const char* queries;
  };
  const Case cases[] = {
      // The folder limit.
      {kInbox, 99, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kNone, "P"},
      {kInbox, 100, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kPhone, "P"},
      {kInbox, 100, 0, false, 0, 1, kPlenty, kPlenty, kPhone, 0, kPhone, "P"},
      {kInbox, 100, 0, false, kA, 1, kPlenty, kPlenty, kCard, 1, kNone, "C"},
      {kSent, 100, 0, false, kA, 3, kPlenty, kPlenty, kPhone, kA, kPhone, "P"},
      {kUnsent, 100, 0, false, kA, 5, kPlenty, kPlenty, kCard, 1, kNone, "C"},
      {kInbox, 0, 100, true, kA, 3, kPlenty, kPlenty, kPhone, 0, kNone, "P"},
      {kInbox, 100, 100, false, kA, 1, kPlenty, kPlenty, kCard, 1, kCard, "C"},
      {kSpam, 100, 100, true, kA, 1, kPlenty, kPlenty, kCard, kA, kCard, "C"},
      {kReport, 100, 0, false, kA, 1, kPlenty, kPlenty, kPhone, kA, kPhone, "P"},
      {kDraft, 0, 100, true, 1, 1, kPlenty, kPlenty, kCard, 1, kCard, "C"},
      // AUTODOWNLOAD counts no files in phone memory, all on the card.
      {kAutoDownload, 100, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kNone, "P"},
      {kAutoDownload, 100, 0, true, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kPhone, "C"},
      {kAutoDownload, 100, 0, true, kA, 1, kPlenty, kPlenty, kPhone, 0, kNone, "P"},
      // NONE knows no limit; its card file is the phone file.
      {MMS_FOLDER_NONE, 0, 0, true, kA, 1, kShort, kPlenty, kPhone, kA, kNone, "C"},
      // The free space of the volume written to, at least the body length.
      {kInbox, 0, 0, false, kNull, 1, kShort, kPlenty, kCard, kNull, kNone, "PC"},
      {kInbox, 0, 0, false, kA, 1, kShort, kPlenty, kCard, 1, kNone, "PC"},
      {kInbox, 0, 0, false, 0, 3, kShort, kPlenty, kCard, 1, kNone, "PC"},
      {kInbox, 0, 0, true, kNull, 1, kPlenty, kShort, kPhone, kNull, kNone, "CP"},
      {kReport, 0, 0, false, kA, 1, kShort, kPlenty, kRefused, 1, kNone, "PC"},
      {kInbox, 0, 0, false, kA, 1, kShort, kShort, kRefused, STORAGE_NO_SPACE, kNone, "PC"},
      {kInbox, 0, 0, false, kNull, 1, kShort, kShort, kRefused, kNull, kNone, "PC"},
      {kInbox, 0, 0, false, kNull, 1, kExact, kShort, kPhone, kNull, kNone, "P"},
      {kInbox, 0, 0, false, kNull, 1, kFails, kShort, kPhone, kNull, kNone, "P"},
      {kInbox, 0, 100, false, kNull, 1, kShort, kPlenty, kCard, kNull, kCard, "PC"},
      // One switch or eviction per write: a second shortage refuses it.
      {kInbox, 100, 0, false, kA, 1, kPlenty, kShort, kRefused, STORAGE_NO_SPACE, kNone, "C"},
      {kInbox, 100, 0, false, 0, 1, kShort, kPlenty, kRefused, STORAGE_NO_SPACE, kPhone, "P"},
      {kInbox, 100, 99, true, 1, 1, kPlenty, kShort, kRefused, STORAGE_NO_SPACE, kCard, "CC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = c.cardState;
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    SetFree(c.phoneFree, c.cardFree);
    Message m(c.folder, 500);
    DWORD storage = static_cast<DWORD>(c.storage);
    const DWORD oid = MMSMsgStore_WriteMessage(c.toCard, &m.props, &m.mms, 0,
                                               c.storage == kNull ? nullptr : &storage);
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u, oid);
    EXPECT_TRUE(c.storage == kNull || static_cast<DWORD>(c.storageOut) == storage) << storage;
    EXPECT_EQ(c.queries, Queries());
    EXPECT_EQ(c.storageOut == STORAGE_NO_SPACE || (c.storageOut == kNull && c.lands == kRefused),
              Counter().empty());
    EXPECT_EQ(c.lands == kPhone, Exists(false, c.folder, 1));
    EXPECT_EQ(c.lands == kCard, Exists(true, c.folder, 1));
    if (c.evicted != kNone) {
      const bool card = c.evicted == kCard && c.folder != kAutoDownload;
      EXPECT_FALSE(Exists(card, c.folder, card ? 3051 : 1051));
    }
    EXPECT_EQ(c.phone + (c.lands == kPhone) - (c.evicted == kPhone), Count(false, c.folder));
    if (c.folder == kAutoDownload || c.folder == MMS_FOLDER_NONE) {
      EXPECT_FALSE(fs::exists(IndexFile(c.folder)));
      continue;
    }
    EXPECT_EQ(c.card + (c.lands == kCard) - (c.evicted == kCard), Count(true, c.folder));
    const std::vector<IndexRecord> index = Index(c.folder);
    EXPECT_EQ(Count(false, c.folder), index.size());
    const IndexRecord added = {c.folder, 1, 500, 0};
    EXPECT_EQ(c.lands == kPhone, !index.empty() && index[0] == added);
    EXPECT_EQ(
        c.phone != 0 && c.evicted != kPhone,
        std::any_of(index.begin(), index.end(), [](const IndexRecord& r) { return r[1] == 1051; }));
  }
}

TEST_F(MmsWriteTest, EvictingAVanishedFileStillMakesRoom) {
  Fill(false, kSent, 100);
  fs::remove(File(false, kSent, 1051));
  EXPECT_EQ(1u, Write(false, kSent, 500));
  const std::vector<DWORD> oids = Oids(kSent);
  EXPECT_EQ(100u, oids.size());
  EXPECT_EQ(1u, oids.front());
  EXPECT_EQ(0, std::count(oids.begin(), oids.end(), 1051u));
  EXPECT_EQ(100u, Count(false, kSent));
}

TEST_F(MmsWriteTest, RewritesKeepTheirIdentifierAndMayMoveForSpaceOnly) {
  Fill(false, kInbox, 100);
  Message m(kInbox, 1000, 1);
  EXPECT_EQ(1020u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 1020, nullptr));
  EXPECT_EQ(1020u, m.props.dwOid);
  EXPECT_TRUE(Exists(false, kInbox, 1051));
  std::vector<DWORD> oids = Oids(kInbox);
  EXPECT_EQ(100u, oids.size());
  EXPECT_EQ(1020u, oids.front());
  EXPECT_EQ(1, std::count(oids.begin(), oids.end(), 1020u));
  EXPECT_EQ(1, Record(false, kInbox, 1020).props.bRead);
  EXPECT_TRUE(Counter().empty());

  // A rewrite on the card keeps its name and has no index.
  Put(true, kInbox, 7, 10);
  EXPECT_EQ(7u, MMSMsgStore_WriteMessage(true, &m.props, &m.mms, 7, nullptr));
  EXPECT_EQ(1, Record(true, kInbox, 7).props.bRead);
  EXPECT_EQ(1u, Count(true, kInbox));
  EXPECT_TRUE(Counter().empty());

  // Short of space, a rewrite goes to the other storage under its identifier
  // and leaves the old file and its record behind.
  SetFree(kShort, kPlenty);
  DWORD storage = 0;
  EXPECT_EQ(1020u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 1020, &storage));
  EXPECT_EQ(1u, storage);
  EXPECT_EQ("PC", Queries());
  EXPECT_TRUE(Exists(true, kInbox, 1020));
  EXPECT_TRUE(Exists(false, kInbox, 1020));
  EXPECT_EQ(oids, Oids(kInbox));
  SetFree(kShort, kShort);
  EXPECT_EQ(0u, MMSMsgStore_WriteMessage(false, &m.props, &m.mms, 1030, &storage));
  EXPECT_EQ(static_cast<DWORD>(STORAGE_NO_SPACE), storage);
  EXPECT_FALSE(Exists(true, kInbox, 1030));
  EXPECT_TRUE(Counter().empty());

  // With the phone folder full, a card rewrite short of space evicts its own
  // card file and then finds no room.
  storage = 1;
  EXPECT_EQ(0u, MMSMsgStore_WriteMessage(true, &m.props, &m.mms, 7, &storage));
  EXPECT_EQ(static_cast<DWORD>(STORAGE_NO_SPACE), storage);
  EXPECT_FALSE(Exists(true, kInbox, 7));
  EXPECT_TRUE(Exists(true, kInbox, 1020));
  EXPECT_EQ(100u, Count(false, kInbox));
}

}  // namespace
