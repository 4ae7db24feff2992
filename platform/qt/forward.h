#pragma once
// Forward declarations of the classes in platform/qt/:
// The Qt 6 Widgets backend of the window toolkit.

namespace platform {
class QtApplication;
class QtButtonPeer;
class QtCheckBoxPeer;
class QtComboBoxPeer;
class QtControlPeer;
class QtEditPeer;
class QtFormPeer;
class QtGroupBoxPeer;
class QtLabelPeer;
class QtListViewPeer;
class QtMemoPeer;
class QtProgressBarPeer;
class QtRadioButtonPeer;
class QtSpeedButtonPeer;
class QtTimerPeer;
class QtUiBackend;
} // namespace platform
