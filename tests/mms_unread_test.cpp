// The MMS inbox unread count, and how it settles the download folder and the
// transient statuses of both inboxes on its way.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;

class MmsUnreadTest : public msgstore_test::MmsTest {
 protected:
  // The message files of an inbox, by identifier.
  std::vector<DWORD> Files(bool card) const {
    std::vector<DWORD> oids;
    for (const auto& e : fs::directory_iterator(Dir(card, kInbox)))
      if (e.path().extension() == ".mms") oids.push_back(std::stoul(e.path().stem().string()));
    std::sort(oids.begin(), oids.end());
    return oids;
  }
};

TEST_F(MmsUnreadTest, SettlesEachMessageByFolderFlagStatusAndText) {
  enum { kGone, kPhoneInbox, kCardInbox };
  const struct {
    bool card;
    DWORD folder;
    BOOL read;
    WORD status;
    bool text;
    DWORD count;
    int place;
    WORD statusAfter;
  } cases[] = {
      {false, kInbox, 0, 104, false, 1, kGone, 0},
      {false, kInbox, 0, 104, true, 1, kPhoneInbox, 101},
      {false, kInbox, 1, 104, true, 0, kPhoneInbox, 101},
      {false, kInbox, 1, 104, false, 0, kGone, 0},
      {false, kInbox, 0, 101, false, 1, kPhoneInbox, 101},
      {false, kInbox, 2, 7, false, 0, kPhoneInbox, 7},
      {true, kInbox, 0, 104, false, 1, kGone, 0},
      {true, kInbox, 1, 104, true, 0, kCardInbox, 101},
      {true, kInbox, 0, 3, true, 1, kCardInbox, 3},
      {false, kAutoDownload, 0, 0, false, 0, kGone, 0},
      {false, kAutoDownload, 0, 7, true, 1, kPhoneInbox, 101},
      {false, kAutoDownload, 1, 104, true, 0, kPhoneInbox, 101},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    Put(c.card, c.folder, 50, 10, c.read, c.status, c.text ? u"text" : nullptr);
    if (!c.card && c.folder == kInbox) MMSMsgStore_AddMsgToIni(50, kInbox, {10, 0});
    EXPECT_EQ(c.count, GetMMSInboxUnreadMsgsCount());
    EXPECT_EQ(0u, Count(false, kAutoDownload));
    const DWORD oid = c.folder == kAutoDownload ? 1 : 50;  // a move draws a new identifier
    EXPECT_EQ(c.place == kPhoneInbox ? std::vector<DWORD>{oid} : std::vector<DWORD>{},
              Files(false));
    EXPECT_EQ(c.place == kCardInbox ? std::vector<DWORD>{oid} : std::vector<DWORD>{}, Files(true));
    EXPECT_EQ(c.place == kPhoneInbox ? std::vector<DWORD>{oid} : std::vector<DWORD>{},
              Oids(kInbox));
    if (c.place == kGone) continue;
    Record r(c.place == kCardInbox, kInbox, oid);
    ASSERT_EQ(1, r.ok);
    EXPECT_EQ(c.statusAfter, r.props.wStatus);
    EXPECT_EQ(c.read, r.props.bRead);
    EXPECT_EQ(10u, r.props.ftIndexTime.dwLowDateTime);
    EXPECT_EQ(kInbox, r.props.dwFolder);
    EXPECT_EQ(kBodySize, r.props.cbData);
  }
}

TEST_F(MmsUnreadTest, CreatesBothTreesFirst) {
  fs::remove_all(Host("DiskOnChip/User"));
  fs::remove_all(Host("SD Card/User"));
  EXPECT_EQ(0u, GetMMSInboxUnreadMsgsCount());
  EXPECT_TRUE(fs::is_directory(Dir(false, kAutoDownload)));
  EXPECT_TRUE(fs::is_directory(Dir(true, kSpam)));
}

// The count of each folder is taken before its walk; deletions shorten the
// folder, so later positions run past its end and read its last file again.
TEST_F(MmsUnreadTest, WalksPositionsCountedBeforehand) {
  struct Kind {
    BOOL read;
    WORD status;
    const WCHAR* text1;
  };
  const Kind kinds[] = {{0, 104, nullptr}, {0, 104, nullptr}, {1, 104, nullptr},
                        {1, 104, nullptr}, {0, 0, u"text"},   {1, 0, u"text"}};
  std::map<DWORD, Kind> byOid;
  for (bool card : {false, true})
    for (DWORD i = 0; i < 6; ++i) {
      const DWORD oid = (card ? 11 : 1) + i;
      Put(card, kInbox, oid, 10 + i, kinds[i].read, kinds[i].status, kinds[i].text1);
      byOid.emplace(oid, kinds[i]);
    }
  DWORD expected = 0;
  std::vector<DWORD> left[2];
  for (bool card : {false, true}) {
    CMsgList order;
    ASSERT_EQ(6u, MMSMsgStore_GetMessageList(card, kInbox, order));
    std::vector<DWORD>& folder = left[card];
    for (long i = 0; i < order.GetSize(); ++i) folder.push_back(order[i].dwOid);
    for (size_t position = 0; position < 6 && !folder.empty(); ++position) {
      const size_t at = std::min(position, folder.size() - 1);
      const Kind& k = byOid.at(folder[at]);
      expected += k.read == 0;
      if (k.text1 == nullptr) folder.erase(folder.begin() + at);
    }
    std::sort(folder.begin(), folder.end());
  }
  EXPECT_EQ(expected, GetMMSInboxUnreadMsgsCount());
  EXPECT_EQ(left[0], Files(false));
  EXPECT_EQ(left[1], Files(true));
}

// A message that the phone pass could not move (no room on either volume) is
// moved by the card pass, which puts it into the card INBOX.
TEST_F(MmsUnreadTest, TheCardPassMovesTheDownloadFolderToTheCardInbox) {
  struct CardRoomLater : msgstore_test::FakePlatform {
    BOOL GetDiskFreeSpaceExW(const WCHAR* root, uint64_t* available, uint64_t* total,
                             uint64_t* totalFree) override {
      const BOOL ok = FakePlatform::GetDiskFreeSpaceExW(root, available, total, totalFree);
      if (volumesAsked.back() == u"\\SD Card") volumeFreeBytes.erase(u"\\SD Card");
      return ok;
    }
  } later;
  later.volumeFreeBytes = {{u"\\DiskOnChip", 0}, {u"\\SD Card", 0}};
  Put(false, kAutoDownload, 50, 10, 0, 7);
  msgstore::SetPlatform(&later);
  const DWORD count = GetMMSInboxUnreadMsgsCount();
  msgstore::SetPlatform(&platform_);
  EXPECT_EQ(1u, count);
  EXPECT_EQ(
      (std::vector<std::u16string>{u"\\DiskOnChip", u"\\SD Card", u"\\SD Card", u"\\SD Card"}),
      later.volumesAsked);
  EXPECT_EQ(0u, Count(false, kAutoDownload));
  EXPECT_TRUE(Files(false).empty());
  EXPECT_EQ(std::vector<DWORD>{1}, Files(true));
  Record r(true, kInbox, 1);
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(101, r.props.wStatus);
  EXPECT_EQ(kInbox, r.props.dwFolder);
}

}  // namespace
