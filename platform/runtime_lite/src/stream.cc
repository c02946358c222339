#include "vadu/runtime/stream.h"

namespace vadu {

Stream::Stream(bool non_blocking) : non_blocking_(non_blocking) {}

// Work runs at the call in the simulator: there is never anything to wait for.
Status Stream::Sync() { return OK; }
Status Stream::SyncYield() { return OK; }

}  // namespace vadu
