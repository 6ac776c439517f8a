// The settings dialog on Windows.  The window is a dialog of the system's
// dialog manager, made from a template without controls, so that Tab, the
// arrow keys, Enter and the default button behave as in every other Windows
// dialog.  The controls are created afterwards at the form's pixel positions,
// scaled to the screen's DPI, which a template's dialog units could not
// express exactly.  The dialog runs its own modal loop with the owner
// disabled, the way a modal form of the host would.
#include "config/ArduinoDlg_win32.h"

#include <windows.h>
// The common controls' header needs the types of windows.h before it.
#include <commctrl.h>

#include <cstring>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "base/application.h"
#include "base/float_state.h"
#include "base/system_win32.h"
#include "block/user_data.h"
#include "config/ArduinoDlg.h"
#include "config/form_layout.h"

namespace arduino {
namespace {

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

// One open dialog: the form it shows, its windows by control name and how
// it ended.
struct TView {
  TArduinoDialog form;
  HWND dialog = nullptr;
  HFONT font = nullptr;
  int dpi = USER_DEFAULT_SCREEN_DPI;
  // Where each control goes, in the order of the form's controls.
  TFormLayout layout;
  std::map<std::string, HWND> windows;
  // Set once every control exists; notifications sent while they are made
  // are of no interest.
  bool ready = false;
  TModalResult result = TModalResult::kNone;
  bool done = false;
  // An error raised inside the window procedure, which must not unwind
  // through the system's frames; it is raised again once the loop has ended.
  std::exception_ptr error;

  int Scale(int pixels) const { return MulDiv(pixels, dpi, USER_DEFAULT_SCREEN_DPI); }
  HWND Window(const char* name) const { return windows.at(name); }
  void End(TModalResult how) {
    result = how;
    done = true;
    // The loop may be waiting in GetMessage, which does not return for a
    // message sent from another thread; a posted one wakes it up.
    PostMessageW(dialog, WM_NULL, 0, 0);
  }
};

[[noreturn]] void RaiseOpenFailure(const char* what) {
  throw Exception(std::string("The settings dialog could not be opened: ") + what + " (" +
                  SystemErrorText(GetLastError()) + ").");
}

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), length + 1)));
  return text;
}

// The dialog template: frame, caption and nothing else.  No DS_SETFONT, as
// the font is set on each control after it is made.
std::vector<WORD> EmptyTemplate() {
  DLGTEMPLATE header{};
  header.style = kDialogStyle;
  std::vector<WORD> words(sizeof header / sizeof(WORD));
  std::memcpy(words.data(), &header, sizeof header);
  words.push_back(0);  // no menu
  words.push_back(0);  // the system's dialog class
  for (const char* c = TArduinoDialog::kCaption; *c != '\0'; ++c) {
    words.push_back(static_cast<WORD>(static_cast<unsigned char>(*c)));
  }
  words.push_back(0);
  return words;
}

void ShowComPort(TView& view) {
  SetWindowTextA(view.Window("ComPortEdit"), view.form.ComPortText().c_str());
  SendMessageW(view.Window("UpDown1"), UDM_SETPOS32, 0, view.form.SpinPosition());
}

// The arrow buttons and the Up and Down keys step the port by the form's
// rules rather than the control's own, so both views agree on every edge
// case (a text that is no number, the ends of the range).
LRESULT OnSpin(TView& view, const NMUPDOWN& change) {
  if (change.iDelta > 0) view.form.StepUp();
  if (change.iDelta < 0) view.form.StepDown();
  ShowComPort(view);
  return TRUE;  // the control must not change the position itself
}

bool OnCommand(TView& view, WPARAM wparam, LPARAM lparam) {
  const int id = LOWORD(wparam);
  const int code = HIWORD(wparam);
  HWND sender = reinterpret_cast<HWND>(lparam);
  if (sender == nullptr) {
    // The dialog manager's own commands.  IDCANCEL without a control is
    // Escape, which deliberately does nothing, so a stray key press cannot
    // throw away what the user typed; IDOK without one would be Enter with
    // no default button, and OK always is the default.
    return id == IDCANCEL || id == IDOK;
  }
  if (sender == view.Window("ComPortEdit") && code == EN_CHANGE) {
    view.form.SetComPortText(WindowText(sender));
    return true;
  }
  if (code != BN_CLICKED) return false;
  for (const TControl& control : view.form.Controls()) {
    if (control.ModalResult != TModalResult::kNone && view.Window(control.Name.c_str()) == sender) {
      view.End(control.ModalResult);
      return true;
    }
  }
  return false;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    return FALSE;  // the focus is set once the controls exist
  }
  auto* view = reinterpret_cast<TView*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (view == nullptr || !view->ready) return FALSE;
  try {
    switch (message) {
      case WM_COMMAND:
        return OnCommand(*view, wparam, lparam) ? TRUE : FALSE;
      case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->code == UDN_DELTAPOS && header->hwndFrom == view->Window("UpDown1")) {
          LRESULT handled = OnSpin(*view, *reinterpret_cast<const NMUPDOWN*>(lparam));
          SetWindowLongPtrW(dialog, DWLP_MSGRESULT, handled);
          return TRUE;
        }
        return FALSE;
      }
      case WM_CLOSE:
        // The close box and Alt+F4 cancel.  The dialog manager would turn
        // this into IDCANCEL, which is Escape's and does nothing here.
        view->End(TModalResult::kCancel);
        return TRUE;
      case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
      default:
        return FALSE;
    }
  } catch (...) {
    view->error = std::current_exception();
    view->End(TModalResult::kCancel);
    return TRUE;
  }
}

