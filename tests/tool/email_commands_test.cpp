// The email and account commands: the account database and the registry's incoming-server
// account, inbox messages kept by account with an index each, the none folder, and full or
// damaged storage.
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
  // init, and the accounts Work (805306371) and Home (805306372).
  void TwoAccounts() {
    Ok("init");
    Steps({{"account add --folder 1 --text Work", 0, "account 805306371 added to folder 1\n"},
           {"account add --folder 1 --text Home --data 7 --wdata1 1 --wdata2 65535", 0,
            "account 805306372 added to folder 1\n"}});
  }
};

TEST_F(EmailCommands, AccountsAreAddedListedCountedUsedAndRemoved) {
  Ok("card insert");
  TwoAccounts();
  Ok("account add --folder 9 --text Other");
  EXPECT_EQ(Ok("account ls"),
            "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
            "805306372       1     7       1   65535  no        Home\n"
            "805306371       1     0       0       0  no        Work\n"
            "805306373       9     0       0       0  no        Other\n");
  EXPECT_EQ(Ok("account ls 4"), "no accounts in folder 4\n");
  Oks({"add email inbox --account 805306371 --text a",
       "add email inbox --account 805306371 --text b --read",
       "--card add email inbox --account 805306371 --text c",
       "add email inbox --account 805306372 --text d",
       "add email spam --account 805306372 --text e"});
  EXPECT_PRED2(Has, Ok("count email"),
               "\nspam                  1     0      1\nnone                  0     -      0\n"
               "inbox 805306371       2     1      3\nunread 805306371      1     1      2\n"
               "inbox 805306372       1     0      1\nunread 805306372      1     0      1\n"
               "inbox 805306373       0     0      0\nunread 805306373      0     0      0\n"
               "unread in inbox       -     -      0\nnote: no incoming-server account is named: "
               "the store counts no unread inbox message and never finds the inbox full "
               "('msgstore account use ID' names one)\n");
  EXPECT_EQ(Ok("account use 805306371"),
            "account 805306371 is the incoming-server account (registry name Account30000003)\n");
  // The store's own count finds the account through the registry values the tool wrote.
  EXPECT_EQ(Json("count email").at("unread_inbox"), 2);
  EXPECT_PRED2(Has, Ok("account show 805306371"),
               "\ntext             Work\nincoming server  yes\n"
               "inbox            2 in phone memory, 1 on the memory card\n");
  // Without the card's tree, the phone's count is the answer: the store's would make the tree.
  fs::remove_all(root_ + "/SD Card/User");
  auto before = Device();
  EXPECT_EQ(Json("count email").at("unread_inbox"), 1);
  EXPECT_EQ(Device(), before);
  Steps({
      {"account use 805306372 --name home", 0,
       "account 805306372 is the incoming-server account (registry name home)\n"},
      {"account rm 805306372", 0,
       "removed account 805306372 of folder 1\nnote: its inbox keeps 1 message ('msgstore "
       "empty email inbox --account 805306372' deletes them)\nnote: the registry still names "
       "it the incoming-server account\n"},
  });
  Ok("account rm 805306371");
  EXPECT_EQ(Ok("account empty 9"), "removed 1 account of folder 9\n");
  EXPECT_EQ(Device().at(At("EmailAccMsgStore.db")), std::string(4, '\0'));
  // New identifiers go on from the registry counter; one behind the accounts takes none.
  EXPECT_EQ(Json("account add --folder 2 --text x").at("id"), 805306374);
  msgstore::SetDeviceRoot(root_);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0, 0, &key),
            ERROR_SUCCESS);
  const BYTE behind[4] = {0x05, 0x00, 0x00, 0x30};
  ASSERT_EQ(RegSetValueExW(key, u"AccoutnId", 0, REG_DWORD, behind, 4), ERROR_SUCCESS);
  RegCloseKey(key);
  Steps({{"account add --folder 2 --text y", 1,
          "the registry's account counter AccoutnId (805306373) is behind the accounts: the next "
          "identifier, 805306374, is taken"},
         {"account show 805306371", 1, "no account 805306371 (see 'msgstore account ls')\n"},
         {"account add --folder 1 --text " + std::string(256, 'a'), 2,
          "--text is 256 UTF-16 code units long; an account keeps at most 255\n"},
         {"account use 805306374 --name sixteen-letters-", 2,
          "account name 'sixteen-letters-' must"}});
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
  EXPECT_PRED2(Has, Ok("show email 1"),
               "\nquick value  65535\nemail data1  4000000000\nemail text1  one\nemail text2  two\n"
               "read report  -7\naccount      805306371\nemail data2  9\nrecord       id 1, "
               "folder 1\ncontent      10 bytes, UTF-16 text:\nhello\n");
  Steps({{"add email inbox --text x", 2, "an inbox message needs --account ID"},
         {"add email inbox --account 805306379", 1, "no account 805306379 (see 'msgstore account"},
         {"add email draft --read-report 2147483648", 2,
          "--read-report '2147483648' is not a number from -2147483648 to 2147483647\n"},
         {"ls email draft --account 805306371", 1, "--account applies to the inbox only"}});
}

