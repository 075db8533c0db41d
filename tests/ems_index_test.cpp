// EMS folder index files: which file a folder's records go to, record order,
// removal and the quick list.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msgstore/ems.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Rec {
  uint32_t folder, oid, timeLow, timeHigh;
};

// The expected index image, built independently of the library.
Bytes Image(const std::vector<Rec>& recs) {
  Bytes b;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (const Rec& r : recs) {
    u32(r.folder);
    u32(r.oid);
    u32(r.timeLow);
    u32(r.timeHigh);
  }
  return b;
}

class EmsIndex : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(EMSMsgStore_CreateDir(false), 1);
  }
  std::string Index(const std::string& dir) {
    return Host("DiskOnChip/User/MESSAGING/EMS/" + dir + "/EmsIni");
  }
  Bytes Load(const std::string& dir) {
    std::ifstream in(Index(dir), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void Store(const std::string& dir, const Bytes& bytes) {
    std::ofstream out(Index(dir), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  bool Exists(const std::string& dir) { return fs::exists(Index(dir)); }
  // Every index file under the phone tree.
  std::vector<std::string> AllIndexes() {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(Host("DiskOnChip")))
      if (e.path().filename() == "EmsIni")
        found.push_back(e.path().parent_path().filename().string());
    return found;
  }
};

TEST_F(EmsIndex, FirstAddCreatesAOneRecordFile) {
  EMSMsgStore_AddMsgToIni(42, 2, {0x01020304, 0xA0B0C0D0});
  EXPECT_EQ(Load("DRAFT"), (Bytes{2, 0, 0, 0, 42, 0, 0, 0, 4, 3, 2, 1, 0xD0, 0xC0, 0xB0, 0xA0}));
  EXPECT_EQ(AllIndexes(), (std::vector<std::string>{"DRAFT"}));
}

TEST_F(EmsIndex, RecordsStayNewestFirst) {
  EMSMsgStore_AddMsgToIni(1, 1, {10, 0});
  EMSMsgStore_AddMsgToIni(2, 1, {30, 0});
  EMSMsgStore_AddMsgToIni(3, 1, {20, 0});
  // The high half decides before the low half.
  EMSMsgStore_AddMsgToIni(4, 1, {5, 1});
  EXPECT_EQ(Load("INBOX"), Image({{1, 4, 5, 1}, {1, 2, 30, 0}, {1, 3, 20, 0}, {1, 1, 10, 0}}));
}

TEST_F(EmsIndex, EqualTimeGoesBeforeAndOldestIsAppended) {
  EMSMsgStore_AddMsgToIni(1, 3, {20, 0});
  EMSMsgStore_AddMsgToIni(2, 3, {10, 0});
  EMSMsgStore_AddMsgToIni(3, 3, {20, 0});
  EXPECT_EQ(Load("SENT"), Image({{3, 3, 20, 0}, {3, 1, 20, 0}, {3, 2, 10, 0}}));
  EMSMsgStore_AddMsgToIni(4, 3, {0, 0});
  EXPECT_EQ(Load("SENT"), Image({{3, 3, 20, 0}, {3, 1, 20, 0}, {3, 2, 10, 0}, {3, 4, 0, 0}}));
  EMSMsgStore_AddMsgToIni(5, 3, {10, 0});
  EXPECT_EQ(Load("SENT"),
            Image({{3, 3, 20, 0}, {3, 1, 20, 0}, {3, 5, 10, 0}, {3, 2, 10, 0}, {3, 4, 0, 0}}));
}

TEST_F(EmsIndex, SimCopiesGoToTheCounterpartIndexWithTheirOwnFolder) {
  EMSMsgStore_AddMsgToIni(1, 1, {50, 0});
  EMSMsgStore_AddMsgToIni(9, 7, {60, 0});
  EMSMsgStore_AddMsgToIni(10, 12, {1, 0});
  EMSMsgStore_AddMsgToIni(11, 13, {2, 0});
  EXPECT_EQ(Load("INBOX"), Image({{7, 9, 60, 0}, {1, 1, 50, 0}}));
  EXPECT_EQ(Load("SENT"), Image({{12, 10, 1, 0}}));
  EXPECT_EQ(Load("UNSENT"), Image({{13, 11, 2, 0}}));
  EXPECT_FALSE(Exists("SIM_INBOX"));
  EXPECT_FALSE(Exists("SIM_SENT"));
  EXPECT_FALSE(Exists("SIM_UNSENT"));

  // Only the record's own folder finds it.
  EMSMsgStore_DeleteMsgFromIni(9, 1);
  EXPECT_EQ(Load("INBOX"), Image({{7, 9, 60, 0}, {1, 1, 50, 0}}));
  EMSMsgStore_DeleteMsgFromIni(9, 7);
  EXPECT_EQ(Load("INBOX"), Image({{1, 1, 50, 0}}));
  EMSMsgStore_DeleteMsgFromIni(10, 3);
  EXPECT_TRUE(Exists("SENT"));
  EMSMsgStore_DeleteMsgFromIni(10, 12);
  EXPECT_FALSE(Exists("SENT"));
  EMSMsgStore_DeleteMsgFromIni(11, 13);
  EXPECT_FALSE(Exists("UNSENT"));
}

TEST_F(EmsIndex, RemovalTakesTheFirstMatchAndKeepsTheOrder) {
  Bytes image = Image({{6, 1, 40, 0}, {6, 2, 30, 0}, {6, 1, 20, 0}, {6, 3, 10, 0}});
  Store("SPAM", image);
  EMSMsgStore_DeleteMsgFromIni(4, 6);  // not there
  EXPECT_EQ(Load("SPAM"), image);
  EMSMsgStore_DeleteMsgFromIni(1, 6);
  EXPECT_EQ(Load("SPAM"), Image({{6, 2, 30, 0}, {6, 1, 20, 0}, {6, 3, 10, 0}}));
  EMSMsgStore_DeleteMsgFromIni(3, 6);
  EXPECT_EQ(Load("SPAM"), Image({{6, 2, 30, 0}, {6, 1, 20, 0}}));
}

TEST_F(EmsIndex, RemovingTheOnlyRecordDeletesTheFile) {
  EMSMsgStore_AddMsgToIni(7, 5, {1, 2});
  EMSMsgStore_DeleteMsgFromIni(8, 5);
  EXPECT_EQ(Load("REPORT"), Image({{5, 7, 1, 2}}));
  EMSMsgStore_DeleteMsgFromIni(7, 5);
  EXPECT_FALSE(Exists("REPORT"));
  // Removing from a folder without an index creates nothing.
  EMSMsgStore_DeleteMsgFromIni(7, 5);
  EXPECT_TRUE(AllIndexes().empty());
}

TEST_F(EmsIndex, FolderNoneAndNonFoldersTouchNothing) {
  EMSMsgStore_AddMsgToIni(1, 8, {1, 0});
  for (DWORD folder : {0u, 9u, 10u, 11u, 14u}) EMSMsgStore_AddMsgToIni(1, folder, {1, 0});
  EXPECT_TRUE(AllIndexes().empty());

  // A file put in NONE by hand is neither grown nor removed.
  Bytes image = Image({{8, 1, 1, 0}});
  Store("NONE", image);
  EMSMsgStore_AddMsgToIni(2, 8, {2, 0});
  EMSMsgStore_DeleteMsgFromIni(1, 8);
  EXPECT_EQ(Load("NONE"), image);
}

TEST_F(EmsIndex, AnEmptyIndexFileIsLeftAlone) {
  Store("INBOX", {});
  EMSMsgStore_AddMsgToIni(1, 1, {1, 0});
  EXPECT_EQ(Load("INBOX").size(), 0u);
  EXPECT_TRUE(Exists("INBOX"));
}

TEST_F(EmsIndex, BytesAfterTheLastWholeRecordAreDropped) {
  Bytes image = Image({{1, 1, 20, 0}});
  image.insert(image.end(), {0xEE, 0xEE, 0xEE});
  Store("INBOX", image);
  EMSMsgStore_AddMsgToIni(2, 1, {10, 0});
  EXPECT_EQ(Load("INBOX"), Image({{1, 1, 20, 0}, {1, 2, 10, 0}}));
}

TEST_F(EmsIndex, QuickListFollowsTheIndex) {
  EMSMsgStore_AddMsgToIni(1, 1, {10, 0});
  EMSMsgStore_AddMsgToIni(2, 7, {30, 0});
  EMSMsgStore_AddMsgToIni(0x80000003u, 1, {20, 0});
  CArray<tagOidArray, tagOidArray> list;
  list.Add({1, 9, 999});  // emptied first
  ASSERT_EQ(EMSMsgStore_GetQuickMsgList(list, 1), 3u);
  ASSERT_EQ(list.GetSize(), 3);
  const tagOidArray expected[] = {{0, 7, 2}, {0, 1, 0x80000003u}, {0, 1, 1}};
  for (long i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].bMemoryCard, expected[i].bMemoryCard);
    EXPECT_EQ(list[i].byFolder, expected[i].byFolder);
    EXPECT_EQ(list[i].dwOid, expected[i].dwOid);
  }
}

