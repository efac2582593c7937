#include "data/wait_cursor.h"

#include <mutex>

namespace {

std::mutex g_hook_mu;
std::function<void(bool)> g_hook;
// Scopes open in this thread; the cursor changes only at the outermost.
thread_local int g_depth = 0;

void Call(bool busy) {
  std::function<void(bool)> hook;
  {
    std::lock_guard<std::mutex> lock(g_hook_mu);
    hook = g_hook;
  }
  if (hook) hook(busy);
}

}  // namespace

void SetWaitCursorHook(std::function<void(bool busy)> hook) {
  std::lock_guard<std::mutex> lock(g_hook_mu);
  g_hook = std::move(hook);
}

ScopedWaitCursor::ScopedWaitCursor() {
  if (g_depth++ == 0) Call(true);
}

ScopedWaitCursor::~ScopedWaitCursor() {
  if (--g_depth == 0) Call(false);
}
