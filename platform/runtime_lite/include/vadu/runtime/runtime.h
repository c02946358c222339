// Everything the runtime library offers.
#pragma once

#include "vadu/runtime/backend.h"
#include "vadu/runtime/buffer.h"
#include "vadu/runtime/dev_manager.h"
#include "vadu/runtime/enums.h"
#include "vadu/runtime/image_ops.h"
#include "vadu/runtime/module.h"
#include "vadu/runtime/stream.h"
#include "vadu/runtime/tensor.h"
#include "vadu/runtime/tensor_info.h"
