// EMS listings, reads by position and identifier, counts, the card INBOX
// unread count and the rebuild of the phone index files.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msgstore/ems.h"
#include "test_support.h"

namespace {

using msgstore_test::DeviceTest;
using msgstore_test::FakePlatform;
using Calls = std::vector<std::string>;

class EmsListTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    EMSMsgStore_CreateDir(false);
    EMSMsgStore_CreateDir(true);
  }

  // Stores a message file without touching any index.
  void Put(bool card, DWORD folder, DWORD oid, DWORD time, BOOL read = 0,
           const WCHAR* subject = u"s") {
    tagMSGPROPS props = {};
    props.dwFolder = folder;
    props.dwOid = oid;
    props.bRead = read;
    props.ftIndexTime = {time, 0};
    props.pszSubject = const_cast<WCHAR*>(subject);
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, EMSMsgStore_GetFilePath(card, oid, folder, path));
    ASSERT_EQ(1, EMSMsgStore_WriteToFile(path, &props));
  }
  std::string Dir(bool card, const std::string& folder) const {
    return Host(std::string(card ? "SD Card" : "DiskOnChip") + "/User/MESSAGING/EMS/" + folder);
  }
  std::vector<char> Bytes(const std::string& hostPath) const {
    std::ifstream in(hostPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<tagOidArray> Index(DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetQuickMsgList(list, folder);
    std::vector<tagOidArray> out;
    for (long i = 0; i < list.GetSize(); ++i) out.push_back(list[i]);
    return out;
  }
};

// Reads and releases on the way out.
struct Record {
  Record() : props{} {}
  ~Record() { EMSMsgStore_FreeMsgProps(&props); }
  tagMSGPROPS props;
};

// ---------------------------------------------------------------------------
// Full listings
// ---------------------------------------------------------------------------

TEST_F(EmsListTest, ListingAppendsAndNeverEmpties) {
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(false, EMS_FOLDER_DRAFT, list));
  EXPECT_EQ(1, list.GetSize());
  Put(false, EMS_FOLDER_DRAFT, 4, 1);
  Put(false, EMS_FOLDER_DRAFT, 5, 2);
  EXPECT_EQ(2u, EMSMsgStore_GetMessageList(false, EMS_FOLDER_DRAFT, list));
  EXPECT_EQ(2u, EMSMsgStore_GetMessageList(false, EMS_FOLDER_DRAFT, list));
  ASSERT_EQ(5, list.GetSize());
  EXPECT_EQ(777u, list[0].dwOid);
  EXPECT_EQ(list[1].dwOid, list[3].dwOid);
  EXPECT_EQ(9u, list[1].dwOid + list[2].dwOid);
  EXPECT_EQ(0, list[1].bMemoryCard);
  EXPECT_EQ(EMS_FOLDER_DRAFT, list[1].byFolder);
}

TEST_F(EmsListTest, CardEntriesCarryStorageAndFolder) {
  Put(true, EMS_FOLDER_SENT, 12, 1);
  CMsgList list;
  ASSERT_EQ(1u, EMSMsgStore_GetMessageList(true, EMS_FOLDER_SENT, list));
  EXPECT_EQ(1, list[0].bMemoryCard);
  EXPECT_EQ(EMS_FOLDER_SENT, list[0].byFolder);
  EXPECT_EQ(12u, list[0].dwOid);
}

TEST_F(EmsListTest, IdentifiersAreReadAsSignedLeadingNumbers) {
  std::ofstream(Dir(false, "SPAM") + "/-5.sms") << "x";
  std::ofstream(Dir(false, "SPAM") + "/abc.sms") << "x";
  std::ofstream(Dir(false, "SPAM") + "/7.txt") << "x";
  CMsgList list;
  ASSERT_EQ(2u, EMSMsgStore_GetMessageList(false, EMS_FOLDER_SPAM, list));
  std::vector<DWORD> oids = {list[0].dwOid, list[1].dwOid};
  std::sort(oids.begin(), oids.end());
  EXPECT_EQ((std::vector<DWORD>{0u, 0xFFFFFFFBu}), oids);
}

