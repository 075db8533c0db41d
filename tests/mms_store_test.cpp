// The MMS store: identifiers, the oldest message of a folder, the folder
// limit, the free space and the choice of storage, rewrites, moves, the read
// flag and status, deletion and emptying with the shell notice, listings and
// reads, the index refresh, and the inbox unread count that settles
// downloads on its way.
#include "mms_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using msgstore_test::Load;
using msgstore_test::Store;
using IndexRecords = std::vector<std::array<DWORD, 4>>;

class MmsStore : public msgstore_test::MmsTest {
 protected:
  static constexpr uint64_t kShort = kBodySize - 1, kExact = kBodySize, kPlenty = 1 << 30,
                            kFails = ~uint64_t{0};  // every query fails
  void SetFree(uint64_t phone, uint64_t card) {
    platform_.volumeFreeBytes = {{u"\\DiskOnChip", phone}, {u"\\SD Card", card}};
    platform_.diskQueryFails = phone == kFails;
    platform_.volumesAsked.clear();
  }
  // The volumes asked for free space: P phone memory, C memory card.
  std::string Queries() const {
    std::string out;
    for (const std::u16string& v : platform_.volumesAsked) out += v == u"\\SD Card" ? 'C' : 'P';
    return out;
  }
  // The message written by Write or Put, now under folder and oid.
  void ExpectMessage(bool card, DWORD folder, DWORD oid, DWORD time) {
    Record r(card, folder, oid);
    ASSERT_EQ(1, r.ok) << folder << " " << oid;
    EXPECT_EQ(std::make_tuple(folder, oid, time, std::u16string(u"subject"), std::u16string(u"mms"),
                              WORD{0x5151}, kBodySize, BYTE{10}),
              std::make_tuple(r.props.dwFolder, r.props.dwOid, r.props.ftIndexTime.dwLowDateTime,
                              std::u16string(r.props.pszSubject), std::u16string(r.mms.pszMmsText),
                              r.mms.wMmsQuick1, r.props.cbData, r.props.pData[9]));
  }
  // Writes a message of folder over existing (0: a new one), with storage.
  DWORD WriteAt(bool card, DWORD folder, DWORD existing, DWORD* storage, BOOL read = 0) {
    Message m(folder, 500, read);
    return MMSMsgStore_WriteMessage(card, &m.props, &m.mms, existing, storage);
  }
  // The folder of oid as a move leaves it, and the storage reported.
  std::pair<int, DWORD> Move(bool card, DWORD from, DWORD* oid, DWORD to, DWORD storage = 7) {
    const int ok = MMSMsgStore_SetFolder(card, from, oid, to, &storage);
    return {ok, storage};
  }
};

TEST_F(MmsStore, IdentifiersComeFromTheLittleEndianCounter) {
  EXPECT_EQ(1u, Write(false, kInbox, 5));
  EXPECT_EQ((IndexRecords{{kInbox, 1, 5, 0}}), Index(kInbox));
  SetCounter(0x000102FF);
  EXPECT_EQ(0x00010300u, Write(false, kInbox, 5));
  EXPECT_EQ((Bytes{0, 3, 1, 0}), Counter());
  SetCounter(0xFFFFFFFA);
  EXPECT_EQ(0xFFFFFFFBu, Write(false, kDraft, 5));
  EXPECT_TRUE(fs::exists(Dir(false, kDraft) + "/-5.mms"));
  // Writes that fail after drawing an identifier still use it up.
  fs::remove_all(Dir(false, kUnsent));
  EXPECT_EQ(0u, WriteAt(true, kReport, 0, nullptr) + WriteAt(false, kUnsent, 0, nullptr));
  EXPECT_EQ((Bytes{0xFD, 0xFF, 0xFF, 0xFF}), Counter());
  EXPECT_FALSE(fs::exists(Dir(false, kUnsent)));
  // Without the counter it starts at 1; on the card a taken name draws the
  // next identifier, in phone memory it is overwritten.
  fs::remove(CounterFile());
  Put(false, kDraft, 1, 10, 0, 0, u"old");
  Put(true, kDraft, 2, 10);
  Put(true, kDraft, 3, 11);
  EXPECT_EQ(1u, Write(false, kDraft, 5));
  EXPECT_EQ(std::u16string(u"text"), Record(false, kDraft, 1).props.pszText1);
  EXPECT_EQ(4u, Write(true, kDraft, 5));
  EXPECT_EQ((Bytes{4, 0, 0, 0}), Counter());
  EXPECT_EQ((std::vector<DWORD>{2, 3, 4}), Files(true, kDraft));
  EXPECT_FALSE(fs::exists(IndexFile(kSpam)) || fs::exists(Dir(true, kDraft) + "/MmsIni"));
}

