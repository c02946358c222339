"""pychipctl's module set-up: the shared Status, DvfsMode, MemInfo, the package names and docstrings."""
import functools
import importlib.util
import json
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


@pytest.mark.skipif(not PYVADU_BUILT, reason="pyvadu is not built in this tree")
def test_status_is_pyvadus_type():
    import vadu_lite.pyvadu as pyvadu

    assert chipctl.Status is pyvadu.Status
    assert not hasattr(chipctl, "OK")  # only the fallback exports the values
    status = chipctl.HalDeviceFactory.create("null").ipu_reset(0)
    assert isinstance(status, pyvadu.Status) and status == pyvadu.UNSUPPORTED

    # The same when pyvadu is imported before pychipctl.
    child = ("import vadu_lite.pyvadu as pyvadu, vadu_lite.pychipctl as chipctl\n"
             "assert chipctl.Status is pyvadu.Status and not hasattr(chipctl, 'OK')")
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr


FALLBACK_CHILD = textwrap.dedent(
    """
    import sys
    import vadu_lite
    import vadu_lite.pychipctl as chipctl

    assert chipctl.Status.__module__ == "vadu_lite.pychipctl", chipctl.Status.__module__
    assert chipctl.OK == 0 and chipctl.OK == chipctl.Status.OK
    assert chipctl.ERR_UNDEFINED == -1 and chipctl.Status(12) == chipctl.ERR_FATAL
    assert len(chipctl.Status.__members__) == 14
    assert chipctl.HalDeviceFactory.create("null").ipu_reset(0) == chipctl.UNSUPPORTED

    # With pyvadu reachable now, its own registration of Status collides.
    vadu_lite.__path__.append(sys.argv[1])
    try:
        import vadu_lite.pyvadu
    except ImportError as error:
        print("pyvadu import failed:", error)
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

    result = subprocess.run(
        [sys.executable, "-c", FALLBACK_CHILD, str(PACKAGE_DIR)],
        env=dict(os.environ, PYTHONPATH=str(tmp_path / "python")),
        capture_output=True, text=True, timeout=60,
    )
    assert result.returncode == 0, result.stderr
    if PYVADU_BUILT:
        assert "pyvadu import failed:" in result.stdout
        assert "already registered" in result.stdout


def test_dvfs_mode_is_scoped():
    mode = chipctl.DvfsMode
    assert mode.PERFORMANCE != 0 and not (mode.PERFORMANCE == 0)
    assert int(mode.ON_DEMAND) == 1 and mode(1) == mode.ON_DEMAND
    assert chipctl.PERFORMANCE is mode.PERFORMANCE
    assert chipctl.ON_DEMAND is mode.ON_DEMAND
    with pytest.raises(TypeError):
        mode.PERFORMANCE < mode.ON_DEMAND


class Index:
    def __index__(self):
        return 7


@pytest.mark.parametrize("field", ["mem_total", "mem_used", "mem_avail"])
def test_mem_info_fields_are_unsigned_32_bit(field):
    info = chipctl.MemInfo()
    assert (info.mem_total, info.mem_used, info.mem_avail) == (0, 0, 0)
    setattr(info, field, 4294967295)
    assert getattr(info, field) == 4294967295
    setattr(info, field, Index())
    for bad in (-1, 1.5, 4294967296, "1"):
        with pytest.raises(TypeError):
            setattr(info, field, bad)
    assert info.mem_total + info.mem_used + info.mem_avail == 7


def test_classes_without_constructor():
    with pytest.raises(TypeError) as error:
        chipctl.HalDevice()
    assert str(error.value) == "vadu_lite.pychipctl.HalDevice: No constructor defined!"
    with pytest.raises(TypeError, match="No constructor defined!"):
        chipctl.HalDeviceFactory()


# Docstrings by dotted name inside the module ("" is the module itself).
DOCSTRINGS = json.loads(pathlib.Path(__file__).with_name("pychipctl_docstrings.json").read_text())


def registered_text(path):
    """The docstring of a dotted name, for a method without the signature line
    that the framework puts before it."""
    target = functools.reduce(getattr, path.split("."), chipctl) if path else chipctl
    doc = target.__doc__
    if callable(target) and not isinstance(target, type):
        signature, doc = doc.split("\n\n", 1)
        assert signature.startswith(path.rsplit(".", 1)[-1] + "("), signature
        assert doc.endswith("\n")
        doc = doc[:-1]
    return doc


def test_docstrings():
    # Enumeration values are documented in their type's member list.
    members = "".join(f"\n\n  {name} : {DOCSTRINGS['DvfsMode.' + name]}"
                      for name in ("PERFORMANCE", "ON_DEMAND"))
    assert chipctl.DvfsMode.__doc__ == DOCSTRINGS["DvfsMode"] + "\n\nMembers:" + members
    for path, text in DOCSTRINGS.items():
        if not path.startswith("DvfsMode"):
            assert registered_text(path) == text, path
