// Fits the dialog's form to a screen: scales the form's pixel positions to
// the screen's resolution and makes room for widgets that need more than
// their slot, which happens whenever the font in use runs wider than the one
// the form was drawn with.  Portable, so that the rules are tested without a
// display; a view measures its widgets and places them where this says.
#pragma once

#include <vector>

#include "config/ArduinoDlg.h"

namespace arduino {

// Positions and sizes are laid out for this resolution; other screens scale.
constexpr int kFormDpi = 96;

// A length of the form, in pixels at kFormDpi, on a screen of `dpi`, rounded
// to the nearest pixel as the Windows view's MulDiv rounds.
int ScaleToDpi(int pixels, int dpi);

struct TSize {
  int Width = 0;
  int Height = 0;
};

// A control's rectangle in the client area of the dialog, whatever container
// holds it.
struct TPlace {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
};

// Where the form puts `control` in the dialog's client area, in pixels at
// kFormDpi: its own position plus its container's.
TPlace FormPlace(const TArduinoDialog& form, const TControl& control);
// A client-area rectangle on a screen of `dpi`: each edge scaled, so that
// neighbours that touch on the form touch on every screen.
TPlace ScalePlace(const TPlace& place, int dpi);

struct TFormLayout {
  std::vector<TPlace> Places;  // one per control, in the order of Controls()
  int ClientWidth = 0;
  int ClientHeight = 0;
};

// The layout of `form` on a screen of `dpi` when control i needs at least
// `needed[i]` (missing entries need nothing beyond the form's size).  Every
// control keeps the form's top edge, and its left edge unless a control to
// its left in the same row grew into it; a control that needs more than its
// slot grows to the right and down, first into the free space beside it
// (keeping a small gap) and then by pushing its neighbours, the controls in
// their column and, at last, its container and the dialog wider.  Controls
// that share a left or a right edge on the form keep sharing it, so columns
// stay straight.  Both views place their controls by it.
TFormLayout LayOutForm(const TArduinoDialog& form, int dpi, const std::vector<TSize>& needed);

}  // namespace arduino
