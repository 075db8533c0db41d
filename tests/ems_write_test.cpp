// The EMS write path: identifier allocation, the folder limit and every way
// of making room for a new message, rewrites and the oldest-message query.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ems/ems_internal.h"
#include "msgstore/ems.h"
#include "test_support.h"

namespace {

using msgstore_test::DeviceTest;

tagMSGPROPS Message(DWORD folder, DWORD time) {
  tagMSGPROPS props = {};
  props.dwFolder = folder;
  props.ftIndexTime = {time, 0};
  props.pszSubject = const_cast<WCHAR*>(u"hello");
  return props;
}

class EmsWriteTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    EMSMsgStore_CreateDir(false);
    EMSMsgStore_CreateDir(true);
  }

  // Stores count messages with identifiers first, first + 1, ... and times
  // that grow with the identifier, bypassing the write path (phone messages
  // are indexed).
  void Fill(bool card, DWORD folder, DWORD count, DWORD first = 1001) {
    for (DWORD i = 0; i < count; ++i) PutMessage(card, folder, first + i, 100 + i);
  }
  void PutMessage(bool card, DWORD folder, DWORD oid, DWORD time) {
    tagMSGPROPS props = Message(folder, time);
    props.dwOid = oid;
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, EMSMsgStore_GetFilePath(card, oid, folder, path));
    ASSERT_EQ(1, EMSMsgStore_WriteToFile(path, &props));
    if (!card) EMSMsgStore_AddMsgToIni(oid, folder, props.ftIndexTime);
  }
  std::string Dir(bool card, const std::string& folder) const {
    return Host(std::string(card ? "SD Card" : "DiskOnChip") + "/User/MESSAGING/EMS/" + folder);
  }
  bool Exists(bool card, const std::string& folder, const std::string& name) const {
    return std::filesystem::exists(Dir(card, folder) + "/" + name);
  }
  std::vector<unsigned char> CounterBytes() const {
    std::ifstream in(Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void SetCounter(DWORD value) {
    std::ofstream out(Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini"), std::ios::binary);
    const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                           static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
    out.write(bytes, 4);
  }
  std::vector<DWORD> IndexOids(DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetQuickMsgList(list, folder);
    std::vector<DWORD> oids;
    for (long i = 0; i < list.GetSize(); ++i) oids.push_back(list[i].dwOid);
    return oids;
  }
  DWORD Count(bool card, DWORD folder) { return EMSMsgStore_GetFolderMessageCount(card, folder); }
};

// ---------------------------------------------------------------------------
// Identifier counter
// ---------------------------------------------------------------------------

TEST_F(EmsWriteTest, FirstIdentifierIsOneAndCounterHoldsItLittleEndian) {
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 5);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(1u, props.dwOid);
  EXPECT_EQ((std::vector<unsigned char>{1, 0, 0, 0}), CounterBytes());
  EXPECT_TRUE(Exists(false, "INBOX", "1.sms"));
  EXPECT_EQ(std::vector<DWORD>{1}, IndexOids(EMS_FOLDER_INBOX));

  EXPECT_EQ(2u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ((std::vector<unsigned char>{2, 0, 0, 0}), CounterBytes());
}

TEST_F(EmsWriteTest, CounterContinuesFromStoredValueAcrossBytes) {
  SetCounter(0x000102FF);
  EXPECT_EQ(0x00010300u, msgstore::ems::GetNextEmsOid());
  EXPECT_EQ((std::vector<unsigned char>{0x00, 0x03, 0x01, 0x00}), CounterBytes());
}

TEST_F(EmsWriteTest, IdentifierAboveSignedRangeNamesFileWithMinusSign) {
  SetCounter(0xFFFFFFFA);
  tagMSGPROPS props = Message(EMS_FOLDER_DRAFT, 5);
  EXPECT_EQ(0xFFFFFFFBu, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_TRUE(Exists(false, "DRAFT", "-5.sms"));
}

TEST_F(EmsWriteTest, NullRecordWritesNothing) {
  EXPECT_EQ(0u, EMSMsgStore_WriteMessage(false, nullptr, 0, nullptr));
  EXPECT_TRUE(CounterBytes().empty());
}

TEST_F(EmsWriteTest, FolderWithoutDirectoryOnStorageFails) {
  tagMSGPROPS props = Message(EMS_FOLDER_REPORT, 5);
  EXPECT_EQ(0u, EMSMsgStore_WriteMessage(true, &props, 0, nullptr));
  props.dwFolder = 9;
  EXPECT_EQ(0u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
}

// ---------------------------------------------------------------------------
// Folder limit in phone memory
// ---------------------------------------------------------------------------

TEST_F(EmsWriteTest, NinetyNineMessagesLeaveRoomForOneMore) {
  Fill(false, EMS_FOLDER_INBOX, 99);
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(100u, Count(false, EMS_FOLDER_INBOX));
  EXPECT_TRUE(Exists(false, "INBOX", "1001.sms"));
  EXPECT_EQ(100u, IndexOids(EMS_FOLDER_INBOX).size());
}

TEST_F(EmsWriteTest, FullInboxWithoutAutomaticStorageRefusesAndWritesNothing) {
  Fill(false, EMS_FOLDER_INBOX, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  EXPECT_EQ(0u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(100u, Count(false, EMS_FOLDER_INBOX));
  EXPECT_TRUE(Exists(false, "INBOX", "1001.sms"));
  EXPECT_TRUE(CounterBytes().empty());

  int storage = 0;
  EXPECT_EQ(0u, EMSMsgStore_WriteMessage(false, &props, 0, &storage));
  EXPECT_EQ(STORAGE_INBOX_FULL, storage);
  EXPECT_EQ(0u, Count(true, EMS_FOLDER_INBOX));
}

TEST_F(EmsWriteTest, SimCopiesInTheInboxIndexDoNotCountTowardsTheLimit) {
  Fill(false, EMS_FOLDER_INBOX, 99);
  Fill(false, EMS_FOLDER_SIM_INBOX, 3, 2001);
  ASSERT_EQ(102u, IndexOids(EMS_FOLDER_INBOX).size());
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(100u, Count(false, EMS_FOLDER_INBOX));
}

TEST_F(EmsWriteTest, FullDraftEvictsOldestFileAndIndexRecord) {
  Fill(false, EMS_FOLDER_DRAFT, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_DRAFT, 500);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_FALSE(Exists(false, "DRAFT", "1001.sms"));
  EXPECT_TRUE(Exists(false, "DRAFT", "1002.sms"));
  EXPECT_TRUE(Exists(false, "DRAFT", "1.sms"));
  std::vector<DWORD> oids = IndexOids(EMS_FOLDER_DRAFT);
  ASSERT_EQ(100u, oids.size());
  EXPECT_EQ(1u, oids.front());
  EXPECT_EQ(1002u, oids.back());
}

TEST_F(EmsWriteTest, SimFoldersHaveNoLimit) {
  Fill(false, EMS_FOLDER_SIM_SENT, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_SIM_SENT, 500);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(101u, Count(false, EMS_FOLDER_SIM_SENT));
}

TEST_F(EmsWriteTest, SimInboxWithCardSelectorLandsInPhoneWithoutIndex) {
  tagMSGPROPS props = Message(EMS_FOLDER_SIM_INBOX, 5);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(true, &props, 0, nullptr));
  EXPECT_TRUE(Exists(false, "SIM_INBOX", "1.sms"));
  EXPECT_FALSE(std::filesystem::exists(Dir(false, "INBOX") + "/EmsIni"));
}

TEST_F(EmsWriteTest, PhoneSimInboxMessageIsIndexedInInboxIndex) {
  tagMSGPROPS props = Message(EMS_FOLDER_SIM_INBOX, 5);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  CMsgList list;
  ASSERT_EQ(1u, EMSMsgStore_GetQuickMsgList(list, EMS_FOLDER_INBOX));
  EXPECT_EQ(EMS_FOLDER_SIM_INBOX, list[0].byFolder);
  EXPECT_EQ(1u, list[0].dwOid);
}

// ---------------------------------------------------------------------------
// Automatic storage
// ---------------------------------------------------------------------------

TEST_F(EmsWriteTest, FullPhoneInboxWithAutoGoesToCard) {
  Fill(false, EMS_FOLDER_INBOX, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, "INBOX", "1.sms"));
  EXPECT_EQ(100u, Count(false, EMS_FOLDER_INBOX));
  EXPECT_TRUE(Exists(false, "INBOX", "1001.sms"));
  EXPECT_EQ(100u, IndexOids(EMS_FOLDER_INBOX).size());
}

TEST_F(EmsWriteTest, CardThatCannotTakeMessageLeadsToPhoneEviction) {
  struct Case {
    int flag;
    DWORD folder;
    const char* name;
  };
  for (const Case& c : {Case{2, EMS_FOLDER_SENT, "SENT"}, Case{4, EMS_FOLDER_UNSENT, "UNSENT"}}) {
    SCOPED_TRACE(c.flag);
    Fill(false, c.folder, 100);
    platform_.cardState = 1 | c.flag;
    tagMSGPROPS props = Message(c.folder, 500);
    int storage = STORAGE_AUTO;
    const DWORD oid = EMSMsgStore_WriteMessage(false, &props, 0, &storage);
    EXPECT_NE(0u, oid);
    EXPECT_EQ(STORAGE_AUTO, storage);
    EXPECT_FALSE(Exists(false, c.name, "1001.sms"));
    EXPECT_TRUE(Exists(false, c.name, std::to_string(oid) + ".sms"));
    EXPECT_EQ(100u, Count(false, c.folder));
    EXPECT_EQ(0u, Count(true, c.folder));
  }
}

TEST_F(EmsWriteTest, FullCardWithAutoGoesToPhoneAndIndexes) {
  Fill(true, EMS_FOLDER_INBOX, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(true, &props, 0, &storage));
  EXPECT_EQ(0, storage);
  EXPECT_TRUE(Exists(false, "INBOX", "1.sms"));
  EXPECT_EQ(std::vector<DWORD>{1}, IndexOids(EMS_FOLDER_INBOX));
  EXPECT_EQ(100u, Count(true, EMS_FOLDER_INBOX));
}

TEST_F(EmsWriteTest, BothFullFromPhoneEvictsCardOldestByTime) {
  Fill(false, EMS_FOLDER_INBOX, 100);
  Fill(true, EMS_FOLDER_INBOX, 100, 3001);
  PutMessage(true, EMS_FOLDER_INBOX, 3050, 7);  // the card's oldest, not its lowest number
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_FALSE(Exists(true, "INBOX", "3050.sms"));
  EXPECT_TRUE(Exists(true, "INBOX", "3001.sms"));
  EXPECT_TRUE(Exists(true, "INBOX", "1.sms"));
  EXPECT_EQ(100u, Count(true, EMS_FOLDER_INBOX));
  EXPECT_EQ(100u, Count(false, EMS_FOLDER_INBOX));
  EXPECT_TRUE(Exists(false, "INBOX", "1001.sms"));
}

TEST_F(EmsWriteTest, BothFullFromCardEvictsCardOldestAndKeepsStorageArgument) {
  Fill(false, EMS_FOLDER_SPAM, 100);
  Fill(true, EMS_FOLDER_SPAM, 100, 3001);
  tagMSGPROPS props = Message(EMS_FOLDER_SPAM, 500);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(true, &props, 0, &storage));
  EXPECT_EQ(STORAGE_AUTO, storage);
  EXPECT_FALSE(Exists(true, "SPAM", "3001.sms"));
  EXPECT_TRUE(Exists(true, "SPAM", "1.sms"));
  EXPECT_TRUE(Exists(false, "SPAM", "1001.sms"));
}

TEST_F(EmsWriteTest, StorageArgumentOtherThanAutoEvictsInsteadOfMoving) {
  Fill(false, EMS_FOLDER_UNSENT, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_UNSENT, 500);
  int storage = 1;
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_FALSE(Exists(false, "UNSENT", "1001.sms"));
  EXPECT_TRUE(Exists(false, "UNSENT", "1.sms"));
}

TEST_F(EmsWriteTest, StorageArgumentUntouchedWhenThereIsRoom) {
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 500);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, &storage));
  EXPECT_EQ(STORAGE_AUTO, storage);
}