TEST_F(EmsListTest, FoldersMissingOnStorageListNothing) {
  CMsgList list;
  Put(false, EMS_FOLDER_SIM_INBOX, 3, 1);
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(true, EMS_FOLDER_SIM_INBOX, list));
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(true, EMS_FOLDER_REPORT, list));
  EXPECT_EQ(0u, EMSMsgStore_GetMessageList(false, 10, list));
  EXPECT_EQ(0, list.GetSize());
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

TEST_F(EmsListTest, ReadByPositionFollowsEnumeration) {
  Put(false, EMS_FOLDER_UNSENT, 1, 1);
  Put(false, EMS_FOLDER_UNSENT, 2, 2);
  Put(false, EMS_FOLDER_UNSENT, 3, 3);
  CMsgList order;
  ASSERT_EQ(3u, EMSMsgStore_GetMessageList(false, EMS_FOLDER_UNSENT, order));
  struct Case {
    int position;
    long expectedIndex;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{1000, 2}, Case{-1, 2}}) {
    SCOPED_TRACE(c.position);
    Record r;
    ASSERT_EQ(
        1, EMSMsgStore_ReadFolderMessage(false, EMS_FOLDER_UNSENT, c.position, 0, true, &r.props));
    EXPECT_EQ(order[c.expectedIndex].dwOid, r.props.dwOid);
  }
}

TEST_F(EmsListTest, ReadByIdentifierIgnoresPositionAndHonoursContentFlag) {
  tagMSGPROPS props = {};
  props.dwFolder = EMS_FOLDER_INBOX;
  props.dwOid = 8;
  BYTE content[] = {9, 8, 7};
  props.pData = content;
  props.cbData = 3;
  WCHAR path[MAX_PATH] = {};
  ASSERT_EQ(1, EMSMsgStore_GetFilePath(true, 8, EMS_FOLDER_INBOX, path));
  ASSERT_EQ(1, EMSMsgStore_WriteToFile(path, &props));
  Put(true, EMS_FOLDER_INBOX, 9, 1);
  {
    Record r;
    ASSERT_EQ(1, EMSMsgStore_ReadFolderMessage(true, EMS_FOLDER_INBOX, 1000, 8, true, &r.props));
    EXPECT_EQ(8u, r.props.dwOid);
    ASSERT_EQ(3u, r.props.cbData);
    EXPECT_EQ(7, r.props.pData[2]);
  }
  Record r;
  ASSERT_EQ(1, EMSMsgStore_ReadFolderMessage(true, EMS_FOLDER_INBOX, 0, 8, false, &r.props));
  EXPECT_EQ(0u, r.props.cbData);
  EXPECT_EQ(nullptr, r.props.pData);
}

TEST_F(EmsListTest, ReadFolderMessageFailures) {
  Record r;
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, EMS_FOLDER_DRAFT, 0, 0, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, EMS_FOLDER_DRAFT, 0, 4, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(true, EMS_FOLDER_REPORT, 0, 4, true, &r.props));
  Put(false, EMS_FOLDER_DRAFT, 4, 1);
  EXPECT_EQ(0, EMSMsgStore_ReadFolderMessage(false, EMS_FOLDER_DRAFT, 0, 4, true, nullptr));
}

TEST_F(EmsListTest, ReadMessageSearchesFoldersInOrder) {
  Put(false, EMS_FOLDER_SPAM, 5, 1, 0, u"spam");
  Put(false, EMS_FOLDER_DRAFT, 5, 1, 0, u"draft");
  Put(false, EMS_FOLDER_SIM_SENT, 5, 1, 0, u"simsent");
  Put(false, EMS_FOLDER_INBOX, 6, 1, 0, u"inbox");
  Put(false, EMS_FOLDER_NONE, 6, 1, 0, u"none");
  Put(false, EMS_FOLDER_NONE, 7, 1, 0, u"none");
  const std::pair<DWORD, const char16_t*> cases[] = {{5, u"simsent"}, {6, u"inbox"}, {7, u"none"}};
  for (const auto& c : cases) {
    Record r;
    ASSERT_EQ(1, EMSMsgStore_ReadMessage(false, c.first, true, &r.props));
    EXPECT_EQ(std::u16string(c.second), r.props.pszSubject);
  }
  Record r;
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(false, 99, true, &r.props));
}

