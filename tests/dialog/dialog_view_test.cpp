// The settings dialog's GTK view, driven through the export on a private X
// server with real key presses and mouse clicks from xdotool.  The steps run
// from a GLib timeout inside the dialog's own loop, the way a user's input
// arrives while the host waits in CallParameterDialogDLL.
#include <fcntl.h>
#include <fenv.h>
#include <fpu_control.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "base/application.h"
#include "block/block_record.h"
#include "block/user_data.h"
#include "block_record.h"
#include "commands.h"
#include "config/ArduinoDlg.h"
#include "dialog/form_defaults.h"
#include "errors.h"
#include "files.h"
#include "form_layout_rules.h"
#include "settings_fields.h"

// Xlib defines macros such as None and Bool, so it comes after everything
// that might use those names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <gdk/gdkx.h>

namespace arduino {
namespace {

bool OnPath(const char* program) {
  std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// An Xvfb of our own on a display number it picks itself.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      // No reset when the last client goes, which would drop the resources
      // set before GTK connects.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd watch{fds[0], POLLIN, 0};
    char c;
    while (poll(&watch, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~XServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// The font resolution a desktop gives its programs: Xft.dpi in the X
// server's resource database, which GTK reads when it opens the display.
void SetFontDpi(const char* dpi) {
  Display* x = XOpenDisplay(nullptr);
  if (x == nullptr) return;
  std::string resources = std::string("Xft.dpi:\t") + dpi + "\n";
  XChangeProperty(x, DefaultRootWindow(x), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(resources.data()),
                  static_cast<int>(resources.size()));
  XSync(x, False);
  XCloseDisplay(x);
}

XServer* server = nullptr;
std::string skip_reason;

class XEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("ARDUINO_DIALOG_NO_DISPLAY") != nullptr) {
      skip_reason = "this run checks the dialog without a display";
      return;
    }
    if (!OnPath("Xvfb") || !OnPath("xdotool")) {
      skip_reason = "Xvfb or xdotool is not installed";
      return;
    }
    server = new XServer;
    if (server->display().empty()) {
      skip_reason = "Xvfb did not start";
      return;
    }
    setenv("DISPLAY", server->display().c_str(), 1);
    if (const char* dpi = std::getenv("ARDUINO_DIALOG_DPI")) SetFontDpi(dpi);
  }
  void TearDown() override { delete server; }
};

// A block as the host creates it, in a record of its own.
class Block {
 public:
  explicit Block(uint32_t app_handle = 0) : record_(0, app_handle) { InitUserDLL(record_.data()); }
  ~Block() { DisposeUserDLL(record_.data()); }
  void* record() { return record_.data(); }
  TUserData& data() { return UserDataOf(record_.data()); }

 private:
  hostmodel::BlockRecord record_;
};

using testing::Fields;
using testing::FieldsOf;

void Xdo(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>("xdotool")};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  gint status = 0;
  GError* error = nullptr;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                    nullptr, &status, &error)) {
    ADD_FAILURE() << "xdotool: " << error->message;
    g_error_free(error);
    return;
  }
  EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << "xdotool " << args[0];
}

GtkWidget* FindNamed(GtkWidget* widget, const std::string& name) {
  if (name == gtk_widget_get_name(widget)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* c = children; c != nullptr && found == nullptr; c = c->next) {
    found = FindNamed(GTK_WIDGET(c->data), name);
  }
  g_list_free(children);
  return found;
}

// Runs the export while a list of steps drives the dialog.  A step returns
// false to be tried again at the next tick (waiting for something to show).
class DialogDriver {
 public:
  using Step = std::function<bool(DialogDriver&)>;

  DialogDriver& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  void Run(void* record) {
    RunWhile([record] { CallParameterDialogDLL(record, 0); });
  }
  // The steps run while `call` opens the dialog, through whatever way in.
  void RunWhile(const std::function<void()>& call) {
    start_ = std::chrono::steady_clock::now();
    // Below the priority of X events, so that what one step did reaches the
    // widgets before the next step looks at them.
    guint tick = g_timeout_add_full(G_PRIORITY_LOW, 50, &DialogDriver::Tick, this, nullptr);
    call();
    g_source_remove(tick);
    EXPECT_EQ(next_, steps_.size()) << "the dialog closed before every step ran";
  }

