// One-time set-up for code that runs with the interpreter lock held.
#pragma once

#include <algorithm>
#include <thread>
#include <vector>

#include <pybind11/pybind11.h>

namespace vadu::python {

namespace py = pybind11;

// A function-local static is not safe here when its initialiser calls into
// Python: the interpreter may hand the lock to another thread halfway, and that
// thread then waits for the static's guard while holding the lock the first
// thread needs to finish. Here only one thread at a time runs init, and a
// thread gives the interpreter lock up while it waits for another's init.
//
// The set-up has two steps. prepare (an ordinary import, say) may run on
// several threads at once and does its own locking; init (which reaches the
// static) runs on one. A thread is "inside" from the start of prepare to the
// end of init, and everything here is kept under the interpreter lock: no
// mutex, so nothing a fork could copy in a locked state.
//
// Forks: a fork made while another thread is inside gives that thread a short
// while to finish, holding nothing and never waiting for its own thread. A
// child forked while another thread was still inside cannot know what that
// thread held (an import, the static's guard), so it refuses the set-up. A
// fork from a thread that is inside (a signal handler) goes ahead, and the
// child carries on with the set-up: what that thread held, it still holds.
//
// prepare runs Python code, and init may (a replaced __import__), so the
// thread running them may call back in (a signal handler, an import hook).
// Such a call cannot wait for the set-up to end; it raises RuntimeError.
class GilSafeOnce {
 public:
  // what names the set-up in the errors it raises.
  explicit constexpr GilSafeOnce(const char* what) : what_(what) {}
  GilSafeOnce(const GilSafeOnce&) = delete;
  GilSafeOnce& operator=(const GilSafeOnce&) = delete;

  // Registers the fork hooks; call once, with the interpreter lock held,
  // before the first Run (when the module is imported).
  void GuardAcrossForks();

  // Runs prepare and then init, unless init has completed before; call with
  // the interpreter lock held. When either throws, the error propagates and
  // the next call tries again.
  template <typename Prepare, typename Init>
  void Run(Prepare&& prepare, Init&& init) {
    if (done_) return;
    RefuseSetUp();
    InsideScope inside(*this);
    prepare();
    if (!WaitForTurnToInit()) return;
    InitScope initialising(*this);
    init();
    done_ = true;
  }

 private:
  // Counts this thread as inside until the scope ends.
  class InsideScope {
   public:
    explicit InsideScope(GilSafeOnce& once) : once_(once) {
      once_.inside_.push_back(std::this_thread::get_id());
    }
    ~InsideScope() {
      auto& inside = once_.inside_;
      inside.erase(std::find(inside.begin(), inside.end(), std::this_thread::get_id()));
    }
    InsideScope(const InsideScope&) = delete;
    InsideScope& operator=(const InsideScope&) = delete;

   private:
    GilSafeOnce& once_;
  };

  // Marks init as running until the scope ends.
  class InitScope {
   public:
    explicit InitScope(GilSafeOnce& once) : once_(once) { once_.initialising_ = true; }
    ~InitScope() { once_.initialising_ = false; }
    InitScope(const InitScope&) = delete;
    InitScope& operator=(const InitScope&) = delete;

   private:
    GilSafeOnce& once_;
  };

  bool InsideOnThisThread() const;
  bool InsideOnAnotherThread() const;

  // Throws when this thread is inside already, or in a child forked while
  // another thread was.
  void RefuseSetUp() const;
  void RefuseInChildForkedDuringSetUp() const;
  // Waits, without the interpreter lock, while another thread runs init.
  // Returns false when that init completed, so this thread has nothing to do.
  bool WaitForTurnToInit();

  // The fork hooks. They hold nothing when they return, and throw nothing.
  void BeforeFork() noexcept;
  void AfterForkInChild() noexcept;

  const char* what_;
  // Every member below is read and written with the interpreter lock held.
  bool done_ = false;
  bool initialising_ = false;
  // Set in a child forked while another thread was inside.
  bool forked_during_set_up_ = false;
  // The threads inside, each once.
  std::vector<std::thread::id> inside_;
};

}  // namespace vadu::python
