// The tool's email and account commands run as a user runs them: accounts and the
// incoming-server account in the registry, inbox messages named by account, spam and back,
// full inboxes, per-account unread counts and indexes, and failures on fresh and damaged devices.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/msgstore.h"
#include "msgstore/platform.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr DWORD kWork = 805306371;  // the first identifier the registry counter hands out
constexpr DWORD kHome = 805306372;

class EmailCommands : public ToolTest {
 protected:
  std::string Email(const std::string& rel, bool card = false) const {
    return root_ + (card ? "/SD Card" : "/DiskOnChip") + "/User/MESSAGING/Email/" + rel;
  }
  std::string Database() const { return root_ + "/DiskOnChip/User/MESSAGING/EmailAccMsgStore.db"; }
  // init, and the accounts Work (kWork) and Home (kHome).
  void TwoAccounts() {
    Ok("init");
    EXPECT_EQ(Ok("account add --folder 1 --text Work"), "account 805306371 added to folder 1\n");
    EXPECT_EQ(Ok("account add --folder 1 --text Home --data 7 --wdata1 1 --wdata2 65535"),
              "account 805306372 added to folder 1\n");
  }
  // Writes n messages through the library in this process, oldest first.
  void Fill(DWORD folder, int n, DWORD account = 0, bool card = false) {
    msgstore::SetDeviceRoot(root_);
    for (int i = 0; i < n; ++i) {
      tagMSGPROPS props = {};
      tagEMAILMSGPROPS email = {};
      props.dwFolder = folder;
      props.ftIndexTime = props.ftTime = {static_cast<DWORD>(1000 + i), 0x01D00000u};
      email.dwAccountId = account;
      ASSERT_NE(EmailMsgStore_WriteMessage(card, &props, &email, 0, nullptr), 0u) << i;
    }
  }
};

