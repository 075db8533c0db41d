// The tool run as a user runs it: every command on fresh, full and damaged devices, and watch
// receiving the notices of other processes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
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

class StoreCommands : public ToolTest {
 protected:
  // Writes messages through the library in this process.
  void Fill(DWORD folder, int n, std::string content = "") {
    msgstore::SetDeviceRoot(root_);
    for (int i = 0; i < n; ++i) {
      tagMSGPROPS props = {};
      props.dwFolder = folder;
      props.ftIndexTime = props.ftTime = {static_cast<DWORD>(1000 + i), 0x01D00000u};
      props.pData = reinterpret_cast<BYTE*>(&content[0]);
      props.cbData = static_cast<DWORD>(content.size());
      ASSERT_NE(EMSMsgStore_WriteMessage(false, &props, 0, nullptr), 0u) << i;
    }
  }
};

TEST_F(StoreCommands, InitMakesThePhoneTreeAndTheCardTreeOnlyWhenInserted) {
  EXPECT_EQ(Fails("add sms inbox --text x", 1),
            "msgstore: the message tree of the phone memory has not been made (run 'msgstore "
            "init')\n");
  EXPECT_EQ(Fails("add sms inbox --status abc", 2),
            "msgstore: --status 'abc' is not a number from 0 to 65535\n");
  EXPECT_EQ(Fails("count", 1),
            "msgstore: the message tree of the phone memory has not been made (run 'msgstore "
            "init')\n");
  EXPECT_EQ(Ok("ls sms inbox"), "no messages in phone inbox\n");
  EXPECT_EQ(Ok("init"), "device root " + root_ +
                            "\nmade the message tree in phone memory\n"
                            "no memory card is inserted: its tree is made by 'msgstore init' "
                            "once it is\n");
  for (const char* dir : {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "NONE", "SIM_INBOX",
                          "SIM_SENT", "SIM_UNSENT"})
    EXPECT_TRUE(fs::is_directory(Ems(dir))) << dir;
  EXPECT_FALSE(fs::exists(root_ + "/SD Card"));

  Ok("card insert");
  EXPECT_EQ(Json("init"), json({{"phone", true}, {"card", true}, {"root", root_}}));
  for (const char* dir : {"INBOX", "DRAFT", "SENT", "UNSENT", "SPAM"})
    EXPECT_TRUE(fs::is_directory(Ems(dir, true))) << dir;
  EXPECT_FALSE(fs::exists(Ems("REPORT", true)));
  EXPECT_FALSE(fs::exists(Ems("NONE", true)));
}

TEST_F(StoreCommands, RootComesFromTheEnvironmentWhenNotGiven) {
  std::vector<std::string> env = {"MSGSTORE_ROOT=" + root_ + "/env"};
  EXPECT_EQ(Child({"init"}, &env).Finish(), 0);
  EXPECT_EQ(Child({"--root", "", "init"}, &env).Finish(), 2);
  EXPECT_TRUE(fs::is_directory(root_ + "/env/DiskOnChip/User/MESSAGING/EMS/INBOX"));
  env = {"XDG_DATA_HOME=" + root_ + "/xdg"};
  EXPECT_EQ(Child({"init"}, &env).Finish(), 0);
  EXPECT_TRUE(fs::is_directory(root_ + "/xdg/msgstore/device/DiskOnChip/User/MESSAGING/EMS"));
}

