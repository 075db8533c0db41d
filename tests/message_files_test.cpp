// Message files of the three stores: exact bytes of both layouts, round trips,
// the quick read, every reader fed every cut and huge lengths, the index repair
// of the EMS quick read, and the mutex each file operation waits for.
#include <array>
#include <chrono>
#include <filesystem>
#include <future>

#include "email_fixtures.h"
#include "fault_injector.h"
#include "fuzz/fuzz_support.h"
#include "msgstore/ems.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using Builder = msgstore_test::ByteBuilder;
using msgstore_fuzz::Kind, msgstore_fuzz::kEms, msgstore_fuzz::kMms, msgstore_fuzz::kEmail;
using msgstore_fuzz::WriteFile;

// A distinct value in every field, the store parts' too; the strings live in it.
struct Sample {
  WCHAR text1[9] = u"text one", text2[3] = u"t2", to[9] = u"+4912345", text3[6] = u"three";
  WCHAR text4[3] = {0x00E9, 0x4E2D, 0}, subject[3] = u"Hi", msgId[5] = u"id-7";
  BYTE data[5] = {0x00, 0x01, 0xFF, 0x7F, 0x80};
  FILETIME indexTime{0x89ABCDEF, 0x01D2E3F4}, time{0x10203040, 0x50607080};
  tagMSGPROPS p{1,          0x11223344, text1, text2,  5,       data,      indexTime,
                time,       to,         text3, text4,  subject, 3,         0xBEEF,
                0x80000001, 0xCAFEBABE, msgId, 0x1234, 0xFEDC,  0xDEADBEEF};
  WCHAR mmsText[9] = u"smil.xml", emailText1[4] = u"et1", emailText2[6] = u"et-02";
  msgstore_fuzz::Extra x{{0x1357, mmsText, 0x2468ACE0, 0x9753, 0xA1A2, 0x0B0C0D0E, 0x7531, 0xB1B2},
                         {0xA55A, 0x01020304, emailText1, emailText2, -7, 805306371, 0xF0E0D0C0}};
};

// The file of s in the current (or the old) layout of kind's store, built
// field by field, with or without its content.
Bytes Expected(Kind kind, const Sample& s, bool old, bool content = true) {
  const tagMSGPROPS& p = s.p;
  const tagMMSMSGPROPS& m = s.x.mms;
  const tagEMAILMSGPROPS& e = s.x.email;
  const bool ems = kind == kEms;
  // The store's own fields: part 0 those of the current layout's quick part,
  // 1 the rest of the current layout, 2 all of the old layout.
  auto own = [&](Builder& b, int part) {
    if (kind == kMms && part == 0) b.U16(m.wMmsQuick1).U16(m.wMmsQuick2);
    if (kind == kMms && part != 0) {
      b.U16(m.wMmsValue1).Str(m.pszMmsText).U32(m.dwMmsValue1).U16(m.wMmsValue2);
      if (part == 2) b.U16(m.wMmsQuick1);
      b.U32(m.dwMmsValue2).U16(m.wMmsValue3);
      if (part == 2) b.U16(m.wMmsQuick2);
    }
    if (kind == kEmail && part != 1) b.U16(e.wQuickValue);
    if (kind == kEmail && part != 0)
      b.U32(e.dwEmailData1).Str(e.pszEmailText1).Str(e.pszEmailText2).U32(e.dwReadReportStatus);
    if (kind == kEmail && part != 0) b.U32(e.dwAccountId).U32(e.dwEmailData2);
  };
  Builder b;
  if (old) {  // the length of the rest (not in EMS), then the record in its memory order
    if (!ems) b.U32(0);
    b.U32(p.bRead).U32(p.dwUser1).Str(p.pszText1).Time(p.ftIndexTime).Time(p.ftTime).Str(p.pszTo);
    b.Str(p.pszText3).Str(p.pszText4).Str(p.pszSubject).U32(p.dwFolder).U16(p.wStatus);
    b.U32(p.dwOid).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3);
    own(b, 2);
    if (!ems) b.Patch(0);
  } else {  // where pszText1 starts, where the store's fields end (not in EMS), ...
    b.U32(0);
    if (!ems) b.U32(0);
    b.U32(p.dwOid).U32(p.bRead).U16(p.wStatus).Time(p.ftIndexTime).U32(p.dwFolder);
    own(b, 0);
    b.Str(p.pszSubject).Str(p.pszText2).Patch(0);
    b.Str(p.pszText1).Str(p.pszTo).Str(p.pszText3).Str(p.pszText4).Time(p.ftTime);
    b.U32(p.dwUser1).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3);
    own(b, 1);
    if (!ems) b.Patch(4);
  }
  return content ? b.U32(p.cbData).Raw(Bytes(p.pData, p.pData + p.cbData)).b : b.U32(0).b;
}