TEST_F(EmailCommands, InboxMessagesMoveToSpamAndBackByTheirAccount) {
  Ok("card insert");
  TwoAccounts();
  Oks({"add email inbox --account 805306371 --text a",
       "add email inbox --account 805306372 --text b", "add email draft --text c"});
  Steps({{"mark email 1 --read --read-report 2", 0,
          "message 1 in phone inbox: read, status 0, read report 2\n"},
         {"mv email 1 spam", 0, "message 1 in phone inbox moved to phone spam as message 4\n"}});
  EXPECT_FALSE(fs::exists(At("Email/INBOX/805306371_EmailIni")));  // its last record went
  EXPECT_EQ(Ok("mv email 4 inbox"), "message 4 in phone spam moved to phone inbox as message 5\n");
  EXPECT_EQ(Json("ls email inbox --index --account 805306371")[0].at("read_report"), 2);
  Steps(
      {{"mv email 3 sent", 0, "message 3 in phone draft moved to phone sent as message 6\n"},
       {"mv email 5 draft", 1, "the e-mail store moves inbox messages to spam only"},
       {"mv email 6 inbox", 1, "message 6 in phone sent belongs to no account (account 0)"},
       // The card has no index.
       {"--card add email inbox --account 805306372 --text d", 0,
        "message 7 stored in card inbox\n"},
       {"--card mv email 7 spam", 0, "message 7 in card inbox moved to card spam as message 8\n"},
       {"--card mv email 8 inbox", 0, "message 8 in card spam moved to card inbox as message 9\n"},
       {"empty email inbox --account 805306372", 0,
        "emptied the phone inbox of account 805306372: 1 message deleted\nnote: the index keeps "
        "its records until 'msgstore refresh email --all' (or until the messages are looked "
        "up)\n"}});
  EXPECT_TRUE(fs::exists(At("Email/INBOX/805306372_9.email", true)));
  EXPECT_EQ(Json("ls email inbox").size(), 1u);  // Work's message stays
}

TEST_F(EmailCommands, FullInboxesAndFullStorageRefuseOrGoToTheOtherStorage) {
  Ok("card insert");
  TwoAccounts();
  // Written through the library in this process before the store counts the account's inbox,
  // which makes the writes quick.
  msgstore::SetDeviceRoot(root_);
  for (bool card : {false, true})
    for (DWORD i = 0; i < (card ? 99 : 100); ++i) {
      tagMSGPROPS props = {};
      tagEMAILMSGPROPS email = {};
      props.dwFolder = EMAIL_FOLDER_INBOX;
      props.ftIndexTime = props.ftTime = {1000 + i, 0x01D00000u};
      email.dwAccountId = kWork;
      ASSERT_NE(EmailMsgStore_WriteMessage(card, &props, &email, 0, nullptr), 0u);
    }
  const std::string add = "add email inbox --account 805306371 --text x",
                    full = "the phone inbox is full (100 messages)";
  Steps({{"account use 805306371", 0,
          "account 805306371 is the incoming-server account (registry name Account30000003)\n"},
         {add, 1, full + ": message refused (--auto lets the store put it on the other storage)\n"},
         {add + " --auto", 0,
          "message 200 stored in card inbox\nnote: " + full +
              ": the store put the message on the memory card\n"},
         {add + " --auto", 1, full + " and so is the card inbox: message refused\n"},
         {"add email draft --text d", 0, "message 201 stored in phone draft\n"}});
  msgstore::DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip", 1);
  EXPECT_EQ(Ok("add email sent --text long"),
            "message 202 stored in card sent\nnote: there is not enough free space on the phone "
            "memory: the store put the message on the memory card\n");
  msgstore::DefaultPlatform::SetFreeSpaceCap(u"\\SD Card", 1);
  Steps(
      {{"add email sent --text long", 1,
        "there is not enough free space for the message (8 bytes) on the phone memory nor on "
        "the memory card"},
       {"mv email 201 sent", 1, "there is not enough free space for message 201 in phone draft"}});
}

