// The e-mail store: identifiers, the folder limit with eviction, its notice
// and the choice of storage, rewrites, setters and moves with their Inbox
// twins, the spam round trip, deletion, listings, reads, counts, unread
// counts and the index refresh. (The counter, the scan for the oldest card
// file, reads by position, removal and emptying of files and the index
// rebuild are shared with the MMS store and tested there.)
#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using msgstore_test::Store;

using EmailStore = msgstore_test::EmailTest;

TEST_F(EmailStore, IdentifiersAndTakenNamesOnTheCard) {
  EXPECT_EQ(1u, Write(false, kInbox, 5, 0, kOther));
  EXPECT_TRUE(Exists(false, kInbox, 1, kOther));
  EXPECT_EQ((Records{{kOther, 1, 5}}), Index(kOther));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
  // Folders without a file path use an identifier up and fail.
  SetCounter(10);
  for (DWORD folder : {0u, 7u, kNone, 12u, kAccount})
    EXPECT_EQ(0u, WriteProps(false, Message(folder, 5))) << folder;
  EXPECT_EQ((Bytes{15, 0, 0, 0}), Counter());
  // On the card a taken name draws the next identifier (in the INBOX only
  // the same account's file takes it); in phone memory it is overwritten.
  Put(false, kDraft, 1, 10, 0, kAccount, u"old");
  Put(true, kDraft, 2, 10);
  Put(true, kInbox, 4, 10, 0, kOther);
  fs::remove(CounterFile());
  EXPECT_EQ(1u, Write(false, kDraft, 5));
  EXPECT_EQ(u"subject", Record(false, kDraft, 1).Subject());
  EXPECT_EQ(3u, Write(true, kDraft, 5));
  EXPECT_EQ(4u, Write(true, kInbox, 5));
  EXPECT_EQ(1u, Files(true, kInbox, "805306371_"));
}

