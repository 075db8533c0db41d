// MMS paths and tree, the message files (exact bytes of both layouts, round
// trips, the read without body, the quick read and its index repair), the
// index files, the mutexes, and the readers fed cut files.
#include <chrono>
#include <cstdlib>
#include <future>
#include <set>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::ByteBuilder;
using msgstore_test::Bytes;
using msgstore_test::Load;
using msgstore_test::Store;
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
  // Folder path and file path in phone memory, then on the card: the volume
  // (P phone, C card) or refused (-). (The store tests reach the other folders
  // through these paths.)
  const std::tuple<DWORD, DWORD, std::u16string, std::u16string, const char*> rows[] = {
      {1, 0, u"INBOX", u"0", "PPCC"},
      {3, 2147483648u, u"SENT", u"-2147483648", "PPCC"},
      {5, 2147483647u, u"REPORT", u"2147483647", "PP--"},
      {8, 7, u"NONE", u"7", "-P-P"},
      {11, 7, u"AUTODOWNLOAD", u"7", "PPPP"}};
  for (const auto& [folder, oid, dir, name, volumes] : rows)
    for (int i = 0; i < 4; ++i) {
      const std::u16string path = (volumes[i] == 'P' ? u"\\DiskOnChip" : u"\\SD Card") +
                                  std::u16string(u"\\User\\MESSAGING\\MMS\\") + dir +
                                  (i & 1 ? u"\\" + name + u".mms" : u"");
      EXPECT_EQ(Path(i & 2, folder, oid, i & 1),
                volumes[i] == '-' ? Result(0, u"") : Result(1, path))
          << folder << " " << i;
    }
  for (DWORD folder : {0u, 7u, 9u, 10u, 12u, 0x101u, 0x10Bu, 0xFFFFFFFFu})
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Path(i & 1, folder, 1, i & 2), Result(0, u"")) << folder;
}

using MmsTree = msgstore_test::DeviceTest;

TEST_F(MmsTree, CreateDirMakesTheExactTreesAndCompletesPartialOnes) {
  auto tree = [this] {
    std::set<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      all.insert(fs::relative(e.path(), root_).string());
    return all;
  };
  // The card has no REPORT, AUTODOWNLOAD or NONE.
  const char* const kDirs[] = {"",      "/INBOX",  "/DRAFT",        "/SENT", "/UNSENT",
                               "/SPAM", "/REPORT", "/AUTODOWNLOAD", "/NONE"};
  std::set<std::string> all;
  for (std::string vol : {"DiskOnChip", "SD Card"}) {
    all.insert({vol, vol + "/User", vol + "/User/MESSAGING"});
    for (int i = 0; i < (vol == "SD Card" ? 6 : 9); ++i)
      all.insert(vol + "/User/MESSAGING/MMS" + kDirs[i]);
  }
  EXPECT_EQ(MMSMsgStore_CreateDir(false) + MMSMsgStore_CreateDir(true), 2);
  EXPECT_EQ(tree(), all);
  // A tree that lacks one folder gets that folder; what is there stays.
  const std::string kept = "DiskOnChip/User/MESSAGING/MMS/INBOX/1.mms";
  Store({'k'}, Host(kept));
  all.insert(kept);
  fs::remove(Host("DiskOnChip/User/MESSAGING/MMS/AUTODOWNLOAD"));
  fs::remove(Host("SD Card/User/MESSAGING/MMS/SPAM"));
  EXPECT_EQ(MMSMsgStore_CreateDir(false) + MMSMsgStore_CreateDir(true), 2);
  EXPECT_EQ(tree(), all);
  RemoveCard();
  EXPECT_EQ(MMSMsgStore_CreateDir(true), 1);
  EXPECT_FALSE(fs::exists(Host("SD Card")));
}

struct Sample : msgstore_test::SampleProps {
  WCHAR mmsText[9] = u"smil.xml";
  tagMMSMSGPROPS m{0x1357, mmsText, 0x2468ACE0, 0x9753, 0xA1A2, 0x0B0C0D0E, 0x7531, 0xB1B2};
};

// The file of (p, m) in the current (or the old) layout, with or without body.
Bytes Expected(const tagMSGPROPS& p, const tagMMSMSGPROPS& m, bool old, bool body = true) {
  return msgstore_test::Layout(p, old, body, [&m](ByteBuilder& b, int part) {
    if (part == 0) b.U16(m.wMmsQuick1).U16(m.wMmsQuick2);
    if (part == 0) return;
    b.U16(m.wMmsValue1).Str(m.pszMmsText).U32(m.dwMmsValue1).U16(m.wMmsValue2);
    if (part == 2) b.U16(m.wMmsQuick1);
    b.U32(m.dwMmsValue2).U16(m.wMmsValue3);
    if (part == 2) b.U16(m.wMmsQuick2);
  });
}

