// The commands all stores share, on the SMS store and, where the stores differ, on each; the
// card, the counters, the language and watch.
#include <sys/wait.h>

#include <array>
#include <memory>
#include <regex>

#include "msgstore/msgstore.h"
#include "msgstore/platform.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

using StoreCommands = ToolTest;

// What check says of one index that differs from the folders and a counter that is damaged.
std::string Differs(const std::string& counter, const std::string& check) {
  return "msgstore: 1 index differs from the folders and the identifier counter " + counter +
         " is damaged or behind the stored messages (msgstore " + check + " --fix repairs them)\n";
}

TEST_F(StoreCommands, InitMakesTheTreesUnderTheRootItIsGiven) {
  EXPECT_EQ(Ok("ls sms inbox"), "no messages in phone inbox\n");
  Refuses("count", 1, "the message tree of the phone memory has not been made");
  EXPECT_EQ(Ok("init"), "device root " + root_ +
                            "\nmade the message tree in phone memory\nno memory card is inserted: "
                            "its tree is made by 'msgstore init' once it is\n");
  EXPECT_TRUE(fs::is_directory(At("EMS/SIM_UNSENT")));
  EXPECT_FALSE(fs::exists(root_ + "/SD Card"));
  Ok("card insert");
  EXPECT_EQ(Json("init"), json({{"phone", true}, {"card", true}, {"root", root_}}));
  EXPECT_TRUE(fs::is_directory(At("MMS/SPAM", true)));
  EXPECT_FALSE(fs::exists(At("EMS/REPORT", true)));
  std::vector<std::string> env = {"MSGSTORE_ROOT=" + root_ + "/env"};
  EXPECT_EQ(Child({"init"}, &env).Finish(), 0);
  EXPECT_EQ(Child({"--root", "", "init"}, &env).Finish(), 2);
  EXPECT_TRUE(fs::is_directory(root_ + "/env/DiskOnChip/User/MESSAGING/EMS/INBOX"));
  env = {"XDG_DATA_HOME=" + root_ + "/xdg"};
  EXPECT_EQ(Child({"init"}, &env).Finish(), 0);
  EXPECT_TRUE(fs::is_directory(root_ + "/xdg/msgstore/device/DiskOnChip/User/MESSAGING/EMS"));
}

TEST_F(StoreCommands, AddListShowMarkMoveAndRemove) {
  Ok("init");
  EXPECT_EQ(Ok("add sms inbox --to +111 --subject First --time 2026-01-01T10:00:00Z"),
            "message 1 stored in phone inbox\n");
  Oks({"add sms inbox --to +222 --text Second --time 2026-01-02T11:00:00+01:00 --read --status 3",
       "add sms inbox --text Third --time 2025-12-31"});
  EXPECT_EQ(Ok("ls sms inbox"),
            "ID  TIME                  READ  STATUS  TO    SUBJECT / TEXT\n"
            " 2  2026-01-02T10:00:00Z  yes        3  +222  Second\n"
            " 1  2026-01-01T10:00:00Z  no         0  +111  First\n"
            " 3  2025-12-31T00:00:00Z  no         0        Third\n");
  std::string shown = Ok("show sms 2");
  for (const char* line : {"\nfolder      inbox\nread        yes\nstatus      3\n",
                           "\nindex time  2026-01-02T10:00:00Z\n", "\nto          +222\n",
                           "\ncontent     12 bytes, UTF-16 text:\nSecond\n"})
    EXPECT_PRED2(Has, shown, line);
  json one = Json("show sms 2");
  EXPECT_EQ(one.at("time_ticks"), one.at("index_time_ticks"));
  // UTF-8 arguments become UTF-16, beyond the BMP as surrogate pairs, and come back.
  Ok("add sms draft --subject Grüße --text smile\xF0\x9F\x98\x80!");
  EXPECT_EQ(Ok("show sms 4 --raw"),
            std::string(reinterpret_cast<const char*>(u"smile\U0001F600!"), 16));
  one = Json("show sms 4");
  EXPECT_EQ(one.at("subject"), "Grüße");
  EXPECT_EQ(one.at("content_text"), "smile\xF0\x9F\x98\x80!");
  Steps({{"mark sms 1 --read --status 7", 0, "message 1 in phone inbox: read, status 7\n"},
         {"mv sms 1 spam", 0, "message 1 in phone inbox moved to phone spam as message 5\n"}});
  EXPECT_EQ(Json("ls sms spam")[0].at("status"), 7);
  EXPECT_EQ(Json("mark sms 5 --unread").at("read"), false);
  EXPECT_EQ(Ok("rm sms 5"), "deleted message 5 in phone spam\n");
  EXPECT_FALSE(fs::exists(At("EMS/SPAM/5.sms")));
  // Folders by name in any case, or by number.
  for (const auto& [name, folder] : std::map<std::string, std::string>{
           {"2", "draft"}, {"Sim_Inbox", "sim-inbox"}, {"12", "sim-sent"}})
    EXPECT_EQ(Json("add sms " + name + " --text x").at("folder"), folder) << name;
}

