// The tool's mms commands run as a user runs them: the MMS record beside the shared one, the
// folders the store treats its own way, full folders, the unread count that settles downloads,
// the index check, and failures on fresh and damaged devices.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/msgstore.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class MmsCommands : public ToolTest {
 protected:
  // Writes n messages through the library in this process, oldest first; text1 as given.
  void Fill(DWORD folder, int n, bool card = false, const std::u16string& text1 = u"",
            WORD status = 0) {
    msgstore::SetDeviceRoot(root_);
    for (int i = 0; i < n; ++i) {
      std::u16string text = text1;
      tagMSGPROPS props = {};
      tagMMSMSGPROPS mms = {};
      props.dwFolder = folder;
      props.wStatus = status;
      props.ftIndexTime = props.ftTime = {static_cast<DWORD>(1000 + i), 0x01D00000u};
      props.pszText1 = text.empty() ? nullptr : &text[0];
      ASSERT_NE(MMSMsgStore_WriteMessage(card, &props, &mms, 0, nullptr), 0u) << i;
    }
  }
};

TEST_F(MmsCommands, AddStoresTheMmsRecordThatShowAndExportGiveBack) {
  Ok("init");
  const std::string body = {'\x00', '\x01', 'M', '\xFF', '\0', '\x7F', '\x80'};
  std::ofstream(root_ + "/body.bin", std::ios::binary) << body;
  EXPECT_EQ(Ok("add mms inbox --to +49 --subject Pic --text hi --time 2026-03-01T12:00:00Z "
               "--mms-text smil --mms-value1 4000000000 --mms-value2 7 --mms-wvalue1 1 "
               "--mms-wvalue2 2 --mms-wvalue3 3 --mms-wquick1 11 --mms-wquick2 12 --status 9"),
            "message 1 stored in phone inbox\n");
  EXPECT_EQ(Ok("add mms draft --body " + root_ + "/body.bin --time 2026-03-01T11:00:00Z"),
            "message 2 stored in phone draft\n");

  // The fields land where the store keeps them, not just where the tool reads them back.
  msgstore::SetDeviceRoot(root_);
  tagMSGPROPS props = {};
  tagMMSMSGPROPS mms = {};
  ASSERT_EQ(MMSMsgStore_ReadFolderMessage(false, MMS_FOLDER_INBOX, -1, 1, true, &props, &mms), 1);
  EXPECT_EQ(std::u16string(mms.pszMmsText), u"smil");
  EXPECT_EQ(mms.dwMmsValue1, 4000000000u);
  EXPECT_EQ(mms.dwMmsValue2, 7u);
  EXPECT_EQ(mms.wMmsValue1, 1);
  EXPECT_EQ(mms.wMmsValue2, 2);
  EXPECT_EQ(mms.wMmsValue3, 3);
  EXPECT_EQ(mms.wMmsQuick1, 11);
  EXPECT_EQ(mms.wMmsQuick2, 12);
  EXPECT_EQ(props.wStatus, 9);
  MMSMsgStore_FreeMsgProps(&props, &mms);

  EXPECT_EQ(Ok("ls mms inbox"),
            "ID  TIME                  READ  STATUS  TO   SUBJECT / TEXT\n"
            " 1  2026-03-01T12:00:00Z  no         9  +49  Pic\n");
  std::string shown = Ok("show mms 1");
  EXPECT_NE(shown.find("wuser2       0\n"
                       "mms text     smil\n"
                       "mms value1   4000000000\n"
                       "mms value2   7\n"
                       "mms wvalue1  1\n"
                       "mms wvalue2  2\n"
                       "mms wvalue3  3\n"
                       "mms wquick1  11\n"
                       "mms wquick2  12\n"
                       "record       id 1, folder 1\n"
                       "content      4 bytes, UTF-16 text:\nhi\n"),
            std::string::npos)
      << shown;
  json one = Json("show mms 1");
  EXPECT_EQ(one.at("mms_text"), "smil");
  EXPECT_EQ(one.at("mms_value1"), 4000000000u);
  EXPECT_EQ(one.at("mms_wquick2"), 12);
  EXPECT_EQ(Json("ls mms inbox")[0].at("mms_wquick1"), 11);

  EXPECT_EQ(Ok("show mms 2 --raw"), body);
  EXPECT_NE(Ok("show mms 2")
                .find("content      7 bytes, binary:\n00000000  00 01 4d ff 00 7f 80" +
                      std::string(29, ' ') + "|..M....|\n"),
            std::string::npos);
  // The first line, the counter, then the messages.
  std::vector<std::string> lines = Lines(Ok("export mms"));
  ASSERT_EQ(lines.size(), 4u);
  json exported = json::parse(lines[3]);
  EXPECT_EQ(exported.at("folder"), "draft");
  EXPECT_EQ(Base64Decode(exported.at("content_base64")), body);
  // Beside the fields of show: type, store and index_position.
  EXPECT_EQ(exported.size(), Json("show mms 2").size() + 3);
  EXPECT_EQ(Lines(Ok("export sms")).size(), 2u);  // the SMS store is empty

  auto before = Device();
  for (const char* bad :
       {"add mms inbox --mms-wvalue3 65536", "add mms inbox --mms-value2 -1",
        "add mms inbox --text a --body /etc/hostname", "add mms inbox --body /nonexistent/file"})
    EXPECT_EQ(Tool(bad).status, 2) << bad;
  EXPECT_EQ(Fails("add mms inbox --mms-wquick1 x", 2),
            "msgstore: --mms-wquick1 'x' is not a number from 0 to 65535\n");
  EXPECT_EQ(Device(), before);
}

