// The LEAV_TRX opens of the leaves a run is about to write, queued ahead
// (TAdsQuery::QueueOpen), so that on a server the transaction rows of a
// batch of leaves are read in one request instead of one request per leave.
//
// The leaves to come are read from a second cursor of the run's own leave
// statement: the same text and values in the same snapshot, so the same
// rows in the same order. Whether that cursor agrees with the run only
// decides how many opens find their rows already read: every open gets the
// rows of its own values either way. A failure of the second cursor stops
// the queueing and is not the run's: the run's own reads meet any fault of
// the data in their order. On table files nothing is queued and no second
// cursor is opened. Owned by one leave run; holds at most kLeavesAhead
// leaves' rows.
#ifndef KDX_EXPORTS_LEAVE_TRANSACTIONS_AHEAD_H_
#define KDX_EXPORTS_LEAVE_TRANSACTIONS_AHEAD_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class TAdsQuery;

// Leaves whose LEAV_TRX opens are queued in one go.
constexpr size_t kLeavesAhead = 1000;

class LeaveTransactionsAhead {
 public:
  // A parameter of the LEAV_TRX query and the leave column it is bound from.
  struct Binding {
    const char* param;
    const char* column;
  };
  // Called with the second cursor standing on each leave queued, to queue
  // more of that leave's reads; what it raises stops the queueing.
  using AlsoQueue = std::function<void(TAdsQuery& leave)>;
  // `leaves` is the run's open leave query, standing on its first leave.
  LeaveTransactionsAhead(TAdsQuery& leaves, TAdsQuery& lvtx, std::vector<Binding> bindings,
                         AlsoQueue also_queue = {});
  ~LeaveTransactionsAhead();

  // Called for each leave of the run in turn, with `lvtx` closed and bound
  // for it, just before it is opened: when the opens queued are used up,
  // queues those of this leave and the next ones, kLeavesAhead in all.
  void BeforeOpen();

 private:
  bool Start(size_t current);
  void QueueFrom(size_t current);

  TAdsQuery& leaves_;
  TAdsQuery& lvtx_;
  std::vector<Binding> bindings_;
  AlsoQueue also_queue_;
  std::unique_ptr<TAdsQuery> ahead_;  // the second cursor, standing on leave queued_until_
  size_t seen_ = 0;                   // leaves the run has come to
  size_t queued_until_ = 0;           // the first leave not queued
  bool stopped_ = false;
};

#endif  // KDX_EXPORTS_LEAVE_TRANSACTIONS_AHEAD_H_
