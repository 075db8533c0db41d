// Stream helpers: result codes, narrow names, flushing and seeking.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/msg_file.h"
#include "test_support.h"

namespace {

using msgstore::MsgFile_Close;
using msgstore::MsgFile_NarrowPath;
using msgstore::MsgFile_Open;
using msgstore::MsgFile_Seek;
using msgstore::MsgFile_Write;

std::vector<uint8_t> HostBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(CommonNarrowPath, KeepsTheLowByteOfEachCodeUnit) {
  char* narrow = nullptr;
  ASSERT_EQ(MsgFile_NarrowPath(&narrow, u"\\Ab\u0141\u20AC9"), 0);
  ASSERT_NE(narrow, nullptr);
  EXPECT_EQ(std::string(narrow), std::string("\\AbA\xAC"
                                             "9"));
  std::free(narrow);
}

TEST(CommonNarrowPath, RejectsMissingAndEmptyPaths) {
  char* narrow = reinterpret_cast<char*>(1);
  EXPECT_EQ(MsgFile_NarrowPath(&narrow, nullptr), msgstore::MSGFILE_E_BADPATH);
  EXPECT_EQ(narrow, nullptr);
  narrow = reinterpret_cast<char*>(1);
  EXPECT_EQ(MsgFile_NarrowPath(&narrow, u""), msgstore::MSGFILE_E_BADPATH);
  EXPECT_EQ(narrow, nullptr);
  EXPECT_EQ(MsgFile_NarrowPath(nullptr, u"\\a"), msgstore::MSGFILE_E_BADPATH);
  EXPECT_EQ(MsgFile_NarrowPath(nullptr, nullptr), msgstore::MSGFILE_E_BADPATH);
}

class CommonMsgFile : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    std::filesystem::create_directories(Host("DiskOnChip/Files"));
  }
};

TEST_F(CommonMsgFile, OpenRejectsBadPathsAndModes) {
  EXPECT_EQ(MsgFile_Open(nullptr, 2), nullptr);
  EXPECT_EQ(MsgFile_Open(u"", 2), nullptr);
  EXPECT_EQ(MsgFile_Open(u"\\DiskOnChip\\Files\\m6", 6), nullptr);
  EXPECT_EQ(MsgFile_Open(u"\\DiskOnChip\\Files\\m-1", -1), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Host("DiskOnChip/Files/m6")));
  EXPECT_FALSE(std::filesystem::exists(Host("DiskOnChip/Files/m-1")));
  // Mode 0 needs an existing file.
  EXPECT_EQ(MsgFile_Open(u"\\DiskOnChip\\Files\\absent", 0), nullptr);
}

TEST_F(CommonMsgFile, WideCharacterOpensTheLowByteName) {
  // U+0158 has the low byte 0x58, 'X'.
  FILE* f = MsgFile_Open(u"\\DiskOnChip\\Files\\t\u0158.bin", 2);
  ASSERT_NE(f, nullptr);
  const uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(MsgFile_Write(data, 3, 1, f), 1u);
  EXPECT_EQ(MsgFile_Close(f), 0);
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/tX.bin")), std::vector<uint8_t>({1, 2, 3}));
}

TEST_F(CommonMsgFile, WriteModeReplacesAndAppendModeExtends) {
  const WCHAR* path = u"\\DiskOnChip\\Files\\r.bin";
  const uint8_t a[] = {0xAA, 0xAB, 0xAC, 0xAD};
  const uint8_t b[] = {0xBB};
  FILE* f = MsgFile_Open(path, 2);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(MsgFile_Write(a, 2, 2, f), 2u);
  MsgFile_Close(f);
  f = MsgFile_Open(path, 2);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(MsgFile_Write(b, 1, 1, f), 1u);
  MsgFile_Close(f);
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/r.bin")), std::vector<uint8_t>({0xBB}));
  f = MsgFile_Open(path, 4);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(MsgFile_Write(a, 4, 1, f), 1u);
  MsgFile_Close(f);
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/r.bin")),
            std::vector<uint8_t>({0xBB, 0xAA, 0xAB, 0xAC, 0xAD}));
}

