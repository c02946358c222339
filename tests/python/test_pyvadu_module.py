"""pyvadu's module set-up: attributes, docstrings, enumerations, module functions, Stream,
and the self that every method of both modules accepts."""
import inspect
import pickle
import re

import numpy as np
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


def test_enums_take_any_value_of_their_integer_type_and_no_other():
    for enum in (pyvadu.DataFmt, pyvadu.DataType, pyvadu.Device):
        assert int(enum(2**32 - 1)) == 2**32 - 1
        for outside in (-1, 2**32):
            with pytest.raises(TypeError):
                enum(outside)
    assert [int(pyvadu.Status(value)) for value in (-2**31, 2**31 - 1)] == [-2**31, 2**31 - 1]
    for outside in (-2**31 - 1, 2**31):
        with pytest.raises(TypeError):
            pyvadu.Status(outside)


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


# Values of the plain parameter types that signatures show.
PLAIN_ARGUMENTS = {"int": 0, "float": 0.0, "bool": False, "str": "", "List[int]": [], "List[str]": [],
                   "List[int[3]]": [0, 0, 0]}
# What builds an instance made by __new__: unpickling calls __setstate__ on one.
INITIALISERS = {"__init__", "__setstate__"}


def registered_classes(module):
    for value in vars(module).values():
        if inspect.ismodule(value):
            yield from registered_classes(value)
        elif inspect.isclass(value):
            yield value


def methods(cls):
    """The functions that the framework made for instances of cls, property accessors included."""
    for name, member in inspect.getmembers(cls):
        if isinstance(inspect.getattr_static(cls, name), staticmethod):
            continue
        for function in (member.fget, member.fset) if isinstance(member, property) else (member,):
            if type(getattr(function, "__self__", None)).__name__ == "PyCapsule":
                yield name, function


def parameter_types(function):
    """The parameter types of each overload, from the signature lines of its docstring."""
    for line in function.__doc__.splitlines():
        match = re.fullmatch(r"(?:\d+\. )?\w*\((.+)\) -> .*", line)
        if match and match.group(1) != "*args, **kwargs":
            yield [re.sub(" = .*", "", p.split(": ", 1)[1]) for p in re.split(r", (?=\w+: )", match.group(1))]


def argument(type_name, probe, classes):
    """A value that converts to the type, so that only self can fail the call;
    parameters of any object get the probe itself."""
    if type_name in PLAIN_ARGUMENTS:
        return PLAIN_ARGUMENTS[type_name]
    if type_name == "numpy.ndarray":
        return np.zeros(1, np.uint8)
    cls = classes.get(type_name)
    if cls is None:
        return probe
    if hasattr(cls, "__members__"):
        return next(iter(cls.__members__.values()))
    for types in parameter_types(cls.__init__):
        try:
            return cls(*(argument(t, probe, classes) for t in types[1:]))
        except TypeError:
            pass
    return probe


@pytest.mark.parametrize("module_name", ["vadu_lite.pyvadu", "vadu_lite.pychipctl"])
def test_every_method_refuses_none_and_uninitialised_self(module_name):
    module = pytest.importorskip(module_name)
    classes = {f"{cls.__module__}.{cls.__qualname__}": cls for cls in registered_classes(module)}
    for cls in classes.values():
        for name, method in methods(cls):
            for probe in [None] if name in INITIALISERS else [None, cls.__new__(cls)]:
                for types in parameter_types(method):
                    with pytest.raises(TypeError):
                        method(probe, *(argument(t, probe, classes) for t in types[1:]))
