// MMS message files: exact bytes of both layouts, round trips, the read
// without body, the quick read and its index repair, the file and index
// mutexes, and every reader fed cut and corrupted files (AddressSanitizer
// checks the bounds).
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::ByteBuilder;
using msgstore_test::Bytes;

// A record pair with a distinct value in every field; the strings live in it.
struct Sample {
  WCHAR text1[9] = u"text one", text2[3] = u"t2", to[9] = u"+4912345", text3[6] = u"three";
  WCHAR text4[3] = {0x00E9, 0x4E2D, 0}, subject[3] = u"Hi", msgId[5] = u"id-7";
  WCHAR mmsText[9] = u"smil.xml";
  BYTE data[5] = {0x00, 0x01, 0xFF, 0x7F, 0x80};
  FILETIME indexTime = {0x89ABCDEF, 0x01D2E3F4}, time = {0x10203040, 0x50607080};
  tagMSGPROPS p{1,          0x11223344, text1, text2,  5,       data,      indexTime,
                time,       to,         text3, text4,  subject, 3,         0xBEEF,
                0x80000001, 0xCAFEBABE, msgId, 0x1234, 0xFEDC,  0xDEADBEEF};
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
  b.U32(p.cbData);
  for (DWORD i = 0; i < p.cbData; ++i) b.b.push_back(p.pData[i]);
  return b.b;
}

int WriteAs(WCHAR* path, tagMSGPROPS* p, tagMMSMSGPROPS* m, bool old) {
  return old ? MMSMsgStore_WriteToFileOld(path, p, m) : MMSMsgStore_WriteToFile(path, p, m);
}
int ReadAs(WCHAR* path, tagMSGPROPS* p, tagMMSMSGPROPS* m, bool old, bool withBody) {
  return old ? MMSMsgStore_ReadFromFileOld(path, p, m, withBody)
             : MMSMsgStore_ReadFromFile(path, p, m, withBody);
}
std::u16string Str(const WCHAR* s) { return s ? s : u"(null)"; }
WCHAR* Heap(const std::u16string& s) {
  auto* copy = static_cast<WCHAR*>(calloc(s.size() + 1, sizeof(WCHAR)));
  std::memcpy(copy, s.data(), s.size() * sizeof(WCHAR));
  return copy;
}

const std::string kFile = "DiskOnChip/User/MESSAGING/MMS/INBOX/1.mms";
const std::string kIndex = "DiskOnChip/User/MESSAGING/MMS/INBOX/MmsIni";

struct Base {
  Bytes bytes;
  DWORD header, quickEnd;  // header length; end of pszText4
  bool old;
};

class MmsFile : public msgstore_test::MmsTest {
 protected:
  void TearDown() override {
    MMSMsgStore_FreeMsgProps(&read_, &readMms_);
    MmsTest::TearDown();
  }
  Bytes Load(const std::string& rel = kFile) { return MmsTest::Load(Host(rel)); }
  void Store(const Bytes& bytes, const std::string& rel = kFile) {
    MmsTest::Store(bytes, Host(rel));
  }
  // The bytes that the current (or the old) writer makes of the records.
  Bytes Rewrite(tagMSGPROPS* p, tagMMSMSGPROPS* m, bool old = false) {
    WCHAR scratch[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\NONE\\0.mms";
    EXPECT_EQ(WriteAs(scratch, p, m, old), 1);
    return Load("DiskOnChip/User/MESSAGING/MMS/NONE/0.mms");
  }
  // An empty and a full record pair in both layouts, as the writers make them.
  std::vector<Base> Bases() {
    Sample s;
    tagMSGPROPS empty{};
    tagMMSMSGPROPS emptyMms{};
    std::vector<Base> bases;
    for (bool old : {false, true}) {
      bases.push_back({Rewrite(&empty, &emptyMms, old), old ? 82u : 88u, 46, old});
      const Bytes full = Rewrite(&s.p, &s.m, old);
      ByteBuilder quick;
      quick.Raw(Bytes(34, 0)).Str(s.subject).Str(s.text2).Str(s.text1).Str(s.to);
      quick.Str(s.text3).Str(s.text4);
      bases.push_back(
          {full, static_cast<DWORD>(full.size() - 9), static_cast<DWORD>(quick.b.size()), old});
    }
    return bases;
  }

  enum { kFull, kQuick, kNoBody, kOld, kOldNoBody };
  // The result of every message reader on one file, in the order above, each
  // replacing what the one before left.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes);
    tagMSGPROPS p{};
    tagMMSMSGPROPS m{};
    std::array<int, 5> r{};
    for (int i = kFull; i <= kOldNoBody; ++i) {
      const bool body = i == kFull || i == kOld;
      if (!body) DropBody(&p);
      r[i] = i == kQuick ? MMSMsgStore_QuickReadFromFile(false, 1, 1, &p)
                         : ReadAs(path_, &p, &m, i >= kOld, body);
      EXPECT_TRUE(r[i] == 0 || r[i] == 1) << i;
      if (r[i] && i != kQuick) {
        EXPECT_TRUE(body ? p.pData != nullptr && p.pData[p.cbData] == 0
                         : p.pData == nullptr && p.cbData == 0)
            << i;
      }
    }
    MMSMsgStore_FreeMsgProps(&p, &m);
    return r;
  }