// The order the controls are made in, which is also the order Tab walks:
// the form's top-level tab order, each group box followed by what it holds
// in its own tab order and then its labels.
std::vector<const TControl*> CreationOrder(const TArduinoDialog& form) {
  std::vector<const TControl*> order;
  auto add_labels = [&](const std::string& container) {
    for (const TControl& c : form.Controls()) {
      if (c.Parent == container && c.Kind == TControlKind::kLabel) order.push_back(&c);
    }
  };
  for (const TControl* top : form.TabSequence("")) {
    order.push_back(top);
    if (top->Kind != TControlKind::kGroupBox) continue;
    for (const TControl* inner : form.TabSequence(top->Name)) order.push_back(inner);
    add_labels(top->Name);
  }
  add_labels("");
  return order;
}

struct TWindowKind {
  const char* class_name;
  DWORD style;
  DWORD ex_style;
};

TWindowKind KindOf(const TControl& control) {
  switch (control.Kind) {
    case TControlKind::kButton:
      return {"BUTTON", static_cast<DWORD>(control.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0};
    case TControlKind::kGroupBox:
      return {"BUTTON", BS_GROUPBOX, 0};
    case TControlKind::kRadioButton:
      return {"BUTTON", BS_AUTORADIOBUTTON, 0};
    case TControlKind::kLabel:
      return {"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};
    case TControlKind::kEdit:
      return {"EDIT", ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case TControlKind::kUpDown:
      return {UPDOWN_CLASSA, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0};
    case TControlKind::kComboBox:
      return {"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL, 0};
  }
  return {"STATIC", 0, 0};
}

// The rectangle of a control in the dialog's client area, in screen pixels.
RECT PlaceOf(const TView& view, const TControl& control) {
  const TPlace& place = view.layout.Places[&control - view.form.Controls().data()];
  return RECT{place.Left, place.Top, place.Right(), place.Bottom()};
}

// Lays the form out on this screen.  A label needs the width of its caption,
// which runs wider than its slot when the system's stand-in for the dialog
// font is wider than the face the form was drawn with; it then grows and
// pushes its neighbours rather than having its caption cut short.
void LayOutControls(TView& view) {
  const std::vector<TControl>& controls = view.form.Controls();
  std::vector<TSize> needed(controls.size());
  if (HDC dc = GetDC(nullptr)) {
    HGDIOBJ old = SelectObject(dc, view.font);
    for (size_t i = 0; i < controls.size(); ++i) {
      const TControl& c = controls[i];
      SIZE extent{};
      if (c.Kind == TControlKind::kLabel &&
          GetTextExtentPoint32A(dc, c.Caption.c_str(), static_cast<int>(c.Caption.size()),
                                &extent)) {
        needed[i].Width = extent.cx;
      }
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
  }
  view.layout = LayOutForm(view.form, view.dpi, needed);
}

void MoveTo(HWND window, const RECT& place) {
  SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left,
               place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// A drop-down list is given its closed height through the height of its
// selection field; the window's own height is that of the open list.  The
// field is corrected by what the window measures after each try, since not
// every system reads back the height it was given.
void FitClosedHeight(HWND combo, int height) {
  LRESULT field = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  if (field == CB_ERR) return;
  for (int attempt = 0; attempt < 4; ++attempt) {
    RECT r;
    GetWindowRect(combo, &r);
    LRESULT difference = height - (r.bottom - r.top);
    if (difference == 0 || field + difference <= 0) return;
    field += difference;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
  }
}

// Which controls, in creation order, start a group.  The radio buttons of a
// container form one group: the first of them starts it, and the control
// after the last one starts the next group, so that checking one radio
// clears the other even with edits in between.
std::vector<bool> GroupStarts(const std::vector<const TControl*>& order) {
  std::map<std::string, size_t> first_radio, last_radio;
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i]->Kind != TControlKind::kRadioButton) continue;
    first_radio.try_emplace(order[i]->Parent, i);
    last_radio[order[i]->Parent] = i;
  }
  std::vector<bool> starts(order.size(), false);
  for (size_t i = 0; i < order.size(); ++i) {
    if (i == 0) starts[i] = true;
    for (const auto& [parent, index] : first_radio) {
      if (i == index || i == last_radio[parent] + 1) starts[i] = true;
    }
  }
  return starts;
}

DWORD StyleOf(const TControl& control, bool starts_group) {
  DWORD style = WS_CHILD | WS_VISIBLE | KindOf(control).style;
  if (control.TabStop && control.Kind != TControlKind::kGroupBox &&
      control.Kind != TControlKind::kLabel) {
    style |= WS_TABSTOP;
  }
  if (starts_group) style |= WS_GROUP;
  return style;
}

// Creates one control's window at its place and gives it the form's font,
// text limit, list items and, for the up-down, its edit and range.
void CreateControl(TView& view, const TControl& control, DWORD style, HINSTANCE module) {
  TWindowKind kind = KindOf(control);
  RECT place = PlaceOf(view, control);
  int height = place.bottom - place.top;
  if (control.Kind == TControlKind::kComboBox) {
    // Room for the open list below the closed box.
    height += view.Scale(2 + 16 * static_cast<int>(control.Items.size()));
  }
  const int id = ControlId(view.form, control.Name);
  HWND window =
      CreateWindowExA(kind.ex_style, kind.class_name, control.Caption.c_str(), style, place.left,
                      place.top, place.right - place.left, height, view.dialog,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
  if (window == nullptr) RaiseOpenFailure(control.Name.c_str());
  view.windows[control.Name] = window;
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(view.font), FALSE);
  if (control.MaxLength > 0) SendMessageW(window, EM_LIMITTEXT, control.MaxLength, 0);
  for (const std::string& item : control.Items) {
    SendMessageA(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  if (control.Kind == TControlKind::kComboBox) FitClosedHeight(window, place.bottom - place.top);
  if (control.Kind == TControlKind::kUpDown) {
    HWND buddy = view.Window(control.Associate.c_str());
    SendMessageW(window, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    SendMessageW(window, UDM_SETRANGE32, control.Min, control.Max);
    // Attaching moves the arrows onto the edit's right edge and narrows
    // the edit; the form already gives both their final places.
    MoveTo(buddy, PlaceOf(view, view.form.Control(control.Associate)));
    MoveTo(window, place);
  }
}

void BuildControls(TView& view, HINSTANCE module) {
  const std::vector<const TControl*> order = CreationOrder(view.form);
  const std::vector<bool> starts_group = GroupStarts(order);
  for (size_t i = 0; i < order.size(); ++i) {
    CreateControl(view, *order[i], StyleOf(*order[i], starts_group[i]), module);
  }
  const int ok_id = ControlId(view.form, "OKButton");
  SendMessageW(view.dialog, DM_SETDEFID, ok_id, 0);
}

void ShowForm(TView& view) {
  const TArduinoDialog& f = view.form;
  auto check = [&](const char* name, bool on) {
    SendMessageW(view.Window(name), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  };
  check("RadioButton1", f.EthernetChecked);
  check("RadioButton2", f.UsbChecked);
  SetWindowTextA(view.Window("IPAddressEdit"), f.IPAddressText.c_str());
  SetWindowTextA(view.Window("PortEdit"), f.PortText.c_str());
  ShowComPort(view);
  auto select = [&](const char* name, int index) {
    SendMessageW(view.Window(name), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  };
  select("BaudCombobox", f.BaudIndex);
  for (int row = 0; row < kDigitalPins; ++row) select(kPinComboNames[row], f.PinIndex[row]);
  for (int k = 0; k < kAnalogInputs; ++k) select(kAnalogComboNames[k], f.AnalogIndex[k]);
}

void ReadForm(TView& view) {
  TArduinoDialog& f = view.form;
  auto checked = [&](const char* name) {
    return SendMessageW(view.Window(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
  };
  auto selected = [&](const char* name) {
    LRESULT index = SendMessageW(view.Window(name), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
  };
  f.EthernetChecked = checked("RadioButton1");
  f.UsbChecked = checked("RadioButton2");
  f.IPAddressText = WindowText(view.Window("IPAddressEdit"));
  f.PortText = WindowText(view.Window("PortEdit"));
  f.SetComPortText(WindowText(view.Window("ComPortEdit")));
  f.BaudIndex = selected("BaudCombobox");
  for (int row = 0; row < kDigitalPins; ++row) f.PinIndex[row] = selected(kPinComboNames[row]);
  for (int k = 0; k < kAnalogInputs; ++k) f.AnalogIndex[k] = selected(kAnalogComboNames[k]);
}

// The client area the layout asks for, with the frame around it, in the
// middle of the screen.
void PlaceWindow(const TView& view) {
  RECT frame{0, 0, view.layout.ClientWidth, view.layout.ClientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(view.dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(view.dialog, GWL_EXSTYLE)));
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(view.dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The host's window, if it names one.  A popup is owned by a top-level
// window, so a child window passed as the owner stands for its top level.
HWND OwnerOfDialogs() {
  HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(Application().OwnerWindow()));
  if (owner == nullptr || !IsWindow(owner)) return nullptr;
  return GetAncestor(owner, GA_ROOT);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// The dialog window, its font and the disabled owner, given back in the
// right order whichever way the dialog ends.  The owner is enabled again
// before the dialog goes, so that the system hands the activation to it and
// not to some other program's window.
class TModalSession {
 public:
  TModalSession(TView& view, HWND owner) : view_(view), owner_(owner) {}
  ~TModalSession() {
    if (owner_disabled_) EnableWindow(owner_, TRUE);
    if (view_.dialog != nullptr) DestroyWindow(view_.dialog);
    if (view_.font != nullptr) DeleteObject(view_.font);
    if (owner_ != nullptr && IsWindow(owner_)) SetForegroundWindow(owner_);
  }
  TModalSession(const TModalSession&) = delete;
  TModalSession& operator=(const TModalSession&) = delete;

  void DisableOwner() {
    // An owner that is disabled already (by another modal window of the
    // host) stays as it was afterwards.
    if (owner_ != nullptr && IsWindowEnabled(owner_)) {
      EnableWindow(owner_, FALSE);
      owner_disabled_ = true;
    }
  }

 private:
  TView& view_;
  HWND owner_;
  bool owner_disabled_ = false;
};

void RunModalLoop(TView& view) {
  MSG message;
  while (!view.done) {
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The host is quitting.  The dialog ends as cancelled and the quit
      // goes back to the queue for the host's own loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      view.result = TModalResult::kCancel;
      return;
    }
    if (got == -1) {
      throw Exception("The settings dialog's message loop failed (" +
                      SystemErrorText(GetLastError()) + ").");
    }
    if (!IsDialogMessageW(view.dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

// Builds, shows and runs the dialog modally; true if it closed with OK, in
// which case the form holds what the controls showed.
bool ShowModally(TView& view) {
  view.dpi = ScreenDpi();
  HWND owner = OwnerOfDialogs();
  TModalSession session(view, owner);
  // The small dialog font; where the system lacks the face, its font
  // mapper picks the substitute registered for it.
  view.font =
      CreateFontA(-MulDiv(TArduinoDialog::kFontSize, view.dpi, 72), 0, 0, 0, FW_NORMAL, FALSE,
                  FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, TArduinoDialog::kFontName);
  if (view.font == nullptr) RaiseOpenFailure("no dialog font");

  HINSTANCE module = ThisModule();
  std::vector<WORD> dialog_template = EmptyTemplate();
  view.dialog = CreateDialogIndirectParamW(
      module, reinterpret_cast<const DLGTEMPLATE*>(dialog_template.data()), owner, DialogProc,
      reinterpret_cast<LPARAM>(&view));
  if (view.dialog == nullptr) RaiseOpenFailure("the window was refused");
  SendMessageW(view.dialog, WM_SETFONT, reinterpret_cast<WPARAM>(view.font), FALSE);
  LayOutControls(view);
  BuildControls(view, module);
  view.ready = true;
  ShowForm(view);
  PlaceWindow(view);

  session.DisableOwner();
  ShowWindow(view.dialog, SW_SHOW);
  SetForegroundWindow(view.dialog);
  // The first control in tab order takes the focus, as in any new dialog.
  SendMessageW(view.dialog, WM_NEXTDLGCTL,
               reinterpret_cast<WPARAM>(GetNextDlgTabItem(view.dialog, nullptr, FALSE)), TRUE);
  RunModalLoop(view);
  if (view.error || view.result != TModalResult::kOk) return false;
  ReadForm(view);
  return true;
}

}  // namespace

void RunParameterDialog(TUserData& user_data) {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_UPDOWN_CLASS};
  if (!InitCommonControlsEx(&classes)) RaiseOpenFailure("the common controls did not start");

  TView view;
  view.form.Fill(user_data);
  bool confirmed = false;
  {
    // From the dialog's first window to its last, the system calls the
    // host's window procedures: the owner is disabled and enabled again,
    // the activation moves between the two, and the modal loop dispatches
    // every message of the thread.  All of it runs under the host's
    // floating-point state.  The dialog's own procedure does integer and
    // text work only, which no state troubles.
    HostCodeScope host_code;
    confirmed = ShowModally(view);
  }
  if (view.error) std::rethrow_exception(view.error);
  if (!confirmed) return;
  view.form.Store(user_data);
}

}  // namespace arduino
