// The everyday conventions of the tool: several identifiers and standard input, questions
// before destructive commands, show's cut, and the progress lines.
#include <poll.h>
#include <stdlib.h>

#include "tool_runner.h"

namespace tool_test {
namespace {

// A pseudo-terminal: the tool gets its side (fd), where typed waits to be read; the test reads
// the other.
class Terminal {
 public:
  explicit Terminal(const std::string& typed = "") {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
      side_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(side_, 0) << "no pseudo-terminal";
    EXPECT_EQ(write(master_, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  }
  ~Terminal() {
    if (side_ >= 0) close(side_);
    if (master_ >= 0) close(master_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  int fd() const { return side_; }
  // What the tool wrote to the terminal (with what was typed, echoed), read until nothing more
  // comes for a while: the terminal hands on what was written a little later.
  std::string Shown() {
    std::string s;
    char buf[4096];
    for (pollfd p = {master_, POLLIN, 0}; poll(&p, 1, 300) > 0;) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      s.append(buf, static_cast<size_t>(n));
    }
    return s;
  }

 private:
  int master_ = -1, side_ = -1;
};

using Conventions = ToolTest;

TEST_F(Conventions, SeveralIdentifiersOnTheCommandLineOrStandardInput) {
  Oks({"init", "add sms inbox --text one --time 2026-01-01",
       "add sms inbox --text two --time 2026-01-02",
       "add sms inbox --text three --time 2026-01-03 --read",
       "add sms draft --text four --time 2026-01-04"});
  Steps({{"ls sms inbox --ids", 0, "3\n2\n1\n"},
         {"ls sms --unread", 0,
          "ID  FOLDER  TIME                  READ  STATUS  TO  SUBJECT / TEXT\n"
          " 4  draft   2026-01-04T00:00:00Z  no         0      four\n"
          " 2  inbox   2026-01-02T00:00:00Z  no         0      two\n"
          " 1  inbox   2026-01-01T00:00:00Z  no         0      one\n"},
         {"ls sms spam --unread", 0, "no unread messages in phone spam\n"},
         {"ls mms", 0, "no messages in the mms folders of phone memory\n"}});
  EXPECT_EQ(Run("mark sms - --read --status 7", 0, "", Input(Ok("ls sms --unread --ids"))),
            "message 4 in phone draft: read, status 7\nmessage 2 in phone inbox: read, status "
            "7\nmessage 1 in phone inbox: read, status 7\n");
  EXPECT_EQ(Ok("ls sms --unread --ids"), "");
  // Each failure on its own line, the others done, then how many failed.
  EXPECT_EQ(Run("rm sms 9 1 8", 1,
                "msgstore: no message 9 in phone memory\nmsgstore: no message 8 in phone memory\n"
                "msgstore: 2 of 3 messages not deleted\n"),
            "deleted message 1 in phone inbox\n");
  EXPECT_FALSE(fs::exists(At("EMS/INBOX/1.sms")));
  Steps({{"mv sms 2 3 spam", 0,
          "message 2 in phone inbox moved to phone spam as message 5\n"
          "message 3 in phone inbox moved to phone spam as message 6\n"},
         {"rm sms 2", 1, "no message 2 in phone memory\n"}});
  Refuses("rm sms -", 2, "no message identifier on standard input\n", Input(""));
  EXPECT_EQ(Run("rm sms -", 0, "", Input(" 5\n\n6 ")),
            "deleted message 5 in phone spam\ndeleted message 6 in phone spam\n");
}

TEST_F(Conventions, DestructiveCommandsAskOnATerminalTakeYesAndDryRun) {
  Oks({"init", "add sms inbox", "add sms inbox", "add sms inbox", "account add --name a --folder 3",
       "account add --name b --folder 3", "account use a"});
  const std::string backup = Save("backup.jsonl", Ok("export"));
  Ok("rm sms 3");  // which the import puts back
  Steps({{"empty sms inbox", 2,
          "delete the 2 messages of the phone inbox: give --yes to go on without a question "
          "(standard input is not a terminal)\n"},
         {"account empty 3", 2,
          "remove the 2 accounts of folder 3: give --yes to go on without a question"},
         {"import --replace " + backup, 2,
          "replace 2 stored messages and 2 stored accounts with those of " + backup +
              ": give --yes to go on without a question (standard input is not a terminal)\n"},
         {"import --dry-run " + backup, 1, "the device already holds sms message 1"}});
  const auto before = Device();
  Steps({{"empty sms inbox --dry-run", 0,
          "would delete 2 messages of the phone inbox (nothing deleted: --dry-run)\n"},
         {"account empty 3 --dry-run", 0,
          "would remove 2 accounts of folder 3 (805306371, 805306372) (nothing removed: "
          "--dry-run)\n"},
         {"import --replace --dry-run " + backup, 0,
          "would import 3 messages (sms 3, mms 0, email 0) and 2 accounts\nwould replace 2 "
          "stored messages and 2 stored accounts\nwould set 6 handset counters\nwould name "
          "account 805306371 the incoming-server account\nnothing imported: --dry-run\n"}});
  const std::string none = root_ + "/none";  // a dry run makes no root
  EXPECT_EQ(On(none, [&] { return Tool("import --dry-run " + backup); }).err,
            "msgstore: no device root at " + none +
                " (the import makes it and writes everything the file holds; nothing imported: "
                "--dry-run)\n");
  EXPECT_EQ(Device(), before);
  EXPECT_EQ(Ok("import --replace --yes " + backup),
            "imported 3 messages (sms 3, mms 0, email 0) and 2 accounts\nreplaced 2 stored "
            "messages and 2 stored accounts\n");

  Terminal no("n\n"), yes("y\n");
  Refuses("empty sms inbox", 1,
          "delete the 3 messages of the phone inbox? [y/N] msgstore: not answered yes: nothing "
          "deleted\n",
          no.fd());
  EXPECT_PRED2(Starts,
               Run("empty sms inbox", 0,
                   "msgstore: delete the 3 messages of the phone inbox? [y/N] ", yes.fd()),
               "emptied the phone inbox: 3 messages deleted\n");
  EXPECT_EQ(Ok("ls sms inbox --ids"), "");
  EXPECT_EQ(Ok("account empty 3 --yes"), "removed 2 accounts of folder 3\n");
}

TEST_F(Conventions, ShowCutsLongContentAtWholeCharacters) {
  Ok("init");
  // 255 letters, then a character of two UTF-16 units across the 512-byte mark, then 100 more.
  const std::string letters(255, 'a'), more(100, 'b');
  Ok("add sms draft --text " + letters + "\xF0\x9F\x98\x80" + more);
  EXPECT_PRED2(Has, Ok("show sms 1"),
               "\ncontent     714 bytes, UTF-16 text:\n" + letters +
                   "\n... 204 more bytes ('msgstore show sms 1 --raw' writes the whole content)\n");
  // UTF-8 arguments become UTF-16, beyond the BMP as surrogate pairs.
  const std::u16string units =
      std::u16string(255, u'a') + u"\U0001F600" + std::u16string(100, u'b');
  EXPECT_EQ(Ok("show sms 1 --raw"), std::string(reinterpret_cast<const char*>(units.data()), 714));
  Oks({"card insert", "init",
       "--card add sms draft --body " + Save("body.bin", std::string(600, '\0'))});
  const std::string shown = Ok("--card show sms 2");
  EXPECT_PRED2(Has, shown,
               "\n000001f0  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  |................|\n"
               "... 88 more bytes ('msgstore --card show sms 2 --raw' writes the whole content)\n");
  EXPECT_EQ(Lines(shown).size(), Lines(Ok("show sms 1")).size() - 1 + 32);
  Ok("add sms draft --text short");
  EXPECT_EQ(Lines(Ok("show sms 3")).back(), "short");  // whole, with no line after it
}

// On a terminal, the last progress line is cleared before the summary or a failure.
TEST_F(Conventions, TheLastProgressLineIsCleared) {
  Ok("init");
  for (int i = 0; i < 5; ++i) Ok("add sms draft");
  Ok("refresh --all");
  const std::string backup = Save("backup.jsonl", Ok("export"));
  for (const std::string& cmd : std::vector<std::string>{"export", "check", "import " + backup}) {
    Terminal tty;
    Child c(On(Starts(cmd, "import") ? Other() : root_, [&] { return Args(cmd); }), -1, tty.fd());
    EXPECT_EQ(c.Finish(), 0) << cmd;
    const std::string shown = tty.Shown(), label = cmd.substr(0, cmd.find(' ')) + ": ";
    const size_t last = shown.rfind(label);
    ASSERT_NE(last, std::string::npos) << cmd << shown;
    EXPECT_EQ(shown.substr(last, label.size() + 7), label + "5/5\r\033[K") << cmd << shown;
  }
}

}  // namespace
}  // namespace tool_test
