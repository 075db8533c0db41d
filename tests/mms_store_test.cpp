// The MMS store (its message files: ems_format_test.cpp) where it differs from
// the shared store code: the counter, the card's oldest message, AUTODOWNLOAD
// and NONE, the folder limit and free space, moves, deletion and emptying,
// listings and the search, the index refresh and the unread count.
#include <set>

#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using msgstore_test::IndexRecords;
using msgstore_test::Load;
using msgstore_test::Store;

class MmsStore : public msgstore_test::MmsTest {
 protected:
  static constexpr uint64_t kShort = kBodySize - 1, kExact = kBodySize, kPlenty = 1 << 30;
  void SetFree(uint64_t phone, uint64_t card) {
    platform_.volumeFreeBytes = {{u"\\DiskOnChip", phone}, {u"\\SD Card", card}};
    platform_.volumesAsked.clear();
  }
  // The volumes asked for free space: P phone memory, C memory card.
  std::string Queries() const {
    std::string out;
    for (const std::u16string& v : platform_.volumesAsked) out += v == u"\\SD Card" ? 'C' : 'P';
    return out;
  }
};

// Card state: flag 2 keeps a full phone folder's message in phone memory,
// flag 4 does not, and without the flag a missing card takes it and fails.
TEST_F(MmsStore, StorageChoiceAtTheFolderLimitTheFreeSpaceAndTheCardsOldestMessage) {
  enum : long long { kNull = -2, kA = kAuto, kNoSpace = STORAGE_NO_SPACE };
  enum { kRefused = -1, kNo = -1, kPhone = 0, kCard = 1 };
  struct Case {
    DWORD folder, phone, card, toCard;  // messages already stored, then where to write
    long long storage, cardState;       // card state 0: no card
    uint64_t phoneFree, cardFree;
    long long lands, storageOut, evicted;
    const char* queries;
  } const cases[] = {
      {kInbox, 100, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kPhone, "P"},
      {kInbox, 100, 0, false, kA, 5, kPlenty, kPlenty, kCard, 1, kNo, "C"},
      {kInbox, 100, 0, false, kA, 3, kPlenty, kPlenty, kPhone, kA, kPhone, "P"},
      {kSent, 100, 0, false, kA, 0, kPlenty, kPlenty, kRefused, 1, kNo, "C"},
      {kReport, 100, 0, false, kA, 1, kPlenty, kPlenty, kPhone, kA, kPhone, "P"},
      // Both full: the card's oldest goes; the card selector ignores the state.
      {kInbox, 100, 100, false, kA, 1, kPlenty, kPlenty, kCard, 1, kCard, "C"},
      {kInbox, 100, 100, true, kA, 1, kPlenty, kPlenty, kCard, kA, kCard, "C"},
      {kInbox, 0, 100, true, kA, 3, kPlenty, kPlenty, kPhone, 0, kNo, "P"},
      {kInbox, 0, 100, true, 1, 1, kPlenty, kPlenty, kCard, 1, kCard, "C"},
      // AUTODOWNLOAD counts no files in phone memory, all on the card.
      {kAutoDownload, 100, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kNo, "P"},
      {kAutoDownload, 100, 0, true, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kPhone, "C"},
      // The free space of the volume written to, at least the body length.
      {kInbox, 0, 0, false, kNull, 1, kShort, kPlenty, kCard, kNull, kNo, "PC"},
      {kReport, 0, 0, false, kA, 1, kShort, kPlenty, kRefused, 1, kNo, "PC"},
      {kInbox, 0, 0, false, kA, 1, kShort, kShort, kRefused, kNoSpace, kNo, "PC"},
      {kInbox, 0, 0, false, kNull, 1, kExact, kShort, kPhone, kNull, kNo, "P"},
      // One switch or eviction per write: a second shortage refuses it.
      {kInbox, 100, 0, false, 0, 1, kShort, kPlenty, kRefused, kNoSpace, kPhone, "P"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = static_cast<int>(c.cardState);
    if (c.cardState == 0) RemoveCard();
    if (c.phone != 0) Fill(c.folder, c.phone);
    if (c.card != 0) Fill(c.folder, c.card, true);
    SetFree(c.phoneFree, c.cardFree);
    Message m(c.folder, 500);
    DWORD storage = static_cast<DWORD>(c.storage);
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u,
              MMSMsgStore_WriteMessage(c.toCard, &m.props, &m.mms, 0,
                                       c.storage == kNull ? nullptr : &storage));
    EXPECT_TRUE(c.storage == kNull || static_cast<DWORD>(c.storageOut) == storage) << storage;
    EXPECT_EQ(c.queries, Queries());
    EXPECT_EQ(std::make_pair(c.lands == kPhone, c.lands == kCard),
              std::make_pair(Exists(false, c.folder, 1), Exists(true, c.folder, 1)));
    EXPECT_EQ(std::make_pair(size_t{c.phone + (c.lands == kPhone) - (c.evicted == kPhone)},
                             size_t{c.card + (c.lands == kCard) - (c.evicted == kCard)}),
              std::make_pair(Count(false, c.folder), Count(true, c.folder)));
    EXPECT_EQ(
        std::make_pair(c.phone != 0 && c.evicted != kPhone, c.card != 0 && c.evicted != kCard),
        std::make_pair(Exists(false, c.folder, 1051), Exists(true, c.folder, 2051)));
  }
  // A card rewrite short of space with both folders full has its own file
  // for victim: not deleted first, it stays when the write is refused.
  Reset(), Fill(kInbox, 100), Fill(kInbox, 100, true), SetFree(kPlenty, kShort);
  EXPECT_TRUE(MMSMsgStore_SetReadStatus(true, kInbox, 2001, 1) == 0 && Exists(true, kInbox, 2001));
  // The card's oldest message gives the identifier its file holds, not the
  // one in its name. (Reads by position: the EMS and e-mail tests.)
  Reset();
  for (DWORD oid : {21u, 22u, 23u}) Put(true, kSent, oid, 1);
  Message inner(kSent, 0);
  inner.props.dwOid = 70;
  WCHAR path[] = u"\\SD Card\\User\\MESSAGING\\MMS\\SENT\\7.mms";
  ASSERT_EQ(1, MMSMsgStore_WriteToFile(path, &inner.props, &inner.mms));
  EXPECT_EQ(70u, MMSMsgStore_GetLastRecord(true, kSent, nullptr));
}