TEST_F(EmsListTest, ReadMessageOnCardSkipsPhoneOnlyFolders) {
  Put(true, EMS_FOLDER_SPAM, 5, 1, 0, u"card spam");
  Put(false, EMS_FOLDER_SIM_INBOX, 6, 1);
  Put(false, EMS_FOLDER_NONE, 7, 1);
  {
    Record r;
    ASSERT_EQ(1, EMSMsgStore_ReadMessage(true, 5, true, &r.props));
    EXPECT_EQ(std::u16string(u"card spam"), r.props.pszSubject);
  }
  Record r;
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(true, 6, true, &r.props));
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(true, 7, true, &r.props));
  EXPECT_EQ(1, EMSMsgStore_ReadMessage(false, 6, false, &r.props));
}

TEST_F(EmsListTest, ReadMessageOfUnreadableFileFailsWithoutLookingFurther) {
  std::ofstream(Dir(false, "INBOX") + "/5.sms") << "tiny";
  Put(false, EMS_FOLDER_DRAFT, 5, 1);
  Record r;
  EXPECT_EQ(0, EMSMsgStore_ReadMessage(false, 5, true, &r.props));
}

// ---------------------------------------------------------------------------
// Counts
// ---------------------------------------------------------------------------

TEST_F(EmsListTest, InboxCountsScanBothStorages) {
  Put(false, EMS_FOLDER_INBOX, 1, 1);
  Put(false, EMS_FOLDER_INBOX, 2, 1);
  Put(true, EMS_FOLDER_INBOX, 3, 1);
  Put(true, EMS_FOLDER_INBOX, 4, 1);
  Put(true, EMS_FOLDER_INBOX, 5, 1);
  EXPECT_EQ(2u, GetEMSPhoneInboxMsgCount());
  EXPECT_EQ(3u, GetEMSSDInboxMsgCount());
  EXPECT_EQ(5u, GetEMSInboxMsgCount());
  EXPECT_EQ(3u, EMSMsgStore_GetFolderMessageCount(true, EMS_FOLDER_INBOX));
  EXPECT_EQ(0u, EMSMsgStore_GetFolderMessageCount(true, EMS_FOLDER_REPORT));
  RemoveCard();
  EXPECT_EQ(0u, GetEMSSDInboxMsgCount());
  EXPECT_EQ(2u, GetEMSInboxMsgCount());
}

TEST_F(EmsListTest, SimCountAddsTheThreeSimFolders) {
  Put(false, EMS_FOLDER_SIM_INBOX, 1, 1);
  Put(false, EMS_FOLDER_SIM_INBOX, 2, 1);
  Put(false, EMS_FOLDER_SIM_SENT, 3, 1);
  Put(false, EMS_FOLDER_INBOX, 4, 1);
  EXPECT_EQ(3u, GetEMSSimMsgCount());
}

// ---------------------------------------------------------------------------
// Card INBOX unread count
// ---------------------------------------------------------------------------

TEST_F(EmsListTest, UnreadCountFirstRunSetsUpCardCounters) {
  Put(true, EMS_FOLDER_INBOX, 1, 1, 0);
  Put(true, EMS_FOLDER_INBOX, 2, 1, 1);
  Put(true, EMS_FOLDER_INBOX, 3, 1, 0);
  Put(true, EMS_FOLDER_INBOX, 4, 1, 1);
  Put(false, EMS_FOLDER_INBOX, 5, 1, 0);
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ((Calls{"xSetEms_SDRecvMsgCount(4)", "xSetEms_SDReadMsgCount(1)",
                   "xSetEms_SDReadMsgCount(1)"}),
            platform_.calls);
}

