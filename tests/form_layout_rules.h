// What the user sees of the dialog's layout, whatever the fonts, checked the
// same way for either view: every control at the form's top edge, scaled to
// the screen; the controls that start a row at the form's left edge, the
// others no further left; every control at least its slot (a label may be
// narrower, its caption is measured by the view's own test); neighbours in a
// row apart as far as the form has them, or a few pixels at least; no two
// controls on top of each other; every control inside its box and the
// window.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/ArduinoDlg.h"
#include "config/form_layout.h"

namespace arduino::testing {

inline std::string ShowPlace(const TPlace& p) {
  return std::to_string(p.Left) + "," + std::to_string(p.Top) + " " + std::to_string(p.Width) +
         "x" + std::to_string(p.Height);
}

inline bool PlacesOverlap(const TPlace& a, const TPlace& b) {
  return a.Left < b.Right() && b.Left < a.Right() && a.Top < b.Bottom() && b.Top < a.Bottom();
}

inline bool PlaceInside(const TPlace& inner, const TPlace& outer) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right() <= outer.Right() &&
         inner.Bottom() <= outer.Bottom();
}

// `shown` holds each control's rectangle in the client area, in the order
// of the form's controls; `client` is the client area's size.
inline void ExpectFormLayoutRules(const std::vector<TPlace>& shown, TSize client, int dpi) {
  const TArduinoDialog form;
  const std::vector<TControl>& controls = form.Controls();
  ASSERT_EQ(shown.size(), controls.size());
  EXPECT_GE(client.Width, ScaleToDpi(TArduinoDialog::kClientWidth, dpi));
  EXPECT_GE(client.Height, ScaleToDpi(TArduinoDialog::kClientHeight, dpi));
  const TPlace window{0, 0, client.Width, client.Height};
  for (size_t i = 0; i < controls.size(); ++i) {
    const TControl& c = controls[i];
    SCOPED_TRACE(c.Name + " at " + ShowPlace(shown[i]));
    const TPlace f = FormPlace(form, c);
    const TPlace slot = ScalePlace(f, dpi);
    bool starts_row = true;
    for (size_t j = 0; j < controls.size(); ++j) {
      const TPlace o = FormPlace(form, controls[j]);
      if (controls[j].Parent != c.Parent || o.Right() > f.Left || o.Top >= f.Bottom() ||
          f.Top >= o.Bottom()) {
        continue;
      }
      starts_row = false;
      const int gap = std::min(slot.Left - ScaleToDpi(o.Right(), dpi), ScaleToDpi(3, dpi));
      EXPECT_GE(shown[i].Left - shown[j].Right(), gap)
          << "too close to " << controls[j].Name << " at " << ShowPlace(shown[j]);
    }
    EXPECT_EQ(shown[i].Top, slot.Top);
    if (starts_row) {
      EXPECT_EQ(shown[i].Left, slot.Left);
    } else {
      EXPECT_GE(shown[i].Left, slot.Left);
    }
    if (c.Kind != TControlKind::kLabel) {
      EXPECT_GE(shown[i].Width, slot.Width);
      EXPECT_GE(shown[i].Height, slot.Height);
    }
    EXPECT_TRUE(PlaceInside(shown[i], window));
    if (!c.Parent.empty()) {
      const size_t box = static_cast<size_t>(&form.Control(c.Parent) - controls.data());
      const TPlace inner{shown[box].Left + 1, shown[box].Top + 1, shown[box].Width - 2,
                         shown[box].Height - 2};
      EXPECT_TRUE(PlaceInside(shown[i], inner)) << "outside its box " << ShowPlace(shown[box]);
    }
    for (size_t j = i + 1; j < controls.size(); ++j) {
      if (controls[j].Parent == c.Name || c.Parent == controls[j].Name) continue;
      EXPECT_FALSE(PlacesOverlap(shown[i], shown[j]))
          << "overlaps " << controls[j].Name << " at " << ShowPlace(shown[j]);
    }
  }
}

}  // namespace arduino::testing
