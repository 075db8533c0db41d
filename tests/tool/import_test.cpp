// msgstore export and import: a device exported and imported onto a fresh root gives the same
// files byte for byte; imports that would replace stored messages, and damaged files, change
// nothing.
#include "msgstore/msgstore.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

class ImportTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    top_ = root_;
    fs::create_directory(copy_ = root_ + "/copy");
  }
  void TearDown() override {
    root_ = top_;  // tests move to other roots under it
    ToolTest::TearDown();
  }
  std::string File(const std::string& name, const std::string& text) {
    std::ofstream(copy_ + "/" + name, std::ios::binary) << text;
    return copy_ + "/" + name;
  }
  // Every file and directory of both storages, by its path under the root.
  std::map<std::string, std::string> Trees(const std::string& root) {
    std::map<std::string, std::string> trees;
    for (const auto& [path, bytes] : On(root, [&] { return Device(); }))
      if (Starts(path, root + "/DiskOnChip") || Starts(path, root + "/SD Card"))
        trees[path.substr(root.size())] = bytes;
    return trees;
  }
  std::string top_, copy_;  // copy_: the other device root, also home of the export files
};

// The identifiers of an index file's records, in order.
std::vector<unsigned> Records(const std::string& bytes) {
  std::vector<unsigned> oids;
  for (size_t i = 0; i + 16 <= bytes.size(); i += 16)
    oids.push_back(static_cast<unsigned char>(bytes[i + 4]) |
                   static_cast<unsigned char>(bytes[i + 5]) << 8);
  return oids;
}

TEST_F(ImportTest, ARoundTripOfEveryStoreGivesTheSameFilesAndReplacesOnlyWhenTold) {
  // Messages of all three stores on both storages, two accounts of one folder, index records
  // that tie (2 before 1, and 3 of the SIM's inbox in the inbox index), and counters ahead of
  // the highest identifier in use.
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
       "add mms inbox --subject Photo --body " + File("photo.bin", std::string("\0\1M\xff\0", 5)) +
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
       "--card add email inbox --text c --account 805306372"});
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
  const std::string path = File("device.jsonl", exported);
  const std::string imported = "imported 15 messages (sms 6, mms 4, email 5) and 2 accounts\n";
  On(copy_, [&] { return Ok("card insert"); });
  EXPECT_EQ(On(copy_, [&] { return Ok("import " + path); }), imported);
  auto source = Trees(root_);
  EXPECT_EQ(Trees(copy_), source);
  // The comparison covers the files that order and counters decide.
  const std::string msg = "/DiskOnChip/User/MESSAGING/";
  EXPECT_EQ(Records(source.at(msg + "EMS/INBOX/EmsIni")), (std::vector<unsigned>{3, 2, 1, 4}));
  EXPECT_EQ(Records(source.at(msg + "Email/INBOX/805306371_EmailIni")),
            (std::vector<unsigned>{3, 1}));
  EXPECT_EQ(source.count(msg + "MMS/NONE/3.mms"), 1u);
  EXPECT_EQ(On(copy_, [&] { return Ok("export"); }), exported);
  EXPECT_EQ(On(copy_, [&] { return Ok("add sms draft --text next"); }),
            "message 8 stored in phone draft\n");
  EXPECT_EQ(On(copy_, [&] { return Ok("account add --folder 1 --text third"); }),
            "account 805306373 added to folder 1\n");
  Refuses("import " + path, 1,
          "the device already holds sms message 1 (phone inbox) and 16 more, which the import "
          "would replace: nothing imported (--replace replaces them)\n");
  // Another device: message 1 in another folder, message 10 of its own, and an account of an
  // exported identifier.
  root_ += "/other";
  Oks({"card insert", "init", "add sms draft --text one-in-draft"});
  std::ofstream(At("EMS/EmsDB.ini"), std::ios::binary) << std::string("\x09\0\0\0", 4);
  Oks({"add sms draft --text d10", "account add --folder 2 --text theirs"});
  Refuses("import " + path, 1, "the device already holds sms message 1 (phone draft) and 1 more");
  EXPECT_EQ(Ok("import --replace " + path),
            imported + "replaced 1 stored message and 1 stored account\n");
  EXPECT_FALSE(fs::exists(At("EMS/DRAFT/1.sms")));
  EXPECT_EQ(Json("show sms 1").at("folder"), "inbox");
  EXPECT_EQ(Json("show sms 10").at("content_text"), "d10");
  EXPECT_EQ(Json("account show 805306371").at("text"), "work");
  EXPECT_EQ(Tool("check").status, 0);
}

