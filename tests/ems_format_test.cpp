// EMS message files: exact bytes of both layouts, round trips, and every
// reader fed cut files and huge lengths.
#include <array>
#include <chrono>
#include <filesystem>
#include <future>

#include "fault_injector.h"
#include "mms_fixtures.h"
#include "msgstore/ems.h"

namespace {

using msgstore_test::Bytes;
using Builder = msgstore_test::ByteBuilder;
using Sample = msgstore_test::SampleProps;

// The file of p in the current (or the old) layout, with or without its content.
Bytes Expected(const tagMSGPROPS& p, bool old, bool withContent = true) {
  Builder b;
  if (old) {
    b.U32(1).U32(p.dwUser1).Str(p.pszText1).Time(p.ftIndexTime).Time(p.ftTime).Str(p.pszTo);
    b.Str(p.pszText3).Str(p.pszText4).Str(p.pszSubject).U32(p.dwFolder).U16(p.wStatus);
    b.U32(p.dwOid).U32(p.dwUser2).Str(p.pszMsgID);
  } else {  // 26 header bytes, "Hi" (6) and "t2" (6): pszText1 starts at 38.
    b.U32(38).U32(p.dwOid).U32(1).U16(p.wStatus).Time(p.ftIndexTime).U32(p.dwFolder);
    b.Str(p.pszSubject).Str(p.pszText2).Str(p.pszText1).Str(p.pszTo).Str(p.pszText3);
    b.Str(p.pszText4).Time(p.ftTime).U32(p.dwUser1).U32(p.dwUser2).Str(p.pszMsgID);
  }
  b.U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3);
  return withContent ? b.U32(5).Raw({0x00, 0x01, 0xFF, 0x7F, 0x80}).b : b.U32(0).b;
}

int Write(WCHAR* path, tagMSGPROPS* p, bool old) {
  return old ? EMSMsgStore_WriteToFileOld(path, p) : EMSMsgStore_WriteToFile(path, p);
}
int Read(WCHAR* path, tagMSGPROPS* p, bool old, bool withContent) {
  return old ? EMSMsgStore_ReadFromFileOld(path, p, withContent)
             : EMSMsgStore_ReadFromFile(path, p, withContent);
}

const std::string kFile = "DiskOnChip/User/MESSAGING/EMS/INBOX/1.sms";

class EmsFile : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(EMSMsgStore_CreateDir(false), 1);
  }
  void TearDown() override {
    EMSMsgStore_FreeMsgProps(&read_);
    DeviceTest::TearDown();
  }
  Bytes Load(const std::string& rel = kFile) { return msgstore_test::Load(Host(rel)); }
  void Store(const Bytes& b) { msgstore_test::Store(b, Host(kFile)); }
  // The bytes that the current (or the old) writer makes of p.
  Bytes Rewrite(tagMSGPROPS* p, bool old = false) {
    WCHAR scratch[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\NONE\\0.sms";
    EXPECT_EQ(Write(scratch, p, old), 1);
    return Load("DiskOnChip/User/MESSAGING/EMS/NONE/0.sms");
  }

  enum { kFull, kQuick, kFullNoContent, kOld, kOldNoContent };
  // The result of every message reader on one file, each reusing the record.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes);
    tagMSGPROPS p{};
    std::array<int, 5> r{};
    for (int i = kFull; i <= kOldNoContent; ++i) {
      const bool content = i == kFull || i == kOld;
      r[i] = i == kQuick ? EMSMsgStore_QuickReadFromFile(false, 1, 1, &p)
                         : Read(path_, &p, i >= kOld, content);
      EXPECT_TRUE(r[i] == 0 || r[i] == 1) << i;
      EXPECT_TRUE(!r[i] || i == kQuick || (content ? p.pData[p.cbData] == 0 : p.pData == nullptr));
    }
    EMSMsgStore_FreeMsgProps(&p);
    return r;
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\1.sms";
  tagMSGPROPS read_{};
};

TEST_F(EmsFile, BothLayoutsAreExactReplaceTheFileAndRoundTrip) {
  Sample s;
  for (bool old : {false, true}) {
    Store(Bytes(500, 0xAA));  // replaced by the file of the low bytes' name, no temporary left
    WCHAR wide[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\\u0131.sms";
    ASSERT_EQ(Write(wide, &s.p, old), 1);
    EXPECT_EQ(Load(), Expected(s.p, old));
    EXPECT_EQ(
        std::distance(
            std::filesystem::directory_iterator(Host("DiskOnChip/User/MESSAGING/EMS/INBOX")), {}),
        1);
    for (bool content : {true, false}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", content " << content);
      ASSERT_EQ(Read(path_, &read_, old, content), 1);
      EXPECT_TRUE(content ? read_.cbData == 5 && read_.pData[5] == 0 : read_.pData == nullptr);
      EXPECT_EQ(Rewrite(&read_, old), Expected(s.p, old, content));
    }
  }
  EXPECT_EQ(std::u16string(read_.pszText2), u"t2");  // the old reader left it as it was
}