TEST_F(StoreCommands, TheCardCountersAndLanguage) {
  EXPECT_EQ(Ok("card state"), "card   not inserted\nstate  0 (absent)\nflags  0\n");
  EXPECT_EQ(Ok("card insert"), "memory card inserted\n");
  Oks({"init", "--card add sms draft --text kept"});
  EXPECT_TRUE(fs::exists(At("EMS/DRAFT/1.sms", true)));
  Steps({{"show sms 1", 1, "no message 1 in phone memory (it is on the memory card"},
         {"card state 2", 0,
          "card   inserted\nstate  3 (present, cannot take messages now)\n"
          "flags  2 (cannot take a message now)\n"},
         {"--card add sms draft --text x", 1, "the memory card cannot take messages now"}});
  EXPECT_EQ(Json("card state 0"),
            json::parse(R"({"inserted":true,"state":1,"flags":0,"can_take_messages":true})"));
  Steps({{"--card mv sms 1 report", 1, "folder report does not exist on the memory card\n"},
         {"--card mv sms 1 sent", 0, "message 1 in card draft moved to card sent as message 2\n"},
         {"card eject", 0,
          "memory card ejected (its messages come back with 'msgstore card insert')\n"},
         {"--card ls sms sent", 1, "no memory card is inserted (see 'msgstore card insert')\n"}});

  Oks({"add sms draft --text x", "mv sms 3 inbox", "mark sms 4 --read"});
  EXPECT_EQ(Ok("counters sentinsim 4"),
            "COUNTER      VALUE  MEANING\nEmsRecv          1  received messages, phone inbox\n"
            "EmsRead          1  read messages, phone inbox\nEms_SDRecv       0  received "
            "messages, card inbox\nEms_SDRead       0  read messages, card inbox\nSentInSim     "
            "   4  sent messages on the SIM card\nUnsentInSim      0  unsent messages on the SIM "
            "card\n");
  Refuses("counters EmsRecv -1", 2, "counter value '-1' is not a number from 0 to 4294967295");
  EXPECT_EQ(Ok("lang"), "language         ENG\nresource module  apResENG0123.dll\n");
  Ok("lang CHS");
  EXPECT_EQ(Json("lang").at("resource_module"), "apResCHS0123.dll");
}

