"""pyvadu's one-time numpy set-up: first conversions from several threads, forks, signals,
greenlets, exit."""
import pytest

from new_interpreter import run_in_a_new_interpreter


# Eight threads make their first numpy conversion at once in a fresh
# interpreter, with numpy not yet imported and the interpreter lock changing
# hands as often as it can while numpy loads.
FIRST_CONVERSIONS_AT_ONCE = """
import sys, threading
from vadu_lite import pyvadu
assert "numpy" not in sys.modules, "importing pyvadu imported numpy"
sys.setswitchinterval(1e-6)
kind = sys.argv[1]
info = (pyvadu.TensorInfo.create_nd([2, 3], pyvadu.FLOAT32, [], 0) if kind == "nd"
        else pyvadu.TensorInfo.create_yuv(4, 4, 0, pyvadu.YUV420SP))
tensors = [pyvadu.Tensor.create_host_tensor(info) for _ in range(8)]
start = threading.Barrier(len(tensors))
done = []

def convert(tensor):
    start.wait()
    if kind == "copy":
        try:
            tensor.buffer().copy_from_host([0], 0)
        except TypeError:
            done.append(tensor)
    else:
        done.append(pyvadu.Tensor.tensor_to_array(tensor).shape)

threads = [threading.Thread(target=convert, args=(tensor,)) for tensor in tensors]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print(len(done), done[0] if kind != "copy" else "")
"""


@pytest.mark.parametrize("kind,shape", [("nd", "(2, 3)"), ("yuv", "(24,)"), ("copy", "")])
def test_first_numpy_conversions_from_several_threads_finish(kind, shape):
    assert run_in_a_new_interpreter(FIRST_CONVERSIONS_AT_ONCE, kind) == f"8 {shape}\n"


# What the fork scripts share: a tensor to convert, a child that converts and
# tells by its exit code how it went, and a parent that gives a child a few
# seconds before it calls it hung.
FORK_TOOLS = """
import os, signal, sys, threading, time
from vadu_lite import pyvadu
tensor = pyvadu.Tensor.create_host_tensor(pyvadu.TensorInfo.create_nd([2], pyvadu.UINT8, [], 0))

def convert():
    assert pyvadu.Tensor.tensor_to_array(tensor).shape == (2,)

def convert_and_exit():
    try:
        convert()
        os._exit(0)
    except RuntimeError as error:
        print(error, flush=True)
        os._exit(4)

def exit_code(child):
    deadline = time.monotonic() + 8
    while (ended := os.waitpid(child, os.WNOHANG)) == (0, 0):
        if time.monotonic() > deadline:
            os.kill(child, signal.SIGKILL)
            sys.exit("a forked child hung")
        time.sleep(0.01)
    return os.waitstatus_to_exitcode(ended[1])
"""

FORKED_WHILE_ANOTHER_THREAD_WAS_INSIDE = (
    "numpy support was being set up by another thread when the process forked\n")


# A thread makes the first numpy conversion, held up while it imports numpy's
# array interface, and the main thread forks meanwhile, three times. Each
# child makes a conversion of its own and must finish.
FORK_DURING_FIRST_CONVERSION = FORK_TOOLS + """
inside = threading.Event()

class SlowArrayInterface:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy.core.multiarray":
            inside.set()
            time.sleep(1)

sys.meta_path.insert(0, SlowArrayInterface())
threading.Thread(target=convert).start()
inside.wait()
for _ in range(3):
    if (child := os.fork()) == 0:
        convert_and_exit()
    assert exit_code(child) == 0, "a forked child's conversion failed"
"""


def test_children_forked_during_the_first_numpy_conversion_convert():
    run_in_a_new_interpreter(FORK_DURING_FIRST_CONVERSION, timeout=60)


