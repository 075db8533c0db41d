// The tool's mms commands: the MMS record beside the shared one, content from a file, the
// folders the store treats its own way, moves and the index they leave, and the unread count
// that settles downloads.
#include "msgstore/msgstore.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

using MmsCommands = ToolTest;

TEST_F(MmsCommands, AddStoresEveryFieldOfTheMmsRecordAndContentFromAFile) {
  Ok("init");
  const std::string body = {'\x00', '\x01', 'M', '\xFF', '\0', '\x7F', '\x80'};
  std::ofstream(root_ + "/body.bin", std::ios::binary) << body;
  EXPECT_EQ(Ok("add mms inbox --to +49 --subject Pic --text hi --time 2026-03-01T12:00:00Z "
               "--mms-text smil --mms-value1 4000000000 --mms-value2 7 --mms-wvalue1 1 "
               "--mms-wvalue2 2 --mms-wvalue3 3 --mms-wquick1 11 --mms-wquick2 12 --status 9"),
            "message 1 stored in phone inbox\n");
  EXPECT_EQ(Ok("add mms draft --body " + root_ + "/body.bin"), "message 2 stored in phone draft\n");
  // The fields land where the store keeps them, not only where the tool reads them back.
  msgstore::SetDeviceRoot(root_);
  tagMSGPROPS props = {};
  tagMMSMSGPROPS mms = {};
  ASSERT_EQ(MMSMsgStore_ReadFolderMessage(false, MMS_FOLDER_INBOX, -1, 1, true, &props, &mms), 1);
  EXPECT_EQ(std::make_tuple(std::u16string(mms.pszMmsText), mms.dwMmsValue1, mms.dwMmsValue2,
                            mms.wMmsValue1, mms.wMmsValue2, mms.wMmsValue3, mms.wMmsQuick1,
                            mms.wMmsQuick2, props.wStatus),
            std::make_tuple(u"smil", 4000000000u, 7u, 1, 2, 3, 11, 12, 9));
  MMSMsgStore_FreeMsgProps(&props, &mms);
  EXPECT_EQ(Ok("ls mms inbox"),
            "ID  TIME                  READ  STATUS  TO   SUBJECT / TEXT\n"
            " 1  2026-03-01T12:00:00Z  no         9  +49  Pic\n");
  EXPECT_PRED2(Has, Ok("show mms 1"),
               "wuser2       0\nmms text     smil\nmms value1   4000000000\nmms value2   7\n"
               "mms wvalue1  1\nmms wvalue2  2\nmms wvalue3  3\nmms wquick1  11\nmms wquick2  12\n"
               "record       id 1, folder 1\ncontent      4 bytes, UTF-16 text:\nhi\n");
  // Content that is not text: as it was, as a dump, and in the export.
  EXPECT_EQ(Ok("show mms 2 --raw"), body);
  EXPECT_PRED2(Has, Ok("show mms 2"),
               "content      7 bytes, binary:\n00000000  00 01 4d ff 00 7f 80" +
                   std::string(29, ' ') + "|..M....|\n");
  EXPECT_PRED2(Has, Ok("export mms"),
               R"("content_size":7,"content_base64":"AAFN/wB/gA==","index_position":0})"
               "\n");
  Steps({{"add mms inbox --text a --body " + root_ + "/body.bin", 2, "--text and --body both give"},
         {"add mms inbox --body /nonexistent", 2, "--body '/nonexistent' is not a file that can"}});
}