TEST_F(CommonMsgFile, ZeroSizedItemFailsWithoutFlushAndZeroItemsFlush) {
  FILE* f = MsgFile_Open(u"\\DiskOnChip\\Files\\w.bin", 2);
  ASSERT_NE(f, nullptr);
  const std::string file = Host("DiskOnChip/Files/w.bin");
  // Buffered but not yet flushed.
  ASSERT_EQ(std::fwrite("xyz", 1, 3, f), 3u);
  EXPECT_EQ(HostBytes(file).size(), 0u);

  const uint8_t one = 7;
  EXPECT_EQ(MsgFile_Write(&one, 0, 1, f), msgstore::MSGFILE_WRITE_FAILED);
  EXPECT_EQ(HostBytes(file).size(), 0u);

  EXPECT_EQ(MsgFile_Write(&one, 1, 0, f), 0u);
  EXPECT_EQ(HostBytes(file), std::vector<uint8_t>({'x', 'y', 'z'}));
  EXPECT_EQ(MsgFile_Close(f), 0);
}

TEST_F(CommonMsgFile, CompleteWriteFlushesEveryOutputStream) {
  FILE* other = MsgFile_Open(u"\\DiskOnChip\\Files\\other.bin", 2);
  FILE* f = MsgFile_Open(u"\\DiskOnChip\\Files\\main.bin", 2);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("o", 1, 1, other), 1u);
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/other.bin")).size(), 0u);
  const uint8_t data[] = {0x10, 0x20};
  EXPECT_EQ(MsgFile_Write(data, 1, 2, f), 2u);
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/main.bin")), std::vector<uint8_t>({0x10, 0x20}));
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/other.bin")), std::vector<uint8_t>({'o'}));
  MsgFile_Close(f);
  MsgFile_Close(other);
}

TEST_F(CommonMsgFile, WriteRejectsNullBufferAndStream) {
  FILE* f = MsgFile_Open(u"\\DiskOnChip\\Files\\n.bin", 2);
  ASSERT_NE(f, nullptr);
  const uint8_t data = 1;
  EXPECT_EQ(MsgFile_Write(nullptr, 1, 1, f), msgstore::MSGFILE_WRITE_FAILED);
  EXPECT_EQ(MsgFile_Write(&data, 1, 1, nullptr), msgstore::MSGFILE_WRITE_FAILED);
  MsgFile_Close(f);
  EXPECT_EQ(HostBytes(Host("DiskOnChip/Files/n.bin")).size(), 0u);
}

TEST_F(CommonMsgFile, SeekOriginsAndFailures) {
  FILE* f = MsgFile_Open(u"\\DiskOnChip\\Files\\s.bin", 3);
  ASSERT_NE(f, nullptr);
  const uint8_t data[] = {0, 1, 2, 3, 4, 5};
  ASSERT_EQ(MsgFile_Write(data, 6, 1, f), 1u);

  EXPECT_EQ(MsgFile_Seek(f, 2, 0), 0);
  EXPECT_EQ(std::ftell(f), 2);
  EXPECT_EQ(MsgFile_Seek(f, 3, 3), msgstore::MSGFILE_E_BADHANDLE);
  EXPECT_EQ(std::ftell(f), 2);
  EXPECT_EQ(MsgFile_Seek(f, 1, 1), 0);
  EXPECT_EQ(std::ftell(f), 3);
  EXPECT_EQ(MsgFile_Seek(f, -1, 2), 0);
  EXPECT_EQ(std::ftell(f), 5);
  EXPECT_EQ(MsgFile_Seek(f, -10, 0), msgstore::MSGFILE_E_SEEK);
  EXPECT_EQ(MsgFile_Seek(nullptr, 0, 0), msgstore::MSGFILE_E_BADHANDLE);
  EXPECT_EQ(MsgFile_Close(f), 0);
}

TEST(CommonMsgFileClose, NullStreamIsABadHandle) {
  EXPECT_EQ(MsgFile_Close(nullptr), msgstore::MSGFILE_E_BADHANDLE);
}

}  // namespace