// What the e-mail store adds to the shared storage choice (whose free-space
// rules the MMS tests cover): the notice of an eviction, the card state bits
// 2 and 4, and an INBOX that is refused rather than evicted.
TEST_F(EmailStore, FolderLimitEvictionNoticeAndStorageChoice) {
  enum { kNull = 99, kAuto = STORAGE_AUTO, kBoth = STORAGE_BOTH_FULL, kNoSpace = STORAGE_NO_SPACE };
  enum { kRefused = -1, kNo = -1, kPhone = 0, kCard = 1 };
  const UINT kNotice[] = {0, 0x19A0, 0x19A1, 0x19A2, 0, 0x19A4, 0x19A5};
  struct Case {
    DWORD folder, phone, card, toCard;  // messages already there, of kAccount; where to write
    int storage, cardState, phoneShort;
    DWORD account;  // of the new message
    int lands, storageOut, evicted, notice;
  } const cases[] = {
      {kDraft, 99, 0, false, kNull, 1, false, kAccount, kPhone, kNull, kNo, false},
      {kDraft, 100, 0, false, kNull, 1, false, kAccount, kPhone, kNull, kPhone, true},
      {kSent, 100, 0, false, 0, 1, false, kAccount, kPhone, 0, kPhone, true},
      {kDraft, 100, 0, false, kAuto, 1, false, kAccount, kCard, 1, kNo, false},
      {kUnsent, 100, 0, false, kAuto, 1 | 2, false, kAccount, kPhone, kAuto, kPhone, true},
      {kSpam, 100, 0, false, kAuto, 1 | 4, false, kAccount, kPhone, kAuto, kPhone, true},
      {kReport, 100, 0, false, kAuto, 1, false, kAccount, kPhone, kAuto, kPhone, true},
      {kSent, 0, 100, true, kNull, 1, false, kAccount, kCard, kNull, kCard, true},
      {kReport, 0, 100, true, kAuto, 1, false, kAccount, kCard, kAuto, kCard, true},
      {kSent, 0, 100, true, kAuto, 1 | 2 | 4, false, kAccount, kPhone, 0, kNo, false},
      // Both full: the eviction is made on the card, without a notice.
      {kSent, 100, 100, false, kAuto, 1, false, kAccount, kCard, 1, kCard, false},
      {kSpam, 100, 100, true, kAuto, 1, false, kAccount, kCard, kAuto, kCard, false},
      {kSent, 0, 100, false, 0, 1, true, kAccount, kCard, 1, kCard, false},
      {kDraft, 100, 0, false, 0, 1, true, kAccount, kRefused, kNoSpace, kPhone, true},
      // The INBOX, counted as the incoming-server account's files.
      {kInbox, 100, 0, false, kNull, 1, false, kAccount, kRefused, kNull, kNo, false},
      {kInbox, 100, 0, false, 1, 1, false, kAccount, kRefused, 1, kNo, false},
      {kInbox, 100, 0, false, kNull, 1, false, kOther, kRefused, kNull, kNo, false},
      {kInbox, 100, 0, false, kAuto, 1 | 4, false, kAccount, kPhone, kAuto, kPhone, true},
      {kInbox, 100, 0, false, kAuto, 2, false, kAccount, kPhone, kAuto, kPhone, true},
      {kInbox, 100, 0, false, kAuto, 1, false, kAccount, kCard, 1, kNo, false},
      {kInbox, 0, 100, true, kAuto, 1, false, kAccount, kPhone, 0, kNo, false},
      {kInbox, 0, 100, true, kNull, 1, false, kAccount, kRefused, kNull, kNo, false},
      {kInbox, 100, 100, false, kAuto, 1, false, kAccount, kRefused, kBoth, kNo, false},
      {kInbox, 100, 100, true, kAuto, 1 | 4, false, kAccount, kRefused, kBoth, kNo, false},
      {kInbox, 0, 100, false, 0, 1, true, kAccount, kRefused, kBoth, kNo, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = c.cardState;
    platform_.volumeFreeBytes = {{u"\\DiskOnChip", c.phoneShort ? 0 : 1000}};
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    tagMSGPROPS props = Message(c.folder, 500);
    BYTE content[1000] = {};
    props.pData = content, props.cbData = sizeof content;
    int storage = c.storage;
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u,
              WriteProps(c.toCard, props, c.account, 0, storage == kNull ? nullptr : &storage));
    EXPECT_EQ(c.storageOut, storage);
    EXPECT_EQ(c.lands == kRefused, Counter().empty());
    EXPECT_EQ(c.lands != kRefused, Exists(c.lands == kCard, c.folder, 1, c.account));
    EXPECT_EQ(c.lands == kPhone, Indexed(c.folder == kInbox ? c.account : c.folder, 1));
    const DWORD victim = c.evicted == kCard ? 3051 : 1051;
    EXPECT_FALSE(c.evicted != kNo && Exists(c.evicted == kCard, c.folder, victim));
    EXPECT_EQ(c.phone != 0 && c.evicted != kPhone,
              Indexed(c.folder == kInbox ? kAccount : c.folder, 1051));
    EXPECT_EQ(c.phone + (c.lands == kPhone) - (c.evicted == kPhone), Files(false, c.folder));
    EXPECT_EQ(c.card + (c.lands == kCard) - (c.evicted == kCard), Files(true, c.folder));
    using Posted = std::vector<std::tuple<std::u16string, UINT, WPARAM, LPARAM>>;
    Posted posted, expected;
    for (const auto& p : platform_.posted)
      posted.emplace_back(p.className, p.msg, p.wParam, p.lParam);
    if (c.notice && kNotice[c.folder] != 0)
      expected.emplace_back(u"WCE_CVMESSAGEEXEC", kNotice[c.folder], victim,
                            0x03030000 + c.evicted);
    EXPECT_EQ(expected, posted);
  }
}

// The INBOX victim is the incoming-server account's oldest message, but the
// file deleted is named with the new message's account.
TEST_F(EmailStore, InboxEvictionNamesTheVictimWithTheNewMessagesAccount) {
  Fill(false, kInbox, 100, kAccount);
  for (DWORD oid : {1051u, 1052u}) Put(false, kInbox, oid, 1, 0, kOther);
  EmailMsgStore_AddMsgToIni(1051, kOther, {1, 0});
  platform_.cardState = 1 | 4;
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, WriteProps(false, Message(kInbox, 500), kOther, 0, &storage));
  EXPECT_TRUE(Exists(false, kInbox, 1051, kAccount) && Indexed(kAccount, 1051));
  EXPECT_FALSE(Exists(false, kInbox, 1051, kOther));
  EXPECT_EQ((Records{{kOther, 1, 500}}), Index(kOther));
  ASSERT_EQ(1u, platform_.posted.size());
  EXPECT_EQ(1051u, platform_.posted[0].wParam);
  // Without the messaging application the notice is dropped.
  platform_.messageAppWindow = false;
  Fill(false, kDraft, 100);
  EXPECT_EQ(2u, Write(false, kDraft, 5));
  EXPECT_FALSE(Exists(false, kDraft, 1051));
  EXPECT_EQ(1u, platform_.posted.size());
}

