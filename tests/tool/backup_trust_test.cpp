// What a user trusts the tool with: output that could not be written fails the run, an export
// is exact JSON and one cut short, miscounted or damaged is refused whole, an import onto a
// fresh root gives back every field and the same files byte for byte, commands that only read
// make nothing, and check, count and refresh cover the whole device.
#include "msgstore/msgstore.h"
#include "msgstore/stores.h"
#include "msgstore/text.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

const std::pair<int, std::string> kIncomplete = {
    1, "msgstore: could not write to standard output: what it holds is incomplete\n"};

class BackupTrust : public ToolTest {
 protected:
  // The command run with standard output to /dev/full (or closed): its status and standard error.
  std::pair<int, std::string> ToFull(const std::string& cmd, const char* out = "/dev/full") {
    Child c(Args(cmd), -1, -1, out);
    return {c.Finish(), c.err()};
  }
};

// Every command that reads (and every one that changes a made device) on a mistyped root, and on
// a directory that holds no device, says so and makes nothing; init, card insert and import make
// the root.
TEST_F(BackupTrust, OnlyInitCardInsertAndImportMakeADevice) {
  const std::string missing = root_ + "/mistyped";
  const std::string hint = " (run 'msgstore init' to make a device there, or give --root)\n";
  for (const std::string cmd :
       {"ls sms inbox", "show sms 1", "count", "count mms", "check", "check --fix", "refresh",
        "export", "account ls", "counters", "watch", "settle", "add sms inbox --text x",
        "account add --folder 1 --text x", "lang", "card state"}) {
    On(missing, [&] { Run(cmd, 1, "msgstore: no device root at " + missing + hint); });
    Run(cmd, 1, "msgstore: no message tree at " + root_ + hint);  // a directory without a device
  }
  EXPECT_TRUE(fs::is_empty(root_));  // nor the mistyped root beneath it
  // The importing root is made only once the whole file has been read.
  Refuses("import " + missing, 1, "cannot open '" + missing + "'\n");
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
    EXPECT_EQ(ToFull(cmd), kIncomplete) << cmd;
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
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k)
      v = v << 8 | (i + k < body.size() ? static_cast<uint8_t>(body[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k)
      base64.push_back(i + k <= body.size() ? digits[(v >> (18 - 6 * k)) & 0x3F] : '=');
  }
  ASSERT_EQ(base64.substr(base64.size() - 2), "==");  // one byte left for the last group
  const std::string tricky = "q\"u\\o/\x01\x7f\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80";
  // Plain ASCII but for quotes or backslashes, long and short.
  Oks({"init", "add mms inbox --subject " + tricky + " --body " + Save("body.bin", body),
       R"(add sms inbox --text say"hi"and"more" --subject a\b)",
       R"(add sms draft --text a\b\c\d\e\ --subject a"b --time 2026-01-02T03:04:05.25Z)"});
  const std::string exported = Ok("export"), key = "\"content_base64\":\"";
  EXPECT_PRED2(Has, exported, key + base64 + "\"");
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
  });
  // The same base64 with its first letter written as a JSON escape; given twice, the later one
  // counts (here another content, escaped as well).
  ASSERT_EQ(base64[0], 'A');
  std::string escaped = exported, twice = exported;
  escaped.replace(escaped.find(key + base64), key.size() + 1, key + "\\u0041");
  twice.replace(twice.find(key + base64), key.size() + base64.size(),
                key + base64 + "\"," + key + "\\u0042" + base64.substr(1));
  for (const auto& [name, text, kept] : {std::make_tuple("escaped", escaped, base64),
                                         std::make_tuple("twice", twice, "B" + base64.substr(1))}) {
    const std::string f = Save(std::string(name) + ".jsonl", text);
    On(root_ + "/" + name, [&] {
      Ok("import " + f);
      EXPECT_PRED2(Has, Ok("export"), key + kept + "\"") << name;
    });
  }
  // More than one buffer of it to a full disk.
  EXPECT_EQ(ToFull("export"), kIncomplete);
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
  for (const auto& [file, err] : std::vector<std::pair<std::string, std::string>>{
           {cut,
            cut + ": the export is incomplete: it ends at line 7 without its closing line "
                  "{\"type\":\"end\",...} (cut short, or left out messages): nothing imported\n"},
           {counted, counted + ": the export is incomplete: its closing line on line 10 counts "
                               "lines 10 (9 found), sms 2 (1 found): nothing imported\n"},
           {after, after + " line 12: it comes after the closing line on line 11, which ends the "
                           "export: nothing imported\n"},
           {half, half + " line 11: it is not JSON\nmsgstore: " + half +
                      ": the export is incomplete: it ends at line 11 without its closing line "
                      "{\"type\":\"end\",...} (cut short, or left out messages) (2 damaged "
                      "lines): nothing imported\n"}})
    EXPECT_EQ(On(Other(), [&] { return Run("import " + file, 1, "msgstore: " + err); }), "");
  EXPECT_FALSE(fs::exists(Other()));
  // An export that leaves out a message it cannot read fails and has no end: no import takes it.
  std::ofstream(At("EMS/DRAFT/2.sms"), std::ios::trunc) << "xx";
  Result damaged = Tool("export");
  EXPECT_EQ(damaged.status, 1);
  EXPECT_PRED2(Has, damaged.err,
               "1 of 3 messages could not be read and are missing from the export\n");
  EXPECT_PRED2(Has, Lines(damaged.out).back(), R"("type":"account")");
}