TEST_F(EmailCommands, AccountsAreAddedListedShownUsedAndRemoved) {
  EXPECT_EQ(Ok("account ls"), "no accounts\n");
  auto before = Device();
  EXPECT_EQ(Fails("account add --folder 1 --text Work", 1),
            "msgstore: the message tree of the phone memory has not been made (run 'msgstore "
            "init')\n");
  EXPECT_EQ(Device(), before);

  TwoAccounts();
  Ok("account add --folder 9 --text Other");
  // Each load turns a folder's saved order round; the store's order is what ls shows.
  EXPECT_EQ(Ok("account ls"),
            "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
            "805306372       1     7       1   65535  no        Home\n"
            "805306371       1     0       0       0  no        Work\n"
            "805306373       9     0       0       0  no        Other\n");
  EXPECT_EQ(Json("account ls 9"),
            json::parse(R"([{"id":805306373,"folder":9,"data":0,"wdata1":0,"wdata2":0,
                             "text":"Other","incoming_server":false}])"));
  EXPECT_EQ(Ok("account ls 4"), "no accounts in folder 4\n");

  EXPECT_EQ(Ok("account use 805306372"),
            "account 805306372 is the incoming-server account (registry name Account30000004)\n");
  // The library finds the plain inbox's account through those registry values.
  Fill(EMAIL_FOLDER_INBOX, 2, kHome);
  msgstore::SetDeviceRoot(root_);
  EXPECT_EQ(GetEmailInboxUnreadMsgsCount(), 2u);
  CMsgList plain;
  EXPECT_EQ(EmailMsgStore_GetMessageList(false, EMAIL_FOLDER_INBOX, plain), 2u);
  EXPECT_EQ(Ok("account show 805306372"),
            "id               805306372\n"
            "folder           1\n"
            "data             7\n"
            "wdata1           1\n"
            "wdata2           65535\n"
            "text             Home\n"
            "incoming server  yes\n"
            "inbox            2 in phone memory\n"
            "unread           2 in phone memory\n");
  EXPECT_EQ(Ok("account use 805306371 --name work"),
            "account 805306371 is the incoming-server account (registry name work)\n");
  EXPECT_EQ(Json("account show 805306372").at("incoming_server"), false);

  EXPECT_EQ(Ok("account rm 805306371"),
            "removed account 805306371 of folder 1\n"
            "note: the registry still names it the incoming-server account\n");
  EXPECT_EQ(Ok("account rm 805306372"),
            "removed account 805306372 of folder 1\n"
            "note: its inbox keeps 2 messages ('msgstore empty email inbox --account 805306372' "
            "deletes them)\n");
  EXPECT_EQ(Ok("account empty 9"), "removed 1 account of folder 9\n");
  EXPECT_EQ(Device().at(Database()), std::string(4, '\0'));
  // New identifiers go on from the registry counter, which must not fall behind.
  EXPECT_EQ(Json("account add --folder 2 --text x").at("id"), 805306374);
  msgstore::SetDeviceRoot(root_);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0, 0, &key),
            ERROR_SUCCESS);
  const BYTE behind[4] = {0x05, 0x00, 0x00, 0x30};
  ASSERT_EQ(RegSetValueExW(key, u"AccoutnId", 0, REG_DWORD, behind, 4), ERROR_SUCCESS);
  RegCloseKey(key);
  before = Device();
  EXPECT_EQ(Fails("account add --folder 2 --text y", 1),
            "msgstore: the registry's account counter AccoutnId (805306373) is behind the "
            "accounts: the next identifier, 805306374, is taken: nothing changed\n");
  EXPECT_EQ(Device(), before);

  before = Device();
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"account show 805306371", "no account 805306371 (see 'msgstore account ls')\n"},
           {"account rm 805306371", "no account 805306371 (see 'msgstore account ls')\n"},
           {"account use 1", "no account 1 (see 'msgstore account ls')\n"},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second) << c.first;
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"account add --folder x --text a", "--folder 'x' is not a number from 0 to 4294967295"},
           {"account add --folder 1 --text " + std::string(256, 'a'),
            "--text is 256 UTF-16 code units long; an account keeps at most 255"},
           {"account add --folder 1 --text a --wdata2 65536",
            "--wdata2 '65536' is not a number from 0 to 65535"},
           {"account show 0", "'0' is not an account identifier (1 to 4294967295)"},
           {"account use 805306374 --name a\\b",
            "account name 'a\\b' must be 1 to 15 letters, digits, '_' or '-'"},
           {"account use 805306374 --name sixteen-letters-",
            "account name 'sixteen-letters-' must be 1 to 15 letters, digits, '_' or '-'"},
       })
    EXPECT_EQ(Fails(c.first, 2), "msgstore: " + c.second + "\n") << c.first;
  EXPECT_EQ(Fails("account add --text a", 2).rfind("msgstore: --folder is required", 0), 0u);
  EXPECT_EQ(Device(), before);
}

