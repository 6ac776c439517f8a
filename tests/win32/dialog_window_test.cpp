// The settings dialog's Windows view, opened through the DLL's export on a
// real window.  The export runs the dialog on the test's main thread, as a
// host's call would; a second thread finds the window by its caption and
// works it the way a user does: keys from the input queue, typed text,
// button clicks and the close box.  What the dialog stored is then read
// back through WriteToFile, as the host would save it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "block_dll.h"
#include "config/ArduinoDlg.h"
#include "config/ArduinoDlg_win32.h"
#include "dialog/form_defaults.h"
#include "form_layout_rules.h"
#include "settings_record.h"
#include "test_platform.h"
#include "window_image.h"

namespace arduino::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The lines of a block's settings as WriteToFile puts them: interface, COM
// port, baud rate, address, UDP port, pins 2..9, A0..A5.
enum Line { kKind = 0, kComPort = 1, kBaud = 2, kAddress = 3, kUdpPort = 4, kPin2 = 5, kA0 = 13 };
using Settings = std::vector<std::string>;

Settings SettingsOf(DllBlock& block) {
  ScratchFile file;
  Dll().WriteToFile(file.handle(), block.record());
  std::string all = file.Contents();
  Settings lines;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find("\r\n", start);
    if (end == std::string::npos) end = all.size();
    lines.push_back(all.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void LoadSettings(DllBlock& block, const Settings& lines) {
  ScratchFile file;
  file.Replace(SettingsText(lines));
  Dll().ReadFromFile(file.handle(), block.record());
}

// `lines` with some of them replaced.
Settings With(Settings lines, std::initializer_list<std::pair<int, std::string>> changed) {
  for (const auto& [line, text] : changed) lines[line] = text;
  return lines;
}

int Dpi() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int Scale(int pixels) { return MulDiv(pixels, Dpi(), 96); }

void SendKey(WORD vk, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof input);
}

// Runs the export while a list of steps drives its window from a second
// thread.  Each step runs once the dialog has handled what the one before
// did.
class DialogDriver {
 public:
  using Step = std::function<void(DialogDriver&)>;

  DialogDriver& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  void Run(DllBlock& block) {
    ui_thread_ = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    bool forced = false;
    std::thread driver([&] {
      const auto deadline = steady_clock::now() + std::chrono::seconds(20);
      while (!returned && steady_clock::now() < deadline) {
        dialog_ = FindWindowA(nullptr, TArduinoDialog::kCaption);
        if (dialog_ != nullptr && IsWindowVisible(dialog_)) break;
        dialog_ = nullptr;
        Sleep(20);
      }
      if (dialog_ == nullptr) return;
      Settle();
      for (const Step& step : steps_) {
        if (returned) break;
        step(*this);
        ++ran_;
        Settle();
      }
      while (!returned && steady_clock::now() < deadline) Sleep(20);
      if (!returned) {
        forced = true;
        PostMessageW(dialog_, WM_CLOSE, 0, 0);
      }
    });
    Dll().CallParameterDialogDLL(block.record(), 0);
    returned = true;
    driver.join();
    ASSERT_NE(dialog_, nullptr) << "no window captioned \"Arduino\" appeared";
    EXPECT_EQ(ran_, steps_.size()) << "the dialog closed before every step ran";
    EXPECT_FALSE(forced) << "the dialog was still open after the last step";
    EXPECT_FALSE(IsWindow(dialog_)) << "the dialog's window outlived the call";
  }

  HWND dialog() const { return dialog_; }
  const TArduinoDialog& form() const { return form_; }
  HWND Item(const char* name) const { return GetDlgItem(dialog_, ControlId(form_, name)); }
  std::string Text(const char* name) const {
    char text[1024] = {};
    GetWindowTextA(Item(name), text, sizeof text);
    return text;
  }
  int Selected(const char* name) const {
    return static_cast<int>(SendMessageW(Item(name), CB_GETCURSEL, 0, 0));
  }
  bool Checked(const char* name) const {
    return SendMessageW(Item(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  // The control holding the keyboard focus, by its name in the form.
  std::string FocusName() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(ui_thread_, &info) || info.hwndFocus == nullptr) return "<none>";
    size_t index = static_cast<size_t>(GetDlgCtrlID(info.hwndFocus) - kFirstControlId);
    return index < form_.Controls().size() ? form_.Controls()[index].Name : "<other>";
  }

  // The focus goes where the user would click or tab to.
  void Focus(const char* name) const {
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(name)), TRUE);
  }
  void Press(WORD vk) const {
    SendKey(vk, false);
    SendKey(vk, true);
    Settle();
  }
  // Types into the focused control, replacing its whole text.
  void Retype(const char* name, const std::string& text) const {
    Focus(name);
    SendMessageW(Item(name), EM_SETSEL, 0, -1);
    for (char c : text) {
      INPUT keys[2] = {};
      for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wScan = static_cast<WORD>(static_cast<unsigned char>(c));
        key.ki.dwFlags = KEYEVENTF_UNICODE;
      }
      keys[1].ki.dwFlags |= KEYEVENTF_KEYUP;
      SendInput(2, keys, sizeof keys[0]);
    }
    Settle();
  }
  void Click(const char* name) const { SendMessageW(Item(name), BM_CLICK, 0, 0); }
  // A left click at a point of a control, through the input queue.
  void ClickAt(const char* name, int x, int y) const {
    POINT p{x, y};
    ClientToScreen(Item(name), &p);
    SetCursorPos(p.x, p.y);
    INPUT buttons[2] = {};
    buttons[0].type = buttons[1].type = INPUT_MOUSE;
    buttons[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    buttons[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, buttons, sizeof buttons[0]);
    Settle();
    // The pointer moves off again, as a hand goes back to the keyboard.
    // Wine's arrows take a key's repeat timer for a held mouse button while
    // the pointer rests on them.
    SetCursorPos(0, 0);
  }

 private:
  // Gives the dialog's thread time to take queued input, then waits until
  // it has handled everything sent to it.
  void Settle() const {
    Sleep(150);
    DWORD_PTR ignored;
    SendMessageTimeoutW(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &ignored);
  }

  TArduinoDialog form_;
  std::vector<Step> steps_;
  size_t ran_ = 0;
  HWND dialog_ = nullptr;
  DWORD ui_thread_ = 0;
};