// The lines of an export, without the times that the ticks give.
std::vector<JsonValue> Parsed(const std::string& text) {
  std::vector<JsonValue> lines;
  for (const std::string& line : Lines(text)) {
    lines.push_back(JsonValue::parse(line));
    lines.back().erase("time"), lines.back().erase("index_time");
  }
  return lines;
}

TEST_F(BackupTrust, ARoundTripOfEveryStoreGivesTheSameFilesAndRefusesToReplace) {
  // Messages of all three stores on both storages, two accounts of one folder, index records
  // that tie (2 before 1, and 3 of the SIM's inbox in the inbox index), counters ahead of the
  // highest identifier in use, an incoming-server account and the handset's counters.
  const std::string t = " --time 2026-01-01T10:00:00Z";
  const std::string photo = Save("photo.bin", std::string("\0\1M\xff\0", 5));
  Oks({"card insert", "init", "add sms inbox --text one" + t,
       "add sms inbox --text two --read --to +4915112345678" + t,
       "add sms sim-inbox --text sim" + t,
       "add sms inbox --text old --subject Old --time 2025-06-01T00:00:00Z",
       "add sms draft --text gone", "rm sms 5", "--card add sms sent --text card --status 7",
       "add mms inbox --subject Photo --body " + photo + " --mms-text <smil/> --mms-wquick1 7" + t,
       "add mms inbox --text second --mms-value2 4000000000" + t, "add mms none --text n",
       "--card add mms draft --text c --msgid m-1"});
  Oks({"account add --folder 1 --text work --data 5 --wdata1 1 --wdata2 2",
       "account add --folder 1 --text home", "add email inbox --text w1 --account 805306371" + t,
       "add email inbox --text h1 --account 805306372" + t,
       "add email inbox --text w2 --account 805306371" + t,
       "add email sent --text s --read-report -7 --email-text1 x --email-data2 9",
       "--card add email inbox --text c --account 805306372", "account use 805306372 --name Home",
       "counters EmsRecv 7", "counters SentInSim 3"});
  // A subject that is not Unicode and a read value beside 0 and 1, which the tool cannot write.
  msgstore::SetDeviceRoot(root_);
  WCHAR subject[] = {u'a', 0xD800, u'b', 0};
  tagMSGPROPS props = {};
  props.dwFolder = EMS_FOLDER_NONE;
  props.bRead = 5;
  props.pszSubject = subject;
  ASSERT_EQ(EMSMsgStore_WriteMessage(false, &props, 0, nullptr), 7u);

  const std::string exported = Ok("export");
  EXPECT_PRED2(Has, exported, R"("read_value":5,)");
  EXPECT_PRED2(Has, exported, R"("subject_utf16_base64":"YQAA2GIA",)");  // a, unpaired, b
  // The incoming-server account under its registry name and the handset's SMS counters.
  EXPECT_PRED2(Has, exported, R"("incoming_server":805306372,"incoming_server_name":"Home"})");
  EXPECT_PRED2(Has, exported,
               R"({"type":"handset_counters","store":"sms","values":{"EmsRecv":7,"EmsRead":0,)"
               R"("Ems_SDRecv":0,"Ems_SDRead":0,"SentInSim":3,"UnsentInSim":0}})");
  // Each account's inbox index gives the places of its messages: w2 before w1, tied in time.
  for (const char* place :
       {R"("content_text":"w1","index_position":1})", R"("content_text":"w2","index_position":0})"})
    EXPECT_PRED2(Has, exported, place);
  const std::string path = Save("device.jsonl", exported);
  const auto source = Trees(root_);
  On(Other(), [&] {
    Steps({{"card insert", 0, "memory card inserted\n"},
           {"import " + path, 0, "imported 15 messages (sms 6, mms 4, email 5) and 2 accounts\n"}});
    EXPECT_EQ(Trees(root_), source);
    Steps({{"export", 0, exported},
           {"add sms draft --text next", 0, "message 8 stored in phone draft\n"},
           {"account add --folder 1 --text third", 0, "account 805306373 added to folder 1\n"}});
  });
  Refuses("import " + path, 1,
          "the device already holds sms message 1 (phone inbox) and 16 more, which the import "
          "would replace: nothing imported (--replace replaces them)\n");
}

