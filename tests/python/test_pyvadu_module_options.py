"""pyvadu's DevManager, WeightManager, Option and RunOption."""
import pathlib
import subprocess

import pytest

from vadu_lite import pyvadu

HELPER = pathlib.Path(pyvadu.__file__).parents[2] / "bin" / "write_module_test_model"


@pytest.fixture(scope="module")
def model_path(tmp_path_factory):
    path = tmp_path_factory.mktemp("model") / "flow.qdm"
    subprocess.run([str(HELPER), str(path)], check=True)
    return str(path)


def loads(model_path, option):
    return pyvadu.Module(model_path, option).init_status == pyvadu.OK


def test_dev_manager_default_and_create_overloads():
    empty = pyvadu.DevManager()
    assert empty.dev_count == 0
    assert empty.init_status == pyvadu.UNINITIALIZED
    assert empty.verify() == pyvadu.UNINITIALIZED

    one = pyvadu.DevManager.create(1, "sim")
    pair = pyvadu.DevManager.create([0, 1], "sim")
    assert (one.dev_count, pair.dev_count) == (1, 2)
    assert pyvadu.DevManager.create((1, 0), b"sim").dev_count == 2  # any sequence; bytes for str
    assert pair.init_status == pyvadu.OK and pair.verify() == pyvadu.OK
    assert pyvadu.DevManager.create([0, 0], "sim").init_status == pyvadu.INVALID_ARGUMENT
    assert pyvadu.DevManager.create(0, "other").verify() == pyvadu.UNSUPPORTED
    for args in (("01", "sim"), ([0, "1"], "sim"), (2**31, "sim"), ([2**31], "sim"), (0,), (0, 1)):
        with pytest.raises(TypeError):
            pyvadu.DevManager.create(*args)


def test_dev_manager_verify_asks_the_backend_each_time(monkeypatch):
    three = pyvadu.DevManager.create([0, 2], "sim")
    monkeypatch.setenv("VADU_SIM_DEVICE_NUM", "2")
    assert three.verify() == pyvadu.INVALID_ARGUMENT
    monkeypatch.setenv("VADU_SIM_DEVICE_NUM", "3")
    assert three.verify() == pyvadu.OK


def test_option_overloads_pick_the_devices(model_path):
    with pytest.raises(TypeError):
        pyvadu.Option()
    for bad in (None, 2**31, 1.0, "0"):
        with pytest.raises(TypeError):
            pyvadu.Option(bad)
    assert loads(model_path, pyvadu.Option(1))
    assert not loads(model_path, pyvadu.Option(7))
    assert loads(model_path, pyvadu.Option(pyvadu.DevManager.create([1, 0], "sim")))
    assert not loads(model_path, pyvadu.Option(pyvadu.DevManager()))
    assert not loads(model_path, pyvadu.Option(pyvadu.DevManager.create(0, "other")))
    assert loads(model_path, pyvadu.Option(pyvadu.WeightManager()))
    assert loads(model_path, pyvadu.Option(pyvadu.WeightManager.create_weight_manager(1)))
    assert not loads(model_path, pyvadu.Option(pyvadu.WeightManager.create_weight_manager(7)))
    devices = pyvadu.DevManager.create(5, "sim")
    assert not loads(model_path, pyvadu.Option(pyvadu.WeightManager.create_weight_manager(devices)))
    with pytest.raises(TypeError):
        pyvadu.WeightManager.create_weight_manager(None)


def test_fluent_setters_return_the_same_object():
    option = pyvadu.Option(0)
    assert option.enable_profile(3) is option
    chained = (option.set_dummy_tensors(["a", b"b"]).enable_io_lazy_mode(True)
               .enable_host_lazy_loading(False).set_model_offset(0, 0))
    assert chained is option
    for call in (lambda: option.enable_profile(-1), lambda: option.set_model_offset(-1, 0),
                 lambda: option.set_model_offset(0, -1), lambda: option.set_dummy_tensors("ab"),
                 lambda: option.set_dummy_tensors(b"ab"), lambda: option.set_dummy_tensors([1]),
                 lambda: option.enable_io_lazy_mode()):
        with pytest.raises(TypeError):
            call()

    run = pyvadu.RunOption()
    assert run.Rounds(5) is run
    assert run.CoreMask(3).Rounds(4) is run
    assert (run.rounds, run.core_mask) == (4, 3)
    assert type(run).rounds.fset(run, 9) is None
    assert type(run).core_mask.fset(run, -1) is None
    assert (run.rounds, run.core_mask) == (9, -1)
    with pytest.raises(TypeError):
        run.Rounds(2**63)
    with pytest.raises(TypeError):
        run.rounds = 1.5


def test_option_settings_reach_the_load(model_path, tmp_path):
    # The model bytes inside a larger file, selected by the model offset.
    model = pathlib.Path(model_path).read_bytes()
    packed = tmp_path / "packed.bin"
    packed.write_bytes(b"\xee" * 100 + model + b"\xee" * 20)
    assert not loads(str(packed), pyvadu.Option(0))
    assert loads(str(packed), pyvadu.Option(0).set_model_offset(100, len(model)))
    status = pyvadu.Module(str(packed), pyvadu.Option(0).set_model_offset(100, len(model) + 100)).init_status
    assert status == pyvadu.OUT_OF_RANGE

    # Dummy tensors need not be bound for a run.
    module = pyvadu.Module(model_path, pyvadu.Option(0).set_dummy_tensors(["a", "b", "sum", "tag"]))
    assert module.run(True, pyvadu.RunOption()) == pyvadu.OK
    module = pyvadu.Module(model_path, pyvadu.Option(0))
    assert module.run(True, pyvadu.RunOption()) == pyvadu.INVALID_ARGUMENT
