// The C++ API as a caller sees it: records through Add and Read, what a
// write reports at the folder limit and when refused, moves, deletions and
// changes, the device root, and an eviction reported while another process
// writes to the same folder. (The accounts, their order and the
// incoming-server account: the account store's tests and the Python
// package's, which stands on this API.)
#include <algorithm>
#include <fstream>
#include <set>

#include "msgstore/device.h"
#include "msgstore/msgstore.h"
#include "msgstore/notices.h"
#include "test_support.h"

namespace {

using msgstore::Location;
using msgstore::Record;
using msgstore::RecordField;
using msgstore::Refusal;
using msgstore::Status;
using msgstore::Storage;
using msgstore::StoreKind;

class Api : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    dev = msgstore::Device::Open(root_);
    ASSERT_TRUE(dev->Init());
  }
  // A record whose every field the store keeps holds a value of its own.
  static Record Filled(StoreKind kind, DWORD folder) {
    Record r;
    DWORD n = 0;
    for (const RecordField& f : msgstore::RecordFields()) {
      void* p = f.at(r);
      ++n;
      if (!f.KeptBy(kind)) continue;
      if (f.type == RecordField::kBool) *static_cast<BOOL*>(p) = 7;
      if (f.type == RecordField::kWord) *static_cast<WORD*>(p) = static_cast<WORD>(0x100 + n);
      if (f.type == RecordField::kDword) *static_cast<DWORD*>(p) = 0x80000000u + n;
      if (f.type == RecordField::kInt32) *static_cast<int32_t*>(p) = -static_cast<int32_t>(n);
      if (f.type == RecordField::kText)
        *static_cast<std::u16string*>(p) = u"t\u00e9xt " + std::u16string(n, u'a');
      if (f.type == RecordField::kBytes) *static_cast<std::vector<uint8_t>*>(p) = {0, 0xFF, 7, 0};
      if (f.type == RecordField::kTime) *static_cast<FILETIME*>(p) = {n, 0x01D00000u + n};
    }
    r.folder = folder;
    return r;
  }
  static Record At(DWORD folder, DWORD time, BOOL read = 0) {
    Record r;
    r.folder = folder, r.read = read, r.indexTime = r.time = {time, 0x01D00000u};
    return r;
  }
  // Fills a folder of a storage to the limit, the oldest first.
  std::vector<DWORD> Fill(msgstore::Store& s, DWORD folder, bool card, DWORD firstTime = 1000) {
    std::vector<DWORD> ids;
    for (DWORD i = 0; i < s.description().folderLimit; ++i) {
      const msgstore::WriteResult w =
          s.Add(At(folder, firstTime + i), card ? Storage::kCard : Storage::kPhone);
      EXPECT_TRUE(w && !w.evicted) << w.error;
      ids.push_back(w.stored ? w.stored->id : 0);
    }
    return ids;
  }
  // The last notice posted went to NoticeWindows()[window] and says so.
  void ExpectNotice(size_t window, const std::string& what, const std::string& detail) {
    ASSERT_FALSE(platform_.posted.empty());
    const msgstore_test::FakePlatform::Posted& p = platform_.posted.back();
    EXPECT_EQ(p.className, msgstore::NoticeWindows().at(window));
    const msgstore::NoticeMeaning m =
        msgstore::ExplainNotice({p.className, p.msg, p.wParam, p.lParam});
    EXPECT_EQ(m.what + ": " + m.detail, what + ": " + detail);
  }
  std::unique_ptr<msgstore::Device> dev;
};

std::u16string Text(const WCHAR* s) { return s ? s : u""; }

// The shared record as the store's own read gives it.
void ExpectProps(const tagMSGPROPS& p, const Record& r) {
  EXPECT_EQ(
      std::make_tuple(p.bRead, p.dwUser1, p.ftIndexTime.dwLowDateTime, p.ftTime.dwHighDateTime,
                      p.dwFolder, p.wStatus, p.dwOid, p.dwUser2, p.wUser1, p.wUser2, p.dwUser3),
      std::make_tuple(r.read, r.user1, r.indexTime.dwLowDateTime, r.time.dwHighDateTime, r.folder,
                      r.status, r.id, r.user2, r.wordUser1, r.wordUser2, r.user3));
  EXPECT_EQ(
      (std::vector<std::u16string>{Text(p.pszText1), Text(p.pszText2), Text(p.pszTo),
                                   Text(p.pszText3), Text(p.pszText4), Text(p.pszSubject),
                                   Text(p.pszMsgID)}),
      (std::vector<std::u16string>{r.text1, r.text2, r.to, r.text3, r.text4, r.subject, r.msgId}));
  EXPECT_EQ(std::vector<uint8_t>(p.pData, p.pData + p.cbData), r.content);
}