TEST_F(MmsCommands, AutodownloadIsPhoneOnlyAndNoneIsFoundByIdentifierOnly) {
  Ok("card insert");
  Ok("init");
  EXPECT_EQ(Ok("add mms 11 --text d"), "message 1 stored in phone autodownload\n");
  EXPECT_EQ(Ok("add mms NONE --text n"), "message 2 stored in phone none\n");
  EXPECT_TRUE(fs::exists(Mms("NONE/2.mms")));
  EXPECT_EQ(Json("show mms 2").at("folder"), "none");
  EXPECT_EQ(Json("show mms 1").at("folder"), "autodownload");
  EXPECT_EQ(Json("ls mms autodownload").size(), 1u);
  std::vector<std::string> exported = Lines(Ok("export mms"));
  ASSERT_EQ(exported.size(), 4u);
  EXPECT_EQ(json::parse(exported[3]).at("folder"), "none");
  EXPECT_NE(Ok("check mms")
                .find("\ncounter                  ok: last identifier 2, highest "
                      "identifier in use 2\n"),
            std::string::npos);

  auto before = Device();
  const std::string byName =
      ": the store keeps its messages by file name only (show, mark, mv and rm find them by "
      "identifier)\n";
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"ls mms none", "folder none cannot be listed" + byName},
           {"empty mms 8", "folder none cannot be emptied" + byName},
           {"--card ls mms autodownload",
            "folder autodownload does not exist on the memory card\n"},
           {"--card add mms none", "folder none does not exist on the memory card\n"},
           {"--card add mms report", "folder report does not exist on the memory card\n"},
           {"ls mms autodownload --index", "folder autodownload has no index of its own\n"},
           {"ls mms 7",
            "unknown folder '7' (folders: inbox, draft, sent, unsent, report, spam, autodownload, "
            "none, or their numbers 1-6, 8, 11)\n"},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second) << c.first;
  EXPECT_EQ(Device(), before);

  EXPECT_EQ(Ok("mark mms 2 --read"), "message 2 in phone none: read, status 0\n");
  EXPECT_EQ(Ok("mv mms 2 draft"), "message 2 in phone none moved to phone draft as message 3\n");
  EXPECT_FALSE(fs::exists(Mms("NONE/2.mms")));
  EXPECT_EQ(Json("show mms 3").at("read"), true);
  EXPECT_EQ(Ok("rm mms 1"), "deleted message 1 in phone autodownload\n");
  EXPECT_EQ(Json("count mms").at("folders").contains("none"), false);
}

