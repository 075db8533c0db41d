// The shared file layer: stream helpers, the field reader, string helpers, the
// messaging application notice, index files, whole-file replacement with its
// temporary names, the identifier counter and the platform's rename. The bytes
// the field writer makes are checked by every store's format tests; writes cut
// short by a file-size limit are in the reliability tests.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "common/field_codec.h"
#include "common/id_counter.h"
#include "common/msg_file.h"
#include "common/msg_str.h"
#include "common/replace_file.h"
#include "ems_fixtures.h"

namespace {

namespace fs = std::filesystem;
using namespace msgstore;  // NOLINT(build/namespaces)
using msgstore_test::Words;
using Chars = std::vector<char>;
using Set = std::set<std::string>;
using Entry = std::tuple<int, int, DWORD>;  // bMemoryCard, byFolder, dwOid

constexpr const WCHAR* kIndex = u"\\SD Card\\EmsIni";
constexpr IndexLock kLock = {u"MUTEX_TEST_ACCESSINI", true};

class Common : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    fs::create_directories(Host("DiskOnChip"));
  }
  FILE* Open(const std::u16string& name, int mode) {
    return MsgFile_Open((u"\\SD Card\\" + name).c_str(), mode);
  }
  Chars Read(const std::string& rel) const { return msgstore_test::Bytes(Host(rel)); }
  std::string Text(const std::string& rel) const {
    const Chars b = Read(rel);
    return std::string(b.begin(), b.end());
  }
  void Write(const std::string& rel, const std::string& bytes) const {
    std::ofstream(Host(rel), std::ios::binary) << bytes;
  }
  Set Names(const std::string& rel) const {
    Set names;
    for (const auto& e : fs::directory_iterator(Host(rel))) names.insert(e.path().filename());
    return names;
  }
  bool IndexExists() const { return fs::exists(Host("SD Card/EmsIni")); }
  Chars IndexBytes() const { return Read("SD Card/EmsIni"); }
  void SetIndex(const Chars& b) const { msgstore_test::Store(Host("SD Card/EmsIni"), b); }
  void Insert(DWORD folder, DWORD oid, DWORD low, DWORD high) {
    IndexInsert(kIndex, kLock, IndexRecord{folder, oid, FILETIME{low, high}});
  }
  void Remove(DWORD oid, DWORD folder) { IndexRemove(kIndex, kLock, oid, folder); }
  std::vector<Entry> QuickList(CArray<tagOidArray, tagOidArray>& list, DWORD count) {
    EXPECT_EQ(IndexQuickList(kIndex, kLock, list), count);
    std::vector<Entry> entries;
    for (long i = 0; i < list.GetSize(); ++i)
      entries.emplace_back(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
    return entries;
  }
};

TEST_F(Common, OpenNamesAndModes) {
  const uint8_t a[] = {0xA1, 0xA2, 0xA3};
  FILE* f = Open(u"t\u0158", 2);  // U+0158 has the low byte 0x58, 'X'
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(MsgFile_Write(a, 1, 3, f), 3u);
  EXPECT_EQ(MsgFile_Close(f), 0);
  ASSERT_NE(f = Open(u"tX", 4), nullptr);
  EXPECT_EQ(MsgFile_Write(a, 2, 1, f), 1u);
  EXPECT_EQ(MsgFile_Close(f), 0);
  EXPECT_EQ(Read("SD Card/tX"), Chars({'\xA1', '\xA2', '\xA3', '\xA1', '\xA2'}));
  for (int mode : {6, -1}) EXPECT_EQ(Open(u"tX", mode), nullptr);
  EXPECT_TRUE(MsgFile_Open(nullptr, 2) == nullptr && MsgFile_Open(u"", 2) == nullptr);
  EXPECT_EQ(Open(u"absent", 0), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Host("SD Card/absent")));
}

