// The settings dialog on Linux, built with GTK 3.  Every control sits in one
// GtkFixed at the pixel position the form description gives it, scaled to
// the screen's font resolution; a group box is a frame drawn behind its
// controls, which are placed in the same GtkFixed at the box's offset.  The
// widgets are measured before they are placed, so that a font wider than the
// form's makes the dialog grow instead of cutting captions short.
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "base/application.h"
#include "base/float_state.h"
#include "block/user_data.h"
#include "config/ArduinoDlg.h"
#include "config/form_layout.h"

namespace arduino {
namespace {

constexpr const char* kWindowName = "TArduinoDialog";

// The form's look: button-face grey, the small dialog font (with close
// sans-serif stand-ins where the original face is missing; Liberation Sans
// has the metrics of Arial, DejaVu Sans, all a bare Debian has, runs wider)
// and padding tight enough that each widget fits the pixel size the form
// gives it in a font of the original's metrics.
constexpr const char* kStyle =
    "#TArduinoDialog { background-color: #f0f0f0; }"
    "#TArduinoDialog * { font-family: \"MS Sans Serif\", \"Liberation Sans\", \"Arial\","
    "  \"DejaVu Sans\", sans-serif; font-size: 8pt; }"
    "#TArduinoDialog entry { min-height: 0; min-width: 0; padding: 0 3px; }"
    "#TArduinoDialog button { min-height: 0; min-width: 0; padding: 0 2px; }"
    "#TArduinoDialog combobox button { padding: 0 2px 0 4px; }"
    "#TArduinoDialog combobox arrow { min-width: 12px; min-height: 12px; }"
    "#TArduinoDialog #UpDown1 button { padding: 0; }"
    "#TArduinoDialog radiobutton { min-height: 0; padding: 0; }"
    "#TArduinoDialog radiobutton radio { min-width: 14px; min-height: 14px; margin: 0 4px 0 0; }"
    "#TArduinoDialog frame > border { border-color: #a0a0a0; }"
    "#TArduinoDialog frame > label { margin-left: 6px; margin-right: 2px; }";

// The style for a screen of `dpi`: every length in pixels scales as the
// form's positions do (the font's points scale by themselves).
std::string StyleFor(int dpi) {
  const std::string style = kStyle;
  std::string scaled;
  size_t i = 0;
  while (i < style.size()) {
    size_t digits = i;
    while (digits < style.size() && style[digits] >= '0' && style[digits] <= '9') ++digits;
    if (digits > i && style.compare(digits, 2, "px") == 0) {
      scaled += std::to_string(ScaleToDpi(std::stoi(style.substr(i, digits - i)), dpi));
      i = digits;
    } else if (digits > i) {
      scaled.append(style, i, digits - i);
      i = digits;
    } else {
      scaled += style[i++];
    }
  }
  return scaled;
}

// One open dialog: the form it shows, its widgets by control name and how
// it ended.
struct TView {
  TArduinoDialog form;
  int dpi = kFormDpi;  // the screen's font resolution
  GtkWidget* window = nullptr;
  GtkWidget* fixed = nullptr;
  // GTK radio groups always have one button on; this hidden member is on
  // when the form shows neither interface checked.
  GtkWidget* no_radio = nullptr;
  std::map<std::string, GtkWidget*> widgets;
  TModalResult result = TModalResult::kNone;
  GMainLoop* loop = nullptr;
  // Set while the view writes the COM port edit itself, so that the edit's
  // change handler does not read its own text back.
  bool writing_com_port = false;

