// The tool's email and account commands: the account database and the registry's
// incoming-server account, inbox messages kept by account, their indexes and counts, the none
// folder, and full or damaged storage.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
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

class EmailCommands : public ToolTest {
 protected:
  std::string Database() const { return At("EmailAccMsgStore.db"); }
  // init, and the accounts Work (805306371) and Home (805306372).
  void TwoAccounts() {
    Ok("init");
    EXPECT_EQ(Ok("account add --folder 1 --text Work"), "account 805306371 added to folder 1\n");
    EXPECT_EQ(Ok("account add --folder 1 --text Home --data 7 --wdata1 1 --wdata2 65535"),
              "account 805306372 added to folder 1\n");
  }
  // Writes n inbox messages of Work through the library in this process: quicker than the tool.
  void Fill(int n, bool card) {
    msgstore::SetDeviceRoot(root_);
    for (int i = 0; i < n; ++i) {
      tagMSGPROPS props = {};
      tagEMAILMSGPROPS email = {};
      props.dwFolder = EMAIL_FOLDER_INBOX;
      props.ftIndexTime = props.ftTime = {static_cast<DWORD>(1000 + i), 0x01D00000u};
      email.dwAccountId = kWork;
      ASSERT_NE(EmailMsgStore_WriteMessage(card, &props, &email, 0, nullptr), 0u) << i;
    }
  }
};

TEST_F(EmailCommands, AccountsAreAddedListedUsedAndRemoved) {
  EXPECT_EQ(Ok("account ls"), "no accounts\n");
  Refuses("account add --folder 1 --text Work", 1,
          "the message tree of the phone memory has not been made (run 'msgstore init')\n");
  TwoAccounts();
  Ok("account add --folder 9 --text Other");
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
  Ok("add email inbox --account 805306372 --text a");
  Ok("add email inbox --account 805306372 --text b");
  // The store's own count finds the account through the registry values the tool wrote.
  EXPECT_EQ(Json("count email").at("unread_inbox"), 2);
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
  // New identifiers go on from the registry counter; one behind the accounts takes none.
  EXPECT_EQ(Json("account add --folder 2 --text x").at("id"), 805306374);
  msgstore::SetDeviceRoot(root_);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0, 0, &key),
            ERROR_SUCCESS);
  const BYTE behind[4] = {0x05, 0x00, 0x00, 0x30};
  ASSERT_EQ(RegSetValueExW(key, u"AccoutnId", 0, REG_DWORD, behind, 4), ERROR_SUCCESS);
  RegCloseKey(key);
  Refuses("account add --folder 2 --text y", 1,
          "the registry's account counter AccoutnId (805306373) is behind the accounts: the next "
          "identifier, 805306374, is taken: nothing changed\n");

  const std::string noAccount = "no account 805306371 (see 'msgstore account ls')\n";
  const std::string name = "' must be 1 to 15 letters, digits, '_' or '-'\n";
  struct Case {
    std::string cmd;
    int status;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {"account show 805306371", 1, noAccount},
           {"account rm 805306371", 1, noAccount},
           {"account use 1", 1, "no account 1 (see 'msgstore account ls')\n"},
           {"account add --text a", 2, "--folder is required"},
           {"account add --folder x --text a", 2,
            "--folder 'x' is not a number from 0 to 4294967295\n"},
           {"account add --folder 1 --text " + std::string(256, 'a'), 2,
            "--text is 256 UTF-16 code units long; an account keeps at most 255\n"},
           {"account add --folder 1 --text a --wdata2 65536", 2,
            "--wdata2 '65536' is not a number from 0 to 65535\n"},
           {"account show 0", 2, "'0' is not an account identifier (1 to 4294967295)\n"},
           {"account use 805306374 --name a\\b", 2, "account name 'a\\b" + name},
           {"account use 805306374 --name sixteen-letters-", 2,
            "account name 'sixteen-letters-" + name},
       })
    Refuses(c.cmd, c.status, c.err);
}

