// EMS message files: exact bytes of both layouts, round trips, the size
// limits of the readers, the quick read and its index repair, and locking.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "msgstore/ems.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Little-endian byte builder for expected files, independent of the library.
struct Builder {
  Bytes b;
  Builder& U16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Builder& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Builder& Time(FILETIME t) { return U32(t.dwLowDateTime).U32(t.dwHighDateTime); }
  Builder& Str(const WCHAR* s) {
    for (; s && *s; ++s) U16(*s);
    return U16(0);
  }
  Builder& Raw(const Bytes& raw) {
    b.insert(b.end(), raw.begin(), raw.end());
    return *this;
  }
};

std::u16string Show(const WCHAR* s) { return s ? u"\"" + std::u16string(s) + u"\"" : u"(null)"; }

// Heap copy as a reader would hand it out, for records the test fills itself.
WCHAR* Owned(const std::u16string& s) {
  auto* p = static_cast<WCHAR*>(calloc(s.size() + 1, sizeof(WCHAR)));
  std::copy(s.begin(), s.end(), p);
  return p;
}

// A record with a distinct value in every field, on static storage.
struct Sample {
  WCHAR text1[9] = u"text one";
  WCHAR text2[3] = u"t2";
  WCHAR to[9] = u"+4912345";
  WCHAR text3[6] = u"three";
  WCHAR text4[3] = {0x00E9, 0x4E2D, 0};
  WCHAR subject[3] = u"Hi";
  WCHAR msgId[5] = u"id-7";
  BYTE data[5] = {0x00, 0x01, 0xFF, 0x7F, 0x80};
  tagMSGPROPS p{};

  Sample() {
    p.bRead = 1;
    p.dwUser1 = 0x11223344;
    p.pszText1 = text1;
    p.pszText2 = text2;
    p.cbData = sizeof(data);
    p.pData = data;
    p.ftIndexTime = {0x89ABCDEF, 0x01D2E3F4};
    p.ftTime = {0x10203040, 0x50607080};
    p.pszTo = to;
    p.pszText3 = text3;
    p.pszText4 = text4;
    p.pszSubject = subject;
    p.dwFolder = 3;
    p.wStatus = 0xBEEF;
    p.dwOid = 0x80000001;
    p.dwUser2 = 0xCAFEBABE;
    p.pszMsgID = msgId;
    p.wUser1 = 0x1234;
    p.wUser2 = 0xFEDC;
    p.dwUser3 = 0xDEADBEEF;
  }
};

void ExpectSameRecord(const tagMSGPROPS& a, const tagMSGPROPS& b, bool withText2 = true) {
  EXPECT_EQ(a.bRead, b.bRead);
  EXPECT_EQ(a.dwUser1, b.dwUser1);
  EXPECT_EQ(Show(a.pszText1), Show(b.pszText1));
  if (withText2) {
    EXPECT_EQ(Show(a.pszText2), Show(b.pszText2));
  }
  EXPECT_EQ(a.ftIndexTime.dwLowDateTime, b.ftIndexTime.dwLowDateTime);
  EXPECT_EQ(a.ftIndexTime.dwHighDateTime, b.ftIndexTime.dwHighDateTime);
  EXPECT_EQ(a.ftTime.dwLowDateTime, b.ftTime.dwLowDateTime);
  EXPECT_EQ(a.ftTime.dwHighDateTime, b.ftTime.dwHighDateTime);
  EXPECT_EQ(Show(a.pszTo), Show(b.pszTo));
  EXPECT_EQ(Show(a.pszText3), Show(b.pszText3));
  EXPECT_EQ(Show(a.pszText4), Show(b.pszText4));
  EXPECT_EQ(Show(a.pszSubject), Show(b.pszSubject));
  EXPECT_EQ(a.dwFolder, b.dwFolder);
  EXPECT_EQ(a.wStatus, b.wStatus);
  EXPECT_EQ(a.dwOid, b.dwOid);
  EXPECT_EQ(a.dwUser2, b.dwUser2);
  EXPECT_EQ(Show(a.pszMsgID), Show(b.pszMsgID));
  EXPECT_EQ(a.wUser1, b.wUser1);
  EXPECT_EQ(a.wUser2, b.wUser2);
  EXPECT_EQ(a.dwUser3, b.dwUser3);
}