TEST_F(EmsListTest, UnreadCountLaterRunsCallNoCounter) {
  Put(true, EMS_FOLDER_INBOX, 1, 1, 0);
  Put(true, EMS_FOLDER_INBOX, 2, 1, 1);
  platform_.sdRead = 1;
  EXPECT_EQ(1u, GetEMSInboxUnreadMsgsCount());
  EXPECT_TRUE(platform_.calls.empty());
}

// Reports the card present for a number of queries, then gone.
class VanishingCard : public FakePlatform {
 public:
  int presentFor = 0;
  int xGetSDCardState() override { return presentFor-- > 0 ? 1 : 0; }
};

TEST_F(EmsListTest, UnreadCountStopsWhenCardGoesAway) {
  for (DWORD oid = 1; oid <= 4; ++oid) Put(true, EMS_FOLDER_INBOX, oid, 1, 0);
  VanishingCard platform;
  platform.sdRecv = 4;
  platform.presentFor = 2;
  msgstore::SetPlatform(&platform);
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  msgstore::SetPlatform(&platform_);
}

TEST_F(EmsListTest, UnreadCountWithoutCardMakesTreesButInsertsNoCard) {
  RemoveCard();
  platform_.cardState = 0;
  std::filesystem::remove_all(Host("DiskOnChip/User"));
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ(Calls{"xSetEms_SDRecvMsgCount(0)"}, platform_.calls);
  EXPECT_TRUE(std::filesystem::is_directory(Dir(false, "SIM_UNSENT")));
  EXPECT_FALSE(std::filesystem::exists(Host("SD Card")));
}

TEST_F(EmsListTest, UnreadCountCopiesPictogramModuleReplacingOldCopy) {
  const std::string copy = Host("DiskOnChip/Corvane.conf");
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  EXPECT_FALSE(std::filesystem::exists(copy));

  std::filesystem::create_directories(Host("DiskOnChipROM"));
  std::ofstream(Host("DiskOnChipROM/cvPictogram.dll"), std::ios::binary) << "PICTO";
  std::ofstream(copy, std::ios::binary) << "old contents";
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ((std::vector<char>{'P', 'I', 'C', 'T', 'O'}), Bytes(copy));
}

// ---------------------------------------------------------------------------
// Index rebuild
// ---------------------------------------------------------------------------

TEST_F(EmsListTest, RefreshRebuildsInboxWithSimCopiesAndSetsCounters) {
  Put(false, EMS_FOLDER_INBOX, 1, 10, 1);
  Put(false, EMS_FOLDER_INBOX, 2, 30, 0);
  Put(false, EMS_FOLDER_SIM_INBOX, 3, 20, 1);
  Put(true, EMS_FOLDER_INBOX, 4, 5, 1);
  Put(true, EMS_FOLDER_INBOX, 5, 5, 0);
  Put(true, EMS_FOLDER_INBOX, 6, 5, 1);
  EMSMsgStore_AddMsgToIni(99, EMS_FOLDER_INBOX, FILETIME{50, 0});  // stale
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
                   "xSetEmsReadMsgCount(1)", "xSetEms_SDRecvMsgCount(3)",
                   "xSetEms_SDReadMsgCount(1)", "xSetEms_SDReadMsgCount(1)"}),
            platform_.calls);
  std::vector<tagOidArray> index = Index(EMS_FOLDER_INBOX);
  ASSERT_EQ(3u, index.size());
  EXPECT_EQ(2u, index[0].dwOid);
  EXPECT_EQ(3u, index[1].dwOid);
  EXPECT_EQ(EMS_FOLDER_SIM_INBOX, index[1].byFolder);
  EXPECT_EQ(1u, index[2].dwOid);
  EXPECT_EQ(EMS_FOLDER_INBOX, index[2].byFolder);
  DWORD count = 0;
  EXPECT_EQ(1u, EMSMsgStore_GetLastRecord(false, EMS_FOLDER_INBOX, &count));
  EXPECT_EQ(2u, count);
}

