// MMS message files: exact bytes of both layouts, round trips, the quick read,
// and the readers fed cut files (the mutexes: ems_format_test.cpp).
#include "mms_fixtures.h"

namespace {

using msgstore_test::ByteBuilder;
using msgstore_test::Bytes;
using msgstore_test::Load;
using msgstore_test::Store;

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
  // Reads into read_ and readMms_, releasing what a read before left.
  int Read(bool old, bool body) {
    MMSMsgStore_FreeMsgProps(&read_, &readMms_);
    read_ = {}, readMms_ = {};
    return old ? MMSMsgStore_ReadFromFileOld(path_, &read_, &readMms_, body)
               : MMSMsgStore_ReadFromFile(path_, &read_, &readMms_, body);
  }
  // Reader i on bytes stored as path_: full, no body, quick, old full, old no body.
  std::array<int, 5> ReadAll(const Bytes& bytes) {
    Store(bytes, File(false, kInbox, 1));
    std::array<int, 5> r{};
    for (int i = 0; i < 5; ++i)
      r[i] = i == 2 ? MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &read_)
                    : Read(i > 2, i % 3 == 0);
    return r;
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\INBOX\\1.mms";
  tagMSGPROPS read_{};
  tagMMSMSGPROPS readMms_{};
};

TEST_F(MmsFile, BothLayoutsAreExactAndRoundTripAndTheQuickReadFillsTheListFieldsCrosswise) {
  Sample s;
  WCHAR scratch[] = u"\\DiskOnChip\\User\\MESSAGING\\MMS\\NONE\\0.mms";
  for (bool old : {true, false}) {  // the current layout last, for the quick read
    ASSERT_EQ(Write(&s.p, &s.m, old), 1);
    EXPECT_EQ(Bytes1(), Expected(s.p, s.m, old));
    for (bool body : {true, false}) {
      SCOPED_TRACE(testing::Message() << "old " << old << ", body " << body);
      ASSERT_EQ(Read(old, body), 1);
      EXPECT_TRUE(body ? read_.cbData == 5 && read_.pData[5] == 0 : read_.pData == nullptr);
      ASSERT_EQ(Write(&read_, &readMms_, old, scratch), 1);
      EXPECT_EQ(Load(File(false, kNone, 0)), Expected(s.p, s.m, old, body));
    }
  }
  // The quick read: wUser2 and wUser1 take the quick values; strings, not the
  // message ID.
  MMSMsgStore_FreeMsgProps(&read_, &readMms_);
  read_ = {};
  ASSERT_EQ(MMSMsgStore_QuickReadFromFile(false, kInbox, 1, &read_), 1);
  EXPECT_EQ(std::make_tuple(read_.dwOid, read_.wStatus, read_.dwFolder, read_.wUser2, read_.wUser1,
                            std::u16string(read_.pszTo) + read_.pszText4, read_.pszMsgID),
            std::make_tuple(s.p.dwOid, s.p.wStatus, s.p.dwFolder, s.m.wMmsQuick1, s.m.wMmsQuick2,
                            u"+4912345\u00e9\u4e2d", nullptr));
}

// Cut files: the read without body needs the header only, the quick read
// the listing fields; every reader fails on an empty file.
TEST_F(MmsFile, ReadersOfCutFiles) {
  Sample s;
  for (bool old : {false, true}) {
    SCOPED_TRACE(old);
    ASSERT_EQ(Write(&s.p, &s.m, old), 1);
    const Bytes whole = Bytes1();
    const size_t header = whole.size() - 9;
    const std::array<int, 5> cut = ReadAll(Bytes(whole.begin(), whole.begin() + header));
    const std::array<int, 3> own = {cut[old ? 3 : 0], cut[old ? 4 : 1], old || cut[2]};
    EXPECT_EQ(own, (std::array<int, 3>{0, 1, 1}));
    EXPECT_EQ(ReadAll(ByteBuilder{whole}.Patch(header, 0xFFFFFFFF).b)[old ? 3 : 0], 0);
  }
  EXPECT_EQ(ReadAll({}), (std::array<int, 5>{}));
}

}  // namespace
