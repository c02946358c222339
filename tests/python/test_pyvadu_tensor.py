"""pyvadu's Tensor and its numpy views: strides, YUV bytes, lifetimes, shared memory."""
import gc
import weakref

import numpy as np
import pytest

from new_interpreter import run_in_a_new_interpreter
from vadu_lite import pyvadu
from vadu_lite.pyvadu import Buffer, Tensor, TensorInfo


def nd_tensor(shape, dtype=pyvadu.FLOAT32, strides=()):
    return Tensor.create_host_tensor(TensorInfo.create_nd(list(shape), dtype, list(strides), 0))


def test_signatures():
    assert Tensor.__init__.__doc__.startswith(
        "__init__(self: vadu_lite.pyvadu.Tensor, arg0: vadu_lite.pyvadu.TensorInfo, "
        "arg1: vadu_lite.pyvadu.Buffer) -> None")
    assert Tensor.create_device_tensor.__doc__.startswith(
        "create_device_tensor(arg0: vadu_lite.pyvadu.TensorInfo, arg1: int, arg2: int, arg3: str)")
    assert Tensor.tensor_to_array.__doc__.startswith(
        "tensor_to_array(arg0: vadu_lite.pyvadu.Tensor) -> numpy.ndarray")
    assert Tensor.split_yuv.__doc__.startswith(
        "split_yuv(arg0: vadu_lite.pyvadu.Tensor) -> List[vadu_lite.pyvadu.Tensor[2]]")
    assert Tensor.astype.__doc__.startswith(
        "astype(self: vadu_lite.pyvadu.Tensor, arg0: vadu_lite.pyvadu.DataType, arg1: bool)")
    assert Tensor.select_roi.__doc__.startswith(
        "select_roi(self: vadu_lite.pyvadu.Tensor, arg0: List[int], arg1: List[int])")
    assert Tensor.as_formular.__doc__.endswith("\n\nReturn tensor with normalized TensorInfo\n")
    with pytest.raises(TypeError):
        Tensor()


def test_nd_arrays_take_shape_strides_and_type():
    array = Tensor.tensor_to_array(nd_tensor((2, 3, 4)))
    assert (array.dtype, array.shape, array.strides) == (np.float32, (2, 3, 4), (48, 16, 4))
    assert array.flags.writeable and not array.flags.owndata
    pitched = Tensor.tensor_to_array(nd_tensor((2, 3), pyvadu.INT16, (8, 2)))
    assert (pitched.shape, pitched.strides) == ((2, 3), (8, 2))
    scalar = Tensor.tensor_to_array(nd_tensor(()))
    assert (scalar.ndim, scalar.size) == (0, 1)
    types = {pyvadu.INT8: np.int8, pyvadu.UINT8: np.uint8, pyvadu.INT16: np.int16,
             pyvadu.UINT16: np.uint16, pyvadu.INT32: np.int32, pyvadu.UINT32: np.uint32,
             pyvadu.FLOAT16: np.float16, pyvadu.FLOAT32: np.float32}
    for data_type, numpy_type in types.items():
        assert TensorInfo.gen_array_ref(nd_tensor((2,), data_type)).dtype == numpy_type


def test_yuv_arrays_are_flat_bytes_without_the_span():
    info = TensorInfo.create_yuv(4, 6, 64, pyvadu.YUV420SP)
    array = Tensor.tensor_to_array(Tensor.create_host_tensor(info))
    assert array.dtype == np.uint8 and array.shape == (info.mem_size - info.span_size,) == (36,)


def test_uninitialised_tensors_and_failed_splits_raise():
    with pytest.raises(ValueError, match="^tensor is not inited$"):
        Tensor.tensor_to_array(Tensor(TensorInfo(), Buffer()))
    too_small = Tensor(TensorInfo.create_nd([8], pyvadu.FLOAT32, [], 0), Buffer.create_host_buffer(16, 0))
    assert too_small.init_status == pyvadu.OUT_OF_RANGE
    with pytest.raises(ValueError, match="^tensor is not inited$"):
        TensorInfo.gen_array_ref(too_small)
    with pytest.raises(ValueError, match="^Split yuv failed !$"):
        Tensor.split_yuv(nd_tensor((4, 6), pyvadu.UINT8))


