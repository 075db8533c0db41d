// Stream helpers and the field codec: result codes, names, flushing, bounds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "common/field_codec.h"
#include "common/msg_file.h"
#include "common/msg_str.h"
#include "test_support.h"

namespace {

using namespace msgstore;  // NOLINT(build/namespaces)
using Bytes = std::vector<uint8_t>;

class CommonMsgFile : public msgstore_test::DeviceTest {
 protected:
  FILE* Open(const std::u16string& name, int mode) {
    return MsgFile_Open((u"\\SD Card\\" + name).c_str(), mode);
  }
  Bytes Read(const std::string& name) const {
    std::ifstream in(Host("SD Card/" + name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(CommonMsgFile, OpenNamesAndModes) {
  const uint8_t a[] = {0xA1, 0xA2, 0xA3};
  FILE* f = Open(u"t\u0158", 2);  // U+0158 has the low byte 0x58, 'X'
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(MsgFile_Write(a, 1, 3, f), 3u);
  EXPECT_EQ(MsgFile_Close(f), 0);
  ASSERT_NE(f = Open(u"tX", 4), nullptr);
  EXPECT_EQ(MsgFile_Write(a, 2, 1, f), 1u);
  EXPECT_EQ(MsgFile_Close(f), 0);
  EXPECT_EQ(MsgFile_Open(nullptr, 2), nullptr);
  EXPECT_EQ(MsgFile_Open(u"", 2), nullptr);
  EXPECT_EQ(Open(u"tX", 6), nullptr);
  EXPECT_EQ(Open(u"tX", -1), nullptr);
  EXPECT_EQ(Open(u"absent", 0), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Host("SD Card/absent")));
  EXPECT_EQ(Read("tX"), Bytes({0xA1, 0xA2, 0xA3, 0xA1, 0xA2}));
}

TEST_F(CommonMsgFile, WriteSeekAndCloseResults) {
  FILE* other = Open(u"o", 2);
  FILE* f = Open(u"w", 2);
  ASSERT_TRUE(other != nullptr && f != nullptr);
  ASSERT_EQ(std::fwrite("xyz", 1, 3, f) + std::fwrite("o", 1, 1, other), 4u);
  const uint8_t one = 7;
  EXPECT_EQ(MsgFile_Write(&one, 0, 1, f), MSGFILE_WRITE_FAILED);
  EXPECT_EQ(MsgFile_Write(nullptr, 1, 1, f), MSGFILE_WRITE_FAILED);
  EXPECT_EQ(MsgFile_Write(&one, 1, 1, nullptr), MSGFILE_WRITE_FAILED);
  EXPECT_TRUE(Read("w").empty() && Read("o").empty());
  EXPECT_EQ(MsgFile_Write(&one, 1, 0, f), 0u);
  EXPECT_EQ(Read("w"), Bytes({'x', 'y', 'z'}));
  EXPECT_EQ(Read("o"), Bytes({'o'}));

  auto seek = [f](int32_t offset, DWORD origin) {
    const int32_t result = MsgFile_Seek(f, offset, origin);
    return std::make_pair(result, std::ftell(f));
  };
  EXPECT_EQ(seek(1, 0), std::make_pair(0, 1L));
  EXPECT_EQ(seek(1, 3), std::make_pair(MSGFILE_E_BADHANDLE, 1L));
  EXPECT_EQ(seek(1, 1), std::make_pair(0, 2L));
  EXPECT_EQ(seek(-1, 2), std::make_pair(0, 2L));
  EXPECT_EQ(seek(0, 2), std::make_pair(0, 3L));
  EXPECT_EQ(seek(-10, 0), std::make_pair(MSGFILE_E_SEEK, 3L));
  EXPECT_EQ(MsgFile_Seek(nullptr, 0, 0), MSGFILE_E_BADHANDLE);
  EXPECT_EQ(MsgFile_Close(f), 0);
  EXPECT_EQ(MsgFile_Close(other), 0);
  EXPECT_EQ(MsgFile_Close(nullptr), MSGFILE_E_BADHANDLE);
}

TEST(CommonFieldReader, FieldPastTheEndFailsCleanlyAndStaysFailed) {
  // 't' FILETIME, 's' string, 'c' content.
  const std::pair<char, Bytes> cases[] = {{'t', {0, 0, 0, 0, 0, 0, 0}},
                                          {'s', {'A', 0, 'B', 0, 0}},
                                          {'s', {}},
                                          {'c', {4, 0, 0, 0, 1, 2, 3}},
                                          {'c', {0xFF, 0xFF, 0xFF, 0xFF}},
                                          {'c', {0xFD, 0xFF, 0xFF, 0xFF, 1, 2, 3}},
                                          {'c', {1, 0, 0}}};
  for (const auto& [kind, data] : cases) {
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

TEST_F(CommonMsgFile, FieldWriterBytesReadBackByTheFieldReader) {
  FILE* f = Open(u"f", 2);
  ASSERT_NE(f, nullptr);
  FieldWriter w(f);
  w.U16(0x1234);
  const long at = w.Placeholder();
  EXPECT_EQ(at, 2);
  w.U32(0xFFFFFFFE);
  w.FileTime(FILETIME{0x01020304, 0x05060708});
  w.String(u"A\u0141");
  w.String(nullptr);
  w.String(u"");
  w.U32(2);
  w.Bytes("\xC0\xC1", 2);
  w.U32(0);
  w.Bytes("", 0);
  w.PatchHere(at);
  w.U16(0x0102);  // lands after the patch point, not over the placeholder
  EXPECT_EQ(MsgFile_Close(f), 0);
  const Bytes data = Read("f");
  EXPECT_EQ(data,
            Bytes({0x34, 0x12, 0x26, 0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF,  // U16 patch U32
                   0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05,              // FILETIME
                   0x41, 0,    0x41, 0x01, 0,    0,    0,    0,    0,    0,     // strings
                   2,    0,    0,    0,    0xC0, 0xC1, 0,    0,    0,    0,     // contents
                   0x02, 0x01}));
  FieldReader r(data.data(), data.size());
  WORD w16 = 0;
  DWORD d = 0, cb = 0;
  int32_t i = 0;
  FILETIME ft{};
  WCHAR* text = MsgStr_Duplicate(u"old");  // freed by the read
  WCHAR* empty = MsgStr_Duplicate(u"old");
  BYTE* block = static_cast<BYTE*>(std::calloc(1, 1));  // freed by the read
  ASSERT_TRUE(r.U16(&w16) && r.U32(&d) && r.I32(&i) && r.FileTime(&ft) && r.String(&text) &&
              r.String(&empty) && r.Skip(2) && r.Content(&cb, &block));
  EXPECT_EQ(
      std::make_tuple(w16, d, i, ft.dwLowDateTime, ft.dwHighDateTime, std::u16string(text), empty),
      std::make_tuple(WORD{0x1234}, DWORD{38}, -2, 0x01020304u, 0x05060708u,
                      std::u16string(u"A\u0141"), nullptr));
  EXPECT_EQ(Bytes(block, block + cb + 1), Bytes({0xC0, 0xC1, 0}));
  ASSERT_TRUE(r.Content(&cb, &block));
  EXPECT_EQ(std::make_tuple(cb, block[0], r.pos(), r.remaining(), r.ok()),
            std::make_tuple(DWORD{0}, BYTE{0}, size_t{38}, size_t{2}, true));
  std::free(text);
  std::free(block);
}

}  // namespace
