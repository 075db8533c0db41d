// msgstore export and import: a device exported and imported onto a fresh root gives the same
// files byte for byte; an import that would replace stored messages changes nothing.
#include "msgstore/msgstore.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

class ImportTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    fs::create_directory(copy_ = root_ + "/copy");
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
  std::string copy_;  // copy_: the other device root, also home of the export files
};

// The identifiers of an index file's records, in order.
std::vector<unsigned> Records(const std::string& bytes) {
  std::vector<unsigned> oids;
  for (size_t i = 0; i + 16 <= bytes.size(); i += 16)
    oids.push_back(static_cast<unsigned char>(bytes[i + 4]) |
                   static_cast<unsigned char>(bytes[i + 5]) << 8);
  return oids;
}

TEST_F(ImportTest, ARoundTripOfEveryStoreGivesTheSameFilesAndRefusesToReplace) {
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
  // A damaged last line: even with --replace, nothing of the lines before it is written.
  const std::string damaged = File("damaged.jsonl", exported.substr(0, exported.size() - 3));
  On(copy_, [&] {
    Refuses("import --replace " + damaged, 1,
            damaged + " line " + std::to_string(Lines(exported).size()) +
                ": it is not JSON: nothing imported\n");
    return 0;
  });
}

}  // namespace
}  // namespace tool_test
