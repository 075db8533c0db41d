// What a user trusts the tool with: output that could not be written fails the run, an export
// is exact JSON and one cut short or miscounted is refused whole, commands that only read make
// nothing, and check, count and refresh cover the whole device.
#include "msgstore/msgstore.h"
#include "msgstore/stores.h"
#include "msgstore/text.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;
using JsonValue = nlohmann::json;

class BackupTrust : public ToolTest {
 protected:
  // The command run with standard output to /dev/full (or closed): its status and standard error.
  std::pair<int, std::string> ToFull(const std::string& cmd, const char* out = "/dev/full") {
    Child c(Args(cmd), -1, -1, out);
    const int status = c.Finish();
    return {status, c.err()};
  }
};

// Every command that reads (and every one that changes a made device) on a mistyped root, and on
// a directory that holds no device, says so and makes nothing; init, card insert and import make
// the root.
TEST_F(BackupTrust, OnlyInitCardInsertAndImportMakeADevice) {
  const std::string missing = root_ + "/mistyped";
  for (const std::string cmd :
       {"ls sms inbox", "show sms 1", "count", "count mms", "check", "check --fix", "refresh",
        "export", "account ls", "counters", "watch", "settle", "add sms inbox --text x",
        "account add --folder 1 --text x", "lang", "card state"}) {
    EXPECT_EQ(On(missing, [&] { return Tool(cmd); }).err,
              "msgstore: no device root at " + missing +
                  " (run 'msgstore init' to make a device there, or give --root)\n")
        << cmd;
    Result r = Tool(cmd);  // the scratch root: a directory without a device
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_EQ(r.err, "msgstore: no message tree at " + root_ +
                         " (run 'msgstore init' to make a device there, or give --root)\n")
        << cmd;
  }
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(fs::is_empty(root_));
  // The importing root is made only once the whole file has been read.
  Refuses("import " + missing, 1, "cannot open '" + missing + "'\n");
  EXPECT_TRUE(fs::is_empty(root_));
  EXPECT_EQ(On(missing, [&] { return Ok("card insert"); }), "memory card inserted\n");
  EXPECT_EQ(
      On(missing, [&] { return Ok("init"); }),
      "device root " + missing +
          "\nmade the message tree in phone memory\nmade the message tree on the memory card\n");
  EXPECT_EQ(On(missing, [&] { return Ok("ls sms inbox"); }), "no messages in phone inbox\n");
  // On a made device, what only reads leaves every file and directory as it was.
  EXPECT_EQ(Ok("init"), "device root " + root_ +
                            "\nmade the message tree in phone memory\nno memory card is inserted: "
                            "its tree is made by 'msgstore init' once it is\n");
  const auto made = Device();
  for (const std::string cmd : {"ls sms inbox", "show sms 1", "count", "check", "export",
                                "account ls", "counters", "lang", "card state"}) {
    Tool(cmd);
    EXPECT_EQ(Device(), made) << cmd;
  }
}

// A write to standard output that fails ends the run with one line and exit 1, whatever the
// command; the same commands to a file that takes the output end with 0.
TEST_F(BackupTrust, AFailedWriteToStandardOutputFailsTheRun) {
  Oks({"init", "add sms inbox --text hello"});
  for (const std::string cmd : {"export", "show sms 1 --raw", "ls sms inbox", "--json count"})
    EXPECT_EQ(ToFull(cmd), std::make_pair(1, std::string("msgstore: could not write to standard "
                                                         "output: what it holds is incomplete\n")))
        << cmd;
  EXPECT_EQ(ToFull("show sms 7"),  // its own failure, not standard output's
            std::make_pair(1, std::string("msgstore: no message 7 in phone memory\n")));
  // Closed, standard output would be the first file the command opens: nothing is done.
  const auto before = Device();
  EXPECT_EQ(ToFull("add sms inbox --text x", Child::kClosed),
            std::make_pair(1, std::string("msgstore: standard output is closed: nothing done\n")));
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("show sms 1 --raw"), std::string("h\0e\0l\0l\0o\0", 10));
}