  GtkWidget* window() const { return window_; }
  Window xid() const { return GDK_WINDOW_XID(gtk_widget_get_window(window_)); }
  GtkWidget* Widget(const std::string& name) const {
    GtkWidget* w = FindNamed(window_, name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string Text(const std::string& name) const {
    return gtk_entry_get_text(GTK_ENTRY(Widget(name)));
  }

  // The keyboard's focus goes to the dialog, as when the user clicks it.
  void Focus() const { Xdo({"windowfocus", "--sync", std::to_string(xid())}); }
  void Click(const std::string& name, int dx = -1, int dy = -1) const {
    GtkWidget* w = Widget(name);
    GtkAllocation a;
    gtk_widget_get_allocation(w, &a);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(w, window_, dx < 0 ? a.width / 2 : dx,
                                     dy < 0 ? a.height / 2 : dy, &x, &y);
    Xdo({"mousemove", "--window", std::to_string(xid()), std::to_string(x), std::to_string(y)});
    Xdo({"click", "1"});
  }
  void Keys(std::vector<std::string> keys) const {
    keys.insert(keys.begin(), {"key", "--delay", "40"});
    Xdo(keys);
  }
  void Type(const std::string& text) const { Xdo({"type", "--delay", "20", text}); }
  // Replaces an edit's text the way a user does: click, select all, type.
  void Retype(const std::string& name, const std::string& text) const {
    Click(name);
    Keys({"ctrl+a"});
    Type(text);
  }

 private:
  static gboolean Tick(gpointer data) {
    auto* self = static_cast<DialogDriver*>(data);
    if (std::chrono::steady_clock::now() - self->start_ > std::chrono::seconds(20)) {
      ADD_FAILURE() << "the dialog did not finish in time; closing it";
      if (self->window_ != nullptr) gtk_window_close(GTK_WINDOW(self->window_));
      return G_SOURCE_CONTINUE;
    }
    if (self->window_ == nullptr) {
      GList* toplevels = gtk_window_list_toplevels();
      for (GList* t = toplevels; t != nullptr; t = t->next) {
        GtkWidget* w = GTK_WIDGET(t->data);
        if (std::string(gtk_widget_get_name(w)) == "TArduinoDialog" && gtk_widget_get_mapped(w)) {
          self->window_ = w;
        }
      }
      g_list_free(toplevels);
      if (self->window_ == nullptr) return G_SOURCE_CONTINUE;
      self->Focus();
    }
    // The X server and GTK get time to deliver and handle a step's input
    // before the next step runs.
    auto now = std::chrono::steady_clock::now();
    if (now < self->settle_until_) return G_SOURCE_CONTINUE;
    if (self->next_ < self->steps_.size() && self->steps_[self->next_](*self)) ++self->next_;
    self->settle_until_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    return G_SOURCE_CONTINUE;
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  GtkWidget* window_ = nullptr;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point settle_until_;
};

DialogDriver::Step Do(std::function<void(DialogDriver&)> action) {
  return [action](DialogDriver& d) {
    action(d);
    return true;
  };
}
DialogDriver::Step Clicks(std::string name) {
  return Do([name](DialogDriver& d) { d.Click(name); });
}
DialogDriver::Step Retypes(std::string name, std::string text) {
  return Do([name, text](DialogDriver& d) { d.Retype(name, text); });
}
DialogDriver::Step Presses(std::vector<std::string> keys) {
  return Do([keys](DialogDriver& d) { d.Keys(keys); });
}

// Opens the dialog on `block`, runs `steps` in it and gives what the block
// holds afterwards.
Fields AfterDialog(Block& block, std::vector<DialogDriver::Step> steps) {
  DialogDriver driver;
  for (DialogDriver::Step& step : steps) driver.Then(std::move(step));
  driver.Run(block.record());
  return FieldsOf(block.data());
}

std::string ActiveItem(const DialogDriver& d, const std::string& name) {
  gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(d.Widget(name)));
  std::string result = text != nullptr ? text : "<none>";
  g_free(text);
  return result;
}

int ItemCount(const DialogDriver& d, const std::string& name) {
  return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(d.Widget(name))),
                                        nullptr);
}