TEST_F(MmsStore, LastRecordFromTheIndexOrFromTheCardFiles) {
  DWORD count = 99;
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(false, kInbox, &count) + count);
  // Phone memory trusts the index, stale records included.
  SetIndex(kInbox, {{1, 5, 300, 0}, {1, 6, 200, 0}, {1, 9, 100, 0}});
  EXPECT_EQ(9u, MMSMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(3u, count);
  // The card counts its files and takes the identifier inside the oldest
  // readable one; a tie keeps the file listed first.
  Put(true, kSent, 1, 50);
  Put(true, kSent, 2, 20);
  Put(true, kSent, 5, 20);
  Store({}, File(true, kSent, 4));
  CMsgList order;
  ASSERT_EQ(4u, MMSMsgStore_GetMessageList(true, kSent, order));
  DWORD first = 0;
  for (long i = 0; i < order.GetSize() && first == 0; ++i)
    if (order[i].dwOid == 2 || order[i].dwOid == 5) first = order[i].dwOid;
  EXPECT_EQ(first, MMSMsgStore_GetLastRecord(true, kSent, &count));
  EXPECT_EQ(4u, count);
  Message inner(kSent, 10);
  inner.props.dwOid = 70;
  WCHAR path[] = u"\\SD Card\\User\\MESSAGING\\MMS\\SENT\\7.mms";
  ASSERT_EQ(1, MMSMsgStore_WriteToFile(path, &inner.props, &inner.mms));
  EXPECT_EQ(70u, MMSMsgStore_GetLastRecord(true, kSent, nullptr));
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(true, kReport, &count) + count);
  // AUTODOWNLOAD has no index; on the card it is the phone directory.
  Put(false, kAutoDownload, 8, 40);
  Put(false, kAutoDownload, 9, 30);
  EXPECT_EQ(0u, MMSMsgStore_GetLastRecord(false, kAutoDownload, &count) + count);
  EXPECT_EQ(9u, MMSMsgStore_GetLastRecord(true, kAutoDownload, &count));
  EXPECT_EQ(2u, count);
}