// Each line of an export is the JSON library's own compact text of what it holds: escapes, text
// beyond ASCII and a body larger than any buffer on the way come out whole and exact, and the
// body's base64 is the standard one.
TEST_F(BackupTrust, AnExportIsTheJsonLibrarysTextByteForByte) {
  std::string body(300001, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64;
  for (size_t i = 0; i < body.size(); i += 3) {
    uint32_t v = static_cast<uint32_t>(static_cast<uint8_t>(body[i])) << 16;
    if (i + 1 < body.size()) v |= static_cast<uint32_t>(static_cast<uint8_t>(body[i + 1])) << 8;
    if (i + 2 < body.size()) v |= static_cast<uint8_t>(body[i + 2]);
    for (size_t k = 0; k < 4; ++k)
      base64.push_back(i + k <= body.size() ? digits[(v >> (18 - 6 * k)) & 0x3F] : '=');
  }
  ASSERT_EQ(base64.substr(base64.size() - 2), "==");  // one byte left for the last group
  const std::string tricky = "q\"u\\o/\x01\x7f\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80";
  // Plain ASCII but for quotes or backslashes, long and short.
  Oks({"init", "add mms inbox --subject " + tricky + " --body " + Save("body.bin", body),
       R"(add sms inbox --text say"hi"and"more" --subject a\b)",
       R"(add sms draft --text a\b\c\d\e\ --subject a"b --time 2026-01-02T03:04:05.25Z)"});
  const std::string exported = Ok("export");
  EXPECT_PRED2(Has, exported, "\"content_base64\":\"" + base64 + "\"");
  EXPECT_PRED2(Has, exported,
               R"("subject":"q\"u\\o/\u0001)"
               "\x7f\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80\"");
  for (const char* text :
       {R"("subject":"a\\b",)", R"("content_text":"say\"hi\"and\"more\"")", R"("subject":"a\"b",)",
        R"("content_text":"a\\b\\c\\d\\e\\")", R"("time":"2026-01-02T03:04:05.25Z",)"})
    EXPECT_PRED2(Has, exported, text);
  for (const std::string& line : Lines(exported))
    EXPECT_EQ(nlohmann::ordered_json::parse(line).dump(
                  -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
              line);
  const std::string file = Save("device.jsonl", exported);
  On(Other(), [&] {
    EXPECT_EQ(Ok("import " + file), "imported 3 messages (sms 2, mms 1, email 0) and 0 accounts\n");
    EXPECT_EQ(Ok("export"), exported);
    return 0;
  });
  // The same base64 with its first letter written as a JSON escape; given twice, the later one
  // counts (here another content, escaped as well).
  const std::string key = "\"content_base64\":\"", other = "B" + base64.substr(1);
  ASSERT_EQ(base64[0], 'A');
  std::string escaped = exported, twice = exported;
  escaped.replace(escaped.find(key + base64), key.size() + 1, key + "\\u0041");
  twice.replace(twice.find(key + base64), key.size() + base64.size(),
                key + base64 + "\"," + key + "\\u0042" + base64.substr(1));
  for (const auto& [name, text, kept] :
       {std::make_tuple("escaped", escaped, base64), std::make_tuple("twice", twice, other)}) {
    const std::string f = Save(std::string(name) + ".jsonl", text);
    On(root_ + "/" + name, [&] {
      Ok("import " + f);
      EXPECT_PRED2(Has, Ok("export"), key + kept + "\"") << name;
      return 0;
    });
  }
  // More than one buffer of it to a full disk.
  EXPECT_EQ(ToFull("export"),
            std::make_pair(1, std::string("msgstore: could not write to standard "
                                          "output: what it holds is incomplete\n")));
}

// An export ends with a line that counts it; an import refuses a file cut at a line, one whose
// counts differ and one with lines after the end, writing nothing, not even the root.
TEST_F(BackupTrust, AnExportCutShortOrMiscountedIsRefusedWhole) {
  Oks({"init", "add sms inbox --text a", "add sms draft --text b", "add mms sent --text c",
       "account add --folder 1 --text w"});
  const std::string exported = Ok("export");
  std::vector<std::string> lines = Lines(exported);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines.back(),
            R"({"type":"end","lines":10,"messages":{"sms":2,"mms":1,"email":0},"accounts":1})");
  EXPECT_EQ(Lines(Ok("export sms")).back(),
            R"({"type":"end","lines":5,"messages":{"sms":2},"accounts":null})");
  auto join = [](const std::vector<std::string>& some) {
    std::string text;
    for (const std::string& line : some) text += line + "\n";
    return text;
  };
  const std::string cut = Save("cut.jsonl", join({lines.begin(), lines.begin() + 7}));
  const std::string counted = Save("counted.jsonl", join({lines.begin(), lines.begin() + 4}) +
                                                        join({lines.begin() + 5, lines.end()}));
  const std::string after = Save("after.jsonl", exported + lines[4] + "\n");
  const std::string half = Save("half.jsonl", exported.substr(0, exported.size() - 20));
  // On a root that is not there: nothing is made of it.
  auto refused = [&](const std::string& cmd, const std::string& err) {
    const Result r = On(Other(), [&] { return Tool(cmd); });
    EXPECT_EQ(std::make_tuple(r.status, r.out, r.err), std::make_tuple(1, "", "msgstore: " + err));
  };
  {
    refused("import " + cut,
            cut +
                ": the export is incomplete: it ends at line 7 without its closing line "
                "{\"type\":\"end\",...} (cut short, or left out messages): nothing imported\n");
    refused("import " + counted,
            counted +
                ": the export is incomplete: its closing line on line 10 counts lines 10 "
                "(9 found), sms 2 (1 found): nothing imported\n");
    refused("import " + after,
            after +
                " line 12: it comes after the closing line on line 11, which ends the "
                "export: nothing imported\n");
    refused("import " + half, half + " line 11: it is not JSON\nmsgstore: " + half +
                                  ": the export is incomplete: it ends at line 11 without its "
                                  "closing line {\"type\":\"end\",...} (cut short, or left out "
                                  "messages) (2 damaged lines): nothing imported\n");
  }
  EXPECT_FALSE(fs::exists(Other()));
  // An export that leaves out a message it cannot read fails and has no end: no import takes it.
  std::ofstream(At("EMS/DRAFT/2.sms"), std::ios::trunc) << "xx";
  Result damaged = Tool("export");
  EXPECT_EQ(damaged.status, 1);
  EXPECT_PRED2(Has, damaged.err,
               "1 of 3 messages could not be read and are missing from the export\n");
  EXPECT_PRED2(Has, Lines(damaged.out).back(), R"("type":"account")");
}

// count only reads: the download folder stays as it is; settle says what it moved and deleted.
TEST_F(BackupTrust, CountReadsOnlyAndSettleSaysWhatItMovedAndDeleted) {
  Oks({"init", "add mms autodownload --text a --text1 url", "add mms autodownload --text b",
       "add mms inbox --text c --status 104 --text1 url", "add mms inbox --text d --status 104"});
  // A card message that shares its identifier with phone message 3.
  Oks({"card insert", "init", "add mms inbox --card --text e"});
  std::filesystem::rename(At("MMS/INBOX/5.mms", true), At("MMS/INBOX/3.mms", true));
  const auto before = Trees(root_);
  EXPECT_EQ(Json("count mms")["folders"]["autodownload"]["phone"], 2);
  EXPECT_EQ(Json("count")["mms"]["unread_inbox"], 3);
  EXPECT_EQ(Trees(root_), before);
  EXPECT_EQ(Ok("settle"),
            "moved message 1 in phone autodownload: now message 6 in phone inbox\n"
            "deleted message 2 in phone autodownload\n"
            "deleted message 4 in phone inbox\n"
            "settled the status of message 3 in phone inbox\n"
            "unread in the inboxes: 4\n");  // counted before 4 was deleted
  EXPECT_EQ(Json("show mms 6")["status"], 101);
  EXPECT_EQ(Ok("settle"), "nothing to settle\nunread in the inboxes: 3\n");
}

// Without a store, check, count and refresh cover every store and the account database; check
// --fix raises an account counter left behind and says what a damaged database keeps.
TEST_F(BackupTrust, CheckCountAndRefreshCoverTheWholeDevice) {
  Oks({"init", "add sms draft --text a", "add mms draft --text b", "add email draft --text c",
       "account add --folder 1 --text w"});
  EXPECT_EQ(
      Ok("check"),
      "STORE     INDEX     FILES  RECORDS  STATE\n"
      "sms       inbox         0        0  ok\n"
      "sms       draft         1        1  ok\n"
      "sms       sent          0        0  ok\n"
      "sms       unsent        0        0  ok\n"
      "sms       report        0        0  ok\n"
      "sms       spam          0        0  ok\n"
      "sms       counter                   ok: last identifier 1, highest identifier in use 1\n"
      "mms       inbox         0        0  ok\n"
      "mms       draft         1        1  ok\n"
      "mms       sent          0        0  ok\n"
      "mms       unsent        0        0  ok\n"
      "mms       report        0        0  ok\n"
      "mms       spam          0        0  ok\n"
      "mms       counter                   ok: last identifier 1, highest identifier in use 1\n"
      "email     draft         1        1  ok\n"
      "email     sent          0        0  ok\n"
      "email     unsent        0        0  ok\n"
      "email     report        0        0  ok\n"
      "email     spam          0        0  ok\n"
      "email     counter                   ok: last identifier 1, highest identifier in use "
      "1\n"
      "accounts  database                  ok: 1 account, counter 805306371\n");
  const JsonValue counts = Json("count");
  EXPECT_EQ(counts["sms"]["folders"]["draft"]["phone"], 1);
  EXPECT_EQ(counts["email"]["folders"]["draft"]["phone"], 1);
  EXPECT_EQ(Json("refresh")["refreshed"], (JsonValue{"sms", "mms", "email"}));

  // The registry's account counter set back below the account.
  msgstore::SetDeviceRoot(root_);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, msgstore::AccountStore().registryKey, 0, nullptr, 0,
                            0, nullptr, &key, nullptr),
            0);
  const DWORD behind = 805306370;
  ASSERT_EQ(RegSetValueExW(key, msgstore::AccountStore().counterValue, 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&behind), 4),
            0);
  RegCloseKey(key);
  Run("check", 1,
      "msgstore: the account identifier counter (805306370) is behind the highest account "
      "identifier 805306371 (msgstore check --fix repairs what it can)\n");
  EXPECT_FALSE(Has(Run("check sms", 0), "account"));  // one store leaves the accounts alone
  EXPECT_PRED2(Starts, Ok("check --fix"), "set the account identifier counter to 805306371\n");
  EXPECT_EQ(Ok("account add --folder 1 --text x"), "account 805306372 added to folder 1\n");
  std::ofstream(At("EmailAccMsgStore.db"), std::ios::app) << "xx";
  EXPECT_PRED2(Has,
               Run("check --fix", 1,
                   "msgstore: the account database is damaged (46 bytes, of which the account "
                   "store reads 44) after the repair: the account store cannot read the rest of "
                   "its database, which stays as it is\n"),
               "\naccounts  database                  the account database is damaged");
}

