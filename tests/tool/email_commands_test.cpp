// The email and account commands: the account database, the registry's incoming-server
// account, and inbox messages kept by account.
#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

using EmailCommands = ToolTest;

TEST_F(EmailCommands, AccountsAndTheirInboxMessagesFromAddToRemove) {
  Ok("init");
  Steps({{"account add --folder 1 --text Work", 0, "account 805306371 added to folder 1\n"},
         {"account add --folder 1 --text Home --data 7 --wdata1 1 --wdata2 65535", 0,
          "account 805306372 added to folder 1\n"},
         {"account ls", 0,
          "       ID  FOLDER  DATA  WDATA1  WDATA2  INCOMING  TEXT\n"
          "805306371       1     0       0       0  no        Work\n"
          "805306372       1     7       1   65535  no        Home\n"},
         {"account use 805306371", 0,
          "account 805306371 is the incoming-server account (registry name Account30000003)\n"},
         {"add email inbox --account 805306371 --to a@b.example --subject Hi --text hello "
          "--time 2026-03-01T12:00:00Z --email-data1 4000000000 --read-report -7 --status 3",
          0, "message 1 stored in phone inbox\n"},
         {"add email inbox --account 805306372 --text b --time 2026-03-02T00:00:00Z", 0,
          "message 2 stored in phone inbox\n"},
         {"ls email inbox --index --account 805306371", 0,
          "ID    ACCOUNT  FOLDER  TIME                  READ  STATUS  TO           SUBJECT / "
          "TEXT\n 1  805306371  inbox   2026-03-01T12:00:00Z  no         3  a@b.example  Hi\n"}});
  EXPECT_TRUE(fs::exists(At("Email/INBOX/805306371_1.email")));
  EXPECT_PRED2(Has, Ok("show email 1"),
               "\nemail data1  4000000000\nemail text1\nemail text2\nread report  -7\n"
               "account      805306371\nemail data2  0\nrecord       id 1, folder 1\n"
               "content      10 bytes, UTF-16 text:\nhello\n");
  // The store's own count finds the incoming account through the registry values written.
  EXPECT_EQ(Json("count email").at("unread_inbox"), 1);
  Steps({{"mark email 1 --read --read-report 2", 0,
          "message 1 in phone inbox: read, status 3, read report 2\n"},
         {"mv email 1 spam", 0, "message 1 in phone inbox moved to phone spam as message 3\n"},
         {"mv email 3 inbox", 0, "message 3 in phone spam moved to phone inbox as message 4\n"},
         {"rm email 4", 0, "deleted message 4 in phone inbox\n"},
         {"add email inbox --text x", 0,
          "message 5 stored in phone inbox\nnote: without --account the message went to the "
          "incoming-server account 805306371\n"},
         {"account rm 805306372", 0,
          "removed account 805306372 of folder 1\nnote: its inbox keeps 1 message ('msgstore "
          "empty email inbox --account 805306372' deletes them)\n"},
         {"account show 805306372", 1, "no account 805306372 (see 'msgstore account ls')\n"}});
  EXPECT_FALSE(fs::exists(At("Email/INBOX/805306371_4.email")));
}

}  // namespace
}  // namespace tool_test