bool Checked(const DialogDriver& d, const std::string& name) {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d.Widget(name)));
}

// What a control shows, in the terms of DefaultShown().
std::string Shown(const DialogDriver& d, const std::string& name) {
  static const TArduinoDialog form;
  const TControlKind kind = form.Control(name).Kind;
  if (kind == TControlKind::kRadioButton) return Checked(d, name) ? "checked" : "";
  return kind == TControlKind::kComboBox ? ActiveItem(d, name) : d.Text(name);
}

// The control of the form that holds the focus; a list's focus sits on its
// inner button.
std::string FocusedControl(const DialogDriver& d) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d.window()));
  while (focus != nullptr && std::string(gtk_widget_get_name(focus)).find("Gtk") == 0) {
    focus = gtk_widget_get_parent(focus);
  }
  return focus != nullptr ? gtk_widget_get_name(focus) : "<none>";
}

class DialogViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!skip_reason.empty()) GTEST_SKIP() << skip_reason;
  }
};

// The screen's font resolution as GTK uses it, which the dialog scales by.
int FontDpi() {
  double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  return dpi > 0 ? static_cast<int>(dpi + 0.5) : 96;
}

// A widget's rectangle in the window.
GdkRectangle RectIn(GtkWidget* window, GtkWidget* widget) {
  GtkAllocation a;
  gtk_widget_get_allocation(widget, &a);
  GdkRectangle r{0, 0, a.width, a.height};
  gtk_widget_translate_coordinates(widget, window, 0, 0, &r.x, &r.y);
  return r;
}

bool Overlap(const GdkRectangle& a, const GdkRectangle& b) {
  return gdk_rectangle_intersect(&a, &b, nullptr) != FALSE;
}

bool Inside(const GdkRectangle& inner, const GdkRectangle& outer) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

std::string Show(const GdkRectangle& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

// The label that shows a control's caption, or null.
GtkWidget* CaptionOf(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget)) return widget;
  if (GTK_IS_FRAME(widget)) return gtk_frame_get_label_widget(GTK_FRAME(widget));
  if (GTK_IS_BUTTON(widget)) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget));
    return GTK_IS_LABEL(child) ? child : nullptr;
  }
  return nullptr;
}

TPlace PlaceOf(const GdkRectangle& r) { return TPlace{r.x, r.y, r.width, r.height}; }

// The layout's rules (form_layout_rules.h), and what only this view can
// show: every caption whole and inside its control, no control over the
// caption of its box.
void CheckLayout(const DialogDriver& d) {
  GdkWindow* gdk_window = gtk_widget_get_window(d.window());
  const TArduinoDialog form;
  const std::vector<TControl>& controls = form.Controls();
  std::vector<GdkRectangle> shown;
  std::vector<TPlace> places;
  for (const TControl& c : controls) {
    shown.push_back(RectIn(d.window(), d.Widget(c.Name)));
    places.push_back(PlaceOf(shown.back()));
  }
  testing::ExpectFormLayoutRules(
      places, {gdk_window_get_width(gdk_window), gdk_window_get_height(gdk_window)}, FontDpi());

  for (size_t i = 0; i < controls.size(); ++i) {
    const TControl& c = controls[i];
    SCOPED_TRACE(c.Name + " at " + Show(shown[i]));
    GtkWidget* caption = CaptionOf(d.Widget(c.Name));
    EXPECT_EQ(caption != nullptr, !c.Caption.empty());
    if (caption != nullptr) {
      int width = 0, height = 0;
      pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(caption)), &width, &height);
      const GdkRectangle text = RectIn(d.window(), caption);
      EXPECT_GE(text.width, width) << "the caption is cut short";
      EXPECT_GE(text.height, height) << "the caption is cut short";
      EXPECT_TRUE(Inside(text, shown[i])) << "the caption sticks out: " << Show(text);
    }
    if (!c.Parent.empty()) {
      GtkWidget* box_caption = CaptionOf(d.Widget(c.Parent));
      EXPECT_FALSE(Overlap(shown[i], RectIn(d.window(), box_caption)))
          << "covers the caption of its box";
    }
  }
}

