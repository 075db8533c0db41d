// Stream helpers, the field reader (result codes, names, flushing, bounds),
// string helpers and the messaging application notice. The
// bytes the field writer makes are checked by every store's format tests.
#include <cstdio>
#include <cstdlib>

#include "common/field_codec.h"
#include "common/msg_file.h"
#include "common/msg_str.h"
#include "ems_fixtures.h"

namespace {

using namespace msgstore;  // NOLINT(build/namespaces)
using Chars = std::vector<char>;

class CommonMsgFile : public msgstore_test::DeviceTest {
 protected:
  FILE* Open(const std::u16string& name, int mode) {
    return MsgFile_Open((u"\\SD Card\\" + name).c_str(), mode);
  }
  Chars Read(const std::string& name) const {
    return msgstore_test::Bytes(Host("SD Card/" + name));
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
  EXPECT_EQ(Read("tX"), Chars({'\xA1', '\xA2', '\xA3', '\xA1', '\xA2'}));
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
  EXPECT_EQ(Read("w"), Chars({'x', 'y', 'z'}));
  EXPECT_EQ(Read("o"), Chars({'o'}));
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
  const std::pair<char, std::vector<uint8_t>> cases[] = {{'t', {0, 0, 0, 0, 0, 0, 0}},
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

TEST(CommonMsgStr, DuplicateCopyPathAndLeadingNumber) {
  EXPECT_TRUE(MsgStr_Duplicate(nullptr) == nullptr && MsgStr_Duplicate(u"") == nullptr);
  char16_t source[] = u"Hello";
  WCHAR* copy = MsgStr_Duplicate(source);
  ASSERT_NE(copy, nullptr);
  source[0] = u'J';
  EXPECT_EQ(std::u16string(copy), u"Hello");
  std::free(copy);
  WCHAR out[MAX_PATH + 1];
  std::fill(std::begin(out), std::end(out), 0xFFFF);
  CopyPath(out, std::u16string(400, u'x'));
  EXPECT_EQ(std::u16string(out, out + MAX_PATH + 1),
            std::u16string(MAX_PATH - 1, u'x') + u'\0' + u"\uFFFF");
  std::vector<DWORD> values = {LeadingNumber(nullptr)};
  for (const WCHAR* name : {u"12.sms", u"-5.sms", u"abc", u"", u"  \t+7x", u"- 5", u"007_EmailIni",
                            u"805306371_EmailIni", u"4294967297", u"-4294967295",
                            u"100000000000000000000.sms", u"99999999999999999999999999999999"})
    values.push_back(LeadingNumber(name));
  EXPECT_EQ(values, (std::vector<DWORD>{0, 12, 0xFFFFFFFB, 0, 0, 7, 0, 7, 805306371, 1, 1,
                                        0x63100000, 0xFFFFFFFF}));
}

using CommonNotify = msgstore_test::DeviceTest;

TEST_F(CommonNotify, PostsTheFolderEventWithStorageInLParam) {
  int posted = 0;
  for (DWORD folder : {0, 1, 2, 3, 4, 5, 6, 7, 12})
    posted += NotifyMessageApp(folder, folder, 0, 3);
  EXPECT_EQ(posted, 5);
  EXPECT_EQ(NotifyMessageApp(3, 0xFFFFFFFFu, 1, 3) + NotifyMessageApp(6, 9, 0xABCD1234u, 0x1FFu),
            2);
  platform_.messageAppWindow = false;
  EXPECT_EQ(NotifyMessageApp(1, 1, 0, 3), 0);
  std::vector<std::tuple<std::u16string, UINT, WPARAM, LPARAM>> posts, expected;
  for (const auto& p : platform_.posted) posts.emplace_back(p.className, p.msg, p.wParam, p.lParam);
  const std::tuple<UINT, WPARAM, LPARAM> want[] = {
      {0x19A0, 1, 0x03030000}, {0x19A1, 2, 0x03030000}, {0x19A2, 3, 0x03030000},
      {0x19A4, 5, 0x03030000}, {0x19A5, 6, 0x03030000}, {0x19A2, 0xFFFFFFFF, 0x03030001},
      {0x19A5, 9, 0x03FF1234}};
  for (const auto& [msg, w, l] : want) expected.emplace_back(u"WCE_CVMESSAGEEXEC", msg, w, l);
  EXPECT_EQ(posts, expected);
}

}  // namespace
