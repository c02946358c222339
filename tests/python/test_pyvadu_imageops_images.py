"""pyvadu.imageops on real images: resizes and colour conversions checked against numpy."""
import numpy as np
import pytest

from vadu_lite import pyvadu
from vadu_lite.pyvadu import Tensor, TensorInfo, imageops
from vadu_lite.pyvadu.imageops import (ColorConverter, ColorConverterOption, RectPad, RectRoi,
                                       Resizer, ResizerOption, ResizerRunOption)

# Chroma subsampling (horizontal, vertical) of each semi-planar format.
SUBSAMPLING = {pyvadu.YUV420SP: (2, 2), pyvadu.YUV422SP: (2, 1), pyvadu.YUV444SP: (1, 1)}


def yuv_image(height, width, fmt):
    """A host tensor and numpy views of its Y plane (h, w) and UV plane (h', w', 2)."""
    tensor = Tensor.create_host_tensor(TensorInfo.create_yuv(height, width, 0, fmt))
    flat = Tensor.tensor_to_array(tensor)
    sx, sy = SUBSAMPLING[fmt]
    luma = flat[:height * width].reshape(height, width)
    chroma = flat[height * width:].reshape(height // sy, width // sx, 2)
    return tensor, luma, chroma


def gradient_image(height, width, fmt):
    tensor, luma, chroma = yuv_image(height, width, fmt)
    rows, cols = np.indices(luma.shape)
    luma[...] = 10 * cols + 8 * rows
    rows, cols = np.indices(chroma.shape[:2])
    chroma[..., 0] = 20 * cols + 3 * rows
    chroma[..., 1] = 255 - (15 * cols + 10 * rows)
    return tensor, luma, chroma


def axis_taps(size_in, size_out, bilinear, align_corners):
    d = np.arange(size_out, dtype=np.float64)
    if align_corners:
        s = d * (size_in - 1) / (size_out - 1) if size_out > 1 else np.zeros(size_out)
    else:
        s = (d + 0.5) * size_in / size_out - 0.5
    if not bilinear:
        i = np.clip(np.floor(s + 0.5), 0, size_in - 1).astype(int)
        return i, i, np.zeros(size_out)
    s = np.clip(s, 0, size_in - 1)
    i0 = np.floor(s).astype(int)
    return i0, np.minimum(i0 + 1, size_in - 1), s - i0


def reference_resize(plane, out_h, out_w, bilinear, align_corners):
    """plane: (h, w, channels) bytes of the crop."""
    r0, r1, fy = axis_taps(plane.shape[0], out_h, bilinear, align_corners)
    c0, c1, fx = axis_taps(plane.shape[1], out_w, bilinear, align_corners)
    p = plane.astype(np.float64)
    fx = fx[None, :, None]
    fy = fy[:, None, None]
    top = p[r0][:, c0] * (1 - fx) + p[r0][:, c1] * fx
    bottom = p[r1][:, c0] * (1 - fx) + p[r1][:, c1] * fx
    return np.clip(np.floor(top * (1 - fy) + bottom * fy + 0.5), 0, 255)


@pytest.mark.parametrize("fmt", [pyvadu.YUV420SP, pyvadu.YUV422SP, pyvadu.YUV444SP])
@pytest.mark.parametrize("interp", [imageops.Nearest, imageops.Bilinear])
@pytest.mark.parametrize("align", [imageops.AlignCornerTrue, imageops.AlignCornerFalse])
@pytest.mark.parametrize("dst_h,dst_w,pad", [(14, 20, (2, 2, 4, 0)), (6, 8, (0, 0, 0, 0))])
def test_resize_of_a_gradient_matches_numpy(fmt, interp, align, dst_h, dst_w, pad):
    src, src_luma, src_chroma = gradient_image(12, 16, fmt)
    dst, dst_luma, dst_chroma = yuv_image(dst_h, dst_w, fmt)
    crop = (2, 2, 12, 8)  # x, y, w, h
    resizer = Resizer()
    assert resizer.init(ResizerOption(fmt)) == pyvadu.OK
    option = ResizerRunOption(RectRoi(*crop), RectPad(*pad), interp, align)
    option.pad_val = [16, 90, 200]
    assert resizer.run(src, dst, option, True) == pyvadu.OK

    bilinear = interp == imageops.Bilinear
    align_corners = align == imageops.AlignCornerTrue
    sx, sy = SUBSAMPLING[fmt]
    left, top, right, bottom = pad
    for plane_src, plane_dst, fx, fy, pad_val in (
            (src_luma[..., None], dst_luma[..., None], 1, 1, [16]),
            (src_chroma, dst_chroma, sx, sy, [90, 200])):
        x, y, w, h = crop[0] // fx, crop[1] // fy, crop[2] // fx, crop[3] // fy
        inner_h = (dst_h - top - bottom) // fy
        inner_w = (dst_w - left - right) // fx
        expected = np.empty(plane_dst.shape)
        expected[...] = pad_val
        expected[top // fy:top // fy + inner_h, left // fx:left // fx + inner_w] = reference_resize(
            plane_src[y:y + h, x:x + w], inner_h, inner_w, bilinear, align_corners)
        assert np.abs(plane_dst.astype(np.int64) - expected).max() <= 1
        # The padding is exact, and so is nearest interpolation.
        if not bilinear:
            assert np.array_equal(plane_dst, expected)


def convert(src, fmt, height, width):
    converter = ColorConverter()
    assert converter.init(ColorConverterOption(fmt)) == pyvadu.OK
    dst, luma, chroma = yuv_image(height, width, fmt)
    assert converter.run(src, dst, False) == pyvadu.OK
    return dst, luma, chroma


def test_420_to_444_and_back_is_lossless():
    src, luma, chroma = gradient_image(6, 8, pyvadu.YUV420SP)
    original = Tensor.tensor_to_array(src).copy()
    full, full_luma, full_chroma = convert(src, pyvadu.YUV444SP, 6, 8)
    assert np.array_equal(full_luma, luma)
    assert np.array_equal(full_chroma, chroma.repeat(2, axis=0).repeat(2, axis=1))
    back, _, _ = convert(full, pyvadu.YUV420SP, 6, 8)
    assert np.array_equal(Tensor.tensor_to_array(back), original)


def test_downsampling_averages_rounding_half_up():
    rng = np.random.default_rng(7)
    src, luma, chroma = yuv_image(4, 6, pyvadu.YUV444SP)
    luma[...] = rng.integers(0, 256, luma.shape)
    chroma[...] = rng.integers(0, 256, chroma.shape)
    c = chroma.astype(np.int64)

    _, half_luma, half = convert(src, pyvadu.YUV422SP, 4, 6)
    assert np.array_equal(half_luma, luma)
    assert np.array_equal(half, (c[:, 0::2] + c[:, 1::2] + 1) // 2)

    _, _, quarter = convert(src, pyvadu.YUV420SP, 4, 6)
    blocks = c[0::2, 0::2] + c[0::2, 1::2] + c[1::2, 0::2] + c[1::2, 1::2]
    assert np.array_equal(quarter, (blocks + 2) // 4)