class MmsFile : public msgstore_test::MmsTest {
 protected:
  void TearDown() override {
    MMSMsgStore_FreeMsgProps(&read_, &readMms_);
    MmsTest::TearDown();
  }
  Bytes Bytes1() { return Load(File(false, kInbox, 1)); }
  int Write(tagMSGPROPS* p, tagMMSMSGPROPS* m, bool old, WCHAR* path = nullptr) {
    path = path ? path : path_;
    return old ? MMSMsgStore_WriteToFileOld(path, p, m) : MMSMsgStore_WriteToFile(path, p, m);
  }
  // Reads into read_ and readMms_, releasing the body a read without body
  // would leave behind.
  int Read(bool old, bool body) {
    free(read_.pData);
    read_.pData = nullptr, read_.cbData = 0;
    return old ? MMSMsgStore_ReadFromFileOld(path_, &read_, &readMms_, body)
               : MMSMsgStore_ReadFromFile(path_, &read_, &readMms_, body);
  }
  // Reader i on path_: full, no body, quick, old full, old no body.
  int ReadWith(int i) {
    tagMSGPROPS p{};
    tagMMSMSGPROPS m{};
    const bool body = i == 0 || i == 3;
    const int r = i == 2  ? MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &p)
                  : i < 2 ? MMSMsgStore_ReadFromFile(path_, &p, &m, body)
                          : MMSMsgStore_ReadFromFileOld(path_, &p, &m, body);
    EXPECT_TRUE(!r || i == 2 || (body ? p.pData[p.cbData] == 0 : p.pData == nullptr)) << i;
    MMSMsgStore_FreeMsgProps(&p, &m);
    return r;
  }
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes, File(false, kInbox, 1));
    std::array<int, 5> r{};
    for (int i = 0; i < 5; ++i) r[i] = ReadWith(i);
    return r;
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\1.mms";
  tagMSGPROPS read_{};
  tagMMSMSGPROPS readMms_{};
};

