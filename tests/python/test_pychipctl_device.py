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
    monkeypatch.delenv("VADU_SIM_DEVICE_COUNT", raising=False)
    return Factory.create("sim")


@pytest.fixture
def null():
    return Factory.create("null")


# Factory


def test_create_by_name_str_or_bytes():
    assert Factory.get_supported_backends() == ["sim", "null"]
    for name in ("sim", b"sim", "null", b"null"):
        device = Factory.create(name)
        assert isinstance(device, chipctl.HalDevice)
        assert device.backend_name == (name.decode() if isinstance(name, bytes) else name)
    assert Factory.create(backend_name="null").backend_name == "null"


def test_create_unknown_backend_gives_none():
    assert Factory.create("Rv2HalBackend") is None
    assert Factory.create(b"sim\x00") is None
    with pytest.raises(TypeError):
        Factory.create(1)


def test_create_without_name_leaves_choice_to_library(monkeypatch):
    monkeypatch.setenv("VADU_BACKEND", "null")
    assert Factory.create().backend_name == "null"
    assert Factory.create("").backend_name == "null"
    monkeypatch.setenv("VADU_BACKEND", "unknown")
    assert Factory.create() is None
    monkeypatch.delenv("VADU_BACKEND")
    assert Factory.create().backend_name == "sim"


def test_supported_backends_is_a_new_list_each_time():
    first = Factory.get_supported_backends()
    first.append("x")
    assert Factory.get_supported_backends() == ["sim", "null"]


def test_sim_device_count_from_environment(monkeypatch):
    monkeypatch.setenv("VADU_SIM_DEVICE_COUNT", "5")
    device = Factory.create("sim")
    assert device.get_device_count() == 5
    assert device.get_dvfs_mode(4) == (Status.OK, DvfsMode.PERFORMANCE)
    assert device.get_dvfs_mode(5)[0] == Status.INVALID_ARGUMENT


# Plain operations


def test_unsupported_backend_returns_untouched_out_values(null):
    assert null.get_device_count() == -1
    assert null.ipu_reset(0) == Status.UNSUPPORTED
    assert null.set_dvfs_mode(0, DvfsMode.ON_DEMAND) == Status.UNSUPPORTED
    assert null.get_dvfs_mode(0) == (Status.UNSUPPORTED, DvfsMode.PERFORMANCE)
    frequency = null.get_ipu_frequency(0)
    assert frequency == (Status.UNSUPPORTED, 0) and type(frequency[1]) is int
    rate = null.get_ipu_util_rate(0)
    assert rate == (Status.UNSUPPORTED, 0.0) and type(rate[1]) is float
    status, info = null.get_mem_info(0)
    assert status == Status.UNSUPPORTED
    assert isinstance(info, chipctl.MemInfo)
    assert (info.mem_total, info.mem_used, info.mem_avail) == (0, 0, 0)


def test_dvfs_mode_round_trip_and_argument_types(sim):
    assert sim.get_dvfs_mode(1) == (Status.OK, DvfsMode.PERFORMANCE)
    assert sim.set_dvfs_mode(1, DvfsMode.ON_DEMAND) == Status.OK
    assert sim.get_dvfs_mode(1) == (Status.OK, DvfsMode.ON_DEMAND)
    assert sim.get_dvfs_mode(0) == (Status.OK, DvfsMode.PERFORMANCE)
    assert sim.set_dvfs_mode(device_id=0, mode=chipctl.ON_DEMAND) == Status.OK
    for bad_mode in (1, 1.0, None, Status.OK):
        with pytest.raises(TypeError):
            sim.set_dvfs_mode(0, bad_mode)
    # A mode without a name reaches the library, which refuses it.
    assert sim.set_dvfs_mode(0, DvfsMode(7)) == Status.INVALID_ARGUMENT


def test_device_id_must_be_a_32_bit_int(sim):
    for bad_id in (0.0, 2**31, -(2**31) - 1, "0", None):
        with pytest.raises(TypeError):
            sim.get_dvfs_mode(bad_id)
    for unknown in (-1, 2, 2**31 - 1, -(2**31)):
        assert sim.get_dvfs_mode(unknown) == (Status.INVALID_ARGUMENT, DvfsMode.PERFORMANCE)
        assert sim.get_ipu_frequency(unknown) == (Status.INVALID_ARGUMENT, 0)
        assert sim.ipu_reset(unknown) == Status.INVALID_ARGUMENT


def test_telemetry_follows_mode(sim):
    status, fast = sim.get_ipu_frequency(0)
    assert status == Status.OK and fast > 0
    _, busy_fast = sim.get_ipu_util_rate(0)
    sim.set_dvfs_mode(0, DvfsMode.ON_DEMAND)
    _, slow = sim.get_ipu_frequency(0)
    _, busy_slow = sim.get_ipu_util_rate(0)
    assert 0 < slow < fast
    assert 0.0 < busy_fast < busy_slow <= 100.0

    status, info = sim.get_mem_info(0)
    assert status == Status.OK
    assert info.mem_total > 0
    assert info.mem_used + info.mem_avail == info.mem_total