TEST_F(EmailCommands, AddStoresTheEmailRecordThatShowAndExportGiveBack) {
  TwoAccounts();
  EXPECT_EQ(Ok("add email inbox --account 805306371 --to a@b.example --subject Hi --text hello "
               "--time 2026-03-01T12:00:00Z --quick-value 65535 --email-data1 4000000000 "
               "--email-text1 one --email-text2 two --read-report -7 --email-data2 9 --status 3"),
            "message 1 stored in phone inbox\n");
  EXPECT_TRUE(fs::exists(Email("INBOX/805306371_1.email")));
  EXPECT_EQ(Ok("add email sent --subject Out --time 2026-03-01T11:00:00Z --read"),
            "message 2 stored in phone sent\n");

  // The fields land where the store keeps them.
  msgstore::SetDeviceRoot(root_);
  tagMSGPROPS props = {};
  tagEMAILMSGPROPS email = {};
  ASSERT_EQ(EmailMsgStore_ReadFolderMessageInbox(false, kWork, -1, 1, true, &props, &email), 1);
  EXPECT_EQ(email.wQuickValue, 65535);
  EXPECT_EQ(email.dwEmailData1, 4000000000u);
  EXPECT_EQ(std::u16string(email.pszEmailText1), u"one");
  EXPECT_EQ(std::u16string(email.pszEmailText2), u"two");
  EXPECT_EQ(email.dwReadReportStatus, -7);
  EXPECT_EQ(email.dwAccountId, kWork);
  EXPECT_EQ(email.dwEmailData2, 9u);
  EXPECT_EQ(props.wStatus, 3);
  EmailMsgStore_FreeMsgProps(&props, &email);

  EXPECT_EQ(Ok("ls email inbox"),
            "ID    ACCOUNT  TIME                  READ  STATUS  TO           SUBJECT / TEXT\n"
            " 1  805306371  2026-03-01T12:00:00Z  no         3  a@b.example  Hi\n");
  EXPECT_EQ(Ok("ls email inbox --account 805306372"), "no messages in phone inbox\n");
  std::string shown = Ok("show email 1");
  EXPECT_NE(shown.find("wuser2       0\n"
                       "quick value  65535\n"
                       "email data1  4000000000\n"
                       "email text1  one\n"
                       "email text2  two\n"
                       "read report  -7\n"
                       "account      805306371\n"
                       "email data2  9\n"
                       "record       id 1, folder 1\n"
                       "content      10 bytes, UTF-16 text:\nhello\n"),
            std::string::npos)
      << shown;
  json one = Json("show email 1");
  EXPECT_EQ(one.at("read_report"), -7);
  EXPECT_EQ(one.at("account"), kWork);
  EXPECT_EQ(Json("ls email sent")[0].at("read"), true);
  // Export writes the e-mail record's fields under the same names.
  std::string exported = Ok("export email");
  EXPECT_NE(exported.find("\"email_text2\":\"two\",\"read_report\":-7,\"account\":805306371,"),
            std::string::npos)
      << exported;
  auto before = Device();
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"add email draft --read-report 2147483648",
            "--read-report '2147483648' is not a number from -2147483648 to 2147483647"},
           {"add email draft --quick-value 65536",
            "--quick-value '65536' is not a number from 0 to 65535"},
           {"add email inbox --text x",
            "an inbox message needs --account ID (see 'msgstore account ls')"},
           {"ls email inbox --account 11",
            "--account '11' is not an account identifier (12 to 4294967295)"},
       })
    EXPECT_EQ(Fails(c.first, 2), "msgstore: " + c.second + "\n") << c.first;
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"add email inbox --account 805306379",
            "no account 805306379 (see 'msgstore account "
            "ls')"},
           {"add email none --text x",
            "the e-mail store keeps no message in folder none (it names no file there): message "
            "not stored"},
           {"ls email draft --account 805306371",
            "--account applies to the inbox only: folder draft is not divided by account"},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second + "\n") << c.first;
  EXPECT_EQ(Device(), before);
}