class MessageFile : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    for (const msgstore_fuzz::Store& store : msgstore_fuzz::kStores)
      ASSERT_EQ(store.createDir(false), 1);
    Use(kEms);
  }
  ~MessageFile() override { Release(); }
  // Turns to kind's store: the message file of its harnesses as path_,
  // message 1 of the next folder as scratch_.
  void Use(Kind kind) {
    Release();
    kind_ = kind;
    folder_ = msgstore_fuzz::kStores[kind].msgFolder;
    const auto path = msgstore_fuzz::kStores[kind].ops.getFilePath;
    ASSERT_TRUE(path(false, 1, folder_, path_) && path(false, 1, folder_ + 1, scratch_));
  }
  int Write(bool old, WCHAR* path, Sample& s) { return WriteFile(kind_, old, path, &s.p, &s.x); }
  // Reads into the record (read_, x_), which the readers release first.
  int Read(bool old, bool content, WCHAR* path = nullptr) {
    return msgstore_fuzz::ReadFile(kind_, old, path ? path : path_, &read_, &x_, content);
  }
  int Quick() {  // the quick read of path_ into a released record
    Release();
    return msgstore_fuzz::kStores[kind_].ops.quickRead(false, folder_, 1, &read_);
  }
  void Release() {
    msgstore_fuzz::Release(kind_, &read_, &x_);
    read_ = {}, x_ = {};
  }
  Bytes Load(const WCHAR* path) const { return msgstore_test::Load(Host(path)); }

  enum { kFull, kQuick, kFullNoContent, kOld, kOldNoContent };
  // The result of every message reader on bytes stored as path_.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    msgstore_test::Store(bytes, Host(path_));
    std::array<int, 5> r{};
    for (int i = kFull; i <= kOldNoContent; ++i) {
      const bool content = i == kFull || i == kOld;
      r[i] = i == kQuick ? Quick() : Read(i >= kOld, content);
      EXPECT_TRUE(r[i] == 0 || r[i] == 1) << i;
      EXPECT_TRUE(!r[i] || i == kQuick ||
                  (content ? read_.pData[read_.cbData] == 0 : read_.pData == nullptr));
    }
    return r;
  }

  Kind kind_ = kEms;
  DWORD folder_ = 0;
  WCHAR path_[MAX_PATH] = {}, scratch_[MAX_PATH] = {};
  tagMSGPROPS read_{};
  msgstore_fuzz::Extra x_;
};

TEST_F(MessageFile, BothLayoutsAreExactReplaceTheFileAndRoundTrip) {
  Sample s;
  for (Kind kind : {kEms, kMms, kEmail}) {
    Use(kind);
    std::u16string wide = path_;  // named by a character whose low byte is '1'
    wide[wide.rfind(u'\\') + 1] = u'\u0131';
    for (bool old : {false, true}) {
      msgstore_test::Store(Bytes(500, 0xAA), Host(path_));  // replaced, no temporary left
      ASSERT_EQ(Write(old, wide.data(), s), 1);
      EXPECT_EQ(Load(path_), Expected(kind, s, old)) << kind << old;
      EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(Host(path_)).parent_path()), {}), 1);
      for (bool content : {true, false}) {
        SCOPED_TRACE(testing::Message() << kind << ", old " << old << ", content " << content);
        ASSERT_EQ(Read(old, content), 1);
        EXPECT_TRUE(content ? read_.cbData == 5 && read_.pData[5] == 0 : read_.pData == nullptr);
        ASSERT_EQ(WriteFile(kind_, old, scratch_, &read_, &x_), 1);
        EXPECT_EQ(Load(scratch_), Expected(kind, s, old, content));
      }
    }
    EXPECT_EQ(std::u16string(read_.pszText2), u"t2");  // the old reader left it as it was
  }
}

// The quick read of MMS puts the quick values in wUser2 and wUser1 and reads
// strings but not the message ID; that of e-mail puts its quick value in
// wUser2 and reads no pszTo.
TEST_F(MessageFile, TheQuickReadFillsTheListFieldsOfEachStore) {
  Sample s;
  Use(kMms);
  ASSERT_EQ(Write(false, path_, s), 1);
  ASSERT_EQ(Quick(), 1);
  EXPECT_EQ(std::make_tuple(read_.dwOid, read_.wStatus, read_.dwFolder, read_.wUser2, read_.wUser1,
                            std::u16string(read_.pszTo) + read_.pszText4, read_.pszMsgID),
            std::make_tuple(s.p.dwOid, s.p.wStatus, s.p.dwFolder, s.x.mms.wMmsQuick1,
                            s.x.mms.wMmsQuick2, u"+4912345\u00e9\u4e2d", nullptr));
  Use(kEmail);
  ASSERT_EQ(Write(false, path_, s), 1);
  ASSERT_EQ(Quick(), 1);
  EXPECT_EQ(std::make_tuple(read_.dwOid, read_.wStatus, read_.ftIndexTime.dwHighDateTime,
                            read_.wUser2, read_.pszTo),
            std::make_tuple(0x80000001u, WORD{0xBEEF}, 0x01D2E3F4u, WORD{0xA55A}, nullptr));
  EXPECT_EQ(std::u16string(read_.pszSubject) + read_.pszText2, u"Hit2");
}