class EmsFormat : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(EMSMsgStore_CreateDir(false), 1);
    ASSERT_EQ(EMSMsgStore_CreateDir(true), 1);
  }
  void TearDown() override {
    EMSMsgStore_FreeMsgProps(&read_);
    DeviceTest::TearDown();
  }

  Bytes Load(const std::string& rel) {
    std::ifstream in(Host(rel), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void Store(const std::string& rel, const Bytes& bytes) {
    std::ofstream out(Host(rel), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  bool Exists(const std::string& rel) { return fs::exists(Host(rel)); }

  // Phone INBOX message 1.
  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\1.sms";
  const std::string file_ = "DiskOnChip/User/MESSAGING/EMS/INBOX/1.sms";
  const std::string inboxIndex_ = "DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni";
  tagMSGPROPS read_{};
};

// The current layout of Sample, built field by field.
Bytes CurrentBytes(const Sample& s) {
  const tagMSGPROPS& p = s.p;
  Builder b;
  // 26 header bytes, "Hi" (6) and "t2" (6): pszText1 starts at 38.
  b.U32(38).U32(p.dwOid).U32(1).U16(p.wStatus).Time(p.ftIndexTime).U32(p.dwFolder);
  b.Str(p.pszSubject).Str(p.pszText2).Str(p.pszText1).Str(p.pszTo).Str(p.pszText3);
  b.Str(p.pszText4).Time(p.ftTime).U32(p.dwUser1).U32(p.dwUser2).Str(p.pszMsgID);
  b.U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3).U32(5).Raw({0x00, 0x01, 0xFF, 0x7F, 0x80});
  return b.b;
}

// The old layout of Sample.
Bytes OldBytes(const Sample& s) {
  const tagMSGPROPS& p = s.p;
  Builder b;
  b.U32(1).U32(p.dwUser1).Str(p.pszText1).Time(p.ftIndexTime).Time(p.ftTime).Str(p.pszTo);
  b.Str(p.pszText3).Str(p.pszText4).Str(p.pszSubject).U32(p.dwFolder).U16(p.wStatus);
  b.U32(p.dwOid).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3);
  b.U32(5).Raw({0x00, 0x01, 0xFF, 0x7F, 0x80});
  return b.b;
}

TEST_F(EmsFormat, EmptyRecordGivesTheSmallestFile) {
  tagMSGPROPS empty{};
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &empty), 1);
  Bytes expected(68, 0);
  expected[0] = 30;  // pszText1 after the 26-byte header and two empty strings
  EXPECT_EQ(Load(file_), expected);
}

TEST_F(EmsFormat, LeadingLengthCoversSubjectAndText2) {
  WCHAR subject[] = u"ab";
  tagMSGPROPS p{};
  p.pszSubject = subject;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &p), 1);
  Bytes f = Load(file_);
  ASSERT_EQ(f.size(), 72u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{34, 0, 0, 0}));

  WCHAR text2[] = u"xyz";
  p.pszText2 = text2;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &p), 1);
  f = Load(file_);
  ASSERT_EQ(f.size(), 78u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{40, 0, 0, 0}));
}

TEST_F(EmsFormat, CurrentLayoutIsExact) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p), 1);
  EXPECT_EQ(Load(file_), CurrentBytes(s));
}

TEST_F(EmsFormat, OldLayoutIsExact) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFileOld(path_, &s.p), 1);
  EXPECT_EQ(Load(file_), OldBytes(s));

  tagMSGPROPS empty{};
  ASSERT_EQ(EMSMsgStore_WriteToFileOld(path_, &empty), 1);
  EXPECT_EQ(Load(file_), Bytes(62, 0));
}

TEST_F(EmsFormat, WriterReplacesTheWholeFile) {
  Store(file_, Bytes(500, 0xAA));
  tagMSGPROPS empty{};
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &empty), 1);
  EXPECT_EQ(Load(file_).size(), 68u);
  Store(file_, Bytes(500, 0xAA));
  ASSERT_EQ(EMSMsgStore_WriteToFileOld(path_, &empty), 1);
  EXPECT_EQ(Load(file_).size(), 62u);
}