TEST_F(MmsStore, StorageChoiceAtTheFolderLimitAndTheFreeSpace) {
  enum : long long { kNull = -2, kA = kAuto };
  enum { kRefused = -1, kNo = -1, kPhone = 0, kCard = 1 };
  constexpr long long kNoSpace = STORAGE_NO_SPACE;
  struct Case {
    DWORD folder, phone, card, toCard;  // messages already stored, then where to write
    long long storage, cardState;
    uint64_t phoneFree, cardFree;
    long long lands, storageOut, evicted;
    const char* queries;
  } const cases[] = {
      // The folder limit; only the card state bit of value 2 keeps a message
      // in phone memory.
      {kInbox, 99, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kNo, "P"},
      {kInbox, 100, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kPhone, "P"},
      {kInbox, 100, 0, false, kA, 1, kPlenty, kPlenty, kCard, 1, kNo, "C"},
      {kSent, 100, 0, false, kA, 3, kPlenty, kPlenty, kPhone, kA, kPhone, "P"},
      {kUnsent, 100, 0, false, kA, 5, kPlenty, kPlenty, kCard, 1, kNo, "C"},
      {kInbox, 0, 100, true, kA, 3, kPlenty, kPlenty, kPhone, 0, kNo, "P"},
      {kInbox, 100, 100, false, kA, 1, kPlenty, kPlenty, kCard, 1, kCard, "C"},
      {kReport, 100, 0, false, kA, 1, kPlenty, kPlenty, kPhone, kA, kPhone, "P"},
      // AUTODOWNLOAD counts no files in phone memory, all on the card.
      {kAutoDownload, 100, 0, false, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kNo, "P"},
      {kAutoDownload, 100, 0, true, kNull, 1, kPlenty, kPlenty, kPhone, kNull, kPhone, "C"},
      {kAutoDownload, 100, 0, true, kA, 1, kPlenty, kPlenty, kPhone, 0, kNo, "P"},
      // NONE knows no limit; its card file is the phone file.
      {kNone, 0, 0, true, kA, 1, kShort, kPlenty, kPhone, kA, kNo, "C"},
      // The free space of the volume written to, at least the body length.
      {kInbox, 0, 0, false, kNull, 1, kShort, kPlenty, kCard, kNull, kNo, "PC"},
      {kInbox, 0, 0, false, 0, 3, kShort, kPlenty, kCard, 1, kNo, "PC"},
      {kInbox, 0, 0, true, kNull, 1, kPlenty, kShort, kPhone, kNull, kNo, "CP"},
      {kReport, 0, 0, false, kA, 1, kShort, kPlenty, kRefused, 1, kNo, "PC"},
      {kInbox, 0, 0, false, kA, 1, kShort, kShort, kRefused, kNoSpace, kNo, "PC"},
      {kInbox, 0, 0, false, kNull, 1, kShort, kShort, kRefused, kNull, kNo, "PC"},
      {kInbox, 0, 0, false, kNull, 1, kExact, kShort, kPhone, kNull, kNo, "P"},
      {kInbox, 0, 0, false, kNull, 1, kFails, kShort, kPhone, kNull, kNo, "P"},
      {kInbox, 0, 100, false, kNull, 1, kShort, kPlenty, kCard, kNull, kCard, "PC"},
      // One switch or eviction per write: a second shortage refuses it.
      {kInbox, 100, 0, false, kA, 1, kPlenty, kShort, kRefused, kNoSpace, kNo, "C"},
      {kInbox, 100, 0, false, 0, 1, kShort, kPlenty, kRefused, kNoSpace, kPhone, "P"},
      {kInbox, 100, 99, true, 1, 1, kPlenty, kShort, kRefused, kNoSpace, kCard, "CC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = c.cardState;
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    SetFree(c.phoneFree, c.cardFree);
    Message m(c.folder, 500);
    DWORD storage = static_cast<DWORD>(c.storage);
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u,
              MMSMsgStore_WriteMessage(c.toCard, &m.props, &m.mms, 0,
                                       c.storage == kNull ? nullptr : &storage));
    EXPECT_TRUE(c.storage == kNull || static_cast<DWORD>(c.storageOut) == storage) << storage;
    EXPECT_EQ(c.queries, Queries());
    EXPECT_EQ(c.storageOut == kNoSpace || (c.storageOut == kNull && c.lands == kRefused),
              Counter().empty());
    EXPECT_EQ(std::make_pair(c.lands == kPhone, c.lands == kCard),
              std::make_pair(Exists(false, c.folder, 1), Exists(true, c.folder, 1)));
    const bool victimOnCard = c.evicted == kCard && c.folder != kAutoDownload;
    EXPECT_FALSE(c.evicted != kNo && Exists(victimOnCard, c.folder, victimOnCard ? 3051 : 1051));
    EXPECT_EQ(c.phone + (c.lands == kPhone) - (c.evicted == kPhone), Count(false, c.folder));
    if (c.folder == kAutoDownload || c.folder == kNone) {
      EXPECT_FALSE(fs::exists(IndexFile(c.folder)));
      continue;
    }
    EXPECT_EQ(c.card + (c.lands == kCard) - (c.evicted == kCard), Count(true, c.folder));
    const std::vector<DWORD> oids = Oids(c.folder);
    EXPECT_EQ(Count(false, c.folder), oids.size());
    EXPECT_EQ(c.lands == kPhone,
              !oids.empty() && Index(c.folder)[0] == (IndexRecord{c.folder, 1, 500, 0}));
    EXPECT_EQ(c.phone != 0 && c.evicted != kPhone,
              std::find(oids.begin(), oids.end(), 1051u) != oids.end());
  }
}