// Opens the dialog on `block`, runs `steps` in it and gives what the block
// stores afterwards.
Settings AfterDialog(DllBlock& block, std::vector<DialogDriver::Step> steps) {
  DialogDriver driver;
  for (DialogDriver::Step& step : steps) driver.Then(std::move(step));
  driver.Run(block);
  return SettingsOf(block);
}

DialogDriver::Step Clicks(const char* name) {
  return [name](DialogDriver& d) { d.Click(name); };
}
DialogDriver::Step Retypes(const char* name, std::string text) {
  return [name, text](DialogDriver& d) { d.Retype(name, text); };
}
DialogDriver::Step Presses(WORD vk) {
  return [vk](DialogDriver& d) { d.Press(vk); };
}

// What a control shows, in the terms of DefaultShown().
std::string Shown(const DialogDriver& d, const std::string& name) {
  const TControlKind kind = d.form().Control(name).Kind;
  if (kind == TControlKind::kRadioButton) return d.Checked(name.c_str()) ? "checked" : "";
  if (kind != TControlKind::kComboBox) return d.Text(name.c_str());
  char text[64] = {};
  SendMessageA(d.Item(name.c_str()), CB_GETLBTEXT, d.Selected(name.c_str()),
               reinterpret_cast<LPARAM>(text));
  return text;
}

const char* ClassFor(TControlKind kind) {
  switch (kind) {
    case TControlKind::kButton:
    case TControlKind::kGroupBox:
    case TControlKind::kRadioButton:
      return "Button";
    case TControlKind::kLabel:
      return "Static";
    case TControlKind::kEdit:
      return "Edit";
    case TControlKind::kUpDown:
      return "msctls_updown32";
    case TControlKind::kComboBox:
      return "ComboBox";
  }
  return "";
}

