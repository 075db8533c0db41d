// msgstore export and import: a device exported and imported onto a fresh root gives the same
// files byte for byte; an import that would replace stored messages changes nothing.
#include "msgstore/msgstore.h"
#include "msgstore/text.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;
using JsonValue = nlohmann::json;

class ImportTest : public ToolTest {
 protected:
  // The lines of an export, without the times that the ticks give.
  std::vector<JsonValue> Parsed(const std::string& text) {
    std::vector<JsonValue> lines;
    for (const std::string& line : Lines(text)) {
      lines.push_back(JsonValue::parse(line));
      lines.back().erase("time"), lines.back().erase("index_time");
    }
    return lines;
  }
};

TEST_F(ImportTest, ARoundTripOfEveryStoreGivesTheSameFilesAndRefusesToReplace) {
  // Messages of all three stores on both storages, two accounts of one folder, index records
  // that tie (2 before 1, and 3 of the SIM's inbox in the inbox index), counters ahead of the
  // highest identifier in use, an incoming-server account and the handset's counters.
  const std::string t = " --time 2026-01-01T10:00:00Z";
  Oks({"card insert",
       "init",
       "add sms inbox --text one" + t,
       "add sms inbox --text two --read --to +4915112345678" + t,
       "add sms sim-inbox --text sim" + t,
       "add sms inbox --text old --subject Old --time 2025-06-01T00:00:00Z",
       "add sms draft --text gone",
       "rm sms 5",
       "--card add sms sent --text card --status 7",
       "add mms inbox --subject Photo --body " + Save("photo.bin", std::string("\0\1M\xff\0", 5)) +
           " --mms-text <smil/> --mms-wquick1 7" + t,
       "add mms inbox --text second --mms-value2 4000000000" + t,
       "add mms none --text n",
       "--card add mms draft --text c --msgid m-1",
       "account add --folder 1 --text work --data 5 --wdata1 1 --wdata2 2",
       "account add --folder 1 --text home",
       "add email inbox --text w1 --account 805306371" + t,
       "add email inbox --text h1 --account 805306372" + t,
       "add email inbox --text w2 --account 805306371" + t,
       "add email sent --text s --read-report -7 --email-text1 x --email-data2 9",
       "--card add email inbox --text c --account 805306372",
       "account use 805306372 --name Home",
       "counters EmsRecv 7",
       "counters SentInSim 3"});
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
  const std::string path = Save("device.jsonl", exported);
  const std::string imported = "imported 15 messages (sms 6, mms 4, email 5) and 2 accounts\n";
  On(Other(), [&] { return Ok("card insert"); });
  EXPECT_EQ(On(Other(), [&] { return Ok("import " + path); }), imported);
  auto source = Trees(root_);
  EXPECT_EQ(Trees(Other()), source);
  EXPECT_EQ(On(Other(), [&] { return Ok("export"); }), exported);
  EXPECT_EQ(On(Other(), [&] { return Ok("add sms draft --text next"); }),
            "message 8 stored in phone draft\n");
  EXPECT_EQ(On(Other(), [&] { return Ok("account add --folder 1 --text third"); }),
            "account 805306373 added to folder 1\n");
  Refuses("import " + path, 1,
          "the device already holds sms message 1 (phone inbox) and 16 more, which the import "
          "would replace: nothing imported (--replace replaces them)\n");
}

// Every field of every record, each set to a value of its own, comes back from an import onto a
// fresh root as it was. A damaged line, one case for each thing wrong with it, is refused whole,
// even with --replace on a device that holds the messages.
TEST_F(ImportTest, EveryFieldComesBackAsImportedAndEachDamagedLineIsRefused) {
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

}  // namespace
}  // namespace tool_test