def test_split_yuv_planes_view_the_image():
    image = Tensor.create_host_tensor(TensorInfo.create_yuv(4, 6, 0, pyvadu.YUV420SP))
    planes = Tensor.split_yuv(image)
    assert type(planes) is list and len(planes) == 2
    assert all(isinstance(plane, Tensor) for plane in planes)
    y, uv = planes
    assert y.info.shape == [4, 6] and uv.info.shape == [2, 3, 2]
    Tensor.tensor_to_array(uv)[...] = 9
    whole = Tensor.tensor_to_array(image)
    assert list(whole[:24]) == [0] * 24 and list(whole[24:]) == [9] * 12

    # Merging the planes' descriptions gives the image's back, for each subsampling.
    for fmt in (pyvadu.YUV420SP, pyvadu.YUV422SP, pyvadu.YUV444SP):
        y, uv = Tensor.split_yuv(Tensor.create_host_tensor(TensorInfo.create_yuv(4, 6, 0, fmt)))
        merged = TensorInfo.merge_yuv(y.info, uv.info)
        assert (merged.format, merged.shape, merged.init_status) == (fmt, [4, 6], pyvadu.OK)
        assert TensorInfo.merge_yuv(uv.info, y.info).init_status == pyvadu.INVALID_ARGUMENT


def test_array_outlives_tensor_and_buffer():
    buffer = Buffer.create_host_buffer(16, 0)
    assert buffer.copy_from_host(np.arange(4, dtype=np.int32), 0) == pyvadu.OK
    tensor = Tensor(TensorInfo.create_nd([4], pyvadu.INT32, [], 0), buffer)
    array = Tensor.tensor_to_array(tensor)
    del tensor, buffer
    gc.collect()
    churn = [Buffer.create_host_buffer(16, 0) for _ in range(64)]  # reuse freed memory if any
    for other in churn:
        other.memset(-1)
    assert list(array) == [0, 1, 2, 3]
    view = array[1:]
    del array
    gc.collect()
    assert list(view) == [1, 2, 3]


def test_info_keeps_its_tensor_alive():
    tensor = nd_tensor((2, 5))
    info = tensor.info
    assert info.shape == [2, 5]
    tensor_ref = weakref.ref(tensor)
    del tensor
    gc.collect()
    assert tensor_ref() is not None
    assert info.mem_size == 40
    del info
    gc.collect()
    assert tensor_ref() is None


def test_writes_through_the_array_reach_the_library_and_back():
    tensor = nd_tensor((2, 3), pyvadu.INT32)
    array = Tensor.tensor_to_array(tensor)
    array[...] = np.arange(6, dtype=np.int32).reshape(2, 3)
    out = np.zeros(6, dtype=np.int32)
    assert tensor.buffer().copy_to_host(out, 0) == pyvadu.OK
    assert list(out) == [0, 1, 2, 3, 4, 5]
    assert tensor.buffer().memset(0, 4, 0) == pyvadu.OK
    assert array[0, 0] == 0 and array[0, 1] == 1
    assert tensor.set_zero() == pyvadu.OK
    assert not array.any()
    assert tensor.buffer() is not tensor.buffer()
    assert tensor.buffer().data == tensor.buffer().data


def test_cast_to_and_clone():
    source = nd_tensor((2, 2))
    Tensor.tensor_to_array(source)[...] = [[1.7, -2.5], [300.0, -1000.0]]
    target = nd_tensor((2, 2), pyvadu.INT8)
    assert source.cast_to(target) == pyvadu.OK
    assert Tensor.tensor_to_array(target).tolist() == [[1, -2], [127, -128]]
    assert source.cast_to(nd_tensor((4,), pyvadu.INT8)) == pyvadu.INVALID_ARGUMENT

    copy, blank = source.clone(True), source.clone(False)
    assert copy.buffer().data not in (source.buffer().data, blank.buffer().data)
    assert np.array_equal(Tensor.tensor_to_array(copy), Tensor.tensor_to_array(source))
    assert blank.info.shape == [2, 2] and not Tensor.tensor_to_array(blank).any()


