// The tool's command line and the simulated handset: usage errors, help,
// card, counters, lang, and watch receiving the notice of another process.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/platform.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using nlohmann::json;

class DeviceCommands : public ToolTest {};

TEST_F(DeviceCommands, HelpExitsZeroOnEveryLevel) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--help"},
                                        {"ls", "sms", "--help"},
                                        {"card", "--help"},
                                        {"add", "sms", "--help"},
                                        {"check", "--help"}}) {
    Result r = Tool(args);
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(args);
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_NE(Tool({"add", "sms", "--help"}).out.find("--auto"), std::string::npos);
}

TEST_F(DeviceCommands, UsageErrorsExitTwoWithOneLine) {
  EXPECT_EQ(Fails({}, 2),
            "msgstore: no command given: init, card, counters, lang, ls, show, add, mark, mv, "
            "rm, empty, count, export, refresh, check, watch (see 'msgstore --help')\n");
  EXPECT_EQ(Fails({"frobnicate"}, 2),
            "msgstore: unknown command 'frobnicate' (see 'msgstore --help')\n");
  EXPECT_EQ(Fails({"ls"}, 2), "msgstore: 'ls' needs a command: sms (see 'msgstore --help')\n");
  EXPECT_EQ(Fails({"card", "pull"}, 2),
            "msgstore: unknown command 'pull' for 'card' (see 'msgstore --help')\n");
  EXPECT_EQ(Fails({"ls", "sms"}, 2), "msgstore: FOLDER is required (see 'msgstore --help')\n");
  EXPECT_EQ(Fails({"ls", "sms", "inbox", "--bogus"}, 2),
            "msgstore: The following argument was not expected: --bogus (see 'msgstore "
            "--help')\n");
  EXPECT_EQ(Fails({"show", "sms", "abc"}, 2),
            "msgstore: 'abc' is not a message identifier (1 to 4294967295)\n");
  EXPECT_EQ(Fails({"show", "sms", "0"}, 2),
            "msgstore: '0' is not a message identifier (1 to 4294967295)\n");
  EXPECT_EQ(Fails({"mark", "sms", "1"}, 2),
            "msgstore: nothing to change: give --read, --unread or --status N\n");
  Fails({"mark", "sms", "1", "--read", "--unread"}, 2);
  EXPECT_EQ(Fails({"mark", "sms", "1", "--status", "70000"}, 2),
            "msgstore: --status '70000' is not a number from 0 to 65535\n");
  Ok({"init"});
  EXPECT_EQ(Fails({"add", "sms", "inbox", "--time", "2026-02-30T00:00:00Z"}, 2),
            "msgstore: --time '2026-02-30T00:00:00Z' is not an ISO 8601 time (like "
            "2026-12-05T15:04:05Z)\n");
  EXPECT_EQ(Fails({"card", "state", "1"}, 2),
            "msgstore: card flags '1' must be 0, 2, 4 or 6 (2 and 4: the card cannot take a "
            "message now)\n");
  Fails({"lang", "E N G"}, 2);
}

TEST_F(DeviceCommands, CardInsertEjectAndFlags) {
  EXPECT_EQ(Ok({"card", "state"}),
            "card   not inserted\n"
            "state  0 (absent)\n"
            "flags  0\n");
  EXPECT_EQ(Fails({"card", "eject"}, 1),
            "msgstore: no memory card is inserted (see 'msgstore card insert')\n");
  EXPECT_EQ(Ok({"card", "insert"}), "memory card inserted\n");
  EXPECT_EQ(Fails({"card", "insert"}, 1), "msgstore: the memory card is already inserted\n");
  Ok({"init"});
  Ok({"--card", "add", "sms", "draft", "--text", "kept"});

  EXPECT_EQ(Ok({"card", "state", "2"}),
            "card   inserted\n"
            "state  3 (present, cannot take messages now)\n"
            "flags  2 (cannot take a message now)\n");
  json j = json::parse(Ok({"--json", "card", "state", "0"}));
  EXPECT_EQ(j, json::parse(R"({"inserted":true,"state":1,"flags":0,"can_take_messages":true})"));

  Ok({"card", "eject"});
  EXPECT_EQ(json::parse(Ok({"--json", "card", "state"})).at("inserted"), false);
  Fails({"--card", "ls", "sms", "draft"}, 1);
  Ok({"card", "insert"});
  json drafts = json::parse(Ok({"--json", "--card", "ls", "sms", "draft"}));
  ASSERT_EQ(drafts.size(), 1u);
  EXPECT_EQ(drafts[0].at("summary"), "kept");
}

