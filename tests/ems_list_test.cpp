// EMS listings and the rebuild of the phone index files (where each folder
// lies, what its paths are and which index file its records go to:
// stores_test.cpp).
#include "ems_fixtures.h"

namespace {

namespace fs = std::filesystem;

using EmsListTest = msgstore_test::EmsTest;

TEST_F(EmsListTest, RefreshRebuildsInboxSentAndUnsentAndKeepsOtherIndexes) {
  const std::tuple<bool, DWORD, DWORD, DWORD, BOOL> files[] = {
      {0, kInbox, 1, 10, 1},    {0, kInbox, 2, 30, 0},     {0, kSimInbox, 3, 20, 1},
      {1, kInbox, 4, 5, 1},     {1, kInbox, 5, 5, 0},      {0, kSent, 11, 10, 0},
      {0, kSimSent, 12, 20, 0}, {0, kSimUnsent, 15, 5, 0}, {0, kDraft, 16, 10, 0}};
  for (const auto& [card, folder, oid, time, read] : files) Put(card, folder, oid, time, read);
  std::ofstream(File(false, kSent, 13)) << "tiny";
  for (DWORD folder : {kInbox, kSent, kUnsent, kDraft})
    EMSMsgStore_AddMsgToIni(99, folder, {50, 0});
  const msgstore_test::Bytes draft = msgstore_test::Load(Dir(false, kDraft) + "/EmsIni");
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(
      (Calls{"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
             "xSetEmsReadMsgCount(1)", "xSetEms_SDRecvMsgCount(2)", "xSetEms_SDReadMsgCount(1)"}),
      platform_.calls);
  EXPECT_EQ((Entries{{2, 1}, {3, 7}, {1, 1}}), Index(kInbox));
  EXPECT_EQ((Entries{{12, 12}, {11, 3}, {13, 3}}), Index(kSent));
  EXPECT_EQ((Entries{{15, 13}}), Index(kUnsent));
  EXPECT_EQ(draft, msgstore_test::Load(Dir(false, kDraft) + "/EmsIni"));
}

// A read by position follows the directory's enumeration, a position out of
// range reading the last file; one by identifier alone tries the folders in
// order (INBOX before SPAM), and on the card none of the phone-only ones. The
// unread count covers the card INBOX; a first run (both card counters 0) sets
// the card counters up from the files.
TEST_F(EmsListTest, ReadsCountsAndTheUnreadCountOfTheCardInbox) {
  fs::create_directories(Host("DiskOnChipROM"));
  msgstore_test::Store({'p'}, Host("DiskOnChipROM/cvPictogram.dll"));
  for (DWORD oid = 1; oid <= 5; ++oid) Put(true, kInbox, oid, 10, oid % 2);  // 1, 3, 5 read
  const std::pair<DWORD, DWORD> phone[] = {
      {kSpam, 6},      {kInbox, 6},      {kSimInbox, 7},        {kSimSent, 8},
      {kSimUnsent, 9}, {kSimUnsent, 10}, {EMS_FOLDER_NONE, 11}, {kReport, 12}};
  for (const auto& [folder, oid] : phone)
    Put(false, folder, oid, 10, 0, folder == 1 ? u"in" : u"s");
  for (const auto& [card, folder] :
       {std::make_pair(true, kInbox), std::make_pair(false, kSimUnsent)}) {
    CMsgList list;
    const int n = static_cast<int>(EMSMsgStore_GetMessageList(card, folder, list));
    EXPECT_TRUE(list[0].bMemoryCard == card && list[0].byFolder == folder);
    for (int position : {0, 1, 2, n, 1000, -1})
      EXPECT_EQ(list[position >= 0 && position < n ? position : n - 1].dwOid,
                Record(card, folder, 0, position).props.dwOid);
  }
  for (DWORD oid = 1; oid <= 12; ++oid)
    for (bool card : {false, true}) EXPECT_EQ(card == (oid <= 5), Record(card, 0, oid).ok == 1);
  EXPECT_EQ(std::u16string(u"in"), Record(false, 0, 6).props.pszSubject);
  EXPECT_EQ(std::make_tuple(1u, 5u, 6u, 4u),
            std::make_tuple(GetEMSPhoneInboxMsgCount(), GetEMSSDInboxMsgCount(),
                            GetEMSInboxMsgCount(), GetEMSSimMsgCount()));
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ(msgstore_test::Bytes{'p'}, msgstore_test::Load(Host("DiskOnChip/Corvane.conf")));
  platform_.sdRead = 3;  // set up, even with the received counter at 0
  EXPECT_EQ(2, EMSMsgStore_SetRead(true, kInbox, 2, 1));
  EXPECT_EQ(1u, GetEMSInboxUnreadMsgsCount());
  platform_.cardState = 6;  // the card went away
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  const std::string read = "xSetEms_SDReadMsgCount(1)";  // three on the first run, one by SetRead
  EXPECT_EQ((Calls{"xSetEms_SDRecvMsgCount(5)", read, read, read, read}), platform_.calls);
}

}  // namespace
