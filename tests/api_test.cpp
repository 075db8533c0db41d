// The C++ API as a caller sees it: records through Add and Read, writes at
// the folder limit and refused, moves, deletions and changes, the card, and an
// eviction reported while another process writes. (The accounts: the account
// store's tests and the Python package's, which stands on this API.)
#include <algorithm>
#include <fstream>
#include <set>

#include "msgstore/device.h"
#include "msgstore/maintenance.h"
#include "msgstore/msgstore.h"
#include "msgstore/notices.h"
#include "test_support.h"

namespace {

using namespace msgstore;  // NOLINT(build/namespaces)

class Api : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    dev = Device::Open(root_);
    ASSERT_TRUE(dev->Init());
  }
  // A record whose every field the store keeps holds a value of its own.
  static Record Filled(StoreKind kind, DWORD folder) {
    Record r;
    DWORD n = 0;
    for (const RecordField& f : RecordFields()) {
      ++n;
      if (!f.KeptBy(kind)) continue;
      if (f.type == RecordField::kBool) f.Value<BOOL>(r) = 7;
      if (f.type == RecordField::kWord) f.Value<WORD>(r) = static_cast<WORD>(0x100 + n);
      if (f.type == RecordField::kDword) f.Value<DWORD>(r) = 0x80000000u + n;
      if (f.type == RecordField::kInt32) f.Value<int32_t>(r) = -static_cast<int32_t>(n);
      if (f.type == RecordField::kText)
        f.Value<std::u16string>(r) = u"t\u00e9xt " + std::u16string(n, u'a');
      if (f.type == RecordField::kBytes) f.Value<std::vector<uint8_t>>(r) = {0, 0xFF, 7, 0};
      if (f.type == RecordField::kTime) f.Value<FILETIME>(r) = {n, 0x01D00000u + n};
    }
    r.folder = folder;
    return r;
  }
  static Record At(DWORD folder, DWORD time) {
    Record r;
    r.folder = folder, r.indexTime = r.time = {time, 0x01D00000u};
    return r;
  }
  // Fills r's folder of a storage to the limit, each newer than the last.
  std::vector<DWORD> Fill(Store& s, Record r, bool card = false) {
    std::vector<DWORD> ids;
    for (DWORD i = 0; i < s.description().folderLimit; ++i, ++r.indexTime.dwLowDateTime) {
      const WriteResult w = s.Add(r, card ? Storage::kCard : Storage::kPhone);
      EXPECT_TRUE(w && !w.evicted) << w.error;
      ids.push_back(w.stored ? w.stored->id : 0);
    }
    return ids;
  }
  // The last notice posted went to NoticeWindows()[window] and says so.
  void ExpectNotice(size_t window, const std::string& what, const std::string& detail) {
    ASSERT_FALSE(platform_.posted.empty());
    const msgstore_test::FakePlatform::Posted& p = platform_.posted.back();
    EXPECT_EQ(p.className, NoticeWindows().at(window));
    const NoticeMeaning m = ExplainNotice({p.className, p.msg, p.wParam, p.lParam});
    EXPECT_EQ(m.what + ": " + m.detail, what + ": " + detail);
  }
  std::unique_ptr<Device> dev;
};

std::u16string Text(const WCHAR* s) { return s ? s : u""; }

