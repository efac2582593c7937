// Close requests from the operating system. SIGINT, SIGTERM and SIGHUP do not
// end the process: they become requests to close the main window, which the
// message loop (and "process pending messages") picks up, so that a run under
// way goes on to its end and no output file is cut short.
//
// The handlers only set a flag and write one byte to a non-blocking pipe
// (both async-signal-safe); everything else happens on the one UI thread.
// At most one CloseRequestSignals is alive per process.
#ifndef KDX_PLATFORM_UI_SIGNALS_H_
#define KDX_PLATFORM_UI_SIGNALS_H_

class CloseRequestSignals {
 public:
  // Installs the handlers. Throws Exception when the pipe cannot be made or
  // another instance is alive.
  CloseRequestSignals();
  // Puts the previous handlers back and closes the pipe.
  ~CloseRequestSignals();
  CloseRequestSignals(const CloseRequestSignals&) = delete;
  CloseRequestSignals& operator=(const CloseRequestSignals&) = delete;

  // Readable while a request is pending; for poll().
  int ReadFd() const { return read_fd_; }
  // Empties the pipe. True when at least one request arrived since the last
  // call; the request is then consumed.
  [[nodiscard]] bool TakePending();
  // Whether a request is pending, without consuming it or touching the pipe.
  static bool Pending();
  // The number of the last signal seen (0 when none yet).
  static int LastSignal();

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
};

#endif  // KDX_PLATFORM_UI_SIGNALS_H_
