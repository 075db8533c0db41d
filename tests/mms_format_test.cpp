// MMS paths and tree, the message files (exact bytes of both layouts, round
// trips, the read without body, the quick read and its index repair), the
// index files, the mutexes, and every reader fed cut files and huge lengths
// (AddressSanitizer checks the bounds).
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <set>
#include <thread>

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
  const std::u16string P = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\";
  const std::u16string C = u"\\SD Card\\User\\MESSAGING\\MMS\\";
  struct Row {
    DWORD folder, oid;
    std::u16string name, phone, phoneFile, card, cardFile;  // "": refused
  } const rows[] = {
      {1, 0, u"\\0.mms", P + u"INBOX", P + u"INBOX", C + u"INBOX", C + u"INBOX"},
      {2, 0xFFFFFFFFu, u"\\-1.mms", P + u"DRAFT", P + u"DRAFT", C + u"DRAFT", C + u"DRAFT"},
      {3, 2147483648u, u"\\-2147483648.mms", P + u"SENT", P + u"SENT", C + u"SENT", C + u"SENT"},
      {4, 5, u"\\5.mms", P + u"UNSENT", P + u"UNSENT", C + u"UNSENT", C + u"UNSENT"},
      {5, 2147483647u, u"\\2147483647.mms", P + u"REPORT", P + u"REPORT", u"", u""},
      {6, 14, u"\\14.mms", P + u"SPAM", P + u"SPAM", C + u"SPAM", C + u"SPAM"},
      {8, 7, u"\\7.mms", u"", P + u"NONE", u"", P + u"NONE"},
      {11, 7, u"\\7.mms", P + u"AUTODOWNLOAD", P + u"AUTODOWNLOAD", P + u"AUTODOWNLOAD",
       P + u"AUTODOWNLOAD"},
  };
  auto ok = [](const std::u16string& dir, const std::u16string& name) {
    return dir.empty() ? Result(0, u"") : Result(1, dir + name);
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.folder);
    EXPECT_EQ(Path(false, r.folder, r.oid, false), ok(r.phone, u""));
    EXPECT_EQ(Path(false, r.folder, r.oid, true), ok(r.phoneFile, r.name));
    EXPECT_EQ(Path(true, r.folder, r.oid, false), ok(r.card, u""));
    EXPECT_EQ(Path(true, r.folder, r.oid, true), ok(r.cardFile, r.name));
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
  auto made = [](const std::string& vol, std::vector<std::string> folders) {
    const std::string mms = vol + "/User/MESSAGING/MMS";
    std::set<std::string> t = {vol, vol + "/User", vol + "/User/MESSAGING", mms};
    for (const std::string& f : folders) t.insert(mms + "/" + f);
    return t;
  };
  std::set<std::string> all = made(
      "DiskOnChip", {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "AUTODOWNLOAD", "NONE"});
  all.merge(made("SD Card", {"INBOX", "DRAFT", "SENT", "UNSENT", "SPAM"}));
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

// A record pair with a distinct value in every field; the strings live in it.
struct Sample {
  WCHAR text1[9] = u"text one", text2[3] = u"t2", to[9] = u"+4912345", text3[6] = u"three";
  WCHAR text4[3] = {0x00E9, 0x4E2D, 0}, subject[3] = u"Hi", msgId[5] = u"id-7";
  WCHAR mmsText[9] = u"smil.xml";
  BYTE data[5] = {0x00, 0x01, 0xFF, 0x7F, 0x80};
  tagMSGPROPS p{1,
                0x11223344,
                text1,
                text2,
                5,
                data,
                {0x89ABCDEF, 0x01D2E3F4},
                {0x10203040, 0x50607080},
                to,
                text3,
                text4,
                subject,
                3,
                0xBEEF,
                0x80000001,
                0xCAFEBABE,
                msgId,
                0x1234,
                0xFEDC,
                0xDEADBEEF};
  tagMMSMSGPROPS m{0x1357, mmsText, 0x2468ACE0, 0x9753, 0xA1A2, 0x0B0C0D0E, 0x7531, 0xB1B2};
};