TEST_F(MmsStore, RewritesKeepTheirIdentifierAndMayMoveForSpaceOnly) {
  Fill(false, kInbox, 100);
  EXPECT_EQ(1020u, WriteAt(false, kInbox, 1020, nullptr, 1));
  EXPECT_TRUE(Exists(false, kInbox, 1051));
  std::vector<DWORD> oids = Oids(kInbox);
  EXPECT_EQ(
      std::make_tuple(size_t{100}, 1020u, 1L),
      std::make_tuple(oids.size(), oids.front(), std::count(oids.begin(), oids.end(), 1020u)));
  EXPECT_EQ(1, Record(false, kInbox, 1020).props.bRead);
  // A rewrite on the card keeps its name and has no index.
  Put(true, kInbox, 7, 10);
  EXPECT_EQ(7u, WriteAt(true, kInbox, 7, nullptr, 1));
  EXPECT_EQ(1, Record(true, kInbox, 7).props.bRead);
  EXPECT_TRUE(Counter().empty());
  // Short of space, a rewrite goes to the other storage under its identifier
  // and leaves the old file and its record behind.
  SetFree(kShort, kPlenty);
  DWORD storage = 0;
  EXPECT_EQ(1020u, WriteAt(false, kInbox, 1020, &storage));
  EXPECT_EQ(std::make_pair(1u, std::string("PC")), std::make_pair(storage, Queries()));
  EXPECT_TRUE(Exists(true, kInbox, 1020) && Exists(false, kInbox, 1020));
  EXPECT_EQ(oids, Oids(kInbox));
  // With the phone folder full, a card rewrite short of space evicts its own
  // card file and then finds no room.
  SetFree(kShort, kShort);
  storage = 1;
  EXPECT_EQ(0u, WriteAt(true, kInbox, 7, &storage));
  EXPECT_EQ(static_cast<DWORD>(STORAGE_NO_SPACE), storage);
  EXPECT_FALSE(Exists(true, kInbox, 7) || !Counter().empty());
  // A new message into the full folder evicts the oldest, gone or not.
  SetFree(kPlenty, kPlenty);
  fs::remove(File(false, kInbox, 1051));
  EXPECT_EQ(1u, Write(false, kInbox, 500));
  oids = Oids(kInbox);
  EXPECT_EQ(std::make_tuple(size_t{100}, 1L, 0L),
            std::make_tuple(oids.size(), std::count(oids.begin(), oids.end(), 1u),
                            std::count(oids.begin(), oids.end(), 1051u)));
}

TEST_F(MmsStore, MovesGiveANewIdentifierOrKeepTheMessageWhereItWas) {
  // From storage, from folder, to folder, whether indexed there, whether on the card.
  const std::tuple<bool, DWORD, DWORD, bool, bool> cases[] = {
      {false, kDraft, kSent, true, false},
      {true, kSpam, kInbox, false, true},
      {false, kAutoDownload, kInbox, true, false},
      {true, kAutoDownload, kInbox, false, true},
      {false, kInbox, kNone, false, false}};
  for (const auto& [card, from, to, toIndexed, toCard] : cases) {
    SCOPED_TRACE(testing::Message() << card << " " << from);
    Reset();
    const DWORD oid = Write(card, from, 40);
    DWORD moved = oid;
    EXPECT_EQ(std::make_pair(1, kAuto), Move(card, from, &moved, to));
    EXPECT_EQ(oid + 1, moved);
    EXPECT_FALSE(Exists(card && from != kAutoDownload, from, oid) || fs::exists(IndexFile(from)));
    ExpectMessage(toCard, to, moved, 40);
    EXPECT_EQ(toIndexed ? IndexRecords({{to, moved, 40, 0}}) : IndexRecords(), Index(to));
  }
  // Into a full phone folder the move may use the card; the old file goes
  // from the storage given.
  Reset();
  Fill(false, kInbox, 100);
  const DWORD first = Write(false, kDraft, 10), second = Write(false, kDraft, 20);
  DWORD moved = first;
  EXPECT_EQ(std::make_pair(1, 1u), Move(false, kDraft, &moved, kInbox, 0));
  ExpectMessage(true, kInbox, moved, 10);
  EXPECT_EQ(std::vector<DWORD>{second}, Oids(kDraft));
  EXPECT_EQ(std::vector<DWORD>{second}, Files(false, kDraft));
  // Failed moves keep the message and its identifier.
  Reset();
  const DWORD oid = Write(false, kInbox, 10);
  moved = 42;
  EXPECT_EQ(std::make_pair(0, kAuto), Move(false, kDraft, &moved, kSent, 5));
  EXPECT_EQ(42u, moved);
  moved = oid;
  EXPECT_EQ(0, MMSMsgStore_SetFolder(true, kReport, &moved, kSent, nullptr));
  EXPECT_EQ(0, Move(false, kInbox, &moved, 9).first);
  EXPECT_EQ((Bytes{2, 0, 0, 0}), Counter());
  SetFree(kShort, 0);
  EXPECT_EQ(std::make_pair(0, static_cast<DWORD>(STORAGE_NO_SPACE)),
            Move(false, kInbox, &moved, kSent, 5));
  EXPECT_EQ(oid, moved);
  EXPECT_EQ((IndexRecords{{kInbox, oid, 10, 0}}), Index(kInbox));
  EXPECT_EQ(0u, Count(false, kSent) + Count(true, kSent));
  // Identifier 0 moves a copy of the folder's last file, which stays.
  SetFree(kPlenty, kPlenty);
  moved = 0;
  EXPECT_EQ(0, Move(false, kInbox, &moved, kSent).first);
  EXPECT_TRUE(moved == 0 && Exists(false, kInbox, oid) && Count(false, kSent) == 1);
}