TEST_F(DialogViewTest, OpensWithTheDefaultsLaidOutAndEnterKeepsThem) {
  Block block;
  const Fields before = FieldsOf(block.data());
  auto look = [](DialogDriver& d) {
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d.window())), "Arduino");
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(d.window())));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(d.window())));
    // A run at another resolution asks for it through the X server's
    // resources, as a desktop does; the dialog must really see it.
    if (const char* dpi = std::getenv("ARDUINO_DIALOG_DPI")) {
      EXPECT_EQ(FontDpi(), std::atoi(dpi));
    }
    CheckLayout(d);
    const TArduinoDialog form;
    for (const TControl& c : form.Controls()) {
      if (c.Kind != TControlKind::kComboBox) continue;
      EXPECT_EQ(ItemCount(d, c.Name), static_cast<int>(c.Items.size())) << c.Name;
    }
    for (const auto& [name, shown] : testing::DefaultShown()) {
      EXPECT_EQ(Shown(d, name), shown) << name;
    }

    const char* shot = std::getenv("ARDUINO_DIALOG_SCREENSHOT");
    if (shot != nullptr) {
      GdkWindow* gdk_window = gtk_widget_get_window(d.window());
      GdkPixbuf* pixels = gdk_pixbuf_get_from_window(
          gdk_window, 0, 0, gdk_window_get_width(gdk_window), gdk_window_get_height(gdk_window));
      ASSERT_NE(pixels, nullptr);
      EXPECT_TRUE(gdk_pixbuf_save(pixels, shot, "png", nullptr, nullptr));
      g_object_unref(pixels);
    }
  };
  EXPECT_EQ(AfterDialog(block, {Do(look), Clicks("IPAddressEdit"), Presses({"Return"})}), before);
}

TEST_F(DialogViewTest, EnterInThePortEditStoresTheEditedAddressAndPort) {
  Block block;
  Fields expected = FieldsOf(block.data());
  expected.address = "10.1.2.3";
  expected.udp_port = 5000;
  EXPECT_EQ(AfterDialog(block, {Retypes("IPAddressEdit", "10.1.2.3"), Retypes("PortEdit", "5000"),
                                Do([](DialogDriver& d) {
                                  EXPECT_EQ(d.Text("PortEdit"), "5000");
                                  d.Keys({"Return"});
                                })}),
            expected);
}