  // Releases the body before a read without body, which only sets pData to null.
  static void DropBody(tagMSGPROPS* p) {
    free(p->pData);
    p->pData = nullptr;
    p->cbData = 0;
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\1.mms";
  tagMSGPROPS read_{};
  tagMMSMSGPROPS readMms_{};
};

TEST_F(MmsFile, BothLayoutsAreExactAndReplaceTheFile) {
  tagMSGPROPS p{};
  tagMMSMSGPROPS m{};
  Store(Bytes(500, 0xAA));
  ASSERT_EQ(MMSMsgStore_WriteToFile(path_, &p, &m), 1);
  EXPECT_EQ(Load(), ByteBuilder().U32(38).U32(88).Raw(Bytes(84, 0)).b);
  WCHAR ab[] = u"ab";
  p.pszSubject = ab;
  ASSERT_EQ(MMSMsgStore_WriteToFile(path_, &p, &m), 1);
  EXPECT_EQ(Load(), ByteBuilder().U32(42).U32(92).Raw(Bytes(26, 0)).Str(ab).Raw(Bytes(56, 0)).b);
  p.pszSubject = nullptr;
  Store(Bytes(500, 0xAA));
  ASSERT_EQ(MMSMsgStore_WriteToFileOld(path_, &p, &m), 1);
  EXPECT_EQ(Load(), ByteBuilder().U32(82).Raw(Bytes(82, 0)).b);
  // A body pointer without length, or a length without pointer, writes no body.
  BYTE body[] = {9};
  p.pData = body;
  ASSERT_EQ(MMSMsgStore_WriteToFile(path_, &p, &m), 1);
  EXPECT_EQ(Load().size(), 92u);
  p.pData = nullptr;
  p.cbData = 4;
  ASSERT_EQ(MMSMsgStore_WriteToFileOld(path_, &p, &m), 1);
  EXPECT_EQ(Load(), ByteBuilder().U32(82).Raw(Bytes(78, 0)).U32(4).b);

  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(WriteAs(path_, &s.p, &s.m, old), 1);
    EXPECT_EQ(Load(), Expected(s.p, s.m, old));
  }
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Host("DiskOnChip/User/MESSAGING/MMS/INBOX")))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"1.mms"});  // no temporary file left

  WCHAR noDir[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\GONE\\1.mms";
  WCHAR dir[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX";
  for (WCHAR* bad : {noDir, dir})
    for (bool old : {false, true}) EXPECT_EQ(WriteAs(bad, &s.p, &s.m, old), 0);
}

TEST_F(MmsFile, RoundTripsWithAndWithoutBody) {
  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(WriteAs(path_, &s.p, &s.m, old), 1);
    for (bool body : {true, false}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", body " << body);
      DropBody(&read_);
      ASSERT_EQ(ReadAs(path_, &read_, &readMms_, old, body), 1);
      EXPECT_EQ(read_.pData == nullptr, !body);
      EXPECT_TRUE(!body || (read_.cbData == 5 && read_.pData[5] == 0));
      EXPECT_EQ(Rewrite(&read_, &readMms_, old), Expected(s.p, s.m, old, body));
    }
  }
  EXPECT_EQ(Str(read_.pszText2), u"t2");  // the old reader left it as it was

  // Empty and absent strings come back null; an empty body as one zero byte.
  tagMSGPROPS empty{};
  tagMMSMSGPROPS emptyMms{};
  WCHAR none[] = u"";
  empty.pszSubject = none;
  emptyMms.pszMmsText = none;
  for (bool old : {false, true}) {
    ASSERT_EQ(WriteAs(path_, &empty, &emptyMms, old), 1);
    DropBody(&read_);
    ASSERT_EQ(ReadAs(path_, &read_, &readMms_, old, true), 1);
    for (const WCHAR* str : {read_.pszText1, read_.pszTo, read_.pszText3, read_.pszText4,
                             read_.pszSubject, read_.pszMsgID, readMms_.pszMmsText})
      EXPECT_EQ(str, nullptr) << old;
    ASSERT_EQ(read_.cbData, 0u);
    ASSERT_NE(read_.pData, nullptr);
    EXPECT_EQ(read_.pData[0], 0);
  }
  EXPECT_EQ(read_.pszText2, nullptr);

  // Each record is released on its own; what is not owned stays.
  ASSERT_EQ(WriteAs(path_, &s.p, &s.m, false), 1);
  DropBody(&read_);
  ASSERT_EQ(ReadAs(path_, &read_, &readMms_, false, true), 1);
  MMSMsgStore_FreeMsgProps(&read_, nullptr);
  for (const void* owned : std::initializer_list<const void*>{
           read_.pszText1, read_.pszText2, read_.pData, read_.pszTo, read_.pszText3, read_.pszText4,
           read_.pszSubject, read_.pszMsgID})
    EXPECT_EQ(owned, nullptr);
  EXPECT_EQ(read_.cbData, 5u);
  EXPECT_EQ(read_.dwOid, s.p.dwOid);
  ASSERT_NE(readMms_.pszMmsText, nullptr);
  MMSMsgStore_FreeMsgProps(nullptr, &readMms_);
  EXPECT_EQ(readMms_.pszMmsText, nullptr);
  EXPECT_EQ(readMms_.dwMmsValue1, s.m.dwMmsValue1);
  MMSMsgStore_FreeMsgProps(&read_, &readMms_);
  MMSMsgStore_FreeMsgProps(nullptr, nullptr);
}