TEST_F(MmsStore, ReadFlagAndStatusRewriteUnderTheSameIdentifier) {
  const DWORD a = Write(false, kInbox, 10), b = Write(false, kInbox, 10);
  EXPECT_EQ((std::vector<DWORD>{b, a}), Oids(kInbox));
  EXPECT_EQ(a, MMSMsgStore_SetReadStatus(false, kInbox, a, 2));
  EXPECT_EQ((std::vector<DWORD>{a, b}), Oids(kInbox));  // record added again: before its tie
  EXPECT_EQ(b, MMSMsgStore_SetStatus(false, kInbox, b, 0x12345));
  EXPECT_EQ(a, MMSMsgStore_SetStatus(false, kInbox, a, -1));
  Record ra(false, kInbox, a), rb(false, kInbox, b);
  EXPECT_EQ(std::make_tuple(2, WORD{0xFFFF}, 0, WORD{0x2345}),
            std::make_tuple(ra.props.bRead, ra.props.wStatus, rb.props.bRead, rb.props.wStatus));
  ExpectMessage(false, kInbox, a, 10);
  const DWORD c = Write(true, kSpam, 10);
  EXPECT_EQ(c, MMSMsgStore_SetStatus(true, kSpam, c, 7));
  EXPECT_EQ(7, Record(true, kSpam, c).props.wStatus);
  EXPECT_FALSE(fs::exists(IndexFile(kSpam)));
  // A missing message is not created.
  EXPECT_EQ(0u, MMSMsgStore_SetReadStatus(false, kDraft, 9, 1) +
                    MMSMsgStore_SetStatus(true, kInbox, a, 1));
  EXPECT_EQ(0u, Count(false, kDraft) + Count(true, kInbox));
  EXPECT_EQ((Bytes{3, 0, 0, 0}), Counter());
  // Identifier 0 stores the folder's last file anew; the old file stays.
  CMsgList order;
  ASSERT_EQ(2u, MMSMsgStore_GetMessageList(false, kInbox, order));
  EXPECT_EQ(4u, MMSMsgStore_SetReadStatus(false, kInbox, 0, 1));
  Record copy(false, kInbox, 4), original(false, kInbox, order[1].dwOid);
  EXPECT_EQ(std::make_tuple(1, original.props.wStatus, size_t{3}),
            std::make_tuple(copy.props.bRead, copy.props.wStatus, Count(false, kInbox)));
}

TEST_F(MmsStore, DeletionAndEmptyingWithTheShellNotice) {
  const DWORD phone = Write(false, kInbox, 10), card = Write(true, kInbox, 20),
              gone = Write(false, kInbox, 30), cardGone = Write(true, kSent, 30),
              autoDl = Write(false, kAutoDownload, 5), none = Write(false, kNone, 5),
              stuck = Write(false, kSpam, 5);
  fs::remove(File(false, kInbox, gone));
  fs::remove(File(true, kSent, cardGone));
  fs::remove(File(false, kSpam, stuck));
  fs::create_directory(File(false, kSpam, stuck));  // exists, cannot be deleted
  const std::tuple<bool, DWORD, DWORD, int> cases[] = {
      {false, kInbox, phone, 1},        {true, kInbox, card, 1},
      {false, kInbox, gone, 1},         {true, kSent, cardGone, 0},
      {true, kAutoDownload, autoDl, 1}, {true, kNone, none, 1},
      {false, kSpam, stuck, 0},         {false, 9, phone, 0},
      {true, kReport, phone, 0}};
  for (const auto& [onCard, folder, oid, result] : cases)
    EXPECT_EQ(result, MMSMsgStore_DeleteMessage(onCard, folder, oid)) << folder << " " << oid;
  EXPECT_EQ(0u, Count(false, kInbox) + Count(true, kInbox) + Count(false, kAutoDownload) +
                    Count(false, kNone));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
  EXPECT_EQ(std::vector<DWORD>{stuck}, Oids(kSpam));

  // Emptying deletes the message files, keeps the index, and tells the shell
  // when it was an INBOX.
  for (auto [card, folder, time] : {std::make_tuple(false, kInbox, 10u),
                                    {false, kInbox, 20u},
                                    {true, kInbox, 10u},
                                    {false, kSent, 10u},
                                    {false, kNone, 10u}})
    Write(card, folder, time);
  Store({'k'}, Dir(false, kInbox) + "/note.txt");
  const Bytes index = Load(IndexFile(kInbox));
  ASSERT_EQ(32u, index.size());
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(false, kSent));
  EXPECT_TRUE(platform_.posted.empty());
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(false, kInbox));
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(0u, Count(false, kInbox) + Count(true, kInbox) + Count(false, kSent));
  EXPECT_TRUE(fs::exists(Dir(false, kInbox) + "/note.txt"));
  EXPECT_EQ(index, Load(IndexFile(kInbox)));
  ASSERT_EQ(2u, platform_.posted.size());
  for (const auto& p : platform_.posted)
    EXPECT_EQ(std::make_tuple(std::u16string(u"WCE_APSHELL"), 0xC44u, WPARAM{0}, LPARAM{1}),
              std::make_tuple(p.className, p.msg, p.wParam, p.lParam));
  platform_.shellWindow = false;
  EXPECT_EQ(1, MMSMsgStore_EmptyFolder(false, kInbox));
  for (DWORD folder : {kNone, kReport, 9u}) EXPECT_EQ(0, MMSMsgStore_EmptyFolder(true, folder));
  EXPECT_EQ(0, MMSMsgStore_EmptyFolder(false, kNone));
  EXPECT_EQ(1u, Count(false, kNone));
  EXPECT_EQ(2u, platform_.posted.size());
}

