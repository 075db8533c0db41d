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
  const std::tuple<bool, DWORD, DWORD> counts[] = {{false, kSpam, 2},
                                                   {true, kSent, 1},
                                                   {true, kSimInbox, 0},
                                                   {true, kReport, 0},
                                                   {false, 10, 0}};
  for (const auto& [card, folder, n] : counts)
    EXPECT_EQ(n, EMSMsgStore_GetMessageList(card, folder, list)) << folder;
  std::set<std::tuple<int, int, DWORD>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.emplace(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
  EXPECT_EQ((decltype(entries){{0, 6, 0}, {0, 6, 0xFFFFFFFB}, {1, 3, 12}, {1, 9, 777}}), entries);
}

TEST_F(EmsListTest, ReadByPositionIdentifierOrFolderSearch) {
  for (DWORD oid = 1; oid <= 3; ++oid) Put(false, kUnsent, oid, oid);
  CMsgList order;
  ASSERT_EQ(3u, EMSMsgStore_GetMessageList(false, kUnsent, order));
  tagMSGPROPS p{};
  const std::tuple<int, DWORD, DWORD> reads[] = {
      {0, 0, order[0].dwOid},  {1, 0, order[1].dwOid}, {1000, 0, order[2].dwOid},
      {-1, 0, order[2].dwOid}, {1000, 2, 2},           {0, 4, 0}};
  for (const auto& [position, oid, found] : reads) {
    EXPECT_EQ(found != 0, EMSMsgStore_ReadFolderMessage(false, kUnsent, position, oid, true, &p));
    EXPECT_EQ(found, found ? p.dwOid : 0u) << position;
    EMSMsgStore_FreeMsgProps(&p);
  }
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &p));

  Put(false, kSpam, 5, 1, 0, u"spam");
  Put(false, kDraft, 5, 1, 0, u"draft");
  Put(false, kSimSent, 5, 1, 0, u"simsent");
  Put(false, kInbox, 6, 1, 0, u"inbox");
  Put(false, EMS_FOLDER_NONE, 6, 1, 0, u"none");
  Put(false, EMS_FOLDER_NONE, 7, 1, 0, u"none");
  Put(true, kSpam, 7, 1, 0, u"card spam");
  Put(false, kSimInbox, 8, 1, 0, u"sim");
  std::ofstream(File(false, kInbox, 9)) << "tiny";
  Put(false, kDraft, 9, 1);
  const std::tuple<bool, DWORD, bool, const char16_t*> searches[] = {
      {false, 5, true, u"simsent"},  {false, 6, true, u"inbox"}, {false, 7, true, u"none"},
      {true, 7, true, u"card spam"}, {false, 8, false, u"sim"},  {true, 6, true, nullptr},
      {true, 8, true, nullptr},      {false, 9, true, nullptr},  {false, 99, true, nullptr}};
  for (const auto& [card, oid, content, subject] : searches) {
    EXPECT_EQ(subject != nullptr, EMSMsgStore_ReadMessage(card, oid, content, &p)) << oid;
    EXPECT_TRUE(!subject || std::u16string(subject) == p.pszSubject) << oid;
    EMSMsgStore_FreeMsgProps(&p);
  }
}

TEST_F(EmsListTest, CountsScanTheFolders) {
  for (DWORD oid = 1; oid <= 5; ++oid) Put(oid > 2, kInbox, oid, 1);
  for (DWORD oid = 6; oid <= 8; ++oid) Put(false, oid < 8 ? kSimInbox : kSimSent, oid, 1);
  EXPECT_EQ(std::make_tuple(2u, 3u, 5u, 3u, 0u),
            std::make_tuple(GetEMSPhoneInboxMsgCount(), GetEMSSDInboxMsgCount(),
                            GetEMSInboxMsgCount(), GetEMSSimMsgCount(), Count(true, kReport)));
  RemoveCard();
  EXPECT_EQ(std::make_pair(0u, 2u), std::make_pair(GetEMSSDInboxMsgCount(), GetEMSInboxMsgCount()));
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
  EXPECT_EQ((std::vector<char>{'P', 'I', 'C', 'T', 'O'}), msgstore_test::Bytes(copy));
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
  const std::vector<char> draft = msgstore_test::Bytes(Dir(false, kDraft) + "/EmsIni");
  const Calls phone = {"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
                       "xSetEmsReadMsgCount(1)"};
  Calls all = phone;
  all.insert(all.end(), {"xSetEms_SDRecvMsgCount(3)", "xSetEms_SDReadMsgCount(1)",
                         "xSetEms_SDReadMsgCount(1)"});
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(all, platform_.calls);
  EXPECT_EQ((Entries{{2, 1}, {3, 7}, {1, 1}}), Index(kInbox));
  EXPECT_EQ((Entries{{12, 12}, {11, 3}, {13, 3}}), Index(kSent));
  EXPECT_EQ((Entries{{14, 4}, {15, 13}}), Index(kUnsent));
  EXPECT_EQ((Entries{{18, 5}, {17, 5}}), Index(kReport));
  EXPECT_EQ(draft, msgstore_test::Bytes(Dir(false, kDraft) + "/EmsIni"));
  platform_.cardState = 0;
  platform_.calls.clear();
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(phone, platform_.calls);
}

}  // namespace
