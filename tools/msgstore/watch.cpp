// watch: stands in for the phone shell and the messaging application and
// prints each notice that the stores post to their windows.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "msgstore/notices.h"
#include "output.h"

namespace tool {
namespace {

int g_stopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  int saved = errno;
  char byte = 1;
  ssize_t ignored = write(g_stopPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

// Closes the stop pipe and restores the signal handlers on the way out.
class StopSignals {
 public:
  StopSignals() {
    if (pipe(g_stopPipe) != 0) throw Failure("cannot make the signal pipe");
    fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    close(g_stopPipe[0]);
    close(g_stopPipe[1]);
    g_stopPipe[0] = g_stopPipe[1] = -1;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  int fd() const { return g_stopPipe[0]; }

 private:
  struct sigaction oldInt_ = {};
  struct sigaction oldTerm_ = {};
};

std::string Hex(unsigned long value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*lX", digits, value);
  return buf;
}

void Print(const Context& ctx, const msgstore::WindowMessage& m) {
  std::string time = FormatTime(Now(), false);
  std::string window = Utf16ToUtf8(m.className);
  const msgstore::NoticeMeaning meaning = msgstore::ExplainNotice(m);
  if (ctx.json) {
    PrintJsonLine({{"time", time},
                   {"window", window},
                   {"message", m.msg},
                   {"message_hex", Hex(m.msg, 4)},
                   {"meaning", meaning.what},
                   {"wparam", static_cast<unsigned long long>(m.wParam)},
                   {"lparam", static_cast<long long>(m.lParam)},
                   {"detail", OrNull(meaning.detail)}});
    std::cout.flush();  // a reader of the notices sees each as it comes
    return;
  }
  std::cout << time << ' ' << window << ' ' << Hex(m.msg, 4) << " (" << meaning.what
            << ") wParam=" << static_cast<unsigned long long>(m.wParam)
            << " lParam=" << static_cast<long long>(m.lParam);
  if (!meaning.detail.empty()) std::cout << " (" << meaning.detail << ')';
  std::cout << std::endl;
}

// "notices come from: emptying ... (WCE_APSHELL); ..."
std::string NoticeSourcesText() {
  std::string text;
  for (const msgstore::NoticeSource& n : msgstore::NoticeSources())
    text += (text.empty() ? "" : "; ") + n.operation + " (" + Utf16ToUtf8(n.window) + ")";
  return "notices come from " + text + "; no other operation posts any";
}

int Watch(const Context& ctx) {
  // The windows of the phone shell and the messaging application, which the
  // stores post their notices to.
  const std::vector<std::u16string>& classes = msgstore::NoticeWindows();
  std::vector<std::unique_ptr<msgstore::WindowEndpoint>> endpoints;
  for (const std::u16string& c : classes) {
    endpoints.push_back(std::make_unique<msgstore::WindowEndpoint>(c));
    if (!endpoints.back()->valid())
      throw Failure("cannot register the window " + Utf16ToUtf8(c) + ": another process has it");
  }
  StopSignals stop;
  std::cerr << "watching " << JoinList(classes, " and ") << " on " << ctx.root
            << " (Ctrl-C stops)\n"
            << NoticeSourcesText() << std::endl;
  std::vector<pollfd> fds = {{stop.fd(), POLLIN, 0}};
  for (const auto& e : endpoints) fds.push_back({e->fd(), POLLIN, 0});
  for (;;) {
    for (pollfd& fd : fds) fd.revents = 0;
    int n = poll(fds.data(), fds.size(), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure("waiting for notices failed");
    }
    if (fds[0].revents != 0) break;
    for (size_t k = 0; k < endpoints.size(); ++k) {
      if (fds[k + 1].revents == 0) continue;
      msgstore::WindowMessage message;
      while (endpoints[k]->Receive(&message, 0)) {
        if (message.className.empty()) message.className = classes[k];
        Print(ctx, message);
      }
    }
    if (!std::cout) throw Failure("cannot write to standard output");
  }
  return 0;
}

}  // namespace

void AddWatchCommand(CLI::App& app, Context& ctx, Commands& commands) {
  CLI::App* cmd = app.add_subcommand("watch", "Register as the windows " +
                                                  JoinList(msgstore::NoticeWindows(), " and ") +
                                                  " and print each notice, until interrupted");
  cmd->footer(NoticeSourcesText() + ".");
  commands.On(cmd, [&ctx] { return Watch(ctx); });
}

}  // namespace tool