// Everything the window shows of a new block's settings, where the form
// puts it (form_layout_rules.h), each caption whole.
void CheckLayoutAndDefaults(const DialogDriver& d) {
  HWND w = d.dialog();
  RECT client;
  GetClientRect(w, &client);
  LONG style = GetWindowLongW(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & DS_MODALFRAME);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  RECT frame;
  GetWindowRect(w, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  std::vector<TPlace> shown;
  for (const TControl& c : d.form().Controls()) {
    SCOPED_TRACE(c.Name);
    HWND item = d.Item(c.Name.c_str());
    ASSERT_NE(item, nullptr);
    char class_name[64] = {};
    GetClassNameA(item, class_name, sizeof class_name);
    EXPECT_EQ(lstrcmpiA(class_name, ClassFor(c.Kind)), 0) << class_name;
    RECT r;
    GetWindowRect(item, &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    shown.push_back(TPlace{r.left, r.top, r.right - r.left, r.bottom - r.top});
    // A label grows to its caption where the substitute font runs wider.
    if (c.Kind == TControlKind::kLabel) {
      HDC dc = GetDC(item);
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item, WM_GETFONT, 0, 0)));
      SIZE extent{};
      GetTextExtentPoint32A(dc, c.Caption.c_str(), static_cast<int>(c.Caption.size()), &extent);
      ReleaseDC(item, dc);
      EXPECT_GE(r.right - r.left, extent.cx) << "the caption is cut short";
    }
    if (c.Kind != TControlKind::kEdit && c.Kind != TControlKind::kComboBox) {
      EXPECT_EQ(d.Text(c.Name.c_str()), c.Caption);
    }
    if (c.Kind == TControlKind::kComboBox) {
      ASSERT_EQ(SendMessageW(item, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(c.Items.size()));
      for (size_t i = 0; i < c.Items.size(); ++i) {
        char text[64] = {};
        SendMessageA(item, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(text, c.Items[i]);
      }
    }
    if (c.Kind == TControlKind::kUpDown) continue;  // shows no text
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageW(item, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -MulDiv(8, Dpi(), 72));
  }
  ::arduino::testing::ExpectFormLayoutRules(shown, {client.right, client.bottom}, Dpi());
  EXPECT_EQ(SendMessageW(d.Item("IPAddressEdit"), EM_GETLIMITTEXT, 0, 0), 998);
  for (const auto& [name, text] : DefaultShown()) EXPECT_EQ(Shown(d, name), text) << name;
}

TEST(DialogWindowTest, OpensWithTheDefaultsLaidOutAndOkStoresNothingNew) {
  DllBlock block;
  const Settings before = SettingsOf(block);
  auto look = [](DialogDriver& d) {
    CheckLayoutAndDefaults(d);
    RgbImage image = CaptureWindow(d.dialog());
    ASSERT_GT(image.width, 0) << "the window could not be read from the screen";
    // The free space right of the pin lists shows the button-face colour.
    RECT frame;
    GetWindowRect(d.dialog(), &frame);
    POINT spot{Scale(400), Scale(200)};
    ClientToScreen(d.dialog(), &spot);
    size_t at = 3 * (static_cast<size_t>(spot.y - frame.top) * image.width +
                     static_cast<size_t>(spot.x - frame.left));
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(RGB(image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]), face);
    if (const char* path = std::getenv("ARDUINO_DIALOG_SCREENSHOT")) {
      EXPECT_TRUE(SavePng(image, path)) << path;
    }
  };
  EXPECT_EQ(AfterDialog(block, {look, Clicks("OKButton")}), before);
}

TEST(DialogWindowTest, EnterInAnEditStoresTheTypedAddressAndPort) {
  DllBlock block;
  const Settings expected = With(SettingsOf(block), {{kAddress, "10.1.2.3"}, {kUdpPort, "5000"}});
  EXPECT_EQ(AfterDialog(block, {Retypes("IPAddressEdit", "10.1.2.3"), Retypes("PortEdit", "5000"),
                                [](DialogDriver& d) {
                                  EXPECT_EQ(d.Text("IPAddressEdit"), "10.1.2.3");
                                  EXPECT_EQ(d.Text("PortEdit"), "5000");
                                  d.Press(VK_RETURN);
                                }}),
            expected);
}