// ---------------------------------------------------------------------------
// Names on the card, rewrites
// ---------------------------------------------------------------------------

TEST_F(EmsWriteTest, TakenNamesOnCardConsumeIdentifiers) {
  PutMessage(true, EMS_FOLDER_DRAFT, 1, 10);
  PutMessage(true, EMS_FOLDER_DRAFT, 2, 11);
  tagMSGPROPS props = Message(EMS_FOLDER_DRAFT, 500);
  EXPECT_EQ(3u, EMSMsgStore_WriteMessage(true, &props, 0, nullptr));
  EXPECT_EQ(3u, props.dwOid);
  EXPECT_EQ((std::vector<unsigned char>{3, 0, 0, 0}), CounterBytes());
  EXPECT_EQ(3u, Count(true, EMS_FOLDER_DRAFT));
}

TEST_F(EmsWriteTest, PhoneReplacesFileOfSameName) {
  PutMessage(false, EMS_FOLDER_DRAFT, 1, 10);
  tagMSGPROPS props = Message(EMS_FOLDER_DRAFT, 500);
  props.pszSubject = const_cast<WCHAR*>(u"new");
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  tagMSGPROPS read = {};
  ASSERT_EQ(1, EMSMsgStore_ReadFolderMessage(false, EMS_FOLDER_DRAFT, 0, 1, false, &read));
  EXPECT_EQ(std::u16string(u"new"), read.pszSubject);
  EMSMsgStore_FreeMsgProps(&read);
}