TEST_F(MmsCommands, AutodownloadIsPhoneOnlyNoneIsFoundByIdentifierOnlyAndEmptyLeavesTheIndex) {
  Oks({"card insert", "init"});
  Steps({{"add mms 11 --text d", 0, "message 1 stored in phone autodownload\n"},
         {"add mms NONE --text n", 0, "message 2 stored in phone none\n"}});
  EXPECT_TRUE(fs::exists(At("MMS/NONE/2.mms")));
  EXPECT_EQ(Json("show mms 2").at("folder"), "none");
  const std::string byName =
      ": the store keeps its messages by file name only (show, mark, mv "
      "and rm find them by identifier)\n";
  Steps(
      {{"ls mms none", 1, "folder none cannot be listed" + byName},
       {"empty mms 8", 1, "folder none cannot be emptied" + byName},
       {"--card ls mms autodownload", 1, "folder autodownload does not exist on the memory card\n"},
       {"ls mms autodownload --index", 1, "folder autodownload has no index of its own\n"},
       {"ls mms 7", 1,
        "unknown folder '7' (folders: inbox, draft, sent, unsent, report, spam, autodownload, "
        "none, or their numbers 1-6, 8, 11)\n"},
       {"mark mms 2 --read", 0, "message 2 in phone none: read, status 0\n"},
       {"mv mms 2 draft", 0, "message 2 in phone none moved to phone draft as message 3\n"},
       {"rm mms 1", 0, "deleted message 1 in phone autodownload\n"}});
  EXPECT_FALSE(fs::exists(At("MMS/NONE/2.mms")));
  Oks({"add mms inbox --text c", "add mms inbox --text d"});
  const std::string noFile = "  -     -          -  -   (index record without a file)\n";
  Steps({{"empty mms inbox", 0,
          "emptied the phone inbox: 2 messages deleted\nnote: the index keeps its records until "
          "'msgstore refresh mms --all' (or until the messages are looked up)\n"},
         {"ls mms inbox --index", 0,
          "ID  FOLDER  TIME  READ  STATUS  TO  SUBJECT / TEXT\n 5  inbox " + noFile + " 4  inbox " +
              noFile},
         {"refresh mms --all", 0, "rebuilt every phone index file\n"},
         {"ls mms inbox --index", 0, "no messages in phone inbox index\n"}});
}

TEST_F(MmsCommands, CountSettlesDownloadsAsTheStoreDoes) {
  Ok("init");
  // Downloads with and without text1, which the tool cannot write.
  msgstore::SetDeviceRoot(root_);
  for (std::u16string text : {u"fetched", u"", u"late"}) {
    tagMSGPROPS props = {};
    tagMMSMSGPROPS mms = {};
    props.dwFolder = MMS_FOLDER_AUTODOWNLOAD;
    props.pszText1 = text.empty() ? nullptr : &text[0];
    ASSERT_NE(MMSMsgStore_WriteMessage(false, &props, &mms, 0, nullptr), 0u);
  }
  Oks({"add mms inbox --text read --read", "add mms inbox --text unread"});
  // The count would draw identifiers: it needs the counter sound first.
  std::ofstream(At("MMS/MMSDB.ini"), std::ios::binary) << std::string("\x01\0\0\0", 4);
  Refuses("count mms", 1,
          "the identifier counter MMSDB.ini is damaged or behind the stored messages (highest "
          "identifier in use 5)");
  Ok("check mms --fix");
  EXPECT_EQ(Ok("count mms"),
            "FOLDER           PHONE  CARD  TOTAL\ninbox                4     -      4\n"
            "draft                0     -      0\nsent                 0     -      0\n"
            "unsent               0     -      0\nreport               0     -      0\n"
            "spam                 0     -      0\nautodownload         0     -      0\n"
            "unread in inbox      -     -      3\n"
            "note: the store settled 3 messages of the download folder: moved to the inbox, or "
            "deleted when without text1\n");
  EXPECT_EQ(Json("show mms 6").at("status"), 101);  // moved from the download folder
  json c = Json("count mms");
  EXPECT_EQ(c.at("unread_inbox"), 3);
  EXPECT_EQ(c.at("settled_downloads"), 0);
  // It would make the card's tree as well: it needs that made first.
  Ok("card insert");
  Refuses("count mms", 1, "the message tree of the memory card has not been made");
  EXPECT_EQ(Json("count").at("card_inserted"), true);  // the SMS count asks for no card tree
}

}  // namespace
}  // namespace tool_test