TEST_F(MmsFile, QuickReadFillsTheListFieldsCrosswise) {
  Sample s;
  ASSERT_EQ(MMSMsgStore_WriteToFile(path_, &s.p, &s.m), 1);
  BYTE* mine = static_cast<BYTE*>(calloc(2, 1));
  WCHAR* msgId = Heap(u"mine");
  read_ = {};
  read_.pszSubject = Heap(u"old subject");  // released by the read
  read_.pszText1 = Heap(u"old text");
  read_.cbData = 2, read_.pData = mine, read_.pszMsgID = msgId, read_.ftTime = {5, 6};
  read_.dwUser1 = 7, read_.dwUser2 = 8, read_.dwUser3 = 9, read_.wUser1 = 1, read_.wUser2 = 2;
  ASSERT_EQ(MMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 1);
  EXPECT_EQ(read_.dwOid, s.p.dwOid);
  EXPECT_EQ(read_.bRead, s.p.bRead);
  EXPECT_EQ(read_.wStatus, s.p.wStatus);
  EXPECT_EQ(read_.ftIndexTime.dwLowDateTime, s.p.ftIndexTime.dwLowDateTime);
  EXPECT_EQ(read_.ftIndexTime.dwHighDateTime, s.p.ftIndexTime.dwHighDateTime);
  EXPECT_EQ(read_.dwFolder, s.p.dwFolder);
  EXPECT_EQ(read_.wUser2, s.m.wMmsQuick1);
  EXPECT_EQ(read_.wUser1, s.m.wMmsQuick2);
  const std::vector<std::u16string> strings = {Str(read_.pszSubject), Str(read_.pszText2),
                                               Str(read_.pszText1),   Str(read_.pszTo),
                                               Str(read_.pszText3),   Str(read_.pszText4)};
  EXPECT_EQ(strings, (std::vector<std::u16string>{u"Hi", u"t2", u"text one", u"+4912345", u"three",
                                                  s.text4}));
  // What a listing does not need keeps the caller's values.
  EXPECT_TRUE(read_.cbData == 2 && read_.pData == mine && read_.pszMsgID == msgId);
  EXPECT_TRUE(read_.ftTime.dwLowDateTime == 5 && read_.ftTime.dwHighDateTime == 6);
  EXPECT_TRUE(read_.dwUser1 == 7 && read_.dwUser2 == 8 && read_.dwUser3 == 9);

  // A full read gives wUser1 and wUser2 from their own places.
  DropBody(&read_);
  ASSERT_EQ(MMSMsgStore_ReadFromFile(path_, &read_, &readMms_, false), 1);
  EXPECT_TRUE(read_.wUser1 == 0x1234 && read_.wUser2 == 0xFEDC);
}

