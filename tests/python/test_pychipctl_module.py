"""pychipctl's module set-up: the shared Status, DvfsMode, MemInfo and the package names."""
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import pytest

import vadu_lite.pychipctl as chipctl

PACKAGE_DIR = pathlib.Path(chipctl.__file__).parent
PYVADU_BUILT = importlib.util.find_spec("vadu_lite.pyvadu") is not None


def test_documented_name_is_the_same_module():
    import vadu_lite.dev_ctrl

    assert vadu_lite.dev_ctrl is chipctl
    assert chipctl.__name__ == "vadu_lite.pychipctl"


@pytest.mark.skipif(not PYVADU_BUILT, reason="pyvadu is not built in this tree")
def test_status_is_pyvadus_type():
    import vadu_lite.pyvadu as pyvadu

    assert chipctl.Status is pyvadu.Status
    # Only the fallback exports status values into this module.
    assert not hasattr(chipctl, "OK")
    status = chipctl.HalDeviceFactory.create("null").ipu_reset(0)
    assert isinstance(status, pyvadu.Status)
    assert status == pyvadu.UNSUPPORTED


FALLBACK_CHILD = textwrap.dedent(
    """
    import sys
    import vadu_lite
    import vadu_lite.pychipctl as chipctl

    assert "vadu_lite.pyvadu" not in sys.modules
    assert chipctl.Status.__module__ == "vadu_lite.pychipctl", chipctl.Status.__module__
    assert chipctl.OK is not None and chipctl.OK == 0 and chipctl.OK == chipctl.Status.OK
    assert chipctl.ERR_UNDEFINED == -1 and chipctl.ERR_FATAL == 12
    assert chipctl.Status(12) == chipctl.Status.ERR_FATAL
    assert len(chipctl.Status.__members__) == 14
    device = chipctl.HalDeviceFactory.create("null")
    assert isinstance(device.ipu_reset(0), chipctl.Status)
    assert device.ipu_reset(0) == chipctl.UNSUPPORTED

    # With pyvadu reachable now, its own registration of Status collides.
    vadu_lite.__path__.append(sys.argv[1])
    try:
        import vadu_lite.pyvadu
    except ImportError as error:
        print("pyvadu import failed:", error)
    else:
        print("pyvadu imported")
    """
)


def test_fallback_status_without_pyvadu(tmp_path):
    # A package that holds pychipctl but not pyvadu, laid out like the build
    # tree so that the module's search path finds the device-control library.
    package = tmp_path / "python" / "vadu_lite"
    package.mkdir(parents=True)
    (package / "__init__.py").write_text("")
    shutil.copy(chipctl.__file__, package)
    (tmp_path / "lib").symlink_to(PACKAGE_DIR.parent.parent / "lib")

    env = dict(os.environ, PYTHONPATH=str(tmp_path / "python"))
    result = subprocess.run(
        [sys.executable, "-c", FALLBACK_CHILD, str(PACKAGE_DIR)],
        env=env, capture_output=True, text=True, timeout=60,
    )
    assert result.returncode == 0, result.stderr
    if PYVADU_BUILT:
        assert "pyvadu import failed:" in result.stdout
        assert "already registered" in result.stdout


def test_dvfs_mode_is_scoped():
    mode = chipctl.DvfsMode
    assert mode.PERFORMANCE != 0
    assert not (mode.PERFORMANCE == 0)
    assert mode.ON_DEMAND != 1
    assert int(mode.ON_DEMAND) == 1 and int(mode.PERFORMANCE) == 0
    assert chipctl.PERFORMANCE is mode.PERFORMANCE
    assert chipctl.ON_DEMAND is mode.ON_DEMAND
    assert mode(1) == mode.ON_DEMAND
    assert mode.PERFORMANCE != mode.ON_DEMAND
    assert list(mode.__members__) == ["PERFORMANCE", "ON_DEMAND"]
    with pytest.raises(TypeError):
        mode.PERFORMANCE < mode.ON_DEMAND


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("field", ["mem_total", "mem_used", "mem_avail"])
def test_mem_info_fields_are_unsigned_32_bit(field):
    info = chipctl.MemInfo()
    assert (info.mem_total, info.mem_used, info.mem_avail) == (0, 0, 0)

    setattr(info, field, 4294967295)
    assert getattr(info, field) == 4294967295
    setattr(info, field, Index(7))
    assert getattr(info, field) == 7
    for bad in (-1, 1.5, 4294967296, "1", None):
        with pytest.raises(TypeError):
            setattr(info, field, bad)
    assert getattr(info, field) == 7
    # The other fields are untouched.
    assert sum((info.mem_total, info.mem_used, info.mem_avail)) == 7


def test_classes_without_constructor():
    with pytest.raises(TypeError) as error:
        chipctl.HalDevice()
    assert str(error.value) == "vadu_lite.pychipctl.HalDevice: No constructor defined!"
    with pytest.raises(TypeError, match="No constructor defined!"):
        chipctl.HalDeviceFactory()