TEST_F(MmsCommands, MarkMoveRemoveAndEmptyTheInboxWithItsNotice) {
  Ok("card insert");
  Ok("init");
  Ok("add mms inbox --text a");
  Ok("--card add mms inbox --text b");
  EXPECT_EQ(Ok("mark mms 1 --read --status 5"), "message 1 in phone inbox: read, status 5\n");
  EXPECT_EQ(Json("mark mms 1 --unread").at("read"), false);
  EXPECT_EQ(Ok("mv mms 1 spam"), "message 1 in phone inbox moved to phone spam as message 3\n");
  EXPECT_EQ(Ok("--card mv mms 2 sent"),
            "message 2 in card inbox moved to card sent as message 4\n");
  EXPECT_EQ(Json("ls mms spam")[0].at("status"), 5);
  EXPECT_EQ(Fails("show mms 4", 1),
            "msgstore: no message 4 in phone memory (it is on the memory card: add --card)\n");
  EXPECT_EQ(Ok("rm mms 3"), "deleted message 3 in phone spam\n");
  EXPECT_EQ(Fails("rm mms 3", 1), "msgstore: no message 3 in phone memory\n");

  auto watch = std::make_unique<Child>(std::vector<std::string>{"--root", root_, "watch"});
  ASSERT_TRUE(Child::Until([&] { return watch->err().find("stops)\n") != std::string::npos; }));
  Ok("add mms inbox --text c");
  Ok("add mms inbox --text d");
  EXPECT_EQ(Ok("empty mms inbox"),
            "emptied the phone inbox: 2 messages deleted\n"
            "note: the index keeps its records until 'msgstore refresh mms --all' (or until the "
            "messages are looked up)\n");
  ASSERT_TRUE(Child::Until([&] { return watch->out().find('\n') != std::string::npos; }));
  EXPECT_TRUE(std::regex_match(
      watch->out(), std::regex("\\S+Z WCE_APSHELL 0x0C44 \\(inbox emptied\\) wParam=0 lParam=1 "
                               "\\(MMS\\)\n")))
      << watch->out();
  watch->Signal(SIGINT);
  EXPECT_EQ(watch->Finish(), 0);
  EXPECT_EQ(Ok("ls mms inbox --index"),
            "ID  FOLDER  TIME  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 6  inbox   -     -          -  -   (index record without a file)\n"
            " 5  inbox   -     -          -  -   (index record without a file)\n");
  EXPECT_EQ(Ok("refresh mms --all"), "rebuilt every phone index file\n");
  EXPECT_EQ(Ok("ls mms inbox --index"), "no messages in phone inbox index\n");
}

TEST_F(MmsCommands, FullFoldersEvictOrGoToTheCardButNeverRefuse) {
  Ok("card insert");
  Ok("init");
  Fill(MMS_FOLDER_INBOX, 100);
  Fill(MMS_FOLDER_REPORT, 100);
  EXPECT_EQ(Ok("add mms inbox --text x"),
            "message 201 stored in phone inbox\n"
            "note: the phone inbox was full (100 messages): the store removed its oldest message "
            "1\n");
  EXPECT_FALSE(fs::exists(Mms("INBOX/1.mms")));
  EXPECT_EQ(Ok("add mms inbox --text y --auto"),
            "message 202 stored in card inbox\n"
            "note: the phone inbox is full (100 messages): the store put the message on the "
            "memory card\n");
  EXPECT_EQ(Ok("add mms report --text r --auto"),
            "message 203 stored in phone report\n"
            "note: the phone report was full (100 messages): the store removed its oldest message "
            "101\n");
  // Only the card state bit 2 keeps the MMS store from choosing the card.
  Ok("card state 4");
  EXPECT_EQ(Json("add mms inbox --text z --auto").at("storage"), "card");
  fs::rename(Mms("INBOX", true), root_ + "/aside");
  auto before = Device();
  EXPECT_EQ(Fails("add mms inbox --text u --auto", 1),
            "msgstore: the message tree of the memory card has not been made (run 'msgstore "
            "init')\n");
  EXPECT_EQ(Device(), before);
  fs::rename(root_ + "/aside", Mms("INBOX", true));
  Ok("card state 2");
  EXPECT_EQ(Json("add mms inbox --text w --auto").at("evicted"), 2);

  Ok("card state 0");
  Ok("card eject");
  before = Device();
  EXPECT_EQ(Fails("add mms inbox --text v --auto", 1),
            "msgstore: the phone inbox is full (100 messages) and no memory card is inserted: "
            "message not stored\n");
  EXPECT_EQ(Device(), before);
}

