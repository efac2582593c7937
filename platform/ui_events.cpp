#include "platform/ui_events.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

// How often a waiting program in the background looks whether it is back in
// the foreground.
constexpr int kBackgroundRecheckMs = 250;

}  // namespace

SystemEventSource::SystemEventSource() {
  // A run started in the background of a shell must not touch the terminal's
  // input: reading it would stop the process (SIGTTIN).
  interactive_ = isatty(STDIN_FILENO) && isatty(STDERR_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
  input_open_ = interactive_;
}

int64_t SystemEventSource::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

UiEvents SystemEventSource::Wait(int timeout_ms) {
  UiEvents events;
  if (timeout_ms == 0 && !CloseRequestSignals::Pending()) {
    const int64_t now = NowMs();
    if (last_look_ms_ >= 0 && now - last_look_ms_ < kLookIntervalMs) return events;
    last_look_ms_ = now;
  }
  struct pollfd fds[2];
  fds[0] = {signals_.ReadFd(), POLLIN, 0};
  nfds_t count = 1;
  int timeout = timeout_ms < 0 ? -1 : timeout_ms;
  if (input_open_) {
    if (tcgetpgrp(STDIN_FILENO) == getpgrp()) {
      fds[1] = {STDIN_FILENO, POLLIN, 0};
      count = 2;
    } else if (timeout < 0 || timeout > kBackgroundRecheckMs) {
      // Sent to the background (Ctrl-Z, bg): reading the terminal there
      // would stop the process (SIGTTIN), in the middle of a run. Leave the
      // keys alone and look again soon, to hear them once back in front.
      timeout = kBackgroundRecheckMs;
    }
  }
  const int ready = poll(fds, count, timeout);
  // A signal interrupting poll (EINTR) has left its byte in the pipe, or at
  // least its flag: TakePending sees both.
  events.close_request = signals_.TakePending();
  if (ready > 0 && count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    char buffer[64];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n' || buffer[i] == '\r') events.enter = true;
      }
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      // The terminal went away: nobody can press Enter any more, so stop
      // listening (a waiting message box then ends on its own).
      input_open_ = false;
      interactive_ = false;
    }
  }
  return events;
}
