// E-mail message files: exact bytes of both layouts with their patched
// lengths, full, header-only and quick reads, the file mutex, and every
// reader fed cut and corrupted files (AddressSanitizer checks the bounds).
#include <array>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <random>

#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Builder;
using msgstore_test::Bytes;
using msgstore_test::LoadU32;

const Bytes kContent = {0x00, 0x01, 0xFF, 0x7F, 0x80};

// Both records with a distinct value in every field, on static storage.
struct Sample {
  WCHAR text1[9] = u"text one", text2[3] = u"t2", to[9] = u"+4912345", text3[6] = u"three";
  WCHAR text4[3] = {0x00E9, 0x4E2D, 0}, subject[3] = u"Hi", msgId[5] = u"id-7";
  WCHAR emailText1[4] = u"et1", emailText2[6] = u"et-02";
  BYTE data[5] = {0x00, 0x01, 0xFF, 0x7F, 0x80};
  FILETIME indexTime = {0x89ABCDEF, 0x01D2E3F4}, time = {0x10203040, 0x50607080};
  tagMSGPROPS p{1,          0x11223344, text1, text2,  5,       data,      indexTime,
                time,       to,         text3, text4,  subject, 3,         0xBEEF,
                0x80000001, 0xCAFEBABE, msgId, 0x1234, 0xFEDC,  0xDEADBEEF};
  tagEMAILMSGPROPS e{0xA55A, 0x01020304, emailText1, emailText2, -7, 805306371, 0xF0E0D0C0};
};

// The file of (p, e) in the current (or the old) layout, built field by
// field, its lengths patched in where the fields end.
Bytes Expected(const tagMSGPROPS& p, const tagEMAILMSGPROPS& e, bool old, bool content = true) {
  Builder b;
  if (old) {
    b.U32(0).U32(p.bRead).U32(p.dwUser1).Str(p.pszText1).Time(p.ftIndexTime).Time(p.ftTime);
    b.Str(p.pszTo).Str(p.pszText3).Str(p.pszText4).Str(p.pszSubject).U32(p.dwFolder);
    b.U16(p.wStatus).U32(p.dwOid).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2);
    b.U32(p.dwUser3).U16(e.wQuickValue).U32(e.dwEmailData1).Str(e.pszEmailText1);
    b.Str(e.pszEmailText2).U32(e.dwReadReportStatus).U32(e.dwAccountId).U32(e.dwEmailData2);
    b.Patch(0, b.size());
  } else {
    b.U32(0).U32(0).U32(p.dwOid).U32(p.bRead).U16(p.wStatus).Time(p.ftIndexTime);
    b.U32(p.dwFolder).U16(e.wQuickValue).Str(p.pszSubject).Str(p.pszText2);
    b.Patch(0, b.size());
    b.Str(p.pszText1).Str(p.pszTo).Str(p.pszText3).Str(p.pszText4).Time(p.ftTime);
    b.U32(p.dwUser1).U32(p.dwUser2).Str(p.pszMsgID).U16(p.wUser1).U16(p.wUser2).U32(p.dwUser3);
    b.U32(e.dwEmailData1).Str(e.pszEmailText1).Str(e.pszEmailText2).U32(e.dwReadReportStatus);
    b.U32(e.dwAccountId).U32(e.dwEmailData2);
    b.Patch(4, b.size());
  }
  if (!content) return b.U32(0).b;
  b.U32(p.cbData);
  for (DWORD i = 0; i < p.cbData; ++i) b.b.push_back(p.pData[i]);
  return b.b;
}

int WriteAs(WCHAR* path, tagMSGPROPS* p, tagEMAILMSGPROPS* e, bool old) {
  return old ? EmailMsgStore_WriteToFileOld(path, p, e) : EmailMsgStore_WriteToFile(path, p, e);
}
int ReadAs(WCHAR* path, tagMSGPROPS* p, tagEMAILMSGPROPS* e, bool old, bool content) {
  return old ? EmailMsgStore_ReadFromFileOld(path, p, e, content)
             : EmailMsgStore_ReadFromFile(path, p, e, content);
}

struct Base {
  Bytes bytes;
  DWORD cbData;
  bool old;
};