# The thread making the first numpy conversion is interrupted while it imports
# numpy's array interface, and its signal handler forks or converts. A fork
# goes ahead at once, well within the time a fork gives another thread inside
# (it would wait for itself); a conversion is refused, since the set-up it
# needs is the one it interrupted. Either way the first conversion then finishes.
SIGNAL_DURING_FIRST_CONVERSION = """
import os, signal, sys, time
from vadu_lite import pyvadu
tensor = pyvadu.Tensor.create_host_tensor(pyvadu.TensorInfo.create_nd([2], pyvadu.UINT8, [], 0))
seen = []

def on_signal(signum, frame):
    if sys.argv[1] == "fork":
        started = time.monotonic()
        child = os.fork()
        if child == 0:
            os._exit(7)
        if time.monotonic() - started > 2:
            seen.append("the fork waited")
        seen.append(os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]))
    else:
        try:
            pyvadu.Tensor.tensor_to_array(tensor)
        except RuntimeError as error:
            seen.append(str(error))

class InterruptedArrayInterface:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy.core.multiarray":
            signal.raise_signal(signal.SIGUSR1)

signal.signal(signal.SIGUSR1, on_signal)
sys.meta_path.insert(0, InterruptedArrayInterface())
first = pyvadu.Tensor.tensor_to_array(tensor).shape
print(seen, first, pyvadu.Tensor.tensor_to_array(tensor).shape)
"""


@pytest.mark.parametrize("handler,seen", [
    ("fork", "[7]"),
    ("convert", "['numpy support is still being set up on this thread; "
                "call again once that is done']"),
], ids=["fork", "convert"])
def test_a_signal_handler_inside_the_first_numpy_conversion_does_not_hang(handler, seen):
    assert run_in_a_new_interpreter(SIGNAL_DURING_FIRST_CONVERSION, handler) == f"{seen} (2,) (2,)\n"


# Once the set-up is done, a fork waits for nothing, not even one that a
# signal handler makes while the main thread's fork runs its hooks. Hooks of
# the caller's, registered before pyvadu's own, raise the signal before each
# of the main thread's forks and after it in the parent: 20 forks, each with
# two forks of the handler's among its hooks.
FORKS_FROM_A_SIGNAL_HANDLER_AMONG_FORK_HOOKS = """
import os, signal
busy, handler_forks = False, 0

def on_alarm(signum, frame):
    global busy, handler_forks
    busy = True
    if (child := os.fork()) == 0:
        os._exit(0)
    os.waitpid(child, 0)
    busy, handler_forks = False, handler_forks + 1

def raise_alarm():
    if not busy:
        signal.raise_signal(signal.SIGALRM)

signal.signal(signal.SIGALRM, on_alarm)
os.register_at_fork(before=raise_alarm, after_in_parent=raise_alarm)
""" + FORK_TOOLS + """
convert()
for _ in range(20):
    if (child := os.fork()) == 0:
        os._exit(0)
    os.waitpid(child, 0)
print(handler_forks)
"""


def test_forks_from_a_signal_handler_among_fork_hooks_finish():
    assert run_in_a_new_interpreter(FORKS_FROM_A_SIGNAL_HANDLER_AMONG_FORK_HOOKS) == "40\n"


# The first conversion fails (numpy's array interface cannot be imported) and
# is tried again on the same thread by a fork hook of the caller's, registered
# before pyvadu's own; the child converts too.
A_FORK_HOOK_RETRIES_A_FAILED_SET_UP = """
import os, sys
os.register_at_fork(**{sys.argv[1]: lambda: convert()})
""" + FORK_TOOLS + """
class NoArrayInterface:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy.core.multiarray":
            raise ImportError("numpy's array interface is not here")

sys.meta_path.insert(0, NoArrayInterface())
try:
    convert()
except ImportError:
    print("failed")
sys.meta_path.remove(sys.meta_path[0])
if (child := os.fork()) == 0:
    convert_and_exit()
print(exit_code(child))
convert()
"""


@pytest.mark.parametrize("hook", ["before", "after_in_parent", "after_in_child"])
def test_a_failed_set_up_is_retried_by_a_fork_hook_on_the_same_thread(hook):
    assert run_in_a_new_interpreter(A_FORK_HOOK_RETRIES_A_FAILED_SET_UP, hook) == "failed\n0\n"