  GtkWidget* Widget(const char* name) const { return widgets.at(name); }
  void Close(TModalResult how) {
    result = how;
    if (g_main_loop_is_running(loop)) g_main_loop_quit(loop);
  }
};

// The font's resolution, which is the screen's DPI as the desktop sets it
// (Xft.dpi); the form's pixels scale by it as the Windows view's do.
int FontDpi(GdkScreen* screen) {
  double dpi = gdk_screen_get_resolution(screen);
  return dpi > 0 ? static_cast<int>(std::lround(dpi)) : kFormDpi;
}

// Widgets go into the GtkFixed unplaced and unsized, so that what they need
// for their captions in the font in use can be measured first.
void Add(TView& view, GtkWidget* widget, const TControl& control) {
  gtk_widget_set_name(widget, control.Name.c_str());
  gtk_fixed_put(GTK_FIXED(view.fixed), widget, 0, 0);
  view.widgets[control.Name] = widget;
}

// Every control at its place on this screen, larger where its widget needs
// more than the form gives it.
void PlaceControls(TView& view) {
  const std::vector<TControl>& controls = view.form.Controls();
  // A hidden widget needs no room at all; the window itself stays hidden
  // until it is placed.
  gtk_widget_show_all(view.fixed);
  std::vector<TSize> needed(controls.size());
  for (size_t i = 0; i < controls.size(); ++i) {
    GtkWidget* widget = view.Widget(controls[i].Name.c_str());
    gtk_widget_get_preferred_width(widget, &needed[i].Width, nullptr);
    gtk_widget_get_preferred_height(widget, &needed[i].Height, nullptr);
  }
  TFormLayout layout = LayOutForm(view.form, view.dpi, needed);
  for (size_t i = 0; i < controls.size(); ++i) {
    GtkWidget* widget = view.Widget(controls[i].Name.c_str());
    const TPlace& place = layout.Places[i];
    gtk_widget_set_size_request(widget, place.Width, place.Height);
    gtk_fixed_move(GTK_FIXED(view.fixed), widget, place.Left, place.Top);
  }
  gtk_widget_set_size_request(view.fixed, layout.ClientWidth, layout.ClientHeight);
}

void ShowComPort(TView& view) {
  view.writing_com_port = true;
  gtk_entry_set_text(GTK_ENTRY(view.Widget("ComPortEdit")), view.form.ComPortText().c_str());
  view.writing_com_port = false;
}

void OnComPortChanged(GtkEditable* editable, gpointer data) {
  auto* view = static_cast<TView*>(data);
  if (view->writing_com_port) return;
  view->form.SetComPortText(gtk_entry_get_text(GTK_ENTRY(editable)));
}

gboolean OnComPortKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto* view = static_cast<TView*>(data);
  switch (event->keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      view->form.StepUp();
      break;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      view->form.StepDown();
      break;
    default:
      return FALSE;
  }
  ShowComPort(*view);
  return TRUE;
}

// Enter presses the default button from a closed list and from a radio
// button as it does from an edit; GTK would open the list or keep the key
// for the radio.  An open list's items are in a window of their own and
// still take Enter there.  A focused push button keeps Enter for itself.
gboolean OnWindowKey(GtkWidget* window, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter &&
      event->keyval != GDK_KEY_ISO_Enter) {
    return FALSE;
  }
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
  if (focus == nullptr) return FALSE;
  if (!GTK_IS_RADIO_BUTTON(focus) &&
      gtk_widget_get_ancestor(focus, GTK_TYPE_COMBO_BOX) == nullptr) {
    return FALSE;
  }
  // Not gtk_window_activate_default, which hands the key back to a focused
  // button that receives the default itself, as a list's inner button does.
  GtkWidget* ok = gtk_window_get_default_widget(GTK_WINDOW(window));
  return ok != nullptr && gtk_widget_is_sensitive(ok) && gtk_widget_activate(ok);
}

GtkWidget* MakeButton(TView& view, const TControl& control) {
  GtkWidget* button = gtk_button_new_with_label(control.Caption.c_str());
  TModalResult result = control.ModalResult;
  g_object_set_data(G_OBJECT(button), "modal-result", GINT_TO_POINTER(static_cast<int>(result)));
  g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer data) {
                     auto how = static_cast<TModalResult>(
                         GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "modal-result")));
                     static_cast<TView*>(data)->Close(how);
                   }),
                   &view);
  return button;
}

// Two stacked arrow buttons beside the COM port edit; neither takes the
// focus, as the keyboard reaches them through the edit's Up and Down keys.
GtkWidget* MakeUpDown(TView& view, const TControl& control) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_set_homogeneous(GTK_BOX(box), TRUE);
  struct Arrow {
    const char* icon;
    void (*step)(TView&);
  };
  const Arrow arrows[] = {{"pan-up-symbolic", [](TView& v) { v.form.StepUp(); }},
                          {"pan-down-symbolic", [](TView& v) { v.form.StepDown(); }}};
  for (const Arrow& arrow : arrows) {
    // A small arrow, as the standard icon would not fit half the edit's
    // height.
    GtkWidget* image = gtk_image_new_from_icon_name(arrow.icon, GTK_ICON_SIZE_MENU);
    gtk_image_set_pixel_size(GTK_IMAGE(image), ScaleToDpi(6, view.dpi));
    GtkWidget* button = gtk_button_new();
    gtk_button_set_image(GTK_BUTTON(button), image);
    gtk_widget_set_can_focus(button, FALSE);
    g_object_set_data(G_OBJECT(button), "step", reinterpret_cast<gpointer>(arrow.step));
    g_signal_connect(
        button, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer data) {
          auto step = reinterpret_cast<void (*)(TView&)>(g_object_get_data(G_OBJECT(b), "step"));
          auto* v = static_cast<TView*>(data);
          step(*v);
          ShowComPort(*v);
        }),
        &view);
    gtk_box_pack_start(GTK_BOX(box), button, TRUE, TRUE, 0);
  }
  return box;
}

