// Fitting the form to a screen: scaling by the font's resolution, and making
// room for widgets that need more than the form gives them.
#include "config/form_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ArduinoDlg.h"

namespace arduino {
namespace {

class FormLayoutTest : public ::testing::Test {
 protected:
  size_t Index(const char* name) const {
    return static_cast<size_t>(&form_.Control(name) - form_.Controls().data());
  }
  // Every control needs its slot at `dpi` and no more, except those named.
  std::vector<TSize> Needs(std::vector<std::pair<const char*, TSize>> extra) const {
    std::vector<TSize> needed(form_.Controls().size());
    for (auto& [name, size] : extra) needed[Index(name)] = size;
    return needed;
  }
  const TPlace& At(const TFormLayout& layout, const char* name) const {
    return layout.Places[Index(name)];
  }

  TArduinoDialog form_;
};

TEST_F(FormLayoutTest, ScalesTheFormByTheResolutionAndRoundsToTheNearestPixel) {
  EXPECT_EQ(ScaleToDpi(361, 144), 542);  // 541.5
  EXPECT_EQ(ScaleToDpi(17, 120), 21);    // 21.25
  EXPECT_EQ(ScaleToDpi(444, 96), 444);
  for (int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    TFormLayout layout = LayOutForm(form_, dpi, {});
    EXPECT_EQ(layout.ClientWidth, ScaleToDpi(TArduinoDialog::kClientWidth, dpi));
    EXPECT_EQ(layout.ClientHeight, ScaleToDpi(TArduinoDialog::kClientHeight, dpi));
    for (const TControl& c : form_.Controls()) {
      SCOPED_TRACE(c.Name);
      const TPlace f = FormPlace(form_, c);
      const TPlace& p = At(layout, c.Name.c_str());
      EXPECT_EQ(p.Left, ScaleToDpi(f.Left, dpi));
      EXPECT_EQ(p.Top, ScaleToDpi(f.Top, dpi));
      EXPECT_EQ(p.Right(), ScaleToDpi(f.Right(), dpi));
      EXPECT_EQ(p.Bottom(), ScaleToDpi(f.Bottom(), dpi));
    }
  }
}

TEST_F(FormLayoutTest, ControlThatFitsBesideItsNeighbourMovesNothing) {
  // "Pin 2:" 32 wide still ends 4 pixels before its list (27 + 9 free).
  TFormLayout layout = LayOutForm(form_, 96, Needs({{"Label1", {32, 13}}}));
  TFormLayout plain = LayOutForm(form_, 96, {});
  EXPECT_EQ(At(layout, "Label1").Width, 32);
  for (const TControl& c : form_.Controls()) {
    if (c.Kind == TControlKind::kLabel) continue;  // the other pin labels widen alike
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(At(layout, c.Name.c_str()).Left, At(plain, c.Name.c_str()).Left);
    EXPECT_EQ(At(layout, c.Name.c_str()).Width, At(plain, c.Name.c_str()).Width);
  }
  EXPECT_EQ(layout.ClientWidth, plain.ClientWidth);
}

TEST_F(FormLayoutTest, GrownRadioPushesItsRowAndTheColumnsBelowKeepingTheirEdges) {
  // "Ethernet" 71 wide would end one pixel before "IP Address:".
  TFormLayout layout = LayOutForm(form_, 96, Needs({{"RadioButton1", {71, 17}}}));
  const TPlace& radio = At(layout, "RadioButton1");
  EXPECT_EQ(radio.Left, 12 + 16);
  EXPECT_EQ(radio.Width, 71);
  EXPECT_EQ(At(layout, "Label2").Left, radio.Right() + 4);
  EXPECT_EQ(At(layout, "Label3").Left, At(layout, "Label2").Left) << "the label column broke";
  EXPECT_EQ(At(layout, "IPAddressEdit").Left, At(layout, "Label2").Right() + 4);
  EXPECT_EQ(At(layout, "ComPortEdit").Left, At(layout, "IPAddressEdit").Left);
  // The spin buttons stay attached to their edit.
  EXPECT_EQ(At(layout, "UpDown1").Left, At(layout, "ComPortEdit").Right());
  // "Port:" had room enough and stays; so does everything in the other box.
  EXPECT_EQ(At(layout, "Label4").Left, 12 + 252);
  EXPECT_EQ(At(layout, "P2Combobox").Left, 12 + 52);
  for (const char* name : {"RadioButton1", "Label2", "IPAddressEdit", "UpDown1"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(At(layout, name).Top, ScaleToDpi(form_.Control(name).Top + 16, 96));
  }
}

TEST_F(FormLayoutTest, ListAtTheBoxEdgeWidensBothBoxesAndPushesTheButtonsAndTheDialog) {
  TFormLayout layout = LayOutForm(form_, 96, Needs({{"BaudCombobox", {150, 21}}}));
  const TPlace& baud = At(layout, "BaudCombobox");
  const TPlace& box1 = At(layout, "GroupBox1");
  const TPlace& box2 = At(layout, "GroupBox2");
  EXPECT_EQ(baud.Left, 12 + 232);
  EXPECT_EQ(box1.Right(), baud.Right() + 4);
  EXPECT_EQ(box2.Right(), box1.Right()) << "the boxes' right edges no longer line up";
  EXPECT_EQ(box1.Height, 93);
  for (const char* button : {"OKButton", "CancelButton"}) {
    SCOPED_TRACE(button);
    EXPECT_EQ(At(layout, button).Left, box1.Right() + 4);
    EXPECT_EQ(At(layout, button).Width, 75);
  }
  EXPECT_EQ(layout.ClientWidth, At(layout, "OKButton").Right() + 4);
  EXPECT_EQ(layout.ClientHeight, 361);
  // The edit above ends where the list did on the form; it is of another
  // kind and keeps its width.
  EXPECT_EQ(At(layout, "PortEdit").Right(), 12 + 321);
}

TEST_F(FormLayoutTest, TallerControlGrowsDownAndItsBoxWithIt) {
  TFormLayout layout = LayOutForm(form_, 96, Needs({{"P9Combobox", {113, 40}}}));
  const TPlace& list = At(layout, "P9Combobox");
  EXPECT_EQ(list.Top, 120 + 200);
  EXPECT_EQ(list.Height, 40);
  EXPECT_EQ(At(layout, "GroupBox2").Bottom(), list.Bottom() + 4);
  EXPECT_EQ(layout.ClientHeight, At(layout, "GroupBox2").Bottom() + 4);
  EXPECT_EQ(At(layout, "Label12").Top, 120 + 204) << "a label beside it moved";
}

}  // namespace
}  // namespace arduino
