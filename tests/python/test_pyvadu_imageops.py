"""pyvadu.imageops: configuration, rectangles, option records, and the operations' surface."""
import gc
import weakref

import pytest

from vadu_lite import pyvadu
from vadu_lite.pyvadu import imageops
from vadu_lite.pyvadu.imageops import (ColorConverter, ColorConverterOption, Config, RectPad,
                                       RectRoi, Resizer, ResizerOption, ResizerRunOption)

INT32_MAX = 2**31 - 1


def test_submodule_holds_its_types_in_registration_order():
    names = [n for n in vars(imageops) if not n.startswith("__")]
    assert names == ["Config", "RectPad", "RectRoi", "EnInterpMode", "Nearest", "Bilinear",
                     "EnAlignMode", "AlignCornerTrue", "AlignCornerFalse", "ResizerOption",
                     "ResizerRunOption", "Resizer", "ColorConverterOption", "ColorConverter"]
    assert imageops.__name__ == "vadu_lite.pyvadu.imageops"
    assert not hasattr(pyvadu, "Bilinear") and not hasattr(pyvadu, "AlignCornerTrue")
    assert (int(imageops.Nearest), int(imageops.Bilinear)) == (0, 1)
    assert (int(imageops.AlignCornerTrue), int(imageops.AlignCornerFalse)) == (1, 0)
    assert imageops.Bilinear == 1 and imageops.AlignCornerFalse != 1


def test_config_is_one_library_object_reached_by_reference():
    with pytest.raises(TypeError):
        Config()
    config = Config.Global()
    assert Config.Global() is config
    assert config.set_dir_path("/opt/vadu/kernels").set_env_name("VADU_KERNEL_DIR") is config
    assert Config.Global().get_dir_path() == "/opt/vadu/kernels"
    # bytes go through unchanged; a path that is not UTF-8 cannot come back as str.
    assert config.set_dir_path(b"/opt/caf\xc3\xa9").get_dir_path() == "/opt/caf\u00e9"
    config.set_dir_path(b"/opt/\xff")
    with pytest.raises(UnicodeDecodeError):
        config.get_dir_path()
    config.set_dir_path("")


def test_rectangles_keep_low_32_bits_but_fields_refuse_wider_values():
    for cls in (RectRoi, RectPad):
        with pytest.raises(TypeError):
            cls()
    roi = RectRoi(4294967297, -1, INT32_MAX + 1, -(2**63))
    assert (roi.x, roi.y, roi.w, roi.h) == (1, -1, -(2**31), 0)
    pad = RectPad(1, 2, 3, 4)
    assert (pad.left, pad.top, pad.right, pad.bottom) == (1, 2, 3, 4)
    with pytest.raises(TypeError):
        roi.x = 4294967297
    with pytest.raises(TypeError):
        pad.bottom = -(2**31) - 1
    assert (roi.x, pad.bottom) == (1, 4)


@pytest.mark.parametrize("cls,fmt_field", [(ResizerOption, "format"), (ColorConverterOption, "fmt")])
def test_operation_options(cls, fmt_field):
    option = cls()
    assert getattr(option, fmt_field) == pyvadu.YUV422SP
    assert (option.max_w, option.max_h, option.device_id) == (1920, 1080, 0)
    option = cls(pyvadu.YUV420SP, 3)
    assert (getattr(option, fmt_field), option.device_id, option.max_w) == (pyvadu.YUV420SP, 3, 1920)
    with pytest.raises(TypeError):
        cls(pyvadu.YUV420SP, 2**31)
    with pytest.raises(TypeError):
        cls(0)  # the format has to be a DataFmt member

    assert option.set_max_size(640, 480) is option
    assert (option.max_w, option.max_h) == (640, 480)

    # The format field is a view into the option that keeps it alive.
    alive = weakref.ref(option)
    view = getattr(option, fmt_field)
    del option
    gc.collect()
    assert alive() is not None and view == pyvadu.YUV420SP
    del view
    gc.collect()
    assert alive() is None


def test_run_option_defaults_and_signature():
    doc = ResizerRunOption.__init__.__doc__
    assert "pad: vadu_lite.pyvadu.imageops.RectPad = RectPad(0, 0, 0, 0)" in doc
    assert "roi: vadu_lite.pyvadu.imageops.RectRoi," in doc
    with pytest.raises(TypeError):
        ResizerRunOption()
    with pytest.raises(TypeError):
        ResizerRunOption(None)

    roi = RectRoi(2, 4, 6, 8)
    option = ResizerRunOption(roi)
    assert (option.crop.x, option.crop.y, option.crop.w, option.crop.h) == (2, 4, 6, 8)
    assert [option.pad.left, option.pad.top, option.pad.right, option.pad.bottom] == [0, 0, 0, 0]
    assert option.interp_mode == imageops.Bilinear
    assert option.align_mode == imageops.AlignCornerTrue
    assert option.pad_val == [0, 128, 128]
    roi.x = 100  # the region was copied in
    assert option.crop.x == 2

    other = ResizerRunOption(roi, interp_mode=imageops.Nearest, align_mode=imageops.AlignCornerFalse)
    assert (other.interp_mode, other.align_mode) == (imageops.Nearest, imageops.AlignCornerFalse)
    # Each run option gets its own copy of the default padding.
    option.pad.left = 4
    assert (option.pad.left, other.pad.left, ResizerRunOption(roi).pad.left) == (4, 0, 0)


