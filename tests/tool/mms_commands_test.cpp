// The tool's mms commands: the MMS record beside the shared one and content from a file (mark,
// mv and rm are the same commands for every store: conventions_test.cpp, email_commands_test.cpp).
#include "tool_runner.h"

namespace tool_test {
namespace {

using MmsCommands = ToolTest;

TEST_F(MmsCommands, AddListAndShowWithContentFromAFile) {
  Ok("init");
  const std::string body = {'\x00', '\x01', 'M', '\xFF', '\0', '\x7F', '\x80'};
  std::ofstream(root_ + "/body.bin", std::ios::binary) << body;
  EXPECT_EQ(Ok("add mms inbox --to +49 --subject Pic --text hi --time 2026-03-01T12:00:00Z "
               "--mms-text smil --mms-value1 4000000000 --mms-wquick2 12 --status 9"),
            "message 1 stored in phone inbox\n");
  EXPECT_EQ(Ok("add mms draft --body " + root_ + "/body.bin"), "message 2 stored in phone draft\n");
  EXPECT_EQ(Ok("ls mms inbox"),
            "ID  TIME                  READ  STATUS  TO   SUBJECT / TEXT\n"
            " 1  2026-03-01T12:00:00Z  no         9  +49  Pic\n");
  const std::string shown = Ok("show mms 1");
  EXPECT_PRED2(Has, shown,
               "\nfolder       inbox\nread         no\nstatus       9\nindex time   "
               "2026-03-01T12:00:00Z\ntime         2026-03-01T12:00:00Z\nto           +49\n");
  EXPECT_PRED2(Has, shown,
               "wuser2       0\nmms text     smil\nmms value1   4000000000\nmms value2   0\n"
               "mms wvalue1  0\nmms wvalue2  0\nmms wvalue3  0\nmms wquick1  0\nmms wquick2  12\n"
               "record       id 1, folder 1\ncontent      4 bytes, UTF-16 text:\nhi\n");
  // Content that is not text: as it was, and as a dump.
  EXPECT_EQ(Ok("show mms 2 --raw"), body);
  EXPECT_PRED2(Has, Ok("show mms 2"),
               "content      7 bytes, binary:\n00000000  00 01 4d ff 00 7f 80" +
                   std::string(29, ' ') + "|..M....|\n");
}

}  // namespace
}  // namespace tool_test
