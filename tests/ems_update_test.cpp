// EMS updates: field setters, moves with their counter effects, deletion and
// emptying.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "msgstore/ems.h"
#include "test_support.h"

namespace {

using msgstore_test::DeviceTest;
using Calls = std::vector<std::string>;

class EmsUpdateTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    EMSMsgStore_CreateDir(false);
    EMSMsgStore_CreateDir(true);
  }

  // A new message through the write path; its identifier.
  DWORD Write(bool card, DWORD folder, DWORD time, BOOL read = 0) {
    tagMSGPROPS props = {};
    props.dwFolder = folder;
    props.bRead = read;
    props.ftIndexTime = {time, 0};
    props.ftTime = {time + 1, 0};
    props.pszSubject = const_cast<WCHAR*>(u"subject");
    props.pszTo = const_cast<WCHAR*>(u"+4930123");
    props.pszMsgID = const_cast<WCHAR*>(u"id-1");
    static const BYTE kContent[] = {1, 2, 3};
    props.pData = const_cast<BYTE*>(kContent);
    props.cbData = sizeof kContent;
    const DWORD oid = EMSMsgStore_WriteMessage(card, &props, 0, nullptr);
    EXPECT_NE(0u, oid);
    return oid;
  }
  std::string File(bool card, const std::string& folder, DWORD oid) const {
    return Host(std::string(card ? "SD Card" : "DiskOnChip") + "/User/MESSAGING/EMS/" + folder +
                "/" + std::to_string(oid) + ".sms");
  }
  std::vector<tagOidArray> Index(DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetQuickMsgList(list, folder);
    std::vector<tagOidArray> out;
    for (long i = 0; i < list.GetSize(); ++i) out.push_back(list[i]);
    return out;
  }
  std::vector<DWORD> IndexOids(DWORD folder) {
    std::vector<DWORD> oids;
    for (const tagOidArray& e : Index(folder)) oids.push_back(e.dwOid);
    return oids;
  }
};

// Reads a message whole and releases it on the way out.
struct Read {
  Read(bool card, DWORD folder, DWORD oid) : props{} {
    ok = EMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &props);
  }
  ~Read() { EMSMsgStore_FreeMsgProps(&props); }
  int ok;
  tagMSGPROPS props;
};

// ---------------------------------------------------------------------------
// Field setters
// ---------------------------------------------------------------------------

TEST_F(EmsUpdateTest, SetStatusRewritesUnderSameIdentifier) {
  const DWORD oid = Write(false, EMS_FOLDER_DRAFT, 10);
  EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetStatus(false, EMS_FOLDER_DRAFT, oid, 0x1234));
  Read r(false, EMS_FOLDER_DRAFT, oid);
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(0x1234, r.props.wStatus);
  EXPECT_EQ(std::u16string(u"subject"), r.props.pszSubject);
  ASSERT_EQ(3u, r.props.cbData);
  EXPECT_EQ(3, r.props.pData[2]);
  EXPECT_EQ(std::vector<DWORD>{oid}, IndexOids(EMS_FOLDER_DRAFT));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, SettersOnMissingMessageFailAndCreateNothing) {
  WCHAR subject[] = u"x";
  EXPECT_EQ(0, EMSMsgStore_SetSubject(false, EMS_FOLDER_INBOX, 42, subject));
  EXPECT_EQ(0, EMSMsgStore_SetRead(false, EMS_FOLDER_INBOX, 42, 1));
  EXPECT_EQ(0, EMSMsgStore_SetTime(true, EMS_FOLDER_INBOX, 42, FILETIME{1, 2}));
  EXPECT_EQ(0, EMSMsgStore_SetStatus(false, 9, 42, 1));
  EXPECT_FALSE(std::filesystem::exists(File(false, "INBOX", 42)));
  EXPECT_FALSE(std::filesystem::exists(Host("DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni")));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, SetterWithIdentifierZeroChangesNothing) {
  const DWORD oid = Write(false, EMS_FOLDER_DRAFT, 10);
  EXPECT_EQ(0, EMSMsgStore_SetStatus(false, EMS_FOLDER_DRAFT, 0, 7));
  EXPECT_EQ(1u, EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_DRAFT));
  Read r(false, EMS_FOLDER_DRAFT, oid);
  EXPECT_EQ(0, r.props.wStatus);
}