def test_backend_name_is_read_only(sim):
    with pytest.raises(AttributeError):
        sim.backend_name = "other"


# Reset callbacks


def test_callbacks_run_in_order_around_reset_with_device_id(sim):
    calls = []
    sim.register_post_reset_callback(1, lambda *args: calls.append(("post-a", args)))
    sim.register_pre_reset_callback(1, lambda *args: calls.append(("pre-a", args)))
    sim.register_pre_reset_callback(0, lambda *args: calls.append(("other", args)))
    sim.register_pre_reset_callback(1, lambda *args: calls.append(("pre-b", args)) or "ignored")
    sim.register_post_reset_callback(
        callback=lambda *args: calls.append(("post-b", args)), device_id=1
    )
    # A callback may use the device itself while the reset runs.
    sim.register_pre_reset_callback(1, lambda d: calls.append(("mode", sim.get_dvfs_mode(d)[1])))
    sim.set_dvfs_mode(1, DvfsMode.ON_DEMAND)

    assert sim.ipu_reset(1) == Status.OK
    assert calls == [
        ("pre-a", (1,)),
        ("pre-b", (1,)),
        ("mode", DvfsMode.ON_DEMAND),
        ("post-a", (1,)),
        ("post-b", (1,)),
    ]
    assert sim.get_dvfs_mode(1) == (Status.OK, DvfsMode.PERFORMANCE)


class CallbackFailed(Exception):
    pass


def test_raising_pre_reset_callback_surfaces_and_reset_is_skipped(sim):
    raised = CallbackFailed("cannot release buffers")
    calls = []

    def fail(device_id):
        raise raised

    sim.set_dvfs_mode(0, DvfsMode.ON_DEMAND)
    sim.register_pre_reset_callback(0, fail)
    sim.register_post_reset_callback(0, calls.append)
    with pytest.raises(CallbackFailed) as error:
        sim.ipu_reset(0)
    assert error.value is raised
    assert calls == []
    assert sim.get_dvfs_mode(0) == (Status.OK, DvfsMode.ON_DEMAND)


def test_raising_post_reset_callback_surfaces_after_the_reset(sim):
    def fail(device_id):
        raise ValueError(f"reload of device {device_id} failed")

    sim.set_dvfs_mode(1, DvfsMode.ON_DEMAND)
    sim.register_post_reset_callback(1, fail)
    with pytest.raises(ValueError, match="reload of device 1 failed"):
        sim.ipu_reset(1)
    assert sim.get_dvfs_mode(1) == (Status.OK, DvfsMode.PERFORMANCE)
    # The interpreter is left without a pending error.
    assert sim.ipu_reset(0) == Status.OK


def test_none_as_callback_fails_only_when_called(sim):
    handle = sim.register_pre_reset_callback(0, None)
    assert isinstance(handle, int)
    with pytest.raises(TypeError):
        sim.ipu_reset(0)
    with pytest.raises(TypeError):
        sim.ipu_reset(0)
    sim.unregister_reset_callback(handle)
    assert sim.ipu_reset(0) == Status.OK


def test_unregistering(sim):
    calls = []
    first = sim.register_pre_reset_callback(0, lambda d: calls.append("first"))
    second = sim.register_post_reset_callback(0, lambda d: calls.append("second"))
    assert isinstance(first, int) and first != second

    sim.unregister_reset_callback(first)
    sim.unregister_reset_callback(first)
    sim.unregister_reset_callback(handle=max(first, second) + 1000)
    sim.unregister_reset_callback(2**64 - 1)
    assert sim.ipu_reset(0) == Status.OK
    assert calls == ["second"]

    for bad in (-1, 2**64, 1.0, None):
        with pytest.raises(TypeError):
            sim.unregister_reset_callback(bad)


class Recorder:
    def __init__(self):
        self.calls = []

    def __call__(self, device_id):
        self.calls.append(device_id)


def test_registration_keeps_callback_alive_until_unregistered(sim):
    recorder = Recorder()
    calls = recorder.calls
    alive = weakref.ref(recorder)
    handle = sim.register_pre_reset_callback(1, recorder)
    del recorder
    gc.collect()
    assert alive() is not None

    sim.ipu_reset(1)
    assert calls == [1]
    sim.unregister_reset_callback(handle)
    gc.collect()
    assert alive() is None


def test_callbacks_die_with_the_device():
    recorder = Recorder()
    alive = weakref.ref(recorder)
    device = Factory.create("sim")
    device.register_post_reset_callback(0, recorder)
    del recorder, device
    gc.collect()
    assert alive() is None


def test_unsupported_backend_never_calls_callbacks(null):
    calls = []
    handle = null.register_pre_reset_callback(0, calls.append)
    assert isinstance(handle, int)
    null.unregister_reset_callback(handle)
    assert null.ipu_reset(0) == Status.UNSUPPORTED
    assert calls == []
