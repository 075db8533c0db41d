// The message commands of the tool, run as a user runs them: init, add, ls,
// show, mark, mv, rm, empty, count, refresh, check and export, on fresh and on
// damaged devices.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/msgstore.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using nlohmann::json;

class StoreCommands : public ToolTest {
 protected:
  void InsertCard() { Ok({"card", "insert"}); }
  // Adds a message and returns its identifier from the --json answer.
  DWORD Add(std::vector<std::string> args) {
    args.insert(args.begin(), {"--json", "add", "sms"});
    json j = json::parse(Ok(args));
    return j.at("id").get<DWORD>();
  }
  // Writes messages straight through the library in this process, on the same
  // device root.
  void FillThroughLibrary(bool card, DWORD folder, int n) {
    msgstore::SetDeviceRoot(root_);
    for (int i = 0; i < n; ++i) {
      tagMSGPROPS props = {};
      props.dwFolder = folder;
      props.ftIndexTime = {static_cast<DWORD>(1000 + i), 0x01D00000u};
      props.ftTime = props.ftIndexTime;
      ASSERT_NE(EMSMsgStore_WriteMessage(card, &props, 0, nullptr), 0u) << i;
    }
  }
  void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }
};

TEST_F(StoreCommands, InitMakesThePhoneTreeAndTheCardTreeOnlyWhenInserted) {
  EXPECT_EQ(Ok({"init"}), "device root " + root_ +
                              "\nmade the message tree in phone memory\n"
                              "no memory card is inserted: its tree is made by 'msgstore init' "
                              "once it is\n");
  for (const char* dir : {"INBOX", "DRAFT", "SENT", "UNSENT", "REPORT", "SPAM", "NONE", "SIM_INBOX",
                          "SIM_SENT", "SIM_UNSENT"})
    EXPECT_TRUE(std::filesystem::is_directory(Ems(dir))) << dir;
  EXPECT_FALSE(std::filesystem::exists(root_ + "/SD Card"));

  InsertCard();
  json j = json::parse(Ok({"--json", "init"}));
  EXPECT_EQ(j.at("card"), true);
  EXPECT_EQ(j.at("phone"), true);
  for (const char* dir : {"INBOX", "DRAFT", "SENT", "UNSENT", "SPAM"})
    EXPECT_TRUE(std::filesystem::is_directory(CardEms(dir))) << dir;
  EXPECT_FALSE(std::filesystem::exists(CardEms("REPORT")));
}