TEST_F(EmailCommands, InboxMessagesMoveToSpamAndBackByTheirAccount) {
  Ok("card insert");
  TwoAccounts();
  Ok("add email inbox --account 805306371 --text a --time 2026-01-01T00:00:00Z");
  Ok("add email inbox --account 805306372 --text b");
  Ok("add email draft --text c");
  EXPECT_EQ(Ok("mark email 1 --read --read-report 2"),
            "message 1 in phone inbox: read, status 0, read report 2\n");
  EXPECT_EQ(Ok("mark email 3 --status 5 --read-report -1"),
            "message 3 in phone draft: unread, status 5, read report -1\n");

  EXPECT_EQ(Ok("mv email 1 spam"), "message 1 in phone inbox moved to phone spam as message 4\n");
  EXPECT_FALSE(fs::exists(Email("INBOX/805306371_1.email")));
  EXPECT_FALSE(fs::exists(Email("INBOX/805306371_EmailIni")));  // its last record went
  EXPECT_EQ(Json("show email 4").at("read_report"), 2);
  EXPECT_EQ(Ok("mv email 4 inbox"), "message 4 in phone spam moved to phone inbox as message 5\n");
  EXPECT_TRUE(fs::exists(Email("INBOX/805306371_5.email")));
  EXPECT_EQ(Json("ls email inbox --index --account 805306371")[0].at("id"), 5);
  EXPECT_EQ(Ok("mv email 3 sent"), "message 3 in phone draft moved to phone sent as message 6\n");

  auto before = Device();
  EXPECT_EQ(Fails("mv email 5 draft", 1),
            "msgstore: the e-mail store moves inbox messages to spam only: message 5 in phone "
            "inbox not moved\n");
  EXPECT_EQ(Fails("mv email 6 inbox", 1),
            "msgstore: message 6 in phone sent belongs to no account (account 0): it cannot go to "
            "the inbox\n");
  EXPECT_EQ(Fails("empty email sent --account 805306371", 1),
            "msgstore: --account applies to the inbox only: folder sent is not divided by "
            "account\n");
  EXPECT_EQ(Device(), before);

  // The same on the memory card, which has no index.
  EXPECT_EQ(Ok("--card add email inbox --account 805306372 --text d"),
            "message 7 stored in card inbox\n");
  EXPECT_EQ(Ok("--card mv email 7 spam"),
            "message 7 in card inbox moved to card spam as message 8\n");
  EXPECT_EQ(Ok("--card mv email 8 inbox"),
            "message 8 in card spam moved to card inbox as message 9\n");
  EXPECT_TRUE(fs::exists(Email("INBOX/805306372_9.email", true)));
  EXPECT_EQ(Ok("--card rm email 9"), "deleted message 9 in card inbox\n");

  Ok("add email inbox --account 805306372 --text e");
  EXPECT_EQ(Ok("empty email inbox --account 805306372"),
            "emptied the phone inbox of account 805306372: 2 messages deleted\n"
            "note: the index keeps its records until 'msgstore refresh email --all' (or until "
            "the messages are looked up)\n");
  EXPECT_EQ(Json("ls email inbox").size(), 1u);  // Work's message stays
  EXPECT_EQ(Ok("rm email 5"), "deleted message 5 in phone inbox\n");
  EXPECT_EQ(Fails("rm email 5", 1), "msgstore: no message 5 in phone memory\n");
}

TEST_F(EmailCommands, AFullInboxRefusesWithoutAutoAndGoesToTheCardWithIt) {
  Ok("card insert");
  TwoAccounts();
  // Filled before the store counts the account's inbox, which makes the writes quick.
  Fill(EMAIL_FOLDER_INBOX, 100, kWork);
  Fill(EMAIL_FOLDER_INBOX, 99, kWork, true);
  Ok("account use 805306371");
  auto before = Device();
  EXPECT_EQ(Fails("add email inbox --account 805306371 --text x", 1),
            "msgstore: the phone inbox is full (100 messages): message refused (--auto lets the "
            "store put it on the other storage)\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("add email inbox --account 805306371 --text x --auto"),
            "message 200 stored in card inbox\n"
            "note: the phone inbox is full (100 messages): the store put the message on the "
            "memory card\n");
  before = Device();
  EXPECT_EQ(Fails("add email inbox --account 805306371 --text y --auto", 1),
            "msgstore: the phone inbox is full (100 messages) and so is the card inbox: message "
            "refused\n");
  EXPECT_EQ(Device(), before);
  // A card that cannot take a message keeps it in phone memory, where the oldest goes.
  Ok("card state 4");
  EXPECT_EQ(Ok("add email inbox --account 805306371 --text z --auto"),
            "message 201 stored in phone inbox\n"
            "note: the phone inbox was full (100 messages): the store removed its oldest message "
            "1\n");
  EXPECT_FALSE(fs::exists(Email("INBOX/805306371_1.email")));
}

TEST_F(EmailCommands, OtherFullFoldersEvictAndTheFreeSpaceChoosesTheStorage) {
  Ok("card insert");
  Ok("init");
  Fill(EMAIL_FOLDER_DRAFT, 100);
  EXPECT_EQ(Json("add email draft --text d").at("evicted"), 1);
  EXPECT_FALSE(fs::exists(Email("DRAFT/1.email")));
  msgstore::SetDeviceRoot(root_);
  msgstore::DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip", 1);
  EXPECT_EQ(Ok("add email sent --text long"),
            "message 102 stored in card sent\n"
            "note: there is not enough free space on the phone memory: the store put the message "
            "on the memory card\n");
  msgstore::DefaultPlatform::SetFreeSpaceCap(u"\\SD Card", 1);
  auto before = Device();
  EXPECT_EQ(Fails("add email sent --text long", 1),
            "msgstore: there is not enough free space for the message (8 bytes) on the phone "
            "memory nor on the memory card: message refused\n");
  EXPECT_EQ(Fails("mv email 1 sent", 1), "msgstore: no message 1 in phone memory\n");
  EXPECT_EQ(Fails("mv email 101 sent", 1),
            "msgstore: there is not enough free space for message 101 in phone draft: not moved\n");
  EXPECT_EQ(Device(), before);
}