TEST_F(EmsUpdateTest, TextSettersStoreCallerStringsAndNullClears) {
  const DWORD oid = Write(true, EMS_FOLDER_SENT, 10);
  WCHAR subject[] = u"new subject";
  WCHAR to[] = u"+1555";
  WCHAR msgId[] = u"mid";
  EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetSubject(true, EMS_FOLDER_SENT, oid, subject));
  EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetTo(true, EMS_FOLDER_SENT, oid, to));
  EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetMsgID(true, EMS_FOLDER_SENT, oid, msgId));
  // The caller's strings are neither freed nor changed.
  EXPECT_EQ(std::u16string(u"new subject"), subject);
  {
    Read r(true, EMS_FOLDER_SENT, oid);
    ASSERT_EQ(1, r.ok);
    EXPECT_EQ(std::u16string(u"new subject"), r.props.pszSubject);
    EXPECT_EQ(std::u16string(u"+1555"), r.props.pszTo);
    EXPECT_EQ(std::u16string(u"mid"), r.props.pszMsgID);
    EXPECT_NE(subject, r.props.pszSubject);
  }
  EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetSubject(true, EMS_FOLDER_SENT, oid, nullptr));
  Read r(true, EMS_FOLDER_SENT, oid);
  EXPECT_EQ(nullptr, r.props.pszSubject);
  EXPECT_EQ(std::u16string(u"+1555"), r.props.pszTo);
}

TEST_F(EmsUpdateTest, SetTimeKeepsIndexTimeAndPlace) {
  const DWORD older = Write(false, EMS_FOLDER_INBOX, 10);
  const DWORD newer = Write(false, EMS_FOLDER_INBOX, 20);
  EXPECT_EQ(static_cast<int>(older),
            EMSMsgStore_SetTime(false, EMS_FOLDER_INBOX, older, FILETIME{999, 7}));
  Read r(false, EMS_FOLDER_INBOX, older);
  EXPECT_EQ(999u, r.props.ftTime.dwLowDateTime);
  EXPECT_EQ(7u, r.props.ftTime.dwHighDateTime);
  EXPECT_EQ(10u, r.props.ftIndexTime.dwLowDateTime);
  EXPECT_EQ((std::vector<DWORD>{newer, older}), IndexOids(EMS_FOLDER_INBOX));
}

TEST_F(EmsUpdateTest, SetReadCountsInboxOnEveryCall) {
  const DWORD phone = Write(false, EMS_FOLDER_INBOX, 10, 1);
  const DWORD card = Write(true, EMS_FOLDER_INBOX, 10);
  EXPECT_EQ(static_cast<int>(phone), EMSMsgStore_SetRead(false, EMS_FOLDER_INBOX, phone, 1));
  EXPECT_EQ(static_cast<int>(phone), EMSMsgStore_SetRead(false, EMS_FOLDER_INBOX, phone, 0));
  EXPECT_EQ(static_cast<int>(card), EMSMsgStore_SetRead(true, EMS_FOLDER_INBOX, card, 1));
  EXPECT_EQ(
      (Calls{"xSetEmsReadMsgCount(1)", "xSetEmsReadMsgCount(1)", "xSetEms_SDReadMsgCount(1)"}),
      platform_.calls);
  EXPECT_EQ(0, Read(false, EMS_FOLDER_INBOX, phone).props.bRead);
  EXPECT_EQ(1, Read(true, EMS_FOLDER_INBOX, card).props.bRead);
}

TEST_F(EmsUpdateTest, SetReadOutsideInboxCallsNoCounter) {
  const DWORD oid = Write(false, EMS_FOLDER_SPAM, 10);
  const DWORD sim = Write(false, EMS_FOLDER_SIM_INBOX, 10);
  EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetRead(false, EMS_FOLDER_SPAM, oid, 1));
  EXPECT_EQ(static_cast<int>(sim), EMSMsgStore_SetRead(false, EMS_FOLDER_SIM_INBOX, sim, 1));
  EXPECT_TRUE(platform_.calls.empty());
  EXPECT_EQ(1, Read(false, EMS_FOLDER_SPAM, oid).props.bRead);
}

// ---------------------------------------------------------------------------
// Moves
// ---------------------------------------------------------------------------

