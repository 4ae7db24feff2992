#pragma once
// Forward declarations of the classes in platform/headless/:
// The application loop without a window toolkit.

namespace platform {
class HeadlessApplication;
} // namespace platform