class EmailFile : public msgstore_test::EmailTest {
 protected:
  void TearDown() override {
    EmailMsgStore_FreeMsgProps(&read_, &readEmail_);
    EmailTest::TearDown();
  }
  std::string FileName() const { return File(false, kDraft, 1); }
  Bytes LoadFile() const { return Load(FileName()); }
  void StoreFile(const Bytes& bytes) const { Store(bytes, FileName()); }
  // The bytes that the current (or the old) writer makes of (p, e).
  Bytes Rewrite(tagMSGPROPS* p, tagEMAILMSGPROPS* e, bool old = false) {
    WCHAR scratch[] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\NONE\\0.email";
    EXPECT_EQ(WriteAs(scratch, p, e, old), 1);
    return Load(Dir(false, kNone) + "/0.email");
  }
  // An empty and a full record in both layouts, as the writers make them.
  std::vector<Base> Bases() {
    Sample s;
    tagMSGPROPS empty{};
    tagEMAILMSGPROPS emptyEmail{};
    std::vector<Base> bases;
    for (bool old : {false, true}) {
      bases.push_back({Rewrite(&empty, &emptyEmail, old), 0, old});
      bases.push_back({Rewrite(&s.p, &s.e, old), s.p.cbData, old});
    }
    return bases;
  }

  enum { kFull, kHeader, kQuick, kOld, kOldHeader };
  // The result of every message reader on one file, in the order above, each
  // on zero-filled records.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    StoreFile(bytes);
    tagMSGPROPS p{};
    tagEMAILMSGPROPS e{};
    std::array<int, 5> r{};
    for (int i = kFull; i <= kOldHeader; ++i) {
      const bool content = i == kFull || i == kOld;
      EmailMsgStore_FreeMsgProps(&p, &e);
      p = {};
      e = {};
      r[i] = i == kQuick ? EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &p)
                         : ReadAs(path_, &p, &e, i >= kOld, content);
      EXPECT_TRUE(r[i] == 0 || r[i] == 1) << i;
      if (r[i] && i != kQuick) {
        EXPECT_EQ(content ? p.pData[p.cbData] : 0, 0) << i;
        EXPECT_TRUE(content || (p.pData == nullptr && p.cbData == 0)) << i;
      }
    }
    EmailMsgStore_FreeMsgProps(&p, &e);
    return r;
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\1.email";
  tagMSGPROPS read_{};
  tagEMAILMSGPROPS readEmail_{};
};

TEST_F(EmailFile, BothLayoutsAreExactAndReplaceTheFile) {
  tagMSGPROPS p{};
  tagEMAILMSGPROPS e{};
  StoreFile(Bytes(500, 0xAA));
  ASSERT_EQ(EmailMsgStore_WriteToFile(path_, &p, &e), 1);
  EXPECT_EQ(LoadFile(), Builder().U32(36).U32(90).Raw(Bytes(86, 0)).b);
  StoreFile(Bytes(500, 0xAA));
  ASSERT_EQ(EmailMsgStore_WriteToFileOld(path_, &p, &e), 1);
  EXPECT_EQ(LoadFile(), Builder().U32(84).Raw(Bytes(84, 0)).b);
  WCHAR abc[] = u"abc";
  p.pszSubject = abc;
  e.pszEmailText2 = abc;
  ASSERT_EQ(EmailMsgStore_WriteToFile(path_, &p, &e), 1);
  EXPECT_EQ(LoadFile(), Builder()
                            .U32(42)
                            .U32(102)
                            .Raw(Bytes(24, 0))
                            .Str(abc)
                            .Raw(Bytes(42, 0))
                            .Str(abc)
                            .Raw(Bytes(16, 0))
                            .b);
  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(WriteAs(path_, &s.p, &s.e, old), 1);
    EXPECT_EQ(LoadFile(), Expected(s.p, s.e, old)) << old;
  }
  // A path that cannot be opened writes nothing.
  WCHAR missing[] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\GONE\\1.email";
  for (bool old : {false, true}) EXPECT_EQ(WriteAs(missing, &s.p, &s.e, old), 0);
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/User/MESSAGING/Email/GONE")));
}

