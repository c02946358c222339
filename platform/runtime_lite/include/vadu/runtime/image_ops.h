// The image operations: configuration, resizer and colour converter.
#pragma once

#include "vadu/runtime/imageops/color_converter.h"
#include "vadu/runtime/imageops/config.h"
#include "vadu/runtime/imageops/image_operator.h"
#include "vadu/runtime/imageops/rect.h"
#include "vadu/runtime/imageops/resizer.h"