TEST_F(EmsUpdateTest, MoveReadInboxMessageToSpamInPhone) {
  const DWORD oid = Write(false, EMS_FOLDER_INBOX, 10, 1);
  int storage = 77;
  DWORD newOid = 0;
  EXPECT_EQ(
      1, EMSMsgStore_SetFolder(false, EMS_FOLDER_INBOX, oid, EMS_FOLDER_SPAM, &storage, &newOid));
  EXPECT_EQ(oid + 1, newOid);
  EXPECT_EQ(77, storage);
  EXPECT_FALSE(std::filesystem::exists(File(false, "INBOX", oid)));
  EXPECT_TRUE(std::filesystem::exists(File(false, "SPAM", newOid)));
  EXPECT_TRUE(IndexOids(EMS_FOLDER_INBOX).empty());
  EXPECT_EQ(std::vector<DWORD>{newOid}, IndexOids(EMS_FOLDER_SPAM));
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(-1)", "xSetEmsReadMsgCount(-1)"}), platform_.calls);
  Read r(false, EMS_FOLDER_SPAM, newOid);
  EXPECT_EQ(EMS_FOLDER_SPAM, r.props.dwFolder);
  EXPECT_EQ(newOid, r.props.dwOid);
  EXPECT_EQ(std::u16string(u"subject"), r.props.pszSubject);
}

TEST_F(EmsUpdateTest, MoveCounterEffects) {
  struct Case {
    bool card;
    DWORD from;
    DWORD to;
    BOOL read;
    Calls calls;
  };
  const Case cases[] = {
      {false, EMS_FOLDER_INBOX, EMS_FOLDER_SENT, 0, {"xSetEmsRecvMsgCount(-1)"}},
      {true,
       EMS_FOLDER_INBOX,
       EMS_FOLDER_DRAFT,
       1,
       {"xSetEms_SDRecvMsgCount(-1)", "xSetEms_SDReadMsgCount(-1)"}},
      {false,
       EMS_FOLDER_DRAFT,
       EMS_FOLDER_INBOX,
       1,
       {"xSetEmsRecvMsgCount(1)", "xSetEmsReadMsgCount(1)"}},
      {true, EMS_FOLDER_SPAM, EMS_FOLDER_INBOX, 0, {"xSetEms_SDRecvMsgCount(1)"}},
      {false,
       EMS_FOLDER_INBOX,
       EMS_FOLDER_INBOX,
       0,
       {"xSetEmsRecvMsgCount(1)", "xSetEmsRecvMsgCount(-1)"}},
      {false, EMS_FOLDER_INBOX, EMS_FOLDER_SIM_INBOX, 1, {}},
      {false, EMS_FOLDER_SIM_INBOX, EMS_FOLDER_INBOX, 1, {}},
      {false, EMS_FOLDER_SIM_INBOX, EMS_FOLDER_SPAM, 1, {}},
      {false, EMS_FOLDER_SIM_SENT, EMS_FOLDER_SENT, 1, {}},
      {true, EMS_FOLDER_DRAFT, EMS_FOLDER_UNSENT, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.card) + " " + std::to_string(c.from) + "->" +
                 std::to_string(c.to));
    const DWORD oid = Write(c.card, c.from, 10, c.read);
    platform_.calls.clear();
    DWORD newOid = 0;
    EXPECT_EQ(1, EMSMsgStore_SetFolder(c.card, c.from, oid, c.to, nullptr, &newOid));
    EXPECT_NE(0u, newOid);
    EXPECT_EQ(c.calls, platform_.calls);
  }
}

