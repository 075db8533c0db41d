// EMS listings, reads by position and identifier, counts, the card INBOX
// unread count and the rebuild of the phone index files.
#include "ems_fixtures.h"

namespace {

using EmsListTest = msgstore_test::EmsTest;

TEST_F(EmsListTest, ListingsAppendEntriesNamedBySignedLeadingNumbers) {
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(false, kSpam, list));
  for (const char* name : {"-5.sms", "abc.sms", "7.txt"})
    std::ofstream(Dir(false, kSpam) + "/" + name) << "x";
  Put(true, kSent, 12, 1);
  Put(false, kSimInbox, 3, 1);
  EXPECT_EQ(2u, EMSMsgStore_GetMessageList(false, kSpam, list));
  EXPECT_EQ(1u, EMSMsgStore_GetMessageList(true, kSent, list));
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(true, kSimInbox, list));
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(true, kReport, list));
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(false, 10, list));
  std::vector<std::tuple<int, int, DWORD>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.emplace_back(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ((decltype(entries){{0, 6, 0}, {0, 6, 0xFFFFFFFB}, {1, 3, 12}, {1, 9, 777}}), entries);
}

TEST_F(EmsListTest, ReadFolderMessageByPositionOrIdentifier) {
  for (DWORD oid = 1; oid <= 3; ++oid) Put(false, kUnsent, oid, oid);
  CMsgList order;
  ASSERT_EQ(3u, EMSMsgStore_GetMessageList(false, kUnsent, order));
  const std::pair<int, long> cases[] = {{0, 0}, {1, 1}, {1000, 2}, {-1, 2}};
  for (const auto& [position, index] : cases) {
    Record r;
    ASSERT_EQ(1, EMSMsgStore_ReadFolderMessage(false, kUnsent, position, 0, true, &r.props));
    EXPECT_EQ(order[index].dwOid, r.props.dwOid) << position;
  }
  Record r;
  ASSERT_EQ(1, EMSMsgStore_ReadFolderMessage(false, kUnsent, 1000, 2, true, &r.props));
  EXPECT_EQ(2u, r.props.dwOid);
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, kUnsent, 0, 4, true, &r.props));
}

