#pragma once
// Forward declarations of the classes in platform/ui/:
// The component model: components, controls, forms, the application.

class TBitBtn;
class TButton;
class TCheckBox;
class TComboBox;
class TComponent;
class TComponentPeer;
class TControl;
class TCustomGroupBox;
class TEdit;
struct TFont;
class TForm;
class TGroupBox;
class TLabel;
class TListView;
class TMemo;
class TMenuItem;
class TOpenDialog;
class TProgressBar;
class TRadioButton;
class TRadioGroup;
class TSaveDialog;
class TSpeedButton;
class TTabSheet;
class TTimer;

namespace platform {
class Application;
class UiBackend;
} // namespace platform