TEST_F(Common, WriteSeekAndCloseResults) {
  FILE* other = Open(u"o", 2);
  FILE* f = Open(u"w", 2);
  ASSERT_TRUE(other != nullptr && f != nullptr);
  ASSERT_EQ(std::fwrite("xyz", 1, 3, f) + std::fwrite("o", 1, 1, other), 4u);
  const uint8_t one = 7;
  EXPECT_EQ(MsgFile_Write(&one, 0, 1, f), MSGFILE_WRITE_FAILED);  // no whole item: no flush
  EXPECT_EQ(MsgFile_Write(nullptr, 1, 1, f), MSGFILE_WRITE_FAILED);
  EXPECT_EQ(MsgFile_Write(&one, 1, 1, nullptr), MSGFILE_WRITE_FAILED);
  EXPECT_TRUE(Read("SD Card/w").empty() && Read("SD Card/o").empty());
  EXPECT_EQ(MsgFile_Write(&one, 1, 0, f), 0u);  // flushes every stream
  EXPECT_EQ(Read("SD Card/w"), Chars({'x', 'y', 'z'}));
  EXPECT_EQ(Read("SD Card/o"), Chars({'o'}));
  // Offset, origin, result, position after.
  const std::tuple<int32_t, DWORD, int32_t, long> seeks[] = {
      {1, 0, 0, 1}, {1, 3, MSGFILE_E_BADHANDLE, 1}, {1, 1, 0, 2}, {-1, 2, 0, 2},
      {0, 2, 0, 3}, {-10, 0, MSGFILE_E_SEEK, 3}};
  for (const auto& [offset, origin, result, at] : seeks) {
    EXPECT_EQ(MsgFile_Seek(f, offset, origin), result) << offset << " from " << origin;
    EXPECT_EQ(std::ftell(f), at) << offset << " from " << origin;
  }
  EXPECT_EQ(MsgFile_Seek(nullptr, 0, 0), MSGFILE_E_BADHANDLE);
  EXPECT_EQ(MsgFile_Close(f) + MsgFile_Close(other), 0);
  EXPECT_EQ(MsgFile_Close(nullptr), MSGFILE_E_BADHANDLE);
}

TEST(CommonFieldReader, FieldPastTheEndFailsCleanlyAndStaysFailed) {
  // The kind of field ('t' FILETIME, 's' string, 'c' content), then the bytes.
  using namespace std::string_literals;  // NOLINT(build/namespaces)
  for (const std::string& c : {"t\0\0\0\0\0\0\0"s, "sA\0B\0\0"s, "s"s, "c\4\0\0\0\1\2\3"s,
                               "c\xFF\xFF\xFF\xFF"s, "c\xFD\xFF\xFF\xFF\1\2\3"s, "c\1\0\0"s}) {
    const char kind = c[0];
    const std::vector<uint8_t> data(c.begin() + 1, c.end());
    SCOPED_TRACE(testing::PrintToString(data));
    FieldReader r(data.data(), data.size());
    DWORD d = 0xDEADBEEF, cb = 77;
    FILETIME ft{5, 6};
    WCHAR* text = MsgStr_Duplicate(u"keep");
    WCHAR* const before = text;
    BYTE* block = nullptr;
    EXPECT_FALSE(kind == 't'   ? r.FileTime(&ft)
                 : kind == 's' ? r.String(&text)
                               : r.Content(&cb, &block));
    EXPECT_FALSE(r.Skip(0) || r.U32(&d) || r.String(&text) || r.Content(&cb, &block));
    EXPECT_EQ(
        std::make_tuple(r.ok(), r.pos(), d, ft.dwLowDateTime, ft.dwHighDateTime, text, cb, block),
        std::make_tuple(false, size_t{0}, 0xDEADBEEFu, 5u, 6u, before, 77u,
                        static_cast<BYTE*>(nullptr)));
    EXPECT_EQ(std::u16string(text), u"keep");
    std::free(text);
  }
}

TEST(CommonMsgStr, DuplicateCopyPathAndLeadingNumber) {
  EXPECT_TRUE(MsgStr_Duplicate(nullptr) == nullptr && MsgStr_Duplicate(u"") == nullptr);
  char16_t source[] = u"Hello";
  WCHAR* copy = MsgStr_Duplicate(source);
  ASSERT_NE(copy, nullptr);
  source[0] = u'J';
  EXPECT_EQ(std::u16string(copy), u"Hello");
  std::free(copy);
  WCHAR out[MAX_PATH + 1];
  std::fill(std::begin(out), std::end(out), 0xFFFF);
  CopyPath(out, std::u16string(400, u'x'));
  EXPECT_EQ(std::u16string(out, out + MAX_PATH + 1),
            std::u16string(MAX_PATH - 1, u'x') + u'\0' + u"\uFFFF");
  std::vector<DWORD> values = {LeadingNumber(nullptr)};
  for (const WCHAR* name : {u"12.sms", u"-5.sms", u"abc", u"", u"  \t+7x", u"- 5", u"007_EmailIni",
                            u"805306371_EmailIni", u"4294967297", u"-4294967295",
                            u"100000000000000000000.sms", u"99999999999999999999999999999999"})
    values.push_back(LeadingNumber(name));
  EXPECT_EQ(values, (std::vector<DWORD>{0, 12, 0xFFFFFFFB, 0, 0, 7, 0, 7, 805306371, 1, 1,
                                        0x63100000, 0xFFFFFFFF}));
}

