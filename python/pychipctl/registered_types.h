// Every type pychipctl registers or returns, each converted from Python only
// when it is an initialised instance. Included by every binding file.
#pragma once

#include "initialised_instance_caster.h"
#include "vadu/dev_ctrl/hal_device.h"
#include "vadu/dev_ctrl/hal_device_factory.h"
#include "vadu/status.h"

VADU_PYTHON_INITIALISED_INSTANCES_ONLY(vadu::Status, vadu::dev_ctrl::DvfsMode,
                                       vadu::dev_ctrl::MemInfo, vadu::dev_ctrl::HalDevice,
                                       vadu::dev_ctrl::HalDeviceFactory)