TEST_F(EmsWriteTest, RewriteInFullFolderKeepsIdentifierAndMovesIndexRecord) {
  Fill(false, EMS_FOLDER_INBOX, 100);
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 1000);  // now the newest
  props.dwOid = 0;
  EXPECT_EQ(1050u, EMSMsgStore_WriteMessage(false, &props, 1050, nullptr));
  EXPECT_EQ(1050u, props.dwOid);
  EXPECT_TRUE(CounterBytes().empty());
  EXPECT_TRUE(Exists(false, "INBOX", "1001.sms"));
  EXPECT_EQ(100u, Count(false, EMS_FOLDER_INBOX));
  std::vector<DWORD> oids = IndexOids(EMS_FOLDER_INBOX);
  ASSERT_EQ(100u, oids.size());
  EXPECT_EQ(1050u, oids.front());
  EXPECT_EQ(1, std::count(oids.begin(), oids.end(), 1050u));
}

TEST_F(EmsWriteTest, RewriteOnCardDoesNotDrawIdentifier) {
  PutMessage(true, EMS_FOLDER_INBOX, 7, 10);
  tagMSGPROPS props = Message(EMS_FOLDER_INBOX, 20);
  EXPECT_EQ(7u, EMSMsgStore_WriteMessage(true, &props, 7, nullptr));
  EXPECT_TRUE(CounterBytes().empty());
  EXPECT_FALSE(std::filesystem::exists(Dir(false, "INBOX") + "/EmsIni"));
}