TEST_F(EmsIndex, QuickListMarksTheLowByteOfTheFolderField) {
  Store("DRAFT", Image({{0x1234, 5, 0, 0}}));
  CArray<tagOidArray, tagOidArray> list;
  ASSERT_EQ(EMSMsgStore_GetQuickMsgList(list, 2), 1u);
  EXPECT_EQ(list[0].byFolder, 0x34);
  EXPECT_EQ(list[0].dwOid, 5u);
}

TEST_F(EmsIndex, QuickListWithoutAnIndexLeavesTheListAlone) {
  EMSMsgStore_AddMsgToIni(2, 7, {30, 0});
  EMSMsgStore_AddMsgToIni(3, 12, {30, 0});
  Store("DRAFT", {});
  Store("REPORT", Bytes(15, 1));
  CArray<tagOidArray, tagOidArray> list;
  list.Add({1, 1, 77});
  // SIM folders have no index of their own; NONE has none; DRAFT's is
  // empty; REPORT's holds no whole record; SPAM's is missing.
  for (DWORD folder : {7u, 12u, 13u, 8u, 9u, 0u, 2u, 6u}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(EMSMsgStore_GetQuickMsgList(list, folder), 0u);
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list[0].dwOid, 77u);
  }
  // A file with no whole record is read and lists nothing.
  EXPECT_EQ(EMSMsgStore_GetQuickMsgList(list, 5), 0u);
  EXPECT_EQ(list.GetSize(), 0);
}

}  // namespace
