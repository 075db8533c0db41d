// The commands of the stores: failures, a full folder, the handset, check with its repairs, the
// MMS record beside the shared one, and the e-mail accounts by identifier or name with the
// registry's incoming-server account (mark, mv and rm of several messages: conventions_test.cpp).
#include <sys/wait.h>

#include "tool_runner.h"

namespace tool_test {
namespace {

using StoreCommands = ToolTest;

// --version, then every argument the tool cannot take (exit 2, in its own words) and every failed
// operation (exit 1): one line each, and nothing changed.
TEST_F(StoreCommands, VersionAndFailuresAreOneLineAndChangeNothing) {
  const std::string version = Ok("--version");
  EXPECT_TRUE(Starts(version, "msgstore ") && Lines(version).size() == 1 &&
              version.find_first_of("0123456789") == 9)
      << version;
  fs::create_directory(root_ + "/DiskOnChip");  // the phone's volume: every command makes it
  Refuses("count", 1, "no message tree at " + root_ + " (run 'msgstore init'");
  Oks({"init", "add sms inbox --text fine", "card insert", "card state 4"});
  fs::remove(At("EMS/REPORT"));
  std::ofstream(At("EMS/REPORT")) << "";
  std::ofstream(At("EMS/DRAFT/2.sms")) << "xx";
  Steps({
      {"", 2, "no command given: init, card, counters, lang, ls, show, add, mark, mv, rm,"},
      {"frobnicate", 2, "unknown command 'frobnicate' (see 'msgstore --help')\n"},
      {"count bogus", 2, "unknown store 'bogus' (stores: sms, mms, email)\n"},
      {"show sms 0", 2, "'0' is not a message identifier (1 to 4294967295)\n"},
      {"add sms inbox --time 2026-02-30T00:00:00Z", 2, "--time '2026-02-30T00:00:00Z' is not"},
      {"mv sms 1 outbox", 2, "unknown folder 'outbox' (folders: inbox, draft, sent, unsent,"},
      {"show mms 42", 1, "no message 42 in phone memory\n"},
      {"add sms report", 1, "the phone report folder is damaged (not a directory)\n"},
      {"--card add sms inbox", 1, "the memory card cannot take messages now (card state 5)\n"},
      {"show sms 2", 1, "message 2 in phone draft cannot be read (damaged file)\n"},
      {"ls sms inbox extra", 2, "unexpected argument 'extra' (see 'msgstore ls sms --help')\n"},
      {"-x", 2, "unknown option '-x' (see 'msgstore --help')\n"},
      {"lang a b c", 2, "unexpected arguments 'b c' (see 'msgstore lang --help')\n"},
      {"ls sms inbox --bogus", 2, "unknown option '--bogus' (see 'msgstore ls sms --help')\n"},
      {"add sms inbox --to", 2, "--to needs a value (see 'msgstore add sms --help')\n"},
      {"--root elsewhere ls sms", 2,
       "--root can be given only once (see 'msgstore ls sms --help')\n"},
      {"mark sms 1 --read --unread", 2,
       "--read and --unread cannot be given together (see 'msgstore mark sms --help')\n"},
      {"show sms", 2, "missing ID (see 'msgstore show sms --help')\n"},
      {"account add", 2, "option --name is needed (see 'msgstore account add --help')\n"},
      {"ls sms outbox", 2, "unknown folder 'outbox' (folders: inbox, draft, sent, unsent,"},
      {"counters bogus 1", 2, "unknown counter 'bogus' (counters: EmsRecv, EmsRead,"},
      {"rm sms 1 x", 2, "'x' is not a message identifier (1 to 4294967295)\n"},
      {"mv sms 1", 2, "missing FOLDER after the identifiers\n"},
      {"ls sms --ids --json", 2, "--ids and --json cannot be given together"},
      {"ls sms --index", 2, "--index needs a FOLDER"},
      {"account show 1", 1, "no account 1 (see 'msgstore account ls')\n"},
  });
}

// A full inbox refuses a message, or with --auto puts it on the card; count, empty, and the
// handset's counters and language.
TEST_F(StoreCommands, AFullInboxCountEmptyAndTheHandset) {
  Oks({"card insert", "init"});
  for (int i = 0; i < 100; ++i) Ok("add sms inbox");
  Steps({{"add sms inbox", 1, "the phone inbox is full (100 messages): message refused (--auto"},
         {"add sms inbox --auto", 0,
          "message 101 stored in card inbox\nnote: the phone inbox is full (100 messages): the "
          "store put the message on the memory card\n"}});
  EXPECT_EQ(Json("count sms")["folders"]["inbox"].dump(), R"({"card":1,"phone":100,"total":101})");
  EXPECT_PRED2(Starts, Ok("empty sms inbox --yes"),
               "emptied the phone inbox: 100 messages deleted\n");
  EXPECT_EQ(Json("counters emsrecv 5")["EmsRecv"], 5);
  EXPECT_PRED2(Has, Ok("lang CHS"), "apResCHS0123.dll");
}

TEST_F(StoreCommands, CheckFindsABehindCounterAndADeadWritersFileAndFixRepairsThem) {
  Ok("init");
  // In each store a counter behind the highest identifier, alone: add refuses, check fails.
  for (const auto& [store, path] : std::vector<std::pair<std::string, std::string>>{
           {"sms", "EMS/EmsDB.ini"}, {"mms", "MMS/MMSDB.ini"}, {"email", "Email/EmailDB.ini"}}) {
    const std::string name = " " + store, file = fs::path(path).filename();
    Oks({"add " + store + " draft --text a", "add " + store + " draft --text b"});
    std::ofstream(At(path), std::ios::binary) << std::string("\1\0\0\0", 4);
    const std::string counter = "the identifier counter " + file;
    Refuses("add " + store + " draft", 1, counter + " is damaged or behind");
    Run("check" + name, 1,
        "msgstore: " + counter + " is damaged or behind the stored messages (msgstore check" +
            name + " --fix repairs it)\n");
    EXPECT_PRED2(Starts, Ok("check" + name + " --fix"), "set " + counter + " to 2\n");
  }
  fs::remove(At("EMS/DRAFT/1.sms"));
  std::ofstream(At("EMS/EmsDB.ini"), std::ios::binary) << std::string("\1\0\0\0", 4);
  EXPECT_PRED2(Has,
               Run("check sms", 1,
                   "msgstore: 1 index differs from the folders and the identifier counter "
                   "EmsDB.ini is damaged or behind the stored messages (msgstore check sms "
                   "--fix repairs them)\n"),
               "\ndraft: message 1 (draft) has a record but no file\n");
  EXPECT_PRED2(Starts, Ok("check sms --fix"),
               "rebuilt the index files of draft\nset the identifier counter EmsDB.ini to 2\n");

  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string stale = "2.sms." + std::to_string(dead) + ".0.tmp";
  const std::string live = "EmsDB.ini." + std::to_string(::getpid()) + ".7.tmp";
  std::ofstream(At("EMS/DRAFT/" + stale)) << "half";
  std::ofstream(At("EMS/" + live)) << "busy";
  EXPECT_PRED2(
      Has,
      Run("check sms", 1,
          "msgstore: 1 file left by writers that died (msgstore check sms --fix removes them)\n"),
      "\ntemp                     1 file left by writers that died\n"
      "temp: \\DiskOnChip\\User\\MESSAGING\\EMS\\DRAFT\\" +
          stale + "\n");
  EXPECT_PRED2(Starts, Ok("check --fix"), "removed 1 temporary file left by writers that died\n");
  EXPECT_FALSE(fs::exists(At("EMS/DRAFT/" + stale)));
  EXPECT_TRUE(fs::exists(At("EMS/" + live)));  // its writer still runs
  EXPECT_EQ(Tool("check").status, 0);
}

TEST_F(StoreCommands, MmsAddListAndShowWithContentFromAFile) {
  Ok("init");
  const std::string body = {'\x00', '\x01', 'M', '\xFF', '\0', '\x7F', '\x80'};
  Steps({{"add mms inbox --to +49 --subject Pic --text hi --time 2026-03-01T12:00:00Z "
          "--mms-text smil --mms-value1 4000000000 --mms-wquick2 12 --status 9",
          0, "message 1 stored in phone inbox\n"},
         {"add mms draft --body " + Save("body.bin", body), 0, "message 2 stored in phone draft\n"},
         {"ls mms inbox", 0,
          "ID  TIME                  READ  STATUS  TO   SUBJECT / TEXT\n"
          " 1  2026-03-01T12:00:00Z  no         9  +49  Pic\n"}});
  const std::string shown = Ok("show mms 1");
  EXPECT_PRED2(Has, shown,
               "\nfolder       inbox\nread         no\nstatus       9\nindex time   "
               "2026-03-01T12:00:00Z\ntime         2026-03-01T12:00:00Z\nto           +49\n");
  EXPECT_PRED2(Has, shown,
               "wuser2       0\nmms text     smil\nmms value1   4000000000\nmms value2   0\n"
               "mms wvalue1  0\nmms wvalue2  0\nmms wvalue3  0\nmms wquick1  0\nmms wquick2  12\n"
               "record       id 1, folder 1\ncontent      4 bytes, UTF-16 text:\nhi\n");
  // Content that is not text: as it was, and as a dump.
  EXPECT_EQ(Ok("show mms 2 --raw"), body);
  EXPECT_PRED2(Has, Ok("show mms 2"),
               "content      7 bytes, binary:\n00000000  00 01 4d ff 00 7f 80" +
                   std::string(29, ' ') + "|..M....|\n");
}

TEST_F(StoreCommands, EmailAccountsAndTheirInboxMessagesFromAddToRemove) {
  Ok("init");
  Steps({{"account add --name Work", 0, "account 805306371 added to folder 1\n"},
         {"add email inbox --text hi", 2,
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