TEST_F(MmsStore, ListingsCountsAndReads) {
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  for (const char* name : {"-5.mms", "abc.mms", "7.txt", "8.mms.123.4.tmp", "MmsIni"})
    Store({'x'}, Dir(false, kSpam) + "/" + name);
  Put(true, kSent, 12, 1);
  Put(true, kSent, 7, 1);
  Put(false, kAutoDownload, 9, 1);
  Put(false, kNone, 10, 1);
  const std::tuple<bool, DWORD, DWORD> counts[] = {
      {false, kSpam, 2}, {true, kSent, 2},   {true, kAutoDownload, 1},
      {false, kSent, 0}, {true, kReport, 0}, {false, kNone, 0},
      {true, 0, 0}};
  for (const auto& [card, folder, n] : counts) {
    SCOPED_TRACE(testing::Message() << card << " " << folder);
    EXPECT_EQ(n, MMSMsgStore_GetFolderMessageCount(card, folder));
    EXPECT_EQ(n, MMSMsgStore_GetMessageList(card, folder, list));
  }
  std::vector<std::array<DWORD, 3>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.push_back({list[i].bMemoryCard, list[i].byFolder, list[i].dwOid});
  EXPECT_EQ((std::array<DWORD, 3>{1, 9, 777}), entries[0]);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ((std::vector<std::array<DWORD, 3>>{
                {0, 2, 0}, {0, 2, 0xFFFFFFFB}, {1, 2, 7}, {1, 2, 9}, {1, 2, 12}, {1, 9, 777}}),
            entries);

  // By position: past the end or -1 the last file enumerated.
  for (DWORD oid = 1; oid <= 3; ++oid) Put(false, kUnsent, oid, oid);
  CMsgList order;
  ASSERT_EQ(3u, MMSMsgStore_GetMessageList(false, kUnsent, order));
  const std::pair<int, long> positions[] = {{0, 0}, {2, 2}, {1000, 2}, {-1, 2}};
  for (const auto& [position, index] : positions) {
    Record r;
    ASSERT_EQ(1,
              MMSMsgStore_ReadFolderMessage(false, kUnsent, position, 0, true, &r.props, &r.mms));
    EXPECT_EQ(order[index].dwOid, r.props.dwOid) << position;
  }
  Record r;
  ASSERT_EQ(1, MMSMsgStore_ReadFolderMessage(false, kUnsent, 1000, 2, false, &r.props, &r.mms));
  EXPECT_TRUE(r.props.dwOid == 2 && r.props.pData == nullptr && r.props.cbData == 0);
  // NONE is read by identifier only; AUTODOWNLOAD on the card is the phone's.
  EXPECT_EQ(0, MMSMsgStore_ReadFolderMessage(false, kNone, 0, 0, true, &r.props, &r.mms) +
                   MMSMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &r.props, &r.mms) +
                   MMSMsgStore_ReadFolderMessage(false, kUnsent, 0, 4, true, &r.props, &r.mms) +
                   MMSMsgStore_ReadFolderMessage(true, kReport, 0, 1, true, &r.props, &r.mms));
  EXPECT_EQ(1, MMSMsgStore_ReadFolderMessage(true, kNone, 0, 10, true, &r.props, &r.mms));
  MMSMsgStore_FreeMsgProps(&r.props, &r.mms);
  EXPECT_EQ(1, MMSMsgStore_ReadFolderMessage(true, kAutoDownload, -1, 0, true, &r.props, &r.mms));
  EXPECT_EQ(9u, r.props.dwOid);
}