TEST_F(EmsUpdateTest, MoveCardMessageToSimInboxGoesToPhone) {
  const DWORD oid = Write(true, EMS_FOLDER_INBOX, 10);
  DWORD newOid = 0;
  EXPECT_EQ(1, EMSMsgStore_SetFolder(true, EMS_FOLDER_INBOX, oid, EMS_FOLDER_SIM_INBOX, nullptr,
                                     &newOid));
  EXPECT_FALSE(std::filesystem::exists(File(true, "INBOX", oid)));
  EXPECT_TRUE(std::filesystem::exists(File(false, "SIM_INBOX", newOid)));
  std::vector<tagOidArray> index = Index(EMS_FOLDER_INBOX);
  ASSERT_EQ(1u, index.size());
  EXPECT_EQ(EMS_FOLDER_SIM_INBOX, index[0].byFolder);
  EXPECT_EQ(newOid, index[0].dwOid);
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, MoveOfMissingMessageFailsAndLeavesNewIdentifierAlone) {
  int storage = 5;
  DWORD newOid = 123;
  EXPECT_EQ(0,
            EMSMsgStore_SetFolder(false, EMS_FOLDER_DRAFT, 8, EMS_FOLDER_SENT, &storage, &newOid));
  EXPECT_EQ(123u, newOid);
  EXPECT_EQ(5, storage);
  EXPECT_EQ(0u, EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_SENT));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, MoveIntoFullPhoneInboxGoesToCardAndReportsIt) {
  for (DWORD i = 0; i < 100; ++i) {
    tagMSGPROPS props = {};
    props.dwFolder = EMS_FOLDER_INBOX;
    props.ftIndexTime = {100 + i, 0};
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, EMSMsgStore_GetFilePath(false, 1000 + i, EMS_FOLDER_INBOX, path));
    ASSERT_EQ(1, EMSMsgStore_WriteToFile(path, &props));
    EMSMsgStore_AddMsgToIni(1000 + i, EMS_FOLDER_INBOX, props.ftIndexTime);
  }
  const DWORD oid = Write(false, EMS_FOLDER_DRAFT, 10, 1);
  int storage = 9;
  DWORD newOid = 0;
  EXPECT_EQ(
      1, EMSMsgStore_SetFolder(false, EMS_FOLDER_DRAFT, oid, EMS_FOLDER_INBOX, &storage, &newOid));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(std::filesystem::exists(File(true, "INBOX", newOid)));
  EXPECT_FALSE(std::filesystem::exists(File(false, "DRAFT", oid)));
  EXPECT_TRUE(IndexOids(EMS_FOLDER_DRAFT).empty());
  // The counters follow the caller's storage, not where the copy went.
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(1)", "xSetEmsReadMsgCount(1)"}), platform_.calls);
}

TEST_F(EmsUpdateTest, FailedWriteOfMoveKeepsOriginalAndReportsZero) {
  const DWORD oid = Write(false, EMS_FOLDER_INBOX, 10, 1);
  int storage = 4;
  DWORD newOid = 5;
  EXPECT_EQ(0, EMSMsgStore_SetFolder(false, EMS_FOLDER_INBOX, oid, 9, &storage, &newOid));
  EXPECT_EQ(0u, newOid);
  EXPECT_EQ(4, storage);
  EXPECT_TRUE(std::filesystem::exists(File(false, "INBOX", oid)));
  EXPECT_EQ(std::vector<DWORD>{oid}, IndexOids(EMS_FOLDER_INBOX));
  EXPECT_TRUE(platform_.calls.empty());
}

// ---------------------------------------------------------------------------
// Deletion
// ---------------------------------------------------------------------------

TEST_F(EmsUpdateTest, DeleteInboxMessagesCountsReceivedOnly) {
  const DWORD phone = Write(false, EMS_FOLDER_INBOX, 10, 1);
  const DWORD card = Write(true, EMS_FOLDER_INBOX, 10, 1);
  const DWORD sim = Write(false, EMS_FOLDER_SIM_INBOX, 10, 1);
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, EMS_FOLDER_INBOX, phone));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(true, EMS_FOLDER_INBOX, card));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, EMS_FOLDER_SIM_INBOX, sim));
  EXPECT_EQ(
      (Calls{"xSetEmsRecvMsgCount(-1)", "xSetEms_SDRecvMsgCount(-1)", "xSetEmsRecvMsgCount(-1)"}),
      platform_.calls);
  EXPECT_FALSE(std::filesystem::exists(File(true, "INBOX", card)));
  EXPECT_TRUE(IndexOids(EMS_FOLDER_INBOX).empty());
}