TEST_F(EmailCommands, CountGivesEachAccountAndTheIncomingServerUnreadCount) {
  Ok("card insert");
  TwoAccounts();
  Ok("add email inbox --account 805306371 --text a");
  Ok("add email inbox --account 805306371 --text b --read");
  Ok("--card add email inbox --account 805306371 --text c");
  Ok("add email inbox --account 805306372 --text d");
  Ok("add email spam --account 805306372 --text e");
  EXPECT_EQ(Ok("count email"),
            "FOLDER            PHONE  CARD  TOTAL\n"
            "inbox                 3     1      4\n"
            "draft                 0     0      0\n"
            "sent                  0     0      0\n"
            "unsent                0     0      0\n"
            "report                0     0      0\n"
            "spam                  1     0      1\n"
            "none                  0     -      0\n"
            "inbox 805306371       2     1      3\n"
            "unread 805306371      1     1      2\n"
            "inbox 805306372       1     0      1\n"
            "unread 805306372      1     0      1\n"
            "unread in inbox       -     -      0\n"
            "note: no incoming-server account is named: the store counts no unread inbox message "
            "and never finds the inbox full ('msgstore account use ID' names one)\n");
  Ok("account use 805306371");
  json c = Json("count email");
  EXPECT_EQ(c.at("unread_inbox"), 2);
  EXPECT_EQ(c.at("incoming_server_account"), kWork);
  EXPECT_EQ(c.at("accounts").at("805306372").at("inbox"),
            json({{"phone", 1}, {"card", 0}, {"total", 1}}));

  // The store's unread count would make the card's tree: without it, the phone's is the answer.
  Ok("card eject");
  Ok("card insert");
  fs::remove_all(root_ + "/SD Card/User");
  auto before = Device();
  EXPECT_EQ(Json("count email").at("unread_inbox"), 1);
  EXPECT_EQ(Device(), before);
}