TEST_F(MmsFile, BothLayoutsAreExactAndReplaceTheFile) {
  tagMSGPROPS p{};
  tagMMSMSGPROPS m{};
  WCHAR ab[] = u"ab";
  BYTE body[] = {9};
  // An empty record; a subject; a body pointer without length, or a length
  // without pointer, writes no body.
  Store(Bytes(500, 0xAA), File(false, kInbox, 1));
  ASSERT_EQ(Write(&p, &m, false), 1);
  EXPECT_EQ(Bytes1(), ByteBuilder().U32(38).U32(88).Raw(Bytes(84, 0)).b);
  p.pszSubject = ab, p.pData = body;
  ASSERT_EQ(Write(&p, &m, false), 1);
  EXPECT_EQ(Bytes1(), ByteBuilder().U32(42).U32(92).Raw(Bytes(26, 0)).Str(ab).Raw(Bytes(56, 0)).b);
  p.pszSubject = nullptr, p.pData = nullptr, p.cbData = 4;
  ASSERT_EQ(Write(&p, &m, true), 1);
  EXPECT_EQ(Bytes1(), ByteBuilder().U32(82).Raw(Bytes(78, 0)).U32(4).b);
  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(Write(&s.p, &s.m, old), 1);
    EXPECT_EQ(Bytes1(), Expected(s.p, s.m, old));
  }
  EXPECT_EQ(Count(false, kInbox), 1u) << "no temporary file left";
  WCHAR noDir[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\GONE\\1.mms";
  WCHAR dir[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX";
  for (WCHAR* bad : {noDir, dir})
    for (bool old : {false, true}) EXPECT_EQ(Write(&s.p, &s.m, old, bad), 0);
}

TEST_F(MmsFile, RoundTripsWithAndWithoutBody) {
  Sample s;
  WCHAR scratch[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\NONE\\0.mms";
  for (bool old : {false, true}) {
    ASSERT_EQ(Write(&s.p, &s.m, old), 1);
    for (bool body : {true, false}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", body " << body);
      ASSERT_EQ(Read(old, body), 1);
      EXPECT_TRUE(body ? read_.cbData == 5 && read_.pData[5] == 0 : read_.pData == nullptr);
      ASSERT_EQ(Write(&read_, &readMms_, old, scratch), 1);
      EXPECT_EQ(Load(File(false, kNone, 0)), Expected(s.p, s.m, old, body));
    }
  }
  EXPECT_EQ(std::u16string(read_.pszText2), u"t2") << "the old reader left it as it was";
  // An empty body reads as one zero byte. (Empty strings read as null through
  // the shared string copy.)
  tagMSGPROPS empty{};
  tagMMSMSGPROPS emptyMms{};
  for (bool old : {false, true}) {
    ASSERT_EQ(Write(&empty, &emptyMms, old), 1);
    ASSERT_EQ(Read(old, true), 1);
    EXPECT_TRUE(read_.cbData == 0 && read_.pData != nullptr && read_.pData[0] == 0) << old;
  }
}

TEST_F(MmsFile, QuickReadFillsTheListFieldsCrosswiseAndRepairsTheIndex) {
  Sample s;
  ASSERT_EQ(Write(&s.p, &s.m, false), 1);
  read_.pszSubject = static_cast<WCHAR*>(calloc(4, 2));  // released by the read
  read_.cbData = 2, read_.pData = static_cast<BYTE*>(calloc(2, 1)), read_.ftTime = {5, 6};
  read_.dwUser1 = 7, read_.dwUser3 = 9;
  ASSERT_EQ(MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &read_), 1);
  EXPECT_EQ(
      std::make_tuple(read_.dwOid, read_.bRead, read_.wStatus, read_.ftIndexTime.dwHighDateTime,
                      read_.dwFolder, read_.wUser2, read_.wUser1),
      std::make_tuple(s.p.dwOid, s.p.bRead, s.p.wStatus, s.p.ftIndexTime.dwHighDateTime,
                      s.p.dwFolder, s.m.wMmsQuick1, s.m.wMmsQuick2));
  std::u16string strings;
  for (const WCHAR* str : {read_.pszSubject, read_.pszText2, read_.pszText1, read_.pszTo,
                           read_.pszText3, read_.pszText4})
    strings += std::u16string(str) + u"|";
  EXPECT_EQ(strings, u"Hi|t2|text one|+4912345|three|\u00e9\u4e2d|");
  EXPECT_TRUE(read_.cbData == 2 && read_.pData != nullptr && read_.pszMsgID == nullptr &&
              read_.ftTime.dwHighDateTime == 6 && read_.dwUser1 == 7 && read_.dwUser2 == 0 &&
              read_.dwUser3 == 9);
  // A full read gives wUser1 and wUser2 from their own places.
  ASSERT_EQ(Read(false, false), 1);
  EXPECT_TRUE(read_.wUser1 == 0x1234 && read_.wUser2 == 0xFEDC);

  // Missing or refused on the card, empty in phone memory: no repair.
  MMSMsgStore_AddMsgToIni(1, kInbox, {100, 0});
  MMSMsgStore_AddMsgToIni(2, kInbox, {200, 0});
  const Bytes before = Load(IndexFile(kInbox));
  Store({}, File(false, kInbox, 1));
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(true, kInbox, 1, &read_) +
                MMSMsgStore_QuickReadFromFile(true, kReport, 1, &read_) +
                MMSMsgStore_QuickReadFromFile(false, 9, 1, &read_) +
                MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &read_),
            0);
  EXPECT_EQ(Load(IndexFile(kInbox)), before);
  fs::remove(File(false, kInbox, 1));
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &read_), 0);
  EXPECT_EQ(Index(kInbox), (std::vector<IndexRecord>{{1, 2, 200, 0}}));
}

// Order, ties and removal are the shared index code's; here the MMS files,
// their records and the folders without an index.
using MmsIndex = msgstore_test::MmsTest;