TEST_F(EmailCommands, CheckAndRefreshCoverEveryAccountsInboxIndex) {
  TwoAccounts();
  Oks({"add email inbox --account 805306371 --text a --time 2026-01-01T00:00:00Z",
       "add email inbox --account 805306371 --text b --time 2026-01-02T00:00:00Z",
       "add email inbox --account 805306372 --text c --time 2026-01-03T00:00:00Z"});
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
  for (const char* part :
       {"\ninbox (no account)      0        0  1 problem\ninbox 805306371         2        2  1 "
        "problem\ninbox 805306372         0        1  1 problem\n",
        "\ninbox 805306371: message 2 (inbox) (2026-01-02T00:00:00Z) is listed after the older "
        "message 1 (inbox) (2026-01-01T00:00:00Z)\n",
        "\ninbox 805306372: message 3 (inbox) has a record but no file\n",
        "\ninbox (no account): file stray.email (not named by a message identifier) in inbox\n"})
    EXPECT_PRED2(Has, out, part);
  // No rebuild settles the stray file.
  EXPECT_PRED2(Starts,
               Run("check email --fix", 1,
                   "msgstore: 1 index differs from the folders after the repair: files not named "
                   "by a message identifier stay until renamed or removed\n"),
               "rebuilt the index files of inbox 805306371, inbox 805306372\n");
  fs::remove(At("Email/INBOX/stray.email"));
  // The store's refresh leaves the accounts' indexes alone; the tool's makes the missing ones.
  fs::remove(At("Email/INBOX/805306371_EmailIni"));
  EXPECT_EQ(Ok("refresh email"),
            "rebuilt the phone index files that were missing (--all rebuilds the others too)\n");
  EXPECT_EQ(Json("ls email inbox --index --account 805306371")[0].at("id"), 2);
  EXPECT_EQ(Tool("check email").status, 0);
}

TEST_F(EmailCommands, TheNoneFolderAndADamagedAccountDatabase) {
  EXPECT_EQ(Ok("account ls"), "no accounts\n");
  Refuses("account add --folder 1 --text Work", 1, "the message tree of the phone memory has not");
  TwoAccounts();
  Ok("add email draft --subject kept");
  // The store names no file in folder none: only a file put there by hand lands in it.
  fs::copy_file(At("Email/DRAFT/1.email"), At("Email/NONE/4.email"));
  Ok("check email --fix");
  const std::string none =
      "the e-mail store keeps no message in folder none (it names no file "
      "there): message ";
  Refuses("add email none --text x", 1, none + "not stored\n");
  EXPECT_EQ(Json("ls email none")[0].at("subject"), "kept");
  EXPECT_EQ(Json("show email 4").at("folder"), "none");
  for (const char* cmd : {"mark email 4 --read", "rm email 4", "mv email 4 draft"})
    Refuses(cmd, 1, none + "4 in phone none can be shown, listed and emptied only\n");
  EXPECT_EQ(Ok("empty email none"), "emptied the phone none: 1 message deleted\n");

  std::string db = Device().at(At("EmailAccMsgStore.db"));
  std::ofstream(At("EmailAccMsgStore.db"), std::ios::binary) << db.substr(0, db.size() - 3);
  const std::string cut =
      "the account database EmailAccMsgStore.db is damaged (53 bytes, of "
      "which the account store reads 30)";
  for (const char* cmd :
       {"account add --folder 1 --text x", "account rm 805306371", "account empty 1"})
    Refuses(cmd, 1, cut + ": nothing changed\n");
  EXPECT_EQ(Run("account ls", 0, "msgstore: warning: " + cut + "\n"),
            "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
            "805306372       1     7       1   65535  no        Home\n");
  fs::remove(At("EmailAccMsgStore.db"));
  fs::create_directory(At("EmailAccMsgStore.db"));
  Refuses("account ls", 1, "the account database EmailAccMsgStore.db cannot be opened");
}

}  // namespace
}  // namespace tool_test