// An edit's limit stops the user typing beyond it, but must never cut a
// longer text that the block brought from its project file, and GTK cuts
// the text to the limit whenever either is set.  So the limit follows the
// text down to the form's own and never stands below what the edit holds.
void KeepLimitAtLeastTheText(GtkEditable* editable, gpointer form_limit) {
  GtkEntry* entry = GTK_ENTRY(editable);
  const int limit =
      std::max(GPOINTER_TO_INT(form_limit), static_cast<int>(gtk_entry_get_text_length(entry)));
  if (gtk_entry_get_max_length(entry) != limit) gtk_entry_set_max_length(entry, limit);
}

GtkWidget* MakeControl(TView& view, const TControl& control) {
  switch (control.Kind) {
    case TControlKind::kButton:
      return MakeButton(view, control);
    case TControlKind::kGroupBox:
      return gtk_frame_new(control.Caption.c_str());
    case TControlKind::kRadioButton: {
      GtkWidget* radio = gtk_radio_button_new_with_label_from_widget(
          GTK_RADIO_BUTTON(view.no_radio), control.Caption.c_str());
      return radio;
    }
    case TControlKind::kLabel: {
      GtkWidget* label = gtk_label_new(control.Caption.c_str());
      gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
      gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
      return label;
    }
    case TControlKind::kEdit: {
      GtkWidget* entry = gtk_entry_new();
      // The entry's own minimum width would override the form's sizes.
      gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
      gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
      if (control.MaxLength > 0) {
        g_signal_connect(entry, "changed", G_CALLBACK(KeepLimitAtLeastTheText),
                         GINT_TO_POINTER(control.MaxLength));
        KeepLimitAtLeastTheText(GTK_EDITABLE(entry), GINT_TO_POINTER(control.MaxLength));
      }
      return entry;
    }
    case TControlKind::kUpDown:
      return MakeUpDown(view, control);
    case TControlKind::kComboBox: {
      GtkWidget* combo = gtk_combo_box_text_new();
      for (const std::string& item : control.Items) {
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), item.c_str());
      }
      return combo;
    }
  }
  return nullptr;
}

// The keyboard walks the controls in the form's tab order, container by
// container, rather than in GTK's geometric order.
void SetTabOrder(TView& view) {
  GList* chain = nullptr;
  for (const TControl* top : view.form.TabSequence("")) {
    if (top->Kind != TControlKind::kGroupBox) {
      chain = g_list_append(chain, view.Widget(top->Name.c_str()));
      continue;
    }
    for (const TControl* inner : view.form.TabSequence(top->Name)) {
      if (inner->TabStop) chain = g_list_append(chain, view.Widget(inner->Name.c_str()));
    }
  }
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(view.fixed), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);
}

// Shows a text in an edit whole, whatever the edit's limit, which then
// stops typing beyond the longer of the two.
void ShowEditText(TView& view, const char* name, const std::string& text) {
  GtkEntry* entry = GTK_ENTRY(view.Widget(name));
  gtk_entry_set_max_length(entry, 0);
  gtk_entry_set_text(entry, text.c_str());
  const int form_limit = view.form.Control(name).MaxLength;
  if (form_limit > 0) KeepLimitAtLeastTheText(GTK_EDITABLE(entry), GINT_TO_POINTER(form_limit));
}