// Enter presses the default button from a closed list or a radio button too,
// not only from an edit: it neither opens the list nor stays with the radio.
TEST_F(DialogViewTest, EnterOnAListOrARadioPressesOk) {
  struct Case {
    const char* focus;
    const char* change;       // a key that changes the focused control first
    void (*stored)(Fields&);  // what OK then stores
  };
  const Case cases[] = {
      {"A5Combobox", "Up", [](Fields& f) { f.analog_used[5] = 0; }},
      {"BaudCombobox", "Down", [](Fields& f) { f.baud_rate = 19200; }},
      {"RadioButton2", "space", [](Fields& f) { f.interface_kind = kInterfaceUsb; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.focus);
    Block block;
    Fields expected = FieldsOf(block.data());
    c.stored(expected);
    std::string focused;
    EXPECT_EQ(AfterDialog(block, {Do([&c](DialogDriver& d) {
                                    gtk_widget_grab_focus(d.Widget(c.focus));
                                    d.Keys({c.change});
                                  }),
                                  Do([&](DialogDriver& d) {
                                    focused = FocusedControl(d);
                                    d.Keys({"Return"});
                                  })}),
              expected);
    EXPECT_EQ(focused, c.focus);
  }
}

TEST_F(DialogViewTest, MouseAndKeysChangeInterfaceAndLists) {
  Block block;
  Fields expected = FieldsOf(block.data());
  expected.interface_kind = kInterfaceUsb;
  expected.analog_used[5] = 0;
  expected.baud_rate = 19200;
  EXPECT_EQ(AfterDialog(block, {Do([](DialogDriver& d) {
                                  d.Click("RadioButton2");
                                  // A list opens over its current item; Up picks the one above.
                                  d.Click("A5Combobox");
                                }),
                                Presses({"Up", "Return"}), Clicks("BaudCombobox"),
                                Presses({"Down", "Return"}), Clicks("OKButton")}),
            expected);
}

TEST_F(DialogViewTest, TabWalksTheFormsOrderAndSkipsTheUncheckedRadio) {
  Block block;
  std::vector<std::string> visited;
  std::vector<DialogDriver::Step> steps = {Clicks("IPAddressEdit")};
  for (int i = 0; i < 20; ++i) {
    steps.push_back(Do([&visited](DialogDriver& d) {
      visited.push_back(FocusedControl(d));
      d.Keys({"Tab"});
    }));
  }
  steps.push_back(Clicks("CancelButton"));
  AfterDialog(block, std::move(steps));
  const std::vector<std::string> expected = {
      "IPAddressEdit", "PortEdit",   "ComPortEdit", "BaudCombobox", "P2Combobox",
      "P3Combobox",    "P4Combobox", "P5Combobox",  "P6Combobox",   "P7Combobox",
      "P8Combobox",    "P9Combobox", "A0Combobox",  "A1Combobox",   "A2Combobox",
      "A3Combobox",    "A4Combobox", "A5Combobox",  "OKButton",     "CancelButton"};
  EXPECT_EQ(visited, expected);
}

TEST_F(DialogViewTest, EscapeLeavesItOpenAndCancelStoresNothing) {
  Block block;
  const Fields before = FieldsOf(block.data());
  EXPECT_EQ(AfterDialog(block, {Retypes("IPAddressEdit", "1.1.1.1"), Presses({"Escape"}),
                                Do([](DialogDriver& d) {
                                  EXPECT_TRUE(gtk_widget_get_visible(d.window()));
                                  EXPECT_EQ(d.Text("IPAddressEdit"), "1.1.1.1");
                                  d.Click("CancelButton");
                                })}),
            before);
}

// What a window manager sends when the user clicks the close box.
void PressCloseBox(DialogDriver& d) {
  Display* x = XOpenDisplay(nullptr);
  ASSERT_NE(x, nullptr);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = d.xid();
  event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, d.xid(), False, NoEventMask, &event);
  XCloseDisplay(x);
}

TEST_F(DialogViewTest, CloseBoxStoresNothing) {
  Block block;
  const Fields before = FieldsOf(block.data());
  EXPECT_EQ(AfterDialog(block, {Retypes("PortEdit", "4242"), Do(PressCloseBox)}), before);
}

// A project file may hold values the form does not offer.  The speed list
// keeps its four items and selects none for a stored speed it lacks, and
// Enter keeps that speed; an address longer than a line the file can be
// written with shows whole and is stored whole; the rest shows as near as
// the form can.
TEST_F(DialogViewTest, StoredValuesOutsideTheFormShowAndTheSpeedIsKept) {
  Block block;
  TUserData& data = block.data();
  data.InterfaceKind = 5;
  data.ComPort = 250;
  data.BaudRate = 12345;
  data.UdpPort = 70000;
  data.PinMode[2] = 3;
  data.AnalogUsed[0] = 2;
  // The longest address a project file's line can bring.
  data.IPAddress = std::string(999, '7');
  Fields expected = FieldsOf(data);
  expected.interface_kind = kInterfaceEthernet;  // neither radio shown; OK stores Ethernet
  expected.com_port = 100;                       // the spin buttons' end
  expected.pin_mode[0] = -1;                     // no item selected
  expected.analog_used[0] = -1;
  auto look = [](DialogDriver& d) {
    const std::pair<const char*, std::string> shown[] = {
        {"BaudCombobox", "<none>"}, {"RadioButton1", ""},
        {"RadioButton2", ""},       {"ComPortEdit", "100"},
        {"PortEdit", "70000"},      {"P2Combobox", "<none>"},
        {"A0Combobox", "<none>"},   {"IPAddressEdit", std::string(999, '7')}};
    for (const auto& [name, text] : shown) EXPECT_EQ(Shown(d, name), text) << name;
    EXPECT_EQ(ItemCount(d, "BaudCombobox"), 4);
    CheckLayout(d);
  };
  // The edit's limit stops typing beyond the stored text.
  auto type_beyond = [](DialogDriver& d) {
    d.Click("IPAddressEdit");
    d.Keys({"End"});
    d.Type("9");
  };
  auto kept_whole = [](DialogDriver& d) {
    EXPECT_EQ(d.Text("IPAddressEdit"), std::string(999, '7'));
    d.Keys({"Return"});
  };
  EXPECT_EQ(AfterDialog(block, {Do(look), Do(type_beyond), Do(kept_whole)}), expected);

  // Picking an offered speed replaces the stored one.
  auto picked = [](DialogDriver& d) { return ActiveItem(d, "BaudCombobox") == "9600 Baud"; };
  EXPECT_EQ(AfterDialog(block, {Clicks("BaudCombobox"), Presses({"Home", "Return"}), picked,
                                Clicks("IPAddressEdit"), Presses({"Return"})})
                .baud_rate,
            9600);
}