// Enter presses OK from any control but the Cancel button: a closed list and
// a radio button leave the key to the default button instead of acting on
// it themselves.
TEST(DialogWindowTest, EnterOnAListOrARadioPressesOk) {
  struct Case {
    const char* focus;
    WORD change;  // a key that changes the focused control first
    Line line;
    const char* stored;
  };
  const Case cases[] = {
      {"A5Combobox", VK_UP, static_cast<Line>(kA0 + 5), "0"},
      {"BaudCombobox", VK_DOWN, kBaud, "19200"},
      {"RadioButton2", VK_SPACE, kKind, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.focus);
    DllBlock block;
    const Settings expected = With(SettingsOf(block), {{c.line, c.stored}});
    std::string focused;
    EXPECT_EQ(AfterDialog(block, {[&](DialogDriver& d) {
                                    d.Focus(c.focus);
                                    d.Press(c.change);
                                  },
                                  [&](DialogDriver& d) {
                                    focused = d.FocusName();
                                    d.Press(VK_RETURN);
                                  }}),
              expected);
    EXPECT_EQ(focused, c.focus);
  }
}

TEST(DialogWindowTest, EscapeLeavesItOpenAndCancelStoresNothing) {
  DllBlock block;
  const Settings before = SettingsOf(block);
  EXPECT_EQ(AfterDialog(block, {Retypes("IPAddressEdit", "1.1.1.1"), Presses(VK_ESCAPE),
                                [](DialogDriver& d) {
                                  EXPECT_TRUE(IsWindowVisible(d.dialog()))
                                      << "Escape closed the dialog";
                                  EXPECT_EQ(d.Text("IPAddressEdit"), "1.1.1.1");
                                  EXPECT_EQ(d.FocusName(), "IPAddressEdit");
                                  d.Click("CancelButton");
                                }}),
            before);
}

TEST(DialogWindowTest, CloseBoxStoresNothing) {
  DllBlock block;
  const Settings before = SettingsOf(block);
  // What the frame sends when the user clicks the close box.
  auto close_box = [](DialogDriver& d) { PostMessageW(d.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); };
  EXPECT_EQ(AfterDialog(block, {Retypes("PortEdit", "4242"), Clicks("RadioButton2"), close_box}),
            before);
}

TEST(DialogWindowTest, ClickedRadioAndListsAreStoredAndTheOtherRadioClears) {
  DllBlock block;
  const Settings expected = With(SettingsOf(block), {{kKind, "1"},
                                                     {kBaud, "115200"},
                                                     {kPin2 + 7, "3"},  // pin 9: PWM Output
                                                     {kA0 + 5, "0"}});
  EXPECT_EQ(AfterDialog(block, {[](DialogDriver& d) {
                                  d.Click("RadioButton2");
                                  SendMessageW(d.Item("BaudCombobox"), CB_SETCURSEL, 3, 0);
                                  SendMessageW(d.Item("P9Combobox"), CB_SETCURSEL, 3, 0);
                                },
                                [](DialogDriver& d) {
                                  EXPECT_FALSE(d.Checked("RadioButton1"));
                                  // A list changed from the keyboard: Up picks the item above.
                                  d.Focus("A5Combobox");
                                  d.Press(VK_UP);
                                },
                                [](DialogDriver& d) {
                                  EXPECT_EQ(d.Selected("A5Combobox"), 0);
                                  d.Click("OKButton");
                                }}),
            expected);
}

TEST(DialogWindowTest, InterfaceKindFiveOpensWithNeitherRadioChecked) {
  DllBlock block;
  const Settings stored = With(SettingsOf(block), {{kKind, "5"}});
  LoadSettings(block, stored);
  // Neither interface shown means USB was not chosen, so OK stores Ethernet.
  EXPECT_EQ(
      AfterDialog(block, {[](DialogDriver& d) {
                    EXPECT_FALSE(d.Checked("RadioButton1"));
                    EXPECT_FALSE(d.Checked("RadioButton2"));
                    // With neither checked, Tab reaches neither.
                    EXPECT_FALSE(GetWindowLongW(d.Item("RadioButton1"), GWL_STYLE) & WS_TABSTOP);
                    EXPECT_FALSE(GetWindowLongW(d.Item("RadioButton2"), GWL_STYLE) & WS_TABSTOP);
                    d.Click("OKButton");
                  }}),
      With(stored, {{kKind, "0"}}));
}