TEST_F(Api, EveryFieldComesBackAsWrittenAndAsTheStoresOwnReadGivesIt) {
  for (StoreKind kind : {StoreKind::kSms, StoreKind::kMms, StoreKind::kEmail})
    for (bool card : {false, true}) {
      msgstore::Store& s = dev->store(kind);
      Record r = Filled(kind, 2);  // draft
      const msgstore::WriteResult w = s.Add(r, card ? Storage::kCard : Storage::kPhone);
      ASSERT_TRUE(w) << w.error;
      ASSERT_TRUE(w.stored);
      EXPECT_EQ(*w.stored, (Location{card, 2, w.stored->id, 0}));
      EXPECT_FALSE(w.otherStorage || w.evicted);
      r.id = w.stored->id;
      const msgstore::ReadResult back = s.Read(*w.stored);
      ASSERT_TRUE(back) << back.error;
      EXPECT_EQ(back.record, r) << s.description().name;
      EXPECT_TRUE(s.Read(*w.stored, false).record.content.empty());

      tagMSGPROPS p = {};
      if (kind == StoreKind::kSms) {
        ASSERT_TRUE(EMSMsgStore_ReadFolderMessage(card, 2, -1, r.id, true, &p));
        ExpectProps(p, r);
        EMSMsgStore_FreeMsgProps(&p);
      } else if (kind == StoreKind::kMms) {
        tagMMSMSGPROPS m = {};
        ASSERT_TRUE(MMSMsgStore_ReadFolderMessage(card, 2, -1, r.id, true, &p, &m));
        ExpectProps(p, r);
        EXPECT_EQ(Text(m.pszMmsText), r.mms.text);
        EXPECT_EQ(std::vector<DWORD>({m.wMmsValue1, m.dwMmsValue1, m.wMmsValue2, m.wMmsQuick1,
                                      m.dwMmsValue2, m.wMmsValue3, m.wMmsQuick2}),
                  std::vector<DWORD>({r.mms.value1, r.mms.dwordValue1, r.mms.value2, r.mms.quick1,
                                      r.mms.dwordValue2, r.mms.value3, r.mms.quick2}));
        MMSMsgStore_FreeMsgProps(&p, &m);
      } else {
        tagEMAILMSGPROPS e = {};
        ASSERT_TRUE(EmailMsgStore_ReadFolderMessage(card, 2, -1, r.id, true, &p, &e));
        ExpectProps(p, r);
        EXPECT_EQ(Text(e.pszEmailText1) + u"|" + Text(e.pszEmailText2),
                  r.email.text1 + u"|" + r.email.text2);
        EXPECT_EQ(std::vector<int64_t>({e.wQuickValue, e.dwEmailData1, e.dwReadReportStatus,
                                        e.dwAccountId, e.dwEmailData2}),
                  std::vector<int64_t>({r.email.quickValue, r.email.data1, r.email.readReportStatus,
                                        r.email.accountId, r.email.data2}));
        EmailMsgStore_FreeMsgProps(&p, &e);
      }
    }
}