def test_copies_and_casts_between_overlapping_tensors_read_the_source_first():
    memory = Buffer.create_host_buffer(64, 0)

    def refill():
        assert memory.copy_from_host(np.arange(64, dtype=np.uint8), 0) == pyvadu.OK

    def strided(dtype, stride, offset):
        return Tensor(TensorInfo.create_nd([8], dtype, [stride], 0),
                      memory.get_sub_buffer(64 - offset, offset))

    # The target starts after the source.
    refill()
    assert strided(pyvadu.UINT8, 2, 0).copy_to(strided(pyvadu.UINT8, 2, 2)) == pyvadu.OK
    assert list(Tensor.tensor_to_array(strided(pyvadu.UINT8, 2, 2))) == list(range(0, 16, 2))
    refill()
    assert strided(pyvadu.UINT8, 1, 0).cast_to(strided(pyvadu.UINT16, 2, 0)) == pyvadu.OK
    assert list(Tensor.tensor_to_array(strided(pyvadu.UINT16, 2, 0))) == list(range(8))

    # The target starts before the source and strides past what it has yet to read.
    refill()
    assert strided(pyvadu.UINT8, 2, 2).copy_to(strided(pyvadu.UINT8, 4, 0)) == pyvadu.OK
    assert list(Tensor.tensor_to_array(strided(pyvadu.UINT8, 4, 0))) == list(range(2, 18, 2))
    refill()
    assert strided(pyvadu.UINT8, 2, 2).cast_to(strided(pyvadu.UINT16, 4, 0)) == pyvadu.OK
    assert list(Tensor.tensor_to_array(strided(pyvadu.UINT16, 4, 0))) == list(range(2, 18, 2))

    # A stride of 0 reads byte 3 eight times: its copy aside is one byte, not eight.
    refill()
    assert strided(pyvadu.UINT8, 0, 3).copy_to(strided(pyvadu.UINT8, 1, 0)) == pyvadu.OK
    assert list(Tensor.tensor_to_array(strided(pyvadu.UINT8, 1, 0))) == [3] * 8

    # A narrowing cast: the packed copy holds whole 4-byte source elements.
    assert memory.copy_from_host(np.array([1, 0, 2, 0, 3, 0, 4, 0], dtype=np.float32), 0) == pyvadu.OK
    floats = Tensor(TensorInfo.create_nd([4], pyvadu.FLOAT32, [8], 0), memory.get_sub_buffer(32, 0))
    bytes_at_0 = Tensor(TensorInfo.create_nd([4], pyvadu.UINT8, [1], 0), memory.get_sub_buffer(4, 0))
    assert floats.cast_to(bytes_at_0) == pyvadu.OK
    assert list(Tensor.tensor_to_array(bytes_at_0)) == [1, 2, 3, 4]


# Two elements 64 MiB apart copied into memory between them: the copy must
# not take a temporary of the whole span it strides over.
OVERLAPPING_COPY_OF_A_WIDE_SPAN = """
import resource, sys
from vadu_lite import pyvadu as P
MiB = 1 << 20
memory = P.Buffer.create_host_buffer(128 * MiB, 0)
source = P.Tensor(P.TensorInfo.create_nd([2], P.UINT8, [64 * MiB], 0), memory)
target = (P.Tensor(P.TensorInfo.create_nd([2], P.UINT8, [1], 0), memory.get_sub_buffer(2, 100))
          if sys.argv[1] == "copy" else
          P.Tensor(P.TensorInfo.create_nd([2], P.UINT16, [2], 0), memory.get_sub_buffer(4, 100)))
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
result = source.copy_to(target) if sys.argv[1] == "copy" else source.cast_to(target)
print(result == P.OK, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 16 * 1024)
"""


@pytest.mark.parametrize("operation", ["copy", "cast"])
def test_an_overlapping_copy_holds_only_the_elements_it_reads(operation):
    assert run_in_a_new_interpreter(OVERLAPPING_COPY_OF_A_WIDE_SPAN, operation, timeout=60) == "True True\n"


def test_views_and_device_tensors():
    whole = nd_tensor((2, 3, 4), pyvadu.INT32)
    values = Tensor.tensor_to_array(whole)
    values[...] = np.arange(24, dtype=np.int32).reshape(2, 3, 4)
    # A view's array follows its strides over the shared memory.
    box = whole.select_roi([1, 1, 1], [1, 2, 2])
    assert np.array_equal(Tensor.tensor_to_array(box), values[1:2, 1:3, 1:3])
    assert np.array_equal(Tensor.tensor_to_array(whole.select_batch([1])), values[1:2])
    halves = box.astype(pyvadu.FLOAT16, False)
    assert np.array_equal(Tensor.tensor_to_array(halves), values[1:2, 1:3, 1:3].astype(np.float16))

    device = Tensor.create_device_tensor(whole.info, 0, 1, "sim")
    assert (device.device, device.device_id, device.mem_size) == (pyvadu.HDPL, 1, 96)
    assert whole.copy_to(device) == pyvadu.OK
    host = device.to_host(False)
    assert host.device == pyvadu.CPU
    assert np.array_equal(Tensor.tensor_to_array(host), values)
