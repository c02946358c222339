"""pyvadu's Buffer and TensorInfo: arguments, overloads, byte counts, range checks."""
import numpy as np
import pytest

from vadu_lite import pyvadu
from vadu_lite.pyvadu import Buffer, TensorInfo


def host_bytes(buffer):
    out = np.zeros(buffer.size, dtype=np.uint8)
    assert buffer.copy_to_host(out, 0) == pyvadu.OK
    return out


def test_signatures():
    doc = Buffer.create_device_buffer.__doc__
    assert ("create_device_buffer(size: int, device_id: int = 0, backend_name: str = '', "
            "dev_type_name: str = '') -> vadu_lite.pyvadu.Buffer\n\nCreate Device Buffer by backend_name") in doc
    assert "create_device_buffer(arg0: int, arg1: int, arg2: int, arg3: str) -> vadu_lite.pyvadu.Buffer" in doc
    assert Buffer.create_host_buffer.__doc__.startswith(
        "create_host_buffer(arg0: int, arg1: int) -> vadu_lite.pyvadu.Buffer")
    assert Buffer.copy_from_host.__doc__.startswith(
        "copy_from_host(self: vadu_lite.pyvadu.Buffer, arg0: numpy.ndarray, arg1: int) -> vadu_lite.pyvadu.Status")
    assert Buffer.memset.__doc__.startswith(
        "memset(self: vadu_lite.pyvadu.Buffer, value: int = 0, size: int = 0, offset: int = 0)")
    assert Buffer.copy_to.__doc__.startswith(
        "copy_to(self: vadu_lite.pyvadu.Buffer, arg0: vadu_lite.pyvadu.Buffer, arg1: int, arg2: int, arg3: int)")
    assert Buffer.clone.__doc__ == (
        "clone(self: vadu_lite.pyvadu.Buffer, auto_copy: bool = True) -> vadu_lite.pyvadu.Buffer\n\nClone buffer\n")
    assert Buffer.get_sub_buffer.__doc__.endswith("\n\nGet a sub-buffer sharing the same memory\n")
    assert TensorInfo.create_nd.__doc__.startswith(
        "create_nd(arg0: List[int], arg1: vadu_lite.pyvadu.DataType, arg2: List[int], arg3: int)")
    assert TensorInfo.create_yuv.__doc__.startswith(
        "create_yuv(arg0: int, arg1: int, arg2: int, arg3: vadu_lite.pyvadu.DataFmt)")
    # Tensor is registered after TensorInfo, so this signature names the library type.
    assert TensorInfo.gen_array_ref.__doc__.startswith(
        "gen_array_ref(arg0: vadu::Tensor) -> numpy.ndarray")
    assert TensorInfo.is_match.__doc__.endswith("\n\nCheck if tensors match for mutual copying\n")
    assert TensorInfo.as_formular.__doc__.endswith(
        "\n\nNormalized TensorInfo (Rank0->Rank1[1], populate strides)\n")
    assert TensorInfo.clone.__doc__.endswith("\n\nClone TensorInfo\n")


def test_create_device_buffer_overloads():
    first = Buffer.create_device_buffer(1024)
    assert first.init_status == pyvadu.OK
    assert (first.size, first.device, first.device_id) == (1024, pyvadu.HDPL, 0)
    assert Buffer.create_device_buffer(16, 1, "sim", "COMPND").device == pyvadu.COMPND
    assert Buffer.create_device_buffer(16, backend_name="nowhere").init_status == pyvadu.UNSUPPORTED
    memory = np.zeros(8, dtype=np.uint8)
    wrapped = Buffer.create_device_buffer(memory.ctypes.data, 8, 1, "sim")
    assert (wrapped.data, wrapped.size, wrapped.device_id) == (memory.ctypes.data, 8, 1)
    assert wrapped.memset(3) == pyvadu.OK
    assert list(memory) == [3] * 8
    with pytest.raises(TypeError):
        Buffer.create_device_buffer(-1)


def test_host_buffer_and_default_buffer():
    assert Buffer().init_status == pyvadu.UNINITIALIZED
    assert Buffer().memset() == pyvadu.UNINITIALIZED
    memory = np.arange(4, dtype=np.uint8)
    wrapped = Buffer.create_host_buffer(4, memory.ctypes.data)
    assert wrapped.device == pyvadu.CPU and wrapped.data == memory.ctypes.data
    assert list(host_bytes(wrapped)) == [0, 1, 2, 3]
    owned = Buffer.create_host_buffer(6, 0)
    assert owned.init_status == pyvadu.OK and list(host_bytes(owned)) == [0] * 6


def test_memset_range_and_defaults():
    buffer = Buffer.create_host_buffer(4, 0)
    assert buffer.memset(-128, 1, 0) == pyvadu.OK
    assert buffer.memset(127, 1, 1) == pyvadu.OK
    assert list(host_bytes(buffer)) == [128, 127, 0, 0]
    for value in (128, -129):
        with pytest.raises(ValueError, match="^value out of int8_t range$"):
            buffer.memset(value)
    with pytest.raises(TypeError):
        buffer.memset(2 ** 31)
    with pytest.raises(TypeError):
        buffer.memset(1, -1)
    assert buffer.memset() == pyvadu.OK  # value 0 over the whole buffer
    assert list(host_bytes(buffer)) == [0] * 4
    assert buffer.memset(value=9, offset=3) == pyvadu.OK
    assert list(host_bytes(buffer)) == [0, 0, 0, 9]
    assert buffer.memset(1, 2, 3) == pyvadu.OUT_OF_RANGE
    assert buffer.memset(1, 1, -1) == pyvadu.OUT_OF_RANGE


