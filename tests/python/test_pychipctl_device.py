"""pychipctl's HalDevice and HalDeviceFactory over the stand-in library's backends."""
import gc
import weakref

import pytest

import vadu_lite.pychipctl as chipctl

Status = chipctl.Status
DvfsMode = chipctl.DvfsMode
Factory = chipctl.HalDeviceFactory


@pytest.fixture
def sim(monkeypatch):
    monkeypatch.delenv("VADU_SIM_DEVICE_NUM", raising=False)
    return Factory.create("sim")


def test_factory(monkeypatch):
    assert Factory.get_supported_backends() == ["sim", "null"]
    assert Factory.create(b"null").backend_name == "null"
    assert Factory.create(backend_name="sim").backend_name == "sim"
    assert Factory.create("Rv2HalBackend") is None
    monkeypatch.setenv("VADU_BACKEND", "null")
    assert Factory.create().backend_name == "null"
    with pytest.raises(TypeError):
        Factory.create(1)


def test_unsupported_backend_returns_initial_out_values():
    null = Factory.create("null")
    assert null.get_device_count() == -1
    assert null.ipu_reset(0) == Status.UNSUPPORTED
    assert null.get_dvfs_mode(0) == (Status.UNSUPPORTED, DvfsMode.PERFORMANCE)
    assert null.get_ipu_frequency(0) == (Status.UNSUPPORTED, 0)
    rate = null.get_ipu_util_rate(0)
    assert rate == (Status.UNSUPPORTED, 0.0) and type(rate[1]) is float
    status, info = null.get_mem_info(0)
    assert status == Status.UNSUPPORTED
    assert (info.mem_total, info.mem_used, info.mem_avail) == (0, 0, 0)


def test_dvfs_mode_and_telemetry(sim):
    _, fast = sim.get_ipu_frequency(1)
    _, busy_fast = sim.get_ipu_util_rate(1)
    assert sim.set_dvfs_mode(1, DvfsMode.ON_DEMAND) == Status.OK
    assert sim.get_dvfs_mode(1) == (Status.OK, DvfsMode.ON_DEMAND)
    assert sim.get_dvfs_mode(0) == (Status.OK, DvfsMode.PERFORMANCE)
    _, slow = sim.get_ipu_frequency(1)
    _, busy_slow = sim.get_ipu_util_rate(1)
    assert 0 < slow < fast and 0.0 < busy_fast < busy_slow <= 100.0
    status, info = sim.get_mem_info(1)
    assert status == Status.OK and info.mem_used + info.mem_avail == info.mem_total > 0
    # A mode without a name reaches the library, which refuses it.
    assert sim.set_dvfs_mode(0, DvfsMode(7)) == Status.INVALID_ARGUMENT


def test_argument_conversion(sim):
    for bad_mode in (1, None, Status.OK):
        with pytest.raises(TypeError):
            sim.set_dvfs_mode(0, bad_mode)
    for bad_id in (0.0, 2**31, -(2**31) - 1):
        with pytest.raises(TypeError):
            sim.get_dvfs_mode(bad_id)
    for bad_handle in (-1, 2**64, 1.0):
        with pytest.raises(TypeError):
            sim.unregister_reset_callback(bad_handle)
    assert sim.get_dvfs_mode(2**31 - 1) == (Status.INVALID_ARGUMENT, DvfsMode.PERFORMANCE)


def test_arguments_can_be_given_by_keyword(sim):
    assert sim.set_dvfs_mode(device_id=1, mode=DvfsMode.ON_DEMAND) == Status.OK
    assert sim.get_dvfs_mode(device_id=1) == (Status.OK, DvfsMode.ON_DEMAND)
    for getter in (sim.get_ipu_frequency, sim.get_mem_info, sim.get_ipu_util_rate):
        assert getter(device_id=1)[0] == Status.OK
    calls = []
    pre = sim.register_pre_reset_callback(device_id=1, callback=calls.append)
    post = sim.register_post_reset_callback(device_id=1, callback=calls.append)
    assert sim.ipu_reset(device_id=1) == Status.OK and calls == [1, 1]
    sim.unregister_reset_callback(handle=pre)
    sim.unregister_reset_callback(handle=post)
    assert sim.ipu_reset(1) == Status.OK and calls == [1, 1]