TEST_F(MmsCommands, CountSettlesDownloadsAsTheStoreDoes) {
  Ok("init");
  Fill(MMS_FOLDER_AUTODOWNLOAD, 1, false, u"fetched");
  Fill(MMS_FOLDER_AUTODOWNLOAD, 1);
  Fill(MMS_FOLDER_INBOX, 1, false, u"kept", 104);
  Ok("add mms inbox --text read --read");
  EXPECT_EQ(Ok("count mms"),
            "FOLDER           PHONE  CARD  TOTAL\n"
            "inbox                3     -      3\n"
            "draft                0     -      0\n"
            "sent                 0     -      0\n"
            "unsent               0     -      0\n"
            "report               0     -      0\n"
            "spam                 0     -      0\n"
            "autodownload         0     -      0\n"
            "unread in inbox      -     -      2\n"
            "note: the store settled 2 messages of the download folder: moved to the inbox, or "
            "deleted when without text1\n");
  json inbox = Json("ls mms inbox");
  ASSERT_EQ(inbox.size(), 3u);
  for (const json& m : inbox) EXPECT_NE(m.at("status"), 104) << m.dump();
  EXPECT_EQ(Json("show mms 5").at("status"), 101);  // moved from the download folder
  json c = Json("count mms");
  EXPECT_EQ(c.at("unread_inbox"), 2);
  EXPECT_EQ(c.at("settled_downloads"), 0);

  // The count would make the card's tree and draw identifiers: it needs both sound first.
  Ok("card insert");
  auto before = Device();
  EXPECT_EQ(Fails("count mms", 1),
            "msgstore: the message tree of the memory card has not been made (run 'msgstore "
            "init')\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Json("count").at("card_inserted"), true);  // the SMS count asks for no card tree
  Ok("init");
  Fill(MMS_FOLDER_AUTODOWNLOAD, 1, false, u"late");
  std::ofstream(Mms("MMSDB.ini"), std::ios::binary) << std::string("\x01\0\0\0", 4);
  before = Device();
  EXPECT_EQ(Fails("count mms", 1)
                .rfind("msgstore: the identifier counter MMSDB.ini is damaged or "
                       "behind the stored messages (highest identifier in use 6)",
                       0),
            0u);
  EXPECT_EQ(Device(), before);
}

TEST_F(MmsCommands, CheckComparesTheMmsIndexesAndCounter) {
  Ok("init");
  for (const char* add :
       {"inbox --text a --time 2026-01-01T00:00:00Z", "sent --text old --time 2026-01-01T00:00:00Z",
        "sent --text new --time 2026-01-02T00:00:00Z", "autodownload --text d"})
    Ok(std::string("add mms ") + add);
  EXPECT_EQ(Ok("check mms"),
            "INDEX    FILES  RECORDS  STATE\n"
            "inbox        1        1  ok\n"
            "draft        0        0  ok\n"
            "sent         2        2  ok\n"
            "unsent       0        0  ok\n"
            "report       0        0  ok\n"
            "spam         0        0  ok\n"
            "counter                  ok: last identifier 4, highest identifier in use 4\n");
  std::ofstream(Mms("MMSDB.ini"), std::ios::binary) << std::string("\x02\0\0\0", 4);
  fs::remove(Mms("INBOX/1.mms"));
  msgstore::SetDeviceRoot(root_);
  MMSMsgStore_DeleteMsgFromIni(2, MMS_FOLDER_SENT);
  MMSMsgStore_AddMsgToIni(2, MMS_FOLDER_SENT, {0, 0x7FFFFFFFu});
  std::string out = Run("check mms", 1,
                        "msgstore: 2 indexes differ from the folders and the identifier counter "
                        "MMSDB.ini is damaged or behind the stored messages (msgstore check mms "
                        "--fix repairs them)\n");
  for (const char* line :
       {"inbox: message 1 (inbox) has a record but no file\n",
        "sent: message 3 (sent) (2026-01-02T00:00:00Z) is listed after the older message 2 (sent) "
        "(2026-01-01T00:00:00Z)\n",
        "counter                  behind: last identifier 2, highest identifier in use 4\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  EXPECT_EQ(Ok("check").find("problem"), std::string::npos);  // the SMS store is sound
  EXPECT_EQ(Ok("refresh mms"),
            "rebuilt the phone index files that were missing (--all rebuilds the others too)\n");
  EXPECT_EQ(Tool("check mms").status, 1);  // the store keeps existing indexes
  EXPECT_EQ(Ok("check mms --fix")
                .rfind("rebuilt the index files of inbox, sent\n"
                       "set the identifier counter MMSDB.ini to 4\n",
                       0),
            0u);
  EXPECT_EQ(Device().at(Mms("MMSDB.ini")), std::string("\x04\0\0\0", 4));
  json index = Json("ls mms sent --index");
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[0].at("id"), 3);
  EXPECT_EQ(Ok("add mms draft --text e"), "message 5 stored in phone draft\n");
}

TEST_F(MmsCommands, WorkOnAFreshDeviceAndFailInOneLineOnADamagedOne) {
  // Fresh: nothing made yet.
  EXPECT_EQ(Ok("ls mms inbox"), "no messages in phone inbox\n");
  EXPECT_EQ(Lines(Ok("export mms")).size(), 2u);  // the first line and the counter
  EXPECT_EQ(Ok("check mms").substr(0, 30), "INDEX    FILES  RECORDS  STATE");
  auto before = Device();
  const std::string noTree =
      "the message tree of the phone memory has not been made (run 'msgstore init')\n";
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"add mms inbox --text x", noTree},
           {"count mms", noTree},
           {"show mms 1", "no message 1 in phone memory\n"},
           {"mark mms 1 --read", "no message 1 in phone memory\n"},
           {"mv mms 1 draft", "no message 1 in phone memory\n"},
           {"rm mms 1", "no message 1 in phone memory\n"},
           {"--card ls mms inbox", "no memory card is inserted (see 'msgstore card insert')\n"},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second) << c.first;
  EXPECT_EQ(Fails("count bogus", 2), "msgstore: unknown store 'bogus' (stores: sms, mms, email)\n");
  EXPECT_EQ(Device(), before);

  // Damaged: an unreadable message, a folder that is a file, a counter behind.
  Ok("init");
  Ok("add mms inbox --text fine --time 2026-01-01T00:00:00Z");
  std::ofstream(Mms("INBOX/7.mms"), std::ios::binary) << "junk";
  fs::remove(Mms("REPORT"));
  std::ofstream(Mms("REPORT")) << "";
  before = Device();
  const std::string damaged = "message 7 in phone inbox cannot be read (damaged file)";
  const std::string noDir = "the phone report folder is damaged (not a directory)\n";
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"show mms 7", damaged + "\n"},
           {"mark mms 7 --read", damaged + "\n"},
           {"mv mms 7 spam", damaged + "\n"},
           {"add mms draft",
            "the identifier counter MMSDB.ini is damaged or behind the stored messages (highest "
            "identifier in use 7); 'msgstore check mms --fix' repairs it\n"},
           {"add mms report", noDir},
           {"ls mms report", noDir},
           {"empty mms report", noDir},
           {"init", noDir},
       })
    EXPECT_EQ(Fails(c.first, 1), "msgstore: " + c.second) << c.first;
  EXPECT_EQ(Run("ls mms inbox", 0, "msgstore: warning: " + damaged + "\n"),
            "ID  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
            " 1  2026-01-01T00:00:00Z  no         0      fine\n"
            " 7  -                     -          -  -   (damaged: cannot be read)\n");
  EXPECT_EQ(Lines(Run("export mms", 1,
                      "msgstore: warning: " + damaged +
                          ": left out\nmsgstore: 1 of 2 messages could not be read and are "
                          "missing from the export\n"))
                .size(),
            3u);
  EXPECT_NE(Run("check mms", 1,
                "msgstore: 1 index differs from the folders and the identifier counter MMSDB.ini "
                "is damaged or behind the stored messages (msgstore check mms --fix repairs "
                "them)\n")
                .find("inbox: message 7 (inbox) cannot be read (damaged file)\n"),
            std::string::npos);
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("rm mms 7"), "deleted message 7 in phone inbox\n");
}

TEST_F(MmsCommands, HelpNamesTheMmsOptionsAndTheSettlingCount) {
  std::string add = Ok("add mms --help");
  for (const char* option :
       {"--mms-text", "--body FILE", "--mms-value2", "--mms-wquick2", "--auto"})
    EXPECT_NE(add.find(option), std::string::npos) << option;
  EXPECT_NE(Ok("count --help").find("settles the download folder"), std::string::npos);
  EXPECT_NE(Ok("ls --help").find("\n  mms "), std::string::npos);
}

}  // namespace
}  // namespace tool_test