TEST_F(StoreCommands, FullFoldersRefuseGoToTheCardWithAutoOrEvictTheOldest) {
  Oks({"card insert", "init"});
  // Written through the library in this process: quicker than the tool.
  msgstore::SetDeviceRoot(root_);
  for (DWORD folder : {EMS_FOLDER_INBOX, EMS_FOLDER_DRAFT})
    for (DWORD i = 0; i < 100; ++i) {
      tagMSGPROPS props = {};
      props.dwFolder = folder;
      props.ftIndexTime = props.ftTime = {1000 + i, 0x01D00000u};
      ASSERT_NE(EMSMsgStore_WriteMessage(false, &props, 0, nullptr), 0u);
    }
  const std::string full = "the phone inbox is full (100 messages)";
  Steps({{"add sms inbox --text x", 1,
          full + ": message refused (--auto lets the store put it on the other storage)\n"},
         {"add sms inbox --text x --auto", 0,
          "message 201 stored in card inbox\nnote: " + full +
              ": the store put the message on the memory card\n"},
         {"add sms draft --text new", 0,
          "message 202 stored in phone draft\nnote: the phone draft was full (100 messages): the "
          "store removed its oldest message 101\n"},
         {"card eject", 0,
          "memory card ejected (its messages come back with 'msgstore card insert')\n"},
         {"add sms inbox --text z --auto", 1,
          full + " and no memory card is inserted: message not stored\n"}});
  EXPECT_FALSE(fs::exists(At("EMS/DRAFT/101.sms")));
}

TEST_F(StoreCommands, CountAndEmptyCoverBothStorages) {
  Oks({"card insert", "init", "add sms inbox --text a", "add sms inbox --text b --read",
       "add sms inbox --text c --card", "add sms sim-inbox --text d",
       "add sms spam --text e --card"});
  EXPECT_EQ(Ok("count"),
            "FOLDER           PHONE  CARD  TOTAL\n"
            "inbox                2     1      3\n"
            "draft                0     0      0\n"
            "sent                 0     0      0\n"
            "unsent               0     0      0\n"
            "report               0     -      0\n"
            "spam                 0     1      1\n"
            "sim-inbox            1     -      1\n"
            "sim-sent             0     -      0\n"
            "sim-unsent           0     -      0\n"
            "none                 0     -      0\n"
            "sim folders          1     -      1\n"
            "unread in inbox      1     1      2\n");
  fs::create_directory(At("EMS/INBOX/9.sms"));
  Refuses("empty sms inbox", 1, "the phone inbox cannot be emptied: 9.sms is not a file");
  fs::remove(At("EMS/INBOX/9.sms"));
  Steps({{"empty sms inbox", 0,
          "emptied the phone inbox: 2 messages deleted\nnote: the index keeps its records until "
          "'msgstore refresh' (or until the messages are looked up)\n"},
         {"--card empty sms spam", 0, "emptied the card spam: 1 message deleted\n"}});
  EXPECT_EQ(Json("count").at("folders").at("inbox"),
            json({{"phone", 0}, {"card", 1}, {"total", 1}}));
}

TEST_F(StoreCommands, CheckFindsIndexAndCounterProblemsOfEachStoreAndFixRepairsThem) {
  Ok("init");
  for (const auto& [store, dir, counter] :
       std::vector<std::array<std::string, 3>>{{"sms", "EMS/", "EmsDB.ini"},
                                               {"mms", "MMS/", "MMSDB.ini"},
                                               {"email", "Email/", "EmailDB.ini"}}) {
    SCOPED_TRACE(store);
    const std::string check = store == "sms" ? "check" : "check " + store;
    for (const char* text : {"a", "b", "c"}) Ok("add " + store + " draft --text " + text);
    fs::remove(At(dir + "DRAFT/1." + store));
    std::ofstream(At(dir + counter), std::ios::binary) << std::string("\x02\0\0\0", 4);
    std::string out = Run(check, 1, Differs(counter, check));
    EXPECT_PRED2(Has, out, "\ndraft: message 1 (draft) has a record but no file\n");
    EXPECT_PRED2(Has, out, "  behind: last identifier 2, highest identifier in use 3\n");
    EXPECT_PRED2(
        Starts, Ok(check + " --fix"),
        "rebuilt the index files of draft\nset the identifier counter " + counter + " to 3\n");
    EXPECT_EQ(Device().at(At(dir + counter)), std::string("\x03\0\0\0", 4));
    EXPECT_EQ(Tool(check).status, 0);
  }
  // A file of the SIM's sent folder without its record in the sent index.
  Ok("add sms sim-sent --text s");
  msgstore::SetDeviceRoot(root_);
  EMSMsgStore_DeleteMsgFromIni(4, EMS_FOLDER_SIM_SENT);
  EXPECT_PRED2(Has,
               Run("check", 1,
                   "msgstore: 1 index differs from the folders (msgstore check --fix "
                   "rebuilds them)\n"),
               "\nsent         1        0  1 problem\nunsent       0        0  ok\nreport       "
               "0        0  ok\nspam         0        0  ok\ncounter                  ok: last "
               "identifier 4, highest identifier in use 4\nsent: message 4 (sim-sent) has a "
               "file but no record\n");
  EXPECT_EQ(Ok("refresh"),
            "rebuilt the phone index files of inbox, sent and unsent (draft, report and spam only "
            "where missing; --all rebuilds them too)\n");
  EXPECT_EQ(Tool("check").status, 0);
}

