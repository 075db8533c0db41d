// String helpers, record ownership and the messaging application notice.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "common/msg_props.h"
#include "common/msg_str.h"
#include "test_support.h"

namespace {

using namespace msgstore;  // NOLINT(build/namespaces)

TEST(CommonMsgStr, DuplicateIsAnIndependentCopyAndEmptyIsNull) {
  EXPECT_EQ(MsgStr_Duplicate(nullptr), nullptr);
  EXPECT_EQ(MsgStr_Duplicate(u""), nullptr);
  char16_t source[] = u"Hello";
  WCHAR* copy = MsgStr_Duplicate(source);
  ASSERT_NE(copy, nullptr);
  source[0] = u'J';
  EXPECT_EQ(std::u16string(copy), u"Hello");
  std::free(copy);
}

TEST(CommonMsgStr, CopyPathZeroFillsAndCuts) {
  WCHAR out[MAX_PATH + 1];
  std::fill(std::begin(out), std::end(out), 0xFFFF);
  CopyPath(out, std::u16string(400, u'x'));
  EXPECT_EQ(std::u16string(out, out + MAX_PATH + 1),
            std::u16string(MAX_PATH - 1, u'x') + u'\0' + u"\uFFFF");
}

TEST(CommonMsgStr, LeadingNumberReadsLikeWtol) {
  EXPECT_EQ(LeadingNumber(nullptr), 0u);
  std::vector<DWORD> values;
  for (const WCHAR* name : {u"12.sms", u"-5.sms", u"abc", u"", u"  \t+7x", u"- 5", u"007_EmailIni",
                            u"805306371_EmailIni", u"4294967297", u"-4294967295",
                            u"100000000000000000000.sms", u"99999999999999999999999999999999"})
    values.push_back(LeadingNumber(name));
  EXPECT_EQ(values, (std::vector<DWORD>{12, 0xFFFFFFFB, 0, 0, 7, 0, 7, 805306371, 1, 1, 0x63100000,
                                        0xFFFFFFFF}));
}

TEST(CommonMsgProps, ReleaseFreesTheOwnedMembers) {
  tagMSGPROPS props{};
  ReleaseMsgProps(&props);
  ReleaseMsgProps(nullptr);
  WCHAR** members[] = {&props.pszText1, &props.pszText2, &props.pszText3,  &props.pszText4,
                       &props.pszTo,    &props.pszMsgID, &props.pszSubject};
  for (WCHAR** m : members) *m = MsgStr_Duplicate(u"x");
  props.pData = static_cast<BYTE*>(std::calloc(4, 1));
  ReleaseMsgProps(&props);
  for (WCHAR** m : members) EXPECT_EQ(*m, nullptr);
  EXPECT_EQ(props.pData, nullptr);
}

class CommonNotify : public msgstore_test::DeviceTest {};

TEST_F(CommonNotify, PostsTheFolderEventWithStorageInLParam) {
  int posted = 0;
  for (DWORD folder : {0, 1, 2, 3, 4, 5, 6, 7, 12})
    posted += NotifyMessageApp(folder, folder, 0, 3);
  EXPECT_EQ(posted, 5);
  EXPECT_EQ(NotifyMessageApp(3, 0xFFFFFFFFu, 1, 3), 1);
  EXPECT_EQ(NotifyMessageApp(6, 9, 0xABCD1234u, 0x1FFu), 1);
  platform_.messageAppWindow = false;
  EXPECT_EQ(NotifyMessageApp(1, 1, 0, 3), 0);
  using Post = std::tuple<std::u16string, UINT, WPARAM, LPARAM>;
  std::vector<Post> posts;
  for (const auto& p : platform_.posted) posts.emplace_back(p.className, p.msg, p.wParam, p.lParam);
  const std::u16string app = u"WCE_CVMESSAGEEXEC";
  EXPECT_EQ(posts, (std::vector<Post>{{app, 0x19A0, 1, 0x03030000},
                                      {app, 0x19A1, 2, 0x03030000},
                                      {app, 0x19A2, 3, 0x03030000},
                                      {app, 0x19A4, 5, 0x03030000},
                                      {app, 0x19A5, 6, 0x03030000},
                                      {app, 0x19A2, 0xFFFFFFFF, 0x03030001},
                                      {app, 0x19A5, 9, 0x03FF1234}}));
}

}  // namespace
