// The email and account commands: the account database, accounts by identifier or name, the
// registry's incoming-server account, and inbox messages kept by account.
#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

using EmailCommands = ToolTest;

TEST_F(EmailCommands, AccountsAndTheirInboxMessagesFromAddToRemove) {
  Ok("init");
  EXPECT_EQ(Ok("account add --name Work"), "account 805306371 added to folder 1\n");
  Steps({{"add email inbox --text hi", 2,
          "an inbox message needs --account ID or NAME: no incoming-server account is named "
          "(see 'msgstore account use')\n"},
         {"account add --text Home --folder 2 --default --data 7 --wdata1 1 --wdata2 65535", 0,
          "account 805306372 added to folder 2\naccount 805306372 is the incoming-server "
          "account (registry name Account30000004)\n"},
         {"account ls", 0,
          "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
          "805306371       1     0       0       0  no        Work\n"
          "805306372       2     7       1   65535  yes       Home\n"},
         {"add email inbox --text hi", 0,
          "message 1 stored in phone inbox\nnote: without --account the message went to the "
          "incoming-server account 805306372\n"},
         {"add email inbox --account Work --to a@b.example --subject Hi --text hello "
          "--time 2026-03-01T12:00:00Z --email-data1 4000000000 --read-report -7 --status 3",
          0, "message 2 stored in phone inbox\n"},
         {"ls email --account Home --ids", 0, "1\n"},
         {"ls email inbox --index --account 805306371", 0,
          "ID    ACCOUNT  FOLDER  TIME                  READ  STATUS  TO           SUBJECT / "
          "TEXT\n 2  805306371  inbox   2026-03-01T12:00:00Z  no         3  a@b.example  Hi\n"},
         {"account use Work", 0,
          "account 805306371 is the incoming-server account (registry name Account30000003)\n"},
         {"account add --name Work", 0, "account 805306373 added to folder 1\n"},
         {"account rm Work", 1,
          "account name 'Work' is ambiguous: accounts 805306371, 805306373 have it (give the "
          "identifier)\n"},
         {"account show Nobody", 1, "no account named 'Nobody' (see 'msgstore account ls')\n"},
         {"ls email inbox --account Nobody", 1, "no account named 'Nobody'"}});
  EXPECT_EQ(Json("account show Home")["id"], 805306372u);
  EXPECT_TRUE(fs::exists(At("Email/INBOX/805306371_2.email")));
  EXPECT_PRED2(Has, Ok("show email 2"),
               "\nemail data1  4000000000\nemail text1\nemail text2\nread report  -7\n"
               "account      805306371\nemail data2  0\nrecord       id 2, folder 1\n"
               "content      10 bytes, UTF-16 text:\nhello\n");
  // The store's own count finds the incoming account through the registry values written.
  EXPECT_EQ(Json("count email").at("unread_inbox"), 1);
  const std::string count = Ok("count email");
  for (const char* row : {"\ninbox 805306371 (Work)      1     -      1\n",
                          "\ninbox 805306372 (Home)      1     -      1\n",
                          "\ninbox 805306373 (Work)      0     -      0\n"})
    EXPECT_PRED2(Has, count, row);
  EXPECT_EQ(Json("count email")["accounts"]["805306372"]["text"], "Home");
  Steps({{"mark email 2 --read --read-report 2", 0,
          "message 2 in phone inbox: read, status 3, read report 2\n"},
         {"mv email 2 spam", 0, "message 2 in phone inbox moved to phone spam as message 3\n"},
         {"account rm 805306372", 0,
          "removed account 805306372 of folder 2\nnote: its inbox keeps 1 message ('msgstore "
          "empty email inbox --account 805306372' deletes them)\n"}});
  // Removed from the account store, its messages are counted without a name.
  EXPECT_PRED2(Has, Ok("count email"), "\ninbox 805306372 (no account)      1     -      1\n");
  EXPECT_TRUE(Json("count email")["accounts"]["805306372"]["text"].is_null());
}

}  // namespace
}  // namespace tool_test