TEST_F(EmsFormat, WritersFailWithoutADirectory) {
  WCHAR missing[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\NOWHERE\\1.sms";
  Sample s;
  EXPECT_EQ(EMSMsgStore_WriteToFile(missing, &s.p), 0);
  EXPECT_EQ(EMSMsgStore_WriteToFileOld(missing, &s.p), 0);
  EXPECT_FALSE(Exists("DiskOnChip/User/MESSAGING/EMS/NOWHERE"));
}

TEST_F(EmsFormat, FullReadRoundTrip) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p), 1);
  ASSERT_EQ(EMSMsgStore_ReadFromFile(path_, &read_, true), 1);
  ExpectSameRecord(read_, s.p);
  ASSERT_EQ(read_.cbData, 5u);
  ASSERT_NE(read_.pData, nullptr);
  EXPECT_EQ(Bytes(read_.pData, read_.pData + 6), (Bytes{0x00, 0x01, 0xFF, 0x7F, 0x80, 0x00}));
}

TEST_F(EmsFormat, ReadWithoutContent) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p), 1);
  // A content block left in the record is released, not kept.
  read_.cbData = 3;
  read_.pData = static_cast<BYTE*>(calloc(3, 1));
  ASSERT_EQ(EMSMsgStore_ReadFromFile(path_, &read_, false), 1);
  ExpectSameRecord(read_, s.p);
  EXPECT_EQ(read_.cbData, 0u);
  EXPECT_EQ(read_.pData, nullptr);
}

TEST_F(EmsFormat, EmptyStringsReadBackAsNull) {
  WCHAR empty[] = u"";
  tagMSGPROPS p{};
  p.pszSubject = empty;
  p.pszText2 = empty;
  p.pszMsgID = empty;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &p), 1);
  EXPECT_EQ(Load(file_).size(), 68u);
  read_.pszSubject = Owned(u"old");  // replaced, and the old copy released
  ASSERT_EQ(EMSMsgStore_ReadFromFile(path_, &read_, true), 1);
  EXPECT_EQ(read_.pszSubject, nullptr);
  EXPECT_EQ(read_.pszText2, nullptr);
  EXPECT_EQ(read_.pszMsgID, nullptr);
  // No content still gives a one-byte zero block.
  EXPECT_EQ(read_.cbData, 0u);
  ASSERT_NE(read_.pData, nullptr);
  EXPECT_EQ(read_.pData[0], 0);
}

TEST_F(EmsFormat, OldRoundTripLeavesText2Alone) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFileOld(path_, &s.p), 1);
  read_.pszText2 = Owned(u"mine");
  ASSERT_EQ(EMSMsgStore_ReadFromFileOld(path_, &read_, true), 1);
  ExpectSameRecord(read_, s.p, false);
  EXPECT_EQ(Show(read_.pszText2), u"\"mine\"");
  ASSERT_EQ(read_.cbData, 5u);
  EXPECT_EQ(Bytes(read_.pData, read_.pData + 6), (Bytes{0x00, 0x01, 0xFF, 0x7F, 0x80, 0x00}));

  EMSMsgStore_FreeMsgProps(&read_);
  ASSERT_EQ(EMSMsgStore_ReadFromFileOld(path_, &read_, false), 1);
  EXPECT_EQ(read_.cbData, 0u);
  EXPECT_EQ(read_.pData, nullptr);
  EXPECT_EQ(read_.dwUser3, 0xDEADBEEFu);
}

TEST_F(EmsFormat, CurrentReadersRejectFilesOf32BytesOrLess) {
  // The header of a message, then nothing: the size check comes before any
  // field is taken, so a rejected file leaves the record as it was.
  Builder header;
  header.U32(30).U32(77).U32(1).U16(2).U32(3).U32(4).U32(1).U16(0x41).U16(0).U16(0);
  ASSERT_EQ(header.b.size(), 32u);
  Store(file_, header.b);
  EXPECT_EQ(EMSMsgStore_ReadFromFile(path_, &read_, false), 0);
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(read_.dwOid, 0u);

  // One byte more passes the size check; the file is still cut short.
  Bytes longer = header.b;
  longer.push_back(0);
  Store(file_, longer);
  EXPECT_EQ(EMSMsgStore_ReadFromFile(path_, &read_, false), 0);
  EXPECT_EQ(read_.dwOid, 77u);
}

