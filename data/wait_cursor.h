// The application-wide wait cursor as the data layer uses it: a connect and
// the execution of a query show it while they run, and put back what was
// shown before. The application hangs its own cursor here (for example
// TApplication::SetWaitCursor); until it does, nothing is shown.
#ifndef KDX_DATA_WAIT_CURSOR_H_
#define KDX_DATA_WAIT_CURSOR_H_

#include <functional>

// `hook(true)` shows the wait cursor, `hook(false)` takes it away. An empty
// hook removes it.
void SetWaitCursorHook(std::function<void(bool busy)> hook);

// Shows the wait cursor for its lifetime. Nested scopes show it once.
class ScopedWaitCursor {
 public:
  ScopedWaitCursor();
  ~ScopedWaitCursor();
  ScopedWaitCursor(const ScopedWaitCursor&) = delete;
  ScopedWaitCursor& operator=(const ScopedWaitCursor&) = delete;
};

#endif  // KDX_DATA_WAIT_CURSOR_H_
