#pragma once
// The Qt 6 Widgets backend of the window toolkit.

namespace platform {
class QtApplication;
class QtUiBackend;
class QtControlPeer;
class QtFormPeer;
class QtTimerPeer;
} // namespace platform
