"""pyvadu's Module: loading, queries, argument rules, and a whole run on a factory model."""
import json
import pathlib
import subprocess

import numpy as np
import pytest

from vadu_lite import pyvadu

HELPER = pathlib.Path(pyvadu.__file__).parents[2] / "bin" / "write_module_test_model"
Tensor = pyvadu.Tensor


@pytest.fixture(scope="module")
def model_path(tmp_path_factory):
    # inputs "a" float32 (2, 3) and "b" uint8 (4,); outputs "sum" float32 (2, 3) and "tag" int16 (5,)
    path = tmp_path_factory.mktemp("model") / "flow.qdm"
    subprocess.run([str(HELPER), str(path)], check=True)
    return str(path)


def expected_output(k, nbytes, *inputs):
    """The stand-in's run: byte j of output k is k XOR byte (j mod n_i) of every input."""
    out = np.full(nbytes, k, dtype=np.uint8)
    for array in inputs:
        out ^= np.resize(np.ascontiguousarray(array).view(np.uint8).reshape(-1), nbytes)
    return out


def host_tensor(info, values=None):
    tensor = Tensor.create_host_tensor(info)
    if values is not None:
        assert tensor.buffer().copy_from_host(np.ascontiguousarray(values), 0) == pyvadu.OK
    return tensor


def test_loading_and_describing(model_path):
    module = pyvadu.Module.load(model_path)  # the default Option(0)
    assert module.init_status == pyvadu.OK
    assert (module.get_num_inputs(), module.get_num_outputs()) == (2, 2)
    assert [module.get_input_name(i) for i in range(2)] == ["a", "b"]
    assert [module.get_output_name(i) for i in range(2)] == ["sum", "tag"]
    info = module.get_input_info("a")
    assert (info.shape, info.dtype, info.format) == ([2, 3], pyvadu.FLOAT32, pyvadu.ND)
    assert module.get_output_info("tag").dtype == pyvadu.INT16
    assert module.get_input_info("missing").init_status == pyvadu.UNINITIALIZED
    assert module.get_model_version() == "3"
    assert module.get_custom_msg() == "hello"
    assert module.get_core_num() == 2
    assert module.get_backend_name() == "sim"

    other = pyvadu.Module("/nonexistent/flow.qdm", pyvadu.Option(0))
    assert other.load_model(model_path) == pyvadu.OK
    assert other.init_status == pyvadu.OK
    assert pyvadu.Module(model_path.encode(), pyvadu.Option(0)).init_status == pyvadu.OK

    description = json.loads(pyvadu.Module.load_model_info(filename=model_path))
    assert description["name"] == "flow"
    assert [t["name"] for t in description["inputs"]] == ["a", "b"]
    assert description["outputs"][1]["shape"] == [5]


def test_bad_files_give_a_status(tmp_path):
    missing = pyvadu.Module(str(tmp_path / "missing.qdm"), pyvadu.Option(0))
    assert missing.init_status != pyvadu.OK
    garbage = tmp_path / "garbage.qdm"
    garbage.write_bytes(b"\x0c\x00\x00\x00QDM0" + b"\xff" * 40)
    assert pyvadu.Module.load(str(garbage)).init_status == pyvadu.INVALID_ARGUMENT
    assert pyvadu.Module.load_model_info(str(garbage)) == ""
    module = pyvadu.Module.load(str(garbage))
    assert module.get_num_inputs() == 0
    assert module.get_input_name(0) == ""
    assert module.run(True, pyvadu.RunOption()) == pyvadu.UNINITIALIZED


def test_signatures_and_argument_rules(model_path):
    assert pyvadu.Module.load.__doc__.startswith(
        "load(filename: str, option: vadu_lite.pyvadu.Option = Option(0)) -> vadu_lite.pyvadu.Module\n")
    assert "option: vadu_lite.pyvadu.Option = Option(0)" in pyvadu.Module.load_model.__doc__
    assert pyvadu.Module.get_core_num.__doc__.endswith("Get the number of IPU cores\n")
    assert pyvadu.Module.load_dump_input.__doc__.endswith(
        "Load input tensors from a DumpInOut directory and feed them into the module. "
        "Tensors not recognised by the module produce a warning and are skipped.\n")
    module = pyvadu.Module.load(model_path)
    assert module.get_input_name(-1) == ""
    assert module.get_input_name(2147483647) == ""
    for call in (lambda: module.get_input_name(2147483648),
                 lambda: module.get_input_name(0.0),
                 lambda: module.get_input_name(arg0=0),
                 lambda: module.set_input("a", None),
                 lambda: module.run(True, pyvadu.Option(0)),
                 lambda: pyvadu.Module(model_path),
                 lambda: pyvadu.Module(1, pyvadu.Option(0)),
                 lambda: pyvadu.Module.load(model_path, None)):
        with pytest.raises(TypeError):
            call()


