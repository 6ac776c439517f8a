#include "config/form_layout.h"

#include <algorithm>
#include <cstdint>

namespace arduino {
namespace {

// The least space kept between a grown control and its neighbour, or the
// edge of its container, where the form leaves more; where the form leaves
// less (an edit and its spin buttons touch) the form's spacing holds.
constexpr int kMinGap = 4;

bool SameRow(const TPlace& a, const TPlace& b) { return a.Top < b.Bottom() && b.Top < a.Bottom(); }

}  // namespace

int ScaleToDpi(int pixels, int dpi) {
  const int64_t scaled = static_cast<int64_t>(pixels) * dpi;
  const int64_t half = kFormDpi / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kFormDpi : (scaled - half) / kFormDpi);
}

TPlace FormPlace(const TArduinoDialog& form, const TControl& control) {
  TPlace place{control.Left, control.Top, control.Width, control.Height};
  if (!control.Parent.empty()) {
    const TControl& box = form.Control(control.Parent);
    place.Left += box.Left;
    place.Top += box.Top;
  }
  return place;
}

TPlace ScalePlace(const TPlace& place, int dpi) {
  TPlace scaled;
  scaled.Left = ScaleToDpi(place.Left, dpi);
  scaled.Top = ScaleToDpi(place.Top, dpi);
  scaled.Width = ScaleToDpi(place.Right(), dpi) - scaled.Left;
  scaled.Height = ScaleToDpi(place.Bottom(), dpi) - scaled.Top;
  return scaled;
}

namespace {

// The form's controls on one screen: each one's container, and its
// rectangle there relative to the container.  The edges are scaled in
// client coordinates first, so that a control and its box round alike.
struct TScaledForm {
  std::vector<int> Parent;
  std::vector<TPlace> Place;
};

TScaledForm ScaleForm(const TArduinoDialog& form, int dpi) {
  const std::vector<TControl>& controls = form.Controls();
  TScaledForm scaled;
  scaled.Parent.assign(controls.size(), -1);
  std::vector<TPlace> absolute;
  for (const TControl& c : controls) {
    if (!c.Parent.empty()) {
      scaled.Parent[absolute.size()] = static_cast<int>(&form.Control(c.Parent) - controls.data());
    }
    absolute.push_back(ScalePlace(FormPlace(form, c), dpi));
  }
  scaled.Place = absolute;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (scaled.Parent[i] < 0) continue;
    scaled.Place[i].Left -= absolute[scaled.Parent[i]].Left;
    scaled.Place[i].Top -= absolute[scaled.Parent[i]].Top;
  }
  return scaled;
}

// Grows and pushes until every rule holds.  Every rule only ever moves an
// edge right or down, and each pushes controls that stand further right on
// the form than the one pushing, so the passes settle; the bound is a
// guard, not a limit ever reached.
void Settle(const std::vector<TControl>& controls, const TScaledForm& form, int gap,
            std::vector<TPlace>* place) {
  const size_t count = controls.size();
  const std::vector<int>& parent = form.Parent;
  bool changed = true;
  auto raise = [&changed](int& value, int at_least) {
    if (at_least > value) {
      value = at_least;
      changed = true;
    }
  };
  for (size_t pass = 0; changed && pass < 4 * count + 4; ++pass) {
    changed = false;
    for (size_t i = 0; i < count; ++i) {
      const TPlace& fi = form.Place[i];
      for (size_t j = 0; j < count; ++j) {
        if (i == j || parent[i] != parent[j]) continue;
        const TPlace& fj = form.Place[j];
        if (fj.Right() <= fi.Left && SameRow(fi, fj)) {
          raise((*place)[i].Left, (*place)[j].Right() + std::min(fi.Left - fj.Right(), gap));
        }
        if (fi.Left == fj.Left) raise((*place)[i].Left, (*place)[j].Left);
        if (fi.Right() == fj.Right() && controls[i].Kind == controls[j].Kind) {
          raise((*place)[i].Width, (*place)[j].Right() - (*place)[i].Left);
        }
      }
      if (parent[i] < 0) continue;
      TPlace& box = (*place)[parent[i]];
      const TPlace& form_box = form.Place[parent[i]];
      raise(box.Width, (*place)[i].Right() + std::min(form_box.Width - fi.Right(), gap));
      raise(box.Height, (*place)[i].Bottom() + std::min(form_box.Height - fi.Bottom(), gap));
    }
  }
}

}  // namespace

TFormLayout LayOutForm(const TArduinoDialog& form, int dpi, const std::vector<TSize>& needed) {
  const std::vector<TControl>& controls = form.Controls();
  const size_t count = controls.size();
  const int gap = ScaleToDpi(kMinGap, dpi);
  const TScaledForm scaled = ScaleForm(form, dpi);

  std::vector<TPlace> place = scaled.Place;
  for (size_t i = 0; i < count && i < needed.size(); ++i) {
    place[i].Width = std::max(place[i].Width, needed[i].Width);
    place[i].Height = std::max(place[i].Height, needed[i].Height);
  }
  Settle(controls, scaled, gap, &place);

  TFormLayout layout;
  layout.ClientWidth = ScaleToDpi(TArduinoDialog::kClientWidth, dpi);
  layout.ClientHeight = ScaleToDpi(TArduinoDialog::kClientHeight, dpi);
  const int form_width = layout.ClientWidth, form_height = layout.ClientHeight;
  layout.Places = place;
  for (size_t i = 0; i < count; ++i) {
    const int parent = scaled.Parent[i];
    if (parent < 0) {
      const TPlace& f = scaled.Place[i];
      layout.ClientWidth =
          std::max(layout.ClientWidth, place[i].Right() + std::min(form_width - f.Right(), gap));
      layout.ClientHeight = std::max(layout.ClientHeight,
                                     place[i].Bottom() + std::min(form_height - f.Bottom(), gap));
      continue;
    }
    // Containers come before what they hold, so the box is in place already.
    layout.Places[i].Left += layout.Places[parent].Left;
    layout.Places[i].Top += layout.Places[parent].Top;
  }
  return layout;
}

}  // namespace arduino