// ---------------------------------------------------------------------------
// Oldest message and count
// ---------------------------------------------------------------------------

TEST_F(EmsWriteTest, LastRecordInPhoneSkipsSimCopies) {
  PutMessage(false, EMS_FOLDER_INBOX, 5, 300);
  PutMessage(false, EMS_FOLDER_INBOX, 6, 200);
  PutMessage(false, EMS_FOLDER_SIM_INBOX, 7, 100);  // older, but a SIM copy
  DWORD count = 99;
  EXPECT_EQ(6u, EMSMsgStore_GetLastRecord(false, EMS_FOLDER_INBOX, &count));
  EXPECT_EQ(2u, count);
}

TEST_F(EmsWriteTest, LastRecordOfEmptyFolderIsZero) {
  DWORD count = 99;
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(false, EMS_FOLDER_DRAFT, &count));
  EXPECT_EQ(0u, count);
  count = 99;
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(true, EMS_FOLDER_DRAFT, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(false, EMS_FOLDER_DRAFT, nullptr));
}

TEST_F(EmsWriteTest, LastRecordOnCardIsStrictlyEarliestFirstInDirectoryOrderOnTies) {
  PutMessage(true, EMS_FOLDER_SENT, 1, 50);
  PutMessage(true, EMS_FOLDER_SENT, 2, 20);
  PutMessage(true, EMS_FOLDER_SENT, 3, 20);
  PutMessage(true, EMS_FOLDER_SENT, 4, 90);
  CMsgList list;
  ASSERT_EQ(4u, EMSMsgStore_GetMessageList(true, EMS_FOLDER_SENT, list));
  DWORD firstOfTie = 0;
  for (long i = 0; i < list.GetSize() && firstOfTie == 0; ++i) {
    if (list[i].dwOid == 2 || list[i].dwOid == 3) firstOfTie = list[i].dwOid;
  }
  DWORD count = 0;
  EXPECT_EQ(firstOfTie, EMSMsgStore_GetLastRecord(true, EMS_FOLDER_SENT, &count));
  EXPECT_EQ(4u, count);
}

TEST_F(EmsWriteTest, LastRecordOnCardSkipsUnreadableFiles) {
  PutMessage(true, EMS_FOLDER_SENT, 1, 50);
  std::ofstream(Dir(true, "SENT") + "/2.sms") << "short";
  DWORD count = 0;
  EXPECT_EQ(1u, EMSMsgStore_GetLastRecord(true, EMS_FOLDER_SENT, &count));
  EXPECT_EQ(2u, count);
}

}  // namespace
