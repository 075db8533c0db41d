// Index files: record order, removal, partial records, concurrent inserts.
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/index_file.h"
#include "test_support.h"

namespace {

using namespace msgstore;  // NOLINT(build/namespaces)
using Bytes = std::vector<uint8_t>;
using List = CArray<tagOidArray, tagOidArray>;
using Entry = std::tuple<int, int, DWORD>;  // bMemoryCard, byFolder, dwOid

constexpr const WCHAR* kIndex = u"\\SD Card\\EmsIni";
constexpr IndexLock kLock = {u"MUTEX_TEST_ACCESSINI", true};

// Records of folder, identifier, time low, time high; then any extra bytes.
Bytes Image(std::initializer_list<std::array<DWORD, 4>> records, const Bytes& extra = {}) {
  Bytes b;
  for (const auto& record : records)
    for (DWORD v : record)
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  b.insert(b.end(), extra.begin(), extra.end());
  return b;
}

std::vector<Entry> Entries(const List& list) {
  std::vector<Entry> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.emplace_back(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
  return entries;
}

class CommonIndex : public msgstore_test::DeviceTest {
 protected:
  bool IndexExists() const { return std::filesystem::exists(Host("SD Card/EmsIni")); }
  Bytes IndexBytes() const {
    std::ifstream in(Host("SD Card/EmsIni"), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void SetIndex(const Bytes& b) const {
    std::ofstream(Host("SD Card/EmsIni"), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  void Insert(DWORD folder, DWORD oid, DWORD low, DWORD high) {
    IndexInsert(kIndex, kLock, IndexRecord{folder, oid, FILETIME{low, high}});
  }
  void Remove(DWORD oid, DWORD folder) { IndexRemove(kIndex, kLock, oid, folder); }
};

TEST_F(CommonIndex, InsertKeepsNewestFirstWithTiesBefore) {
  Insert(1, 5, 0x89ABCDEF, 0x01D2A3B4);
  EXPECT_EQ(IndexBytes(),
            Bytes({1, 0, 0, 0, 5, 0, 0, 0, 0xEF, 0xCD, 0xAB, 0x89, 0xB4, 0xA3, 0xD2, 0x01}));
  SetIndex(Image({{1, 10, 5, 1}, {1, 11, 3, 1}, {1, 12, 9, 0}}));
  Insert(7, 21, 5, 1);  // tie with the newest: the new record stands first
  Insert(1, 22, 0, 1);  // the high half decides first
  Insert(1, 23, 0, 0);  // oldest
  EXPECT_EQ(IndexBytes(), Image({{7, 21, 5, 1},
                                 {1, 10, 5, 1},
                                 {1, 11, 3, 1},
                                 {1, 22, 0, 1},
                                 {1, 12, 9, 0},
                                 {1, 23, 0, 0}}));
}

TEST_F(CommonIndex, RemoveTakesTheFirstMatchOfIdAndFolder) {
  const Bytes original =
      Image({{1, 10, 9, 0}, {1, 11, 8, 0}, {3, 11, 7, 0}, {1, 11, 6, 0}, {1, 12, 5, 0}}, {9, 9});
  SetIndex(original);
  Remove(99, 1);
  Remove(12, 3);
  EXPECT_EQ(IndexBytes(), original);
  Remove(11, 1);  // rewritten without the partial record
  Remove(12, 1);
  EXPECT_EQ(IndexBytes(), Image({{1, 10, 9, 0}, {3, 11, 7, 0}, {1, 11, 6, 0}}));
  SetIndex(Image({{7, 5, 1, 0}}));
  Remove(5, 1);
  Remove(6, 7);
  EXPECT_EQ(IndexBytes(), Image({{7, 5, 1, 0}}));
  Remove(5, 7);
  EXPECT_FALSE(IndexExists());
  Remove(5, 7);  // a missing index stays missing
  EXPECT_FALSE(IndexExists());
}

TEST_F(CommonIndex, QuickListAndFilesWithoutWholeRecords) {
  List list;
  list.Add(tagOidArray{1, 2, 3});
  EXPECT_EQ(IndexQuickList(kIndex, kLock, list), 0u);
  SetIndex({});
  EXPECT_EQ(IndexQuickList(kIndex, kLock, list), 0u);
  EXPECT_EQ(Entries(list), std::vector<Entry>({{1, 2, 3}}));
  Insert(1, 5, 100, 0);
  Remove(5, 1);
  EXPECT_TRUE(IndexExists() && IndexBytes().empty());

  SetIndex({1, 2, 3});
  EXPECT_EQ(IndexQuickList(kIndex, kLock, list), 0u);
  EXPECT_EQ(list.GetSize(), 0);
  Remove(1, 1);
  EXPECT_EQ(IndexBytes(), Bytes({1, 2, 3}));
  Insert(1, 4, 8, 0);
  EXPECT_EQ(IndexBytes(), Image({{1, 4, 8, 0}}));

  SetIndex(Image({{0x30000003, 8, 9, 0}, {7, 4, 2, 0}}, {9, 9}));
  EXPECT_EQ(IndexQuickList(kIndex, kLock, list), 2u);
  EXPECT_EQ(Entries(list), std::vector<Entry>({{0, 3, 8}, {0, 7, 4}}));
}

TEST_F(CommonIndex, ConcurrentInsertsLoseNothing) {
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < 3; ++t)
    threads.emplace_back([this, t] {
      for (DWORD i = 0; i < 20; ++i) Insert(1, t * 100 + i, t * 100 + i + 1, 0);
    });
  for (std::thread& th : threads) th.join();
  List list;
  ASSERT_EQ(IndexQuickList(kIndex, kLock, list), 60u);
  for (long i = 1; i < 60; ++i) EXPECT_GT(list[i - 1].dwOid, list[i].dwOid) << i;
}

}  // namespace
