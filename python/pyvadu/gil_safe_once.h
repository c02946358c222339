// One-time initialisation for code that runs with the interpreter lock held.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include <pybind11/pybind11.h>

namespace vadu::python {

namespace py = pybind11;

// A function-local static is not safe here when its initialiser calls into
// Python: the interpreter may hand the lock to another thread halfway, and that
// thread then waits for the static's guard while holding the lock the first
// thread needs to finish. Here a thread gives the lock up before it waits, so
// the thread that initialises can always take it back.
//
// A fork made while another thread initialises would leave the child with
// this once's mutex, and whatever init holds (an import, a static's guard),
// owned by a thread the child does not have: the child's first use would wait
// forever. So every fork through the interpreter from another thread waits for
// the mutex and holds it until the fork is done: it happens before or after
// init, never during it. The thread running init may fork at once (from a
// signal handler, say): the child is that thread, so it owns what init holds.
//
// init runs Python code, so the thread running it may call back in (a signal
// handler, an import hook). Such a call cannot wait for init to end; it raises
// RuntimeError instead.
class GilSafeOnce {
 public:
  // what names the set-up in the error of a call made from inside it.
  explicit constexpr GilSafeOnce(const char* what) : what_(what) {}
  GilSafeOnce(const GilSafeOnce&) = delete;
  GilSafeOnce& operator=(const GilSafeOnce&) = delete;

  // Runs init unless it has completed before; call with the interpreter lock
  // held. When init throws, the error propagates and the next call tries again.
  template <typename Init>
  void Run(Init&& init) {
    if (done_.load(std::memory_order_acquire)) return;
    RefuseCallFromInit();
    HoldAcrossForks();
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_.load(std::memory_order_relaxed)) return;
    py::gil_scoped_acquire locked;
    InitScope scope(*this);
    init();
    done_.store(true, std::memory_order_release);
  }

 private:
  // Marks this thread as the one running init until the scope ends.
  class InitScope {
   public:
    explicit InitScope(GilSafeOnce& once) : once_(once) {
      once_.running_on_ = std::this_thread::get_id();
    }
    ~InitScope() { once_.running_on_.reset(); }
    InitScope(const InitScope&) = delete;
    InitScope& operator=(const InitScope&) = delete;

   private:
    GilSafeOnce& once_;
  };

  bool InitRunsOnThisThread() const { return running_on_ == std::this_thread::get_id(); }

  // Throws when this thread is inside init: the mutex it would wait for is
  // its own.
  void RefuseCallFromInit() const;

  // Registers the fork hooks that hold the mutex, on the first call; call
  // with the interpreter lock held.
  void HoldAcrossForks();
  void TakeForFork();
  void ReleaseAfterFork();

  const char* what_;
  std::mutex mutex_;
  std::atomic<bool> done_{false};
  // The members below are read and written only with the interpreter lock held.
  bool fork_hooks_registered_ = false;
  // The thread inside init, while one is.
  std::optional<std::thread::id> running_on_;
  // The thread whose fork holds the mutex, while one does. After a fork only
  // that thread gives it back: a thread whose fork began before the hooks were
  // registered runs the after-fork hook without the before-fork one.
  std::optional<std::thread::id> held_for_fork_by_;
};

}  // namespace vadu::python
