// MMS updates: moves between folders and storages, the read flag and the
// status, deletion and emptying.
#include <filesystem>
#include <string>
#include <vector>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;

class MmsUpdateTest : public msgstore_test::MmsTest {
 protected:
  // Whether the message file holds the record written by Write or Put, now
  // under folder and oid.
  void ExpectMessage(bool card, DWORD folder, DWORD oid, DWORD time) {
    Record r(card, folder, oid);
    ASSERT_EQ(1, r.ok) << folder << " " << oid;
    EXPECT_EQ(folder, r.props.dwFolder);
    EXPECT_EQ(oid, r.props.dwOid);
    EXPECT_EQ(time, r.props.ftIndexTime.dwLowDateTime);
    EXPECT_EQ(std::u16string(u"subject"), r.props.pszSubject);
    EXPECT_EQ(std::u16string(u"mms"), r.mms.pszMmsText);
    EXPECT_EQ(0x5151, r.mms.wMmsQuick1);
    ASSERT_EQ(kBodySize, r.props.cbData);
    EXPECT_EQ(10, r.props.pData[9]);
  }
};

TEST_F(MmsUpdateTest, MovesGiveANewIdentifierAndKeepTheMessage) {
  const struct {
    bool card;
    DWORD from, to;
    bool fromIndexed, toIndexed, toCard;
  } cases[] = {
      {false, kDraft, kSent, true, true, false},
      {true, kSpam, kInbox, false, false, true},
      {false, kAutoDownload, kInbox, false, true, false},
      {true, kAutoDownload, kInbox, false, false, true},
      {false, kInbox, kNone, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    const DWORD oid = Write(c.card, c.from, 40);
    const bool fromCard = c.card && c.from != kAutoDownload;
    DWORD moved = oid, storage = 7;
    EXPECT_EQ(1, MMSMsgStore_SetFolder(c.card, c.from, &moved, c.to, &storage));
    EXPECT_EQ(oid + 1, moved);
    EXPECT_EQ(kAuto, storage);
    EXPECT_FALSE(Exists(fromCard, c.from, oid));
    EXPECT_FALSE(fs::exists(IndexFile(c.from)));
    ExpectMessage(c.toCard, c.to, moved, 40);
    const std::vector<IndexRecord> added = {{c.to, moved, 40, 0}};
    EXPECT_EQ(c.toIndexed, Index(c.to) == added);
    EXPECT_EQ(c.toIndexed, fs::exists(IndexFile(c.to)));
  }
}

TEST_F(MmsUpdateTest, MoveIntoAFullPhoneFolderGoesToTheCardOrEvicts) {
  Fill(false, kInbox, 100);
  const DWORD first = Write(false, kDraft, 10), second = Write(false, kDraft, 20);
  DWORD moved = first, storage = 0;
  EXPECT_EQ(1, MMSMsgStore_SetFolder(false, kDraft, &moved, kInbox, &storage));
  EXPECT_EQ(1u, storage);
  ExpectMessage(true, kInbox, moved, 10);
  EXPECT_FALSE(Exists(false, kDraft, first));
  EXPECT_EQ(std::vector<DWORD>{second}, Oids(kDraft));
  EXPECT_EQ(100u, Count(false, kInbox));

  platform_.cardState = 3;
  moved = second;
  EXPECT_EQ(1, MMSMsgStore_SetFolder(false, kDraft, &moved, kInbox, nullptr));
  ExpectMessage(false, kInbox, moved, 20);
  EXPECT_FALSE(Exists(false, kInbox, 1051));
  EXPECT_EQ(100u, Oids(kInbox).size());
  EXPECT_EQ(0u, Count(false, kDraft));
}

TEST_F(MmsUpdateTest, FailedMovesKeepTheIdentifierAndReportTheStorage) {
  const DWORD oid = Write(false, kInbox, 10);
  DWORD moved = 42, storage = 5;
  EXPECT_EQ(0, MMSMsgStore_SetFolder(false, kDraft, &moved, kSent, &storage));
  EXPECT_EQ(42u, moved);
  EXPECT_EQ(kAuto, storage);
  EXPECT_EQ((Bytes{1, 0, 0, 0}), Load(CounterFile()));
  moved = oid;
  EXPECT_EQ(0, MMSMsgStore_SetFolder(true, kReport, &moved, kSent, nullptr));
  EXPECT_EQ(0, MMSMsgStore_SetFolder(false, kInbox, &moved, 9, &storage));
  EXPECT_EQ(oid, moved);
  EXPECT_EQ((Bytes{2, 0, 0, 0}), Load(CounterFile()));
  platform_.volumeFreeBytes = {{u"\\DiskOnChip", kBodySize - 1}, {u"\\SD Card", 0}};
  storage = 5;
  EXPECT_EQ(0, MMSMsgStore_SetFolder(false, kInbox, &moved, kSent, &storage));
  EXPECT_EQ(static_cast<DWORD>(STORAGE_NO_SPACE), storage);
  EXPECT_EQ(oid, moved);
  EXPECT_TRUE(Exists(false, kInbox, oid));
  EXPECT_EQ((std::vector<IndexRecord>{{kInbox, oid, 10, 0}}), Index(kInbox));
  EXPECT_EQ(0u, Count(false, kSent) + Count(true, kSent));

  // Identifier 0 moves a copy of the folder's last file, which stays.
  platform_.volumeFreeBytes.clear();
  moved = 0;
  EXPECT_EQ(0, MMSMsgStore_SetFolder(false, kInbox, &moved, kSent, &storage));
  EXPECT_EQ(0u, moved);
  EXPECT_TRUE(Exists(false, kInbox, oid));
  EXPECT_EQ(1u, Count(false, kSent));
}

TEST_F(MmsUpdateTest, ReadFlagAndStatusRewriteUnderTheSameIdentifier) {
  const DWORD a = Write(false, kInbox, 10), b = Write(false, kInbox, 10);
  EXPECT_EQ((std::vector<DWORD>{b, a}), Oids(kInbox));
  EXPECT_EQ(a, MMSMsgStore_SetReadStatus(false, kInbox, a, 2));
  EXPECT_EQ((std::vector<DWORD>{a, b}), Oids(kInbox));  // record added again: before its tie
  EXPECT_EQ(b, MMSMsgStore_SetStatus(false, kInbox, b, 0x12345));
  EXPECT_EQ((std::vector<DWORD>{b, a}), Oids(kInbox));
  EXPECT_EQ(a, MMSMsgStore_SetStatus(false, kInbox, a, -1));
  {
    Record ra(false, kInbox, a), rb(false, kInbox, b);
    EXPECT_EQ(2, ra.props.bRead);
    EXPECT_EQ(0xFFFF, ra.props.wStatus);
    EXPECT_EQ(0x2345, rb.props.wStatus);
    EXPECT_EQ(0, rb.props.bRead);
  }
  ExpectMessage(false, kInbox, a, 10);
  const DWORD c = Write(true, kSpam, 10);
  EXPECT_EQ(c, MMSMsgStore_SetReadStatus(true, kSpam, c, 1));
  EXPECT_EQ(c, MMSMsgStore_SetStatus(true, kSpam, c, 7));
  EXPECT_EQ(7, Record(true, kSpam, c).props.wStatus);
  EXPECT_FALSE(fs::exists(IndexFile(kSpam)));
  EXPECT_EQ((Bytes{3, 0, 0, 0}), Load(CounterFile()));

  // A missing message is not created.
  EXPECT_EQ(0u, MMSMsgStore_SetReadStatus(false, kDraft, 9, 1));
  EXPECT_EQ(0u, MMSMsgStore_SetStatus(true, kInbox, a, 1));
  EXPECT_EQ(0u, Count(false, kDraft) + Count(true, kInbox));
  EXPECT_FALSE(fs::exists(IndexFile(kDraft)));

  // Identifier 0 stores the folder's last file anew; the old file stays.
  CMsgList order;
  ASSERT_EQ(2u, MMSMsgStore_GetMessageList(false, kInbox, order));
  const DWORD last = order[1].dwOid;
  EXPECT_EQ(4u, MMSMsgStore_SetReadStatus(false, kInbox, 0, 1));
  EXPECT_EQ(3u, Count(false, kInbox));
  Record copy(false, kInbox, 4), original(false, kInbox, last);
  EXPECT_EQ(1, copy.props.bRead);
  EXPECT_EQ(original.props.wStatus, copy.props.wStatus);
  EXPECT_EQ(4u, copy.props.dwOid);
  EXPECT_EQ(5u, MMSMsgStore_SetStatus(false, kInbox, 0, 3));
  EXPECT_EQ(4u, Count(false, kInbox));
}

TEST_F(MmsUpdateTest, DeletionBySelectorAndWhatIsLeftOfTheFile) {
  const DWORD phone = Write(false, kInbox, 10), card = Write(true, kInbox, 20);
  const DWORD gone = Write(false, kInbox, 30), cardGone = Write(true, kSent, 30);
  const DWORD autoDl = Write(false, kAutoDownload, 5), none = Write(false, kNone, 5);
  const DWORD stuck = Write(false, kSpam, 5);
  fs::remove(File(false, kInbox, gone));
  fs::remove(File(true, kSent, cardGone));
  fs::remove(File(false, kSpam, stuck));
  fs::create_directory(File(false, kSpam, stuck));  // exists, cannot be deleted
  const struct {
    bool card;
    DWORD folder, oid;
    int result;
  } cases[] = {
      {false, kInbox, phone, 1},        {true, kInbox, card, 1},
      {false, kInbox, gone, 1},         {true, kSent, cardGone, 0},
      {true, kAutoDownload, autoDl, 1}, {true, kNone, none, 1},
      {false, kSpam, stuck, 0},         {false, 9, phone, 0},
      {true, kReport, phone, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.result, MMSMsgStore_DeleteMessage(c.card, c.folder, c.oid));
  EXPECT_EQ(0u, Count(false, kInbox) + Count(true, kInbox) + Count(false, kAutoDownload) +
                    Count(false, kNone));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
  EXPECT_EQ(std::vector<DWORD>{stuck}, Oids(kSpam));
}

TEST_F(MmsUpdateTest, EmptyFolderDeletesMessageFilesAndNotifiesTheShellForInboxes) {
  const DWORD oid = Write(false, kInbox, 10);
  Write(false, kInbox, 20);
  Write(true, kInbox, 10);
  Write(false, kSent, 10);
  Write(false, kAutoDownload, 10);
  Write(false, kNone, 10);
  const std::string note = Dir(false, kInbox) + "/note.txt";
  std::ofstream(note) << "keep";
  const Bytes index = Load(IndexFile(kInbox));
  ASSERT_EQ(32u, index.size());
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(false, kSent));
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(true, kAutoDownload));
  EXPECT_TRUE(platform_.posted.empty());
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(false, kInbox));
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(0u, Count(false, kInbox) + Count(true, kInbox) + Count(false, kSent) +
                    Count(false, kAutoDownload));
  EXPECT_TRUE(fs::exists(note));
  EXPECT_EQ(index, Load(IndexFile(kInbox)));
  EXPECT_EQ(oid, Index(kInbox)[1][1]);
  ASSERT_EQ(2u, platform_.posted.size());
  for (const auto& p : platform_.posted) {
    EXPECT_EQ(std::u16string(u"WCE_APSHELL"), p.className);
    EXPECT_EQ(0xC44u, p.msg);
    EXPECT_EQ(0u, p.wParam);
    EXPECT_EQ(1, p.lParam);
  }
  platform_.shellWindow = false;
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(false, kInbox));
  for (DWORD folder : {kNone, kReport, 9u}) EXPECT_EQ(0, MMSMsgStore_EmptyFolder(true, folder));
  EXPECT_EQ(0, MMSMsgStore_EmptyFolder(false, kNone));
  EXPECT_EQ(1u, Count(false, kNone));
  EXPECT_EQ(2u, platform_.posted.size());
}

}  // namespace