// A move writes the message under a new identifier from the counter file:
// the old index record goes, the new one takes the message's own time. A
// rewrite keeps its identifier.
TEST_F(MmsStore, MovesGiveANewIdentifier) {
  Write(false, kDraft, 30), Write(false, kSent, 15);
  DWORD moved = Write(false, kDraft, 10), storage = 7;
  EXPECT_EQ(1, MMSMsgStore_SetFolder(false, kDraft, &moved, kSent, &storage));
  EXPECT_EQ(std::make_tuple(4u, kAuto, Bytes{4, 0, 0, 0}),
            std::make_tuple(moved, storage, Counter()));
  EXPECT_EQ((IndexRecords{{kDraft, 1, 30, 0}}), Index(kDraft));
  EXPECT_EQ((IndexRecords{{kSent, 2, 15, 0}, {kSent, 4, 10, 0}}), Index(kSent));
  Fill(kInbox, 100);  // rewriting a message of a full folder evicts nothing
  EXPECT_EQ(1001u, MMSMsgStore_SetReadStatus(false, kInbox, 1001, 1));
  EXPECT_EQ(100u, Count(false, kInbox));
}

TEST_F(MmsStore, DeletionAndEmptyingOfTheMmsFolders) {
  const DWORD autoDl = Write(false, kAutoDownload, 5), none = Write(false, kNone, 5);
  EXPECT_EQ(2, MMSMsgStore_DeleteMessage(true, kAutoDownload, autoDl) +
                   MMSMsgStore_DeleteMessage(true, kNone, none));
  EXPECT_EQ(0u, Count(false, kAutoDownload) + Count(false, kNone));
  Write(false, kNone, 10), Write(true, kInbox, 10);
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(true, kInbox) + MMSMsgStore_EmptyFolder(false, kNone) +
                   MMSMsgStore_EmptyFolder(true, kReport));
  EXPECT_TRUE(Count(false, kNone) == 1 && Files(true, kInbox).empty());
  EXPECT_EQ(TakeNotices(), Notices(1, {u"WCE_APSHELL", 0xC44, 0, 1}));
}