TEST_F(EmsFormat, OldReaderAcceptsAnyNonEmptyFile) {
  Store(file_, Bytes{});
  EXPECT_EQ(EMSMsgStore_ReadFromFileOld(path_, &read_, false), 0);
  EXPECT_EQ(read_.bRead, 0);
  // Four bytes are parsed (bRead), then the file runs out.
  Store(file_, Bytes{9, 0, 0, 0});
  EXPECT_EQ(EMSMsgStore_ReadFromFileOld(path_, &read_, false), 0);
  EXPECT_EQ(read_.bRead, 9);
  // An old file without content is 62 bytes, well under the current limit.
  tagMSGPROPS p{};
  p.dwOid = 5;
  ASSERT_EQ(EMSMsgStore_WriteToFileOld(path_, &p), 1);
  EXPECT_EQ(EMSMsgStore_ReadFromFileOld(path_, &read_, true), 1);
  EXPECT_EQ(read_.dwOid, 5u);
}

TEST_F(EmsFormat, ReadersFailOnMissingFiles) {
  EXPECT_EQ(EMSMsgStore_ReadFromFile(path_, &read_, true), 0);
  EXPECT_EQ(EMSMsgStore_ReadFromFileOld(path_, &read_, true), 0);
  WCHAR dir[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX";
  EXPECT_EQ(EMSMsgStore_ReadFromFile(dir, &read_, true), 0);
}

TEST_F(EmsFormat, QuickReadFillsTheListFieldsOnly) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p), 1);
  BYTE* mine = static_cast<BYTE*>(calloc(2, 1));
  read_.wUser1 = 1;
  read_.wUser2 = 2;
  read_.dwUser3 = 3;
  read_.cbData = 2;
  read_.pData = mine;
  ASSERT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 1);
  EXPECT_EQ(read_.dwOid, s.p.dwOid);
  EXPECT_EQ(read_.bRead, 1);
  EXPECT_EQ(read_.wStatus, 0xBEEF);
  EXPECT_EQ(read_.ftIndexTime.dwLowDateTime, s.p.ftIndexTime.dwLowDateTime);
  EXPECT_EQ(read_.ftIndexTime.dwHighDateTime, s.p.ftIndexTime.dwHighDateTime);
  EXPECT_EQ(read_.dwFolder, 3u);
  EXPECT_EQ(Show(read_.pszSubject), u"\"Hi\"");
  EXPECT_EQ(Show(read_.pszText2), u"\"t2\"");
  EXPECT_EQ(Show(read_.pszText1), u"\"text one\"");
  EXPECT_EQ(Show(read_.pszTo), u"\"+4912345\"");
  EXPECT_EQ(Show(read_.pszText3), u"\"three\"");
  EXPECT_EQ(Show(read_.pszText4), Show(s.text4));
  EXPECT_EQ(read_.ftTime.dwLowDateTime, s.p.ftTime.dwLowDateTime);
  EXPECT_EQ(read_.dwUser1, s.p.dwUser1);
  EXPECT_EQ(read_.dwUser2, s.p.dwUser2);
  EXPECT_EQ(Show(read_.pszMsgID), u"\"id-7\"");
  EXPECT_EQ(read_.wUser1, 1);
  EXPECT_EQ(read_.wUser2, 2);
  EXPECT_EQ(read_.dwUser3, 3u);
  EXPECT_EQ(read_.cbData, 2u);
  EXPECT_EQ(read_.pData, mine);
}

TEST_F(EmsFormat, QuickReadFindsSimFilesInPhoneMemory) {
  WCHAR simPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\SIM_INBOX\\4.sms";
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(simPath, &s.p), 1);
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(true, 7, 4, &read_), 1);
  EXPECT_EQ(Show(read_.pszSubject), u"\"Hi\"");
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 9, 4, &read_), 0);
}

