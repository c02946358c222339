// Docstrings of the pychipctl module, its types and members.
#pragma once

namespace vadu::pychipctl::doc {

inline constexpr char kModule[] =
    "Python bindings for the Ulmar IPU Device Control HAL (Hardware Abstraction Layer).\n"
    "\n"
    "This module provides a unified interface for system-level management of Ulmar accelerators. It encapsulates core operations including hardware reset orchestration, DVFS (Dynamic Voltage and Frequency Scaling) configuration, and real-time hardware telemetry.\n"
    "\n"
    "**Architectural Features:**\n"
    "\n"
    "- **Late-binding Mechanism**: To ensure maximum flexibility, this module does not   link against vendor libraries at compile time. Instead, it utilizes a DynamicLoader   to resolve backend-specific symbols only when a device instance is created.\n"
    "\n"
    "- **Binary Decoupling**: This 'plug-and-play' approach allows a single Python   extension to support multiple backends (such as, Vell, Tarn) without requiring   the presence of all driver libraries during the initial `import`.\n"
    "\n"
    "  Supported backends:\n"
    "\n"
    "  - Tarn products: Rv1HdiBackend\n"
    "\n"
    "  - Vell products: Rv2HalBackend.\n"
    "\n"
    "**Operational Notes:**\n"
    "\n"
    "- **Entry Point**: A `HalDevice` instance must be explicitly initialized via   `HalDeviceFactory.create` before accessing any hardware features.\n"
    "\n"
    "- **Feature Availability**: If a specific backend does not support a requested   operation, the API returns `Status.UNSUPPORTED` and logs a diagnostic error.";

inline constexpr char kDvfsMode[] =
    "DVFS (Dynamic Voltage and Frequency Scaling) operating mode for the specified Ulmar logical device.\n"
    "\n"
    "**Note:** Not all backends support DVFS. Calling `HalDevice.get_dvfs_mode` or `HalDevice.set_dvfs_mode` on an unsupported platform returns `Status.UNSUPPORTED`.";

inline constexpr char kPerformance[] =
    "IPU cores always run at maximum frequency. This is the default mode.";

inline constexpr char kOnDemand[] =
    "IPU core frequency is dynamically adjusted based on real-time utilization within the device's supported frequency range.";

inline constexpr char kMemInfo[] =
    "Structure that holds DDR memory information of a Ulmar device.";

inline constexpr char kMemTotal[] =
    "Total DDR memory of the Ulmar logical device in MB.";

inline constexpr char kMemUsed[] =
    "DDR memory consumed by the Ulmar logical device in MB.";

inline constexpr char kMemAvail[] =
    "DDR memory available for the Ulmar logical device in MB.";

inline constexpr char kHalDevice[] =
    "High-level Runtime interface for Ulmar chip management.\n"
    "\n"
    "Instances must be obtained exclusively via `HalDeviceFactory.create`.";

inline constexpr char kGetDeviceCount[] =
    "Returns the number of available Ulmar logical devices for the current backend.\n"
    "\n"
    "Returns:\n"
    "    int: The total count of logical devices, or -1 if the backend     fails to probe the hardware or is uninitialized.";

inline constexpr char kIpuReset[] =
    "Resets the IPU subsystem of the specified Ulmar logical device.\n"
    "\n"
    "This API coordinates the device reset sequence and triggers the registered lifecycle callbacks. It ensures the chip is returned to a clean state and is ready for model re-initialization.\n"
    "\n"
    "To ensure a successful reset, you must:\n"
    "\n"
    "1. Call `HalDevice.register_pre_reset_callback` API to define mandatory    pre-reset operations, such as resource cleanup or buffer deallocation.\n"
    "\n"
    "2. Call `HalDevice.register_post_reset_callback` API to define    post-reset operations, such as to state restoration or model reloading.\n"
    "\n"
    "3. Call this API to reset the specified Ulmar logical device.\n"
    "\n"
    "**Notes:**\n"
    "\n"
    "- All `Module` and `Buffer` resources on the device must be released   before calling this API to reset device (use pre-reset callbacks).\n"
    "\n"
    "- This API must be invoked only when no synchronization   operations are in progress on this device.\n"
    "\n"
    "- This is a synchronous call; it will block until all three phases   of the sequence are successfully completed.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "\n"
    "Returns:\n"
    "    `Status.OK` on success, `Status.UNSUPPORTED` if the backend     does not expose a hardware reset API.";

inline constexpr char kRegisterPreResetCallback[] =
    "Registers a callback to be invoked automatically by `ipu_reset` before a device reset.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device .               On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "    callback:  A callable invoked with `device_id` immediately prior to                device reset. Implementation must be non-blocking to ensure                the reset orchestration is not stalled.\n"
    "\n"
    "Returns:\n"
    "    An opaque handle (int) that can be passed to `unregister_reset_callback`.";

inline constexpr char kRegisterPostResetCallback[] =
    "Registers a callback to be invoked automatically by `ipu_reset` after a device reset completes.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "    callback:  A callable invoked with `device_id` after a device reset                completes. Implementation must be non-blocking to ensure                the reset orchestration is not stalled.\n"
    "\n"
    "Returns:\n"
    "    An opaque handle (int) that can be passed to `unregister_reset_callback`.";

inline constexpr char kUnregisterResetCallback[] =
    "Unregisters a previously registered reset callback.\n"
    "\n"
    "This method removes the specified functional hook from the reset orchestration sequence.\n"
    "Once unregistered, the callback will no longer be invoked during subsequent `ipu_reset` operations.\n"
    "\n"
    "Args:\n"
    "    handle: The unique handle returned by `register_pre_reset_callback` or             `register_post_reset_callback`. If the handle is unknown or             has already been unregistered, this function has no effect.";

inline constexpr char kGetDvfsMode[] =
    "Retrieves the current DVFS mode of the specified Ulmar logical device.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "Returns:\n"
    "    A tuple of (`Status`, `DvfsMode`). Status is `Status.OK` on success, or     `Status.UNSUPPORTED` if the backend does not provide DVFS controls.";

inline constexpr char kSetDvfsMode[] =
    "Sets the DVFS mode for the specified Ulmar logical device.\n"
    "\n"
    "**Note:**\n"
    "\n"
    "- After a power cycle, the system returns to the default   `PERFORMANCE` mode.\n"
    "- The mode is configured per Ulmar logical device. If a product contains   multiple chips, this only affects the device specified by `device_id`.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "    mode:      The DVFS mode to set. Valid values are `PERFORMANCE` and                `ON_DEMAND`.\n"
    "\n"
    "Returns:\n"
    "    `Status.OK` on success, or `Status.UNSUPPORTED` if controls are missing.";

inline constexpr char kGetIpuFrequency[] =
    "Retrieves the real-time average frequency (Hz) of all IPU cores on the specified Ulmar logical device.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "Returns:\n"
    "    A tuple of (`Status`, frequency_hz). Returns (`Status.UNSUPPORTED`, 0)     if the backend does not expose frequency telemetry.";

inline constexpr char kGetMemInfo[] =
    "Retrieves the DDR memory information of the specified Ulmar logical device.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "Returns:\n"
    "    A tuple of (`Status`, `MemInfo`). Status is `Status.OK` on success, or     `Status.UNSUPPORTED` if the backend does not expose memory telemetry.";

inline constexpr char kGetIpuUtilRate[] =
    "Retrieves the real-time average utilization rate of all IPU cores on the specified Ulmar logical device.\n"
    "\n"
    "**Note:**\n"
    "\n"
    "- The utilization is returned as a floating-point percentage (0.0 to 100.0).\n"
    "\n"
    "- This function requires valid data in the Ulmar device eFuse. IPU core   utilization rate can be retrieved only if the eFuse has been programmed.\n"
    "\n"
    "Args:\n"
    "    device_id: The logical ID of the Ulmar device. Each physical Ulmar                chip is identified as an independent logical device.                On a multi-chip product, the system assigns a separate                logical ID to every individual Ulmar chip.\n"
    "Returns:\n"
    "    A tuple of (`Status`, util_rate). Returns (`Status.UNSUPPORTED`, 0.0)     if utilization telemetry is not available on the current backend.";

inline constexpr char kBackendName[] =
    "Name of the underlying HAL backend, such as 'Rv2HalBackend'.";

inline constexpr char kHalDeviceFactory[] =
    "Entry point for instantiating `HalDevice` objects.\n"
    "\n"
    "This factory manages the instantiation of Ulmar device backends. \n"
    "\n"
    "Example::\n"
    "\n"
    "    dev = vadu_lite.dev_ctrl.HalDeviceFactory.create('Rv2HalBackend')\n"
    "    dev = vadu_lite.dev_ctrl.HalDeviceFactory.create()  # use default backend\n"
    "    backends = vadu_lite.dev_ctrl.HalDeviceFactory.get_supported_backends()\n";

inline constexpr char kCreate[] =
    "Creates a `HalDevice` instance for the specified backend.\n"
    "\n"
    "**Backend Selection Logic:**\n"
    "\n"
    "1. If `backend_name` is provided, the specific backend is used.\n"
    "\n"
    "2. If `backend_name` is empty, the backend is determined based on    the current environment configuration, typically using:\n"
    "\n"
    "   - The `VADU_BACKEND` environment variable.\n"
    "\n"
    "   - The `VADU_DEFAULT_BACKEND` build-time definition.\n"
    "\n"
    "Args:\n"
    "    backend_name (str): The name of the backend. Defaults to empty.\n"
    "\n"
    "Returns:\n"
    "    HalDevice: A `HalDevice` instance, or `None` if the requested     backend is not compiled in or unavailable.";

inline constexpr char kGetSupportedBackends[] =
    "Retrieves the list of backends available in the current build.\n"
    "\n"
    "Returns:\n"
    "    list[str]: A list of available backend name strings.";

}  // namespace vadu::pychipctl::doc