# Holds a thread's import of numpy's array interface, from when it sets
# `inside` until `finish` is set. It holds the module while it runs, not while
# it is looked up: a fork waits for the interpreter's import lock, which a
# lookup holds.
HELD_ARRAY_INTERFACE = """
import importlib.machinery
inside, finish = threading.Event(), threading.Event()

class HeldLoader:
    def __init__(self, loader):
        self.loader = loader

    def create_module(self, spec):
        return self.loader.create_module(spec)

    def exec_module(self, module):
        inside.set()
        finish.wait()
        self.loader.exec_module(module)

class HeldArrayInterface:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy.core.multiarray":
            spec = importlib.machinery.PathFinder.find_spec(name, path)
            spec.loader = HeldLoader(spec.loader)
            return spec
"""

# pyvadu's own imports of numpy's array interface, counted per thread. They
# come from C, so their caller is a frame of the script: a thread's first is
# its set-up's import, its second the lookup its init makes. on_prepare and
# on_init run in place of them, before the import itself.
COUNTED_SET_UP_IMPORTS = """
import builtins
real_import, set_up_imports = builtins.__import__, {}
on_prepare = on_init = lambda: None

def counting_import(name, *args, **kwargs):
    if name == "numpy.core.multiarray" and sys._getframe(1).f_code.co_filename == "<string>":
        thread = threading.get_ident()
        set_up_imports[thread] = set_up_imports.get(thread, 0) + 1
        (on_prepare if set_up_imports[thread] == 1 else on_init)()
    return real_import(name, *args, **kwargs)

builtins.__import__ = counting_import
"""


# Another thread is inside the set-up while the main thread forks. The fork
# waits a short while for it and then goes ahead; a child forked while that
# thread was still inside refuses to convert, and forks again at once, and so
# does the grandchild, which knows what the child knew.
#  - "within": the other thread is held inside the import for half a second.
#  - "beyond": it is held until after the fork.
#  - "import lock": it waits for the import lock, which the forking thread
#    holds as a thread does while it imports.
# The first conversion starts in a fork hook of the caller's, so the fork's
# own hooks see a set-up that began after they were looked up.
FORK_WHILE_ANOTHER_THREAD_IS_INSIDE = FORK_TOOLS + HELD_ARRAY_INTERFACE + """
import _imp
first = threading.Thread(target=convert)

def start_first_conversion():
    if first.ident is None:
        first.start()
        inside.wait()
        if sys.argv[1] == "within":
            threading.Timer(0.5, finish.set).start()

if sys.argv[1] == "import lock":
    _imp.acquire_lock()
    first = threading.Thread(target=convert)
    first.start()
    time.sleep(0.5)
else:
    sys.meta_path.insert(0, HeldArrayInterface())
    os.register_at_fork(before=start_first_conversion)
if (child := os.fork()) == 0:
    started = time.monotonic()
    if (grandchild := os.fork()) == 0:
        convert_and_exit()
    assert time.monotonic() - started < 2, "a fork in the child waited for a thread it does not have"
    print("grandchild", exit_code(grandchild), flush=True)
    convert_and_exit()
if sys.argv[1] == "import lock":
    _imp.release_lock()
finish.set()
print(exit_code(child))
first.join()
convert()
"""


REFUSED_IN_CHILD_AND_GRANDCHILD = (FORKED_WHILE_ANOTHER_THREAD_WAS_INSIDE + "grandchild 4\n"
                                   + FORKED_WHILE_ANOTHER_THREAD_WAS_INSIDE + "4\n")


@pytest.mark.parametrize("held,seen", [
    ("within", "grandchild 0\n0\n"),
    ("beyond", REFUSED_IN_CHILD_AND_GRANDCHILD),
    ("import lock", REFUSED_IN_CHILD_AND_GRANDCHILD),
], ids=["within", "beyond", "import lock"])
def test_a_fork_while_another_thread_is_inside_the_set_up_never_hangs(held, seen):
    assert run_in_a_new_interpreter(FORK_WHILE_ANOTHER_THREAD_IS_INSIDE, held) == seen


# The main thread forks every millisecond while another thread makes the
# first conversion; every child converts.
FORKS_THROUGHOUT_THE_FIRST_CONVERSION = FORK_TOOLS + """
first = threading.Thread(target=convert)
first.start()
codes = set()
while first.is_alive() or not codes:
    if (child := os.fork()) == 0:
        convert_and_exit()
    codes.add(exit_code(child))
    time.sleep(0.001)
print(codes)
"""