// Every field of every record, each set to a value of its own, comes back from an import onto a
// fresh root as it was. A damaged line, one case for each thing wrong with it, is refused whole,
// even with --replace on a device that holds the messages.
TEST_F(BackupTrust, EveryFieldComesBackAsImportedAndEachDamagedLineIsRefused) {
  Oks({"init", "account add --folder 3 --text abcde", "add sms sent --text s",
       "add mms sent --text m", "add email sent --text e"});
  std::vector<JsonValue> lines = Parsed(Ok("export"));
  unsigned n = 10000;  // each value its own, within 16 bits and five characters
  // Every field at its default but the places, each a value of its own, the times apart.
  for (JsonValue& j : lines) {
    std::map<std::string, std::string> times;  // the ISO time of each ticks set
    for (auto& field : j.items()) {
      JsonValue& v = field.value();
      if (j.contains("type") && !Has(field.key(), "position") && (v == 0 || v == "" || v == false))
        v = v == "" ? JsonValue(std::to_string(++n)) : v == 0 ? JsonValue(++n) : JsonValue(true);
      if (Has(field.key(), "time_ticks"))
        v = ++n, times[field.key().substr(0, field.key().size() - 6)] =
                     msgstore::FormatTime(msgstore::FromTicks(n));
    }
    for (const auto& [key, iso] : times) j[key] = iso;
  }
  auto file = [&](size_t at, const JsonValue& line) {
    std::string all;
    for (size_t i = 0; i < lines.size(); ++i) all += (i == at ? line : lines[i]).dump() + "\n";
    return Save("import.jsonl", all);
  };
  // One case for each thing wrong with a line: the line, what is changed in it, the refusal.
  const std::vector<std::tuple<size_t, JsonValue, std::string>> damaged = {
      {0, {{"version", 3}}, "the export has format version 3; this msgstore reads version 2"},
      {3, {{"to", nullptr}}, "it has no \"to\""},
      {3, {{"subject", 5}}, "\"subject\" is not a string"},
      {5, {{"store", "sms"}}, "sms message 1 is also on line 4"},
      {5, {{"mms_wvalue1", 65536}}, "\"mms_wvalue1\" is not a number from 0 to 65535"},
      {5, {{"content_base64", "bQ=A"}}, "\"content_base64\" is not base64"},
      {5, {{"content_base64", "bR=="}}, "\"content_base64\" is not base64"},  // bits under '='
      {5, {{"content_base64", "bQ==bQ=="}}, "\"content_base64\" is not base64"},
      {5, {{"content_size", 3}}, "\"content_base64\" holds 2 bytes, \"content_size\" says 3"},
      {7, {{"read_report", 2147483648u}}, "\"read_report\" is not a number from -2147483648 to"},
      {9, {{"id", 0}}, "\"id\" 0 is no account identifier"},
      {2,
       {{"values", {{"SentInSim", nullptr}, {"SentInSIM", 3}}}},
       "\"values\" names no counter of the handset: SentInSIM (counters: EmsRecv, EmsRead, "
       "Ems_SDRecv, Ems_SDRead, SentInSim, UnsentInSim)"},
      // What a tool that reads numbers as doubles writes back: the nearest double, as a whole
      // number or not; and an ISO time edited without its ticks.
      {3,
       {{"time", "2026-01-02T03:04:05.1234567Z"}, {"time_ticks", 134117966451234560u}},
       "\"time\" 2026-01-02T03:04:05.1234567Z and \"time_ticks\" 134117966451234560 are not the "
       "same time: a JSON tool that reads numbers as doubles keeps whole numbers exact only up to "
       "2^53 and rounded them (\"time\" gives 134117966451234567): nothing imported\n"},
      {3,
       {{"time_ticks", 1.3411796645123456e+17}},
       "\"time_ticks\" 1.3411796645123456e+17 is not a whole number:"},
      {3,
       {{"time", "2026-01-03T03:04:05.1234567Z"}, {"time_ticks", 134117966451234567u}},
       "\"time\" 2026-01-03T03:04:05.1234567Z and \"time_ticks\" 134117966451234567 are not the "
       "same time (\"time\" gives 134118830451234567); an edited time needs its ticks edited "
       "too: nothing imported\n"}};
  for (const auto& [at, patch, error] : damaged) {
    JsonValue line = lines[at];
    line.merge_patch(patch);
    Refuses("import --replace " + file(at, line), 1,
            root_ + "/import.jsonl line " + std::to_string(at + 1) + ": " + error);
  }
  // A name the registry cannot keep.
  JsonValue named = lines[8];
  named.merge_patch({{"incoming_server", 805306371}, {"incoming_server_name", "Ho me"}});
  Refuses("import --replace " + file(8, named), 1,
          "account name 'Ho me' must be 1 to 15 letters, digits, '_' or '-'\n");
  const std::string whole = file(0, lines[0]);
  for (JsonValue& j : lines) j.erase("time"), j.erase("index_time");
  EXPECT_EQ(On(Other(), [&] { return Ok("import " + whole), Parsed(Ok("export")); }), lines);
}

