"""pyvadu's module set-up: attributes, docstrings, enumerations, module functions, Stream."""
import pickle

import pytest

from vadu_lite import pyvadu


def test_module_and_submodule():
    assert pyvadu.__name__ == "vadu_lite.pyvadu"
    assert pyvadu.__doc__ == "Python bindings for vadu runtime"
    assert pyvadu.imageops.__name__ == "vadu_lite.pyvadu.imageops"
    assert pyvadu.imageops.__doc__ == "ImageOps bindings"
    for name in ("Buffer", "TensorInfo", "Stream", "Tensor", "Status", "DataFmt", "DataType", "Device"):
        assert isinstance(getattr(pyvadu, name), type), name


def test_enum_values_are_exported_to_the_module():
    assert pyvadu.OK is pyvadu.Status.OK
    assert pyvadu.ND is pyvadu.DataFmt.ND
    assert pyvadu.FLOAT16 is pyvadu.DataType.FLOAT16
    assert pyvadu.COMPND is pyvadu.Device.COMPND
    assert not hasattr(pyvadu, "Bilinear")  # image-operation values live in imageops
    expected = {
        pyvadu.Status: {"ERR_UNDEFINED": -1, "OK": 0, "UNINITIALIZED": 1, "OUT_OF_RANGE": 2,
                        "UNSUPPORTED": 3, "INVALID_ARGUMENT": 4, "ALREADY_EXISTS": 5,
                        "PERMISSION_DENIED": 6, "UNAVAILABLE": 7, "UNAUTHENTICATED": 8,
                        "RESOURCE_EXHAUSTED": 9, "TIMEOUT": 10, "ERR_KERNEL": 11, "ERR_FATAL": 12},
        pyvadu.DataFmt: {"YUV420SP": 0, "YUV422SP": 1, "YUV444SP": 2, "ND": 5},
        pyvadu.DataType: {"INT8": 0, "UINT8": 1, "INT16": 2, "UINT16": 3, "INT32": 4,
                          "UINT32": 5, "FLOAT16": 6, "FLOAT32": 7},
        pyvadu.Device: {"CPU": 0, "HDPL": 1, "COMPND": 5},
    }
    for enum, members in expected.items():
        assert {name: int(value) for name, value in enum.__members__.items()} == members
        assert list(enum.__members__) == list(members)  # registration order


def test_enum_comparisons_are_by_integer_value():
    assert pyvadu.Status.OK == 0
    assert not (pyvadu.Status.TIMEOUT != 10)
    assert not (pyvadu.Status.OK == None)  # noqa: E711
    assert pyvadu.Status.OK != None  # noqa: E711
    assert pyvadu.Status(12) == pyvadu.Status.ERR_FATAL
    assert pyvadu.Status(12).name == "ERR_FATAL"
    with pytest.raises(TypeError):
        pyvadu.Status.OK < pyvadu.Status.TIMEOUT
    with pytest.raises(TypeError):
        pyvadu.Status.OK | pyvadu.Status.TIMEOUT
    assert hash(pyvadu.Status.TIMEOUT) == hash(pyvadu.Status(10))


def test_enum_text_forms():
    assert repr(pyvadu.Status.OK) == "<Status.OK: 0>"
    assert str(pyvadu.Status.ERR_UNDEFINED) == "Status.ERR_UNDEFINED"
    unnamed = pyvadu.DataFmt(3)
    assert unnamed.name == "???"
    assert repr(unnamed) == "<DataFmt.???: 3>"
    assert pickle.loads(pickle.dumps(pyvadu.Device.HDPL)) == pyvadu.Device.HDPL


def test_module_functions(monkeypatch):
    assert pyvadu.get_version() == "1.0.0-sim"
    monkeypatch.delenv("VADU_SIM_DEVICE_NUM", raising=False)
    assert pyvadu.get_device_num("sim") == 2
    assert pyvadu.get_device_num(b"sim") == 2
    monkeypatch.setenv("VADU_SIM_DEVICE_NUM", "5")
    assert pyvadu.get_device_num("sim") == 5
    assert pyvadu.get_device_num("elsewhere") == 0
    for bad_call in (lambda: pyvadu.get_device_num(), lambda: pyvadu.get_device_num(1),
                     lambda: pyvadu.get_device_num(arg0="sim")):
        with pytest.raises(TypeError):
            bad_call()
    first = pyvadu.get_supported_backend()
    assert first == ["sim"]
    first.append("changed")
    assert pyvadu.get_supported_backend() == ["sim"]


def test_module_function_signatures():
    assert pyvadu.get_version.__doc__.startswith("get_version() -> str")
    assert pyvadu.get_device_num.__doc__.startswith("get_device_num(arg0: str) -> int")
    assert pyvadu.get_supported_backend.__doc__.startswith("get_supported_backend() -> List[str]")


def test_stream():
    with pytest.raises(TypeError):
        pyvadu.Stream()
    stream = pyvadu.Stream(True)
    assert stream.init_status == pyvadu.OK
    assert stream.sync() == pyvadu.OK
    assert stream.sync_yield() == pyvadu.OK
    assert pyvadu.Stream.__init__.__doc__.startswith(
        "__init__(self: vadu_lite.pyvadu.Stream, arg0: bool) -> None")
