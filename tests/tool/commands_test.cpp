// The commands all stores share, on the SMS store: failures, a full folder and the handset,
// and check with its repairs (mark, mv and rm of several messages: conventions_test.cpp).
#include <sys/wait.h>

#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

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
  std::string out = Run("check sms", 1,
                        "msgstore: 1 index differs from the folders and the identifier counter "
                        "EmsDB.ini is damaged or behind the stored messages (msgstore check sms "
                        "--fix repairs them)\n");
  EXPECT_PRED2(Has, out, "\ndraft: message 1 (draft) has a record but no file\n");
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

}  // namespace
}  // namespace tool_test
