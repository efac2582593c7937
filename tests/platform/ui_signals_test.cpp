#include "platform/ui_signals.h"

#include <gtest/gtest.h>

#include <csignal>

#include "platform/ui_events.h"

namespace {
volatile sig_atomic_t g_outer_handler_calls = 0;
void OuterHandler(int) { g_outer_handler_calls = g_outer_handler_calls + 1; }
}  // namespace

TEST(CloseRequestSignalsTest, EachSignalBecomesOnePendingRequest) {
  CloseRequestSignals signals;
  EXPECT_FALSE(signals.TakePending());
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    ASSERT_EQ(raise(sig), 0);  // the process survives: the signal is a request
    EXPECT_TRUE(signals.TakePending()) << sig;
    EXPECT_EQ(CloseRequestSignals::LastSignal(), sig);
    EXPECT_FALSE(signals.TakePending()) << sig;
  }
}

TEST(CloseRequestSignalsTest, ManyRequestsBeforeTheLoopLooksAreOne) {
  CloseRequestSignals signals;
  for (int i = 0; i < 1000; ++i) raise(SIGTERM);  // more than the pipe holds
  EXPECT_TRUE(signals.TakePending());
  EXPECT_FALSE(signals.TakePending());
}

TEST(CloseRequestSignalsTest, PutsThePreviousHandlersBack) {
  struct sigaction outer {}, saved {};
  outer.sa_handler = OuterHandler;
  sigemptyset(&outer.sa_mask);
  sigaction(SIGHUP, &outer, &saved);
  {
    CloseRequestSignals signals;
    raise(SIGHUP);
    EXPECT_EQ(g_outer_handler_calls, 0);
  }
  raise(SIGHUP);
  EXPECT_EQ(g_outer_handler_calls, 1);
  sigaction(SIGHUP, &saved, nullptr);
}

TEST(SystemEventSourceTest, AWaitEndsAtOnceOnACloseRequest) {
  SystemEventSource events;
  raise(SIGTERM);
  const int64_t before = events.NowMs();
  UiEvents got = events.Wait(10000);
  EXPECT_TRUE(got.close_request);
  EXPECT_LT(events.NowMs() - before, 5000);
  EXPECT_FALSE(events.Wait(0).close_request);
}

// Looks in quick succession skip the terminal, never a close request.
TEST(SystemEventSourceTest, ACloseRequestIsSeenByTheNextLookHoweverSoon) {
  SystemEventSource events;
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(events.Wait(0).close_request);
    raise(SIGINT);
    EXPECT_TRUE(events.Wait(0).close_request);
    EXPECT_FALSE(events.Wait(0).close_request);
  }
}

TEST(SystemEventSourceTest, AWaitWithNothingToDoTimesOut) {
  SystemEventSource events;
  const int64_t before = events.NowMs();
  UiEvents got = events.Wait(30);
  EXPECT_FALSE(got.close_request);
  EXPECT_GE(events.NowMs() - before, 29);
}