TEST_F(StoreCommands, CheckReportsTemporaryFilesOfDeadWritersAndFixRemovesThem) {
  Oks({"init", "add sms draft --text kept"});
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string stale = "1.sms." + std::to_string(dead) + ".0.tmp";
  const std::string live = "EmsDB.ini." + std::to_string(::getpid()) + ".7.tmp";
  std::ofstream(At("EMS/DRAFT/" + stale)) << "half";
  std::ofstream(At("EMS/" + live)) << "busy";
  EXPECT_PRED2(
      Has,
      Run("check", 1,
          "msgstore: 1 file left by writers that died (msgstore check --fix removes them)\n"),
      "\ntemp                     1 file left by writers that died\n"
      "temp: \\DiskOnChip\\User\\MESSAGING\\EMS\\DRAFT\\" +
          stale + "\n");
  EXPECT_PRED2(Starts, Ok("check --fix"), "removed 1 temporary file left by writers that died\n");
  EXPECT_FALSE(fs::exists(At("EMS/DRAFT/" + stale)));
  EXPECT_TRUE(fs::exists(At("EMS/" + live)));  // its writer still runs
  EXPECT_EQ(Tool("check").status, 0);
}

TEST_F(StoreCommands, FailuresAreOneLineAndChangeNothing) {
  Oks({"init", "add sms inbox --text fine"});
  fs::remove(At("EMS/REPORT"));
  std::ofstream(At("EMS/REPORT")) << "";
  const std::string noDir = "the phone report folder is damaged (not a directory)\n";
  Steps({
      {"", 2, "no command given: init, card, counters, lang, ls, show, add, mark, mv, rm,"},
      {"frobnicate", 2, "unknown command 'frobnicate' (see 'msgstore --help')\n"},
      {"ls", 2, "'ls' needs a command: sms, mms, email (see 'msgstore ls --help')\n"},
      {"count bogus", 2, "unknown store 'bogus' (stores: sms, mms, email)\n"},
      {"show sms 0", 2, "'0' is not a message identifier (1 to 4294967295)\n"},
      {"mark sms 1", 2, "nothing to change: give --read, --unread or --status N\n"},
      {"add sms inbox --time 2026-02-30T00:00:00Z", 2, "--time '2026-02-30T00:00:00Z' is not"},
      {"lang E.N.G", 2, "language 'E.N.G' must be 1 to 16 letters, digits, '_' or '-' (like"},
      {"mv sms 1 outbox", 1, "unknown folder 'outbox' (folders: inbox, draft, sent, unsent,"},
      {"ls sms sim-inbox --index", 1, "folder sim-inbox has no index of its own (its"},
      {"show sms 42", 1, "no message 42 in phone memory\n"},
      {"add sms report", 1, noDir},
      {"init", 1, noDir},
  });
}

