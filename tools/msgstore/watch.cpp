// watch: stands in for the phone shell and the messaging application and
// prints each notice that the stores post to their windows.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_stopPipe[1], &byte, 1);
  errno = saved;
}

// Closes the stop pipe and restores the signal handlers on the way out.
class StopSignals {
 public:
  StopSignals() {
    if (pipe(g_stopPipe) != 0) throw Failure("cannot make the signal pipe");
    fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK);
    oldInt_ = std::signal(SIGINT, OnStopSignal);
    oldTerm_ = std::signal(SIGTERM, OnStopSignal);
  }
  ~StopSignals() {
    std::signal(SIGINT, oldInt_);
    std::signal(SIGTERM, oldTerm_);
    close(g_stopPipe[0]);
    close(g_stopPipe[1]);
    g_stopPipe[0] = g_stopPipe[1] = -1;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  int fd() const { return g_stopPipe[0]; }

 private:
  void (*oldInt_)(int) = SIG_DFL;
  void (*oldTerm_)(int) = SIG_DFL;
};

void Print(const Context& ctx, const msgstore::WindowMessage& m) {
  const std::string time = FormatTime(Now(), false);
  const std::string window = Utf16ToUtf8(m.className);
  const msgstore::NoticeMeaning meaning = msgstore::ExplainNotice(m);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", m.msg);
  if (ctx.json) {
    PrintJsonLine({{"time", time},
                   {"window", window},
                   {"message", m.msg},
                   {"message_hex", hex},
                   {"meaning", meaning.what},
                   {"wparam", static_cast<unsigned long long>(m.wParam)},
                   {"lparam", static_cast<long long>(m.lParam)},
                   {"detail", OrNull(meaning.detail)}});
  } else {
    std::cout << time << ' ' << window << ' ' << hex << " (" << meaning.what
              << ") wParam=" << static_cast<unsigned long long>(m.wParam)
              << " lParam=" << static_cast<long long>(m.lParam);
    if (!meaning.detail.empty()) std::cout << " (" << meaning.detail << ')';
    std::cout << '\n';
  }
  std::cout.flush();  // a reader of the notices sees each as it comes
}

// "notices come from: emptying ... (WCE_APSHELL); ..."
std::string NoticeSourcesText() {
  std::string text;
  for (const msgstore::NoticeSource& n : msgstore::NoticeSources())
    text += (text.empty() ? "" : "; ") + n.operation + " (" + Utf16ToUtf8(n.window) + ")";
  return "notices come from " + text + "; no other operation posts any";
}

int Watch(const Context& ctx) {
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
    if (poll(fds.data(), fds.size(), -1) < 0) {
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