// Each file written is read back with its own folder, which tells where the
// search found it (0: nothing found).
TEST_F(MmsStore, ReadMessageSearchesFoldersInOrder) {
  const std::tuple<bool, DWORD, DWORD> files[] = {
      {false, kInbox, 5},        {false, kAutoDownload, 5}, {false, kDraft, 5},
      {false, kAutoDownload, 6}, {true, kDraft, 6},         {false, kDraft, 7},
      {false, kSent, 7},         {false, kSent, 8},         {false, kUnsent, 8},
      {false, kUnsent, 9},       {false, kSpam, 9},         {false, kSpam, 10},
      {false, kReport, 10},      {false, kReport, 11},      {false, kNone, 11},
      {false, kNone, 12},        {true, kSpam, 14},         {false, kInbox, 14},
      {false, kDraft, 13}};
  for (const auto& [card, folder, oid] : files) Put(card, folder, oid, 1);
  Store({}, File(false, kInbox, 13));
  const std::tuple<bool, DWORD, DWORD> found[] = {
      {false, 5, kInbox},  {false, 6, kAutoDownload}, {false, 7, kDraft},       {false, 8, kSent},
      {false, 9, kUnsent}, {false, 10, kSpam},        {false, 11, kReport},     {false, 12, 0},
      {false, 13, 0},      {true, 5, kAutoDownload},  {true, 6, kAutoDownload}, {true, 7, 0},
      {true, 14, kSpam}};
  for (const auto& [card, oid, folder] : found) {
    Record r;
    ASSERT_EQ(folder ? 1 : 0, MMSMsgStore_ReadMessage(card, oid, true, &r.props, &r.mms))
        << card << " " << oid;
    EXPECT_EQ(std::make_pair(folder, folder ? kBodySize : 0u),
              std::make_pair(r.props.dwFolder, r.props.cbData));
  }
}

TEST_F(MmsStore, RefreshRebuildsOnlyMissingPhoneIndexes) {
  Put(false, kInbox, 1, 10);
  Put(false, kInbox, 2, 30);
  Store({}, File(false, kInbox, 3));  // unreadable: indexed with time 0
  Put(false, kSent, 4, 5);
  SetIndex(kSent, {{kSent, 99, 50, 0}});
  Put(false, kReport, 5, 40);
  Put(true, kSpam, 7, 1);
  Put(false, kAutoDownload, 8, 1);
  Put(false, kNone, 9, 1);
  EXPECT_EQ(1, MMSMsgStore_RefreshIniFiles());
  EXPECT_EQ((IndexRecords{{kInbox, 2, 30, 0}, {kInbox, 1, 10, 0}, {kInbox, 3, 0, 0}}),
            Index(kInbox));
  EXPECT_EQ((IndexRecords{{kSent, 99, 50, 0}}), Index(kSent));
  EXPECT_EQ((IndexRecords{{kReport, 5, 40, 0}}), Index(kReport));
  for (DWORD folder : {kDraft, kUnsent, kSpam, kAutoDownload, kNone})
    EXPECT_FALSE(fs::exists(IndexFile(folder))) << folder;
  EXPECT_FALSE(fs::exists(Dir(true, kSpam) + "/MmsIni"));
}