TEST_F(EmailCommands, CheckAndRefreshCoverEveryAccountsInboxIndex) {
  TwoAccounts();
  Ok("add email inbox --account 805306371 --text a --time 2026-01-01T00:00:00Z");
  Ok("add email inbox --account 805306371 --text b --time 2026-01-02T00:00:00Z");
  Ok("add email inbox --account 805306372 --text c");
  Ok("add email draft --text d");
  EXPECT_EQ(
      Ok("check email"),
      "INDEX            FILES  RECORDS  STATE\n"
      "draft                1        1  ok\n"
      "sent                 0        0  ok\n"
      "unsent               0        0  ok\n"
      "report               0        0  ok\n"
      "spam                 0        0  ok\n"
      "inbox 805306371      2        2  ok\n"
      "inbox 805306372      1        1  ok\n"
      "counter                          ok: last identifier 4, highest identifier in use 4\n");
  EXPECT_EQ(Ok("ls email inbox --index"),
            "ID    ACCOUNT  FOLDER  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 2  805306371  inbox   2026-01-02T00:00:00Z  no         0      b\n"
            " 1  805306371  inbox   2026-01-01T00:00:00Z  no         0      a\n"
            " 3  805306372  inbox   " +
                Json("show email 3").at("index_time").get<std::string>().substr(0, 19) +
                "Z  no         0      c\n");

  fs::remove(Email("INBOX/805306372_3.email"));
  std::ofstream(Email("INBOX/stray.email")) << "x";
  msgstore::SetDeviceRoot(root_);
  EmailMsgStore_DeleteMsgFromIni(2, kWork);
  EmailMsgStore_AddMsgToIni(2, kWork, {0, 0x01000000u});
  std::string out = Run("check email", 1,
                        "msgstore: 3 indexes differ from the folders (msgstore check email --fix "
                        "rebuilds them)\n");
  for (const char* line :
       {"inbox (no account)      0        0  1 problem\n",
        "inbox 805306371: message 2 (inbox) (2026-01-02T00:00:00Z) is listed after the older "
        "message 1 (inbox) (2026-01-01T00:00:00Z)\n",
        "inbox 805306372: message 3 (inbox) has a record but no file\n",
        "inbox (no account): file stray.email (not named by a message identifier) in inbox\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  // The store's refresh leaves every inbox index alone; the tool's rebuilds missing ones too.
  EXPECT_EQ(Tool("refresh email").status, 0);
  EXPECT_EQ(Tool("check email").status, 1);
  // The stray file stays: no rebuild settles it.
  out = Run("check email --fix", 1,
            "msgstore: 1 index differs from the folders after the repair: files not named by a "
            "message identifier stay until renamed or removed\n");
  EXPECT_EQ(out.rfind("rebuilt the index files of inbox 805306371, inbox 805306372\n", 0), 0u)
      << out;
  EXPECT_NE(out.find("inbox (no account)      0        0  1 problem\n"), std::string::npos);
  json index = Json("ls email inbox --index");
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[0].at("id"), 2);
  EXPECT_FALSE(fs::exists(Email("INBOX/805306372_EmailIni")));
  fs::remove(Email("INBOX/stray.email"));
  fs::remove(Email("INBOX/805306371_EmailIni"));
  EXPECT_EQ(Ok("refresh email"),
            "rebuilt the phone index files that were missing (--all rebuilds the others too)\n");
  EXPECT_EQ(Json("ls email inbox --index --account 805306371").size(), 2u);
  EXPECT_EQ(Tool("check email").status, 0);
}

TEST_F(EmailCommands, WorkOnAFreshDeviceAndFailInOneLineOnADamagedOne) {
  EXPECT_EQ(Ok("ls email inbox"), "no messages in phone inbox\n");
  EXPECT_EQ(Ok("check email").substr(0, 30), "INDEX    FILES  RECORDS  STATE");
  auto before = Device();
  const std::string noTree =
      "the message tree of the phone memory has not been made (run 'msgstore init')\n";
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"add email draft --text x", noTree},
           {"count email", noTree},
           {"account rm 805306371", noTree},
           {"account empty 1", noTree},
           {"show email 1", "no message 1 in phone memory\n"},
           {"mark email 1 --read-report 1", "no message 1 in phone memory\n"},
           {"mv email 1 spam", "no message 1 in phone memory\n"},
           {"rm email 1", "no message 1 in phone memory\n"},
           {"account show 805306371", "no account 805306371 (see 'msgstore account ls')\n"},
           {"account use 805306371", "no account 805306371 (see 'msgstore account ls')\n"},
           {"--card ls email inbox", "no memory card is inserted (see 'msgstore card insert')\n"},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second) << c.first;
  EXPECT_EQ(Ok("refresh email"),
            "rebuilt the phone index files that were missing (--all rebuilds the others too)\n");
  EXPECT_EQ(Ok("empty email inbox --account 805306371"),
            "emptied the phone inbox of account 805306371: 0 messages deleted\n");
  EXPECT_EQ(Device(), before);

  // Damaged: an unreadable inbox message, a folder that is a file, an account database cut
  // short, a counter behind.
  TwoAccounts();
  Ok("add email inbox --account 805306371 --text fine --time 2026-01-01T00:00:00Z");
  std::ofstream(Email("INBOX/805306371_7.email"), std::ios::binary) << "junk";
  fs::remove(Email("REPORT"));
  std::ofstream(Email("REPORT")) << "";
  std::string db = Device().at(Database());
  std::ofstream(Database(), std::ios::binary) << db.substr(0, db.size() - 3);
  before = Device();
  const std::string damaged = "message 7 in phone inbox cannot be read (damaged file)";
  const std::string noDir = "the phone report folder is damaged (not a directory)\n";
  const std::string cut =
      "the account database EmailAccMsgStore.db is damaged (53 bytes, of which the account store "
      "reads 30)";
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"show email 7", damaged + "\n"},
           {"mark email 7 --read", damaged + "\n"},
           {"mv email 7 spam", damaged + "\n"},
           {"add email draft",
            "the identifier counter EmailDB.ini is damaged or behind the stored messages (highest "
            "identifier in use 7); 'msgstore check email --fix' repairs it\n"},
           {"add email report", noDir},
           {"ls email report", noDir},
           {"empty email report", noDir},
           {"account add --folder 1 --text x", cut + ": nothing changed\n"},
           {"account rm 805306371", cut + ": nothing changed\n"},
           {"account empty 1", cut + ": nothing changed\n"},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second) << c.first;
  EXPECT_EQ(Run("account ls", 0, "msgstore: warning: " + cut + "\n"),
            "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
            "805306372       1     7       1   65535  no        Home\n");
  EXPECT_EQ(Run("ls email inbox", 0, "msgstore: warning: " + damaged + "\n"),
            "ID    ACCOUNT  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 1  805306371  2026-01-01T00:00:00Z  no         0      fine\n"
            " 7  805306371  -                     -          -  -   (damaged: cannot be read)\n");
  EXPECT_NE(Run("check email", 1,
                "msgstore: 1 index differs from the folders and the identifier counter "
                "EmailDB.ini is damaged or behind the stored messages (msgstore check email --fix "
                "repairs them)\n")
                .find("inbox 805306371: message 7 (inbox) cannot be read (damaged file)\n"),
            std::string::npos);
  EXPECT_EQ(Device(), before);

  fs::remove(Database());
  fs::create_directory(Database());
  before = Device();
  EXPECT_EQ(Fails("account ls", 1),
            "msgstore: the account database EmailAccMsgStore.db cannot be opened (not a file)\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("rm email 7"), "deleted message 7 in phone inbox\n");
}