TEST_F(EmsListTest, ReadMessageSearchesFoldersInOrder) {
  Put(false, kSpam, 5, 1, 0, u"spam");
  Put(false, kDraft, 5, 1, 0, u"draft");
  Put(false, kSimSent, 5, 1, 0, u"simsent");
  Put(false, kInbox, 6, 1, 0, u"inbox");
  Put(false, EMS_FOLDER_NONE, 6, 1, 0, u"none");
  Put(false, EMS_FOLDER_NONE, 7, 1, 0, u"none");
  Put(true, kSpam, 7, 1, 0, u"card spam");
  Put(false, kSimInbox, 8, 1);
  std::ofstream(File(false, kInbox, 9)) << "tiny";
  Put(false, kDraft, 9, 1);
  const std::tuple<bool, DWORD, const char16_t*> found[] = {
      {false, 5, u"simsent"}, {false, 6, u"inbox"}, {false, 7, u"none"}, {true, 7, u"card spam"}};
  for (const auto& [card, oid, subject] : found) {
    Record r;
    ASSERT_EQ(1, EMSMsgStore_ReadMessage(card, oid, true, &r.props));
    EXPECT_EQ(std::u16string(subject), r.props.pszSubject);
  }
  Record r;
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(true, 6, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(true, 8, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(false, 9, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(false, 99, true, &r.props));
  EXPECT_EQ(1, EMSMsgStore_ReadMessage(false, 8, false, &r.props));
}

TEST_F(EmsListTest, CountsScanTheFolders) {
  for (DWORD oid = 1; oid <= 5; ++oid) Put(oid > 2, kInbox, oid, 1);
  for (DWORD oid = 6; oid <= 8; ++oid) Put(false, oid < 8 ? kSimInbox : kSimSent, oid, 1);
  EXPECT_EQ(2u, GetEMSPhoneInboxMsgCount());
  EXPECT_EQ(3u, GetEMSSDInboxMsgCount());
  EXPECT_EQ(5u, GetEMSInboxMsgCount());
  EXPECT_EQ(3u, GetEMSSimMsgCount());
  EXPECT_EQ(0u, Count(true, kReport));
  RemoveCard();
  EXPECT_EQ(0u, GetEMSSDInboxMsgCount());
  EXPECT_EQ(2u, GetEMSInboxMsgCount());
}

TEST_F(EmsListTest, UnreadCountSetsUpCardCountersOnTheFirstRunAndCopiesThePictogramModule) {
  const std::string copy = Host("DiskOnChip/Corvane.conf");
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ((Calls{"xSetEms_SDRecvMsgCount(0)"}), platform_.calls);
  platform_.calls.clear();
  for (DWORD oid = 1; oid <= 4; ++oid) Put(true, kInbox, oid, 1, oid % 2 == 0);
  Put(false, kInbox, 5, 1, 0);
  std::filesystem::create_directories(Host("DiskOnChipROM"));
  std::ofstream(Host("DiskOnChipROM/cvPictogram.dll"), std::ios::binary) << "PICTO";
  std::ofstream(copy, std::ios::binary) << "old contents";
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  const Calls firstRun = {"xSetEms_SDRecvMsgCount(4)", "xSetEms_SDReadMsgCount(1)",
                          "xSetEms_SDReadMsgCount(1)"};
  EXPECT_EQ(firstRun, platform_.calls);
  EXPECT_EQ((std::vector<char>{'P', 'I', 'C', 'T', 'O'}), Bytes(copy));
  platform_.sdRead = 1;  // set up: counted, not set again
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ(firstRun, platform_.calls);
  struct VanishingCard : msgstore_test::FakePlatform {
    int presentFor = 2;
    int xGetSDCardState() override { return presentFor-- > 0 ? 1 : 0; }
  } vanishing;
  Put(true, kInbox, 2, 1, 0);
  vanishing.sdRecv = 4;
  msgstore::SetPlatform(&vanishing);
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());  // the first two, then the card went
  msgstore::SetPlatform(&platform_);
}

TEST_F(EmsListTest, RefreshRebuildsInboxSentAndUnsentAndKeepsOtherIndexes) {
  Put(false, kInbox, 1, 10, 1);
  Put(false, kInbox, 2, 30, 0);
  Put(false, kSimInbox, 3, 20, 1);
  for (DWORD oid = 4; oid <= 6; ++oid) Put(true, kInbox, oid, 5, oid != 5);
  Put(false, kSent, 11, 10);
  Put(false, kSimSent, 12, 20);
  std::ofstream(File(false, kSent, 13)) << "tiny";
  Put(false, kUnsent, 14, 10);
  Put(false, kSimUnsent, 15, 5);
  for (DWORD folder : {kInbox, kSent, kUnsent, kDraft})
    EMSMsgStore_AddMsgToIni(99, folder, {50, 0});
  Put(false, kDraft, 16, 10);
  Put(false, kReport, 17, 40);
  Put(false, kReport, 18, 60);
  const std::vector<char> draft = Bytes(Dir(false, kDraft) + "/EmsIni");
  ASSERT_EQ(16u, draft.size());
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
                   "xSetEmsReadMsgCount(1)", "xSetEms_SDRecvMsgCount(3)",
                   "xSetEms_SDReadMsgCount(1)", "xSetEms_SDReadMsgCount(1)"}),
            platform_.calls);
  EXPECT_EQ((Entries{{2, 1}, {3, 7}, {1, 1}}), Index(kInbox));
  EXPECT_EQ((Entries{{12, 12}, {11, 3}, {13, 3}}), Index(kSent));
  EXPECT_EQ((Entries{{14, 4}, {15, 13}}), Index(kUnsent));
  EXPECT_EQ((Entries{{18, 5}, {17, 5}}), Index(kReport));
  EXPECT_EQ(draft, Bytes(Dir(false, kDraft) + "/EmsIni"));
  platform_.cardState = 0;
  platform_.calls.clear();
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
                   "xSetEmsReadMsgCount(1)"}),
            platform_.calls);
}

}  // namespace
