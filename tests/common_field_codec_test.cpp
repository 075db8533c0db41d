// Field reader bounds and the exact bytes of the field writer.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/field_codec.h"
#include "common/msg_file.h"
#include "common/msg_str.h"
#include "test_support.h"

namespace {

using msgstore::FieldReader;
using msgstore::FieldWriter;
using Bytes = std::vector<uint8_t>;

TEST(CommonFieldReader, DecodesLittleEndianFields) {
  const Bytes data = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF,
                      1,    2,    3,    4,    5,    6,    7,    8,    0xAA};
  FieldReader r(data.data(), data.size());
  WORD w = 0;
  DWORD d = 0;
  int32_t i = 0;
  FILETIME ft{};
  ASSERT_TRUE(r.U16(&w));
  ASSERT_TRUE(r.U32(&d));
  ASSERT_TRUE(r.I32(&i));
  ASSERT_TRUE(r.FileTime(&ft));
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(d, 0x12345678u);
  EXPECT_EQ(i, -2);
  EXPECT_EQ(ft.dwLowDateTime, 0x04030201u);
  EXPECT_EQ(ft.dwHighDateTime, 0x08070605u);
  EXPECT_EQ(r.pos(), 18u);
  EXPECT_EQ(r.remaining(), 1u);
  EXPECT_TRUE(r.Skip(1));
  EXPECT_TRUE(r.ok());
}

TEST(CommonFieldReader, FieldPastTheEndFailsAndStaysFailed) {
  const Bytes data = {1, 2, 3};
  FieldReader r(data.data(), data.size());
  DWORD d = 0xDEADBEEF;
  EXPECT_FALSE(r.U32(&d));
  EXPECT_EQ(d, 0xDEADBEEFu);
  EXPECT_FALSE(r.ok());
  WORD w = 0xBEEF;
  EXPECT_FALSE(r.U16(&w));  // would fit, but the reader has failed
  EXPECT_EQ(w, 0xBEEF);
  EXPECT_FALSE(r.Skip(0));
  EXPECT_EQ(r.pos(), 0u);

  FieldReader s(data.data(), data.size());
  FILETIME ft{5, 6};
  EXPECT_FALSE(s.FileTime(&ft));
  EXPECT_EQ(ft.dwLowDateTime, 5u);
  EXPECT_FALSE(s.Skip(1));

  FieldReader empty(nullptr, 0);
  EXPECT_TRUE(empty.Skip(0));
  EXPECT_FALSE(empty.Skip(1));
}

TEST(CommonFieldReader, StringsUpToTheirTerminator) {
  const Bytes data = {'H', 0, 'i', 0, 0, 0, 0, 0, 0x41, 0x01, 0, 0};
  FieldReader r(data.data(), data.size());
  WCHAR* text = msgstore::MsgStr_Duplicate(u"old value");  // freed by the read
  ASSERT_TRUE(r.String(&text));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"Hi");
  EXPECT_EQ(r.pos(), 6u);
  ASSERT_TRUE(r.String(&text));  // empty string reads as null
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(r.pos(), 8u);
  ASSERT_TRUE(r.String(&text));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"\u0141");
  EXPECT_EQ(r.remaining(), 0u);
  std::free(text);
}

TEST(CommonFieldReader, UnterminatedStringFailsWithoutTouchingTheMember) {
  // No zero code unit; the lone zero byte at the end is not a whole unit.
  const Bytes data = {'A', 0, 'B', 0, 0};
  FieldReader r(data.data(), data.size());
  WCHAR* text = msgstore::MsgStr_Duplicate(u"keep");
  WCHAR* before = text;
  EXPECT_FALSE(r.String(&text));
  EXPECT_EQ(text, before);
  EXPECT_EQ(std::u16string(text), u"keep");
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.pos(), 0u);
  std::free(text);

  FieldReader atEnd(data.data(), 0);
  WCHAR* none = nullptr;
  EXPECT_FALSE(atEnd.String(&none));
  EXPECT_EQ(none, nullptr);
}