TEST_F(Api, EveryFieldComesBackAsWrittenAndAsTheStoresOwnReadGivesIt) {
  for (StoreKind kind : {StoreKind::kSms, StoreKind::kMms, StoreKind::kEmail})
    for (bool card : {false, true}) {
      Store& s = dev->store(kind);
      Record r = Filled(kind, 2);  // draft
      const WriteResult w = s.Add(r, card ? Storage::kCard : Storage::kPhone);
      ASSERT_TRUE(w && w.stored) << w.error;
      EXPECT_EQ(*w.stored, (Location{card, 2, w.stored->id, 0}));
      EXPECT_FALSE(w.otherStorage || w.evicted);
      r.id = w.stored->id;
      const ReadResult back = s.Read(*w.stored);
      ASSERT_TRUE(back) << back.error;
      EXPECT_EQ(back.record, r) << s.description().name;
      EXPECT_TRUE(s.Read(*w.stored, false).record.content.empty());

      // The store's own read: the fields another store does not keep are
      // empty in r as in the structures that read leaves alone.
      tagMSGPROPS p = {};
      tagMMSMSGPROPS m = {};
      tagEMAILMSGPROPS e = {};
      ASSERT_TRUE(kind == StoreKind::kSms
                      ? EMSMsgStore_ReadFolderMessage(card, 2, -1, r.id, true, &p)
                  : kind == StoreKind::kMms
                      ? MMSMsgStore_ReadFolderMessage(card, 2, -1, r.id, true, &p, &m)
                      : EmailMsgStore_ReadFolderMessage(card, 2, -1, r.id, true, &p, &e));
      EXPECT_EQ(
          std::make_tuple(p.bRead, p.dwUser1, p.ftIndexTime.dwLowDateTime, p.ftTime.dwHighDateTime,
                          p.dwFolder, p.wStatus, p.dwOid, p.dwUser2, p.wUser1, p.wUser2, p.dwUser3),
          std::make_tuple(r.read, r.user1, r.indexTime.dwLowDateTime, r.time.dwHighDateTime,
                          r.folder, r.status, r.id, r.user2, r.wordUser1, r.wordUser2, r.user3));
      EXPECT_EQ((std::vector<std::u16string>{Text(p.pszText1), Text(p.pszText2), Text(p.pszTo),
                                             Text(p.pszText3), Text(p.pszText4), Text(p.pszSubject),
                                             Text(p.pszMsgID), Text(m.pszMmsText),
                                             Text(e.pszEmailText1), Text(e.pszEmailText2)}),
                (std::vector<std::u16string>{r.text1, r.text2, r.to, r.text3, r.text4, r.subject,
                                             r.msgId, r.mms.text, r.email.text1, r.email.text2}));
      EXPECT_EQ(std::vector<uint8_t>(p.pData, p.pData + p.cbData), r.content);
      EXPECT_EQ(std::vector<int64_t>({m.wMmsValue1, m.dwMmsValue1, m.wMmsValue2, m.wMmsQuick1,
                                      m.dwMmsValue2, m.wMmsValue3, m.wMmsQuick2, e.wQuickValue,
                                      e.dwEmailData1, e.dwReadReportStatus, e.dwAccountId,
                                      e.dwEmailData2}),
                std::vector<int64_t>({r.mms.value1, r.mms.dwordValue1, r.mms.value2, r.mms.quick1,
                                      r.mms.dwordValue2, r.mms.value3, r.mms.quick2,
                                      r.email.quickValue, r.email.data1, r.email.readReportStatus,
                                      r.email.accountId, r.email.data2}));
      if (kind == StoreKind::kSms) EMSMsgStore_FreeMsgProps(&p);
      if (kind == StoreKind::kMms) MMSMsgStore_FreeMsgProps(&p, &m);
      if (kind == StoreKind::kEmail) EmailMsgStore_FreeMsgProps(&p, &e);
    }
}