TEST_F(DeviceCommands, CountersFollowTheStoreAndCanBeSet) {
  Ok({"init"});
  json j = json::parse(Ok({"--json", "counters"}));
  EXPECT_EQ(j, json::parse(R"({"EmsRecv":0,"EmsRead":0,"Ems_SDRecv":0,"Ems_SDRead":0,
                               "SentInSim":0,"UnsentInSim":0})"));
  Ok({"add", "sms", "draft", "--text", "x"});
  Ok({"mv", "sms", "1", "inbox"});  // entering the inbox counts as received
  Ok({"mark", "sms", "2", "--read"});
  j = json::parse(Ok({"--json", "counters"}));
  EXPECT_EQ(j.at("EmsRecv"), 1);
  EXPECT_EQ(j.at("EmsRead"), 1);

  Ok({"counters", "sentinsim", "4"});
  EXPECT_EQ(json::parse(Ok({"--json", "counters"})).at("SentInSim"), 4);
  std::vector<std::string> table = Lines(Ok({"counters"}));
  ASSERT_EQ(table.size(), 7u);
  EXPECT_EQ(table[0], "COUNTER      VALUE  MEANING");
  EXPECT_EQ(table[5], "SentInSim        4  sent messages on the SIM card");
  EXPECT_EQ(Fails({"counters", "Bogus", "1"}, 1),
            "msgstore: unknown counter 'Bogus' (counters: EmsRecv, EmsRead, Ems_SDRecv, "
            "Ems_SDRead, SentInSim, UnsentInSim)\n");
  Fails({"counters", "EmsRecv", "-1"}, 2);
}

TEST_F(DeviceCommands, LanguageIsShownAndSet) {
  EXPECT_EQ(Ok({"lang"}),
            "language         ENG\n"
            "resource module  apResENG0123.dll\n");
  Ok({"lang", "CHS"});
  EXPECT_EQ(json::parse(Ok({"--json", "lang"})),
            json::parse(R"({"language":"CHS","resource_module":"apResCHS0123.dll"})"));
}

// Starts "msgstore watch" and waits until it has registered its windows.
std::unique_ptr<Child> StartWatch(const std::string& root, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--root", root};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("watch");
  auto watch = std::make_unique<Child>(args, std::map<std::string, std::string>{});
  EXPECT_TRUE(watch->started());
  EXPECT_TRUE(watch->ReadUntil(
      [&] { return watch->err().find("(Ctrl-C stops)\n") != std::string::npos; }, 10000))
      << watch->err();
  return watch;
}

TEST_F(DeviceCommands, WatchReceivesTheInboxNoticeOfAnotherProcess) {
  Ok({"init"});
  Ok({"add", "sms", "inbox", "--text", "x"});
  std::unique_ptr<Child> watch = StartWatch(root_);
  EXPECT_EQ(watch->err(),
            "watching WCE_APSHELL and WCE_CVMESSAGEEXEC on " + root_ + " (Ctrl-C stops)\n");

  // One process holds the windows of a device root.
  EXPECT_EQ(Fails({"watch"}, 1),
            "msgstore: cannot register the window WCE_APSHELL: another process has it\n");

  Ok({"empty", "sms", "draft"});  // posts nothing
  Ok({"empty", "sms", "inbox"});
  ASSERT_TRUE(
      watch->ReadUntil([&] { return watch->out().find('\n') != std::string::npos; }, 10000));
  EXPECT_TRUE(std::regex_match(
      watch->out(),
      std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ WCE_APSHELL 0x0C44 \\(inbox "
                 "emptied\\) wParam=0 lParam=0 \\(EMS\\)\n")))
      << watch->out();

  // An e-mail eviction notice, posted from this process to the same device.
  msgstore::SetDeviceRoot(root_);
  msgstore::DefaultPlatform platform;
  HWND app = platform.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr);
  ASSERT_NE(app, nullptr);
  ASSERT_NE(platform.PostMessageW(app, 0x19A1, 17, 0x03030001), 0);
  ASSERT_TRUE(watch->ReadUntil([&] { return Lines(watch->out()).size() == 2; }, 10000));
  EXPECT_EQ(Lines(watch->out())[1].substr(21),
            "WCE_CVMESSAGEEXEC 0x19A1 (e-mail draft event) wParam=17 lParam=50528257 (memory "
            "card, message 17 removed to make room)");

  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(10000), 0);
}

TEST_F(DeviceCommands, WatchPrintsJsonLines) {
  Ok({"init"});
  std::unique_ptr<Child> watch = StartWatch(root_, {"--json"});
  Ok({"empty", "sms", "inbox"});
  Ok({"empty", "sms", "inbox"});
  ASSERT_TRUE(watch->ReadUntil([&] { return Lines(watch->out()).size() == 2; }, 10000));
  for (const std::string& line : Lines(watch->out())) {
    json j = json::parse(line);
    EXPECT_EQ(j.at("window"), "WCE_APSHELL");
    EXPECT_EQ(j.at("message"), 0xC44);
    EXPECT_EQ(j.at("meaning"), "inbox emptied");
    EXPECT_EQ(j.at("detail"), "EMS");
  }
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Finish(10000), 0);
  // Once it has gone, another watch can take the windows.
  std::unique_ptr<Child> next = StartWatch(root_);
  next->Signal(SIGINT);
  EXPECT_EQ(next->Finish(10000), 0);
}

}  // namespace
}  // namespace tool_test