TEST_F(EmsFormat, QuickReadOfAVanishedPhoneFileRepairsTheIndex) {
  EMSMsgStore_AddMsgToIni(1, 1, {100, 0});
  EMSMsgStore_AddMsgToIni(2, 1, {200, 0});
  Bytes before = Load(inboxIndex_);
  ASSERT_EQ(before.size(), 32u);

  // On the card the index is not consulted.
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(true, 1, 1, &read_), 0);
  EXPECT_EQ(Load(inboxIndex_), before);

  // A file that exists but is too small is not a vanished file.
  Store(file_, Bytes(10, 0));
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(Load(inboxIndex_), before);

  fs::remove(Host(file_));
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(Load(inboxIndex_), (Builder().U32(1).U32(2).U32(200).U32(0).b));
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 2, &read_), 0);
  EXPECT_FALSE(Exists(inboxIndex_));

  // A SIM copy's record is found in the INBOX index under its own folder.
  EMSMsgStore_AddMsgToIni(3, 1, {300, 0});
  EMSMsgStore_AddMsgToIni(3, 7, {400, 0});
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 7, 3, &read_), 0);
  EXPECT_EQ(Load(inboxIndex_), (Builder().U32(1).U32(3).U32(300).U32(0).b));
}

TEST_F(EmsFormat, FreeMsgPropsReleasesEveryOwnedMember) {
  tagMSGPROPS p{};
  p.pszText1 = Owned(u"1");
  p.pszText2 = Owned(u"2");
  p.pszText3 = Owned(u"3");
  p.pszText4 = Owned(u"4");
  p.pszTo = Owned(u"to");
  p.pszSubject = Owned(u"s");
  p.pszMsgID = Owned(u"id");
  p.pData = static_cast<BYTE*>(calloc(4, 1));
  p.cbData = 4;
  p.dwOid = 9;
  EMSMsgStore_FreeMsgProps(&p);
  EXPECT_EQ(p.pszText1, nullptr);
  EXPECT_EQ(p.pszText2, nullptr);
  EXPECT_EQ(p.pszText3, nullptr);
  EXPECT_EQ(p.pszText4, nullptr);
  EXPECT_EQ(p.pszTo, nullptr);
  EXPECT_EQ(p.pszSubject, nullptr);
  EXPECT_EQ(p.pszMsgID, nullptr);
  EXPECT_EQ(p.pData, nullptr);
  EXPECT_EQ(p.cbData, 4u);
  EXPECT_EQ(p.dwOid, 9u);
  EMSMsgStore_FreeMsgProps(&p);  // twice is harmless
  EMSMsgStore_FreeMsgProps(nullptr);
}

// The current pair waits for "MUTEX_READWRITETILE"; the quick read and the
// old pair do not.
TEST_F(EmsFormat, OnlyTheCurrentPairTakesTheFileMutex) {
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p), 1);
  HANDLE mutex = CreateMutexW(nullptr, 0, u"MUTEX_READWRITETILE");
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);

  using namespace std::chrono_literals;
  auto quick = std::async(std::launch::async, [&] {
    tagMSGPROPS p{};
    int r = EMSMsgStore_QuickReadFromFile(false, 1, 1, &p);
    EMSMsgStore_FreeMsgProps(&p);
    return r;
  });
  WCHAR oldPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\2.sms";
  auto old = std::async(std::launch::async, [&] {
    tagMSGPROPS p{};
    int r = EMSMsgStore_WriteToFileOld(oldPath, &s.p) + EMSMsgStore_ReadFromFileOld(oldPath, &p, 1);
    EMSMsgStore_FreeMsgProps(&p);
    return r;
  });
  WCHAR newPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\3.sms";
  auto write =
      std::async(std::launch::async, [&] { return EMSMsgStore_WriteToFile(newPath, &s.p); });
  auto read = std::async(std::launch::async, [&] {
    tagMSGPROPS p{};
    int r = EMSMsgStore_ReadFromFile(path_, &p, true);
    EMSMsgStore_FreeMsgProps(&p);
    return r;
  });

  ASSERT_EQ(quick.wait_for(5s), std::future_status::ready);
  ASSERT_EQ(old.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(quick.get(), 1);
  EXPECT_EQ(old.get(), 2);
  EXPECT_EQ(write.wait_for(200ms), std::future_status::timeout);
  EXPECT_EQ(read.wait_for(0ms), std::future_status::timeout);
  EXPECT_FALSE(Exists("DiskOnChip/User/MESSAGING/EMS/INBOX/3.sms"));

  ReleaseMutex(mutex);
  CloseHandle(mutex);
  EXPECT_EQ(write.get(), 1);
  EXPECT_EQ(read.get(), 1);
  EXPECT_EQ(Load("DiskOnChip/User/MESSAGING/EMS/INBOX/3.sms"), CurrentBytes(s));
}

}  // namespace
