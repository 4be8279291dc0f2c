// SPDX-License-Identifier: GPL-3.0-or-later
//
// The window model: flags, creation order, hit test, pointer capture,
// scroll-bar changes and twips.

#include <gtest/gtest.h>

#include <limits>

#include "forms/form.h"
#include "unit/fakes.h"

using namespace tovrel::forms;

namespace {

// A small window with two stacked images over a label, a line and a scroll
// bar, recording what its handlers receive.
class TestForm : public Form {
public:
    TestForm()
        : Form(FormDesign{"FrmTest", "Test", ScaleMode::Pixel, 3000, 3000, 150, 300}),
          label(add<Label>("Lbl", Rect{0, 0, 100, 20}, "text", Alignment::Left, Font{})),
          lower(add<Image>("Lower", Rect{10, 10, 50, 50}, True)),
          upper(add<Image>("Upper", Rect{10, 10, 50, 50}, True)),
          line(add<Line>("Line", 0.0F, 15.0F, 200.0F, 15.0F)),
          bar(add<ScrollBar>("Bar", Rect{0, 100, 100, 17}, ScrollBar::Range{1, 120, 5, 1, 5}, 0)) {
        for (Element* e : {static_cast<Element*>(&upper), static_cast<Element*>(&lower)}) {
            const std::string n = e->name();
            e->MouseDown = [this, n](const MouseArgs&) { log.push_back(n + ".down"); };
            e->MouseMove = [this, n](const MouseArgs&) { log.push_back(n + ".move"); };
            e->MouseUp = [this, n](const MouseArgs&) { log.push_back(n + ".up"); };
        }
        Form_MouseDown = [this](const MouseArgs&) { log.push_back("Form.down"); };
        Form_MouseMove = [this](const MouseArgs&) { log.push_back("Form.move"); };
        Form_MouseUp = [this](const MouseArgs&) { log.push_back("Form.up"); };
        bar.Change = [this] { log.push_back("Bar.Change " + std::to_string(bar.Value())); };
    }
    Label& label;
    Image& lower;
    Image& upper;
    Line& line;
    ScrollBar& bar;
    std::vector<std::string> log;
};

MouseArgs at(float x, float y, std::int16_t button = LeftButton) { return MouseArgs{button, 0, x, y}; }

}  // namespace

TEST(FormModel, FlagsReadBackExactlyMinusOneOrZero) {
    TestForm f;
    EXPECT_EQ(f.upper.Visible(), -1);
    f.upper.setVisible(False);
    EXPECT_EQ(f.upper.Visible(), 0);
    f.upper.setVisible(1);  // any non-zero value is True
    EXPECT_EQ(f.upper.Visible(), -1);
    f.upper.setEnabled(False);
    EXPECT_EQ(f.upper.Enabled(), 0);
    static_assert(sizeof(Flag) == 2);
}

TEST(FormModel, ElementsKeepTheirCreationOrder) {
    TestForm f;
    ASSERT_EQ(f.elements().size(), 5U);
    EXPECT_EQ(f.label.index(), 1);
    EXPECT_EQ(f.bar.index(), 5);
    EXPECT_EQ(f.find("Upper"), &f.upper);
    EXPECT_EQ(f.find("Missing"), nullptr);
}

TEST(FormModel, HitTestTakesTheLastCreatedVisibleEnabledElement) {
    TestForm f;
    EXPECT_EQ(f.hitTest(20, 20), &f.upper);
    f.upper.setVisible(False);
    EXPECT_EQ(f.hitTest(20, 20), &f.lower);
    f.lower.setEnabled(False);  // disabled: the pointer passes through
    EXPECT_EQ(f.hitTest(20, 20), nullptr);
    EXPECT_EQ(f.hitTest(5, 5), &f.label);
    EXPECT_EQ(f.hitTest(150, 15), nullptr) << "lines take no pointer input";
    EXPECT_EQ(f.hitTest(50, 105), &f.bar);
    EXPECT_EQ(f.hitTest(60, 20), nullptr) << "right edge is outside";
}

TEST(FormModel, CaptureKeepsThePressedElementEvenWhenItIsHidden) {
    TestForm f;
    f.upper.MouseDown = [&f](const MouseArgs&) {
        f.log.push_back("Upper.down");
        f.upper.setVisible(False);  // the press swaps the image
    };
    f.pointerDown(at(20, 20));
    f.pointerMove(at(25, 25));
    f.pointerMove(at(300, 300));  // off the element and off the window
    f.pointerUp(at(300, 300));
    EXPECT_EQ(f.log, (std::vector<std::string>{"Upper.down", "Upper.move", "Upper.move", "Upper.up"}));
    EXPECT_FALSE(f.capturing());
    f.log.clear();
    f.pointerMove(at(20, 20));
    EXPECT_EQ(f.log, (std::vector<std::string>{"Lower.move"})) << "after the release the hit test decides again";
}

