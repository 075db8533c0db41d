// Stream helpers and the field reader: result codes, names, flushing, bounds.
// The bytes the field writer makes are checked by every store's format tests.
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
  EXPECT_EQ(Read("tX"), Bytes({0xA1, 0xA2, 0xA3, 0xA1, 0xA2}));
  for (int mode : {6, -1}) EXPECT_EQ(Open(u"tX", mode), nullptr);
  EXPECT_TRUE(MsgFile_Open(nullptr, 2) == nullptr && MsgFile_Open(u"", 2) == nullptr);
  EXPECT_EQ(Open(u"absent", 0), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Host("SD Card/absent")));
}

TEST_F(CommonMsgFile, WriteSeekAndCloseResults) {
  FILE* other = Open(u"o", 2);
  FILE* f = Open(u"w", 2);
  ASSERT_TRUE(other != nullptr && f != nullptr);
  ASSERT_EQ(std::fwrite("xyz", 1, 3, f) + std::fwrite("o", 1, 1, other), 4u);
  const uint8_t one = 7;
  EXPECT_EQ(MsgFile_Write(&one, 0, 1, f), MSGFILE_WRITE_FAILED);  // no whole item: no flush
  EXPECT_EQ(MsgFile_Write(nullptr, 1, 1, f), MSGFILE_WRITE_FAILED);
  EXPECT_EQ(MsgFile_Write(&one, 1, 1, nullptr), MSGFILE_WRITE_FAILED);
  EXPECT_TRUE(Read("w").empty() && Read("o").empty());
  EXPECT_EQ(MsgFile_Write(&one, 1, 0, f), 0u);  // flushes every stream
  EXPECT_EQ(Read("w"), Bytes({'x', 'y', 'z'}));
  EXPECT_EQ(Read("o"), Bytes({'o'}));
  // Offset, origin, result, position after.
  const std::tuple<int32_t, DWORD, int32_t, long> seeks[] = {
      {1, 0, 0, 1}, {1, 3, MSGFILE_E_BADHANDLE, 1}, {1, 1, 0, 2}, {-1, 2, 0, 2},
      {0, 2, 0, 3}, {-10, 0, MSGFILE_E_SEEK, 3}};
  for (const auto& [offset, origin, result, at] : seeks) {
    EXPECT_EQ(MsgFile_Seek(f, offset, origin), result) << offset << " from " << origin;
    EXPECT_EQ(std::ftell(f), at) << offset << " from " << origin;
  }
  EXPECT_EQ(MsgFile_Seek(nullptr, 0, 0), MSGFILE_E_BADHANDLE);
  EXPECT_EQ(MsgFile_Close(f) + MsgFile_Close(other), 0);
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

}  // namespace