TEST(CommonFieldReader, ContentIsCopiedWithATrailingZero) {
  const Bytes data = {3, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0x55};
  FieldReader r(data.data(), data.size());
  DWORD cb = 0;
  BYTE* block = static_cast<BYTE*>(std::calloc(1, 1));  // freed by the read
  ASSERT_TRUE(r.Content(&cb, &block));
  EXPECT_EQ(cb, 3u);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(Bytes(block, block + 4), Bytes({0xA1, 0xA2, 0xA3, 0}));
  EXPECT_EQ(r.pos(), 7u);
  std::free(block);

  const Bytes zero = {0, 0, 0, 0};
  FieldReader z(zero.data(), zero.size());
  block = nullptr;
  cb = 9;
  ASSERT_TRUE(z.Content(&cb, &block));
  EXPECT_EQ(cb, 0u);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[0], 0);
  std::free(block);
}

TEST(CommonFieldReader, ContentLengthIsNotTrusted) {
  const Bytes cases[] = {
      {4, 0, 0, 0, 1, 2, 3},              // one byte short
      {0xFF, 0xFF, 0xFF, 0xFF, 1, 2},     // absurd length
      {0xFD, 0xFF, 0xFF, 0xFF, 1, 2, 3},  // length plus header wraps in 32 bits
      {1, 0, 0},                          // not even the length
  };
  for (const Bytes& data : cases) {
    FieldReader r(data.data(), data.size());
    DWORD cb = 77;
    BYTE* block = nullptr;
    EXPECT_FALSE(r.Content(&cb, &block));
    EXPECT_EQ(cb, 77u);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(r.pos(), 0u);
    EXPECT_FALSE(r.ok());
  }
}

class CommonFieldWriter : public msgstore_test::DeviceTest {
 protected:
  Bytes ReadBack(const std::string& rel) {
    std::ifstream in(Host(rel), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(CommonFieldWriter, WritesExactBytesAndPatchesThePlaceholder) {
  std::filesystem::create_directories(Host("DiskOnChip/W"));
  FILE* f = msgstore::MsgFile_Open(u"\\DiskOnChip\\W\\f.bin", 2);
  ASSERT_NE(f, nullptr);
  FieldWriter w(f);
  w.U16(0xBEEF);
  long at = w.Placeholder();
  EXPECT_EQ(at, 2);
  w.U32(0x11223344);
  w.FileTime(FILETIME{0x01020304, 0x05060708});
  w.String(u"A\u0141");
  w.String(nullptr);
  w.String(u"");
  const uint8_t raw[] = {0xC0, 0xC1};
  w.Bytes(raw, 0);
  w.Bytes(raw, 2);
  w.PatchHere(at);
  w.U16(0x0102);  // lands after the patch point, not over the placeholder
  EXPECT_EQ(msgstore::MsgFile_Close(f), 0);

  const Bytes expected = {
      0xEF, 0xBE,                                      // U16
      0x1E, 0,    0,    0,                             // placeholder -> 30
      0x44, 0x33, 0x22, 0x11,                          // U32
      0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05,  // FILETIME, low half first
      0x41, 0,    0x41, 0x01, 0,    0,                 // "A\u0141"
      0,    0,                                         // null string
      0,    0,                                         // empty string
      0xC0, 0xC1,                                      // bytes
      0x02, 0x01,                                      // after the patch
  };
  EXPECT_EQ(ReadBack("DiskOnChip/W/f.bin"), expected);
}

TEST(CommonFieldWriterNullStream, WritesNothingAndDoesNotCrash) {
  FieldWriter w(nullptr);
  w.U32(1);
  w.String(u"x");
  EXPECT_EQ(w.Placeholder(), -1);
  w.PatchHere(0);
}

}  // namespace
