// MMS folder index files: exact records, time order with ties, removal of
// the first match, the quick list, and the folders that have no index.
#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::ByteBuilder;
using msgstore_test::Bytes;

class MmsIndexTest : public msgstore_test::MmsTest {
 protected:
  // Every file under the device root, with its size.
  std::set<std::pair<std::string, uintmax_t>> Files() {
    std::set<std::pair<std::string, uintmax_t>> all;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      if (e.is_regular_file()) all.insert({e.path().string(), e.file_size()});
    return all;
  }
  Bytes IndexBytes(DWORD folder) { return Load(IndexFile(folder)); }
  // The list after a quick listing: (bMemoryCard, byFolder, dwOid) per entry.
  using Entries = std::vector<std::array<DWORD, 3>>;
  Entries List(DWORD folder, CMsgList& list, DWORD* size) {
    *size = MMSMsgStore_GetQuickMsgList(list, folder);
    Entries out;
    for (long i = 0; i < list.GetSize(); ++i)
      out.push_back({list[i].bMemoryCard, list[i].byFolder, list[i].dwOid});
    return out;
  }
};

TEST_F(MmsIndexTest, RecordsStandNewestFirstWithLaterAdditionsFirstAmongEqualTimes) {
  const FILETIME t = {0x11223344, 0x55667788};
  MMSMsgStore_AddMsgToIni(5, kInbox, t);
  EXPECT_EQ(IndexBytes(kInbox),
            (Bytes{1, 0, 0, 0, 5, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
  MMSMsgStore_AddMsgToIni(6, kInbox, t);                         // equal: before
  MMSMsgStore_AddMsgToIni(7, kInbox, {0xFFFFFFFF, 0x55667787});  // older by the high half
  MMSMsgStore_AddMsgToIni(8, kInbox, {0, 0x55667789});           // newer by the high half
  MMSMsgStore_AddMsgToIni(5, kInbox, {0x11223345, 0x55667788});  // listed twice
  MMSMsgStore_AddMsgToIni(9, 3, {1, 0});                         // the SENT index
  EXPECT_EQ(Index(kInbox), (std::vector<IndexRecord>{{1, 8, 0, 0x55667789},
                                                     {1, 5, 0x11223345, 0x55667788},
                                                     {1, 6, 0x11223344, 0x55667788},
                                                     {1, 5, 0x11223344, 0x55667788},
                                                     {1, 7, 0xFFFFFFFF, 0x55667787}}));
  EXPECT_EQ(Index(kSent), (std::vector<IndexRecord>{{3, 9, 1, 0}}));

  // Removal takes the first record whose identifier and folder both match.
  MMSMsgStore_DeleteMsgFromIni(5, kInbox);
  EXPECT_EQ(Oids(kInbox), (std::vector<DWORD>{8, 6, 5, 7}));
  const Bytes before = IndexBytes(kInbox);
  MMSMsgStore_DeleteMsgFromIni(42, kInbox);
  MMSMsgStore_DeleteMsgFromIni(6, kSent);
  EXPECT_EQ(IndexBytes(kInbox), before);
  SetIndex(kDraft, {{3, 4, 9, 0}, {2, 4, 8, 0}, {2, 4, 7, 0}});
  MMSMsgStore_DeleteMsgFromIni(4, kDraft);
  EXPECT_EQ(Index(kDraft), (std::vector<IndexRecord>{{3, 4, 9, 0}, {2, 4, 7, 0}}));

  // A single record stays unless it is the one removed; then the file goes.
  MMSMsgStore_DeleteMsgFromIni(8, kSent);
  MMSMsgStore_DeleteMsgFromIni(9, kInbox);
  EXPECT_EQ(Index(kSent), (std::vector<IndexRecord>{{3, 9, 1, 0}}));
  MMSMsgStore_DeleteMsgFromIni(9, kSent);
  EXPECT_FALSE(fs::exists(IndexFile(kSent)));
}

TEST_F(MmsIndexTest, QuickListReplacesTheListOnlyWhenTheIndexWasRead) {
  CMsgList list;
  list.Add({1, 9, 77});
  DWORD size = 99;
  EXPECT_EQ(List(kSpam, list, &size), (Entries{{1, 9, 77}}));
  EXPECT_EQ(size, 0u);
  Store({}, IndexFile(kSpam));  // empty: unreadable, and kept so
  EXPECT_EQ(List(kSpam, list, &size), (Entries{{1, 9, 77}}));
  MMSMsgStore_AddMsgToIni(1, kSpam, {1, 0});
  MMSMsgStore_DeleteMsgFromIni(1, kSpam);
  EXPECT_TRUE(fs::exists(IndexFile(kSpam)) && IndexBytes(kSpam).empty());

  // byFolder is the low 8 bits of the record's folder; a trailing part
  // record is ignored and dropped by the next rewrite.
  SetIndex(kSpam, {{0x0106, 12, 5, 0}, {6, 0x80000000u, 4, 0}});
  Store(ByteBuilder().Raw(IndexBytes(kSpam)).Raw({6, 0, 0, 0, 1, 0, 0, 0}).b, IndexFile(kSpam));
  EXPECT_EQ(List(kSpam, list, &size), (Entries{{0, 6, 12}, {0, 6, 0x80000000u}}));
  EXPECT_EQ(size, 2u);
  MMSMsgStore_AddMsgToIni(13, kSpam, {3, 0});
  EXPECT_EQ(Index(kSpam),
            (std::vector<IndexRecord>{{0x0106, 12, 5, 0}, {6, 0x80000000u, 4, 0}, {6, 13, 3, 0}}));
}

TEST_F(MmsIndexTest, FoldersWithoutIndexTouchNoFile) {
  MMSMsgStore_AddMsgToIni(1, kInbox, {1, 0});
  const auto files = Files();
  CMsgList list;
  list.Add({0, 2, 5});
  for (DWORD folder : {kNone, kAutoDownload, 0u, 7u, 9u, 12u, 0x101u}) {
    SCOPED_TRACE(folder);
    MMSMsgStore_AddMsgToIni(1, folder, {1, 0});
    MMSMsgStore_AddMsgToIni(2, folder, {2, 0});
    MMSMsgStore_DeleteMsgFromIni(1, folder);
    EXPECT_EQ(MMSMsgStore_GetQuickMsgList(list, folder), 0u);
    EXPECT_EQ(list.GetSize(), 1);
    EXPECT_EQ(Files(), files);
  }
}

}  // namespace