TEST_F(Api, AddAtTheFolderLimitReportsTheEvictionOrTheOtherStorageOrTheRefusal) {
  msgstore::Store& sms = dev->sms();
  // A full draft loses its oldest message, and the result says which; a
  // message whose file had gone already is no eviction of this write.
  const std::vector<DWORD> drafts = Fill(sms, 2, false);
  msgstore::WriteResult w = sms.Add(At(2, 5000));
  ASSERT_TRUE(w) << w.error;
  EXPECT_EQ(w.evicted, (Location{false, 2, drafts[0], 0}));
  EXPECT_FALSE(sms.Find(drafts[0]));
  EXPECT_EQ(sms.Count(false, 2).messages, 100u);
  std::filesystem::remove(Dir(msgstore::SmsStore(), false, 2) + "/" +
                          FileName(msgstore::SmsStore(), drafts[1]));
  w = sms.Add(At(2, 5001));
  EXPECT_TRUE(w && !w.evicted) << w.error;
  // With the choice, the message goes to the card's draft.
  w = sms.Add(At(2, 5002), Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card && !w.evicted);
  EXPECT_EQ(w.switchedFor, Refusal::kFolderFull);
  // When both inboxes are full the card loses its oldest (a full inbox's
  // refusal without the choice: the tool's tests).
  Fill(sms, 1, false);
  const std::vector<DWORD> cardInbox = Fill(sms, 1, true, 100);
  w = sms.Add(At(1, 6000), Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card);
  EXPECT_EQ(w.evicted, (Location{true, 1, cardInbox[0], 0}));

  // The e-mail inbox counts the incoming-server account's messages.
  msgstore::AccountResult a = dev->accounts().Add({0, 1, 0, 0, 0, u"mail"});
  ASSERT_TRUE(a) << a.error;
  ASSERT_TRUE(dev->accounts().SetIncomingServer(a.account.id));
  Record mail = At(1, 1);
  mail.email.accountId = a.account.id;
  std::vector<DWORD> inbox;
  for (bool card : {false, true})
    for (DWORD i = 0; i < 100; ++i) {
      mail.indexTime.dwLowDateTime = i;
      inbox.push_back(dev->email().Add(mail, card ? Storage::kCard : Storage::kPhone).stored->id);
    }
  // A card that cannot take messages now keeps the message in phone memory,
  // which evicts.
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
  Record sized = At(3, 1);
  sized.content.assign(10, 1);
  w = dev->mms().Add(sized, Storage::kAuto);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card && !w.evicted);
  EXPECT_EQ(w.switchedFor, Refusal::kNoSpace);
  platform_.freeBytes = 0;
  Record big = At(2, 1);
  big.content.assign(10, 1);
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
// name. (The index records an emptying leaves: the Python package's tests.)
TEST_F(Api, ListingsIndexesAndEmptyingsOfAFolderWithStrayFiles) {
  msgstore::Store& sms = dev->sms();
  std::vector<DWORD> ids;
  for (DWORD time : {30, 10, 20}) ids.push_back(sms.Add(At(EMS_FOLDER_DRAFT, time)).stored->id);
  const std::string draft = Dir(msgstore::SmsStore(), false, EMS_FOLDER_DRAFT);
  for (const char* name : {"abc.sms", "007.sms", "50.sms"})
    std::ofstream(draft + "/" + name) << "x";
  std::filesystem::create_directory(draft + "/60.sms");
  const msgstore::ListResult listed = sms.List(false, EMS_FOLDER_DRAFT);
  ASSERT_TRUE(listed) << listed.error;
  EXPECT_EQ(listed.messages.size(), 5u);
  ASSERT_EQ(listed.strays.size(), 2u);
  EXPECT_EQ(listed.strays[0].name + " " + listed.strays[1].name, "007.sms abc.sms");
  EXPECT_EQ(listed.strays[1].at, (Location{false, EMS_FOLDER_DRAFT, 0, 0}));
  msgstore::ReadResult r = sms.Read({false, EMS_FOLDER_DRAFT, 50, 0});
  EXPECT_TRUE(r.damaged);
  EXPECT_EQ(r.error, "message 50 in phone draft cannot be read (damaged file)");
  r = sms.Read({false, EMS_FOLDER_DRAFT, 60, 0});
  EXPECT_FALSE(r.damaged);
  EXPECT_EQ(r.error, "message 60 in phone draft cannot be opened");

  // The index lists the newest first, and a SIM folder's copies with the inbox.
  std::vector<Location> records = sms.IndexRecords(EMS_FOLDER_DRAFT).records;
  EXPECT_EQ(records, (std::vector<Location>{
                         {false, 2, ids[0], 0}, {false, 2, ids[2], 0}, {false, 2, ids[1], 0}}));
  const DWORD sim = sms.Add(At(EMS_FOLDER_SIM_INBOX, 1)).stored->id;
  EXPECT_EQ(sms.IndexRecords(EMS_FOLDER_INBOX).records,
            (std::vector<Location>{{false, EMS_FOLDER_SIM_INBOX, sim, 0}}));
  EXPECT_EQ(sms.IndexRecords(EMS_FOLDER_SIM_INBOX).error,
            "folder sim-inbox has no index of its own (its messages are in the index of inbox)");

  msgstore::EmptyResult emptied = sms.EmptyFolder(false, EMS_FOLDER_DRAFT);
  EXPECT_EQ(emptied.error,
            "the phone draft cannot be emptied: 60.sms is not a file (nothing deleted)");
  EXPECT_EQ(sms.Count(false, EMS_FOLDER_DRAFT).messages, 5u);
  std::filesystem::remove(draft + "/60.sms");
  emptied = sms.EmptyFolder(false, EMS_FOLDER_DRAFT);
  ASSERT_TRUE(emptied) << emptied.error;
  EXPECT_EQ(emptied.deleted, 6u);
  ASSERT_TRUE(sms.Add(At(EMS_FOLDER_INBOX, 1)));
  EXPECT_EQ(sms.EmptyFolder(false, EMS_FOLDER_INBOX).deleted, 1u);
  ExpectNotice(0, "inbox emptied", "EMS");
}