// A stored speed the list does not offer leaves the list of four without a
// selection, and OK keeps that speed.
TEST(DialogWindowTest, AStoredSpeedOutsideTheListSelectsNoneAndIsKept) {
  DllBlock block;
  const Settings stored = With(SettingsOf(block), {{kBaud, "57600"}});
  LoadSettings(block, stored);
  LRESULT items = 0;
  int selected = 0;
  EXPECT_EQ(AfterDialog(block, {[&](DialogDriver& d) {
                          items = SendMessageW(d.Item("BaudCombobox"), CB_GETCOUNT, 0, 0);
                          selected = d.Selected("BaudCombobox");
                          d.Click("OKButton");
                        }}),
            stored);
  EXPECT_EQ(items, 4);
  EXPECT_EQ(selected, CB_ERR);
}

// A project file can bring an address one character longer than the edit
// lets the user type: the dialog shows it whole and OK keeps it whole, so
// that saving it later fails with the reason instead of cutting it.
TEST(DialogWindowTest, AStoredAddressBeyondTheEditsLimitIsShownAndKeptWhole) {
  DllBlock block;
  LoadSettings(block, With(SettingsOf(block), {{kAddress, std::string(999, '7')}}));
  int shown = 0;
  DialogDriver driver;
  driver.Then([&shown](DialogDriver& d) {
    shown = GetWindowTextLengthW(d.Item("IPAddressEdit"));
    d.Click("OKButton");
  });
  driver.Run(block);
  EXPECT_EQ(shown, 999);
  ScratchFile file;
  auto error = CatchBlockError([&] { Dll().WriteToFile(file.handle(), block.record()); });
  ASSERT_TRUE(error) << "the address was cut to what a line holds";
  EXPECT_NE(error->message.find("is 999 characters long"), std::string::npos) << error->message;
}

TEST(DialogWindowTest, UpDownKeysAndArrowsStepTheComPortWithinItsRange) {
  DllBlock block;
  LoadSettings(block, With(SettingsOf(block), {{kComPort, "98"}}));
  std::vector<std::string> shown;
  auto record = [&shown](DialogDriver& d) { shown.push_back(d.Text("ComPortEdit")); };
  auto walk = [&](DialogDriver& d) {
    d.Focus("ComPortEdit");
    record(d);
    d.Press(VK_UP);
    record(d);
    d.Press(VK_UP);
    d.Press(VK_UP);
    record(d);
    // The lower half of the arrows steps down.
    RECT r;
    GetClientRect(d.Item("UpDown1"), &r);
    d.ClickAt("UpDown1", r.right / 2, r.bottom * 3 / 4);
    record(d);
    d.Press(VK_DOWN);
    record(d);
    d.ClickAt("UpDown1", r.right / 2, r.bottom / 4);
    record(d);
  };
  // No number: the arrows step on from the last position.
  auto step_on = [&](DialogDriver& d) {
    d.Press(VK_DOWN);
    record(d);
    d.Retype("ComPortEdit", "abc");
  };
  const Settings stored =
      AfterDialog(block, {walk, Retypes("ComPortEdit", "abc"), step_on, Presses(VK_RETURN)});
  EXPECT_EQ(shown, (std::vector<std::string>{"98", "99", "100", "99", "98", "99", "98"}));
  // "abc" is no number, so the port is the spin's last position.
  EXPECT_EQ(stored[kComPort], "98");
}

TEST(DialogWindowTest, TabWalksTheFormsOrderAndSkipsTheUncheckedRadio) {
  DllBlock block;
  std::vector<std::string> visited;
  AfterDialog(block, {[&](DialogDriver& d) {
                EXPECT_EQ(d.FocusName(), "OKButton")
                    << "the first control in tab order starts focused";
                d.Focus("IPAddressEdit");
                for (int i = 0; i < 21; ++i) {
                  visited.push_back(d.FocusName());
                  d.Press(VK_TAB);
                }
                d.Click("CancelButton");
              }});
  const std::vector<std::string> expected = {
      "IPAddressEdit", "PortEdit",     "ComPortEdit", "BaudCombobox", "P2Combobox", "P3Combobox",
      "P4Combobox",    "P5Combobox",   "P6Combobox",  "P7Combobox",   "P8Combobox", "P9Combobox",
      "A0Combobox",    "A1Combobox",   "A2Combobox",  "A3Combobox",   "A4Combobox", "A5Combobox",
      "OKButton",      "CancelButton", "RadioButton1"};
  EXPECT_EQ(visited, expected);
}

