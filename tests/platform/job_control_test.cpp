// A run started at a terminal and then sent to the background (Ctrl-Z, bg)
// must go on and end on its own: it may neither read the terminal's keys nor
// change its modes from there, since either would stop the process.
//
// Each test makes a fresh pseudo-terminal in a session of its own. A "shell"
// process leads the session; the "job" runs in a process group of its own
// with the terminal as its standard input and error. The two take turns
// through a pair of pipes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/ui_events.h"
#include "platform/ui_terminal.h"

namespace {

// Exit statuses of the shell process besides the job's own.
constexpr int kJobStopped = 100;   // the job stopped itself on the terminal
constexpr int kSetupFailed = 101;
constexpr int kTimedOut = 102;
constexpr int kLostTurn = 103;     // the other side did not answer in time

class Session {
 public:
  // Runs `shell` as the leader of a new session on a new pseudo-terminal,
  // with `job` started in the foreground. Gives the shell's exit status.
  static int Run(const std::function<int(Session&)>& job, const std::function<int(Session&)>& shell) {
    const pid_t leader = fork();
    if (leader < 0) return kSetupFailed;
    if (leader == 0) {
      Session session;
      _exit(session.Lead(job, shell));
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(leader, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(leader, SIGKILL);
        waitpid(leader, &status, 0);
        return kTimedOut;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kSetupFailed;
  }

  // Gives the terminal's foreground to the job, or takes it back.
  void JobToForeground() { SetForeground(job_); }
  void ShellToForeground() { SetForeground(getpgrp()); }
  void Type(const char* keys) { [[maybe_unused]] ssize_t n = write(master_, keys, strlen(keys)); }

  // A turn: Tell lets the other side go on, Hear waits for the other side.
  void Tell() {
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(is_job_ ? to_shell_[1] : to_job_[1], &c, 1);
  }
  // On the shell's side a job that stops meanwhile ends the wait at once.
  bool Hear() {
    pollfd fd{is_job_ ? to_job_[0] : to_shell_[0], POLLIN, 0};
    for (int slice = 0; slice < 500; ++slice) {
      char c;
      if (poll(&fd, 1, 20) == 1) return read(fd.fd, &c, 1) == 1;
      int status = 0;
      if (!is_job_ && waitpid(job_, &status, WNOHANG | WUNTRACED) == job_) {
        job_status_ = status;
        return false;
      }
    }
    return false;
  }

  // The job's exit status; kJobStopped when it stopped instead.
  int WaitJob() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    if (job_status_ >= 0 && WIFSTOPPED(job_status_)) {
      kill(job_, SIGKILL);
      waitpid(job_, &status, 0);
      return kJobStopped;
    }
    if (job_status_ >= 0) return WIFEXITED(job_status_) ? WEXITSTATUS(job_status_) : kSetupFailed;
    for (;;) {
      const pid_t got = waitpid(job_, &status, WNOHANG | WUNTRACED);
      if (got == job_ && WIFSTOPPED(status)) {
        kill(job_, SIGKILL);
        waitpid(job_, &status, 0);
        return kJobStopped;
      }
      if (got == job_) return WIFEXITED(status) ? WEXITSTATUS(status) : kSetupFailed;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(job_, SIGKILL);
        waitpid(job_, &status, 0);
        return kTimedOut;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

 private:
  int Lead(const std::function<int(Session&)>& job, const std::function<int(Session&)>& shell) {
    if (setsid() < 0 || pipe(to_job_) != 0 || pipe(to_shell_) != 0) return kSetupFailed;
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return kSetupFailed;
    const char* name = ptsname(master_);
    slave_ = name == nullptr ? -1 : open(name, O_RDWR);
    if (slave_ < 0) return kSetupFailed;
    ioctl(slave_, TIOCSCTTY, 0);
    job_ = fork();
    if (job_ < 0) return kSetupFailed;
    if (job_ == 0) {
      is_job_ = true;
      signal(SIGTTOU, SIG_DFL);
      signal(SIGTTIN, SIG_DFL);
      setpgid(0, 0);
      if (dup2(slave_, STDIN_FILENO) < 0 || dup2(slave_, STDERR_FILENO) < 0) _exit(kSetupFailed);
      if (!Hear()) _exit(kLostTurn);  // until the shell has put it in front
      _exit(job(*this));
    }
    setpgid(job_, job_);
    JobToForeground();
    Tell();
    return shell(*this);
  }

  void SetForeground(pid_t group) {
    // The shell hands the terminal over from the background too.
    signal(SIGTTOU, SIG_IGN);
    tcsetpgrp(slave_, group);
  }

  bool is_job_ = false;
  int master_ = -1;
  int slave_ = -1;
  pid_t job_ = -1;
  int job_status_ = -1;  // what the shell's Hear learnt of the job's end or stop
  int to_job_[2] = {-1, -1};
  int to_shell_[2] = {-1, -1};
};

// Some containers have no pseudo-terminals at all; there is nothing to check.
bool PseudoTerminalsAvailable() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return false;
  close(master);
  return true;
}

TEST(BackgroundJobTest, TerminalModesAreNotTouchedWhenTheProgramEndsInTheBackground) {
  if (!PseudoTerminalsAvailable()) GTEST_SKIP() << "no pseudo-terminals here";
  const int status = Session::Run(
      [](Session& s) {
        {
          TerminalInputMode mode;
          termios now{};
          if (tcgetattr(STDIN_FILENO, &now) != 0 || (now.c_lflag & ICANON) != 0) return 3;  // not in key mode
          s.Tell();
          if (!s.Hear()) return kLostTurn;
        }  // the program ends here, in the background
        return 0;
      },
      [](Session& s) {
        if (!s.Hear()) return s.WaitJob();
        s.ShellToForeground();  // Ctrl-Z, bg
        s.Tell();
        return s.WaitJob();
      });
  EXPECT_EQ(status, 0) << (status == kJobStopped ? "the program stopped on the terminal instead of ending" : "");
}

TEST(BackgroundJobTest, KeysAreLeftAloneInTheBackgroundAndHeardBackInFront) {
  if (!PseudoTerminalsAvailable()) GTEST_SKIP() << "no pseudo-terminals here";
  const int status = Session::Run(
      [](Session& s) {
        SystemEventSource events;
        if (!events.Interactive()) return 3;
        s.Tell();
        if (!s.Hear()) return kLostTurn;
        if (events.Wait(200).enter) return 4;  // in the background: nothing read
        s.Tell();
        if (!s.Hear()) return kLostTurn;
        return events.Wait(5000).enter ? 0 : 5;  // in front again: the Enter typed meanwhile
      },
      [](Session& s) {
        if (!s.Hear()) return s.WaitJob();
        s.ShellToForeground();
        s.Type("\n");  // typed for the shell while the run goes on behind it
        s.Tell();
        if (!s.Hear()) return s.WaitJob();
        s.JobToForeground();  // fg
        s.Tell();
        return s.WaitJob();
      });
  EXPECT_EQ(status, 0) << (status == kJobStopped ? "the program stopped reading the terminal from the background"
                                                 : "");
}

}  // namespace