// blockhost asks how the dialog closed through the process environment; a
// host that does not ask finds nothing set.
struct FileState {
  bool exists = false;
  std::string bytes;
  timespec modified{};
};

FileState StateOf(const std::string& path) {
  FileState state;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return state;
  state.exists = true;
  gchar* bytes = nullptr;
  gsize size = 0;
  if (g_file_get_contents(path.c_str(), &bytes, &size, nullptr)) {
    state.bytes.assign(bytes, size);
    g_free(bytes);
  }
  state.modified = info.st_mtim;
  return state;
}

// `blockhost configure` in this process on the built module: exit 0 and the
// project written only on an OK that changed the settings; Cancel, or OK
// without a change, exits 10 and leaves a missing project missing and an
// existing one as it was, to the byte and the time.
TEST_F(DialogViewTest, BlockhostConfigureWritesOnlyWhatOkChanged) {
  const harness::TempDir scratch;
  const std::string& dir = scratch.path();
  blockhost::CommandLine line;
  line.command = "configure";
  line.library = ARDUINO_BLOCK_MODULE;
  line.project = dir + "/p.project";
  auto configure = [&line](std::vector<DialogDriver::Step> steps) {
    DialogDriver driver;
    for (DialogDriver::Step& step : steps) driver.Then(std::move(step));
    int status = -1;
    driver.RunWhile([&] { status = blockhost::ConfigureCommand(line); });
    return status;
  };
  auto retype_port = [](const char* port) { return Retypes("PortEdit", port); };
  const DialogDriver::Step cancel = Clicks("CancelButton");
  const DialogDriver::Step enter = Presses({"Return"});

  EXPECT_EQ(configure({retype_port("4242"), cancel}), blockhost::kExitCancelled);
  EXPECT_FALSE(StateOf(line.project).exists) << "Cancel created the project";
  EXPECT_EQ(configure({enter}), blockhost::kExitCancelled);
  EXPECT_FALSE(StateOf(line.project).exists) << "an OK that changed nothing created the project";

  EXPECT_EQ(configure({retype_port("4242"), enter}), blockhost::kExitOk);
  FileState saved = StateOf(line.project);
  ASSERT_TRUE(saved.exists);
  EXPECT_NE(saved.bytes.find("\r\n4242\r\n"), std::string::npos);

  const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, line.project.c_str(), long_ago, 0), 0);
  saved = StateOf(line.project);
  const struct {
    const char* what;
    std::vector<DialogDriver::Step> steps;
  } unchanged[] = {
      {"Cancel after an edit", {retype_port("5555"), cancel}},
      {"OK after an edit undone", {retype_port("5555"), retype_port("4242"), enter}},
      {"OK at once", {enter}},
  };
  for (const auto& c : unchanged) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(configure(c.steps), blockhost::kExitCancelled);
    const FileState after = StateOf(line.project);
    EXPECT_EQ(after.bytes, saved.bytes);
    EXPECT_EQ(after.modified.tv_sec, saved.modified.tv_sec) << "the project was rewritten";
    EXPECT_EQ(after.modified.tv_nsec, saved.modified.tv_nsec);
  }

  EXPECT_EQ(configure({retype_port("5555"), enter}), blockhost::kExitOk);
  EXPECT_NE(StateOf(line.project).bytes.find("\r\n5555\r\n"), std::string::npos);
}