TEST_F(MmsFile, QuickReadOfAVanishedPhoneFileRepairsTheIndex) {
  MMSMsgStore_AddMsgToIni(1, 1, {100, 0});
  MMSMsgStore_AddMsgToIni(2, 1, {200, 0});
  const Bytes before = Load(kIndex);
  ASSERT_EQ(before.size(), 32u);
  // Missing on the card, refused on the card, empty in phone memory: no repair.
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(true, 1, 1, &read_), 0);
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(true, 5, 1, &read_), 0);
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(false, 9, 1, &read_), 0);
  Store({});
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(Load(kIndex), before);

  fs::remove(Host(kFile));
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(Load(kIndex), ByteBuilder().U32(1).U32(2).U32(200).U32(0).b);
  EXPECT_EQ(MMSMsgStore_QuickReadFromFile(false, 1, 2, &read_), 0);
  EXPECT_FALSE(fs::exists(Host(kIndex)));
}

// Only the current writer and full reader wait for "MUTEX_MMS_READWRITETILE";
// the index operations wait for "MUTEX_MMS_ACCESSINI"; a new message waits for
// the counter's "MUTEX_MMS_NEXTOID", a rewrite does not.
TEST_F(MmsFile, EachOperationWaitsForItsOwnMutex) {
  using namespace std::chrono_literals;
  Sample s;
  ASSERT_EQ(MMSMsgStore_WriteToFile(path_, &s.p, &s.m), 1);
  MMSMsgStore_AddMsgToIni(1, 1, {1, 0});
  WCHAR oldPath[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\2.mms";
  WCHAR newPath[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\3.mms";
  auto run = [](std::function<int()> f) { return std::async(std::launch::async, f); };
  struct Case {
    const WCHAR* mutex;
    std::vector<std::function<int()>> free, held;
  };
  tagMSGPROPS a{}, b{};
  tagMMSMSGPROPS am{}, bm{};
  CMsgList list;
  msgstore_test::MmsTest::Message rewrite(kSent), fresh(kSent);
  const Case cases[] = {
      {u"MUTEX_MMS_READWRITETILE",
       {[&] {
          return MMSMsgStore_QuickReadFromFile(false, 1, 1, &a) +
                 WriteAs(oldPath, &s.p, &s.m, true) + ReadAs(oldPath, &a, &am, true, false) - 2;
        },
        [&] { return MMSMsgStore_GetQuickMsgList(list, 1) > 0 ? 1 : 0; }},
       {[&] { return MMSMsgStore_WriteToFile(newPath, &s.p, &s.m); },
        [&] { return MMSMsgStore_ReadFromFile(path_, &b, &bm, true); }}},
      {u"MUTEX_MMS_ACCESSINI",
       {[&] { return MMSMsgStore_ReadFromFile(path_, &a, &am, false); }},
       {[&] { return MMSMsgStore_GetQuickMsgList(list, 1) > 0 ? 1 : 0; },
        [&] {
          MMSMsgStore_AddMsgToIni(2, 1, {2, 0});
          return 1;
        },
        [&] {
          MMSMsgStore_DeleteMsgFromIni(2, 1);
          return 1;
        }}},
      {u"MUTEX_MMS_NEXTOID",
       {[&] {
         return MMSMsgStore_WriteMessage(false, &rewrite.props, &rewrite.mms, 40, nullptr) == 40;
       }},
       {[&] {
         return MMSMsgStore_WriteMessage(false, &fresh.props, &fresh.mms, 0, nullptr) != 0;
       }}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mutex, c.mutex + std::char_traits<WCHAR>::length(c.mutex)));
    HANDLE mutex = CreateMutexW(nullptr, 0, c.mutex);
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    std::vector<std::future<int>> free, held;
    for (const auto& f : c.free) free.push_back(run(f));
    for (auto& f : free) EXPECT_EQ(f.wait_for(5s), std::future_status::ready);
    for (const auto& f : c.held) held.push_back(run(f));
    std::this_thread::sleep_for(200ms);
    for (auto& h : held) EXPECT_EQ(h.wait_for(0ms), std::future_status::timeout);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    for (auto& f : free) EXPECT_EQ(f.get(), 1);
    for (auto& h : held) EXPECT_EQ(h.get(), 1);
  }
  MMSMsgStore_FreeMsgProps(&a, &am);
  MMSMsgStore_FreeMsgProps(&b, &bm);
}

using MmsRobustness = MmsFile;

TEST_F(MmsRobustness, EveryTruncationOfValidFiles) {
  for (const Base& b : Bases()) {
    const size_t size = b.bytes.size();
    for (size_t len = 0; len <= size; ++len) {
      SCOPED_TRACE(testing::Message() << "old " << b.old << ", " << size << " cut at " << len);
      const std::array<int, 5> r = ReadAll(Bytes(b.bytes.begin(), b.bytes.begin() + len));
      EXPECT_TRUE(len < size || r[b.old ? kOld : kFull] == 1);
      EXPECT_TRUE(len < b.header || r[b.old ? kOldNoBody : kNoBody] == 1);
      EXPECT_TRUE(b.old || len < b.quickEnd || r[kQuick] == 1);
      EXPECT_TRUE(len > 0 || r[kFull] + r[kQuick] + r[kOld] == 0);
    }
  }
  EXPECT_FALSE(fs::exists(Host(kIndex)));
}

// Lengths and offsets far past the data: never a crash, never a read past
// the bytes read. The quick length is not needed by any reader.
TEST_F(MmsRobustness, HugeLengthsAndOffsets) {
  const std::vector<Base> bases = Bases();
  for (const Base& b : bases) {
    const uint32_t size = static_cast<uint32_t>(b.bytes.size()), cbAt = b.header;
    for (uint32_t value : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFCu, 0x80000000u, 0x7FFFFFFFu,
                           0x10000u, 0u, 3u, size - 1, size, size + 1, size - cbAt - 3}) {
      SCOPED_TRACE(testing::Message() << "old " << b.old << ", size " << size << ", " << value);
      ByteBuilder f{b.bytes};
      ReadAll(f.Patch(b.old ? 0 : 4, value).b);  // header length
      f.b = b.bytes;
      const int noBody = ReadAll(f.Patch(cbAt, value).b)[b.old ? kOldNoBody : kNoBody];
      EXPECT_EQ(noBody, 1);  // only the first header-length bytes are read
      if (b.old) continue;
      f.b = b.bytes;
      const std::array<int, 5> r = ReadAll(f.Patch(0, value).b);  // quick length
      EXPECT_EQ(r[kFull] + r[kNoBody] + r[kQuick], 3);
    }
    // Strings without terminator up to the end of the file.
    for (size_t from = 0; from < size; from += 2) {
      ByteBuilder f{b.bytes};
      for (size_t i = from; i + 1 < size; i += 2)
        if (f.b[i] == 0 && f.b[i + 1] == 0) f.b[i] = 'A';
      ReadAll(f.b);
    }
  }
}

