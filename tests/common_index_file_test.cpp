// Index files, directory scans, whole-file reads and named locks over the
// device file system.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/dir_scan.h"
#include "common/index_file.h"
#include "common/named_lock.h"
#include "common/whole_file.h"
#include "test_support.h"

namespace {

using msgstore::IndexRecord;
using Bytes = std::vector<uint8_t>;
using List = CArray<tagOidArray, tagOidArray>;

constexpr const WCHAR* kIndex = u"\\DiskOnChip\\Idx\\EmsIni";
constexpr msgstore::IndexLock kLock = {u"MUTEX_TEST_ACCESSINI", true};

// The 16 bytes of a record: folder, identifier, time low, time high.
Bytes Rec(DWORD folder, DWORD oid, DWORD low, DWORD high = 0) {
  Bytes b;
  for (DWORD v : {folder, oid, low, high})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class CommonIndex : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    std::filesystem::create_directories(Host("DiskOnChip/Idx"));
  }
  std::string IndexHost() const { return Host("DiskOnChip/Idx/EmsIni"); }
  bool IndexExists() const { return std::filesystem::exists(IndexHost()); }
  Bytes IndexBytes() const {
    std::ifstream in(IndexHost(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void SetIndex(const Bytes& b) const {
    std::ofstream out(IndexHost(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  void Insert(DWORD folder, DWORD oid, DWORD low, DWORD high = 0) {
    msgstore::IndexInsert(kIndex, kLock, IndexRecord{folder, oid, FILETIME{low, high}});
  }
};

TEST_F(CommonIndex, FirstInsertCreatesOneRecord) {
  Insert(1, 5, 0x89ABCDEF, 0x01D2A3B4);
  EXPECT_EQ(IndexBytes(),
            Bytes({1, 0, 0, 0, 5, 0, 0, 0, 0xEF, 0xCD, 0xAB, 0x89, 0xB4, 0xA3, 0xD2, 0x01}));
}

TEST_F(CommonIndex, InsertKeepsNewestFirstAndPutsTiesBefore) {
  SetIndex(Cat({Rec(1, 10, 5), Rec(1, 11, 3), Rec(1, 12, 1)}));
  Insert(1, 20, 4);
  EXPECT_EQ(IndexBytes(), Cat({Rec(1, 10, 5), Rec(1, 20, 4), Rec(1, 11, 3), Rec(1, 12, 1)}));
  Insert(7, 21, 3);  // tie with 11: the new record stands first
  EXPECT_EQ(IndexBytes(),
            Cat({Rec(1, 10, 5), Rec(1, 20, 4), Rec(7, 21, 3), Rec(1, 11, 3), Rec(1, 12, 1)}));
  Insert(1, 22, 0);  // older than all: appended
  EXPECT_EQ(IndexBytes(), Cat({Rec(1, 10, 5), Rec(1, 20, 4), Rec(7, 21, 3), Rec(1, 11, 3),
                               Rec(1, 12, 1), Rec(1, 22, 0)}));
  Insert(1, 23, 6);  // newest: first
  const Bytes after = IndexBytes();
  ASSERT_EQ(after.size(), 7 * 16u);
  EXPECT_EQ(Bytes(after.begin(), after.begin() + 16), Rec(1, 23, 6));
}

TEST_F(CommonIndex, TimesCompareByTheirHighHalfFirst) {
  SetIndex(Rec(2, 1, 0xFFFFFFFF, 0));
  Insert(2, 2, 0, 1);
  EXPECT_EQ(IndexBytes(), Cat({Rec(2, 2, 0, 1), Rec(2, 1, 0xFFFFFFFF, 0)}));
}

TEST_F(CommonIndex, EmptyFileIsLeftAloneAndTheRecordDropped) {
  SetIndex({});
  Insert(1, 5, 100);
  EXPECT_TRUE(IndexExists());
  EXPECT_TRUE(IndexBytes().empty());
  msgstore::IndexRemove(kIndex, kLock, 5, 1);
  EXPECT_TRUE(IndexExists());
}

TEST_F(CommonIndex, TrailingPartialRecordIsIgnoredAndDroppedOnRewrite) {
  SetIndex(Cat({Rec(1, 10, 5), Bytes({9, 9, 9, 9, 9})}));
  std::vector<IndexRecord> records;
  ASSERT_TRUE(msgstore::ReadIndex(kIndex, &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].oid, 10u);
  Insert(1, 11, 4);
  EXPECT_EQ(IndexBytes(), Cat({Rec(1, 10, 5), Rec(1, 11, 4)}));
}

TEST_F(CommonIndex, FileShorterThanARecordReadsAsNoRecords) {
  SetIndex({1, 2, 3});
  List list;
  list.Add(tagOidArray{1, 1, 99});
  EXPECT_EQ(msgstore::IndexQuickList(kIndex, kLock, list), 0u);
  EXPECT_EQ(list.GetSize(), 0);  // the file was read, so the list was emptied
  msgstore::IndexRemove(kIndex, kLock, 1, 1);
  EXPECT_EQ(IndexBytes(), Bytes({1, 2, 3}));
  Insert(1, 4, 8);  // an existing non-empty file is rewritten with its whole records
  EXPECT_EQ(IndexBytes(), Rec(1, 4, 8));
}

TEST_F(CommonIndex, RemovingTheOnlyRecordDeletesTheFile) {
  SetIndex(Rec(7, 5, 1));
  msgstore::IndexRemove(kIndex, kLock, 5, 1);  // folder must match too
  EXPECT_EQ(IndexBytes(), Rec(7, 5, 1));
  msgstore::IndexRemove(kIndex, kLock, 6, 7);
  EXPECT_EQ(IndexBytes(), Rec(7, 5, 1));
  msgstore::IndexRemove(kIndex, kLock, 5, 7);
  EXPECT_FALSE(IndexExists());
  msgstore::IndexRemove(kIndex, kLock, 5, 7);  // missing file: nothing happens
  EXPECT_FALSE(IndexExists());
}

TEST_F(CommonIndex, RemoveTakesTheFirstMatchAndKeepsOrder) {
  const Bytes original =
      Cat({Rec(1, 10, 9), Rec(1, 11, 8), Rec(3, 11, 7), Rec(1, 11, 6), Rec(1, 12, 5)});
  SetIndex(original);
  msgstore::IndexRemove(kIndex, kLock, 99, 1);
  EXPECT_EQ(IndexBytes(), original);
  msgstore::IndexRemove(kIndex, kLock, 12, 3);
  EXPECT_EQ(IndexBytes(), original);
  msgstore::IndexRemove(kIndex, kLock, 11, 1);
  EXPECT_EQ(IndexBytes(), Cat({Rec(1, 10, 9), Rec(3, 11, 7), Rec(1, 11, 6), Rec(1, 12, 5)}));
  msgstore::IndexRemove(kIndex, kLock, 12, 1);
  EXPECT_EQ(IndexBytes(), Cat({Rec(1, 10, 9), Rec(3, 11, 7), Rec(1, 11, 6)}));
}

TEST_F(CommonIndex, QuickListReplacesTheListOnlyWhenTheIndexWasRead) {
  List list;
  list.Add(tagOidArray{1, 2, 3});
  EXPECT_EQ(msgstore::IndexQuickList(kIndex, kLock, list), 0u);
  ASSERT_EQ(list.GetSize(), 1);
  EXPECT_EQ(list[0].dwOid, 3u);
  EXPECT_FALSE(IndexExists());

  SetIndex({});
  EXPECT_EQ(msgstore::IndexQuickList(kIndex, kLock, list), 0u);
  EXPECT_EQ(list.GetSize(), 1);

  SetIndex(Cat({Rec(0x30000003, 8, 9), Rec(7, 4, 2)}));
  EXPECT_EQ(msgstore::IndexQuickList(kIndex, kLock, list), 2u);
  ASSERT_EQ(list.GetSize(), 2);
  EXPECT_EQ(list[0].bMemoryCard, 0);
  EXPECT_EQ(list[0].byFolder, 3);
  EXPECT_EQ(list[0].dwOid, 8u);
  EXPECT_EQ(list[1].bMemoryCard, 0);
  EXPECT_EQ(list[1].byFolder, 7);
  EXPECT_EQ(list[1].dwOid, 4u);
}

TEST_F(CommonIndex, WriteIndexOfNoRecordsLeavesAnEmptyFile) {
  SetIndex(Rec(1, 1, 1));
  msgstore::WriteIndex(kIndex, {});
  EXPECT_TRUE(IndexExists());
  EXPECT_TRUE(IndexBytes().empty());
  std::vector<IndexRecord> records;
  EXPECT_FALSE(msgstore::ReadIndex(kIndex, &records));
}

TEST_F(CommonIndex, ConcurrentInsertsLoseNothing) {
  Insert(1, 1000, 1000);
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < 2; ++t) {
    threads.emplace_back([this, t] {
      for (DWORD i = 0; i < 20; ++i) Insert(1, t * 100 + i, t * 100 + i);
    });
  }
  for (std::thread& th : threads) th.join();
  std::vector<IndexRecord> records;
  ASSERT_TRUE(msgstore::ReadIndex(kIndex, &records));
  ASSERT_EQ(records.size(), 41u);
  for (size_t i = 1; i < records.size(); ++i)
    EXPECT_GE(records[i - 1].time.dwLowDateTime, records[i].time.dwLowDateTime);
}

TEST_F(CommonIndex, NamedLockExcludesOtherHolders) {
  std::atomic<int> inside{0};
  std::atomic<int> maxInside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 30; ++i) {
        msgstore::NamedLock lock(u"MUTEX_TEST_EXCLUSION", i % 2 == 0);
        int now = ++inside;
        if (now > maxInside) maxInside = now;
        std::this_thread::yield();
        --inside;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(maxInside.load(), 1);
}

class CommonDirScan : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    std::filesystem::create_directories(Host("DiskOnChip/D"));
    for (const char* name : {"3.sms", "10.sms", "-2.sms", "note.txt"})
      std::ofstream(Host(std::string("DiskOnChip/D/") + name)) << "x";
  }
};

TEST_F(CommonDirScan, ListAppendsAnEntryPerMatch) {
  List list;
  list.Add(tagOidArray{1, 9, 77});
  EXPECT_EQ(msgstore::ListDir(u"\\DiskOnChip\\D", u"*.sms", 1, 4, list), 3u);
  ASSERT_EQ(list.GetSize(), 4);
  EXPECT_EQ(list[0].dwOid, 77u);
  std::multiset<DWORD> oids;
  for (long i = 1; i < 4; ++i) {
    EXPECT_EQ(list[i].bMemoryCard, 1);
    EXPECT_EQ(list[i].byFolder, 4);
    oids.insert(list[i].dwOid);
  }
  EXPECT_EQ(oids, std::multiset<DWORD>({3u, 10u, 0xFFFFFFFEu}));
  EXPECT_EQ(msgstore::ListDir(u"\\DiskOnChip\\Nowhere", u"*.sms", 0, 1, list), 0u);
  EXPECT_EQ(list.GetSize(), 4);
}

TEST_F(CommonDirScan, ScanStopsWhenAskedAndDeleteTakesOnlyMatches) {
  std::vector<std::u16string> seen;
  EXPECT_EQ(msgstore::ScanDir(u"\\DiskOnChip\\D", u"*.sms",
                              [&](const WCHAR* name) {
                                seen.emplace_back(name);
                                return false;
                              }),
            1u);
  EXPECT_EQ(seen.size(), 1u);
  msgstore::DeleteMatching(u"\\DiskOnChip\\D", u"*.sms");
  EXPECT_FALSE(std::filesystem::exists(Host("DiskOnChip/D/3.sms")));
  EXPECT_FALSE(std::filesystem::exists(Host("DiskOnChip/D/10.sms")));
  EXPECT_FALSE(std::filesystem::exists(Host("DiskOnChip/D/-2.sms")));
  EXPECT_TRUE(std::filesystem::exists(Host("DiskOnChip/D/note.txt")));
  EXPECT_EQ(msgstore::ScanDir(u"\\DiskOnChip\\D", u"*.sms", [](const WCHAR*) { return true; }), 0u);
}

class CommonWholeFile : public msgstore_test::DeviceTest {};

TEST_F(CommonWholeFile, ReadsExactlyTheFileOrReportsWhy) {
  std::filesystem::create_directories(Host("DiskOnChip/R"));
  std::ofstream(Host("DiskOnChip/R/f.bin"), std::ios::binary) << std::string("abc\0d", 5);
  Bytes out = {0xEE};
  EXPECT_EQ(msgstore::ReadWholeFile(u"\\DiskOnChip\\R\\missing", 0, &out),
            msgstore::ReadResult::kOpenFailed);
  EXPECT_EQ(msgstore::ReadWholeFile(u"\\DiskOnChip\\R\\f.bin", 5, &out),
            msgstore::ReadResult::kTooSmall);
  EXPECT_EQ(out, Bytes({0xEE}));
  ASSERT_EQ(msgstore::ReadWholeFile(u"\\DiskOnChip\\R\\f.bin", 4, &out), msgstore::ReadResult::kOk);
  EXPECT_EQ(out, Bytes({'a', 'b', 'c', 0, 'd'}));
  EXPECT_EQ(msgstore::ReadWholeFile(u"\\DiskOnChip\\R", 0, &out),
            msgstore::ReadResult::kOpenFailed);
}

}  // namespace