// The file of (p, m) in the current (or the old) layout, built field by field,
// with the body or (as a read without body leaves the record) without it.
Bytes Expected(const tagMSGPROPS& p, const tagMMSMSGPROPS& m, bool old, bool withBody = true) {
  ByteBuilder b;
  if (old) {
    b.U32(0).U32(p.bRead).U32(p.dwUser1).Str(p.pszText1).Time(p.ftIndexTime).Time(p.ftTime);
    b.Str(p.pszTo).Str(p.pszText3).Str(p.pszText4).Str(p.pszSubject).U32(p.dwFolder);
    b.U16(p.wStatus).U32(p.dwOid).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2);
    b.U32(p.dwUser3).U16(m.wMmsValue1).Str(m.pszMmsText).U32(m.dwMmsValue1).U16(m.wMmsValue2);
    b.U16(m.wMmsQuick1).U32(m.dwMmsValue2).U16(m.wMmsValue3).U16(m.wMmsQuick2);
    b.Patch(0, static_cast<uint32_t>(b.b.size()));
  } else {
    b.U32(0).U32(0).U32(p.dwOid).U32(p.bRead).U16(p.wStatus).Time(p.ftIndexTime);
    b.U32(p.dwFolder).U16(m.wMmsQuick1).U16(m.wMmsQuick2).Str(p.pszSubject).Str(p.pszText2);
    b.Patch(0, static_cast<uint32_t>(b.b.size()));
    b.Str(p.pszText1).Str(p.pszTo).Str(p.pszText3).Str(p.pszText4).Time(p.ftTime);
    b.U32(p.dwUser1).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3);
    b.U16(m.wMmsValue1).Str(m.pszMmsText).U32(m.dwMmsValue1).U16(m.wMmsValue2);
    b.U32(m.dwMmsValue2).U16(m.wMmsValue3);
    b.Patch(4, static_cast<uint32_t>(b.b.size()));
  }
  if (!withBody) return b.U32(0).b;
  return b.U32(p.cbData).Raw(Bytes(p.pData, p.pData + p.cbData)).b;
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
  // The bytes that the writer makes of what was read.
  Bytes Rewritten(bool old) {
    WCHAR scratch[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\NONE\\0.mms";
    EXPECT_EQ(Write(&read_, &readMms_, old, scratch), 1);
    return Load(File(false, kNone, 0));
  }
  // Every reader on bytes: full, no body, quick, old full, old no body.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes, File(false, kInbox, 1));
    std::array<int, 5> r{};
    for (int i = 0; i < 5; ++i) {
      tagMSGPROPS p{};
      tagMMSMSGPROPS m{};
      const bool body = i == 0 || i == 3;
      r[i] = i == 2  ? MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &p)
             : i < 2 ? MMSMsgStore_ReadFromFile(path_, &p, &m, body)
                     : MMSMsgStore_ReadFromFileOld(path_, &p, &m, body);
      EXPECT_TRUE(!r[i] || i == 2 || (body ? p.pData[p.cbData] == 0 : p.pData == nullptr)) << i;
      MMSMsgStore_FreeMsgProps(&p, &m);
    }
    return r;
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\1.mms";
  tagMSGPROPS read_{};
  tagMMSMSGPROPS readMms_{};
};