TEST_F(EmailStore, RewriteKeepsItsIdentifierWithoutEvictionUnlessShortOfSpace) {
  Fill(false, kDraft, 100);
  tagMSGPROPS props = Message(kDraft, 1000, 1, u"again");
  EXPECT_EQ(1020u, WriteProps(false, props, kOther, 1020));
  EXPECT_TRUE(Counter().empty());
  const Records index = Index(kDraft);
  EXPECT_EQ(std::make_tuple(size_t{100}, (std::tuple<DWORD, DWORD, uint64_t>{kDraft, 1020, 1000})),
            std::make_tuple(index.size(), index.front()));
  EXPECT_FALSE(std::any_of(index.begin() + 1, index.end(),
                           [](const auto& r) { return std::get<1>(r) == 1020; }));
  EXPECT_EQ(u"again", Record(false, kDraft, 1020).Subject());
  // An INBOX rewrite stays under its account, on the card without an index.
  Put(true, kInbox, 7, 10, 0, kOther);
  props.dwFolder = kInbox;
  EXPECT_EQ(7u, WriteProps(true, props, kOther, 7));
  EXPECT_EQ(1, Record(true, kInbox, 7, kOther).props.bRead);
  EXPECT_FALSE(fs::exists(IndexFile(kOther)));
  // Short of space, it goes to the other storage under the same identifier;
  // the old file stays.
  platform_.volumeFreeBytes[u"\\DiskOnChip"] = 0;
  BYTE content[4] = {1, 2, 3, 4};
  props.dwFolder = kDraft, props.pData = content, props.cbData = 4;
  int storage = 9;
  EXPECT_EQ(1030u, WriteProps(false, props, kOther, 1030, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_EQ(4u, Record(true, kDraft, 1030).props.cbData);
  EXPECT_EQ(0u, Record(false, kDraft, 1030).props.cbData);
  EXPECT_TRUE(platform_.posted.empty() && Counter().empty());
}

// The INBOX holds the incoming-server account's messages only.
TEST_F(EmailStore, LastRecordOfTheInboxIsOfTheIncomingServerAccount) {
  Put(false, kInbox, 8, 30, 0, kAccount);
  Put(false, kInbox, 9, 10, 0, kOther);
  Put(false, kInbox, 10, 40, 0, kAccount);
  Put(true, kSent, 5, 10);
  DWORD count = 99;
  EXPECT_EQ(8u, EmailMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(5u, EmailMsgStore_GetLastRecord(true, kSent, nullptr));
  for (DWORD folder : {kSent, 0u, 7u, kNone, kAccount}) {
    count = 99;
    EXPECT_EQ(0u, EmailMsgStore_GetLastRecord(false, folder, &count) + count) << folder;
  }
}

// All setters share one rewrite: the status setters go through the cases,
// the others are called once each.
TEST_F(EmailStore, SettersKeepTheIdentifierAndTheirTwinsServeTheInbox) {
  const DWORD sent = Write(false, kSent, 10, 0, kOther), newer = Write(false, kSent, 20),
              inbox = Write(false, kInbox, 10, 0, kOther),
              card = Write(true, kInbox, 10, 0, kOther);
  EXPECT_EQ(static_cast<int>(sent), EmailMsgStore_SetStatus(false, kSent, sent, 0x1234));
  EXPECT_EQ(static_cast<int>(inbox), EmailMsgStore_SetStatusInbox(false, kOther, inbox, 0x1234));
  EXPECT_EQ(static_cast<int>(card), EmailMsgStore_SetStatusInbox(true, kOther, card, 0x1234));
  EXPECT_EQ(0, EmailMsgStore_SetStatus(false, kInbox, inbox, 1) +
                   EmailMsgStore_SetStatusInbox(false, kAccount, inbox, 1) +
                   EmailMsgStore_SetStatus(true, kSent, sent, 1));
  EXPECT_EQ((Bytes{4, 0, 0, 0}), Counter());
  EXPECT_EQ(static_cast<int>(sent), EmailMsgStore_SetReadStatus(false, kSent, sent, 7));
  EXPECT_EQ(static_cast<int>(sent), EmailMsgStore_SetReadReportStatus(false, kSent, sent, -3));
  EXPECT_EQ(static_cast<int>(card), EmailMsgStore_SetReadStatusInbox(true, kOther, card, 7));
  EXPECT_EQ(static_cast<int>(card), EmailMsgStore_SetReadReportStatusInbox(true, kOther, card, -3));
  const std::tuple<bool, DWORD, DWORD, BOOL, int> changed[] = {
      {false, kSent, sent, 7, -3}, {false, kInbox, inbox, 0, 0}, {true, kInbox, card, 7, -3}};
  for (const auto& [onCard, folder, oid, read, report] : changed) {
    Record r(onCard, folder, oid, kOther);
    EXPECT_EQ(std::make_tuple(1, oid, WORD{0x1234}, read, report, kOther, u"subject", WORD{0x5150}),
              std::make_tuple(r.ok, r.props.dwOid, r.props.wStatus, r.props.bRead,
                              r.email.dwReadReportStatus, r.email.dwAccountId, r.Subject(),
                              r.email.wQuickValue));
  }
  EXPECT_EQ((Records{{kSent, newer, 20}, {kSent, sent, 10}}), Index(kSent));
  EXPECT_EQ((Records{{kOther, inbox, 10}}), Index(kOther));
}

TEST_F(EmailStore, MovesWriteANewMessageAndDeleteTheSource) {
  const DWORD draft = Write(false, kDraft, 30, 1, kOther, u"moved"), sent = Write(false, kSent, 40),
              older = Write(false, kSent, 10), moved = older + 1;
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kDraft, draft, kSent));
  EXPECT_FALSE(Exists(false, kDraft, draft) || fs::exists(IndexFile(kDraft)));
  EXPECT_EQ((Records{{kSent, sent, 40}, {kSent, moved, 30}, {kSent, older, 10}}), Index(kSent));
  Record r(false, kSent, moved);
  EXPECT_EQ(std::make_tuple(kSent, moved, 1, std::u16string(u"moved"), kOther),
            std::make_tuple(r.props.dwFolder, r.props.dwOid, r.props.bRead, r.Subject(),
                            r.email.dwAccountId));
  // Into the INBOX of the account that the message names.
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kSent, moved, kInbox));
  EXPECT_EQ((Records{{kOther, moved + 1, 30}}), Index(kOther));
  EXPECT_TRUE(Exists(false, kInbox, moved + 1, kOther));
  // Failed moves leave the source; a refused target still used an identifier.
  for (DWORD to : {9u, kNone}) EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kSent, sent, to));
  EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kInbox, moved + 1, kSent));
  EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kDraft, 99, kSent));
  EXPECT_TRUE(Exists(false, kSent, sent) && Indexed(kSent, sent));
  EXPECT_EQ((Bytes{7, 0, 0, 0}), Counter());
  // A full target with a usable card: the copy goes there, the source is
  // taken from the storage given.
  Fill(false, kDraft, 100);
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kSent, sent, kDraft));
  EXPECT_TRUE(Exists(true, kDraft, 8));
  EXPECT_FALSE(Exists(false, kSent, sent) || Indexed(kSent, sent));
  EXPECT_TRUE(platform_.posted.empty());
}

