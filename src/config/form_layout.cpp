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

TFormLayout LayOutForm(const TArduinoDialog& form, int dpi, const std::vector<TSize>& needed) {
  const std::vector<TControl>& controls = form.Controls();
  const size_t count = controls.size();
  const int gap = ScaleToDpi(kMinGap, dpi);

  // The form's rectangles on this screen, each relative to its container.
  // The edges are scaled in client coordinates first, as the Windows view
  // scales them, so that both views round alike.
  std::vector<int> parent(count, -1);
  std::vector<TPlace> absolute(count), form_place(count);
  for (size_t i = 0; i < count; ++i) {
    const TControl& c = controls[i];
    int left = c.Left, top = c.Top;
    if (!c.Parent.empty()) {
      const TControl& box = form.Control(c.Parent);
      parent[i] = static_cast<int>(&box - controls.data());
      left += box.Left;
      top += box.Top;
    }
    absolute[i].Left = ScaleToDpi(left, dpi);
    absolute[i].Top = ScaleToDpi(top, dpi);
    absolute[i].Width = ScaleToDpi(left + c.Width, dpi) - absolute[i].Left;
    absolute[i].Height = ScaleToDpi(top + c.Height, dpi) - absolute[i].Top;
  }
  for (size_t i = 0; i < count; ++i) {
    form_place[i] = absolute[i];
    if (parent[i] >= 0) {
      form_place[i].Left -= absolute[parent[i]].Left;
      form_place[i].Top -= absolute[parent[i]].Top;
    }
  }

  std::vector<TPlace> place = form_place;
  for (size_t i = 0; i < count && i < needed.size(); ++i) {
    place[i].Width = std::max(place[i].Width, needed[i].Width);
    place[i].Height = std::max(place[i].Height, needed[i].Height);
  }

  // Every rule only ever moves an edge right or down, and each pushes
  // controls that stand further right on the form than the one pushing, so
  // the passes settle; the bound is a guard, not a limit ever reached.
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
      for (size_t j = 0; j < count; ++j) {
        if (i == j || parent[i] != parent[j]) continue;
        const TPlace& fi = form_place[i];
        const TPlace& fj = form_place[j];
        if (fj.Right() <= fi.Left && SameRow(fi, fj)) {
          raise(place[i].Left, place[j].Right() + std::min(fi.Left - fj.Right(), gap));
        }
        if (fi.Left == fj.Left) raise(place[i].Left, place[j].Left);
        if (fi.Right() == fj.Right() && controls[i].Kind == controls[j].Kind) {
          raise(place[i].Width, place[j].Right() - place[i].Left);
        }
      }
      if (parent[i] >= 0) {
        TPlace& box = place[parent[i]];
        const TPlace& form_box = form_place[parent[i]];
        raise(box.Width, place[i].Right() + std::min(form_box.Width - form_place[i].Right(), gap));
        raise(box.Height,
              place[i].Bottom() + std::min(form_box.Height - form_place[i].Bottom(), gap));
      }
    }
  }

  TFormLayout layout;
  layout.ClientWidth = ScaleToDpi(TArduinoDialog::kClientWidth, dpi);
  layout.ClientHeight = ScaleToDpi(TArduinoDialog::kClientHeight, dpi);
  const int form_width = layout.ClientWidth, form_height = layout.ClientHeight;
  layout.Places = place;
  for (size_t i = 0; i < count; ++i) {
    if (parent[i] < 0) {
      layout.ClientWidth = std::max(
          layout.ClientWidth, place[i].Right() + std::min(form_width - form_place[i].Right(), gap));
      layout.ClientHeight =
          std::max(layout.ClientHeight,
                   place[i].Bottom() + std::min(form_height - form_place[i].Bottom(), gap));
      continue;
    }
    // Containers come before what they hold, so the box is in place already.
    layout.Places[i].Left += layout.Places[parent[i]].Left;
    layout.Places[i].Top += layout.Places[parent[i]].Top;
  }
  return layout;
}

}  // namespace arduino