void ShowForm(TView& view) {
  const TArduinoDialog& f = view.form;
  GtkWidget* checked = f.EthernetChecked ? view.Widget("RadioButton1")
                       : f.UsbChecked    ? view.Widget("RadioButton2")
                                         : view.no_radio;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checked), TRUE);
  ShowEditText(view, "IPAddressEdit", f.IPAddressText);
  ShowEditText(view, "PortEdit", f.PortText);
  ShowComPort(view);
  gtk_combo_box_set_active(GTK_COMBO_BOX(view.Widget("BaudCombobox")), f.BaudIndex);
  for (int row = 0; row < kDigitalPins; ++row) {
    gtk_combo_box_set_active(GTK_COMBO_BOX(view.Widget(kPinComboNames[row])), f.PinIndex[row]);
  }
  for (int k = 0; k < kAnalogInputs; ++k) {
    gtk_combo_box_set_active(GTK_COMBO_BOX(view.Widget(kAnalogComboNames[k])), f.AnalogIndex[k]);
  }
}

void ReadForm(TView& view) {
  TArduinoDialog& f = view.form;
  auto active = [&](const char* name) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(view.Widget(name))) != FALSE;
  };
  auto text = [&](const char* name) {
    return std::string(gtk_entry_get_text(GTK_ENTRY(view.Widget(name))));
  };
  auto index = [&](const char* name) {
    return gtk_combo_box_get_active(GTK_COMBO_BOX(view.Widget(name)));
  };
  f.EthernetChecked = active("RadioButton1");
  f.UsbChecked = active("RadioButton2");
  f.IPAddressText = text("IPAddressEdit");
  f.PortText = text("PortEdit");
  f.SetComPortText(text("ComPortEdit"));
  f.BaudIndex = index("BaudCombobox");
  for (int row = 0; row < kDigitalPins; ++row) f.PinIndex[row] = index(kPinComboNames[row]);
  for (int k = 0; k < kAnalogInputs; ++k) f.AnalogIndex[k] = index(kAnalogComboNames[k]);
}

void BuildWindow(TView& view) {
  view.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(view.window);
  gtk_widget_set_name(view.window, kWindowName);
  gtk_window_set_title(window, TArduinoDialog::kCaption);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_skip_taskbar_hint(window, TRUE);

  view.fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(view.window), view.fixed);

  view.no_radio = g_object_ref_sink(gtk_radio_button_new(nullptr));
  for (const TControl& control : view.form.Controls()) {
    Add(view, MakeControl(view, control), control);
  }
  PlaceControls(view);
  GtkWidget* ok = view.Widget("OKButton");
  gtk_widget_set_can_default(ok, TRUE);
  gtk_window_set_default(window, ok);
  g_signal_connect(view.window, "key-press-event", G_CALLBACK(OnWindowKey), nullptr);
  GtkWidget* com_port = view.Widget("ComPortEdit");
  g_signal_connect(com_port, "changed", G_CALLBACK(OnComPortChanged), &view);
  g_signal_connect(com_port, "key-press-event", G_CALLBACK(OnComPortKey), &view);
  SetTabOrder(view);

  // Should the window go away by other means, the dialog ends as cancelled
  // instead of waiting for a window that is no more.
  g_signal_connect(view.window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer d) {
                     auto* v = static_cast<TView*>(d);
                     v->window = nullptr;
                     if (v->result == TModalResult::kNone) v->Close(TModalResult::kCancel);
                   }),
                   &view);
  // The close box cancels; the window is destroyed by whoever opened it.
  g_signal_connect(view.window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer d) {
                     static_cast<TView*>(d)->Close(TModalResult::kCancel);
                     return gboolean{TRUE};
                   }),
                   &view);
}