TEST_F(MmsStore, UnreadCountSettlesEachMessageByFolderFlagStatusAndText) {
  enum { kGone, kPhoneInbox, kCardInbox };
  // Storage, folder, read flag, status, whether with text; the count and
  // where the message is afterwards with which status.
  const std::tuple<bool, DWORD, BOOL, WORD, bool, DWORD, int, WORD> cases[] = {
      {false, kInbox, 0, 104, false, 1, kGone, 0},
      {false, kInbox, 0, 104, true, 1, kPhoneInbox, 101},
      {false, kInbox, 1, 104, false, 0, kGone, 0},
      {false, kInbox, 0, 101, false, 1, kPhoneInbox, 101},
      {false, kInbox, 2, 7, false, 0, kPhoneInbox, 7},
      {true, kInbox, 0, 104, false, 1, kGone, 0},
      {true, kInbox, 1, 104, true, 0, kCardInbox, 101},
      {false, kAutoDownload, 0, 0, false, 0, kGone, 0},
      {false, kAutoDownload, 0, 7, true, 1, kPhoneInbox, 101},
      {false, kAutoDownload, 1, 104, true, 0, kPhoneInbox, 101}};
  for (const auto& [card, folder, read, status, text, count, place, statusAfter] : cases) {
    SCOPED_TRACE(testing::Message() << card << folder << read << status << text);
    Reset();
    Put(card, folder, 50, 10, read, status, text ? u"text" : nullptr);
    if (!card && folder == kInbox) MMSMsgStore_AddMsgToIni(50, kInbox, {10, 0});
    EXPECT_EQ(count, GetMMSInboxUnreadMsgsCount());
    EXPECT_EQ(0u, Count(false, kAutoDownload));
    const DWORD oid = folder == kAutoDownload ? 1 : 50;  // a move draws a new identifier
    const std::vector<DWORD> one = {oid}, none;
    EXPECT_EQ(place == kPhoneInbox ? one : none, Files(false, kInbox));
    EXPECT_EQ(place == kCardInbox ? one : none, Files(true, kInbox));
    EXPECT_EQ(place == kPhoneInbox ? one : none, Oids(kInbox));
    if (place == kGone) continue;
    Record r(place == kCardInbox, kInbox, oid);
    EXPECT_EQ(std::make_tuple(1, statusAfter, read, kInbox, 10u, kBodySize),
              std::make_tuple(r.ok, r.props.wStatus, r.props.bRead, r.props.dwFolder,
                              r.props.ftIndexTime.dwLowDateTime, r.props.cbData));
  }
  // Both trees are made first.
  fs::remove_all(Host("DiskOnChip/User"));
  fs::remove_all(Host("SD Card/User"));
  EXPECT_EQ(0u, GetMMSInboxUnreadMsgsCount());
  EXPECT_TRUE(fs::is_directory(Dir(false, kAutoDownload)) && fs::is_directory(Dir(true, kSpam)));
}

// The count of each folder is taken before its walk; deletions shorten the
// folder, so later positions run past its end and read its last file again.
TEST_F(MmsStore, UnreadCountWalksPositionsCountedBeforehand) {
  const std::tuple<BOOL, WORD, const WCHAR*> kinds[] = {// of messages 1 to 6
                                                        {0, 104, nullptr}, {0, 104, nullptr},
                                                        {1, 104, nullptr}, {1, 104, nullptr},
                                                        {0, 0, u"text"},   {1, 0, u"text"}};
  DWORD expected = 0;
  std::vector<DWORD> left[2];
  for (bool card : {false, true}) {
    for (DWORD oid = 1; oid <= 6; ++oid) {
      const auto& [read, status, text] = kinds[oid - 1];
      Put(card, kInbox, oid, 10 + oid, read, status, text);
    }
    CMsgList order;
    ASSERT_EQ(6u, MMSMsgStore_GetMessageList(card, kInbox, order));
    for (long i = 0; i < 6; ++i) left[card].push_back(order[i].dwOid);
    for (size_t position = 0; position < 6 && !left[card].empty(); ++position) {
      const size_t at = std::min(position, left[card].size() - 1);
      const auto& [read, status, text] = kinds[left[card][at] - 1];
      expected += read == 0;
      if (text == nullptr) left[card].erase(left[card].begin() + at);
    }
    std::sort(left[card].begin(), left[card].end());
  }
  EXPECT_EQ(expected, GetMMSInboxUnreadMsgsCount());
  EXPECT_EQ(left[0], Files(false, kInbox));
  EXPECT_EQ(left[1], Files(true, kInbox));
}

// A message that the phone pass could not move (no room on either volume) is
// moved by the card pass, which puts it into the card INBOX.
TEST_F(MmsStore, UnreadCountsCardPassMovesTheDownloadFolderToTheCardInbox) {
  struct CardRoomLater : msgstore_test::FakePlatform {  // room once the card was asked
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
  EXPECT_EQ(0u, Count(false, kAutoDownload) + Count(false, kInbox));
  EXPECT_EQ(std::vector<DWORD>{1}, Files(true, kInbox));
  Record r(true, kInbox, 1);
  EXPECT_EQ(std::make_tuple(1, WORD{101}, kInbox),
            std::make_tuple(r.ok, r.props.wStatus, r.props.dwFolder));
}

}  // namespace