def test_children_forked_throughout_the_first_conversion_convert():
    assert run_in_a_new_interpreter(FORKS_THROUGHOUT_THE_FIRST_CONVERSION) == "{0}\n"


# A fork hook of the caller's, registered before pyvadu's own, converts in the
# child, on the forking thread or on a thread it starts, while another thread
# of the parent is held inside the set-up. The child refuses at once, whichever
# hook runs first; the new thread may have been given the id of the thread the
# fork left behind, and is not taken for it.
A_CHILD_HOOK_CONVERTS_WHILE_ANOTHER_THREAD_IS_INSIDE = """
import os, sys, threading

def in_child():
    if sys.argv[1] == "on a thread it starts":
        threading.Thread(target=convert_and_exit).start()
        threading.Event().wait()
    convert_and_exit()

os.register_at_fork(after_in_child=in_child)
""" + FORK_TOOLS + HELD_ARRAY_INTERFACE + """
sys.meta_path.insert(0, HeldArrayInterface())
first = threading.Thread(target=convert)
first.start()
inside.wait()
child = os.fork()
finish.set()
print(exit_code(child))
first.join()
"""


@pytest.mark.parametrize("where", ["on the forking thread", "on a thread it starts"])
def test_a_child_hook_that_runs_first_is_refused_when_another_thread_was_inside(where):
    assert (run_in_a_new_interpreter(A_CHILD_HOOK_CONVERTS_WHILE_ANOTHER_THREAD_IS_INSIDE, where)
            == FORKED_WHILE_ANOTHER_THREAD_WAS_INSIDE + "4\n")


# A greenlet makes the first conversion and switches away inside its import of
# numpy's array interface, as a coroutine waits. Greenlets share their thread
# and swap its C stack. Another greenlet of that thread then converts, or forks
# and the child converts on it: either is refused, whatever the depth of its
# stack, and the parked greenlet's conversion then finishes.
A_GREENLET_PARKED_INSIDE_THE_SET_UP = FORK_TOOLS + """
import greenlet

def at_depth(depth, call):  # each level a call from C, so that it takes C stack
    return call() if depth == 0 else next(map(at_depth, [depth - 1], [call]))

class SwitchingArrayInterface:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy.core.multiarray":
            main.switch()

def refused():
    try:
        convert()
    except RuntimeError as error:
        return error

main = greenlet.getcurrent()
sys.meta_path.insert(0, SwitchingArrayInterface())
parked = greenlet.greenlet(convert)
parked.switch()
depth = int(sys.argv[2])
if sys.argv[1] == "converts":
    print(at_depth(depth, refused))
elif (child := os.fork()) == 0:
    at_depth(depth, convert_and_exit)
else:
    print(exit_code(child))
parked.switch()
convert()
print("finished")
"""

STILL_BEING_SET_UP_ON_THIS_THREAD = (
    "numpy support is still being set up on this thread; call again once that is done\n")


@pytest.mark.parametrize("depth", [0, 1, 2, 3])
@pytest.mark.parametrize("other_greenlet,seen", [
    ("converts", STILL_BEING_SET_UP_ON_THIS_THREAD + "finished\n"),
    ("forks", STILL_BEING_SET_UP_ON_THIS_THREAD + "4\nfinished\n"),
], ids=["converts", "forks"])
def test_a_greenlet_parked_inside_the_set_up_refuses_the_other_greenlets_of_its_thread(
        other_greenlet, seen, depth):
    assert run_in_a_new_interpreter(A_GREENLET_PARKED_INSIDE_THE_SET_UP, other_greenlet, str(depth)) == seen


