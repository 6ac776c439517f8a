// The busy cursor on Linux.  There is no application-wide cursor there; the
// nearest thing is the cursor of the host's own window, which GDK can set on
// a window of another toolkit by its X11 id.  It is done only when a display
// is already open (the host is a GTK program, or the settings dialog has
// started GTK): opening one just to show a cursor would cost more than the
// probe it decorates.
#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "base/application.h"

namespace arduino {

void TApplication::ShowCursor(int cursor) {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (owner_window_ == 0 || display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
  // A window id that names no window yields no foreign window; then there
  // is nothing to decorate.
  GdkWindow* owner = gdk_x11_window_foreign_new_for_display(display, owner_window_);
  if (owner == nullptr) return;
  GdkCursor* busy =
      cursor == crHourGlass ? gdk_cursor_new_for_display(display, GDK_WATCH) : nullptr;
  gdk_window_set_cursor(owner, busy);  // nullptr gives the window its default back
  gdk_display_flush(display);
  if (busy != nullptr) g_object_unref(busy);
  g_object_unref(owner);
#else
  (void)cursor;
#endif
}

}  // namespace arduino
