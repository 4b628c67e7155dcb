#include "pty_service.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <utility>

#include "console_io.h"
#include "pty_endpoint.h"

namespace zol::tools {
namespace {

constexpr int kPollMs = 5;
constexpr uint32_t kFlushMs = 500;
// A goodbye also needs the reader to take it before the line closes under it.
constexpr uint32_t kGoodbyeLingerMs = 300;

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) {
  stopRequested = 1;
}

}  // namespace

struct PtyService::Impl {
  const char* program;
  PtyServiceOptions options;
  PrintLineFn print;
  PtyEndpoint pty;
  std::string pendingOut;

  // Writes what the display has due, as much as the pty takes now.
  void Transmit(ServedDisplay& display) {
    display.Transmit(&pendingOut);
    if (pendingOut.empty()) return;
    const ssize_t n = write(pty.masterFd(), pendingOut.data(), pendingOut.size());
    if (n > 0) pendingOut.erase(0, static_cast<size_t>(n));
  }
};

PtyService::PtyService(const char* program, PtyServiceOptions options, PrintLineFn print)
    : impl_(new Impl{program, std::move(options), print, {}, {}}) {}

PtyService::~PtyService() {
  delete impl_;
}

int PtyService::Start(std::deque<std::string>* commands) {
  const PtyServiceOptions& options = impl_->options;
  if (!options.scriptFile.empty()) {
    std::ifstream script(options.scriptFile);
    if (!script) {
      std::fprintf(stderr, "%s: cannot read %s\n", impl_->program, options.scriptFile.c_str());
      return 2;
    }
    for (std::string line; std::getline(script, line);) commands->push_back(line);
  }

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGHUP, RequestStop);
  std::signal(SIGPIPE, SIG_IGN);

  PtyEndpoint& pty = impl_->pty;
  if (!pty.Open()) {
    std::fprintf(stderr, "%s: %s\n", impl_->program, pty.error().c_str());
    return 1;
  }
  impl_->print("pty " + pty.slavePath());
  if (!options.pathFile.empty()) {
    std::ofstream out(options.pathFile);
    out << pty.slavePath() << '\n';
  }
  if (!options.linkPath.empty()) {
    if (!pty.Link(options.linkPath)) {
      std::fprintf(stderr, "%s: %s\n", impl_->program, pty.error().c_str());
      return 1;
    }
    impl_->print("link " + options.linkPath);
  }
  return 0;
}

int PtyService::Run(Clock& clock, ServedDisplay& display, const std::string& greeting) {
  std::deque<std::string> commands;
  if (const int failure = Start(&commands); failure != 0) return failure;
  if (!greeting.empty()) impl_->print(greeting);
  impl_->print("ready");
  Serve(clock, display, std::move(commands));
  return 0;
}

void PtyService::Serve(Clock& clock, ServedDisplay& display, std::deque<std::string> commands) {
  const PtyServiceOptions& options = impl_->options;
  const int master = impl_->pty.masterFd();
  if (options.readStdin) fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  bool stdinOpen = options.readStdin;
  LineReader stdinReader;
  const uint32_t timeoutMs = static_cast<uint32_t>(options.timeoutSeconds) * 1000u;

  bool quit = false;
  while (!quit && stopRequested == 0) {
    if (timeoutMs != 0 && clock.Now() >= timeoutMs) break;

    pollfd fds[2];
    nfds_t count = 0;
    const bool outDue = !impl_->pendingOut.empty();
    fds[count++] = {master, static_cast<short>(POLLIN | (outDue ? POLLOUT : 0)), 0};
    if (stdinOpen) fds[count++] = {STDIN_FILENO, POLLIN, 0};
    if (poll(fds, count, kPollMs) < 0 && errno != EINTR) break;

    if ((fds[0].revents & POLLIN) != 0) {
      uint8_t buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) display.Receive(buffer, static_cast<size_t>(n));
    }
    if (count > 1 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      stdinOpen = stdinReader.ReadFrom(STDIN_FILENO, &commands);
      display.OnInputRead();
    }

    while (!display.Busy() && !commands.empty()) {
      const std::string line = commands.front();
      commands.pop_front();
      if (!display.Run(line)) {
        quit = true;
        break;
      }
    }
    impl_->Transmit(display);
    if (!stdinOpen && options.readStdin && commands.empty() && !display.Busy()) break;
  }

  // Let the last bytes reach the line before the pty goes away.
  const std::string goodbye = display.Goodbye();
  impl_->pendingOut += goodbye;
  const uint32_t flushEnd = clock.Now() + kFlushMs;
  while (static_cast<int32_t>(clock.Now() - flushEnd) < 0) {
    impl_->Transmit(display);
    if (impl_->pendingOut.empty()) break;
    clock.Sleep(kPollMs);
  }
  if (!goodbye.empty()) clock.Sleep(kGoodbyeLingerMs);
}

}  // namespace zol::tools