TEST_F(ImportTest, TheExportFormatIsFixed) {
  Ok("init");
  Ok("add sms inbox --text Hi --subject S --to +49 --msgid m --status 3 --time "
     "2026-01-01T00:00:00Z");
  EXPECT_EQ(Ok("export sms"),
            R"({"format":"msgstore-export","version":1,"stores":["sms"],"accounts":false,)"
            R"("card_inserted":false,"trees":{"phone":["sms"],"card":[]}})"
            "\n"
            R"({"type":"counter","store":"sms","file":"EmsDB.ini","value":1})"
            "\n"
            R"({"type":"message","store":"sms","storage":"phone","folder":"inbox","id":1,)"
            R"("record_id":1,"record_folder":1,"read":false,"status":3,)"
            R"("index_time":"2026-01-01T00:00:00Z","index_time_ticks":134116992000000000,)"
            R"("time":"2026-01-01T00:00:00Z","time_ticks":134116992000000000,"to":"+49",)"
            R"("subject":"S","msg_id":"m","text1":"","text2":"","text3":"","text4":"",)"
            R"("user1":0,"user2":0,"user3":0,"wuser1":0,"wuser2":0,"content_size":4,)"
            R"("content_base64":"SABpAA==","content_text":"Hi","index_position":0})"
            "\n");
  EXPECT_EQ(Lines(Ok("export accounts")).at(1),
            R"({"type":"accounts","database":false,"database_size":null,"counter":null})");
  // Accounts alone come back onto a fresh root, and their counter goes on.
  Oks({"account add --folder 3 --text x", "account add --folder 1 --text y --data 4000000000"});
  const std::string path = File("accounts.jsonl", Ok("export accounts"));
  EXPECT_EQ(On(copy_, [&] { return Ok("import " + path); }),
            "imported 0 messages and 2 accounts\n");
  const std::string db = "/DiskOnChip/User/MESSAGING/EmailAccMsgStore.db";
  EXPECT_EQ(Trees(copy_).at(db), Trees(root_).at(db));
  EXPECT_EQ(On(copy_, [&] { return Ok("account add --folder 3 --text next"); }),
            "account 805306373 added to folder 3\n");
}

TEST_F(ImportTest, ADamagedLineIsReportedWithItsNumberAndNothingIsWritten) {
  Oks({"init", "add sms inbox --text a --time 2026-01-01T00:00:00Z",
       "add sms inbox --text b --time 2026-01-01T00:00:00Z"});
  const std::vector<std::string> lines = Lines(Ok("export sms"));
  ASSERT_EQ(lines.size(), 4u);
  int files = 0;
  auto with = [&](size_t index, const std::string& from, const std::string& to) {
    std::string text, line;
    for (size_t i = 0; i < lines.size(); text += line + "\n", ++i) {
      size_t at = (line = lines[i]).find(from);
      EXPECT_TRUE(i != index || at != std::string::npos) << from;
      if (i == index && at != std::string::npos) line.replace(at, from.size(), to);
    }
    return File("damaged" + std::to_string(++files) + ".jsonl", text);
  };
  // The target holds a message that none of the imports may touch.
  root_ = copy_;
  Oks({"init", "add sms draft --text kept"});
  for (const auto& [file, err] : std::vector<std::pair<std::string, std::string>>{
           {with(3, "{", "{{"), "line 4: it is not JSON"},
           {with(2, R"("read":false)", R"("read":0)"), R"(line 3: "read" is not true or false)"},
           {with(3, R"("content_base64":"YgA=")", R"("content_base64":"Yg!=")"),
            R"(line 4: "content_base64" is not base64)"},
           {with(3, R"("content_size":2)", R"("content_size":3)"),
            R"(line 4: "content_base64" holds 2 bytes, "content_size" says 3)"},
           {with(3, R"("phone","folder":"inbox")", R"("card","folder":"report")"),
            "line 4: the memory card has no sms report folder"},
           {with(3, R"("id":2)", R"("id":1)"), "line 4: sms message 1 is also on line 3"},
           {with(0, R"("version":1)", R"("version":2)"),
            "line 1: the export has format version 2; this msgstore reads version 1"},
           {File("empty.jsonl", ""), "is empty: it is not a msgstore export"},
       })
    Refuses("import " + file, 1, file + " " + err + ": nothing imported\n");
  Refuses("import " + copy_ + "/missing.jsonl", 1, "cannot open '" + copy_ + "/missing.jsonl'\n");
  // Every damaged line is named; the last one ends the report.
  const std::string two =
      File("two.jsonl", lines[0] + "\n" + lines[1] + "\n[]\n" + lines[3].substr(0, 20) + "\n");
  Run("import " + two, 1,
      "msgstore: " + two + " line 3: it is not a JSON object\nmsgstore: " + two +
          " line 4: it is not JSON (2 damaged lines): nothing imported\n");
}

TEST_F(ImportTest, CardMessagesNeedACardAndUnwritableMessagesAreSkipped) {
  Oks({"card insert", "init", "--card add sms inbox --text c", "account add --folder 1 --text work",
       "add email draft --text d"});
  // The e-mail store lists its none folder but names no file there: it cannot write a message
  // into it.
  fs::copy_file(At("Email/DRAFT/1.email"), At("Email/NONE/9.email"));
  const std::string path = File("device.jsonl", Ok("export"));
  auto source = Trees(root_);
  source.erase("/DiskOnChip/User/MESSAGING/Email/NONE/9.email");
  root_ = copy_;
  Ok("init");
  Refuses("import " + path, 1, "the export holds 1 message of the memory card, but no memory card");
  Ok("card insert");
  EXPECT_EQ(Run("import " + path, 1,
                "msgstore: warning: line 7: email message 9 of the none folder cannot be "
                "restored: the store writes no message there\nmsgstore: 1 of 3 messages could "
                "not be restored\n"),
            "imported 2 messages (sms 1, mms 0, email 1) and 1 account\n");
  EXPECT_EQ(Trees(copy_), source);
}

}  // namespace
}  // namespace tool_test
