// One-time set-up for code that runs with the interpreter lock held.
#pragma once

#include <sys/types.h>

#include <pybind11/pybind11.h>

namespace vadu::python {

namespace py = pybind11;

// A function-local static is not safe here when its initialiser calls into
// Python: the interpreter may hand the lock to another thread halfway, which
// then waits for the static's guard while holding the lock the first needs.
// Here one thread at a time runs init, and others wait without the lock.
//
// prepare (an ordinary import, say) may run on several threads at once and
// does its own locking; init (which reaches the static) runs on one. A thread
// is "inside" from the start of prepare to the end of init, and knows so from
// a thread-local record, not by its id, which a thread started after a fork
// may share with one the fork left behind. The record is a value: greenlets
// swap C stacks under one thread, so a pointer into a stack is not. It serves
// every once of the process (there is one). The state is kept under the
// interpreter lock: there is no mutex that a fork could copy locked.
//
// A fork made while another thread is inside gives that thread a short while
// to finish. A child notices for itself that it is one, by its process id,
// whichever fork hooks run first. If a thread other than the forking one was
// inside, the child cannot know what that thread held (an import, the
// static's guard), so it refuses the set-up; the forking thread itself (a
// signal handler) carries on, and still holds what it held.
//
// prepare runs Python code, and init may (a replaced __import__): a call back
// in on the same thread (a signal handler, an import hook, another greenlet)
// cannot wait for the set-up to end, so it raises RuntimeError.
class GilSafeOnce {
 public:
  // what names the set-up in the errors it raises.
  explicit constexpr GilSafeOnce(const char* what) : what_(what) {}
  GilSafeOnce(const GilSafeOnce&) = delete;
  GilSafeOnce& operator=(const GilSafeOnce&) = delete;

  // Registers the fork hook; call once, when the module is imported.
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
    InitScope initialising(initialising_);
    init();
    done_ = true;
  }

 private:
  // Counts this thread as inside until the scope ends.
  struct InsideScope {
    explicit InsideScope(GilSafeOnce& once) : once_(once), process_(once.NoticeFork()) {
      ++once_.inside_;
      this_thread_ = {true, process_};
    }
    ~InsideScope() {
      --(process_ == once_.NoticeFork() ? once_.inside_ : once_.inside_at_fork_);
      this_thread_.inside = false;
    }
    InsideScope(const InsideScope&) = delete;

    GilSafeOnce& once_;
    const pid_t process_;  // the one it began in
  };

  // A thread is inside at most once at a time: a second Run on it is refused.
  struct ThreadRecord {
    bool inside;
    pid_t process;  // the one its set-up began in
  };

  // Marks init as running until the scope ends.
  struct InitScope {
    explicit InitScope(bool& running) : running_(running) { running_ = true; }
    ~InitScope() { running_ = false; }
    bool& running_;
  };

  // In a forked child, moves inside_ to inside_at_fork_; returns the process id.
  pid_t NoticeFork();

  // Throws when this thread is inside already, or in a child forked while
  // another thread was.
  void RefuseSetUp();
  void RefuseInChildForkedDuringSetUp();
  // Waits, without the interpreter lock, while another thread runs init.
  // Returns false when that init completed, so this thread has nothing to do.
  bool WaitForTurnToInit();

  // The fork hook, for the once `capsule` points to; it throws nothing.
  static PyObject* BeforeFork(PyObject* capsule, PyObject* /*no arguments*/) noexcept;

  static inline thread_local ThreadRecord this_thread_{};

  const char* what_;
  // Every member below is read and written with the interpreter lock held.
  bool done_ = false;
  bool initialising_ = false;
  pid_t process_ = 0;  // the process whose threads inside_ counts
  int inside_ = 0;
  // Threads inside when this process was forked, the forking one if it was.
  int inside_at_fork_ = 0;
};

}  // namespace vadu::python