def test_callbacks_run_in_order_around_reset_with_device_id(sim):
    calls = []
    sim.register_post_reset_callback(1, lambda *args: calls.append(("post-a", args)))
    sim.register_pre_reset_callback(1, lambda *args: calls.append(("pre-a", args)) or "ignored")
    sim.register_pre_reset_callback(0, lambda *args: calls.append(("other", args)))
    sim.register_post_reset_callback(callback=lambda *a: calls.append(("post-b", a)), device_id=1)
    # The device can be used from a callback; the reset has not happened yet.
    sim.register_pre_reset_callback(1, lambda d: calls.append(("mode", sim.get_dvfs_mode(d)[1])))
    sim.set_dvfs_mode(1, DvfsMode.ON_DEMAND)

    assert sim.ipu_reset(1) == Status.OK
    assert calls == [("pre-a", (1,)), ("mode", DvfsMode.ON_DEMAND), ("post-a", (1,)),
                     ("post-b", (1,))]
    assert sim.get_dvfs_mode(1) == (Status.OK, DvfsMode.PERFORMANCE)


class CallbackFailed(Exception):
    pass


def test_raising_callback_surfaces_from_ipu_reset(sim):
    raised = CallbackFailed("cannot release buffers")

    def fail(device_id):
        raise raised

    calls = []
    sim.set_dvfs_mode(0, DvfsMode.ON_DEMAND)
    pre = sim.register_pre_reset_callback(0, fail)
    sim.register_post_reset_callback(0, calls.append)
    with pytest.raises(CallbackFailed) as error:
        sim.ipu_reset(0)
    assert error.value is raised
    assert calls == [] and sim.get_dvfs_mode(0)[1] == DvfsMode.ON_DEMAND  # not reset

    sim.unregister_reset_callback(pre)
    sim.register_post_reset_callback(0, fail)
    with pytest.raises(CallbackFailed):
        sim.ipu_reset(0)
    assert calls == [0] and sim.get_dvfs_mode(0)[1] == DvfsMode.PERFORMANCE  # reset


def test_none_as_callback_fails_only_when_called(sim):
    handle = sim.register_pre_reset_callback(0, None)
    assert isinstance(handle, int)
    with pytest.raises(TypeError):
        sim.ipu_reset(0)
    sim.unregister_reset_callback(handle)
    assert sim.ipu_reset(0) == Status.OK


class Recorder:
    def __init__(self):
        self.calls = []

    def __call__(self, device_id):
        self.calls.append(device_id)


def test_unregistering_releases_the_callback(sim):
    recorder = Recorder()
    calls, alive = recorder.calls, weakref.ref(recorder)
    handle = sim.register_pre_reset_callback(1, recorder)
    other = sim.register_post_reset_callback(1, lambda d: calls.append("other"))
    del recorder
    gc.collect()
    assert sim.ipu_reset(1) == Status.OK and calls == [1, "other"]

    sim.unregister_reset_callback(handle)
    sim.unregister_reset_callback(handle)  # unknown handles are ignored
    sim.unregister_reset_callback(max(handle, other) + 1000)
    gc.collect()
    assert alive() is None
    assert sim.ipu_reset(1) == Status.OK and calls == [1, "other", "other"]


def test_dropping_the_device_releases_its_callbacks():
    device = Factory.create("sim")
    recorder = Recorder()
    alive = weakref.ref(recorder)
    device.register_pre_reset_callback(0, recorder)
    device.register_post_reset_callback(1, recorder)
    del recorder
    gc.collect()
    assert alive() is not None
    del device
    gc.collect()
    assert alive() is None