TEST(DialogWindowTest, QuitWhileOpenCancelsAndLeavesTheQuitForTheHost) {
  DllBlock block;
  Settings before = SettingsOf(block);
  DWORD ui_thread = GetCurrentThreadId();
  EXPECT_EQ(AfterDialog(block, {Retypes("PortEdit", "4242"),
                                [ui_thread](DialogDriver&) {
                                  PostThreadMessageW(ui_thread, WM_QUIT, 7, 0);
                                }}),
            before);
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
      << "the host's quit was swallowed";
  EXPECT_EQ(message.wParam, 7u);
}

TEST(DialogWindowTest, RecordOfADisposedBlockRaisesAndOpensNothing) {
  DllBlock block;
  block.Dispose();
  auto error = CatchBlockError([&] { Dll().CallParameterDialogDLL(block.record(), 0); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->class_name, "Exception");
  EXPECT_EQ(error->message, "The block record does not belong to a live block");
  EXPECT_EQ(FindWindowA(nullptr, TArduinoDialog::kCaption), nullptr);
}

// A stand-in for the host's main window.
class OwnerWindow : public TestWindow {
 public:
  OwnerWindow()
      : TestWindow(L"ArduinoTestHost", DefWindowProcW, WS_OVERLAPPEDWINDOW | WS_VISIBLE) {}
};

TEST(DialogWindowTest, IsModalToTheHostsWindowAndHandsItBackAfterwards) {
  OwnerWindow owner;
  ASSERT_NE(owner.handle(), nullptr);
  DllBlock block(owner.id());
  HWND dialog_owner = nullptr;
  bool owner_enabled = true;
  AfterDialog(block, {[&](DialogDriver& d) {
                dialog_owner = GetWindow(d.dialog(), GW_OWNER);
                owner_enabled = IsWindowEnabled(owner.handle()) != FALSE;
                d.Click("CancelButton");
              }});
  EXPECT_EQ(dialog_owner, owner.handle());
  EXPECT_FALSE(owner_enabled) << "the host's window took input while the dialog was open";
  EXPECT_TRUE(IsWindowEnabled(owner.handle()));
  EXPECT_EQ(GetActiveWindow(), owner.handle());
}

constexpr UINT kSentProbe = WM_APP + 2;
std::vector<std::pair<UINT, FloatControl>> g_owner_probes;
LRESULT CALLBACK RecordOwnerFloatControl(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ENABLE || message == kSentProbe) {
    g_owner_probes.emplace_back(message, CurrentFloatControl());
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The host's window procedure runs under the host's floating-point state
// whenever the dialog makes it run: when the owner is disabled and enabled
// again, and for a message another thread sends while the modal loop runs.
TEST(DialogWindowTest, TheHostsWindowRunsUnderTheHostsFloatingPointState) {
  const TestWindow owner_window(L"ArduinoFloatProbeHost", &RecordOwnerFloatControl,
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  HWND owner = owner_window.handle();
  ASSERT_NE(owner, nullptr);
  g_owner_probes.clear();
  const FloatControl host = kHostFloatControl;
  FloatControl after;
  {
    DllBlock block(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner)));
    DialogDriver driver;
    driver.Then([owner](DialogDriver& d) {
      DWORD_PTR ignored;
      SendMessageTimeoutW(owner, kSentProbe, 0, 0, SMTO_NORMAL, 5000, &ignored);
      d.Click("CancelButton");
    });
    const FloatControl saved = CurrentFloatControl();
    LoadFloatControl(host);
    driver.Run(block);
    after = CurrentFloatControl();
    LoadFloatControl(saved);
  }
  std::vector<UINT> messages;
  for (const auto& [message, seen] : g_owner_probes) {
    messages.push_back(message);
    EXPECT_EQ(seen, host) << "message " << message;
  }
  EXPECT_EQ(messages, (std::vector<UINT>{WM_ENABLE, kSentProbe, WM_ENABLE}));
  EXPECT_EQ(after, host);
}

TEST(DialogWindowTest, OwnerThatNamesNoWindowLeavesTheDialogUnowned) {
  DllBlock block(0xDEAD0);
  HWND dialog_owner = reinterpret_cast<HWND>(1);
  AfterDialog(block, {[&](DialogDriver& d) {
                dialog_owner = GetWindow(d.dialog(), GW_OWNER);
                d.Click("OKButton");
              }});
  EXPECT_EQ(dialog_owner, nullptr);
}

}  // namespace
}  // namespace arduino::testing