TEST_F(EmailStore, SpamRoundTripKeepsTheAccount) {
  for (bool card : {false, true}) {
    SCOPED_TRACE(card);
    Reset();
    const DWORD first = Write(card, kInbox, 50, 0, kOther, u"spam?");
    Write(card, kInbox, 60, 0, kOther);
    EXPECT_EQ(0, EmailMsgStore_MoveInboxToSpam(card, kAccount, first));
    EXPECT_NE(0, EmailMsgStore_MoveInboxToSpam(card, kOther, first));
    EXPECT_FALSE(Exists(card, kInbox, first, kOther));
    Record r(card, kSpam, 3);
    EXPECT_EQ(std::make_tuple(kSpam, kOther, std::u16string(u"spam?")),
              std::make_tuple(r.props.dwFolder, r.email.dwAccountId, r.Subject()));
    EXPECT_EQ(!card, Indexed(kSpam, 3));
    EXPECT_NE(0, EmailMsgStore_RestoreMessageToInbox(card, 3));
    EXPECT_EQ(0, EmailMsgStore_RestoreMessageToInbox(card, 3));
    EXPECT_EQ(0u, Files(card, kSpam));
    EXPECT_FALSE(fs::exists(IndexFile(kSpam)));
    EXPECT_TRUE(Exists(card, kInbox, 4, kOther));
    EXPECT_EQ(card ? Records{} : (Records{{kOther, 2, 60}, {kOther, 4, 50}}), Index(kOther));
  }
}