TEST_F(EmailCommands, AddStoresEveryFieldOfTheEmailRecord) {
  TwoAccounts();
  EXPECT_EQ(Ok("add email inbox --account 805306371 --to a@b.example --subject Hi --text hello "
               "--time 2026-03-01T12:00:00Z --quick-value 65535 --email-data1 4000000000 "
               "--email-text1 one --email-text2 two --read-report -7 --email-data2 9 --status 3"),
            "message 1 stored in phone inbox\n");
  EXPECT_TRUE(fs::exists(At("Email/INBOX/805306371_1.email")));
  // The fields land where the store keeps them, not only where the tool reads them back.
  msgstore::SetDeviceRoot(root_);
  tagMSGPROPS props = {};
  tagEMAILMSGPROPS email = {};
  ASSERT_EQ(EmailMsgStore_ReadFolderMessageInbox(false, kWork, -1, 1, true, &props, &email), 1);
  EXPECT_EQ(
      std::make_tuple(email.wQuickValue, email.dwEmailData1, std::u16string(email.pszEmailText1),
                      std::u16string(email.pszEmailText2), email.dwReadReportStatus,
                      email.dwAccountId, email.dwEmailData2, props.wStatus),
      std::make_tuple(65535, 4000000000u, u"one", u"two", -7, kWork, 9u, 3));
  EmailMsgStore_FreeMsgProps(&props, &email);

  EXPECT_EQ(Ok("ls email inbox"),
            "ID    ACCOUNT  TIME                  READ  STATUS  TO           SUBJECT / TEXT\n"
            " 1  805306371  2026-03-01T12:00:00Z  no         3  a@b.example  Hi\n");
  EXPECT_EQ(Ok("ls email inbox --account 805306372"), "no messages in phone inbox\n");
  std::string shown = Ok("show email 1");
  EXPECT_TRUE(Has(shown,
                  "wuser2       0\n"
                  "quick value  65535\n"
                  "email data1  4000000000\n"
                  "email text1  one\n"
                  "email text2  two\n"
                  "read report  -7\n"
                  "account      805306371\n"
                  "email data2  9\n"
                  "record       id 1, folder 1\n"
                  "content      10 bytes, UTF-16 text:\nhello\n"))
      << shown;
  EXPECT_EQ(Json("show email 1").at("read_report"), -7);
  EXPECT_TRUE(
      Has(Ok("export email"), "\"email_text2\":\"two\",\"read_report\":-7,\"account\":805306371,"));

  struct Case {
    std::string cmd;
    int status;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {"add email draft --read-report 2147483648", 2,
            "--read-report '2147483648' is not a number from -2147483648 to 2147483647\n"},
           {"add email inbox --text x", 2,
            "an inbox message needs --account ID (see 'msgstore account ls')\n"},
           {"ls email inbox --account 11", 2,
            "--account '11' is not an account identifier (12 to 4294967295)\n"},
           {"add email inbox --account 805306379", 1,
            "no account 805306379 (see 'msgstore account ls')\n"},
           {"add email none --text x", 1,
            "the e-mail store keeps no message in folder none (it names no file there): message "
            "not stored\n"},
           {"ls email draft --account 805306371", 1,
            "--account applies to the inbox only: folder draft is not divided by account\n"},
       })
    Refuses(c.cmd, c.status, c.err);
}