TEST_F(DialogViewTest, UpDownKeysAndArrowsStepTheComPort) {
  Block block;
  block.data().ComPort = 98;
  std::vector<std::string> shown;
  const std::function<void(DialogDriver&)> moves[] = {
      [](DialogDriver& d) { d.Keys({"Up"}); },
      [](DialogDriver& d) {
        d.Keys({"Up", "Up"});
      },
      // The lower half of the spin is its down arrow.
      [](DialogDriver& d) { d.Click("UpDown1", 8, 16); },
      [](DialogDriver& d) { d.Keys({"Down"}); },
      [](DialogDriver& d) { d.Click("UpDown1", 8, 4); },
      [](DialogDriver& d) { d.Retype("ComPortEdit", "abc"); },
  };
  std::vector<DialogDriver::Step> steps = {Clicks("ComPortEdit")};
  for (const auto& move : moves) {
    steps.push_back(Do([&shown, move](DialogDriver& d) {
      shown.push_back(d.Text("ComPortEdit"));
      move(d);
    }));
  }
  steps.push_back(Presses({"Return"}));
  // "abc" is no number, so the spin keeps its last position.
  EXPECT_EQ(AfterDialog(block, std::move(steps)).com_port, 99);
  EXPECT_EQ(shown, (std::vector<std::string>{"98", "99", "100", "99", "98", "99"}));
}

// Idle work of the host that always asks to run again, as a GTK host's
// background job does; it counts its turns.
struct BusyIdle {
  int runs = 0;
  guint source = 0;
  guint watchdog = 0;
  bool gave_up = false;

  void Start() {
    source = g_idle_add(
        [](gpointer self) {
          ++static_cast<BusyIdle*>(self)->runs;
          return gboolean{G_SOURCE_CONTINUE};
        },
        this);
    // Should the call not come back, the idle work goes away after a while,
    // so that the test fails instead of hanging.  Above the idle's priority,
    // or it would never run.
    watchdog = g_timeout_add_full(
        G_PRIORITY_HIGH, 15000,
        [](gpointer data) {
          auto* self = static_cast<BusyIdle*>(data);
          self->gave_up = true;
          self->watchdog = 0;
          self->Stop();
          return gboolean{G_SOURCE_REMOVE};
        },
        this, nullptr);
  }
  void Stop() {
    if (source != 0) g_source_remove(source);
    source = 0;
  }
  ~BusyIdle() {
    Stop();
    if (watchdog != 0) g_source_remove(watchdog);
  }
};

TEST_F(DialogViewTest, ComesBackWhileTheHostsIdleWorkKeepsAskingToRun) {
  Block block;
  Fields expected = FieldsOf(block.data());
  expected.interface_kind = kInterfaceUsb;
  BusyIdle idle;
  // The idle work starves the driver's own steps, so the last step starts
  // it and clicks OK, whose press arrives as an X event above idle priority.
  EXPECT_EQ(AfterDialog(block, {Clicks("RadioButton2"), Do([&idle](DialogDriver& d) {
                                  idle.Start();
                                  d.Click("OKButton");
                                })}),
            expected);
  EXPECT_FALSE(idle.gave_up) << "the dialog's call came back only once the idle work was gone";
  EXPECT_GT(idle.runs, 0) << "the host's idle work never ran while the dialog was open";
}

#if defined(__x86_64__) || defined(__i386__)

struct FloatControl {
  uint16_t x87 = 0;
  uint32_t mxcsr = 0;
  bool operator==(const FloatControl&) const = default;
};

FloatControl CurrentFloatControl() {
  FloatControl control;
  asm volatile("fnstcw %0" : "=m"(control.x87));
  asm volatile("stmxcsr %0" : "=m"(control.mxcsr));
  return control;
}

