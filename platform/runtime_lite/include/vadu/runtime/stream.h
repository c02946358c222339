// An execution stream. The simulator runs all work synchronously at the call,
// so waiting on a stream always succeeds at once.
#pragma once

#include "vadu/runtime/enums.h"

namespace vadu {

class Stream {
 public:
  // non_blocking is recorded only; the simulator never queues work.
  explicit Stream(bool non_blocking = false);

  Status Sync();
  Status SyncYield();
  bool IsNonBlocking() const { return non_blocking_; }
  Status GetInitStatus() const { return OK; }

 private:
  bool non_blocking_;
};

}  // namespace vadu