TEST_F(EmailStore, DeletionAndEmptyingWithTheirInboxTwins) {
  const DWORD draft = Write(false, kDraft, 20), mine = Write(false, kInbox, 10),
              other = Write(false, kInbox, 10, 0, kOther), card = Write(true, kDraft, 10);
  for (DWORD folder : {kInbox, kNone, 9u})
    EXPECT_EQ(0, EmailMsgStore_DeleteMessage(false, folder, mine));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessage(false, kDraft, draft));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessage(true, kDraft, card));
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(true, kDraft, card));
  EXPECT_EQ(0, EmailMsgStore_DeleteMessageInbox(true, kOther, other));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessageInbox(false, kAccount, mine));
  EXPECT_FALSE(Exists(false, kInbox, mine));
  EXPECT_FALSE(fs::exists(IndexFile(kDraft)) || fs::exists(IndexFile(kAccount)));

  // Emptying deletes the files of one account for the twin, and keeps the
  // index.
  for (DWORD oid : {1u, 2u}) Put(false, kInbox, oid, 1, 0, kAccount);
  Put(false, kInbox, 3, 1, 0, kOther);
  EmailMsgStore_AddMsgToIni(3, kOther, {1, 0});
  EXPECT_EQ(1, EmailMsgStore_EmptyFolderInbox(false, kOther));
  EXPECT_EQ(std::make_pair(size_t{2}, size_t{0}),
            std::make_pair(Files(false, kInbox, "805306371_"), Files(false, kInbox, "805306629_")));
  EXPECT_TRUE(Indexed(kOther, 3));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(false, kInbox));
  EXPECT_EQ(0u, Files(false, kInbox));
  for (DWORD folder : {0u, 7u, kAccount}) EXPECT_EQ(0, EmailMsgStore_EmptyFolder(false, folder));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(false, kNone));
  EXPECT_TRUE(platform_.posted.empty());
}

TEST_F(EmailStore, ListingsReadsAndCountsByFolderAndByAccount) {
  for (DWORD oid : {1u, 2u}) Put(false, kInbox, oid, oid, 0, kAccount);
  Put(false, kInbox, 3, 1, 0, kOther);
  Put(true, kDraft, 3, 1);
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  EXPECT_EQ(1u, EmailMsgStore_GetMessageList(true, kDraft, list));
  EXPECT_EQ(2u, EmailMsgStore_GetMessageList(false, kInbox, list));
  EXPECT_EQ(1u, EmailMsgStore_GetMessageListInbox(false, kOther, list));
  std::vector<std::tuple<DWORD, int, int>> entries;
  for (long i = 0; i < list.GetSize(); ++i)
    entries.emplace_back(list[i].dwOid, list[i].bMemoryCard, list[i].byFolder);
  std::sort(entries.begin() + 2, entries.begin() + 4);
  EXPECT_EQ(entries, (std::vector<std::tuple<DWORD, int, int>>{
                         {777, 1, 9}, {3, 1, 3}, {1, 0, 3}, {2, 0, 3}, {3, 0, 3}}));
  for (DWORD folder : {0u, 7u, 12u, kAccount})
    EXPECT_EQ(0u, EmailMsgStore_GetMessageList(false, folder, list));

  // Counts: the plain INBOX count takes every account, the twin one.
  EXPECT_EQ(3u, EmailMsgStore_GetFolderMessageCount(false, kInbox));
  EXPECT_EQ(1u, EmailMsgStore_GetFolderMessageCount(true, kDraft));
  EXPECT_EQ(0u, EmailMsgStore_GetFolderMessageCount(false, 7));
  DWORD count = 99, none = 99;
  EXPECT_EQ(2, EmailMsgStore_GetFolderMessageCountInbox(false, kAccount, &count) +
                   EmailMsgStore_GetFolderMessageCountInbox(false, 12, &none));
  EXPECT_EQ(std::make_pair(2u, 0u), std::make_pair(count, none));
  EXPECT_EQ(1, EmailMsgStore_GetFolderMessageCountInbox(false, kAccount, nullptr));

  // The twin by position, without content: past the end (or -1) the last
  // file enumerated; by identifier the INBOX only through the twin.
  CMsgList order;
  ASSERT_EQ(2u, EmailMsgStore_GetMessageListInbox(false, kAccount, order));
  for (const auto& [position, index] : {std::pair<int, long>{0, 0}, {1, 1}, {5, 1}, {-1, 1}}) {
    tagMSGPROPS q{};
    tagEMAILMSGPROPS qe{};
    EXPECT_EQ(1,
              EmailMsgStore_ReadFolderMessageInbox(false, kAccount, position, 0, false, &q, &qe));
    EXPECT_EQ(order[index].dwOid, q.dwOid) << position;
    EXPECT_TRUE(q.pData == nullptr && q.cbData == 0);
    EmailMsgStore_FreeMsgProps(&q, &qe);
  }
  EXPECT_EQ(std::make_pair(1, 0), std::make_pair(Record(false, kInbox, 3, kOther).ok,
                                                 Record(false, kInbox, 3, kAccount).ok));
  tagMSGPROPS p{};
  tagEMAILMSGPROPS e{};
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessage(false, kInbox, 0, 3, true, &p, &e) +
                   EmailMsgStore_ReadFolderMessage(false, kUnsent, 0, 0, true, &p, &e) +
                   EmailMsgStore_ReadFolderMessage(false, 9, 0, 0, true, &p, &e));
  EmailMsgStore_FreeMsgProps(&p, &e);

  // Without the incoming-server account the plain INBOX lists nothing.
  fs::remove_all(Host(".platform/registry"));
  EXPECT_EQ(0u, EmailMsgStore_GetMessageList(false, kInbox, list));
}

