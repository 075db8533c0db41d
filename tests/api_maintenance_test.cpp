// Checking, repairing and restoring a device through the C++ API: what a
// check names, what a repair leaves, what a restore skips and replaces.
#include <algorithm>
#include <fstream>

#include "msgstore/device.h"
#include "msgstore/maintenance.h"
#include "msgstore/msgstore.h"
#include "msgstore/text.h"
#include "test_support.h"

namespace {

using namespace msgstore;  // NOLINT(build/namespaces)

class Maintenance : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    dev = Device::Open(root_);
    ASSERT_TRUE(dev->Init());
  }
  static Record At(DWORD folder, DWORD time, const std::u16string& subject = u"") {
    Record r;
    r.folder = folder, r.subject = subject, r.indexTime = r.time = {time, 0x01D00000u};
    return r;
  }
  DWORD Add(StoreKind kind, DWORD folder, DWORD time) {
    const WriteResult w = dev->store(kind).Add(At(folder, time));
    EXPECT_TRUE(w) << w.error;
    return w.stored ? w.stored->id : 0;
  }
  std::string Sms(const std::string& rel) const {
    return Host("DiskOnChip/User/MESSAGING/EMS/" + rel);
  }
  static std::vector<std::string> Kinds(const StoreReport& s) {
    std::vector<std::string> kinds;
    for (const auto& index : s.indexes)
      for (const IndexProblem& p : index.problems) kinds.push_back(index.name + ":" + p.kind);
    return kinds;
  }
  std::unique_ptr<Device> dev;
};

TEST_F(Maintenance, CheckNamesEachProblemAndRepairMendsWhatItCan) {
  const DWORD a = Add(StoreKind::kSms, EMS_FOLDER_INBOX, 10);
  const DWORD b = Add(StoreKind::kSms, EMS_FOLDER_INBOX, 20);
  Add(StoreKind::kSms, EMS_FOLDER_SENT, 30);
  Add(StoreKind::kMms, MMS_FOLDER_INBOX, 40);
  EXPECT_TRUE(Check(*dev).ok());

  // A file without its record, a record without its file, stray files, the
  // counter behind (dead writers' temporary files: the tool's check test).
  std::filesystem::copy_file(Sms("INBOX/" + std::to_string(a) + ".sms"), Sms("INBOX/9.sms"));
  std::filesystem::remove(Sms("INBOX/" + std::to_string(b) + ".sms"));
  std::ofstream(Sms("INBOX/abc.sms")) << "x";
  std::filesystem::copy_file(Sms("INBOX/9.sms"), Sms("INBOX/009.sms"));
  std::filesystem::copy_file(Sms("INBOX/9.sms"), Host("SD Card/User/MESSAGING/EMS/INBOX/12.sms"));
  std::ofstream(Sms("EmsDB.ini"), std::ios::binary).write("\x02\0\0\0", 4);

  DeviceReport report = Check(*dev);
  EXPECT_FALSE(report.ok());
  const StoreReport& sms = report.stores[0];
  EXPECT_EQ("sms", std::string(sms.store->name));
  EXPECT_EQ((std::vector<std::string>{"inbox:odd_file_name", "inbox:odd_file_name",
                                      "inbox:record_without_file", "inbox:file_without_record"}),
            Kinds(sms));
  EXPECT_EQ(1u, sms.differing());
  EXPECT_EQ("behind: last identifier 2, highest identifier in use 12", sms.counter.State());
  EXPECT_EQ(CheckCounter(*dev, StoreKind::kSms).State(), sms.counter.State());
  EXPECT_TRUE(report.stores[1].ok() && report.stores[2].ok());

  const RepairReport repair = Repair(*dev);
  EXPECT_EQ(std::vector<std::string>{"inbox"}, repair.stores[0].rebuilt);
  EXPECT_TRUE(repair.stores[0].counterSet);
  EXPECT_EQ(12u, repair.stores[0].counterValue);
  // Only the stray files stay, without records: a rebuild cannot name them.
  EXPECT_EQ((std::vector<std::string>{"inbox:odd_file_name", "inbox:odd_file_name"}),
            Kinds(repair.after.stores[0]));
  EXPECT_TRUE(repair.after.stores[0].indexes[0].problems[0].lasting());
  EXPECT_TRUE(repair.after.stores[0].counter.ok());
  // The next message takes the identifier after the highest in use.
  EXPECT_EQ(13u, Add(StoreKind::kSms, EMS_FOLDER_INBOX, 50));
}