# Daemon threads wait in the set-up when the main thread returns, and the
# interpreter finalises slowly (standard output takes a while to flush), so
# they ask for its lock meanwhile. The process ends quietly, with status 0.
#  - "fork": a thread forks while another is held inside the import.
#  - "init": a thread waits for another thread's init, which runs Python code.
THREADS_WAITING_IN_THE_SET_UP_AT_EXIT = FORK_TOOLS + HELD_ARRAY_INTERFACE + COUNTED_SET_UP_IMPORTS + """
os.dup2(1, 2)
waiting = threading.Event()

class SlowlyFlushedOutput:
    closed = False

    def flush(self):  # called once the interpreter is finalising
        time.sleep(0.2)

sys.stdout = SlowlyFlushedOutput()
if sys.argv[1] == "fork":
    sys.meta_path.insert(0, HeldArrayInterface())
    threading.Thread(target=convert, daemon=True).start()
    inside.wait()
    os.register_at_fork(before=waiting.set)  # runs just before pyvadu's own
    threading.Thread(target=os.fork, daemon=True).start()
else:
    on_init = lambda: (waiting.set(), finish.wait())
    threading.Thread(target=convert, daemon=True).start()
    waiting.wait()
    threading.Thread(target=convert, daemon=True).start()
waiting.wait()
time.sleep(0.1)
"""


@pytest.mark.parametrize("waits_for", ["fork", "init"])
def test_threads_waiting_in_the_set_up_when_the_interpreter_exits_end_quietly(waits_for):
    assert run_in_a_new_interpreter(THREADS_WAITING_IN_THE_SET_UP_AT_EXIT, waits_for) == ""


# numpy's array interface imports, but lacks what the framework takes from it
# (as a numpy too old would): the conversion fails, and once the real module
# is back the next one converts.
INIT_FAILS_AFTER_ITS_IMPORT = FORK_TOOLS + """
import types
import numpy.core.multiarray as array_interface
sys.modules["numpy.core.multiarray"] = types.ModuleType("numpy.core.multiarray")
try:
    convert()
except AttributeError as error:
    print(error)
sys.modules["numpy.core.multiarray"] = array_interface
convert()
"""


def test_a_set_up_whose_init_failed_is_tried_again():
    assert (run_in_a_new_interpreter(INIT_FAILS_AFTER_ITS_IMPORT)
            == "module 'numpy.core.multiarray' has no attribute '_ARRAY_API'\n")


# The set-up runs once: its import and its init's lookup, and never again.
SET_UP_RUNS_ONCE = FORK_TOOLS + COUNTED_SET_UP_IMPORTS + """
for _ in range(1000):
    convert()
print(list(set_up_imports.values()))
"""


def test_the_set_up_runs_once():
    assert run_in_a_new_interpreter(SET_UP_RUNS_ONCE) == "[2]\n"


# Another thread's init runs Python code (a replaced __import__ that waits)
# when the main thread's set-up comes to its import.
#  - "converts": the main thread waits for that init, and both convert.
#  - "forks": the main thread forks from inside its import. In the child the
#    init is gone for good: the child refuses, at once.
ANOTHER_THREADS_INIT_RUNS_PYTHON_CODE = FORK_TOOLS + COUNTED_SET_UP_IMPORTS + """
in_init, main_imports = threading.Event(), threading.Event()

def on_init():
    if not in_init.is_set():
        in_init.set()
        main_imports.wait()
        time.sleep(0.1)

def on_prepare():
    if threading.current_thread() is threading.main_thread():
        if sys.argv[1] == "forks" and (child := os.fork()) == 0:
            return
        if sys.argv[1] == "forks":
            print(exit_code(child))
        main_imports.set()

parent = os.getpid()
first = threading.Thread(target=convert, daemon=True)
first.start()
in_init.wait()
try:
    convert()
except RuntimeError as error:
    print(error, flush=True)
    os._exit(4)
if os.getpid() != parent:
    os._exit(0)
first.join()
print("converted")
"""


@pytest.mark.parametrize("main_thread,seen", [
    ("converts", "converted\n"),
    ("forks", FORKED_WHILE_ANOTHER_THREAD_WAS_INSIDE + "4\nconverted\n"),
], ids=["converts", "forks"])
def test_another_threads_init_that_runs_python_code(main_thread, seen):
    assert run_in_a_new_interpreter(ANOTHER_THREADS_INIT_RUNS_PYTHON_CODE, main_thread) == seen