TEST_F(EmailCommands, InboxMessagesMoveToSpamAndBackByTheirAccount) {
  Ok("card insert");
  TwoAccounts();
  Ok("add email inbox --account 805306371 --text a");
  Ok("add email inbox --account 805306372 --text b");
  Ok("add email draft --text c");
  EXPECT_EQ(Ok("mark email 1 --read --read-report 2"),
            "message 1 in phone inbox: read, status 0, read report 2\n");
  EXPECT_EQ(Ok("mv email 1 spam"), "message 1 in phone inbox moved to phone spam as message 4\n");
  EXPECT_FALSE(fs::exists(At("Email/INBOX/805306371_1.email")));
  EXPECT_FALSE(fs::exists(At("Email/INBOX/805306371_EmailIni")));  // its last record went
  EXPECT_EQ(Json("show email 4").at("read_report"), 2);
  EXPECT_EQ(Ok("mv email 4 inbox"), "message 4 in phone spam moved to phone inbox as message 5\n");
  EXPECT_TRUE(fs::exists(At("Email/INBOX/805306371_5.email")));
  EXPECT_EQ(Json("ls email inbox --index --account 805306371")[0].at("id"), 5);
  EXPECT_EQ(Ok("mv email 3 sent"), "message 3 in phone draft moved to phone sent as message 6\n");
  Refuses("mv email 5 draft", 1,
          "the e-mail store moves inbox messages to spam only: message 5 in phone inbox not "
          "moved\n");
  Refuses("mv email 6 inbox", 1,
          "message 6 in phone sent belongs to no account (account 0): it cannot go to the "
          "inbox\n");
  Refuses("empty email sent --account 805306371", 1,
          "--account applies to the inbox only: folder sent is not divided by account\n");

  // The same on the memory card, which has no index.
  Ok("--card add email inbox --account 805306372 --text d");
  EXPECT_EQ(Ok("--card mv email 7 spam"),
            "message 7 in card inbox moved to card spam as message 8\n");
  EXPECT_EQ(Ok("--card mv email 8 inbox"),
            "message 8 in card spam moved to card inbox as message 9\n");
  EXPECT_EQ(Ok("--card rm email 9"), "deleted message 9 in card inbox\n");

  Ok("add email inbox --account 805306372 --text e");
  EXPECT_EQ(Ok("empty email inbox --account 805306372"),
            "emptied the phone inbox of account 805306372: 2 messages deleted\n"
            "note: the index keeps its records until 'msgstore refresh email --all' (or until "
            "the messages are looked up)\n");
  EXPECT_EQ(Json("ls email inbox").size(), 1u);  // Work's message stays
}

TEST_F(EmailCommands, FullInboxesAndFullStorageRefuseOrGoToTheOtherStorage) {
  Ok("card insert");
  TwoAccounts();
  // Filled before the store counts the account's inbox, which makes the writes quick.
  Fill(100, false);
  Fill(99, true);
  Ok("account use 805306371");
  Refuses("add email inbox --account 805306371 --text x", 1,
          "the phone inbox is full (100 messages): message refused (--auto lets the store put it "
          "on the other storage)\n");
  EXPECT_EQ(Ok("add email inbox --account 805306371 --text x --auto"),
            "message 200 stored in card inbox\n"
            "note: the phone inbox is full (100 messages): the store put the message on the "
            "memory card\n");
  Refuses("add email inbox --account 805306371 --text y --auto", 1,
          "the phone inbox is full (100 messages) and so is the card inbox: message refused\n");

  Ok("add email draft --text d");
  msgstore::SetDeviceRoot(root_);
  msgstore::DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip", 1);
  EXPECT_EQ(Ok("add email sent --text long"),
            "message 202 stored in card sent\n"
            "note: there is not enough free space on the phone memory: the store put the message "
            "on the memory card\n");
  msgstore::DefaultPlatform::SetFreeSpaceCap(u"\\SD Card", 1);
  Refuses("add email sent --text long", 1,
          "there is not enough free space for the message (8 bytes) on the phone memory nor on "
          "the memory card: message refused\n");
  Refuses("mv email 201 sent", 1,
          "there is not enough free space for message 201 in phone draft: not moved\n");
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
  // The store's count would make the card's tree: without it, the phone's count is the answer.
  fs::remove_all(root_ + "/SD Card/User");
  auto before = Device();
  EXPECT_EQ(Json("count email").at("unread_inbox"), 1);
  EXPECT_EQ(Device(), before);
}