TEST_F(EmsFile, EveryPrefixAndHugeContentLengthsFailCleanly) {
  Sample s;
  for (bool old : {false, true}) {
    const Bytes file = Rewrite(&s.p, old);
    const size_t size = file.size(), untilUser3 = size - 5 - 4;
    for (size_t len = 0; len <= size; ++len) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", cut at " << len);
      const std::array<int, 5> r = ReadAll(Bytes(file.begin(), file.begin() + len));
      EXPECT_EQ(r[old ? kOld : kFull], len == size ? 1 : 0);
      EXPECT_EQ(r[old ? kOldNoContent : kFullNoContent],
                len >= untilUser3 && (old || len > 32) ? 1 : 0);
      EXPECT_TRUE(old || r[kQuick] == (len > 32 && len >= untilUser3 - 8 ? 1 : 0)) << r[kQuick];
    }
    for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFFBu, 0x80000000u}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", length " << huge);
      Bytes f = file;
      for (int i = 0; i < 4; ++i) f[untilUser3 + i] = static_cast<uint8_t>(huge >> (8 * i));
      const std::array<int, 5> r = ReadAll(f);
      EXPECT_EQ(r[old ? kOld : kFull], 0);
      EXPECT_EQ(r[old ? kOldNoContent : kFullNoContent], 1);
    }
  }
}

}  // namespace

// A quick read of a phone file that has vanished takes its record, and only
// the record of the folder read, out of the index; a card file, one that
// cannot be opened or an unreadable one leaves the index alone.
TEST_F(EmsFile, QuickReadRepairsTheIndexOfAVanishedPhoneFile) {
  const std::string index = "DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni";
  Sample s;
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p), 1);
  EMSMsgStore_AddMsgToIni(1, 1, {100, 0});
  EMSMsgStore_AddMsgToIni(2, 1, {200, 0});
  const Bytes before = Load(index);
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(true, 1, 1, &read_), 0);
  {
    msgstore_test::FaultInjector fault;  // a file that cannot be opened has not gone
    fault.Arm(1, EIO);
    EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  }
  Store(Bytes(10, 0));
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(Load(index), before);
  std::filesystem::remove(Host(kFile));
  EMSMsgStore_AddMsgToIni(1, 7, {400, 0});
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_), 0);
  EXPECT_EQ(Load(index), Builder().U32(7).U32(1).U32(400).U32(0).U32(1).U32(2).U32(200).U32(0).b);
}

// The current EMS writer and full reader wait for "MUTEX_READWRITETILE" (its
// quick read and old pair take no mutex), the MMS writer for
// "MUTEX_MMS_READWRITETILE" and the MMS index operations for
// "MUTEX_MMS_ACCESSINI".
TEST_F(EmsFile, EachOperationWaitsForItsOwnMutex) {
  using namespace std::chrono_literals;
  Sample s;
  tagMMSMSGPROPS m{};
  WCHAR oldPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\2.sms";
  WCHAR mmsPath[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\1.mms";
  ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &s.p) + MMSMsgStore_CreateDir(false), 2);
  auto read = [](WCHAR* path, bool old) {
    tagMSGPROPS p{};
    const int ok = Read(path, &p, old, true);
    EMSMsgStore_FreeMsgProps(&p);
    return ok;
  };
  const std::tuple<const WCHAR*, bool, std::function<int()>> cases[] = {
      {u"MUTEX_READWRITETILE", true, [&] { return Write(path_, &s.p, false); }},
      {u"MUTEX_READWRITETILE", true, [&] { return read(path_, false); }},
      {u"MUTEX_READWRITETILE", false,
       [&] { return EMSMsgStore_QuickReadFromFile(false, 1, 1, &read_); }},
      {u"MUTEX_READWRITETILE", false,
       [&] { return Write(oldPath, &s.p, true) * read(oldPath, true); }},
      {u"MUTEX_MMS_READWRITETILE", true,
       [&] { return MMSMsgStore_WriteToFile(mmsPath, &s.p, &m); }},
      {u"MUTEX_MMS_ACCESSINI", true, [] {
         return MMSMsgStore_AddMsgToIni(2, 1, {2, 0}), 1;
       }}};
  for (const auto& c : cases) {
    const auto& [name, waits, operation] = c;
    SCOPED_TRACE(&c - cases);
    HANDLE mutex = CreateMutexW(nullptr, 0, name);
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    auto done = std::async(std::launch::async, operation);
    EXPECT_EQ(done.wait_for(waits ? 200ms : 5s),
              waits ? std::future_status::timeout : std::future_status::ready);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    EXPECT_EQ(done.get(), 1);
  }
}