TEST_F(Maintenance, CheckFindsAnIndexOutOfOrderAndADamagedAccountInboxIndex) {
  const DWORD older = Add(StoreKind::kSms, EMS_FOLDER_INBOX, 10);
  const DWORD newer = Add(StoreKind::kSms, EMS_FOLDER_INBOX, 20);
  // The index lists the newest first; swap its two records.
  msgstore_test::Bytes index = msgstore_test::Load(Sms("INBOX/EmsIni"));
  std::rotate(index.begin(), index.begin() + 16, index.end());
  msgstore_test::Store(index, Sms("INBOX/EmsIni"));
  const DeviceReport report = Check(*dev);
  ASSERT_EQ(std::vector<std::string>{"inbox:out_of_order"}, Kinds(report.stores[0]));
  EXPECT_EQ("message " + std::to_string(newer) + " (inbox) (" + FormatTime({20, 0x01D00000u}) +
                ") is listed after the older message " + std::to_string(older) + " (inbox) (" +
                FormatTime({10, 0x01D00000u}) + ")",
            report.stores[0].indexes[0].problems[0].text);

  // An account's inbox index, which the store's own refresh leaves alone, is
  // built again by a repair, and where missing by a refresh (an account
  // counter behind: the tool's check test).
  const DWORD account = dev->accounts().Add({0, 1, 0, 0, 0, u"mail"}).account.id;
  Record mail = At(EMAIL_FOLDER_INBOX, 10);
  mail.email.accountId = account;
  ASSERT_TRUE(dev->email().Add(mail));
  mail.indexTime.dwLowDateTime = 20;
  ASSERT_TRUE(dev->email().Add(mail));
  const std::string inboxIndex =
      Host("DiskOnChip/User/MESSAGING/Email/INBOX/" + std::to_string(account) + "_EmailIni");
  const msgstore_test::Bytes written = msgstore_test::Load(inboxIndex);
  ASSERT_EQ(written.size(), 32u);
  std::ofstream(inboxIndex, std::ios::binary) << "short";
  const std::vector<std::string> kinds = Kinds(Check(*dev).stores[2]);
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ("inbox " + std::to_string(account) + ":damaged_index", kinds[0]);
  EXPECT_TRUE(Repair(*dev).after.ok());
  EXPECT_EQ(msgstore_test::Load(inboxIndex), written);
  std::filesystem::remove(inboxIndex);
  ASSERT_TRUE(RefreshIndexes(*dev, StoreKind::kEmail, false));
  EXPECT_EQ(msgstore_test::Load(inboxIndex), written);
}

// What a restore puts back: the tool's export and import round trip, byte for
// byte; here the lines it skipped, a counter raised past the identifiers
// restored, what a replace does and what a preview says of it.
TEST_F(Maintenance, RestoreSkipsWhatItCannotPlaceAndReplacesOnlyWhenAsked) {
  Restorer restore(*dev);
  restore.Add(StoreKind::kSms, {true, EMS_FOLDER_SENT, 40, 0}, At(3, 10, u"card"));
  restore.Add(StoreKind::kSms, {false, EMS_FOLDER_INBOX, 5, 0}, At(1, 30, u"five"), 0);
  Restorer::Report report;
  const Result done = restore.Commit(false, &report);
  ASSERT_TRUE(done) << done.error;
  EXPECT_EQ(2u, report.written[0]);
  EXPECT_EQ(u"five", dev->sms().Read({false, EMS_FOLDER_INBOX, 5, 0}).record.subject);
  // The counter is raised past the identifiers restored, the card's too.
  EXPECT_EQ(41u, Add(StoreKind::kSms, EMS_FOLDER_DRAFT, 1));

  // A second restore of an identifier stored anywhere in its store refuses
  // everything unless it may replace; replacing moves it where it was. A
  // preview says as much and writes nothing.
  Restorer again(*dev);
  again.Add(StoreKind::kSms, {false, EMS_FOLDER_SENT, 40, 0}, At(3, 10, u"back"));
  again.Add(StoreKind::kSms, {false, EMS_FOLDER_DRAFT, 90, 0}, At(2, 10));
  again.Add(StoreKind::kEmail, {false, EMAIL_FOLDER_NONE, 3, 0}, At(8, 1), std::nullopt, "l4");
  const Result refused = again.Commit(false, &report);
  EXPECT_EQ(Status::kRefused, refused.status);
  EXPECT_EQ(
      "the device already holds sms message 40 (card sent), which the import would replace: "
      "nothing imported (--replace replaces them)",
      refused.error);
  EXPECT_EQ(Status::kRefused, again.Preview(false, &report).status);
  for (bool commit : {false, true}) {
    ASSERT_TRUE(commit ? again.Commit(true, &report) : again.Preview(true, &report));
    EXPECT_EQ(2u, report.written[0]);
    EXPECT_EQ(1u, report.replacedMessages);
    ASSERT_EQ(1u, report.skipped.size());
    EXPECT_EQ("l4", report.skipped[0].source);
    EXPECT_EQ(commit, std::filesystem::exists(Sms("DRAFT/90.sms")));
    EXPECT_NE(commit, std::filesystem::exists(Host("SD Card/User/MESSAGING/EMS/SENT/40.sms")));
  }
  EXPECT_EQ(u"back", dev->sms().Read({false, EMS_FOLDER_SENT, 40, 0}).record.subject);

  // The card state bits that keep messages off the card are each store's.
  platform_.cardState = 1 | 4;
  Restorer busy(*dev), mms(*dev);
  busy.Add(StoreKind::kSms, {true, EMS_FOLDER_SENT, 91, 0}, At(3, 10));
  EXPECT_EQ(Status::kRefused, busy.Commit(false, &report).status);
  mms.Add(StoreKind::kMms, {true, MMS_FOLDER_DRAFT, 91, 0}, At(2, 10));
  EXPECT_TRUE(mms.Commit(false, &report));
}