// After empty, check passes: the emptied folder's records are gone from the index, also those
// of a SIM folder listed in the inbox's index and of one account's inbox.
TEST_F(BackupTrust, CheckPassesAfterEmpty) {
  Oks({"init", "account add --folder 1 --text w", "add sms inbox --text a",
       "add sms sim-inbox --text b", "add email inbox --account 805306371 --text c",
       "add mms inbox --text d", "empty sms inbox --yes",
       "empty email inbox --account 805306371 --yes", "empty mms inbox --yes"});
  EXPECT_EQ(Tool("check").status, 0);
  EXPECT_EQ(Lines(Ok("ls sms inbox --index")).size(), 2u);  // the SIM copy's record stays
  Oks({"empty sms sim-inbox --yes"});
  EXPECT_EQ(Ok("ls sms inbox --index"), "no messages in phone inbox index\n");
  EXPECT_EQ(Tool("check").status, 0);
  // Only the emptied folder's records go: one of another folder whose file went by other means
  // stays for check to find.
  Oks({"add sms sim-inbox --text e", "add sms inbox --text f"});
  fs::remove(At("EMS/SIM_INBOX/3.sms"));
  Oks({"empty sms inbox --yes"});
  const std::vector<std::string> left = Lines(Ok("ls sms inbox --index"));
  ASSERT_EQ(left.size(), 2u);
  EXPECT_PRED2(Starts, left[1], " 3  sim-inbox");
  EXPECT_PRED2(Has, left[1], "(index record without a file)");
}

// A stray "007.sms" beside "7.sms": check --fix leaves the problem it found and no more.
TEST_F(BackupTrust, CheckFixNeverLeavesMoreProblemsThanItFound) {
  Oks({"init"});
  for (int i = 0; i < 7; ++i) Ok("add sms inbox --text m");
  fs::copy_file(At("EMS/INBOX/7.sms"), At("EMS/INBOX/007.sms"));
  const std::string problem = "1 index differs from the folders";
  const std::string found = Run("check sms", 1,
                                "msgstore: " + problem +
                                    " (msgstore check sms --fix rebuilds "
                                    "them)\n");
  EXPECT_PRED2(Has, found, "inbox        7        7  1 problem\n");
  const std::string fixed =
      Run("check sms --fix", 1,
          "msgstore: " + problem +
              " after the repair: files not named by a message identifier stay until renamed "
              "or removed\n");
  EXPECT_PRED2(Has, fixed, "inbox        7        7  1 problem\n");
  EXPECT_EQ(Lines(Ok("ls sms inbox --index")).size(), 8u);  // seven records and the header
}

}  // namespace
}  // namespace tool_test