def test_copy_byte_counts():
    buffer = Buffer.create_host_buffer(24, 0)
    values = np.arange(6, dtype=np.float32).reshape(2, 3)
    assert buffer.copy_from_host(values, 0) == pyvadu.OK
    assert buffer.copy_from_host(values, 1) == pyvadu.OUT_OF_RANGE  # 24 bytes do not fit at 1
    back = np.zeros((2, 3), dtype=np.float32)
    assert buffer.copy_to_host(back, 0) == pyvadu.OK
    assert np.array_equal(back, values)
    assert buffer.copy_from_host(np.zeros(0, dtype=np.float64), 24) == pyvadu.OK
    scalar = np.array(7, dtype=np.int32)
    assert buffer.copy_from_host(scalar, 20) == pyvadu.OK
    assert buffer.copy_from_host(scalar, 21) == pyvadu.OUT_OF_RANGE
    assert buffer.copy_from_host(scalar, -4) == pyvadu.OUT_OF_RANGE
    assert host_bytes(buffer)[20:].view(np.int32)[0] == 7
    for not_an_array in ([1, 2], b"ab", memoryview(b"ab")):
        with pytest.raises(TypeError):
            buffer.copy_from_host(not_an_array, 0)


def test_copies_refuse_arrays_they_cannot_serve():
    buffer = Buffer.create_host_buffer(64, 0)
    strided = np.zeros((4, 4), dtype=np.int32)[:, ::2]
    with pytest.raises(ValueError, match="C-contiguous"):
        buffer.copy_from_host(strided, 0)
    with pytest.raises(ValueError, match="C-contiguous"):
        buffer.copy_to_host(np.zeros((4, 4), dtype=np.int32).T, 0)
    read_only = np.zeros(4, dtype=np.uint8)
    read_only.flags.writeable = False
    assert buffer.copy_from_host(read_only, 0) == pyvadu.OK
    with pytest.raises(ValueError, match="writeable"):
        buffer.copy_to_host(read_only, 0)

    # Items holding Python objects are pointers: neither overwritten nor read as data.
    assert buffer.memset(5, 64) == pyvadu.OK
    for dtype in (np.dtype(object), np.dtype([("count", np.int64), ("name", object)])):
        holder = np.zeros(2, dtype=dtype)
        before = holder.tolist()
        with pytest.raises(ValueError, match="copy_to_host needs an array without Python objects"):
            buffer.copy_to_host(holder, 0)
        assert holder.tolist() == before
        with pytest.raises(ValueError, match="copy_from_host needs an array without Python objects"):
            buffer.copy_from_host(holder, 0)
    assert list(host_bytes(buffer)) == [5] * 64


def test_sub_buffers_clone_and_copy_to():
    buffer = Buffer.create_host_buffer(32, 0)
    assert buffer.copy_from_host(np.arange(32, dtype=np.uint8), 0) == pyvadu.OK
    head = buffer.get_sub_buffer(16)
    assert head.data == buffer.data and head.size == 16
    tail = buffer.get_sub_buffer(size=8, offset=24)
    assert list(host_bytes(tail)) == list(range(24, 32))
    with pytest.raises(TypeError):
        buffer.get_sub_buffer()
    with pytest.raises(TypeError):
        buffer.get_sub_buffer(-1)
    with pytest.raises(TypeError):
        buffer.get_sub_buffer(4, -1)

    assert list(host_bytes(tail.clone())) == list(range(24, 32))
    assert list(host_bytes(tail.clone(False))) == [0] * 8
    assert list(host_bytes(tail.clone(auto_copy=True))) == list(range(24, 32))

    target = Buffer.create_host_buffer(4, 0)
    assert buffer.copy_to(target, 2, 5, 1) == pyvadu.OK  # size, source offset, target offset
    assert list(host_bytes(target)) == [0, 5, 6, 0]


def test_tensor_info_members():
    info = TensorInfo.create_nd([2, 3, 4], pyvadu.FLOAT32, [], 0)
    assert (info.mem_size, info.span_size, info.dtype_size) == (96, 0, 4)
    assert (info.dtype, info.format, info.init_status) == (pyvadu.FLOAT32, pyvadu.ND, pyvadu.OK)
    first, second = info.shape, info.shape
    assert first == second == [2, 3, 4] and first is not second
    assert info.as_formular().stride == [48, 16, 4]
    assert info.is_match(other=info.clone())
    assert not info.is_match(info.astype(pyvadu.INT16))
    assert TensorInfo.create_nd((2, 3), pyvadu.INT16, (8, 2), 0).stride == [8, 2]
    pitched = TensorInfo.create_nd([2, 3], pyvadu.INT16, [8, 2], 0)
    assert info.is_contiguous() and not pitched.is_contiguous()
    assert pitched.ascontiguous().is_contiguous()
    assert TensorInfo.create_nd([2, 3], pyvadu.INT16, [6, 2], 0).is_contiguous()
    for unnamed in (9, 2**32 - 1):
        assert TensorInfo.create_nd([2], pyvadu.DataType(unnamed), [], 0).init_status == pyvadu.INVALID_ARGUMENT
    with pytest.raises(TypeError):
        TensorInfo.create_nd("ab", pyvadu.INT8, [], 0)
    with pytest.raises(TypeError):
        TensorInfo.create_nd([2], 1, [], 0)  # a plain integer is not a DataType
    yuv = TensorInfo.create_yuv(4, 6, 64, pyvadu.YUV420SP)
    assert (yuv.format, yuv.shape, yuv.mem_size, yuv.span_size) == (pyvadu.YUV420SP, [4, 6], 64, 28)
    assert TensorInfo().init_status == pyvadu.UNINITIALIZED