// A store's counts in one call (the tool's count prints them): the card's
// only for the folders it has, the SIM copies, every account that files or
// the database name, and the inbox's unread messages of the incoming-server
// account alone. (A folder emptied with its index: the tool's check after
// empty.)
TEST_F(Maintenance, CountStoreGathersTheCounts) {
  auto of = [](const Tally& t) {
    return std::to_string(t.phone) + "/" + (t.card ? std::to_string(*t.card) : "-");
  };
  Add(StoreKind::kSms, EMS_FOLDER_INBOX, 10);
  Add(StoreKind::kSms, EMS_FOLDER_INBOX, 20);
  Record read = At(EMS_FOLDER_INBOX, 30);
  read.read = 1;
  ASSERT_TRUE(dev->sms().Add(read, Storage::kCard));
  Add(StoreKind::kSms, EMS_FOLDER_SIM_INBOX, 40);
  Add(StoreKind::kSms, EMS_FOLDER_SIM_SENT, 50);
  const StoreCounts sms = CountStore(*dev, StoreKind::kSms);
  ASSERT_TRUE(sms) << sms.error;
  EXPECT_EQ("2/1 0/-", of(sms.folders[0].messages) + " " + of(sms.folders[4].messages));
  EXPECT_EQ(std::optional<size_t>(2), sms.simCopies);
  EXPECT_EQ("2/0", of(sms.inboxUnread));
  EXPECT_TRUE(sms.accounts.empty());

  const DWORD kept = dev->accounts().Add({0, 1, 0, 0, 0, u"kept"}).account.id;
  const DWORD gone = dev->accounts().Add({0, 1, 0, 0, 0, u"gone"}).account.id;
  Record mail = At(EMAIL_FOLDER_INBOX, 10);
  for (DWORD account : {kept, gone, gone}) {
    mail.email.accountId = account;
    ASSERT_TRUE(dev->email().Add(mail));
  }
  ASSERT_TRUE(dev->accounts().Remove(gone));
  StoreCounts email = CountStore(*dev, StoreKind::kEmail);
  ASSERT_EQ(2u, email.accounts.size());
  EXPECT_EQ(u"kept", email.accounts[0].text.value_or(u"none"));
  EXPECT_EQ(gone, email.accounts[1].id);
  EXPECT_FALSE(email.accounts[1].text);
  EXPECT_EQ("2/0", of(email.accounts[1].unread));
  EXPECT_TRUE(email.noInboxAccount);
  EXPECT_EQ("0/0", of(email.inboxUnread));
  ASSERT_TRUE(dev->accounts().SetIncomingServer(kept));
  email = CountStore(*dev, StoreKind::kEmail);
  EXPECT_EQ(kept, email.incomingServer);
  EXPECT_EQ("1/0", of(email.inboxUnread));
}

}  // namespace