// (A NUL in a text, a read of a missing message, an e-mail inbox message
// without its account or of an unknown one and a write to a card not
// inserted: the Python package's tests; a deletion of a missing message: the
// moves' test below.)
TEST_F(Api, RefusedAndNotFoundSayWhy) {
  msgstore::Store& sms = dev->sms();
  EXPECT_EQ(sms.Add(At(EMS_FOLDER_SIM_INBOX, 1), Storage::kCard).refusal, Refusal::kNotInFolder);
  EXPECT_EQ(sms.Add(At(99, 1)).status, Status::kNotFound);
  EXPECT_EQ(dev->email().Add(At(EMAIL_FOLDER_NONE, 1)).refusal, Refusal::kInvalid);
  platform_.cardState = 1 | 2;
  EXPECT_EQ(sms.Add(At(2, 1), Storage::kCard).refusal, Refusal::kNoCard);
  platform_.cardState = 0;
  EXPECT_EQ(sms.List(true).refusal, Refusal::kNoCard);
  const Location at = *sms.Add(At(2, 1)).stored;
  EXPECT_EQ(sms.SetReadReport(at, 1).refusal, Refusal::kInvalid);
  // A counter behind the stored messages would overwrite one.
  std::filesystem::remove(Host(msgstore::SmsStore().counterFile));
  EXPECT_EQ(sms.Add(At(2, 1)).status, Status::kFailed);
  EXPECT_TRUE(sms.Read(at));
  // A device whose trees were never made.
  Wipe();
  EXPECT_EQ(sms.Add(At(2, 1)).status, Status::kNotFound);
  EXPECT_EQ(sms.List(false).status, Status::kNotFound);
}