// Listings take their own files only. Each file written is read back with
// its own folder, which tells where the search by identifier found it (0:
// nothing found).
TEST_F(MmsStore, ListingsTakeTheirOwnFilesAndTheSearchGoesInOrder) {
  for (const char* name : {"-5.mms", "7.txt", "MmsIni", "abc.mms"})
    Store({'x'}, Dir(false, kSpam) + "/" + name);
  Put(false, kAutoDownload, 9, 1), Put(false, kNone, 10, 1);
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});  // appended to
  EXPECT_EQ(3u, MMSMsgStore_GetMessageList(false, kSpam, list) +
                    MMSMsgStore_GetMessageList(true, kAutoDownload, list) +
                    MMSMsgStore_GetMessageList(false, kNone, list) +
                    MMSMsgStore_GetMessageList(true, kReport, list));
  std::set<std::tuple<int, int, DWORD>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.emplace(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
  // A name without a leading number lists as 0.
  EXPECT_EQ((decltype(entries){{0, 2, 0}, {0, 2, 0xFFFFFFFB}, {1, 2, 9}, {1, 9, 777}}), entries);
  const std::tuple<bool, DWORD, DWORD> files[] = {
      {false, kInbox, 5}, {false, kAutoDownload, 5}, {false, kAutoDownload, 6}, {true, kDraft, 6},
      {false, kSpam, 10}, {false, kReport, 10},      {false, kNone, 11}};
  for (const auto& [card, folder, oid] : files) Put(card, folder, oid, 1);
  const std::tuple<bool, DWORD, DWORD> found[] = {
      {false, 5, kInbox}, {false, 6, kAutoDownload}, {false, 10, kSpam},
      {false, 11, 0},     {true, 6, kAutoDownload},  {true, 10, 0}};
  for (const auto& [card, oid, folder] : found) {
    Record r;
    EXPECT_EQ(folder ? 1 : 0, MMSMsgStore_ReadMessage(card, oid, true, &r.props, &r.mms));
    EXPECT_EQ(folder, r.props.dwFolder) << card << " " << oid;
  }
}