TEST_F(MmsFile, BothLayoutsAreExactAndReplaceTheFile) {
  tagMSGPROPS p{};
  tagMMSMSGPROPS m{};
  Store(Bytes(500, 0xAA), File(false, kInbox, 1));
  ASSERT_EQ(Write(&p, &m, false), 1);
  EXPECT_EQ(Bytes1(), ByteBuilder().U32(38).U32(88).Raw(Bytes(84, 0)).b);
  WCHAR ab[] = u"ab";
  p.pszSubject = ab;
  ASSERT_EQ(Write(&p, &m, false), 1);
  EXPECT_EQ(Bytes1(), ByteBuilder().U32(42).U32(92).Raw(Bytes(26, 0)).Str(ab).Raw(Bytes(56, 0)).b);
  p.pszSubject = nullptr;
  ASSERT_EQ(Write(&p, &m, true), 1);
  EXPECT_EQ(Bytes1(), ByteBuilder().U32(82).Raw(Bytes(82, 0)).b);
  // A body pointer without length, or a length without pointer, writes no body.
  BYTE body[] = {9};
  p.pData = body;
  ASSERT_EQ(Write(&p, &m, false), 1);
  EXPECT_EQ(Bytes1().size(), 92u);
  p.pData = nullptr, p.cbData = 4;
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

TEST_F(MmsFile, RoundTripsWithAndWithoutBodyAndReleasesEachRecord) {
  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(Write(&s.p, &s.m, old), 1);
    for (bool body : {true, false}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", body " << body);
      ASSERT_EQ(Read(old, body), 1);
      EXPECT_TRUE(body ? read_.cbData == 5 && read_.pData[5] == 0 : read_.pData == nullptr);
      EXPECT_EQ(Rewritten(old), Expected(s.p, s.m, old, body));
    }
  }
  EXPECT_EQ(std::u16string(read_.pszText2), u"t2") << "the old reader left it as it was";

  // Empty and absent strings come back null; an empty body as one zero byte.
  tagMSGPROPS empty{};
  tagMMSMSGPROPS emptyMms{};
  WCHAR none[] = u"";
  empty.pszSubject = none, emptyMms.pszMmsText = none;
  for (bool old : {false, true}) {
    ASSERT_EQ(Write(&empty, &emptyMms, old), 1);
    ASSERT_EQ(Read(old, true), 1);
    for (const WCHAR* str : {read_.pszText1, read_.pszTo, read_.pszText3, read_.pszText4,
                             read_.pszSubject, read_.pszMsgID, readMms_.pszMmsText})
      EXPECT_EQ(str, nullptr) << old;
    ASSERT_TRUE(read_.cbData == 0 && read_.pData != nullptr);
    EXPECT_EQ(read_.pData[0], 0);
  }

  ASSERT_EQ(Write(&s.p, &s.m, false), 1);
  ASSERT_EQ(Read(false, true), 1);
  MMSMsgStore_FreeMsgProps(&read_, nullptr);
  for (const void* owned :
       {static_cast<void*>(read_.pszText1), static_cast<void*>(read_.pszText2),
        static_cast<void*>(read_.pData), static_cast<void*>(read_.pszTo),
        static_cast<void*>(read_.pszText3), static_cast<void*>(read_.pszText4),
        static_cast<void*>(read_.pszSubject), static_cast<void*>(read_.pszMsgID)})
    EXPECT_EQ(owned, nullptr);
  EXPECT_TRUE(read_.cbData == 5 && read_.dwOid == s.p.dwOid && readMms_.pszMmsText != nullptr);
  MMSMsgStore_FreeMsgProps(nullptr, &readMms_);
  EXPECT_TRUE(readMms_.pszMmsText == nullptr && readMms_.dwMmsValue1 == s.m.dwMmsValue1);
  MMSMsgStore_FreeMsgProps(nullptr, nullptr);
}

TEST_F(MmsFile, QuickReadFillsTheListFieldsCrosswiseAndRepairsTheIndex) {
  Sample s;
  ASSERT_EQ(Write(&s.p, &s.m, false), 1);
  BYTE* mine = static_cast<BYTE*>(calloc(2, 1));
  read_.pszSubject = static_cast<WCHAR*>(calloc(4, 2));  // released by the read
  read_.cbData = 2, read_.pData = mine, read_.ftTime = {5, 6};
  read_.dwUser1 = 7, read_.dwUser2 = 8, read_.dwUser3 = 9, read_.wUser1 = 1, read_.wUser2 = 2;
  ASSERT_EQ(MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &read_), 1);
  EXPECT_EQ(
      std::make_tuple(read_.dwOid, read_.bRead, read_.wStatus, read_.ftIndexTime.dwLowDateTime,
                      read_.ftIndexTime.dwHighDateTime, read_.dwFolder, read_.wUser2, read_.wUser1),
      std::make_tuple(s.p.dwOid, s.p.bRead, s.p.wStatus, s.p.ftIndexTime.dwLowDateTime,
                      s.p.ftIndexTime.dwHighDateTime, s.p.dwFolder, s.m.wMmsQuick1,
                      s.m.wMmsQuick2));
  std::u16string strings;
  for (const WCHAR* str : {read_.pszSubject, read_.pszText2, read_.pszText1, read_.pszTo,
                           read_.pszText3, read_.pszText4})
    strings += std::u16string(str) + u"|";
  EXPECT_EQ(strings, u"Hi|t2|text one|+4912345|three|\u00e9\u4e2d|");
  // What a listing does not need keeps the caller's values.
  EXPECT_TRUE(read_.cbData == 2 && read_.pData == mine && read_.pszMsgID == nullptr);
  EXPECT_TRUE(read_.ftTime.dwLowDateTime == 5 && read_.ftTime.dwHighDateTime == 6);
  EXPECT_TRUE(read_.dwUser1 == 7 && read_.dwUser2 == 8 && read_.dwUser3 == 9);
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
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(false, kInbox, 2, &read_), 0);
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
}

using MmsIndex = msgstore_test::MmsTest;

