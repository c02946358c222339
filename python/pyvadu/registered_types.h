// Every type pyvadu registers, each converted from Python only when it is an
// initialised instance. Included (through bindings.h) by every binding file.
#pragma once

#include "initialised_instance_caster.h"
#include "vadu/runtime/buffer.h"
#include "vadu/runtime/dev_manager.h"
#include "vadu/runtime/enums.h"
#include "vadu/runtime/image_ops.h"
#include "vadu/runtime/module.h"
#include "vadu/runtime/stream.h"
#include "vadu/runtime/tensor.h"
#include "vadu/runtime/tensor_info.h"
#include "vadu/status.h"

VADU_PYTHON_INITIALISED_INSTANCES_ONLY(
    vadu::Status, vadu::DataFmt, vadu::DataType, vadu::Device, vadu::Buffer, vadu::TensorInfo,
    vadu::Stream, vadu::Tensor, vadu::DevManager, vadu::Module::WeightManager,
    vadu::Module::Option, vadu::Module::RunOption, vadu::Module, vadu::ImageOps::Config,
    vadu::ImageOps::RectPad, vadu::ImageOps::RectRoi, vadu::ImageOps::Resizer::EnInterpMode,
    vadu::ImageOps::Resizer::EnAlignMode, vadu::ImageOps::Resizer::Option,
    vadu::ImageOps::Resizer::RunOption, vadu::ImageOps::Resizer,
    vadu::ImageOps::ColorConverter::Option, vadu::ImageOps::ColorConverter)