TEST_F(MmsRobustness, SeededRandomCorruptions) {
  const std::vector<Base> bases = Bases();
  std::mt19937 rng(20240611u);
  auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
  auto put32 = [&](Bytes& f, size_t at) {
    for (size_t i = 0, v = 0xFFFFFFFFu >> below(17); i < 4 && at + i < f.size(); ++i)
      f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const std::function<void(Bytes&, const Base&)> edits[] = {
      [&](Bytes& f, const Base&) { f[below(f.size())] ^= static_cast<uint8_t>(1 + below(255)); },
      [&](Bytes& f, const Base&) { put32(f, below(f.size())); },
      [&](Bytes& f, const Base& b) { put32(f, b.header); },
      [&](Bytes& f, const Base& b) { put32(f, b.old ? 0 : 4); },
      [&](Bytes& f, const Base&) {  // remove string terminators from some point on
        for (size_t i = below(f.size()) & ~size_t{1}; i + 1 < f.size(); i += 2)
          if (f[i] == 0 && f[i + 1] == 0) f[i] = 'A';
      },
      [&](Bytes& f, const Base&) { f.resize(below(f.size() + 1)); },
      [&](Bytes& f, const Base&) {
        for (size_t n = below(9); n > 0; --n) f.push_back(static_cast<uint8_t>(rng()));
      }};
  int accepted = 0;
  const int iterations = 2000;
  for (int iteration = 0; iteration < iterations; ++iteration) {
    const Base& base = bases[below(bases.size())];
    Bytes f = base.bytes;
    for (int e = static_cast<int>(below(3)); e >= 0 && !f.empty(); --e)
      edits[below(std::size(edits))](f, base);
    const std::array<int, 5> r = ReadAll(f);
    accepted += r[kFull] + r[kOld];
    if (HasFailure()) FAIL() << "iteration " << iteration;
  }
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 2 * iterations);
}

}  // namespace
