// Every command's --json output against the shape its manual page gives: the same keys, each of
// a type the page allows.
#include "tool_runner.h"

namespace tool_test {
namespace {

// The literal blocks of the manual's JSON OUTPUT section under each ".It Cm" entry, parsed.
std::map<std::string, std::vector<JsonValue>> ManualShapes() {
  std::ifstream in(kSources / "msgstore.1");
  std::map<std::string, std::vector<JsonValue>> shapes;
  std::string line, entry, block;
  bool section = false, literal = false;
  while (std::getline(in, line)) {
    if (Starts(line, ".Sh ")) section = line == ".Sh JSON OUTPUT";
    if (!section) continue;
    if (Starts(line, ".It Cm ")) entry = line.substr(7);
    if (line == ".Ed" && literal) shapes[entry].push_back(JsonValue::parse(block));
    if (literal) block += line + "\n";
    if (Starts(line, ".Bd -literal")) literal = true, block.clear();
    if (line == ".Ed") literal = false;
  }
  return shapes;
}

// Where value differs from shape: "count.folders.inbox.card: number, the manual allows string".
// A leaf of the shape names the types allowed ("number or null"); an object whose one key is in
// angle brackets takes any keys, each of the shape under it; an array's elements are each of the
// shape of its one element.
void Compare(const JsonValue& shape, const JsonValue& value, const std::string& path,
             std::vector<std::string>* errors) {
  if (shape.is_string()) {
    const std::string types = " " + shape.get<std::string>() + " ";
    if (!Has(types, std::string(" ") + value.type_name() + " "))
      errors->push_back(path + ": " + value.type_name() + ", the manual allows " + types);
    return;
  }
  if (shape.is_array() != value.is_array() || shape.is_object() != value.is_object()) {
    errors->push_back(path + ": " + value.type_name() + ", the manual gives " + shape.type_name());
    return;
  }
  if (shape.is_array()) {
    for (size_t i = 0; i < value.size(); ++i)
      Compare(shape.at(0), value[i], path + "[" + std::to_string(i) + "]", errors);
    return;
  }
  if (shape.size() == 1 && Starts(shape.begin().key(), "<")) {
    for (const auto& [key, v] : value.items()) Compare(shape.front(), v, path + "." + key, errors);
    return;
  }
  for (const auto& [key, v] : value.items())
    if (!shape.contains(key)) errors->push_back(path + "." + key + ": not in the manual");
  for (const auto& [key, s] : shape.items()) {
    if (!value.contains(key))
      errors->push_back(path + "." + key + ": missing");
    else
      Compare(s, value[key], path + "." + key, errors);
  }
}

class JsonOutput : public ToolTest {
 protected:
  // The command's JSON document holds the manual's shape.
  void Expect(const JsonValue& shape, const std::string& cmd, int status = 0) {
    Result r = Tool("--json " + cmd);
    EXPECT_EQ(r.status, status) << cmd << "\n" << r.err;
    std::vector<std::string> errors;
    Compare(shape, JsonValue::parse(r.out, nullptr, false), cmd, &errors);
    EXPECT_EQ(errors, std::vector<std::string>()) << r.out;
  }
  const std::map<std::string, std::vector<JsonValue>> shapes_ = ManualShapes();
  const JsonValue& Shape(const std::string& entry, size_t k = 0) {
    static const JsonValue none = "no shape";
    auto it = shapes_.find(entry);
    EXPECT_TRUE(it != shapes_.end() && k < it->second.size()) << entry;
    return it != shapes_.end() && k < it->second.size() ? it->second[k] : none;
  }
  // Each command's document holds the first shape of the entry that its first word names.
  void ExpectEach(const std::vector<std::string>& cmds) {
    for (const std::string& cmd : cmds) Expect(Shape(cmd.substr(0, cmd.find(' '))), cmd);
  }
};

TEST_F(JsonOutput, EveryCommandPrintsTheShapeItsManualPageGives) {
  // Every command but export (whose lines the export format gives) has its entry.
  for (const std::string& line : Lines(Ok("--help"))) {
    std::istringstream words(line);
    std::string name;
    if (Starts(line, "  ") && !Starts(line, "  -") && words >> name && name != "export") {
      EXPECT_EQ(shapes_.count(name), 1u) << name;
    }
  }
  ExpectEach({"card insert", "init", "card state 2"});
  Oks({"card state 0", "add sms inbox --text hi --to +1",
       "add sms inbox --body " + (kSources / "msgstore.1").string(), "--card add sms inbox",
       "account add --name Work --default", "add email inbox", "add mms draft",
       "add mms autodownload --text1 url", "add mms autodownload"});
  std::ofstream(At("EMS/INBOX/7.sms")) << "damaged";
  std::ofstream(At("EMS/INBOX/x7.sms")) << "stray";
  // ls of a read, a damaged and a stray file; show sms 2 of content that is not text; settle of
  // one message moved and one deleted.
  ExpectEach({"counters", "lang", "ls sms inbox", "show sms 1", "show sms 2", "add sms draft",
              "mark sms 1 2 --read", "mv sms 1 spam", "rm sms 2", "empty sms spam --yes",
              "empty email inbox --account Work --dry-run", "count email", "settle", "refresh",
              "refresh sms", "check mms --fix", "account add --name Home --folder 3"});
  Expect(Shape("count", 1), "count");
  Expect(Shape("check", 1), "check", 1);
  Expect(Shape("check", 1), "check --fix", 1);
  Expect(Shape("check"), "check sms", 1);
  Expect(JsonValue::array({Shape("account")}), "account ls");
  Expect(Shape("account", 1), "account show Work");
  Expect(Shape("account", 2), "account rm Home");
  Expect(Shape("account", 3), "account empty 3 --yes");
  Expect(Shape("account", 4), "account use Work");
  fs::remove(At("EMS/INBOX/7.sms"));  // so that the export is whole
  Expect(Shape("import"), "import --replace --dry-run " + Save("backup.jsonl", Ok("export")));
}

// watch says what it watches and which operations post notices, shows each notice as it comes,
// in the manual's shape, and ends on Ctrl-C or when told to stop (SIGTERM).
TEST_F(JsonOutput, WatchSaysWhatPostsNoticesAndShowsEachAsItComes) {
  const std::string sources =
      "notices come from emptying the SMS/EMS or MMS inbox, on either storage (WCE_APSHELL); "
      "writing an e-mail message into a full folder, when the store removes the folder's oldest "
      "message to make room (WCE_CVMESSAGEEXEC); no other operation posts any";
  EXPECT_PRED2(Has, Ok("watch --help"), "\n" + sources + ".\n");
  Oks({"init", "add sms inbox"});
  Child watch(Args("--json watch"));
  Until([&] { return Has(watch.err(), sources); });
  EXPECT_EQ(watch.err(), "watching WCE_APSHELL and WCE_CVMESSAGEEXEC on " + root_ +
                             " (Ctrl-C stops)\n" + sources + "\n");
  Ok("empty sms inbox --yes");
  // Shown while the watch goes on.
  ASSERT_TRUE(Until([&] { return Has(watch.out(), "\n"); })) << watch.out();
  EXPECT_PRED2(Has, watch.out(), R"("window":"WCE_APSHELL","message":3140,)");
  const JsonValue notice = JsonValue::parse(watch.out(), nullptr, false);
  EXPECT_EQ(notice["meaning"], "inbox emptied");
  EXPECT_EQ(notice["detail"], "EMS");
  std::vector<std::string> errors;
  Compare(Shape("watch"), notice, "watch", &errors);
  EXPECT_EQ(errors, std::vector<std::string>()) << watch.out();
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Finish(), 0);
  Child again(Args("watch"));
  ASSERT_TRUE(Until([&] { return Has(again.err(), sources); }));
  again.Signal(SIGTERM);
  EXPECT_EQ(again.Finish(), 0);
}

// Ticks pass 2^53: as text they keep every digit that a double would round away.
TEST_F(JsonOutput, TicksAreTextThatKeepsEveryDigit) {
  Oks({"init", "add sms inbox --time 2026-12-05T15:04:05.1234567Z"});
  EXPECT_EQ(Json("show sms 1")["time_ticks"], "134409566451234567");
  EXPECT_EQ(Json("ls sms inbox")[0]["index_time_ticks"], "134409566451234567");
  EXPECT_EQ(Json("mark sms 1 --read")[0]["time_ticks"], "134409566451234567");
}

}  // namespace
}  // namespace tool_test