TEST_F(StoreCommands, AddListsNewestFirstAndShowsEveryField) {
  Ok("init");
  EXPECT_EQ(Ok("add sms inbox --to +111 --subject First --time 2026-01-01T10:00:00Z"),
            "message 1 stored in phone inbox\n");
  Ok("add sms inbox --to +222 --text Second --time 2026-01-02T11:00:00+01:00 --read "
     "--status 3");
  Ok("add sms inbox --text Third --time 2025-12-31");
  EXPECT_EQ(Ok("ls sms inbox"),
            "ID  TIME                  READ  STATUS  TO    SUBJECT / TEXT\n"
            " 2  2026-01-02T10:00:00Z  yes        3  +222  Second\n"
            " 1  2026-01-01T10:00:00Z  no         0  +111  First\n"
            " 3  2025-12-31T00:00:00Z  no         0        Third\n");

  std::string shown = Ok("show sms 2");
  for (const char* line :
       {"id          2\n", "storage     phone memory\n", "folder      inbox\n", "read        yes\n",
        "status      3\n", "index time  2026-01-02T10:00:00Z\n", "to          +222\n",
        "content     12 bytes, UTF-16 text:\nSecond\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << "\nin\n" << shown;
  json one = Json("show sms 2");
  EXPECT_EQ(one.at("time_ticks"), one.at("index_time_ticks"));
  EXPECT_EQ(one.at("content_text"), "Second");
  EXPECT_EQ(Base64Decode(one.at("content_base64")), Utf16Le(u"Second"));
  EXPECT_EQ(Ok("show sms 2 --raw"), Utf16Le(u"Second"));

  Ok("add sms draft --subject Grüße --text smile\xF0\x9F\x98\x80!");
  EXPECT_EQ(Ok("show sms 4 --raw"), Utf16Le(u"smile\U0001F600!"));
  one = Json("show sms 4");
  EXPECT_EQ(one.at("subject"), "Grüße");
  EXPECT_EQ(one.at("content_text"), "smile\xF0\x9F\x98\x80!");

  const std::string data = {'\x01', '\x02', 'A', '\xFF', '\0'};
  Fill(EMS_FOLDER_SENT, 1, data);
  EXPECT_NE(Ok("show sms 5")
                .find("content     5 bytes, binary:\n00000000  01 02 41 ff 00    "
                      "                               |..A..|\n"),
            std::string::npos);
  one = Json("show sms 5");
  EXPECT_FALSE(one.contains("content_text"));
  EXPECT_EQ(Base64Decode(one.at("content_base64")), data);
}

TEST_F(StoreCommands, FolderNamesAndNumbers) {
  Ok("init");
  std::vector<std::string> names = {"INBOX", "2", "Sim_Inbox", "7",
                                    "none",  "8", "12",        "SIM-UNSENT"};
  std::vector<std::string> folders = {"inbox", "draft", "sim-inbox", "sim-inbox",
                                      "none",  "none",  "sim-sent",  "sim-unsent"};
  for (size_t i = 0; i < names.size(); ++i) {
    Ok("add sms " + names[i] + " --text x");
    EXPECT_EQ(Json("ls sms " + names[i])[0].at("folder"), folders[i]) << names[i];
  }
}

TEST_F(StoreCommands, FullFoldersRefuseGoToTheCardWithAutoOrEvictTheOldest) {
  Ok("card insert");
  Ok("init");
  Fill(EMS_FOLDER_INBOX, 100);
  Fill(EMS_FOLDER_DRAFT, 100);
  auto before = Device();
  EXPECT_EQ(Fails("add sms inbox --text x", 1),
            "msgstore: the phone inbox is full (100 messages): message refused (--auto lets the "
            "store put it on the other storage)\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("add sms inbox --text x --auto"),
            "message 201 stored in card inbox\n"
            "note: the phone inbox is full (100 messages): the store put the message on the "
            "memory card\n");
  EXPECT_EQ(Json("add sms inbox --text y --auto").at("chosen_by_store"), true);
  EXPECT_EQ(Json("--card ls sms inbox").size(), 2u);

  EXPECT_EQ(Ok("add sms draft --text new"),
            "message 203 stored in phone draft\n"
            "note: the phone draft was full (100 messages): the store removed its oldest "
            "message 101\n");
  EXPECT_FALSE(fs::exists(Ems("DRAFT/101.sms")));
  EXPECT_EQ(Json("ls sms draft").size(), 100u);

  Ok("card eject");
  before = Device();
  EXPECT_EQ(Fails("add sms inbox --text z --auto", 1),
            "msgstore: the phone inbox is full (100 messages) and no memory card is inserted: "
            "message not stored\n");
  EXPECT_EQ(Device(), before);
}

TEST_F(StoreCommands, MarkMoveAndRemoveWorkByIdentifier) {
  Ok("init");
  Ok("add sms inbox --text hello");
  EXPECT_EQ(Ok("mark sms 1 --read --status 7"), "message 1 in phone inbox: read, status 7\n");
  EXPECT_EQ(Json("mark sms 1 --unread").at("read"), false);

  EXPECT_EQ(Ok("mv sms 1 spam"), "message 1 in phone inbox moved to phone spam as message 2\n");
  EXPECT_EQ(Ok("ls sms inbox"), "no messages in phone inbox\n");
  json spam = Json("ls sms spam");
  ASSERT_EQ(spam.size(), 1u);
  EXPECT_EQ(spam[0].at("id"), 2);
  EXPECT_EQ(spam[0].at("status"), 7);
  EXPECT_EQ(spam[0].at("summary"), "hello");

  EXPECT_EQ(Ok("rm sms 2"), "deleted message 2 in phone spam\n");
  EXPECT_FALSE(fs::exists(Ems("SPAM/2.sms")));
  EXPECT_EQ(Fails("rm sms 2", 1), "msgstore: no message 2 in phone memory\n");
}

TEST_F(StoreCommands, CardInsertEjectStateAndCardMessages) {
  EXPECT_EQ(Ok("card state"), "card   not inserted\nstate  0 (absent)\nflags  0\n");
  EXPECT_EQ(Ok("card insert"), "memory card inserted\n");
  EXPECT_EQ(Fails("card insert", 1), "msgstore: the memory card is already inserted\n");
  Ok("init");
  Ok("--card add sms draft --text kept");
  EXPECT_TRUE(fs::exists(Ems("DRAFT/1.sms", true)));
  EXPECT_EQ(Fails("show sms 1", 1),
            "msgstore: no message 1 in phone memory (it is on the memory card: add --card)\n");
  EXPECT_EQ(Ok("card state 2"),
            "card   inserted\n"
            "state  3 (present, cannot take messages now)\n"
            "flags  2 (cannot take a message now)\n");
  EXPECT_EQ(Fails("--card add sms draft --text x", 1),
            "msgstore: the memory card cannot take messages now (card state 3)\n");
  EXPECT_EQ(Json("card state 0"),
            json::parse(R"({"inserted":true,"state":1,"flags":0,"can_take_messages":true})"));
  Ok("card eject");
  EXPECT_EQ(Json("card state").at("inserted"), false);
  Ok("card insert");
  auto before = Device();
  for (std::string folder : {"report", "none"})
    EXPECT_EQ(Fails("--card mv sms 1 " + folder, 1),
              "msgstore: folder " + folder + " does not exist on the memory card\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("--card mv sms 1 sent"),
            "message 1 in card draft moved to card sent as message 2\n");
  json sent = Json("--card show sms 2");
  EXPECT_EQ(sent.at("folder"), "sent");
  EXPECT_EQ(sent.at("content_text"), "kept");
}

TEST_F(StoreCommands, CountExportAndEmptyOverBothStorages) {
  Ok("card insert");
  Ok("init");
  for (const char* add : {"inbox --text a", "inbox --text b --read", "inbox --text c --card",
                          "sim-inbox --text d", "spam --text e --card"})
    Ok(std::string("add sms ") + add);
  std::set<std::string> seen;
  for (const auto& line : Lines(Ok("export sms"))) {
    json j = json::parse(line);
    if (!j.contains("type") || j.at("type") != "message") continue;
    std::string text = Base64Decode(j.at("content_base64"));
    EXPECT_EQ(text.size(), j.at("content_size").get<size_t>());
    seen.insert(j.at("storage").get<std::string>() + " " + j.at("folder").get<std::string>() + " " +
                text);
    // Beside the fields of show: type, store and index_position.
    EXPECT_EQ(j.size(), Json("show sms 1").size() + 3) << line;
  }
  EXPECT_EQ(seen, (std::set<std::string>{
                      "phone inbox " + Utf16Le(u"a"), "phone inbox " + Utf16Le(u"b"),
                      "card inbox " + Utf16Le(u"c"), "phone sim-inbox " + Utf16Le(u"d"),
                      "card spam " + Utf16Le(u"e")}));

  json c = Json("count");
  EXPECT_EQ(c.at("folders").at("inbox"), json({{"phone", 2}, {"card", 1}, {"total", 3}}));
  EXPECT_EQ(c.at("folders").at("sim-inbox"), json({{"phone", 1}, {"total", 1}}));
  EXPECT_EQ(c.at("unread_inbox"), json({{"phone", 1}, {"card", 1}}));
  std::vector<std::string> table = Lines(Ok("count"));
  EXPECT_EQ(table.at(0), "FOLDER           PHONE  CARD  TOTAL");
  EXPECT_EQ(table.at(1), "inbox                2     1      3");
  EXPECT_EQ(table.at(5), "report               0     -      0");

  fs::create_directory(Ems("INBOX/9.sms"));
  EXPECT_EQ(Fails("empty sms inbox", 1),
            "msgstore: the phone inbox cannot be emptied: 9.sms is not a file (nothing deleted)\n");
  fs::remove(Ems("INBOX/9.sms"));
  EXPECT_EQ(Ok("empty sms inbox"),
            "emptied the phone inbox: 2 messages deleted\n"
            "note: the index keeps its records until 'msgstore refresh' (or until the messages "
            "are looked up)\n");
  EXPECT_EQ(Ok("--card empty sms spam"), "emptied the card spam: 1 message deleted\n");
  c = Json("count");
  EXPECT_EQ(c.at("folders").at("inbox"), json({{"phone", 0}, {"card", 1}, {"total", 1}}));
  EXPECT_EQ(c.at("folders").at("spam").at("card"), 0);
}

TEST_F(StoreCommands, CheckFindsIndexProblemsAndFixRepairsThem) {
  Ok("init");
  for (const char* add : {"inbox --text a --time 2026-01-01T00:00:00Z", "draft --text b",
                          "sent --text old --time 2026-01-01T00:00:00Z",
                          "sent --text new --time 2026-01-02T00:00:00Z", "sim-sent --text c"})
    Ok(std::string("add sms ") + add);
  EXPECT_EQ(Ok("check"),
            "INDEX    FILES  RECORDS  STATE\n"
            "inbox        1        1  ok\n"
            "draft        1        1  ok\n"
            "sent         3        3  ok\n"
            "unsent       0        0  ok\n"
            "report       0        0  ok\n"
            "spam         0        0  ok\n"
            "counter                  ok: last identifier 5, highest identifier in use 5\n");
  std::ofstream(Ems("EmsDB.ini"), std::ios::binary) << std::string("\x02\0\0\0", 4);
  EXPECT_NE(Run("check", 1,
                "msgstore: the identifier counter EmsDB.ini is damaged or behind the stored "
                "messages (msgstore check --fix repairs it)\n")
                .find("\ncounter                  behind: last identifier 2, highest identifier in "
                      "use 5\n"),
            std::string::npos);
  EXPECT_EQ(Ok("check --fix").rfind("set the identifier counter EmsDB.ini to 5\n", 0), 0u);
  EXPECT_EQ(Device().at(Ems("EmsDB.ini")), std::string("\x05\0\0\0", 4));
  fs::remove(Ems("INBOX/1.sms"));
  fs::remove(Ems("DRAFT/2.sms"));
  msgstore::SetDeviceRoot(root_);
  EMSMsgStore_DeleteMsgFromIni(3, EMS_FOLDER_SENT);
  EMSMsgStore_AddMsgToIni(3, EMS_FOLDER_SENT, {0, 0x7FFFFFFFu});
  EMSMsgStore_DeleteMsgFromIni(5, EMS_FOLDER_SIM_SENT);
  std::string out =
      Run("check", 1,
          "msgstore: 3 indexes differ from the folders (msgstore check --fix rebuilds them)\n");
  for (const char* line :
       {"inbox        0        1  1 problem\n",
        "inbox: message 1 (inbox) has a record but no file\n",
        "draft: message 2 (draft) has a record but no file\n",
        "sent: message 4 (sent) (2026-01-02T00:00:00Z) is listed after the older message 3 (sent) "
        "(2026-01-01T00:00:00Z)\n",
        "sent: message 5 (sim-sent) has a file but no record\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;

  Ok("refresh");
  json j = json::parse(Tool("--json check").out);
  EXPECT_EQ(j.at("indexes")[0].at("problems").size(), 0u);
  EXPECT_EQ(j.at("indexes")[1].at("problems")[0].at("problem"), "record_without_file");
  EXPECT_EQ(Ok("check --fix").rfind("rebuilt the index files of draft\n", 0), 0u);
  EXPECT_EQ(Ok("check").find("problem"), std::string::npos);
  json index = Json("ls sms sent --index");
  ASSERT_EQ(index.size(), 3u);
  EXPECT_EQ(index[1].at("id"), 4);
  EXPECT_EQ(index[2].at("id"), 3);

  Ok("add sms draft --text d");
  fs::remove(Ems("DRAFT/6.sms"));
  EXPECT_EQ(Tool("check").status, 1);
  EXPECT_EQ(Ok("refresh --all"), "rebuilt every phone index file\n");
  EXPECT_EQ(Ok("check").find("problem"), std::string::npos);
}

TEST_F(StoreCommands, CheckReportsTemporaryFilesOfDeadWritersAndFixRemovesThem) {
  Ok("init");
  Ok("add sms draft --text kept");
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string stale = "DRAFT/1.sms." + std::to_string(dead) + ".0.tmp";
  const std::string live = "EmsDB.ini." + std::to_string(::getpid()) + ".7.tmp";
  std::ofstream(Ems(stale)) << "half";
  std::ofstream(Ems(live)) << "busy";
  std::string out = Run("check", 1,
                        "msgstore: 1 file left by writers that died (msgstore check --fix removes "
                        "them)\n");
  EXPECT_NE(out.find("\ntemp                     1 file left by writers that died\ntemp: "
                     "\\DiskOnChip\\User\\MESSAGING\\EMS\\" +
                     stale.substr(0, 5) + "\\" + stale.substr(6) + "\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(json::parse(Tool("--json check").out).at("temporary_files").size(), 1u);
  EXPECT_EQ(Ok("check --fix").rfind("removed 1 temporary file left by writers that died\n", 0), 0u);
  EXPECT_FALSE(fs::exists(Ems(stale)));
  EXPECT_TRUE(fs::exists(Ems(live)));  // its writer still runs
  EXPECT_EQ(Ok("check").find("temp"), std::string::npos);
}

TEST_F(StoreCommands, FailuresAreOneLineAndChangeNothing) {
  Ok("init");
  Ok("add sms inbox --text fine --time 2026-01-01T00:00:00Z");
  std::ofstream(Ems("INBOX/7.sms"), std::ios::binary) << "junk";
  fs::remove(Ems("REPORT"));
  std::ofstream(Ems("REPORT")) << "";
  auto before = Device();
  struct Case {
    const char* cmd;
    int status;
    std::string err;  // the start of the line
  };
  const std::string folders = "' (folders: inbox, draft, sent, unsent, report, spam, sim-inbox,";
  const std::string noCard = "no memory card is inserted (see 'msgstore card insert')\n";
  const std::string damaged = "message 7 in phone inbox cannot be read (damaged file)";
  const std::string noDir = "the phone report folder is damaged (not a directory)\n";
  for (const Case& c : std::vector<Case>{
           {"", 2, "no command given: init, card, counters, lang, ls, show, add, mark, mv, rm,"},
           {"frobnicate", 2, "unknown command 'frobnicate' (see 'msgstore --help')\n"},
           {"ls", 2, "'ls' needs a command: sms, mms, email (see 'msgstore ls --help')\n"},
           {"card pull", 2, "unknown command 'pull' for 'card' (see 'msgstore card --help')\n"},
           {"ls sms", 2, "FOLDER is required (see 'msgstore ls sms --help')\n"},
           {"ls sms inbox --bogus", 2, "The following argument was not expected: --bogus (see"},
           {"show sms abc", 2, "'abc' is not a message identifier (1 to 4294967295)\n"},
           {"show sms 0", 2, "'0' is not a message identifier (1 to 4294967295)\n"},
           {"mark sms 1", 2, "nothing to change: give --read, --unread or --status N\n"},
           {"mark sms 1 --read --unread", 2, "--read excludes --unread (see 'msgstore mark sms"},
           {"mark sms 1 --status 70000", 2, "--status '70000' is not a number from 0 to 65535\n"},
           {"add sms inbox --time 2026-02-30T00:00:00Z", 2, "--time '2026-02-30T00:00:00Z' is not"},
           {"card state 1", 2, "card flags '1' must be 0, 2, 4 or 6 (2 and 4: the card cannot"},
           {"lang E.N.G", 2, "language 'E.N.G' must be 1 to 16 letters, digits, '_' or '-' (like"},
           {"counters EmsRecv -1", 2, "counter value '-1' is not a number from 0 to 4294967295\n"},
           {"counters Bogus 1", 1, "unknown counter 'Bogus' (counters: EmsRecv, EmsRead, Ems_SD"},
           {"ls sms outbox", 1, "unknown folder 'outbox" + folders},
           {"mv sms 1 9", 1, "unknown folder '9" + folders},
           {"ls sms sim-inbox --index", 1, "folder sim-inbox has no index of its own (its"},
           {"show sms 42", 1, "no message 42 in phone memory\n"},
           {"card eject", 1, noCard},
           {"--card ls sms inbox", 1, noCard},
           {"--card add sms inbox --text x", 1, noCard},
           {"--card rm sms 1", 1, noCard},
           {"show sms 7", 1, damaged + "\n"},
           {"mv sms 7 spam", 1, damaged + "\n"},
           {"add sms draft", 1,
            "the identifier counter EmsDB.ini is damaged or behind the stored "
            "messages (highest identifier in use 7); 'msgstore check --fix'"},
           {"add sms report", 1, noDir},
           {"ls sms report", 1, noDir},
           {"empty sms report", 1, noDir},
           {"init", 1, noDir},
       })
    EXPECT_EQ(Fails(c.cmd, c.status).rfind("msgstore: " + c.err, 0), 0u) << c.cmd;
  EXPECT_EQ(Device(), before);

  EXPECT_EQ(Run("ls sms inbox", 0, "msgstore: warning: " + damaged + "\n"),
            "ID  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 1  2026-01-01T00:00:00Z  no         0      fine\n"
            " 7  -                     -          -  -   (damaged: cannot be read)\n");
  const std::string exportErr = "msgstore: warning: " + damaged +
                                ": left out\nmsgstore: 1 of 2 messages could not be read and are "
                                "missing from the export\n";
  // The first line, the counter and message 1.
  EXPECT_EQ(Lines(Run("export sms", 1, exportErr)).size(), 3u);
  std::string check = Run("check", 1,
                          "msgstore: 1 index differs from the folders and the identifier counter "
                          "EmsDB.ini is damaged or behind the stored messages (msgstore check "
                          "--fix repairs them)\n");
  EXPECT_NE(check.find("inbox: message 7 (inbox) cannot be read (damaged file)\n"),
            std::string::npos);
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("rm sms 7"), "deleted message 7 in phone inbox\n");
  EXPECT_EQ(Tool("check").status, 0);
}

class DeviceCommands : public ToolTest {};

TEST_F(DeviceCommands, HelpExitsZeroOnEveryLevel) {
  for (const char* cmd : {"--help", "ls sms --help", "card --help", "check --help"})
    EXPECT_NE(Ok(cmd).find("\nUsage: msgstore "), std::string::npos) << cmd;
  EXPECT_NE(Ok("add sms --help").find("--auto"), std::string::npos);
  EXPECT_NE(Ok("ls sms --help").find("\n  --card  "), std::string::npos);
}

TEST_F(DeviceCommands, CountersAndLanguage) {
  Ok("init");
  Ok("add sms draft --text x");
  Ok("mv sms 1 inbox");
  Ok("mark sms 2 --read");
  Ok("counters sentinsim 4");
  EXPECT_EQ(Json("counters"), json::parse(R"({"EmsRecv":1,"EmsRead":1,"Ems_SDRecv":0,"Ems_SDRead":0,
                            "SentInSim":4,"UnsentInSim":0})"));
  std::vector<std::string> table = Lines(Ok("counters"));
  EXPECT_EQ(table.at(0), "COUNTER      VALUE  MEANING");
  EXPECT_EQ(table.at(5), "SentInSim        4  sent messages on the SIM card");

  EXPECT_EQ(Ok("lang"), "language         ENG\nresource module  apResENG0123.dll\n");
  Ok("lang CHS");
  EXPECT_EQ(Json("lang"),
            json::parse(R"({"language":"CHS","resource_module":"apResCHS0123.dll"})"));
}

TEST_F(DeviceCommands, WatchReceivesTheNoticesOfOtherProcesses) {
  Ok("init");
  auto startWatch = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_});
    auto watch = std::make_unique<Child>(args);
    EXPECT_TRUE(Child::Until([&] { return watch->err().find("stops)\n") != std::string::npos; }))
        << watch->err();
    return watch;
  };
  auto watch = startWatch({"watch"});
  EXPECT_EQ(watch->err(),
            "watching WCE_APSHELL and WCE_CVMESSAGEEXEC on " + root_ + " (Ctrl-C stops)\n");
  EXPECT_EQ(Fails("watch", 1),
            "msgstore: cannot register the window WCE_APSHELL: another process has it\n");

  Ok("empty sms draft");
  Ok("empty sms inbox");
  ASSERT_TRUE(Child::Until([&] { return watch->out().find('\n') != std::string::npos; }));
  EXPECT_TRUE(std::regex_match(
      watch->out(), std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ WCE_APSHELL 0x0C44 "
                               "\\(inbox emptied\\) wParam=0 lParam=0 \\(EMS\\)\n")))
      << watch->out();

  msgstore::SetDeviceRoot(root_);
  msgstore::DefaultPlatform platform;
  HWND app = platform.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr);
  ASSERT_NE(platform.PostMessageW(app, 0x19A1, 17, 0x03030001), 0);
  ASSERT_TRUE(Child::Until([&] { return Lines(watch->out()).size() == 2; }));
  EXPECT_EQ(Lines(watch->out())[1].substr(21),
            "WCE_CVMESSAGEEXEC 0x19A1 (e-mail draft event) wParam=17 lParam=50528257 (memory "
            "card, message 17 removed to make room)");
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 0);

  watch = startWatch({"--json", "watch"});
  Ok("empty sms inbox");
  ASSERT_TRUE(Child::Until([&] { return watch->out().find('\n') != std::string::npos; }));
  json j = json::parse(watch->out());
  EXPECT_EQ(j.at("window"), "WCE_APSHELL");
  EXPECT_EQ(j.at("message"), 0xC44);
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Finish(), 0);
}

}  // namespace
}  // namespace tool_test