TEST_F(Api, AddAtTheFolderLimitReportsTheEvictionOrTheOtherStorageOrTheRefusal) {
  Store& sms = dev->sms();
  // A full draft loses its oldest message, and the result says which; a
  // message whose file had gone already is no eviction of this write.
  const std::vector<DWORD> drafts = Fill(sms, At(2, 1000));
  WriteResult w = sms.Add(At(2, 5000));
  ASSERT_TRUE(w) << w.error;
  EXPECT_EQ(w.evicted, (Location{false, 2, drafts[0], 0}));
  std::filesystem::remove(Dir(SmsStore(), false, 2) + "/" + FileName(SmsStore(), drafts[1]));
  w = sms.Add(At(2, 5001));
  EXPECT_TRUE(w && !w.evicted) << w.error;
  // With the choice, the message goes to the card's draft.
  w = sms.Add(At(2, 5002), Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card && !w.evicted);
  EXPECT_EQ(w.switchedFor, Refusal::kFolderFull);
  // When both inboxes are full the card loses its oldest.
  Fill(sms, At(1, 1000));
  const std::vector<DWORD> cardInbox = Fill(sms, At(1, 100), true);
  w = sms.Add(At(1, 6000), Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card);
  EXPECT_EQ(w.evicted, (Location{true, 1, cardInbox[0], 0}));

  // The e-mail inbox counts the incoming-server account's messages.
  AccountResult a = dev->accounts().Add({0, 1, 0, 0, 0, u"mail"});
  ASSERT_TRUE(a) << a.error;
  ASSERT_TRUE(dev->accounts().SetIncomingServer(a.account.id));
  Record mail = At(1, 1);
  mail.email.accountId = a.account.id;
  const std::vector<DWORD> inbox = Fill(dev->email(), mail);
  Fill(dev->email(), mail, true);
  mail.indexTime.dwLowDateTime = 1000;
  // A card that cannot take messages now: phone memory evicts.
  platform_.cardState = 1 | 4;
  w = dev->email().Add(mail, Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_EQ(w.evicted, (Location{false, 1, inbox[0], a.account.id}));
  ExpectNotice(1, "e-mail inbox event",
               "phone memory, message " + std::to_string(inbox[0]) + " removed to make room");
  platform_.cardState = 1;
  w = dev->email().Add(mail, Storage::kAuto);
  EXPECT_EQ(w.refusal, Refusal::kBothFull) << w.error;
  // A phone volume without room sends a message the store may place to the
  // card; with neither volume's room it is refused.
  platform_.volumeFreeBytes[u"\\DiskOnChip"] = 0;
  Record big = At(3, 1);
  big.content.assign(10, 1);
  w = dev->mms().Add(big, Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card && !w.evicted);
  EXPECT_EQ(w.switchedFor, Refusal::kNoSpace);
  platform_.freeBytes = 0;
  big.folder = 2;
  w = dev->mms().Add(big);
  EXPECT_EQ(w.refusal, Refusal::kNoSpace) << w.error;
  EXPECT_EQ(dev->mms().Count(false, 2).messages, 0u);
  // Without a card to switch to, the store's choice is refused.
  RemoveCard();
  platform_.cardState = 0;
  w = sms.Add(At(1, 7000), Storage::kAuto);
  EXPECT_EQ(w.refusal, Refusal::kNoCard) << w.error;
}

// What a listing, an index and an emptying show of a folder that holds more
// than messages: stray names, a damaged file, a directory under a message's
// name. (The index records an emptying leaves: the Python package's tests;
// the notice of an emptied inbox: the tool's watch test.)
TEST_F(Api, ListingsIndexesAndEmptyingsOfAFolderWithStrayFiles) {
  Store& sms = dev->sms();
  std::vector<DWORD> ids;
  for (DWORD time : {30, 10, 20}) ids.push_back(sms.Add(At(EMS_FOLDER_DRAFT, time)).stored->id);
  const std::string draft = Dir(SmsStore(), false, EMS_FOLDER_DRAFT);
  for (const char* name : {"abc.sms", "007.sms", "50.sms"})
    std::ofstream(draft + "/" + name) << "x";
  std::filesystem::create_directory(draft + "/60.sms");
  const ListResult listed = sms.List(false, EMS_FOLDER_DRAFT);
  ASSERT_TRUE(listed) << listed.error;
  EXPECT_EQ(listed.messages.size(), 5u);
  ASSERT_EQ(listed.strays.size(), 2u);
  EXPECT_EQ(listed.strays[0].name + " " + listed.strays[1].name, "007.sms abc.sms");
  EXPECT_EQ(listed.strays[1].at, (Location{false, EMS_FOLDER_DRAFT, 0, 0}));
  ReadResult r = sms.Read({false, EMS_FOLDER_DRAFT, 50, 0});
  EXPECT_TRUE(r.damaged);
  EXPECT_EQ(r.error, "message 50 in phone draft cannot be read (damaged file)");
  r = sms.Read({false, EMS_FOLDER_DRAFT, 60, 0});
  EXPECT_FALSE(r.damaged);
  EXPECT_EQ(r.error, "message 60 in phone draft cannot be opened");

  // The index lists the newest first, and a SIM folder's copies with the inbox.
  EXPECT_EQ(
      sms.IndexRecords(EMS_FOLDER_DRAFT).records,
      (std::vector<Location>{{false, 2, ids[0], 0}, {false, 2, ids[2], 0}, {false, 2, ids[1], 0}}));
  const DWORD sim = sms.Add(At(EMS_FOLDER_SIM_INBOX, 1)).stored->id;
  EXPECT_EQ(sms.IndexRecords(EMS_FOLDER_INBOX).records,
            (std::vector<Location>{{false, EMS_FOLDER_SIM_INBOX, sim, 0}}));
  EXPECT_EQ(sms.IndexRecords(EMS_FOLDER_SIM_INBOX).error,
            "folder sim-inbox has no index of its own (its messages are in the index of inbox)");

  EmptyResult emptied = sms.EmptyFolder(false, EMS_FOLDER_DRAFT);
  EXPECT_EQ(emptied.error,
            "the phone draft cannot be emptied: 60.sms is not a file (nothing deleted)");
  EXPECT_EQ(sms.Count(false, EMS_FOLDER_DRAFT).messages, 5u);
  std::filesystem::remove(draft + "/60.sms");
  emptied = sms.EmptyFolder(false, EMS_FOLDER_DRAFT);
  ASSERT_TRUE(emptied) << emptied.error;
  EXPECT_EQ(emptied.deleted, 6u);
  ASSERT_TRUE(sms.Add(At(EMS_FOLDER_INBOX, 1)));
  EXPECT_EQ(sms.EmptyFolder(false, EMS_FOLDER_INBOX).deleted, 1u);  // this emptying's own
}

// What is refused, missing or damaged says so, and the card taken out and put
// back. (Other refusals, opening a device root and a rewrite: the tool's and
// the Python package's tests; the bytes of counters and account database: the
// tool's export and import round trip.)
TEST_F(Api, RefusedMissingAndDamagedSayWhy) {
  Store& sms = dev->sms();
  EXPECT_EQ(sms.Add(At(EMS_FOLDER_SIM_INBOX, 1), Storage::kCard).refusal, Refusal::kNotInFolder);
  EXPECT_EQ(sms.Add(At(99, 1)).status, Status::kNotFound);
  EXPECT_EQ(dev->email().Add(At(EMAIL_FOLDER_NONE, 1)).refusal, Refusal::kInvalid);
  platform_.cardState = 1 | 2;
  EXPECT_EQ(sms.Add(At(2, 1), Storage::kCard).refusal, Refusal::kNoCard);
  platform_.cardState = 0;
  EXPECT_EQ(sms.List(true).refusal, Refusal::kNoCard);
  const Location at = *sms.Add(At(2, 1)).stored;
  EXPECT_EQ(sms.Counter(), at.id);
  EXPECT_EQ(sms.SetReadReport(at, 1).refusal, Refusal::kInvalid);

  // The card as the device root holds it: moved aside and back.
  SetPlatform(nullptr);
  const Location onCard = *sms.Add(At(2, 1), Storage::kCard).stored;
  EXPECT_TRUE(dev->RemoveCard());
  EXPECT_EQ(dev->RemoveCard().refusal, Refusal::kNoCard);
  EXPECT_EQ(sms.Read(onCard).refusal, Refusal::kNoCard);
  EXPECT_TRUE(dev->InsertCard());
  EXPECT_EQ(dev->InsertCard().refusal, Refusal::kInvalid);
  EXPECT_TRUE(sms.Read(onCard));
  EXPECT_EQ(sms.Rewrite({true, 2, onCard.id + 1, 0}, At(2, 1)).status, Status::kNotFound);

  // A counter missing (a write would overwrite a stored message) or damaged,
  // an account database missing or not whole, trees never made.
  std::filesystem::remove(Host(SmsStore().counterFile));
  EXPECT_EQ(sms.Counter(), std::nullopt);
  EXPECT_EQ(sms.Add(At(2, 1)).status, Status::kFailed);
  EXPECT_TRUE(sms.Read(at));
  std::ofstream(Host(SmsStore().counterFile), std::ios::trunc) << "12345";
  EXPECT_EQ(sms.Counter(), std::nullopt);
  Accounts& accounts = dev->accounts();
  const AccountDatabase none = accounts.Database();
  EXPECT_TRUE(none && !none.present && !none.counter && none.accounts.empty());
  ASSERT_TRUE(accounts.Add({0, 5, 0, 0, 0, u"a"}));
  ASSERT_TRUE(accounts.Add({0, 5, 0, 0, 0, u"b"}));
  EXPECT_TRUE(accounts.Database().whole && accounts.Database().problem.empty());
  // The file keeps each folder's accounts in the reverse of the store's order.
  const std::vector<Account> listed = accounts.List().accounts;
  EXPECT_EQ(accounts.Database().accounts, std::vector<Account>(listed.rbegin(), listed.rend()));
  std::ofstream(Host(AccountStore().database), std::ios::app) << "xx";
  const AccountDatabase damaged = accounts.Database();
  EXPECT_FALSE(damaged.whole);
  EXPECT_EQ(damaged.problem,
            "the account database is damaged (46 bytes, of which the account store reads 44)");
  const AccountReport checked = CheckAccounts(*dev);
  EXPECT_TRUE(!checked.readable && checked.problem == damaged.problem &&
              Check(*dev).accounts.problem == damaged.problem)
      << checked.problem;
  Wipe();
  EXPECT_EQ(sms.Add(At(2, 1)).status, Status::kNotFound);
  EXPECT_EQ(sms.List(false).status, Status::kNotFound);
}

TEST_F(Api, MovesDeletionsChangesAndEmptyingsSayWhatTheyDid) {
  Store& mms = dev->mms();
  // A move into a full folder goes to the card's, or evicts where the store
  // may not switch (a plain move, a change, a deletion and an emptying: the
  // tool's and the Python package's tests).
  Fill(mms, At(3, 1));
  WriteResult w = mms.Move(*mms.Add(At(2, 9000)).stored, 3);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card && !w.evicted);
  const std::vector<Location> all = mms.List().messages;
  EXPECT_EQ(std::count(all.begin(), all.end(), *w.stored), 1);
  const std::vector<DWORD> reports = Fill(mms, At(5, 1));
  w = mms.Move(*mms.Add(At(2, 9000)).stored, 5);
  ASSERT_TRUE(w) << w.error;
  EXPECT_EQ(w.evicted, (Location{false, 5, reports[0], 0}));
  EXPECT_FALSE(w.otherStorage || w.stored->card);
  std::ofstream(Dir(MmsStore(), false, 5) + "/7777.mms") << "damaged";
  const CountResult c = mms.Count(false, 5);
  EXPECT_EQ(std::vector<size_t>({c.messages, c.unread, c.unreadable}),
            std::vector<size_t>({101, 100, 1}));
  EXPECT_EQ(mms.Read({false, 5, 7777, 0}).status, Status::kFailed);
  ASSERT_TRUE(mms.Delete(*w.stored));
  EXPECT_EQ(mms.Delete(*w.stored).status, Status::kNotFound);
  EXPECT_EQ(mms.Empty(false, MMS_FOLDER_NONE).refusal, Refusal::kInvalid);

  // The e-mail store moves inbox messages to spam only, and back.
  Store& email = dev->email();
  const DWORD account = dev->accounts().Add({0, 1, 0, 0, 0, u"a"}).account.id;
  Record mail = At(EMAIL_FOLDER_INBOX, 1);
  mail.email.accountId = account;
  const Location inbox = *email.Add(mail).stored;
  EXPECT_EQ(inbox.account, account);
  EXPECT_EQ(email.Move(inbox, EMAIL_FOLDER_DRAFT).refusal, Refusal::kInvalid);
  w = email.Move(inbox, EMAIL_FOLDER_SPAM);
  ASSERT_TRUE(w) << w.error;
  w = email.Move(*w.stored, EMAIL_FOLDER_INBOX);
  ASSERT_TRUE(w) << w.error;
  EXPECT_EQ(w.stored->account, account);
  EXPECT_EQ(email.List(false, EMAIL_FOLDER_INBOX).messages, std::vector<Location>{*w.stored});
  EXPECT_EQ(email.IndexRecords(EMAIL_FOLDER_INBOX).records, std::vector<Location>{*w.stored});
  EXPECT_TRUE(email.Empty(false, EMAIL_FOLDER_INBOX, account + 1));
  EXPECT_EQ(email.Count(false, EMAIL_FOLDER_INBOX).messages, 1u);
  EXPECT_TRUE(email.Empty(false, EMAIL_FOLDER_INBOX, account));
  EXPECT_EQ(email.Count(false, EMAIL_FOLDER_INBOX).messages, 0u);
}