TEST_F(Api, MovesDeletionsChangesAndEmptyingsSayWhatTheyDid) {
  msgstore::Store& mms = dev->mms();
  // A move into a full folder goes to the card's, or evicts where the store
  // may not switch (a plain move, a change, a deletion and an emptying: the
  // tool's and the Python package's tests).
  Fill(mms, 3, false, 1);
  msgstore::WriteResult w = mms.Move(*mms.Add(At(2, 9000)).stored, 3);
  ASSERT_TRUE(w) << w.error;
  EXPECT_TRUE(w.otherStorage && w.stored->card && !w.evicted);
  const std::vector<Location> all = mms.List().messages;
  EXPECT_EQ(std::count(all.begin(), all.end(), *w.stored), 1);
  const std::vector<DWORD> reports = Fill(mms, 5, false, 1);
  w = mms.Move(*mms.Add(At(2, 9000)).stored, 5);
  ASSERT_TRUE(w) << w.error;
  EXPECT_EQ(w.evicted, (Location{false, 5, reports[0], 0}));
  EXPECT_FALSE(w.otherStorage || w.stored->card);
  std::ofstream(Dir(msgstore::MmsStore(), false, 5) + "/7777.mms") << "damaged";
  msgstore::CountResult c = mms.Count(false, 5);
  EXPECT_EQ(c.messages, 101u);
  EXPECT_EQ(c.unread, 100u);
  EXPECT_EQ(c.unreadable, 1u);
  EXPECT_EQ(mms.Read({false, 5, 7777, 0}).status, Status::kFailed);
  ASSERT_TRUE(mms.Delete(*w.stored));
  EXPECT_EQ(mms.Delete(*w.stored).status, Status::kNotFound);
  EXPECT_EQ(mms.Empty(false, MMS_FOLDER_NONE).refusal, Refusal::kInvalid);

  // The e-mail store moves inbox messages to spam only, and back.
  msgstore::Store& email = dev->email();
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

// A backup's counters, index places and account database are checked byte
// for byte by the tool's export and import round trip; here what that cannot
// show: a counter or a database that is missing or not whole.
TEST_F(Api, ABackupTellsAMissingOrDamagedCounterAndDatabase) {
  msgstore::Store& sms = dev->sms();
  EXPECT_EQ(sms.Counter(), std::nullopt);
  const DWORD id = sms.Add(At(EMS_FOLDER_INBOX, 10)).stored->id;
  EXPECT_EQ(sms.Counter(), id);
  std::ofstream(Host(msgstore::SmsStore().counterFile), std::ios::trunc) << "12345";
  EXPECT_EQ(sms.Counter(), std::nullopt);
  msgstore::Accounts& accounts = dev->accounts();
  const msgstore::AccountDatabase none = accounts.Database();
  EXPECT_TRUE(none && !none.present && !none.counter && none.accounts.empty());
  ASSERT_TRUE(accounts.Add({0, 5, 0, 0, 0, u"a"}));
  EXPECT_TRUE(accounts.Database().whole);
  std::ofstream(Host(msgstore::AccountStore().database), std::ios::app) << "xx";
  EXPECT_FALSE(accounts.Database().whole);
}

// The card as the device root holds it: removed aside and inserted again. A
// rewrite of a message that is not there finds nothing. (Opening and making a
// device root, and a rewrite that keeps its place: the tool's and the Python
// package's tests.)
TEST_F(Api, TheCardComesAndGoesAndARewriteFindsNoMissingMessage) {
  msgstore::SetPlatform(nullptr);
  const Location onCard = *dev->sms().Add(At(2, 1), Storage::kCard).stored;
  EXPECT_TRUE(dev->RemoveCard());
  EXPECT_EQ(dev->RemoveCard().refusal, Refusal::kNoCard);
  EXPECT_EQ(dev->sms().Read(onCard).refusal, Refusal::kNoCard);
  EXPECT_TRUE(dev->InsertCard());
  EXPECT_EQ(dev->InsertCard().refusal, Refusal::kInvalid);
  EXPECT_TRUE(dev->sms().Read(onCard));
  EXPECT_EQ(dev->sms().Rewrite({true, 2, onCard.id + 1, 0}, At(2, 1)).status, Status::kNotFound);
}

// Two processes write to one full folder at once. Each reports the eviction
// its own write made: no eviction is reported twice, and what is left is
// exactly what was written less what was reported evicted.
TEST_F(Api, AnEvictionReportedIsTheOneThatHappenedWhileAnotherProcessWrites) {
  std::set<DWORD> written;
  for (DWORD id : Fill(dev->sms(), 2, false)) written.insert(id);
  constexpr DWORD kEach = 40;
  auto write = [](msgstore::Store& s, DWORD i, std::vector<DWORD>* out) {
    const msgstore::WriteResult w = s.Add(At(2, 10000 + i));
    out->push_back(w.stored ? w.stored->id : 0);
    out->push_back(w.evicted ? w.evicted->id : 0);
  };
  msgstore_test::Children children;
  children.Spawn([&](int out) {
    std::unique_ptr<msgstore::Device> other = msgstore::Device::Open(root_);
    for (DWORD i = 0; i < kEach; ++i) {
      std::vector<DWORD> words;
      write(other->sms(), i, &words);
      if (!msgstore_test::Report(out, {words[0], words[1]})) return 3;
    }
    return 0;
  });
  std::vector<DWORD> mine;
  for (DWORD i = 0; i < kEach; ++i) write(dev->sms(), i, &mine);
  ASSERT_EQ(children.Finish(), std::vector<int>{0});
  std::vector<DWORD> words = children.Words(0);
  words.insert(words.end(), mine.begin(), mine.end());
  ASSERT_EQ(words.size(), 4 * kEach);
  std::set<DWORD> evicted;
  for (size_t i = 0; i < words.size(); i += 2) {
    ASSERT_NE(words[i], 0u);
    EXPECT_TRUE(written.insert(words[i]).second);
    if (words[i + 1] != 0) {
      EXPECT_TRUE(evicted.insert(words[i + 1]).second) << words[i + 1];
    }
  }
  EXPECT_FALSE(evicted.empty());
  std::set<DWORD> left;
  for (const Location& at : dev->sms().List(false, 2).messages) left.insert(at.id);
  for (DWORD id : evicted) written.erase(id);
  EXPECT_EQ(left, written);
}

}  // namespace