TEST_F(Common, NoticePostsTheFolderEventWithStorageInLParam) {
  int posted = 0;
  for (DWORD folder : {0, 1, 2, 3, 4, 5, 6, 7, 12})
    posted += NotifyMessageApp(folder, folder, 0, 3);
  EXPECT_EQ(posted, 5);
  EXPECT_EQ(NotifyMessageApp(3, 0xFFFFFFFFu, 1, 3) + NotifyMessageApp(6, 9, 0xABCD1234u, 0x1FFu),
            2);
  platform_.messageAppWindow = false;
  EXPECT_EQ(NotifyMessageApp(1, 1, 0, 3), 0);
  std::vector<std::tuple<std::u16string, UINT, WPARAM, LPARAM>> posts, expected;
  for (const auto& p : platform_.posted) posts.emplace_back(p.className, p.msg, p.wParam, p.lParam);
  const std::tuple<UINT, WPARAM, LPARAM> want[] = {
      {0x19A0, 1, 0x03030000}, {0x19A1, 2, 0x03030000}, {0x19A2, 3, 0x03030000},
      {0x19A4, 5, 0x03030000}, {0x19A5, 6, 0x03030000}, {0x19A2, 0xFFFFFFFF, 0x03030001},
      {0x19A5, 9, 0x03FF1234}};
  for (const auto& [msg, w, l] : want) expected.emplace_back(u"WCE_CVMESSAGEEXEC", msg, w, l);
  EXPECT_EQ(posts, expected);
}

TEST_F(Common, IndexInsertKeepsNewestFirstWithTiesBefore) {
  Insert(1, 5, 0x89ABCDEF, 0x01D2A3B4);
  EXPECT_EQ(IndexBytes(), Chars({1, 0, 0, 0, 5, 0, 0, 0, '\xEF', '\xCD', '\xAB', '\x89', '\xB4',
                                 '\xA3', '\xD2', 1}));
  SetIndex(Words({1, 10, 5, 1, 1, 11, 3, 1, 1, 12, 9, 0}));
  Insert(7, 21, 5, 1);  // tie with the newest: the new record stands first
  Insert(1, 22, 0, 1);  // the high half decides first
  Insert(1, 23, 0, 0);  // oldest
  EXPECT_EQ(IndexBytes(),
            Words({7, 21, 5, 1, 1, 10, 5, 1, 1, 11, 3, 1, 1, 22, 0, 1, 1, 12, 9, 0, 1, 23, 0, 0}));
}

TEST_F(Common, IndexRemoveTakesTheFirstMatchOfIdAndFolder) {
  Chars original = Words({1, 10, 9, 0, 1, 11, 8, 0, 3, 11, 7, 0, 1, 11, 6, 0, 1, 12, 5, 0});
  original.insert(original.end(), {9, 9});
  SetIndex(original);
  Remove(99, 1);
  Remove(12, 3);
  EXPECT_EQ(IndexBytes(), original);
  Remove(11, 1);  // rewritten without the partial record
  Remove(12, 1);
  EXPECT_EQ(IndexBytes(), Words({1, 10, 9, 0, 3, 11, 7, 0, 1, 11, 6, 0}));
  SetIndex(Words({7, 5, 1, 0}));
  Remove(5, 1);
  Remove(6, 7);
  EXPECT_EQ(IndexBytes(), Words({7, 5, 1, 0}));
  Remove(5, 7);
  EXPECT_FALSE(IndexExists());
  Remove(5, 7);  // a missing index stays missing
  EXPECT_FALSE(IndexExists());
}

TEST_F(Common, IndexQuickListAndFilesWithoutWholeRecords) {
  CArray<tagOidArray, tagOidArray> list;
  list.Add(tagOidArray{1, 2, 3});
  QuickList(list, 0);
  SetIndex({});
  EXPECT_EQ(QuickList(list, 0), std::vector<Entry>({{1, 2, 3}}));
  Insert(1, 5, 100, 0);
  Remove(5, 1);
  EXPECT_TRUE(IndexExists() && IndexBytes().empty());
  SetIndex({1, 2, 3});
  EXPECT_TRUE(QuickList(list, 0).empty());
  Remove(1, 1);
  EXPECT_EQ(IndexBytes(), Chars({1, 2, 3}));
  Insert(1, 4, 8, 0);
  EXPECT_EQ(IndexBytes(), Words({1, 4, 8, 0}));
  Chars twoAndABit = Words({0x30000003, 8, 9, 0, 7, 4, 2, 0});
  twoAndABit.insert(twoAndABit.end(), {9, 9});
  SetIndex(twoAndABit);
  EXPECT_EQ(QuickList(list, 2), std::vector<Entry>({{0, 3, 8}, {0, 7, 4}}));
}