TEST_F(StoreCommands, ADamagedMessageIsReportedByEachStoreAndCanBeRemoved) {
  Oks({"init", "account add --folder 1 --text Work"});
  for (const auto& [store, file, counter, index] : std::vector<std::array<std::string, 4>>{
           {"sms", "EMS/INBOX/7.sms", "EmsDB.ini", "inbox"},
           {"mms", "MMS/INBOX/7.mms", "MMSDB.ini", "inbox"},
           {"email", "Email/INBOX/805306371_7.email", "EmailDB.ini", "inbox 805306371"}}) {
    SCOPED_TRACE(store);
    const std::string check = store == "sms" ? "check" : "check " + store;
    Ok("add " + store + " inbox --text fine" + (store == "email" ? " --account 805306371" : ""));
    std::ofstream(At(file), std::ios::binary) << "junk";
    const std::string damaged = "message 7 in phone inbox cannot be read (damaged file)";
    Refuses("show " + store + " 7", 1, damaged + "\n");
    Refuses("add " + store + " draft", 1,
            "the identifier counter " + counter +
                " is damaged or behind the stored messages (highest identifier in use 7)");
    auto before = Device();
    EXPECT_PRED2(Has, Run("ls " + store + " inbox", 0, "msgstore: warning: " + damaged + "\n"),
                 "\n 7  ");
    Run("export " + store, 1,
        "msgstore: warning: " + damaged +
            ": left out\nmsgstore: 1 of 2 messages could not be read and are missing from the "
            "export\n");
    EXPECT_PRED2(Has, Run(check, 1, Differs(counter, check)),
                 "\n" + index + ": message 7 (inbox) cannot be read (damaged file)\n");
    EXPECT_EQ(Device(), before);
    EXPECT_EQ(Ok("rm " + store + " 7"), "deleted message 7 in phone inbox\n");
  }
}

TEST_F(StoreCommands, WatchPrintsTheNoticesOfOtherProcesses) {
  Ok("init");
  auto start = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_});
    auto watch = std::make_unique<Child>(args);
    EXPECT_TRUE(Child::Until([&] { return Has(watch->err(), "stops)\n"); })) << watch->err();
    return watch;
  };
  auto watch = start({"watch"});
  EXPECT_EQ(watch->err(),
            "watching WCE_APSHELL and WCE_CVMESSAGEEXEC on " + root_ + " (Ctrl-C stops)\n");
  Refuses("watch", 1, "cannot register the window WCE_APSHELL: another process has it\n");
  Oks({"empty sms draft", "empty sms inbox", "empty mms inbox"});  // the draft sends no notice
  msgstore::SetDeviceRoot(root_);
  msgstore::DefaultPlatform platform;
  HWND app = platform.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr);
  ASSERT_NE(platform.PostMessageW(app, 0x19A1, 17, 0x03030001), 0);
  ASSERT_TRUE(Child::Until([&] { return Lines(watch->out()).size() == 3; })) << watch->out();
  EXPECT_TRUE(std::regex_match(
      watch->out(),
      std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ WCE_APSHELL 0x0C44 \\(inbox "
                 "emptied\\) wParam=0 lParam=0 \\(EMS\\)\n"
                 "\\S+Z WCE_APSHELL 0x0C44 \\(inbox emptied\\) wParam=0 lParam=1 \\(MMS\\)\n"
                 "\\S+Z WCE_CVMESSAGEEXEC 0x19A1 \\(e-mail draft event\\) wParam=17 "
                 "lParam=50528257 \\(memory card, message 17 removed to make room\\)\n")))
      << watch->out();
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 0);

  watch = start({"--json", "watch"});
  Ok("empty sms inbox");
  ASSERT_TRUE(Child::Until([&] { return Has(watch->out(), "\n"); }));
  EXPECT_EQ(json::parse(watch->out()).at("message"), 0xC44);
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Finish(), 0);
}

}  // namespace
}  // namespace tool_test