TEST_F(EmailFile, FullAndHeaderReadsRoundTripInBothLayouts) {
  Sample s;
  for (bool old : {false, true}) {
    ASSERT_EQ(WriteAs(path_, &s.p, &s.e, old), 1);
    for (bool content : {true, false}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", content " << content);
      EmailMsgStore_FreeMsgProps(&read_, &readEmail_);
      read_ = {};
      readEmail_ = {};
      ASSERT_EQ(ReadAs(path_, &read_, &readEmail_, old, content), 1);
      EXPECT_EQ(read_.pData == nullptr, !content);
      EXPECT_TRUE(!content || (read_.cbData == 5 && read_.pData[5] == 0));
      EXPECT_EQ(read_.wUser2, 0xFEDC);  // the full reads keep wUser2 and wQuickValue apart
      EXPECT_EQ(readEmail_.wQuickValue, 0xA55A);
      tagMSGPROPS expected = s.p;
      if (old) expected.pszText2 = nullptr;  // not in the old layout
      EXPECT_EQ(Rewrite(&read_, &readEmail_, old), Expected(expected, s.e, old, content));
      EXPECT_EQ(Rewrite(&read_, &readEmail_, !old), Expected(expected, s.e, !old, content));
    }
  }
  // Empty and null strings both read back as null.
  tagMSGPROPS p{};
  tagEMAILMSGPROPS e{};
  WCHAR empty[] = u"";
  p.pszSubject = empty;
  e.pszEmailText1 = empty;
  for (bool old : {false, true}) {
    ASSERT_EQ(WriteAs(path_, &p, &e, old), 1);
    EmailMsgStore_FreeMsgProps(&read_, &readEmail_);
    ASSERT_EQ(ReadAs(path_, &read_, &readEmail_, old, true), 1);
    EXPECT_EQ(read_.pszSubject, nullptr);
    EXPECT_EQ(read_.pszTo, nullptr);
    EXPECT_EQ(readEmail_.pszEmailText1, nullptr);
    EXPECT_EQ(read_.cbData, 0u);
    ASSERT_NE(read_.pData, nullptr);
    EXPECT_EQ(read_.pData[0], 0);
  }
  // Releasing keeps the scalars; twice, or a null record, is harmless.
  ASSERT_EQ(WriteAs(path_, &s.p, &s.e, false), 1);
  EmailMsgStore_FreeMsgProps(&read_, &readEmail_);
  ASSERT_EQ(ReadAs(path_, &read_, &readEmail_, false, true), 1);
  EmailMsgStore_FreeMsgProps(&read_, &readEmail_);
  EmailMsgStore_FreeMsgProps(&read_, &readEmail_);
  EmailMsgStore_FreeMsgProps(nullptr, nullptr);
  EXPECT_TRUE(read_.pData == nullptr && read_.pszSubject == nullptr && read_.pszText2 == nullptr &&
              readEmail_.pszEmailText1 == nullptr && readEmail_.pszEmailText2 == nullptr);
  EXPECT_EQ(read_.cbData, 5u);
  EXPECT_EQ(readEmail_.dwAccountId, 805306371u);
}

TEST_F(EmailFile, QuickReadFillsTheQuickPartOnlyAndReportsTheQuickValue) {
  Sample s;
  ASSERT_EQ(EmailMsgStore_WriteToFile(path_, &s.p, &s.e), 1);
  tagMSGPROPS& q = read_;
  q.pszText1 = static_cast<WCHAR*>(calloc(2, 2));
  q.pszText1[0] = u'x';
  q.pszText2 = static_cast<WCHAR*>(calloc(2, 2));  // released and replaced
  q.pData = static_cast<BYTE*>(calloc(3, 1));
  WCHAR* const text1 = q.pszText1;
  BYTE* const data = q.pData;
  q.cbData = 2, q.dwUser1 = 11, q.ftTime = {12, 13}, q.dwUser2 = 14, q.wUser1 = 15, q.dwUser3 = 16;
  ASSERT_EQ(EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &q), 1);
  EXPECT_EQ(q.dwOid, 0x80000001u);
  EXPECT_EQ(q.bRead, 1);
  EXPECT_EQ(q.wStatus, 0xBEEF);
  EXPECT_EQ(q.ftIndexTime.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_EQ(q.ftIndexTime.dwHighDateTime, 0x01D2E3F4u);
  EXPECT_EQ(q.dwFolder, 3u);
  EXPECT_EQ(q.wUser2, 0xA55A);
  EXPECT_EQ(std::u16string(q.pszSubject), u"Hi");
  EXPECT_EQ(std::u16string(q.pszText2), u"t2");
  EXPECT_EQ(q.pszText1, text1);
  EXPECT_EQ(q.pData, data);
  EXPECT_EQ(q.cbData, 2u);
  EXPECT_TRUE(q.pszTo == nullptr && q.pszText3 == nullptr && q.pszText4 == nullptr &&
              q.pszMsgID == nullptr);
  EXPECT_EQ(std::make_tuple(q.dwUser1, q.ftTime.dwLowDateTime, q.ftTime.dwHighDateTime, q.dwUser2,
                            q.wUser1, q.dwUser3),
            std::make_tuple(11u, 12u, 13u, 14u, WORD{15}, 16u));

  // It reads no further than the quick length: a file cut after the quick
  // part and its 4 following bytes still reads; the full readers fail.
  const Bytes whole = LoadFile();
  const uint32_t quickLength = LoadU32(whole, 0);
  ASSERT_EQ(quickLength, 32u + 6 + 6);
  StoreFile(Bytes(whole.begin(), whole.begin() + quickLength + 4));
  EmailMsgStore_FreeMsgProps(&q, nullptr);
  EXPECT_EQ(EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &q), 1);
  EXPECT_EQ(std::u16string(q.pszText2), u"t2");
  EXPECT_EQ(EmailMsgStore_ReadFromFile(path_, &read_, &readEmail_, false), 0);
  EXPECT_EQ(EmailMsgStore_ReadFromFile(path_, &read_, &readEmail_, true), 0);
}