// Every prefix of each store's files: the full read needs the whole file, the
// read without content the fields and the smallest file read, the quick read
// of the current layout the listing fields (EMS: all but the last three
// words; e-mail: as far as the length stored first says; MMS: the strings
// after it too). A huge content length fails the full read only.
TEST_F(MessageFile, EveryPrefixAndHugeContentLengthsFailCleanly) {
  Sample s;
  for (Kind kind : {kEms, kMms, kEmail}) {
    Use(kind);
    const size_t* smallest = msgstore_fuzz::kStores[kind].smallest;
    for (bool old : {false, true}) {
      ASSERT_EQ(Write(old, path_, s), 1);
      const Bytes file = Load(path_);
      const size_t size = file.size(), fields = size - 4 - 5;  // the content's length, 5 bytes
      size_t quick = kind == kEms ? fields - 8 : msgstore_test::LoadU32(file, 0);
      if (kind == kMms)
        quick +=
            Builder().Str(s.p.pszText1).Str(s.p.pszTo).Str(s.p.pszText3).Str(s.p.pszText4).b.size();
      for (size_t len = 0; len <= size; ++len) {
        SCOPED_TRACE(testing::Message() << kind << ", old " << old << ", cut at " << len);
        const std::array<int, 5> r = ReadAll(Bytes(file.begin(), file.begin() + len));
        EXPECT_EQ(r[old ? kOld : kFull], len == size ? 1 : 0);
        EXPECT_EQ(r[old ? kOldNoContent : kFullNoContent], len >= fields && len >= smallest[old]);
        EXPECT_TRUE(old || r[kQuick] == (len >= quick && len >= smallest[2])) << r[kQuick];
      }
      for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFFBu, 0x80000000u}) {
        SCOPED_TRACE(testing::Message() << kind << ", old " << old << ", length " << huge);
        const std::array<int, 5> r = ReadAll(Builder{file}.Patch(fields, huge).b);
        EXPECT_EQ(r[old ? kOld : kFull], 0);
        EXPECT_EQ(r[old ? kOldNoContent : kFullNoContent], 1);
      }
    }
  }
}

// A quick read of a phone file that has vanished takes its record, and only
// the record of the folder read, out of the index; a card file, one that
// cannot be opened or an unreadable one leaves the index alone.
TEST_F(MessageFile, EmsQuickReadRepairsTheIndexOfAVanishedPhoneFile) {
  const std::string index = Host("DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni");
  Sample s;
  ASSERT_EQ(Write(false, path_, s), 1);
  EMSMsgStore_AddMsgToIni(1, 1, {100, 0});
  EMSMsgStore_AddMsgToIni(2, 1, {200, 0});
  const Bytes before = msgstore_test::Load(index);
  EXPECT_EQ(EMSMsgStore_QuickReadFromFile(true, 1, 1, &read_), 0);
  {
    msgstore_test::FaultInjector fault;  // a file that cannot be opened has not gone
    fault.Arm(1, EIO);
    EXPECT_EQ(Quick(), 0);
  }
  msgstore_test::Store(Bytes(10, 0), Host(path_));
  EXPECT_EQ(Quick(), 0);
  EXPECT_EQ(msgstore_test::Load(index), before);
  fs::remove(Host(path_));
  EMSMsgStore_AddMsgToIni(1, 7, {400, 0});
  EXPECT_EQ(Quick(), 0);
  EXPECT_EQ(msgstore_test::Load(index),
            Builder().U32(7).U32(1).U32(400).U32(0).U32(1).U32(2).U32(200).U32(0).b);
}

TEST_F(MessageFile, EachOperationWaitsForItsOwnMutex) {
  using namespace std::chrono_literals;
  Sample s;
  WCHAR oldPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\2.sms";
  WCHAR mmsPath[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\1.mms";
  ASSERT_EQ(Write(false, path_, s), 1);
  const std::tuple<const WCHAR*, bool, std::function<int()>> cases[] = {
      {u"MUTEX_READWRITETILE", true, [&] { return Write(false, path_, s); }},
      {u"MUTEX_READWRITETILE", true, [&] { return Read(false, true); }},
      {u"MUTEX_READWRITETILE", false, [&] { return Quick(); }},
      {u"MUTEX_READWRITETILE", false,
       [&] { return Write(true, oldPath, s) == 1 && Read(true, true, oldPath) == 1; }},
      {u"MUTEX_MMS_READWRITETILE", true,
       [&] { return MMSMsgStore_WriteToFile(mmsPath, &s.p, &s.x.mms); }},
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

}  // namespace