TEST_F(MmsStore, UnreadCountSettlesEachMessageAndTheCardPassWhatThePhonePassLeft) {
  enum { kGone, kPhoneInbox, kCardInbox };
  // Storage, folder, read flag, status, whether with text; the count and
  // where the message is afterwards with which status.
  const std::tuple<bool, DWORD, BOOL, WORD, bool, DWORD, int, WORD> cases[] = {
      {false, kInbox, 0, 104, false, 1, kGone, 0},
      {false, kInbox, 0, 104, true, 1, kPhoneInbox, 101},
      {false, kInbox, 2, 7, false, 0, kPhoneInbox, 7},
      {true, kInbox, 1, 104, true, 0, kCardInbox, 101},
      {true, kInbox, 0, 104, false, 1, kGone, 0},
      {false, kAutoDownload, 0, 0, false, 0, kGone, 0},
      {false, kAutoDownload, 1, 104, true, 0, kPhoneInbox, 101}};
  for (const auto& [card, folder, read, status, text, count, place, statusAfter] : cases) {
    SCOPED_TRACE(testing::Message() << card << folder << read << status << text);
    Reset();
    Put(card, folder, 50, 10, read, status, text ? u"text" : nullptr);
    if (!card && folder == kInbox) MMSMsgStore_AddMsgToIni(50, kInbox, {10, 0});
    EXPECT_EQ(count, GetMMSInboxUnreadMsgsCount());
    const DWORD oid = folder == kAutoDownload ? 1 : 50;  // a move draws a new identifier
    const std::vector<DWORD> one = {oid}, none;
    EXPECT_EQ(std::make_tuple(place == kPhoneInbox ? one : none, place == kCardInbox ? one : none,
                              size_t{place == kPhoneInbox}, size_t{0}),
              std::make_tuple(Files(false, kInbox), Files(true, kInbox), Index(kInbox).size(),
                              Count(false, kAutoDownload)));
    if (place == kGone) continue;
    Record r(place == kCardInbox, kInbox, oid);
    EXPECT_EQ(std::make_tuple(1, statusAfter, read, kInbox),
              std::make_tuple(r.ok, r.props.wStatus, r.props.bRead, r.props.dwFolder));
  }
  // Unreadable downloads at the first and last positions make the phone pass
  // skip one message, which the card pass then moves to the card INBOX (the
  // card selector means the phone AUTODOWNLOAD directory). An unreadable
  // INBOX message is skipped too, and counting goes on after it.
  Reset();
  for (DWORD oid = 61; oid <= 64; ++oid) Put(false, kAutoDownload, oid, oid, 0, 7);
  const std::vector<DWORD> order = Files(false, kAutoDownload);
  Store({}, File(false, kAutoDownload, order[0])), Store({}, File(false, kAutoDownload, order[3]));
  Put(false, kInbox, 71, 1), Put(false, kInbox, 72, 1);
  Store({}, File(false, kInbox, Files(false, kInbox)[0]));
  EXPECT_EQ(3u, GetMMSInboxUnreadMsgsCount());
  Record phone(false, kInbox, 1), card(true, kInbox, 2);
  EXPECT_EQ(std::make_tuple(101, order[1], 101, order[2], size_t{2}),
            std::make_tuple(phone.props.wStatus, phone.props.ftIndexTime.dwLowDateTime,
                            card.props.wStatus, card.props.ftIndexTime.dwLowDateTime,
                            Count(false, kAutoDownload)));
}

// The refresh builds the missing index of each phone folder from its files
// (an unreadable one at time 0); an existing index and the card stay as they
// are, and NONE and AUTODOWNLOAD get no index, neither by adding nor by the
// refresh.
TEST_F(MmsStore, RefreshBuildsOnlyTheMissingPhoneIndexes) {
  const DWORD folders[] = {kInbox, kDraft, kSent, kUnsent, kReport, kSpam};
  for (DWORD folder : folders) Put(false, folder, folder, 20 + folder);
  Put(false, kSent, 9, 90), Put(true, kInbox, 7, 70), Put(false, kAutoDownload, 12, 5);
  Store({}, File(false, kSent, 8));
  Store(Bytes(16, 6), IndexFile(kSpam));
  for (DWORD folder : {kNone, kAutoDownload}) MMSMsgStore_AddMsgToIni(1, folder, {1, 0});
  EXPECT_EQ(1, MMSMsgStore_RefreshIniFiles());
  for (DWORD folder : {kInbox, kDraft, kUnsent, kReport})
    EXPECT_EQ((IndexRecords{{folder, folder, 20 + folder, 0}}), Index(folder));
  EXPECT_EQ((IndexRecords{{kSent, 9, 90, 0}, {kSent, 3, 23, 0}, {kSent, 8, 0, 0}}), Index(kSent));
  EXPECT_EQ(std::make_tuple(Bytes(16, 6), false, false),
            std::make_tuple(Load(IndexFile(kSpam)), fs::exists(IndexFile(kAutoDownload)),
                            fs::exists(IndexFile(kNone))));
}

}  // namespace