// count only reads: the download folder stays as it is; settle says what it moved and deleted.
TEST_F(BackupTrust, CountReadsOnlyAndSettleSaysWhatItMovedAndDeleted) {
  Oks({"init", "add mms autodownload --text a --text1 url", "add mms autodownload --text b",
       "add mms inbox --text c --status 104 --text1 url", "add mms inbox --text d --status 104"});
  // A card message that shares its identifier with phone message 3.
  Oks({"card insert", "init", "add mms inbox --card --text e"});
  fs::rename(At("MMS/INBOX/5.mms", true), At("MMS/INBOX/3.mms", true));
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
  EXPECT_EQ(Ok("check"), R"(STORE     INDEX     FILES  RECORDS  STATE
sms       inbox         0        0  ok
sms       draft         1        1  ok
sms       sent          0        0  ok
sms       unsent        0        0  ok
sms       report        0        0  ok
sms       spam          0        0  ok
sms       counter                   ok: last identifier 1, highest identifier in use 1
mms       inbox         0        0  ok
mms       draft         1        1  ok
mms       sent          0        0  ok
mms       unsent        0        0  ok
mms       report        0        0  ok
mms       spam          0        0  ok
mms       counter                   ok: last identifier 1, highest identifier in use 1
email     draft         1        1  ok
email     sent          0        0  ok
email     unsent        0        0  ok
email     report        0        0  ok
email     spam          0        0  ok
email     counter                   ok: last identifier 1, highest identifier in use 1
accounts  database                  ok: 1 account, counter 805306371
)");
  const JsonValue counts = Json("count");
  EXPECT_EQ(counts["sms"]["folders"]["draft"]["phone"], 1);
  EXPECT_EQ(counts["email"]["folders"]["draft"]["phone"], 1);
  EXPECT_EQ(Json("refresh")["refreshed"], (JsonValue{"sms", "mms", "email"}));
  EXPECT_EQ(Ok("refresh"),
            "sms: rebuilt the phone index files of inbox, sent and unsent (draft, report and spam "
            "only where missing; --all rebuilds them too)\nmms: rebuilt the phone index files that "
            "were missing (--all rebuilds the others too)\nemail: rebuilt the phone index files "
            "that were missing (--all rebuilds the others too)\n");

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
  EXPECT_EQ(Ok("ls sms inbox --index"),
            "ID  FOLDER     TIME  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 3  sim-inbox  -     -          -  -   (index record without a file)\n");
}

// A stray "007.sms" beside "7.sms": check --fix leaves the problem it found and no more.
TEST_F(BackupTrust, CheckFixNeverLeavesMoreProblemsThanItFound) {
  Oks({"init"});
  for (int i = 0; i < 7; ++i) Ok("add sms inbox --text m");
  fs::copy_file(At("EMS/INBOX/7.sms"), At("EMS/INBOX/007.sms"));
  for (const auto& [cmd, then] : std::vector<std::pair<std::string, std::string>>{
           {"check sms", " (msgstore check sms --fix rebuilds them)\n"},
           {"check sms --fix",
            " after the repair: files not named by a message identifier stay "
            "until renamed or removed\n"}})
    EXPECT_PRED2(Has, Run(cmd, 1, "msgstore: 1 index differs from the folders" + then),
                 "inbox        7        7  1 problem\n");
  EXPECT_EQ(Lines(Ok("ls sms inbox --index")).size(), 8u);  // seven records and the header
}

}  // namespace
}  // namespace tool_test