TEST_F(EmailCommands, TheNoneFolderIsListedShownAndEmptiedButNotChanged) {
  Ok("init");
  msgstore::SetDeviceRoot(root_);
  WCHAR path[MAX_PATH] = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\NONE\\4.email";
  std::u16string subject = u"kept";
  tagMSGPROPS props = {};
  tagEMAILMSGPROPS email = {};
  props.dwOid = 4;
  props.dwFolder = EMAIL_FOLDER_NONE;
  props.pszSubject = &subject[0];
  ASSERT_EQ(EmailMsgStore_WriteToFile(path, &props, &email), 1);
  EXPECT_EQ(Ok("check email --fix").rfind("set the identifier counter EmailDB.ini to 4\n", 0), 0u);
  EXPECT_EQ(Json("ls email none")[0].at("subject"), "kept");
  EXPECT_EQ(Json("show email 4").at("folder"), "none");
  EXPECT_EQ(Json("count email").at("folders").at("none").at("phone"), 1);
  auto before = Device();
  const std::string keeps =
      "msgstore: the e-mail store keeps no message in folder none (it names no file there): "
      "message 4 in phone none ";
  EXPECT_EQ(Fails("mark email 4 --read", 1), keeps + "can be shown, listed and emptied only\n");
  EXPECT_EQ(Fails("rm email 4", 1), keeps + "can be shown, listed and emptied only\n");
  EXPECT_EQ(Fails("mv email 4 draft", 1), keeps + "can be shown, listed and emptied only\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("empty email none"), "emptied the phone none: 1 message deleted\n");
}

TEST_F(EmailCommands, HelpNamesTheEmailAndAccountOptions) {
  std::string add = Ok("add email --help");
  for (const char* option : {"--account", "--email-text1", "--email-text2", "--email-data1",
                             "--email-data2", "--quick-value", "--read-report"})
    EXPECT_NE(add.find(option), std::string::npos) << option;
  EXPECT_NE(Ok("mark email --help").find("--read-report"), std::string::npos);
  EXPECT_EQ(Ok("mark sms --help").find("--read-report"), std::string::npos);
  EXPECT_NE(Ok("empty email --help").find("--account"), std::string::npos);
  std::string account = Ok("account --help");
  for (const char* sub : {"ls", "show", "add", "rm", "empty", "use"})
    EXPECT_NE(account.find("\n  " + std::string(sub) + " "), std::string::npos) << sub;
}

}  // namespace
}  // namespace tool_test