TEST_F(EmailStore, UnreadCountsMatchTheAccountAnywhereInTheName) {
  Put(false, kInbox, 1, 1, 0, kAccount);
  Put(false, kInbox, 2, 1, 1, kAccount);
  Store({1, 2, 3}, File(false, kInbox, 3, kAccount));  // unreadable: unread
  Put(false, kInbox, 4, 1, 0, kOther);
  Put(false, kInbox, 6, 1, 0, 6);
  Put(true, kInbox, 7, 1, 0, kAccount);
  const std::tuple<bool, DWORD, DWORD> unread[] = {{false, kAccount, 2}, {false, kOther, 1},
                                                   {false, 5306, 3},     {false, 6, 4},
                                                   {false, 0, 0},        {true, 8, 1}};
  for (const auto& [card, account, n] : unread)
    EXPECT_EQ(n, EmailMsgStore_GetUnreadMsgCount(card, account)) << card << " " << account;
  EXPECT_EQ(3u, GetEmailInboxUnreadMsgsCount());
  SetIncomingServer(kOther);
  EXPECT_EQ(1u, GetEmailInboxUnreadMsgsCount());
  fs::remove_all(Host(".platform/registry"));
  EXPECT_EQ(0u, GetEmailInboxUnreadMsgsCount());
  // It makes both trees first.
  fs::remove_all(Host("DiskOnChip/User/MESSAGING"));
  RemoveCard();
  fs::create_directories(Host("SD Card"));
  EXPECT_EQ(0u, GetEmailInboxUnreadMsgsCount());
  EXPECT_TRUE(fs::is_directory(Dir(false, kNone)) && fs::is_directory(Dir(true, kSpam)));
}

// Which indexes exist already, which files are read and how is the shared
// rebuild's; here the folders that get one.
TEST_F(EmailStore, RefreshRebuildsOnlyMissingIndexesOutsideTheInbox) {
  const Records records = {
      {kDraft, 1, 10}, {kSent, 2, 20}, {kUnsent, 3, 30}, {kReport, 4, 40}, {kSpam, 5, 50}};
  for (const auto& [folder, oid, time] : records) Put(false, folder, oid, DWORD(time));
  Put(false, kInbox, 10, 5, 0, kAccount);
  EXPECT_EQ(1, EmailMsgStore_RefreshIniFiles());
  for (const auto& r : records) EXPECT_EQ(Records{r}, Index(std::get<0>(r)));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)) || fs::exists(IndexFile(kAccount)));
}

}  // namespace