TEST_F(MmsIndex, RecordsStandNewestFirstAndTheFirstMatchGoes) {
  const FILETIME t = {0x11223344, 0x55667788};
  MMSMsgStore_AddMsgToIni(5, kInbox, t);
  EXPECT_EQ(Load(IndexFile(kInbox)),
            (Bytes{1, 0, 0, 0, 5, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
  MMSMsgStore_AddMsgToIni(6, kInbox, t);                         // equal: before
  MMSMsgStore_AddMsgToIni(7, kInbox, {0xFFFFFFFF, 0x55667787});  // older by the high half
  MMSMsgStore_AddMsgToIni(8, kInbox, {0, 0x55667789});           // newer by the high half
  MMSMsgStore_AddMsgToIni(5, kInbox, {0x11223345, 0x55667788});  // listed twice
  MMSMsgStore_AddMsgToIni(9, kSent, {1, 0});
  EXPECT_EQ(Index(kInbox), (std::vector<IndexRecord>{{1, 8, 0, 0x55667789},
                                                     {1, 5, 0x11223345, 0x55667788},
                                                     {1, 6, 0x11223344, 0x55667788},
                                                     {1, 5, 0x11223344, 0x55667788},
                                                     {1, 7, 0xFFFFFFFF, 0x55667787}}));
  MMSMsgStore_DeleteMsgFromIni(5, kInbox);
  EXPECT_EQ(Oids(kInbox), (std::vector<DWORD>{8, 6, 5, 7}));
  const Bytes before = Load(IndexFile(kInbox));
  MMSMsgStore_DeleteMsgFromIni(42, kInbox);
  MMSMsgStore_DeleteMsgFromIni(6, kSent);
  EXPECT_EQ(Load(IndexFile(kInbox)), before);
  // The folder field must match too.
  SetIndex(kDraft, {{3, 4, 9, 0}, {2, 4, 8, 0}, {2, 4, 7, 0}});
  MMSMsgStore_DeleteMsgFromIni(4, kDraft);
  EXPECT_EQ(Index(kDraft), (std::vector<IndexRecord>{{3, 4, 9, 0}, {2, 4, 7, 0}}));
  // A single record stays unless it is the one removed; then the file goes.
  MMSMsgStore_DeleteMsgFromIni(8, kSent);
  EXPECT_EQ(Index(kSent), (std::vector<IndexRecord>{{3, 9, 1, 0}}));
  MMSMsgStore_DeleteMsgFromIni(9, kSent);
  EXPECT_FALSE(fs::exists(IndexFile(kSent)));
}

TEST_F(MmsIndex, QuickListReplacesTheListOnlyWhenTheIndexWasRead) {
  auto list = [](DWORD folder, CMsgList& l) {
    std::vector<std::array<DWORD, 4>> out{{MMSMsgStore_GetQuickMsgList(l, folder)}};
    for (long i = 0; i < l.GetSize(); ++i)
      out.push_back({l[i].bMemoryCard, l[i].byFolder, l[i].dwOid});
    return out;
  };
  using Entries = std::vector<std::array<DWORD, 4>>;
  CMsgList l;
  l.Add({1, 9, 77});
  EXPECT_EQ(list(kSpam, l), (Entries{{0}, {1, 9, 77}}));
  Store({}, IndexFile(kSpam));  // empty: unreadable, and kept so
  EXPECT_EQ(list(kSpam, l), (Entries{{0}, {1, 9, 77}}));
  MMSMsgStore_AddMsgToIni(1, kSpam, {1, 0});
  EXPECT_TRUE(fs::exists(IndexFile(kSpam)) && fs::file_size(IndexFile(kSpam)) == 0);
  // byFolder is the low 8 bits of the record's folder; a trailing part
  // record is ignored and dropped by the next rewrite.
  SetIndex(kSpam, {{0x0106, 12, 5, 0}, {6, 0x80000000u, 4, 0}});
  Store(ByteBuilder().Raw(Load(IndexFile(kSpam))).Raw({6, 0, 0, 0, 1}).b, IndexFile(kSpam));
  EXPECT_EQ(list(kSpam, l), (Entries{{2}, {0, 6, 12}, {0, 6, 0x80000000u}}));
  MMSMsgStore_AddMsgToIni(13, kSpam, {3, 0});
  EXPECT_EQ(Load(IndexFile(kSpam)).size(), 48u);

  // Folders without index touch no file.
  for (DWORD folder : {kNone, kAutoDownload, 0u, 7u, 9u, 12u, 0x101u}) {
    MMSMsgStore_AddMsgToIni(1, folder, {1, 0});
    MMSMsgStore_DeleteMsgFromIni(13, folder);
    EXPECT_EQ(list(folder, l), (Entries{{0}, {0, 6, 12}, {0, 6, 0x80000000u}})) << folder;
  }
  EXPECT_FALSE(fs::exists(IndexFile(kNone)) || fs::exists(IndexFile(kAutoDownload)));
  EXPECT_EQ(Index(kSpam).size(), 3u);
}

// Only the current writer and full reader wait for "MUTEX_MMS_READWRITETILE";
// the index operations wait for "MUTEX_MMS_ACCESSINI".
TEST_F(MmsFile, EachOperationWaitsForItsOwnMutex) {
  using namespace std::chrono_literals;
  Sample s;
  ASSERT_EQ(Write(&s.p, &s.m, false), 1);
  MMSMsgStore_AddMsgToIni(1, kInbox, {1, 0});
  WCHAR other[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\2.mms";
  CMsgList list;
  using Calls = std::vector<std::function<int()>>;
  auto read = [&](bool quick) {
    tagMSGPROPS p{};
    tagMMSMSGPROPS m{};
    const int ok = quick ? MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &p)
                         : MMSMsgStore_ReadFromFile(path_, &p, &m, true);
    MMSMsgStore_FreeMsgProps(&p, &m);
    return ok;
  };
  const Calls quick = {[&] { return read(true); }, [&] { return Write(&s.p, &s.m, true, other); }},
              file = {[&] { return Write(&s.p, &s.m, false, other); }, [&] { return read(false); }},
              index = {[&] { return MMSMsgStore_GetQuickMsgList(list, kInbox) > 0 ? 1 : 0; },
                       [&] {
                         return MMSMsgStore_AddMsgToIni(2, kInbox, {2, 0}), 1;
                       },
                       [&] { return MMSMsgStore_DeleteMsgFromIni(2, kInbox), 1; }};
  struct Case {
    const WCHAR* mutex;
    Calls free, held;
  } const cases[] = {{u"MUTEX_MMS_READWRITETILE", quick, file},
                     {u"MUTEX_MMS_ACCESSINI", file, index}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    HANDLE mutex = CreateMutexW(nullptr, 0, c.mutex);
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    for (const auto& f : c.free) EXPECT_EQ(std::async(std::launch::async, f).get(), 1);
    std::vector<std::future<int>> held;
    for (const auto& f : c.held) held.push_back(std::async(std::launch::async, f));
    std::this_thread::sleep_for(200ms);
    for (auto& h : held) EXPECT_EQ(h.wait_for(0ms), std::future_status::timeout);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    for (auto& h : held) EXPECT_EQ(h.get(), 1);
  }
}

// Every cut of an empty and a full file in both layouts reads as far as its
// fields are whole; lengths far past the data are never followed.
TEST_F(MmsFile, ReadersStayWithinCutFilesAndHugeLengths) {
  Sample s;
  tagMSGPROPS empty{};
  tagMMSMSGPROPS emptyMms{};
  for (bool old : {false, true})
    for (bool full : {false, true}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", full " << full);
      ASSERT_EQ(full ? Write(&s.p, &s.m, old) : Write(&empty, &emptyMms, old), 1);
      const Bytes whole = Bytes1();
      const size_t header = whole.size() - (full ? 9 : 4);
      // The quick read needs the strings up to pszText4.
      const size_t quickEnd = full ? 34 + 2 * (3 + 3 + 9 + 9 + 6 + 3) : 46;
      for (size_t len = 0; len <= whole.size(); ++len) {
        const std::array<int, 5> r = ReadAll(Bytes(whole.begin(), whole.begin() + len));
        EXPECT_TRUE(len < whole.size() || r[old ? 3 : 0] == 1) << len;
        EXPECT_TRUE(len < header || r[old ? 4 : 1] == 1) << len;
        EXPECT_TRUE(old || len < quickEnd || r[2] == 1) << len;
        EXPECT_TRUE(len > 0 || r[0] + r[2] + r[3] == 0);
      }
      for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFFCu, 0x80000000u, 0x7FFFFFFFu}) {
        ReadAll(ByteBuilder{whole}.Patch(old ? 0 : 4, huge).b);  // header length
        EXPECT_EQ(ReadAll(ByteBuilder{whole}.Patch(header, huge).b)[old ? 4 : 1], 1)
            << "a read without body reads only the header";
        const std::array<int, 5> r = ReadAll(ByteBuilder{whole}.Patch(0, huge).b);
        EXPECT_TRUE(old || r[0] + r[1] + r[2] == 3) << "the quick length is not needed";
      }
    }
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
}

}  // namespace