TEST_F(EmsUpdateTest, DeleteDraftRemovesIndexRecord) {
  const DWORD keep = Write(false, EMS_FOLDER_DRAFT, 10);
  const DWORD gone = Write(false, EMS_FOLDER_DRAFT, 20);
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, EMS_FOLDER_DRAFT, gone));
  EXPECT_FALSE(std::filesystem::exists(File(false, "DRAFT", gone)));
  EXPECT_EQ(std::vector<DWORD>{keep}, IndexOids(EMS_FOLDER_DRAFT));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, DeleteSimCopiesLowersSimCountsNeverBelowZero) {
  const DWORD sent = Write(false, EMS_FOLDER_SIM_SENT, 10);
  const DWORD unsent = Write(false, EMS_FOLDER_SIM_UNSENT, 10);
  platform_.simSent = 0;
  platform_.simUnsent = 3;
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, EMS_FOLDER_SIM_SENT, sent));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, EMS_FOLDER_SIM_UNSENT, unsent));
  EXPECT_EQ(0u, platform_.simSent);
  EXPECT_EQ(2u, platform_.simUnsent);
  EXPECT_EQ(Calls{"xSetUnsentSmsCountInSim(2)"}, platform_.calls);
  EXPECT_TRUE(IndexOids(EMS_FOLDER_SENT).empty());
  EXPECT_TRUE(IndexOids(EMS_FOLDER_UNSENT).empty());
}

TEST_F(EmsUpdateTest, SimCountIsLoweredEvenWhenNothingIsDeleted) {
  platform_.simSent = 2;
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, EMS_FOLDER_SIM_SENT, 0xFFFF));
  EXPECT_EQ(Calls{"xSetSentSmsCountInSim(1)"}, platform_.calls);
}

TEST_F(EmsUpdateTest, DeletingVanishedFileHealsPhoneIndexButFailsOnCard) {
  const DWORD phone = Write(false, EMS_FOLDER_INBOX, 10);
  const DWORD card = Write(true, EMS_FOLDER_INBOX, 10);
  std::filesystem::remove(File(false, "INBOX", phone));
  std::filesystem::remove(File(true, "INBOX", card));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, EMS_FOLDER_INBOX, phone));
  EXPECT_TRUE(IndexOids(EMS_FOLDER_INBOX).empty());
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, EMS_FOLDER_INBOX, card));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, DeleteInInvalidFolderFails) {
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(false, 9, 1));
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, EMS_FOLDER_REPORT, 1));
}

// ---------------------------------------------------------------------------
// Emptying
// ---------------------------------------------------------------------------

TEST_F(EmsUpdateTest, EmptyPhoneInboxKeepsIndexAndNotifiesShell) {
  const DWORD a = Write(false, EMS_FOLDER_INBOX, 10);
  Write(false, EMS_FOLDER_INBOX, 20);
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(false, EMS_FOLDER_INBOX));
  EXPECT_EQ(0u, EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_INBOX));
  EXPECT_FALSE(std::filesystem::exists(File(false, "INBOX", a)));
  EXPECT_TRUE(std::filesystem::exists(Host("DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni")));
  ASSERT_EQ(1u, platform_.posted.size());
  EXPECT_EQ(std::u16string(u"WCE_APSHELL"), platform_.posted[0].className);
  EXPECT_EQ(0xC44u, platform_.posted[0].msg);
  EXPECT_EQ(0u, platform_.posted[0].wParam);
  EXPECT_EQ(0, platform_.posted[0].lParam);
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, EmptyCardInboxNotifiesShellToo) {
  Write(true, EMS_FOLDER_INBOX, 10);
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(true, EMS_FOLDER_INBOX));
  EXPECT_EQ(0u, EMSMsgStore_GetFolderMessageCount(true, EMS_FOLDER_INBOX));
  EXPECT_EQ(1u, platform_.posted.size());
}

TEST_F(EmsUpdateTest, EmptyOtherFoldersPostsNothing) {
  Write(false, EMS_FOLDER_DRAFT, 10);
  std::ofstream(Host("DiskOnChip/User/MESSAGING/EMS/DRAFT/note.txt")) << "keep";
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(false, EMS_FOLDER_DRAFT));
  EXPECT_EQ(0u, EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_DRAFT));
  EXPECT_TRUE(std::filesystem::exists(Host("DiskOnChip/User/MESSAGING/EMS/DRAFT/note.txt")));
  EXPECT_TRUE(platform_.posted.empty());
}

TEST_F(EmsUpdateTest, EmptyWithoutShellWindowOrValidFolder) {
  platform_.shellWindow = false;
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(false, EMS_FOLDER_INBOX));
  EXPECT_EQ(0, EMSMsgStore_EmptyFolder(true, EMS_FOLDER_SIM_INBOX));
  EXPECT_EQ(0, EMSMsgStore_EmptyFolder(false, 11));
  EXPECT_TRUE(platform_.posted.empty());
}

}  // namespace
