// String helpers, record ownership and the messaging application notice.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/msg_props.h"
#include "common/msg_str.h"
#include "test_support.h"

namespace {

using msgstore::LeadingNumber;

WCHAR* Dup(const char16_t* s) { return msgstore::MsgStr_Duplicate(s); }

TEST(CommonMsgStr, DuplicateIsAnIndependentCopyAndEmptyIsNull) {
  EXPECT_EQ(Dup(nullptr), nullptr);
  EXPECT_EQ(Dup(u""), nullptr);
  char16_t source[] = u"Hello";
  WCHAR* copy = Dup(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, source);
  source[0] = u'J';
  EXPECT_EQ(std::u16string(copy), u"Hello");
  EXPECT_EQ(msgstore::WStrLen(copy), 5u);
  std::free(copy);
  EXPECT_EQ(msgstore::WStrLen(nullptr), 0u);
}

TEST(CommonMsgStr, CopyPathZeroFillsAndCuts) {
  WCHAR out[MAX_PATH + 1];
  for (WCHAR& c : out) c = 0xFFFF;
  msgstore::CopyPath(out, u"\\ab");
  EXPECT_EQ(std::u16string(out), u"\\ab");
  for (int i = 3; i < MAX_PATH; ++i) ASSERT_EQ(out[i], 0) << i;
  EXPECT_EQ(out[MAX_PATH], 0xFFFF);  // nothing beyond the buffer

  msgstore::CopyPath(out, std::u16string(400, u'x'));
  EXPECT_EQ(std::u16string(out), std::u16string(MAX_PATH - 1, u'x'));
  EXPECT_EQ(out[MAX_PATH], 0xFFFF);
}

TEST(CommonMsgStr, DecimalIsSigned32Bit) {
  EXPECT_EQ(msgstore::DecimalU16(0), u"0");
  EXPECT_EQ(msgstore::DecimalU16(1234567), u"1234567");
  EXPECT_EQ(msgstore::DecimalU16(0x7FFFFFFFu), u"2147483647");
  EXPECT_EQ(msgstore::DecimalU16(0xFFFFFFFFu), u"-1");
  EXPECT_EQ(msgstore::DecimalU16(0x80000000u), u"-2147483648");
  EXPECT_EQ(msgstore::JoinPath(u"\\A\\B", u"12.sms"), u"\\A\\B\\12.sms");
}

TEST(CommonMsgStr, LeadingNumberReadsLikeWtol) {
  EXPECT_EQ(LeadingNumber(u"12.sms"), 12u);
  EXPECT_EQ(LeadingNumber(u"-5.sms"), 0xFFFFFFFBu);
  EXPECT_EQ(LeadingNumber(u"abc"), 0u);
  EXPECT_EQ(LeadingNumber(u""), 0u);
  EXPECT_EQ(LeadingNumber(nullptr), 0u);
  EXPECT_EQ(LeadingNumber(u"  \t+7x"), 7u);
  EXPECT_EQ(LeadingNumber(u"- 5"), 0u);
  EXPECT_EQ(LeadingNumber(u"007_EmailIni"), 7u);
  EXPECT_EQ(LeadingNumber(u"805306371_EmailIni"), 805306371u);
  // Wraps to 32 bits, also for very long digit runs.
  EXPECT_EQ(LeadingNumber(u"4294967297"), 1u);
  EXPECT_EQ(LeadingNumber(u"-4294967295"), 1u);
  EXPECT_EQ(LeadingNumber(u"100000000000000000000.sms"), 0x63100000u);
  EXPECT_EQ(LeadingNumber(u"99999999999999999999999999999999"), 0xFFFFFFFFu);
}

TEST(CommonMsgProps, ReleaseFreesTheOwnedMembersOnly) {
  tagMSGPROPS props{};
  msgstore::ReleaseMsgProps(&props);  // zero record: nothing to release
  msgstore::ReleaseMsgProps(nullptr);
  props.pszText1 = Dup(u"1");
  props.pszText2 = Dup(u"2");
  props.pszText3 = Dup(u"3");
  props.pszText4 = Dup(u"4");
  props.pszTo = Dup(u"to");
  props.pszSubject = Dup(u"subject");
  props.pszMsgID = Dup(u"id");
  props.cbData = 3;
  props.pData = static_cast<BYTE*>(std::calloc(4, 1));
  props.dwOid = 42;
  props.dwFolder = 3;
  msgstore::ReleaseMsgProps(&props);
  EXPECT_EQ(props.pszText1, nullptr);
  EXPECT_EQ(props.pszText2, nullptr);
  EXPECT_EQ(props.pszText3, nullptr);
  EXPECT_EQ(props.pszText4, nullptr);
  EXPECT_EQ(props.pszTo, nullptr);
  EXPECT_EQ(props.pszSubject, nullptr);
  EXPECT_EQ(props.pszMsgID, nullptr);
  EXPECT_EQ(props.pData, nullptr);
  EXPECT_EQ(props.cbData, 3u);
  EXPECT_EQ(props.dwOid, 42u);
  EXPECT_EQ(props.dwFolder, 3u);
  msgstore::ReleaseMsgProps(&props);  // twice is harmless
  EXPECT_EQ(props.pszSubject, nullptr);
}

TEST(CommonMsgProps, ReplaceStringFreesTheOldValue) {
  WCHAR* member = Dup(u"old");
  WCHAR* value = Dup(u"new");
  msgstore::ReplaceString(&member, value);
  EXPECT_EQ(member, value);
  msgstore::ReplaceString(&member, member);  // same block stays alive
  EXPECT_EQ(std::u16string(member), u"new");
  msgstore::ReplaceString(&member, nullptr);
  EXPECT_EQ(member, nullptr);
}

class CommonNotify : public msgstore_test::DeviceTest {};

TEST_F(CommonNotify, PostsTheFolderEventWithStorageInLParam) {
  EXPECT_EQ(msgstore::NotifyMessageApp(1, 17, 0, 3), 1);
  EXPECT_EQ(msgstore::NotifyMessageApp(3, 0xFFFFFFFFu, 1, 3), 1);
  ASSERT_EQ(platform_.posted.size(), 2u);
  EXPECT_EQ(platform_.posted[0].className, u"WCE_CVMESSAGEEXEC");
  EXPECT_EQ(platform_.posted[0].msg, 0x19A0u);
  EXPECT_EQ(platform_.posted[0].wParam, 17u);
  EXPECT_EQ(platform_.posted[0].lParam, 0x03030000);
  EXPECT_EQ(platform_.posted[1].msg, 0x19A2u);
  EXPECT_EQ(platform_.posted[1].wParam, static_cast<WPARAM>(0xFFFFFFFFu));
  EXPECT_EQ(platform_.posted[1].lParam, 0x03030001);
}

TEST_F(CommonNotify, MessageNumbersAndMaskedParameters) {
  const DWORD folders[] = {1, 2, 3, 5, 6};
  const UINT messages[] = {0x19A0, 0x19A1, 0x19A2, 0x19A4, 0x19A5};
  for (DWORD folder : folders) msgstore::NotifyMessageApp(folder, folder, 0, 3);
  ASSERT_EQ(platform_.posted.size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(platform_.posted[i].msg, messages[i]) << i;

  platform_.posted.clear();
  msgstore::NotifyMessageApp(6, 9, 0xABCD1234u, 0x1FFu);
  ASSERT_EQ(platform_.posted.size(), 1u);
  EXPECT_EQ(platform_.posted[0].lParam, 0x03FF1234);
}

TEST_F(CommonNotify, FoldersWithoutEventAndMissingWindowPostNothing) {
  EXPECT_EQ(msgstore::NotifyMessageApp(4, 1, 0, 3), 0);
  EXPECT_EQ(msgstore::NotifyMessageApp(0, 1, 0, 3), 0);
  EXPECT_EQ(msgstore::NotifyMessageApp(7, 1, 0, 3), 0);
  EXPECT_EQ(msgstore::NotifyMessageApp(12, 1, 0, 3), 0);
  platform_.messageAppWindow = false;
  EXPECT_EQ(msgstore::NotifyMessageApp(1, 1, 0, 3), 0);
  EXPECT_TRUE(platform_.posted.empty());
}

}  // namespace
