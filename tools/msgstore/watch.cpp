// watch: stands in for the phone shell and the messaging application and
// prints each notice that the stores post to their windows.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>

#include "commands.h"
#include "output.h"
#include "text.h"

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

const char* EmailFolder(UINT msg) {
  switch (msg) {
    case 0x19A0:
      return "inbox";
    case 0x19A1:
      return "draft";
    case 0x19A2:
      return "sent";
    case 0x19A4:
      return "report";
    case 0x19A5:
      return "spam";
    default:
      return nullptr;
  }
}

struct Meaning {
  std::string what;    // "inbox emptied"
  std::string detail;  // "EMS"
};

Meaning Explain(const msgstore::WindowMessage& m) {
  if (m.msg == 0x0C44) {
    const char* store = m.lParam == 0 ? "EMS" : m.lParam == 1 ? "MMS" : "unknown store";
    return {"inbox emptied", store};
  }
  if (const char* folder = EmailFolder(m.msg)) {
    unsigned long l = static_cast<unsigned long>(m.lParam) & 0xFFFFFFFFul;
    unsigned storage = l & 0xFFFF;
    unsigned event = (l >> 16) & 0xFF;
    std::string detail = storage == 0   ? "phone memory"
                         : storage == 1 ? "memory card"
                                        : "storage " + std::to_string(storage);
    detail += event == 3 ? ", message " + std::to_string(m.wParam) + " removed to make room"
                         : ", event " + std::to_string(event);
    return {std::string("e-mail ") + folder + " event", detail};
  }
  return {"unknown message", ""};
}

void Print(const Context& ctx, const msgstore::WindowMessage& m) {
  std::string time = FormatTime(Now(), false);
  std::string window = Utf16ToUtf8(m.className);
  Meaning meaning = Explain(m);
  if (ctx.json) {
    PrintJsonLine({{"time", time},
                   {"window", window},
                   {"message", m.msg},
                   {"message_hex", Hex(m.msg, 4)},
                   {"meaning", meaning.what},
                   {"wparam", static_cast<unsigned long long>(m.wParam)},
                   {"lparam", static_cast<long long>(m.lParam)},
                   {"detail", meaning.detail}});
    return;
  }
  std::cout << time << ' ' << window << ' ' << Hex(m.msg, 4) << " (" << meaning.what
            << ") wParam=" << static_cast<unsigned long long>(m.wParam)
            << " lParam=" << static_cast<long long>(m.lParam);
  if (!meaning.detail.empty()) std::cout << " (" << meaning.detail << ')';
  std::cout << std::endl;
}

int Watch(const Context& ctx) {
  const std::u16string classes[2] = {u"WCE_APSHELL", u"WCE_CVMESSAGEEXEC"};
  msgstore::WindowEndpoint shell(classes[0]);
  if (!shell.valid())
    throw Failure("cannot register the window WCE_APSHELL: another process has it");
  msgstore::WindowEndpoint app(classes[1]);
  if (!app.valid())
    throw Failure("cannot register the window WCE_CVMESSAGEEXEC: another process has it");
  StopSignals stop;
  std::cerr << "watching WCE_APSHELL and WCE_CVMESSAGEEXEC on " << ctx.root << " (Ctrl-C stops)"
            << std::endl;
  msgstore::WindowEndpoint* endpoints[2] = {&shell, &app};
  for (;;) {
    pollfd fds[3] = {{stop.fd(), POLLIN, 0}, {shell.fd(), POLLIN, 0}, {app.fd(), POLLIN, 0}};
    int n = poll(fds, 3, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure("waiting for notices failed");
    }
    if (fds[0].revents != 0) break;
    for (int k = 0; k < 2; ++k) {
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
  CLI::App* cmd = app.add_subcommand(
      "watch",
      "Register as the windows WCE_APSHELL and WCE_CVMESSAGEEXEC and print each notice, until "
      "interrupted");
  commands.On(cmd, [&ctx] { return Watch(ctx); });
}

}  // namespace tool