TEST(FormModel, BackgroundCapturesAndASecondButtonStaysWithTheFirstTarget) {
    TestForm f;
    f.pointerDown(at(150, 50));
    f.pointerMove(at(20, 20));  // over an image, still the background's
    f.pointerDown(at(20, 20, RightButton));
    f.pointerUp(at(20, 20, RightButton));
    f.pointerMove(at(21, 21));
    f.pointerUp(at(21, 21));
    f.pointerMove(at(22, 22));
    EXPECT_EQ(f.log, (std::vector<std::string>{"Form.down", "Form.move", "Form.down", "Form.up", "Form.move", "Form.up",
                                               "Upper.move"}));
}

TEST(FormModel, CancelledCaptureAndHiddenWindowForgetThePress) {
    TestForm f;
    f.Show();
    f.pointerDown(at(20, 20));
    EXPECT_TRUE(f.capturing());
    f.Hide();
    EXPECT_FALSE(f.capturing());
    f.pointerDown(at(20, 20));
    f.cancelCapture();
    f.pointerMove(at(150, 50));
    EXPECT_EQ(f.log.back(), "Form.move");
}

TEST(FormModel, ScrollBarWriteRunsChangeBeforeReturningAndOnlyOnAChange) {
    TestForm f;
    f.bar.setValue(7);
    ASSERT_EQ(f.log, (std::vector<std::string>{"Bar.Change 7"}));
    f.bar.setValue(7);
    EXPECT_EQ(f.log.size(), 1U) << "same value: no Change";
    // A Change handler that writes the value again runs nested.
    f.bar.Change = [&f] {
        f.log.push_back("Change " + std::to_string(f.bar.Value()));
        if (f.bar.Value() == 8) f.bar.setValue(9);
    };
    f.bar.setValue(8);
    EXPECT_EQ(f.log, (std::vector<std::string>{"Bar.Change 7", "Change 8", "Change 9"}));
    EXPECT_THROW(f.bar.setValue(0), std::out_of_range);
    EXPECT_THROW(f.bar.setValue(121), std::out_of_range);
    EXPECT_EQ(f.bar.Value(), 9);
}

TEST(FormModel, TwipsAreStoredAsWrittenAndShownRounded) {
    TestForm f;
    f.setHeight(2800);
    EXPECT_EQ(f.Height(), 2800.0F);
    EXPECT_EQ(twipsToPixels(f.Height()), 187);
    f.setHeight(5520);
    EXPECT_EQ(twipsToPixels(f.Height()), 368);
    f.Move(3212.5F, 2865);
    EXPECT_EQ(f.Left(), 3212.5F);
    // The desktop reporting the rounded pixel position keeps the twips.
    f.notePlacedAt(214, 191);
    EXPECT_EQ(f.Left(), 3212.5F);
    f.notePlacedAt(300, 191);
    EXPECT_EQ(f.Left(), 4500.0F);
    EXPECT_THROW(f.Move(std::numeric_limits<float>::infinity(), 0), std::overflow_error);
}

TEST(FormModel, UnchangedWritesCostNoRepaint) {
    TestForm f;
    tovrel::testing::ChangeRecorder rec(f);
    f.label.setCaption("text");
    f.upper.setVisible(True);
    f.line.setX2(200);
    EXPECT_TRUE(rec.changes.empty());
    f.label.setCaption("other");
    f.line.setX2(201);
    EXPECT_EQ(rec.changes.size(), 2U);
}

TEST(FormModel, TwipFormsTakePointerPositionsInTwips) {
    Form twips(FormDesign{"FrmT", "T", ScaleMode::Twip, 5820, 2850, 0, 0});
    EXPECT_EQ(twips.fromPixels(10), 150.0F);
    Form pixels(FormDesign{"FrmP", "P", ScaleMode::Pixel, 5820, 2850, 0, 0});
    EXPECT_EQ(pixels.fromPixels(10.5F), 10.5F);
}

TEST(FormModel, AnImageButtonIsShownAndWorkableAsItsImagesAre) {
    class Buttons : public TestForm {
    public:
        Buttons() { addButton("Go", {&lower, &upper}); }
        using Form::addButton;
    } f;
    ASSERT_EQ(f.buttons().size(), 1U);
    const ImageButton& go = f.buttons()[0];
    EXPECT_EQ(f.buttonOf(f.upper), &go);
    EXPECT_EQ(f.buttonOf(f.label), nullptr);
    EXPECT_TRUE(go.visible());
    EXPECT_TRUE(go.enabled());

    // The shown image decides: a disabled normal picture under a shown,
    // enabled hover picture still lets the pointer work the button.
    f.lower.setEnabled(False);
    EXPECT_TRUE(go.enabled());
    f.upper.setVisible(False);
    EXPECT_FALSE(go.enabled()) << "only the disabled picture shows";
    f.lower.setVisible(False);
    EXPECT_FALSE(go.visible());
    EXPECT_FALSE(go.enabled()) << "hidden: as its first picture would be";
    f.lower.setEnabled(True);
    EXPECT_TRUE(go.enabled());

    // An image draws one button, of its own window.
    EXPECT_THROW(f.addButton("Again", {&f.upper}), std::logic_error);
    TestForm other;
    EXPECT_THROW(f.addButton("Foreign", {&other.upper}), std::logic_error);
    EXPECT_THROW(f.addButton("Nothing", {}), std::logic_error);
    EXPECT_EQ(f.buttons().size(), 1U);
}