def test_run_option_field_views_setters_and_pad_values():
    option = ResizerRunOption(RectRoi(0, 0, 4, 4))
    pad = option.pad
    pad.left = 4
    assert option.pad.left == 4
    option.pad = RectPad(1, 1, 1, 1)
    assert pad.left == 1  # the view refers into the option, which now holds the new value
    with pytest.raises(TypeError):
        option.crop = None

    assert option.set_crop(RectRoi(1, 2, 3, 4)) is option
    assert option.set_pad(RectPad(2, 2, 2, 2)) is option
    assert option.set_pad_val([16, 32, 64]) is option
    assert (option.crop.h, option.pad.top, option.pad_val) == (4, 2, [16, 32, 64])

    values = option.pad_val
    values[0] = 99
    assert option.pad_val == [16, 32, 64]
    option.pad_val = (1, 2, 3)
    assert option.pad_val == [1, 2, 3]
    for bad in ([1, 2], [1, 2, 3, 4], [1, 2, 2**31], [1, 2, "3"], 7):
        with pytest.raises(TypeError):
            option.set_pad_val(bad)
        with pytest.raises(TypeError):
            option.pad_val = bad
    assert option.pad_val == [1, 2, 3]

    # The enumeration fields are views too, and every view keeps the option alive.
    option.interp_mode = imageops.Nearest
    mode = option.interp_mode
    assert mode == imageops.Nearest
    alive = weakref.ref(option)
    crop = option.crop
    del option, pad
    gc.collect()
    assert alive() is not None and crop.h == 4 and mode == imageops.Nearest
    del crop, mode
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize("cls,option", [(Resizer, ResizerOption), (ColorConverter, ColorConverterOption)])
def test_operation_surface(cls, option):
    operation = cls()
    assert operation.init(option(pyvadu.ND)) == pyvadu.UNSUPPORTED
    assert operation.init(option()) == pyvadu.OK
    assert (operation.get_input_num(), operation.get_output_num()) == (1, 1)
    assert operation.get_input_tensor(0).init_status == pyvadu.UNINITIALIZED
    assert operation.get_output_tensor(2**64 - 1).init_status == pyvadu.UNINITIALIZED
    with pytest.raises(TypeError):
        operation.get_input_tensor(-1)
    with pytest.raises(TypeError):
        operation.init(None)

    stream = operation.get_stream()
    assert isinstance(stream, pyvadu.Stream) and operation.get_stream() is stream
    assert operation.set_stream(pyvadu.Stream(True)) == pyvadu.OK
    assert operation.sync() == pyvadu.OK

    info = pyvadu.TensorInfo.create_yuv(4, 4, 0, pyvadu.YUV422SP)
    src = pyvadu.Tensor.create_host_tensor(info)
    dst = pyvadu.Tensor.create_host_tensor(info)
    run_args = (src, dst, ResizerRunOption(RectRoi(0, 0, 4, 4))) if cls is Resizer else (src, dst)
    with pytest.raises(TypeError):
        operation.run(*run_args)  # the flag has no default
    with pytest.raises(TypeError):
        operation.run(src, None, *run_args[2:], True)
    assert cls().run(*run_args, False) == pyvadu.INVALID_ARGUMENT  # no init yet
    assert operation.run(*run_args, True) == pyvadu.OK
    output = operation.get_output_tensor(0)
    assert output.buffer().data == dst.buffer().data
    assert operation.get_input_tensor(0).buffer().data == src.buffer().data


@pytest.mark.parametrize("cls", [Resizer, ColorConverter])
@pytest.mark.parametrize("getter,args,status", [("get_stream", (), pyvadu.OK),
                                                ("get_input_tensor", (0,), pyvadu.UNINITIALIZED),
                                                ("get_output_tensor", (0,), pyvadu.UNINITIALIZED)])
def test_handed_out_stream_and_tensors_keep_their_operation_alive(cls, getter, args, status):
    assert getattr(cls(), getter)(*args).init_status == status
    operation = cls()
    member = getattr(operation, getter)(*args)
    alive = weakref.ref(operation)
    del operation
    gc.collect()
    assert alive() is not None and member.init_status == status
    del member
    gc.collect()
    assert alive() is None