TEST(TempNames, MadeBesideTheFileAndRecognisedWithTheirWriter) {
  const std::string pid = std::to_string(::getpid());
  const std::u16string a = TempPathFor(u"\\D\\x.sms"), b = TempPathFor(u"\\D\\x.sms");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(u"\\D\\x.sms." + std::u16string(pid.begin(), pid.end()) + u".", 0), 0u);
  EXPECT_EQ(a.substr(a.size() - 4), u".tmp");
  DWORD writer = 0;
  EXPECT_TRUE(IsTempFileName(a.substr(3), &writer));
  EXPECT_EQ(writer, static_cast<DWORD>(::getpid()));
  for (const char16_t* name : {u"EmsIni.12.0.tmp", u"7.sms.4294967295.9.tmp"})
    EXPECT_TRUE(IsTempFileName(name, nullptr)) << fs::path(name).string();
  for (const char16_t* name : {u"7.sms.4294967296.9.tmp", u"7.sms", u".12.0.tmp", u"x.12..tmp",
                               u"x.1a.0.tmp", u"x.12.0.TMP", u"12.0.tmp", u"x.12.0.tmp.sms"})
    EXPECT_FALSE(IsTempFileName(name, nullptr)) << fs::path(name).string();
}

TEST_F(Common, StreamReplacesOnCloseAndLeavesNoTemporaryFile) {
  Write("DiskOnChip/f", "old contents");
  {
    ReplacingStream stream(u"\\DiskOnChip\\f");
    ASSERT_TRUE(stream);
    EXPECT_EQ(MsgFile_Write("new", 1, 3, stream.get()), 3u);
    EXPECT_EQ(Text("DiskOnChip/f"), "old contents");  // whole until the stream is closed
  }
  EXPECT_EQ(Text("DiskOnChip/f"), "new");
  EXPECT_EQ(Names("DiskOnChip"), Set{"f"});
  fs::create_directory(Host("DiskOnChip/d"));
  {
    ReplacingStream onDirectory(u"\\DiskOnChip\\d");
    EXPECT_FALSE(onDirectory.Commit());
    EXPECT_TRUE(onDirectory.TargetIsDirectory());
  }
  EXPECT_FALSE(ReplacingStream(u"\\DiskOnChip\\absent\\f"));
  EXPECT_FALSE(ReplaceFileWhole(u"\\DiskOnChip\\d", "x", 1));
  EXPECT_TRUE(ReplaceFileWhole(u"\\DiskOnChip\\F", "whole", 5));  // the existing file's spelling
  EXPECT_EQ(Text("DiskOnChip/f"), "whole");
  EXPECT_EQ(Names("DiskOnChip"), (Set{"d", "f"}));
}

// Across processes the reliability tests show it; here threads of one process
// that draw identifiers and insert index records at once.
TEST_F(Common, CounterAndIndexLoseNothingToConcurrentThreads) {
  const IdCounter counter = {u"\\DiskOnChip\\Counter.ini", u"MUTEX_TEST_COUNTER"};
  EXPECT_EQ(ReadIdCounter(counter.path), 0u);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 30; ++i) {
        const DWORD id = NextId(counter);
        Insert(1, id, id, 0);
      }
    });
  for (auto& t : threads) t.join();
  CArray<tagOidArray, tagOidArray> list;
  ASSERT_EQ(QuickList(list, 90).size(), 90u);
  for (long i = 0; i < 90; ++i) EXPECT_EQ(list[i].dwOid, DWORD(90 - i)) << i;
  EXPECT_EQ(Read("DiskOnChip/Counter.ini"), Words({90}));
  EXPECT_TRUE(SetIdCounter(counter, 0x01020304));
  EXPECT_EQ(Read("DiskOnChip/Counter.ini"), Words({0x01020304}));
  EXPECT_EQ(Names("DiskOnChip"), Set{"Counter.ini"});
}

TEST_F(Common, MoveReplacesOnlyWhenAskedAndNeverADirectory) {
  Write("DiskOnChip/a", "A");
  Write("DiskOnChip/b", "B");
  fs::create_directory(Host("DiskOnChip/d"));
  EXPECT_FALSE(MoveFileExW(u"\\DiskOnChip\\a", u"\\DiskOnChip\\b", 0) ||
               MoveFileExW(u"\\DiskOnChip\\a", u"\\DiskOnChip\\d", MOVEFILE_REPLACE_EXISTING) ||
               MoveFileExW(u"\\DiskOnChip\\none", u"\\DiskOnChip\\c", 0));
  EXPECT_EQ(Text("DiskOnChip/b"), "B");
  EXPECT_TRUE(MoveFileExW(u"\\DiskOnChip\\A", u"\\DiskOnChip\\b", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Text("DiskOnChip/b"), "A");
  EXPECT_TRUE(MoveFileExW(u"\\DiskOnChip\\b", u"\\DiskOnChip\\c", 0));
  EXPECT_EQ(Names("DiskOnChip"), (Set{"c", "d"}));
  EXPECT_EQ(Text("DiskOnChip/c"), "A");
}

}  // namespace