TEST_F(EmsListTest, RefreshWithoutCardSkipsCardCounters) {
  Put(true, EMS_FOLDER_INBOX, 4, 5, 1);
  platform_.cardState = 0;
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(0)", "xSetEmsRecvMsgCount(0)"}), platform_.calls);
  EXPECT_FALSE(std::filesystem::exists(Dir(false, "INBOX") + "/EmsIni"));
}

TEST_F(EmsListTest, RefreshKeepsExistingDraftReportSpamIndexes) {
  Put(false, EMS_FOLDER_DRAFT, 1, 10);
  Put(false, EMS_FOLDER_SPAM, 2, 10);
  EMSMsgStore_AddMsgToIni(77, EMS_FOLDER_DRAFT, FILETIME{1, 0});  // stale, kept
  EMSMsgStore_AddMsgToIni(78, EMS_FOLDER_SPAM, FILETIME{1, 0});
  const std::vector<char> draftBefore = Bytes(Dir(false, "DRAFT") + "/EmsIni");
  ASSERT_EQ(16u, draftBefore.size());
  Put(false, EMS_FOLDER_REPORT, 3, 40);
  Put(false, EMS_FOLDER_REPORT, 4, 60);
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(draftBefore, Bytes(Dir(false, "DRAFT") + "/EmsIni"));
  std::vector<tagOidArray> spam = Index(EMS_FOLDER_SPAM);
  ASSERT_EQ(1u, spam.size());
  EXPECT_EQ(78u, spam[0].dwOid);
  std::vector<tagOidArray> report = Index(EMS_FOLDER_REPORT);
  ASSERT_EQ(2u, report.size());
  EXPECT_EQ(4u, report[0].dwOid);
  EXPECT_EQ(3u, report[1].dwOid);
}

TEST_F(EmsListTest, RefreshRebuildsSentAndUnsentWithSimCopies) {
  Put(false, EMS_FOLDER_SENT, 1, 10);
  Put(false, EMS_FOLDER_SIM_SENT, 2, 20);
  Put(false, EMS_FOLDER_UNSENT, 3, 10);
  Put(false, EMS_FOLDER_SIM_UNSENT, 4, 5);
  EMSMsgStore_AddMsgToIni(77, EMS_FOLDER_SENT, FILETIME{1, 0});    // stale, dropped
  EMSMsgStore_AddMsgToIni(78, EMS_FOLDER_UNSENT, FILETIME{1, 0});  // stale, dropped
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  std::vector<tagOidArray> sent = Index(EMS_FOLDER_SENT);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(2u, sent[0].dwOid);
  EXPECT_EQ(EMS_FOLDER_SIM_SENT, sent[0].byFolder);
  EXPECT_EQ(1u, sent[1].dwOid);
  std::vector<tagOidArray> unsent = Index(EMS_FOLDER_UNSENT);
  ASSERT_EQ(2u, unsent.size());
  EXPECT_EQ(3u, unsent[0].dwOid);
  EXPECT_EQ(4u, unsent[1].dwOid);
  EXPECT_EQ(EMS_FOLDER_SIM_UNSENT, unsent[1].byFolder);
}

TEST_F(EmsListTest, RefreshIndexesUnreadableMessageWithTimeZero) {
  Put(false, EMS_FOLDER_SENT, 1, 10);
  std::ofstream(Dir(false, "SENT") + "/2.sms") << "tiny";
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  const std::vector<char> bytes = Bytes(Dir(false, "SENT") + "/EmsIni");
  ASSERT_EQ(32u, bytes.size());
  const std::vector<char> last(bytes.begin() + 16, bytes.end());
  EXPECT_EQ((std::vector<char>{3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), last);
}

}  // namespace
