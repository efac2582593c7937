#include "platform/ui_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "util/error.h"

namespace {

constexpr int kCloseSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_write_fd = -1;
// Lock-free, so safe to touch from the handler; exchange() never loses a
// request that lands between reading and clearing the flag.
std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);
volatile sig_atomic_t g_last_signal = 0;
bool g_installed = false;
struct sigaction g_previous[3];

void OnCloseSignal(int signal_number) {
  const int saved_errno = errno;
  g_pending = 1;
  g_last_signal = signal_number;
  const int fd = g_write_fd;
  if (fd >= 0) {
    const char byte = 1;
    // A full pipe already holds a pending request; the byte is not needed.
    [[maybe_unused]] ssize_t ignored = write(fd, &byte, 1);
  }
  errno = saved_errno;
}

void SetFlags(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

CloseRequestSignals::CloseRequestSignals() {
  if (g_installed) throw Exception("Close-request signal handlers are already installed");
  int fds[2];
  if (pipe(fds) != 0) {
    throw Exception(std::string("Cannot create the close-request pipe: ") + std::strerror(errno));
  }
  read_fd_ = fds[0];
  write_fd_ = fds[1];
  SetFlags(read_fd_);
  SetFlags(write_fd_);
  g_write_fd = write_fd_;
  g_pending = 0;
  g_last_signal = 0;

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESTART keeps plain file writes of a run from failing with EINTR.
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kCloseSignals[i], &action, &g_previous[i]);
  g_installed = true;
}

CloseRequestSignals::~CloseRequestSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kCloseSignals[i], &g_previous[i], nullptr);
  g_write_fd = -1;
  g_installed = false;
  close(read_fd_);
  close(write_fd_);
}

bool CloseRequestSignals::TakePending() {
  char buffer[64];
  while (read(read_fd_, buffer, sizeof buffer) > 0) {
  }
  return g_pending.exchange(0) != 0;
}

bool CloseRequestSignals::Pending() { return g_pending.load() != 0; }

int CloseRequestSignals::LastSignal() { return g_last_signal; }