TEST_F(EmailFile, EmptyAndMissingFilesFailEveryReader) {
  StoreFile({});
  EXPECT_EQ(ReadAll({}), (std::array<int, 5>{}));
  fs::remove(FileName());
  tagMSGPROPS p{};
  tagEMAILMSGPROPS e{};
  for (bool old : {false, true})
    for (bool content : {false, true}) EXPECT_EQ(ReadAs(path_, &p, &e, old, content), 0);
  EXPECT_EQ(EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &p), 0);
  EXPECT_EQ(EmailMsgStore_QuickReadFromFile(true, kDraft, 1, &p), 0);
}

// Only the current writer and the full and header reads wait for
// "MUTEX_EMAIL_READWRITETILE".
TEST_F(EmailFile, OnlyTheCurrentPairTakesTheFileMutex) {
  using namespace std::chrono_literals;
  Sample s;
  ASSERT_EQ(EmailMsgStore_WriteToFile(path_, &s.p, &s.e), 1);
  HANDLE mutex = CreateMutexW(nullptr, 0, u"MUTEX_EMAIL_READWRITETILE");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  WCHAR oldPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\2.email";
  WCHAR newPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\3.email";
  tagMSGPROPS a{}, b{}, c{}, d{};
  tagEMAILMSGPROPS be{}, ce{}, de{};
  auto run = [](std::function<int()> f) { return std::async(std::launch::async, f); };
  auto unlocked = run([&] {
    return EmailMsgStore_QuickReadFromFile(false, kDraft, 1, &a) +
           WriteAs(oldPath, &s.p, &s.e, true) + ReadAs(oldPath, &d, &de, true, true);
  });
  auto write = run([&] { return EmailMsgStore_WriteToFile(newPath, &s.p, &s.e); });
  auto read = run([&] { return EmailMsgStore_ReadFromFile(path_, &b, &be, true); });
  auto header = run([&] { return EmailMsgStore_ReadFromFile(path_, &c, &ce, false); });
  EXPECT_EQ(unlocked.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(write.wait_for(200ms), std::future_status::timeout);
  EXPECT_EQ(read.wait_for(0ms), std::future_status::timeout);
  EXPECT_EQ(header.wait_for(0ms), std::future_status::timeout);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  EXPECT_EQ(unlocked.get() * 100 + write.get() * 10 + read.get() + header.get(), 312);
  EmailMsgStore_FreeMsgProps(&a, nullptr);
  EmailMsgStore_FreeMsgProps(&d, &de);
  EmailMsgStore_FreeMsgProps(&b, &be);
  EmailMsgStore_FreeMsgProps(&c, &ce);
}

using EmailRobustness = EmailFile;

TEST_F(EmailRobustness, EveryTruncationOfValidFiles) {
  for (const Base& b : Bases()) {
    const size_t size = b.bytes.size();
    const size_t header = LoadU32(b.bytes, b.old ? 0 : 4);
    ASSERT_EQ(header + 4 + b.cbData, size);
    const size_t quick = b.old ? 0 : LoadU32(b.bytes, 0);
    for (size_t len = 0; len <= size; ++len) {
      SCOPED_TRACE(testing::Message() << "old " << b.old << ", " << size << " cut at " << len);
      const std::array<int, 5> r = ReadAll(Bytes(b.bytes.begin(), b.bytes.begin() + len));
      EXPECT_EQ(r[b.old ? kOld : kFull], len == size ? 1 : 0);
      EXPECT_EQ(r[b.old ? kOldHeader : kHeader], len >= header ? 1 : 0);
      // The quick part ends at the quick length; the read asks for 4 more.
      if (!b.old && (len < quick || len >= quick + 4)) {
        EXPECT_EQ(r[kQuick], len >= quick ? 1 : 0);
      }
    }
  }
}

// Lengths and strings that point past the end of the file, and sizes whose
// buffer size (+1) wraps around.
TEST_F(EmailRobustness, HugeAndWrongLengths) {
  const std::vector<Base> bases = Bases();
  const uint32_t huge[] = {0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, 0x7FFFFFFFu, 0x10000u};
  for (const Base& b : bases) {
    SCOPED_TRACE(testing::Message() << "old " << b.old << ", cbData " << b.cbData);
    const size_t size = b.bytes.size();
    const size_t header = LoadU32(b.bytes, b.old ? 0 : 4);
    const std::array<int, 5> ok = ReadAll(b.bytes);
    EXPECT_EQ(ok[b.old ? kOld : kFull] + ok[b.old ? kOldHeader : kHeader], 2);
    for (uint32_t v : huge) {
      SCOPED_TRACE(v);
      Bytes f = b.bytes;
      // cbData past the end: the full read fails, the header read does not
      // look at it.
      for (int i = 0; i < 4; ++i) f[header + i] = static_cast<uint8_t>(v >> (8 * i));
      std::array<int, 5> r = ReadAll(f);
      EXPECT_EQ(r[b.old ? kOld : kFull], 0);
      EXPECT_EQ(r[b.old ? kOldHeader : kHeader], 1);
      // A header length past the end leaves the full read alone: it parses
      // the fields in order and finds cbData where they end. (The header
      // read gets fewer bytes than asked for; all its fields are in them.)
      f = b.bytes;
      for (int i = 0; i < 4; ++i) f[(b.old ? 0 : 4) + i] = static_cast<uint8_t>(v >> (8 * i));
      r = ReadAll(f);
      EXPECT_EQ(r[b.old ? kOld : kFull], 1);
      if (b.old) continue;
      // Neither do the full and header reads look at the quick length.
      f = b.bytes;
      for (int i = 0; i < 4; ++i) f[i] = static_cast<uint8_t>(v >> (8 * i));
      r = ReadAll(f);
      EXPECT_EQ(r[kFull] + r[kHeader], 2);
    }
    // Lengths that end inside the fields they should cover.
    for (uint32_t v : {0u, 3u, 4u, 7u, 8u, static_cast<uint32_t>(header - 1)}) {
      SCOPED_TRACE(v);
      Bytes f = b.bytes;
      for (int i = 0; i < 4; ++i) f[(b.old ? 0 : 4) + i] = static_cast<uint8_t>(v >> (8 * i));
      EXPECT_EQ(ReadAll(f)[b.old ? kOldHeader : kHeader], 0);
      if (b.old || v > 30) continue;
      f = b.bytes;
      for (int i = 0; i < 4; ++i) f[i] = static_cast<uint8_t>(v >> (8 * i));
      EXPECT_EQ(ReadAll(f)[kQuick], 0);
    }
    // Strings without terminators from the middle of the file on.
    Bytes f = b.bytes;
    for (size_t i = (size / 2) & ~size_t{1}; i + 1 < size; i += 2)
      if (f[i] == 0 && f[i + 1] == 0) f[i] = 'A';
    const std::array<int, 5> r = ReadAll(f);
    EXPECT_EQ(r[b.old ? kOld : kFull], 0);
  }
}

TEST_F(EmailRobustness, SeededRandomCorruptions) {
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
      [&](Bytes& f, const Base& b) {  // one of the lengths or cbData
        const size_t at[] = {0, 4, b.bytes.size() - b.cbData - 4};
        put32(f, at[below(3)]);
      },
      [&](Bytes& f, const Base&) {  // remove string terminators from some point on
        for (size_t i = below(f.size()) & ~size_t{1}; i + 1 < f.size(); i += 2)
          if (f[i] == 0 && f[i + 1] == 0) f[i] = 'A';
      },
      [&](Bytes& f, const Base&) { f.resize(below(f.size() + 1)); },
      [&](Bytes& f, const Base&) {
        for (size_t n = below(9); n > 0; --n) f.push_back(static_cast<uint8_t>(rng()));
      }};
  int accepted = 0;
  for (int iteration = 0; iteration < 2000; ++iteration) {
    const Base& base = bases[below(bases.size())];
    Bytes f = base.bytes;
    for (int e = static_cast<int>(below(3)); e >= 0 && !f.empty(); --e) edits[below(6)](f, base);
    const std::array<int, 5> r = ReadAll(f);
    accepted += r[kFull] + r[kOld];
    if (HasFailure()) FAIL() << "iteration " << iteration;
  }
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 2 * 2000);
}

}  // namespace