TEST_F(EmailCommands, CheckAndRefreshCoverEveryAccountsInboxIndex) {
  TwoAccounts();
  Ok("add email inbox --account 805306371 --text a --time 2026-01-01T00:00:00Z");
  Ok("add email inbox --account 805306371 --text b --time 2026-01-02T00:00:00Z");
  Ok("add email inbox --account 805306372 --text c --time 2026-01-03T00:00:00Z");
  EXPECT_EQ(Ok("ls email inbox --index"),
            "ID    ACCOUNT  FOLDER  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 2  805306371  inbox   2026-01-02T00:00:00Z  no         0      b\n"
            " 1  805306371  inbox   2026-01-01T00:00:00Z  no         0      a\n"
            " 3  805306372  inbox   2026-01-03T00:00:00Z  no         0      c\n");
  fs::remove(At("Email/INBOX/805306372_3.email"));
  std::ofstream(At("Email/INBOX/stray.email")) << "x";
  msgstore::SetDeviceRoot(root_);
  EmailMsgStore_DeleteMsgFromIni(2, kWork);
  EmailMsgStore_AddMsgToIni(2, kWork, {0, 0x01000000u});
  std::string out = Run("check email", 1,
                        "msgstore: 3 indexes differ from the folders (msgstore check email --fix "
                        "rebuilds them)\n");
  for (const char* line :
       {"\ninbox (no account)      0        0  1 problem\n",
        "\ninbox 805306371: message 2 (inbox) (2026-01-02T00:00:00Z) is listed after the older "
        "message 1 (inbox) (2026-01-01T00:00:00Z)\n",
        "\ninbox 805306372: message 3 (inbox) has a record but no file\n",
        "\ninbox (no account): file stray.email (not named by a message identifier) in inbox\n"})
    EXPECT_TRUE(Has(out, line)) << line << out;
  // No rebuild settles the stray file.
  out = Run("check email --fix", 1,
            "msgstore: 1 index differs from the folders after the repair: files not named by a "
            "message identifier stay until renamed or removed\n");
  EXPECT_EQ(out.rfind("rebuilt the index files of inbox 805306371, inbox 805306372\n", 0), 0u)
      << out;
  EXPECT_EQ(Json("ls email inbox --index")[0].at("id"), 2);
  fs::remove(At("Email/INBOX/stray.email"));
  // The store's refresh leaves the accounts' indexes alone; the tool's makes the missing ones.
  fs::remove(At("Email/INBOX/805306371_EmailIni"));
  EXPECT_EQ(Ok("refresh email"),
            "rebuilt the phone index files that were missing (--all rebuilds the others too)\n");
  EXPECT_EQ(Json("ls email inbox --index --account 805306371").size(), 2u);
  EXPECT_EQ(Tool("check email").status, 0);
}

TEST_F(EmailCommands, TheNoneFolderIsListedShownAndEmptiedButNotChanged) {
  Ok("init");
  Ok("add email draft --subject kept");
  // The store names no file in folder none: only a file put there by hand lands in it.
  fs::copy_file(At("Email/DRAFT/1.email"), At("Email/NONE/4.email"));
  EXPECT_EQ(Ok("check email --fix").rfind("set the identifier counter EmailDB.ini to 4\n", 0), 0u);
  EXPECT_EQ(Json("ls email none")[0].at("subject"), "kept");
  EXPECT_EQ(Json("show email 4").at("folder"), "none");
  EXPECT_EQ(Json("count email").at("folders").at("none").at("phone"), 1);
  for (const char* cmd : {"mark email 4 --read", "rm email 4", "mv email 4 draft"})
    Refuses(cmd, 1,
            "the e-mail store keeps no message in folder none (it names no file there): message "
            "4 in phone none can be shown, listed and emptied only\n");
  EXPECT_EQ(Ok("empty email none"), "emptied the phone none: 1 message deleted\n");
}

TEST_F(EmailCommands, ADamagedAccountDatabaseIsReportedAndLeftAlone) {
  const std::string noTree =
      "the message tree of the phone memory has not been made (run 'msgstore init')\n";
  EXPECT_EQ(Ok("account ls"), "no accounts\n");
  Refuses("account rm 805306371", 1, noTree);
  Refuses("account empty 1", 1, noTree);
  TwoAccounts();
  std::string db = Device().at(Database());
  std::ofstream(Database(), std::ios::binary) << db.substr(0, db.size() - 3);
  const std::string cut =
      "the account database EmailAccMsgStore.db is damaged (53 bytes, of which the account store "
      "reads 30)";
  for (const char* cmd :
       {"account add --folder 1 --text x", "account rm 805306371", "account empty 1"})
    Refuses(cmd, 1, cut + ": nothing changed\n");
  EXPECT_EQ(Run("account ls", 0, "msgstore: warning: " + cut + "\n"),
            "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
            "805306372       1     7       1   65535  no        Home\n");
  fs::remove(Database());
  fs::create_directory(Database());
  Refuses("account ls", 1,
          "the account database EmailAccMsgStore.db cannot be opened (not a file)\n");
}

}  // namespace
}  // namespace tool_test