// Two processes write to one full folder at once. Each reports the eviction
// its own write made: no eviction is reported twice, and what is left is
// exactly what was written less what was reported evicted.
TEST_F(Api, AnEvictionReportedIsTheOneThatHappenedWhileAnotherProcessWrites) {
  std::set<DWORD> written, evicted;
  for (DWORD id : Fill(dev->sms(), At(2, 1000))) written.insert(id);
  constexpr DWORD kEach = 40;
  msgstore_test::Children children;
  for (int process = 0; process < 2; ++process)
    children.Spawn([&](int out) {
      std::unique_ptr<Device> own = Device::Open(root_);
      for (DWORD i = 0; i < kEach; ++i) {
        const WriteResult w = own->sms().Add(At(2, 10000 + i));
        if (!msgstore_test::Report(out,
                                   {w.stored ? w.stored->id : 0, w.evicted ? w.evicted->id : 0}))
          return 3;
      }
      return 0;
    });
  ASSERT_EQ(children.Finish(), (std::vector<int>{0, 0}));
  std::vector<DWORD> words = children.Words(0), second = children.Words(1);
  words.insert(words.end(), second.begin(), second.end());
  ASSERT_EQ(words.size(), 4 * kEach);
  for (size_t i = 0; i < words.size(); i += 2) {
    ASSERT_NE(words[i], 0u);
    EXPECT_TRUE(written.insert(words[i]).second);
    EXPECT_TRUE(words[i + 1] == 0 || evicted.insert(words[i + 1]).second) << words[i + 1];
  }
  EXPECT_FALSE(evicted.empty());
  std::set<DWORD> left;
  for (const Location& at : dev->sms().List(false, 2).messages) left.insert(at.id);
  for (DWORD id : evicted) written.erase(id);
  EXPECT_EQ(left, written);
}

}  // namespace