def test_binding_rules_and_device_tensors(model_path):
    module = pyvadu.Module.load(model_path)
    info = module.get_input_info("a")
    assert module.set_input("a", host_tensor(pyvadu.TensorInfo.create_nd([3, 2], pyvadu.FLOAT32, [], 0))) \
        == pyvadu.INVALID_ARGUMENT
    assert module.set_input("nope", host_tensor(info)) == pyvadu.INVALID_ARGUMENT
    device = Tensor.create_device_tensor(info, 0, 0, "sim")
    assert module.set_input("a", device) == pyvadu.INVALID_ARGUMENT
    assert module.set_dev_input("a", device) == pyvadu.OK

    first, second = module.get_dev_input("a"), module.get_dev_input("a")
    assert first is not second
    assert first.buffer().data == second.buffer().data == device.buffer().data
    device_sum = Tensor.create_device_tensor(module.get_output_info("sum"), 0, 0, "sim")
    assert module.set_dev_output("sum", device_sum) == pyvadu.OK
    assert module.get_dev_output("sum").buffer().data == device_sum.buffer().data
    assert module.set_stream(stream=pyvadu.Stream(False)) == pyvadu.OK


def test_end_to_end(model_path, tmp_path, capfd):
    module = pyvadu.Module.load(model_path, option=pyvadu.Option(0))
    names = [module.get_input_name(0), module.get_input_name(1)]
    a_values = np.arange(6, dtype=np.float32).reshape(2, 3) * 1.5 - 2
    b_values = np.array([7, 0, 255, 128], dtype=np.uint8)

    a = host_tensor(module.get_input_info(names[0]), a_values)
    # b wraps the numpy array's own memory.
    b_buffer = pyvadu.Buffer.create_host_buffer(b_values.nbytes, b_values.ctypes.data)
    b = Tensor(module.get_input_info(names[1]), b_buffer)
    total = host_tensor(module.get_output_info("sum"))
    assert module.set_input(names[0], a) == pyvadu.OK
    assert module.set_input(names[1], b) == pyvadu.OK
    assert module.set_output("sum", total) == pyvadu.OK
    assert module.run(True, pyvadu.RunOption()) == pyvadu.INVALID_ARGUMENT  # "tag" is not bound
    tag = host_tensor(module.get_output_info("tag"))
    assert module.set_output("tag", tag) == pyvadu.OK
    assert module.run(True, pyvadu.RunOption()) == pyvadu.OK
    assert module.sync() == pyvadu.OK

    # The bound output object itself shows the result.
    got_sum = Tensor.tensor_to_array(total)
    assert got_sum.dtype == np.float32 and got_sum.shape == (2, 3)
    np.testing.assert_array_equal(got_sum.view(np.uint8).reshape(-1), expected_output(0, 24, a_values, b_values))

    out = host_tensor(module.get_output_info("tag"))
    assert module.get_output(name="tag", tensor=out) == pyvadu.OK
    got_tag = Tensor.tensor_to_array(out)
    assert got_tag.dtype == np.int16 and got_tag.shape == (5,)
    np.testing.assert_array_equal(got_tag.view(np.uint8), expected_output(1, 10, a_values, b_values))

    # A change to the wrapped numpy memory reaches the next run.
    b_values[:] = 1
    assert module.run(False, pyvadu.RunOption().Rounds(2)) == pyvadu.OK
    np.testing.assert_array_equal(Tensor.tensor_to_array(total).view(np.uint8).reshape(-1),
                                  expected_output(0, 24, a_values, b_values))

    # Dump: numpy reads the files back.
    dump = tmp_path / "dump"
    assert module.dump_inout(str(dump)) == pyvadu.OK
    np.testing.assert_array_equal(np.load(dump / "input_0.npy"), a_values)
    np.testing.assert_array_equal(np.load(dump / "input_1.npy"), b_values)
    np.testing.assert_array_equal(np.load(dump / "output_1.npy"), Tensor.tensor_to_array(tag))
    listing = json.loads((dump / "model.json").read_text())
    assert [(e["name"], e["file"]) for e in listing["inputs"]] == [("a", "input_0.npy"), ("b", "input_1.npy")]

    # Load the dump, with one input rewritten by numpy and one stray file.
    new_a = np.full((2, 3), 0.25, dtype=np.float32)
    np.save(dump / "input_0.npy", new_a)
    (dump / "stray.npy").write_bytes(b"not an array")
    fresh = pyvadu.Module.load(model_path)
    capfd.readouterr()
    assert fresh.load_dump_input(path=str(dump)) == pyvadu.OK
    err = capfd.readouterr().err
    assert "[WARN] " in err and "stray.npy" in err
    assert "input_0.npy" not in err and "output_1.npy" not in err
    fresh_sum = host_tensor(fresh.get_output_info("sum"))
    fresh_tag = host_tensor(fresh.get_output_info("tag"))
    assert fresh.set_output("sum", fresh_sum) == pyvadu.OK
    assert fresh.set_output("tag", fresh_tag) == pyvadu.OK
    assert fresh.run(True, pyvadu.RunOption()) == pyvadu.OK
    np.testing.assert_array_equal(Tensor.tensor_to_array(fresh_sum).view(np.uint8).reshape(-1),
                                  expected_output(0, 24, new_a, b_values))