TEST_F(StoreCommands, RootComesFromMsgstoreRootWhenNotGiven) {
  Result r = RunTool({"init"}, {{"MSGSTORE_ROOT", root_}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(Ems("INBOX")));
  r = RunTool({"init"}, {{"MSGSTORE_ROOT", ""}, {"XDG_DATA_HOME", root_ + "/xdg"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(
      std::filesystem::is_directory(root_ + "/xdg/msgstore/device/DiskOnChip/User/MESSAGING/EMS"));
}

TEST_F(StoreCommands, AddListsNewestFirstAndShowsEveryField) {
  Ok({"init"});
  EXPECT_EQ(Ok({"add", "sms", "inbox", "--to", "+111", "--subject", "First", "--time",
                "2026-01-01T10:00:00Z"}),
            "message 1 stored in phone inbox\n");
  EXPECT_EQ(Add({"inbox", "--to", "+222", "--text", "Second text", "--time",
                 "2026-01-02T11:00:00+01:00", "--read", "--status", "3"}),
            2u);
  EXPECT_EQ(Add({"inbox", "--text", "Third", "--time", "2025-12-31"}), 3u);

  EXPECT_EQ(Ok({"ls", "sms", "inbox"}),
            "ID  TIME                  READ  STATUS  TO    SUBJECT / TEXT\n"
            " 2  2026-01-02T10:00:00Z  yes        3  +222  Second text\n"
            " 1  2026-01-01T10:00:00Z  no         0  +111  First\n"
            " 3  2025-12-31T00:00:00Z  no         0        Third\n");
  json list = json::parse(Ok({"--json", "ls", "sms", "1"}));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].at("id"), 2);
  EXPECT_EQ(list[0].at("read"), true);
  EXPECT_EQ(list[0].at("summary"), "Second text");
  EXPECT_EQ(list[2].at("index_time"), "2025-12-31T00:00:00Z");

  std::string shown = Ok({"show", "sms", "2"});
  for (const char* line :
       {"id          2\n", "storage     phone memory\n", "folder      inbox\n", "read        yes\n",
        "status      3\n", "index time  2026-01-02T10:00:00Z\n", "to          +222\n",
        "content     22 bytes, UTF-16 text:\nSecond text\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << "\nin\n" << shown;

  json one = json::parse(Ok({"--json", "show", "sms", "2"}));
  EXPECT_EQ(one.at("to"), "+222");
  EXPECT_EQ(one.at("time_ticks"), one.at("index_time_ticks"));
  EXPECT_EQ(one.at("content_text"), "Second text");
  EXPECT_EQ(Base64Decode(one.at("content_base64")), Utf16Le(u"Second text"));
  EXPECT_EQ(Ok({"show", "sms", "2", "--raw"}), Utf16Le(u"Second text"));
}

TEST_F(StoreCommands, TextOutsideTheBasicPlaneRoundTripsAsSurrogatePairs) {
  Ok({"init"});
  DWORD id = Add({"draft", "--subject", "Grüße", "--text", "smile \xF0\x9F\x98\x80!"});
  EXPECT_EQ(Ok({"show", "sms", std::to_string(id), "--raw"}), Utf16Le(u"smile \U0001F600!"));
  json one = json::parse(Ok({"--json", "show", "sms", std::to_string(id)}));
  EXPECT_EQ(one.at("subject"), "Grüße");
  EXPECT_EQ(one.at("content_text"), "smile \xF0\x9F\x98\x80!");
}

TEST_F(StoreCommands, BinaryContentShowsAsHex) {
  Ok({"init"});
  msgstore::SetDeviceRoot(root_);
  BYTE data[] = {0x01, 0x02, 'A', 0xFF, 0x00};
  tagMSGPROPS props = {};
  props.dwFolder = EMS_FOLDER_SENT;
  props.pData = data;
  props.cbData = sizeof data;
  DWORD id = EMSMsgStore_WriteMessage(false, &props, 0, nullptr);
  ASSERT_NE(id, 0u);
  std::string shown = Ok({"show", "sms", std::to_string(id)});
  EXPECT_NE(shown.find("content     5 bytes, binary:\n"
                       "00000000  01 02 41 ff 00                                   |..A..|\n"),
            std::string::npos)
      << shown;
  json one = json::parse(Ok({"--json", "show", "sms", std::to_string(id)}));
  EXPECT_FALSE(one.contains("content_text"));
  EXPECT_EQ(Base64Decode(one.at("content_base64")), std::string("\x01\x02"
                                                                "A\xFF\x00",
                                                                5));
}

TEST_F(StoreCommands, FullPhoneInboxRefusesWithoutAutoAndGoesToTheCardWithIt) {
  InsertCard();
  Ok({"init"});
  FillThroughLibrary(false, EMS_FOLDER_INBOX, 100);
  auto before = Device();
  EXPECT_EQ(Fails({"add", "sms", "inbox", "--text", "x"}, 1),
            "msgstore: the phone inbox is full (100 messages): message refused (--auto lets the "
            "store put it on the other storage)\n");
  EXPECT_EQ(Device(), before);

  EXPECT_EQ(Ok({"add", "sms", "inbox", "--text", "x", "--auto"}),
            "message 101 stored in card inbox\n"
            "note: the phone inbox is full (100 messages): the store put the message on the "
            "memory card\n");
  json j = json::parse(Ok({"--json", "add", "sms", "inbox", "--text", "y", "--auto"}));
  EXPECT_EQ(j.at("storage"), "card");
  EXPECT_EQ(j.at("chosen_by_store"), true);
  EXPECT_EQ(json::parse(Ok({"--json", "--card", "ls", "sms", "inbox"})).size(), 2u);

  Ok({"card", "eject"});
  before = Device();
  EXPECT_EQ(Fails({"add", "sms", "inbox", "--text", "z", "--auto"}, 1),
            "msgstore: the phone inbox is full (100 messages) and no memory card is inserted: "
            "message not stored\n");
  EXPECT_EQ(Device(), before);
}

TEST_F(StoreCommands, FullDraftFolderEvictsItsOldestMessageAndSaysSo) {
  Ok({"init"});
  FillThroughLibrary(false, EMS_FOLDER_DRAFT, 100);
  EXPECT_EQ(Ok({"add", "sms", "draft", "--text", "new"}),
            "message 101 stored in phone draft\n"
            "note: the phone draft was full (100 messages): the store removed its oldest "
            "message 1\n");
  EXPECT_FALSE(std::filesystem::exists(Ems("DRAFT/1.sms")));
  EXPECT_EQ(json::parse(Ok({"--json", "ls", "sms", "draft"})).size(), 100u);
}

TEST_F(StoreCommands, MarkMoveAndRemoveWorkByIdentifier) {
  Ok({"init"});
  DWORD id = Add({"inbox", "--text", "hello"});
  EXPECT_EQ(Ok({"mark", "sms", std::to_string(id), "--read", "--status", "7"}),
            "message 1 in phone inbox: read, status 7\n");
  json j = json::parse(Ok({"--json", "show", "sms", "1"}));
  EXPECT_EQ(j.at("read"), true);
  EXPECT_EQ(j.at("status"), 7);
  j = json::parse(Ok({"--json", "mark", "sms", "1", "--unread"}));
  EXPECT_EQ(j.at("read"), false);
  EXPECT_EQ(j.at("status"), 7);

  EXPECT_EQ(Ok({"mv", "sms", "1", "spam"}),
            "message 1 in phone inbox moved to phone spam as message 2\n");
  EXPECT_EQ(json::parse(Ok({"--json", "ls", "sms", "inbox"})).size(), 0u);
  json spam = json::parse(Ok({"--json", "ls", "sms", "spam"}));
  ASSERT_EQ(spam.size(), 1u);
  EXPECT_EQ(spam[0].at("id"), 2);
  EXPECT_EQ(spam[0].at("status"), 7);
  EXPECT_EQ(spam[0].at("summary"), "hello");

  EXPECT_EQ(Ok({"rm", "sms", "2"}), "deleted message 2 in phone spam\n");
  EXPECT_FALSE(std::filesystem::exists(Ems("SPAM/2.sms")));
  EXPECT_EQ(Fails({"rm", "sms", "2"}, 1), "msgstore: no message 2 in phone memory\n");
  EXPECT_EQ(Fails({"mark", "sms", "2", "--read"}, 1), "msgstore: no message 2 in phone memory\n");
}

TEST_F(StoreCommands, CardMessagesNeedTheCardOption) {
  InsertCard();
  Ok({"init"});
  DWORD id = Add({"draft", "--text", "on card", "--card"});
  EXPECT_TRUE(std::filesystem::exists(CardEms("DRAFT/" + std::to_string(id) + ".sms")));
  EXPECT_EQ(Fails({"show", "sms", std::to_string(id)}, 1),
            "msgstore: no message 1 in phone memory (it is on the memory card: add --card)\n");
  auto before = Device();
  EXPECT_EQ(Fails({"--card", "mv", "sms", "1", "report"}, 1),
            "msgstore: folder report does not exist on the memory card\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok({"--card", "mv", "sms", "1", "sent"}),
            "message 1 in card draft moved to card sent as message 2\n");
  EXPECT_EQ(json::parse(Ok({"--json", "--card", "show", "sms", "2"})).at("folder"), "sent");
}

TEST_F(StoreCommands, EmptyAndCountOverBothStorages) {
  InsertCard();
  Ok({"init"});
  Add({"inbox", "--text", "a"});
  Add({"inbox", "--text", "b", "--read"});
  Add({"inbox", "--text", "c", "--card"});
  Add({"sim-inbox", "--text", "d"});
  Add({"spam", "--text", "e", "--card"});
  json c = json::parse(Ok({"--json", "count"}));
  EXPECT_EQ(c.at("folders").at("inbox"), json({{"phone", 2}, {"card", 1}, {"total", 3}}));
  EXPECT_EQ(c.at("folders").at("spam"), json({{"phone", 0}, {"card", 1}, {"total", 1}}));
  EXPECT_EQ(c.at("folders").at("sim-inbox"), json({{"phone", 1}, {"total", 1}}));
  EXPECT_EQ(c.at("sim_total"), 1);
  EXPECT_EQ(c.at("unread_inbox"), json({{"phone", 1}, {"card", 1}}));
  std::vector<std::string> table = Lines(Ok({"count"}));
  ASSERT_EQ(table.size(), 13u);
  EXPECT_EQ(table[0], "FOLDER           PHONE  CARD  TOTAL");
  EXPECT_EQ(table[1], "inbox                2     1      3");
  EXPECT_EQ(table[5], "report               0     -      0");

  EXPECT_EQ(Ok({"empty", "sms", "inbox"}),
            "emptied the phone inbox: 2 messages deleted\n"
            "note: the index keeps its records until 'msgstore refresh' (or until the messages "
            "are looked up)\n");
  EXPECT_EQ(Ok({"--card", "empty", "sms", "spam"}), "emptied the card spam: 1 message deleted\n");
  c = json::parse(Ok({"--json", "count"}));
  EXPECT_EQ(c.at("folders").at("inbox"), json({{"phone", 0}, {"card", 1}, {"total", 1}}));
  EXPECT_EQ(c.at("folders").at("spam").at("card"), 0);
}

TEST_F(StoreCommands, CheckFindsIndexDriftAndFixRepairsIt) {
  Ok({"init"});
  Add({"inbox", "--text", "a", "--time", "2026-01-01T00:00:00Z"});
  Add({"inbox", "--text", "b", "--time", "2026-01-02T00:00:00Z"});
  Add({"draft", "--text", "c"});
  EXPECT_EQ(Ok({"check"}),
            "INDEX   FILES  RECORDS  STATE\n"
            "inbox       2        2  ok\n"
            "draft       1        1  ok\n"
            "sent        0        0  ok\n"
            "unsent      0        0  ok\n"
            "report      0        0  ok\n"
            "spam        0        0  ok\n");

  std::filesystem::remove(Ems("INBOX/1.sms"));
  std::filesystem::remove(Ems("DRAFT/3.sms"));
  Result r = Tool({"check"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("inbox       1        2  1 problem\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("inbox: message 1 (inbox) has a record but no file\n"), std::string::npos);
  EXPECT_NE(r.out.find("draft: message 3 (draft) has a record but no file\n"), std::string::npos);
  EXPECT_EQ(r.err,
            "msgstore: 2 indexes differ from the folders (msgstore check --fix rebuilds "
            "them)\n");

  // The store's own refresh keeps an existing draft index.
  Ok({"refresh"});
  json j = json::parse(Tool({"--json", "check"}).out);
  EXPECT_EQ(j.at("ok"), false);
  EXPECT_EQ(j.at("indexes")[0].at("problems").size(), 0u);
  EXPECT_EQ(j.at("indexes")[1].at("problems")[0].at("problem"), "record_without_file");

  r = Tool({"check", "--fix"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("rebuilt the index files of draft\n", 0), 0u) << r.out;
  EXPECT_EQ(Tool({"check"}).status, 0);

  // refresh --all rebuilds the draft index as well.
  Add({"draft", "--text", "d"});
  std::filesystem::remove(Ems("DRAFT/4.sms"));
  EXPECT_EQ(Tool({"check"}).status, 1);
  EXPECT_EQ(Ok({"refresh", "--all"}), "rebuilt every phone index file\n");
  EXPECT_EQ(Tool({"check"}).status, 0);
}

TEST_F(StoreCommands, CheckFindsRecordsOutOfOrderAndFilesWithoutRecords) {
  Ok({"init"});
  Add({"sent", "--text", "old", "--time", "2026-01-01T00:00:00Z"});
  Add({"sent", "--text", "new", "--time", "2026-01-02T00:00:00Z"});
  msgstore::SetDeviceRoot(root_);
  // Message 1 indexed again under a later time than its file holds.
  EMSMsgStore_DeleteMsgFromIni(1, EMS_FOLDER_SENT);
  EMSMsgStore_AddMsgToIni(1, EMS_FOLDER_SENT, {0, 0x7FFFFFFFu});
  Add({"sim-sent", "--text", "sim copy"});
  EMSMsgStore_DeleteMsgFromIni(3, EMS_FOLDER_SIM_SENT);

  json j = json::parse(Tool({"--json", "check"}).out);
  json problems = j.at("indexes")[2].at("problems");
  ASSERT_EQ(problems.size(), 2u) << problems.dump();
  EXPECT_EQ(problems[0].at("problem"), "out_of_order");
  EXPECT_EQ(problems[0].at("id"), 2);
  EXPECT_EQ(problems[1].at("problem"), "file_without_record");
  EXPECT_EQ(problems[1].at("folder"), "sim-sent");
  EXPECT_EQ(problems[1].at("id"), 3);
  EXPECT_EQ(Tool({"check", "--fix"}).status, 0);
  json index = json::parse(Ok({"--json", "ls", "sms", "sent", "--index"}));
  ASSERT_EQ(index.size(), 3u);
  EXPECT_EQ(index[1].at("id"), 2);
  EXPECT_EQ(index[2].at("id"), 1);
}

TEST_F(StoreCommands, ExportWritesEveryMessageOfBothStoragesAsJsonLines) {
  InsertCard();
  Ok({"init"});
  Add({"inbox", "--to", "+1", "--subject", "s", "--text", "one"});
  Add({"sim-unsent", "--text", "two"});
  Add({"spam", "--text", "three", "--card", "--read"});
  Result r = Tool({"export"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u);
  std::set<std::string> seen;
  for (const auto& line : lines) {
    json j = json::parse(line);
    std::string text = Base64Decode(j.at("content_base64"));
    EXPECT_EQ(text.size(), j.at("content_size").get<size_t>());
    seen.insert(j.at("storage").get<std::string>() + " " + j.at("folder").get<std::string>() + " " +
                text);
    for (const char* key :
         {"id", "read", "status", "index_time", "time", "to", "subject", "msg_id", "text1", "text2",
          "text3", "text4", "user1", "user2", "user3", "wuser1", "wuser2", "record_folder"})
      EXPECT_TRUE(j.contains(key)) << key;
  }
  EXPECT_EQ(seen, (std::set<std::string>{"phone inbox " + Utf16Le(u"one"),
                                         "phone sim-unsent " + Utf16Le(u"two"),
                                         "card spam " + Utf16Le(u"three")}));
}

TEST_F(StoreCommands, DamagedFilesGiveClearErrorsAndChangeNothing) {
  InsertCard();
  Ok({"init"});
  Add({"inbox", "--text", "fine", "--time", "2026-01-01T00:00:00Z"});
  WriteFile(Ems("INBOX/7.sms"), "junk");
  auto before = Device();

  Result r = Tool({"ls", "sms", "inbox"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "ID  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 1  2026-01-01T00:00:00Z  no         0      fine\n"
            " 7  -                     -          -  -   (damaged: cannot be read)\n");
  EXPECT_EQ(r.err, "msgstore: warning: message 7 in phone inbox cannot be read (damaged file)\n");

  const std::string damaged = "msgstore: message 7 in phone inbox cannot be read (damaged file)\n";
  EXPECT_EQ(Fails({"show", "sms", "7"}, 1), damaged);
  EXPECT_EQ(Fails({"mark", "sms", "7", "--read"}, 1), damaged);
  EXPECT_EQ(Fails({"mv", "sms", "7", "spam"}, 1), damaged);
  EXPECT_EQ(Device(), before);

  r = Tool({"export"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out).size(), 1u);
  EXPECT_EQ(Lines(r.err).back(),
            "msgstore: 1 of 2 messages could not be read and are missing from the export");
  r = Tool({"check"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("inbox: message 7 (inbox) cannot be read (damaged file)"),
            std::string::npos);
  EXPECT_EQ(Device(), before);

  // A damaged message can still be deleted: deletion does not read it.
  EXPECT_EQ(Ok({"rm", "sms", "7"}), "deleted message 7 in phone inbox\n");
  EXPECT_EQ(Tool({"check"}).status, 0);
}

TEST_F(StoreCommands, FailuresAreOneLineWithStatusOneAndChangeNothing) {
  Ok({"init"});
  Add({"inbox", "--text", "keep"});
  auto before = Device();
  const std::string unknown =
      "msgstore: unknown folder 'outbox' (folders: inbox, draft, sent, unsent, report, spam, "
      "sim-inbox, sim-sent, sim-unsent, none, or their numbers 1-8, 12, 13)\n";
  EXPECT_EQ(Fails({"ls", "sms", "outbox"}, 1), unknown);
  EXPECT_EQ(Fails({"add", "sms", "outbox", "--text", "x"}, 1), unknown);
  EXPECT_EQ(Fails({"mv", "sms", "1", "9"}, 1),
            "msgstore: unknown folder '9' (folders: inbox, draft, sent, unsent, report, spam, "
            "sim-inbox, sim-sent, sim-unsent, none, or their numbers 1-8, 12, 13)\n");
  EXPECT_EQ(Fails({"show", "sms", "42"}, 1), "msgstore: no message 42 in phone memory\n");
  const std::string noCard = "msgstore: no memory card is inserted (see 'msgstore card insert')\n";
  EXPECT_EQ(Fails({"--card", "ls", "sms", "inbox"}, 1), noCard);
  EXPECT_EQ(Fails({"--card", "add", "sms", "inbox", "--text", "x"}, 1), noCard);
  EXPECT_EQ(Fails({"--card", "empty", "sms", "inbox"}, 1), noCard);
  EXPECT_EQ(Fails({"--card", "rm", "sms", "1"}, 1), noCard);
  EXPECT_EQ(Fails({"ls", "sms", "sim-inbox", "--index"}, 1),
            "msgstore: folder sim-inbox has no index of its own (its messages are in the index "
            "of inbox)\n");
  EXPECT_EQ(Device(), before);
}

TEST_F(StoreCommands, AddBeforeInitSaysSo) {
  EXPECT_EQ(Fails({"add", "sms", "inbox", "--text", "x"}, 1),
            "msgstore: the message tree of the phone memory has not been made (run 'msgstore "
            "init')\n");
  EXPECT_EQ(Ok({"ls", "sms", "inbox"}), "no messages in phone inbox\n");
}

}  // namespace
}  // namespace tool_test