// A frame with a title and a close box only, tied to the host's window so
// that it stays above it.
void ConfigureFrame(TView& view) {
  gtk_widget_realize(view.window);
  GdkWindow* gdk_window = gtk_widget_get_window(view.window);
  gdk_window_set_functions(gdk_window, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(gdk_window, static_cast<GdkWMDecoration>(
                                             GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
#ifdef GDK_WINDOWING_X11
  uint32_t owner = Application().OwnerWindow();
  GdkDisplay* display = gtk_widget_get_display(view.window);
  if (owner != 0 && GDK_IS_X11_DISPLAY(display)) {
    // A window id that names no window yields no foreign window; the dialog
    // then simply has no owner.
    GdkWindow* foreign = gdk_x11_window_foreign_new_for_display(display, owner);
    if (foreign != nullptr) {
      gdk_window_set_transient_for(gdk_window, foreign);
      g_object_unref(foreign);
    }
  }
#endif
}

// The states that GDK's own work interrupted, innermost last.
std::vector<FloatEnvironment> g_states_outside_gdk;

// GDK and GTK compute with floating point while they translate events and
// draw (an input device's axis of zero range divides by zero), and trap on
// it under a host's unmasked exceptions.  So their own work runs under the
// block's state wherever it is dispatched, the dialog's modal loop included,
// which otherwise runs the host's sources under the host's state.  GDK
// brackets that work with its thread lock, whose two functions are ours.
void EnterGdk() {
  g_states_outside_gdk.emplace_back();
  SaveFloatEnvironment(&g_states_outside_gdk.back());
  EnterBlockFloatState();
}

void LeaveGdk() {
  // gtk_main leaves the lock of a caller that is not there.
  if (g_states_outside_gdk.empty()) return;
  LoadFloatEnvironment(g_states_outside_gdk.back());
  g_states_outside_gdk.pop_back();
}

// GTK is started on first use, so the library works whether or not the host
// is a GTK program.  GTK must not switch the host's locale on the way.  A
// host that started GTK itself runs GDK under its own state in its own loop
// too, and keeps its own lock functions.
bool StartGtk() {
  static bool prepared = [] {
    gtk_disable_setlocale();
    if (gdk_display_get_default() == nullptr) {
      G_GNUC_BEGIN_IGNORE_DEPRECATIONS
      gdk_threads_set_lock_functions(G_CALLBACK(EnterGdk), G_CALLBACK(LeaveGdk));
      G_GNUC_END_IGNORE_DEPRECATIONS
    }
    return true;
  }();
  (void)prepared;
  return gtk_init_check(nullptr, nullptr) != FALSE;
}

// The style applies to this dialog only, by name, and is withdrawn when the
// dialog closes.
class TScopedStyle {
 public:
  TScopedStyle() : provider_(gtk_css_provider_new()), screen_(gdk_screen_get_default()) {
    const std::string style = StyleFor(FontDpi(screen_));
    gtk_css_provider_load_from_data(provider_, style.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen_, GTK_STYLE_PROVIDER(provider_),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  ~TScopedStyle() {
    gtk_style_context_remove_provider_for_screen(screen_, GTK_STYLE_PROVIDER(provider_));
    g_object_unref(provider_);
  }
  TScopedStyle(const TScopedStyle&) = delete;
  TScopedStyle& operator=(const TScopedStyle&) = delete;

 private:
  GtkCssProvider* provider_;
  GdkScreen* screen_;
};

// Frees everything the dialog made, also when filling or storing raises.
class TViewCleanup {
 public:
  explicit TViewCleanup(TView& view) : view_(view) {}
  ~TViewCleanup() {
    if (view_.window != nullptr) gtk_widget_destroy(view_.window);
    if (view_.no_radio != nullptr) g_object_unref(view_.no_radio);
    if (view_.loop != nullptr) g_main_loop_unref(view_.loop);
    // Let the X server see the window go before control returns to a host
    // that may not run a GLib loop of its own.  One bounded pass of the
    // pump, as the waits run: flushing until nothing is pending would never
    // end while the host has idle work that always asks to run again.
    Application().ProcessMessages();
  }
  TViewCleanup(const TViewCleanup&) = delete;
  TViewCleanup& operator=(const TViewCleanup&) = delete;

 private:
  TView& view_;
};

}  // namespace

void RunParameterDialog(TUserData& user_data) {
  if (!StartGtk()) {
    std::fputs("Arduino settings dialog: no display available; settings unchanged\n", stderr);
    return;
  }
  TScopedStyle style;
  TView view;
  view.dpi = FontDpi(gdk_screen_get_default());
  TViewCleanup cleanup(view);
  view.form.Fill(user_data);
  BuildWindow(view);
  ShowForm(view);
  ConfigureFrame(view);
  view.loop = g_main_loop_new(nullptr, FALSE);
  gtk_widget_show_all(view.window);
  gtk_window_present(GTK_WINDOW(view.window));
  {
    // The loop runs every source of the thread's context, the host's among
    // them, so it runs under the host's floating-point state.  GDK's own
    // work, and with it the dialog's handlers, which it calls, goes back to
    // the block's state through GDK's lock (EnterGdk).
    HostCodeScope host_code;
    g_main_loop_run(view.loop);
  }
  if (view.result != TModalResult::kOk || view.window == nullptr) return;
  ReadForm(view);
  view.form.Store(user_data);
}

}  // namespace arduino