// The host's code that the dialog's modal loop runs (here the driver's own
// steps, a GLib timeout of the host's) sees the host's floating-point state,
// not the block's: a host that unmasks exceptions, as Object Pascal does,
// must get them in its own handlers.
TEST_F(DialogViewTest, HostCodeRunsUnderTheHostsFloatingPointStateWhileItIsOpen) {
  Block block;
  std::vector<FloatControl> seen;
  DialogDriver driver;
  driver
      .Then(Do([&seen](DialogDriver& d) {
        seen.push_back(CurrentFloatControl());
        d.Click("RadioButton2");
      }))
      .Then(Do([&seen](DialogDriver& d) {
        seen.push_back(CurrentFloatControl());
        d.Click("OKButton");
      }));
  // A lower precision and the three traps of a Pascal host.
  fpu_control_t control;
  _FPU_GETCW(control);
  fpu_control_t lowered = (control & ~_FPU_EXTENDED) | _FPU_DOUBLE;
  _FPU_SETCW(lowered);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  const FloatControl host = CurrentFloatControl();
  driver.Run(block.record());
  const FloatControl after = CurrentFloatControl();
  fedisableexcept(FE_ALL_EXCEPT);
  _FPU_SETCW(control);
  ASSERT_EQ(seen.size(), 2u);
  for (const FloatControl& state : seen) EXPECT_EQ(state, host);
  EXPECT_EQ(after, host);
  EXPECT_EQ(block.data().InterfaceKind, kInterfaceUsb);
}

#endif

TEST_F(DialogViewTest, StaysAboveTheHostsWindow) {
  Display* x = XOpenDisplay(nullptr);
  ASSERT_NE(x, nullptr);
  Window owner = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 200, 100, 0, 0, 0);
  XMapWindow(x, owner);
  XSync(x, False);
  {
    Block block(static_cast<uint32_t>(owner));
    Window transient_for = 0;
    AfterDialog(block, {Do([&](DialogDriver& d) {
                  XGetTransientForHint(x, d.xid(), &transient_for);
                  d.Click("CancelButton");
                })});
    EXPECT_EQ(transient_for, owner);
  }
  XDestroyWindow(x, owner);
  XCloseDisplay(x);
}

// The busy cursor of CanSimulateDLL shows on the host's window while a
// display is open, and the window's own cursor comes back afterwards.  The
// pointer rests on the host's window, so the cursor the server shows is
// that window's.
TEST_F(DialogViewTest, BusyCursorShowsOnTheHostsWindow) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));  // as a GTK host would have
  Display* x = XOpenDisplay(nullptr);
  ASSERT_NE(x, nullptr);
  Window owner = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 300, 200, 0, 0, 0);
  XMapWindow(x, owner);
  XSync(x, False);
  XWarpPointer(x, None, owner, 0, 0, 0, 0, 50, 50);
  XSync(x, False);
  auto shown_cursor = [&] {
    usleep(50 * 1000);  // GDK talks to the server on a connection of its own
    XFixesCursorImage* image = XFixesGetCursorImage(x);
    unsigned long serial = image->cursor_serial;
    XFree(image);
    return serial;
  };
  {
    Block block(static_cast<uint32_t>(owner));
    unsigned long before = shown_cursor();
    Application().SetCursor(crHourGlass);
    unsigned long busy = shown_cursor();
    Application().SetCursor(crDefault);
    unsigned long after = shown_cursor();
    EXPECT_NE(busy, before) << "no busy cursor on the host's window";
    EXPECT_EQ(after, before) << "the window's own cursor did not come back";
  }
  XDestroyWindow(x, owner);
  XCloseDisplay(x);
}

// Run with DISPLAY empty: the export must say why and change nothing.
TEST(DialogWithoutDisplayTest, SaysSoAndChangesNothing) {
  if (std::getenv("ARDUINO_DIALOG_NO_DISPLAY") == nullptr) {
    GTEST_SKIP() << "runs only with ARDUINO_DIALOG_NO_DISPLAY set and no display";
  }
  Block block;
  block.data().IPAddress = "10.9.8.7";
  Fields before = FieldsOf(block.data());
  ::testing::internal::CaptureStderr();
  CallParameterDialogDLL(block.record(), 0);
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "Arduino settings dialog: no display available; settings unchanged\n");
  EXPECT_EQ(FieldsOf(block.data()), before);
}

}  // namespace
}  // namespace arduino

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new arduino::XEnvironment);
  return RUN_ALL_TESTS();
}