TEST_F(MmsIndex, OneFilePerPhoneFolderAndNoneForNoneAndAutoDownload) {
  MMSMsgStore_AddMsgToIni(5, kInbox, {0x11223344, 0x55667788});
  EXPECT_EQ(Load(IndexFile(kInbox)),
            (Bytes{1, 0, 0, 0, 5, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
  for (DWORD folder : {kDraft, kSent, kUnsent, kReport, kSpam})
    MMSMsgStore_AddMsgToIni(folder * 10, folder, {folder, 0});
  MMSMsgStore_AddMsgToIni(9, kSent, {9, 0});
  for (DWORD folder : {kDraft, kSent, kUnsent, kReport, kSpam})
    EXPECT_EQ(Index(folder).back(), (IndexRecord{folder, folder * 10, folder, 0}));
  CMsgList list;
  EXPECT_EQ(MMSMsgStore_GetQuickMsgList(list, kSent), 2u);
  EXPECT_EQ((std::array<DWORD, 3>{0, 3, 9}),
            (std::array<DWORD, 3>{list[0].bMemoryCard, list[0].byFolder, list[0].dwOid}));
  MMSMsgStore_DeleteMsgFromIni(9, kSent);
  MMSMsgStore_DeleteMsgFromIni(30, kSent);
  EXPECT_FALSE(fs::exists(IndexFile(kSent)));
  // Folders without index touch no file and leave the list as it was.
  for (DWORD folder : {kNone, kAutoDownload, 0u, 7u, 9u, 12u, 0x101u}) {
    MMSMsgStore_AddMsgToIni(1, folder, {1, 0});
    MMSMsgStore_DeleteMsgFromIni(20, folder & 0xFF);
    EXPECT_EQ(MMSMsgStore_GetQuickMsgList(list, folder), 0u) << folder;
  }
  EXPECT_EQ(list.GetSize(), 2);
  EXPECT_FALSE(fs::exists(IndexFile(kNone)) || fs::exists(IndexFile(kAutoDownload)));
  EXPECT_EQ(Index(kDraft).size(), 1u);
}

// The current writer and full reader wait for "MUTEX_MMS_READWRITETILE" and
// the index operations for "MUTEX_MMS_ACCESSINI"; the quick read and the old
// layout take neither.
TEST_F(MmsFile, EachOperationWaitsForItsOwnMutex) {
  using namespace std::chrono_literals;
  Sample s;
  ASSERT_EQ(Write(&s.p, &s.m, false), 1);
  MMSMsgStore_AddMsgToIni(1, kInbox, {1, 0});
  WCHAR other[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\2.mms";
  auto quick = [&] { return ReadWith(2) + Write(&s.p, &s.m, true, other) - 1; };
  auto read = [&] { return ReadWith(0); };
  auto write = [&] { return Write(&s.p, &s.m, false, other); };
  auto add = [&] { return MMSMsgStore_AddMsgToIni(2, kInbox, {2, 0}), 1; };
  auto list = [&] {
    CMsgList l;
    return MMSMsgStore_GetQuickMsgList(l, kInbox) > 0 ? 1 : 0;
  };
  using Calls = std::vector<std::function<int()>>;
  const std::tuple<const WCHAR*, Calls, Calls> cases[] = {
      {u"MUTEX_MMS_READWRITETILE", {quick}, {write, read}},
      {u"MUTEX_MMS_ACCESSINI", {write, read}, {add, list}}};
  for (const auto& [name, freeCalls, heldCalls] : cases) {
    SCOPED_TRACE(&name - &std::get<0>(cases[0]));
    HANDLE mutex = CreateMutexW(nullptr, 0, name);
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    std::vector<std::future<int>> free, held;
    for (const auto& f : freeCalls) free.push_back(std::async(std::launch::async, f));
    for (auto& f : free) EXPECT_EQ(f.wait_for(5s), std::future_status::ready);
    for (const auto& f : heldCalls) held.push_back(std::async(std::launch::async, f));
    for (auto& h : held) EXPECT_EQ(h.wait_for(200ms), std::future_status::timeout);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    for (auto& f : free) EXPECT_EQ(f.get(), 1);
    for (auto& h : held) EXPECT_EQ(h.get(), 1);
  }
}

// Cut files: the read without body needs the header only, the quick read
// the listing fields; every reader fails on an empty file. (The shared field
// reader and the fuzzers cover the bounds at every offset.)
TEST_F(MmsFile, ReadersOfCutFiles) {
  Sample s;
  for (bool old : {false, true}) {
    SCOPED_TRACE(old);
    ASSERT_EQ(Write(&s.p, &s.m, old), 1);
    const Bytes whole = Bytes1();
    const size_t header = whole.size() - 9;
    const std::array<int, 5> cut = ReadAll(Bytes(whole.begin(), whole.begin() + header));
    EXPECT_TRUE(cut[old ? 4 : 1] == 1 && (old || cut[2] == 1));
    EXPECT_EQ(ReadAll(ByteBuilder{whole}.Patch(header, 0xFFFFFFFF).b)[old ? 4 : 1], 1);
  }
  EXPECT_EQ(ReadAll({}), (std::array<int, 5>{}));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
}

}  // namespace
