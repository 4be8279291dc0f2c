// SPDX-License-Identifier: GPL-3.0-or-later
//
// The Qt view: it paints what the window model holds, feeds it the pointer
// with capture, binds real scroll bars and cuts the window to its outline.

#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <set>

#include "platform/application.h"
#include "platform/desktop.h"
#include "shell/frm_about.h"
#include "shell/frm_tovrel.h"
#include "ui/shown_main_window.h"
#include "unit/fakes.h"

using namespace tovrel;
using namespace tovrel::forms;

namespace {

class ViewTest : public ::testing::Test, protected tovrel::testing::ShownMainWindow {
protected:
    QImage shot() const { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    static bool pureGreen(QRgb c) { return qRed(c) == 0 && qGreen(c) == 255 && qBlue(c) == 0; }
    int greenPixels(const QImage& image, const QRect& r) const {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (qGreen(image.pixel(x, y)) > 200 && qRed(image.pixel(x, y)) < 80) ++n;
        return n;
    }
    QPoint centre(const Element& e) const { return view->pixelRect(e.rect()).center(); }
};

}  // namespace

TEST_F(ViewTest, WindowIsFramelessCollapsedAndTitled) {
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(view->windowTitle(), QStringLiteral("MP3 Tovrel"));
    EXPECT_EQ(view->size(), tovrel::testing::windowSize(shell::layout::CollapsedHeight));
    EXPECT_EQ(view->pos(), QPoint(214, 191));
    main.setHeight(shell::ExpandedHeight);
    EXPECT_EQ(view->size(), tovrel::testing::windowSize(shell::layout::ExpandedHeight));
    EXPECT_TRUE(view->isVisible());
    main.Hide();
    EXPECT_FALSE(view->isVisible());
}

TEST_F(ViewTest, PaintsTheLabelsImagesAndProgressLinesTheModelHolds) {
    const QRect clockRect = view->pixelRect(main.LblRealTime.rect());
    const int before = greenPixels(shot(), clockRect);
    EXPECT_GT(before, 20) << "the clock caption is drawn";
    main.LblRealTime.setCaption("");
    EXPECT_LT(greenPixels(shot(), clockRect), before / 4) << "an empty caption leaves the display dark";

    // The alarm button's picture follows its visible image.
    const QRect alarm = view->pixelRect(main.AlarmUOFF.rect());
    const QImage normal = shot().copy(alarm);
    main.AlarmUOFF.setVisible(False);
    main.AlarmMOFF.setVisible(True);
    const QImage hover = shot().copy(alarm);
    EXPECT_NE(normal, hover);
    const QImage picture = desktop.skin().picture("AlarmMOFF", 1.0).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(hover, picture);

    // Progress lines: a run from 220 up to, not including, X2.
    main.Line1.setX2(280);
    main.Line2.setX2(250);
    const QImage bar = shot();
    EXPECT_TRUE(pureGreen(bar.pixel(220, 106)));
    EXPECT_TRUE(pureGreen(bar.pixel(279, 106)));
    EXPECT_FALSE(pureGreen(bar.pixel(280, 106)));
    EXPECT_TRUE(pureGreen(bar.pixel(249, 107)));
    EXPECT_FALSE(pureGreen(bar.pixel(250, 107)));
    main.Line1.setX2(220);
    EXPECT_FALSE(pureGreen(shot().pixel(220, 106))) << "zero length draws nothing";
    // Every one-line label of the panel's face, a long file name as much as "Snooze:
    // 120 Min": a caption too wide steps the face down to a readable size, then ends in
    // "…". (The seven-segment face draws "…" as one dot in the last digit; its labels hold
    // only times and On/Off, which fit.)
    main.setHeight(shell::ExpandedHeight);
    for (forms::Label* label : {&main.LblMP3, &main.LblSnooze, &main.LblAlarm}) {
        SCOPED_TRACE(label->name());
        ASSERT_TRUE(label->singleLine());
        label->setCaption(std::string(120, '8'));
        const QImage image = shot();
        const QRect text = view->pixelRect(label->rect());
        int rows = 0, right = text.right();
        for (int y = text.top(); y <= text.bottom(); ++y)
            rows += greenPixels(image, {text.left(), y, text.width(), 1}) > 0 ? 1 : 0;
        while (right > text.left() && greenPixels(image, {right, text.top(), 1, text.height()}) == 0) --right;
        EXPECT_GE(rows, 6) << "drawn below a readable face";
        EXPECT_LE(greenPixels(image, {right - 1, text.top(), 2, text.height()}), 4) << "cut without dots";
    }
}

TEST_F(ViewTest, PointerReachesTheElementsThroughCapture) {
    QTest::mouseMove(view, centre(main.SettingU));
    EXPECT_EQ(main.SettingM.Visible(), True);
    QTest::mousePress(view, Qt::LeftButton, {}, centre(main.SettingM));
    EXPECT_EQ(main.SettingD.Visible(), True);
    // Off the button and released over the background: the command runs.
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 170), view->mapToGlobal(QPointF(60, 170)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    EXPECT_EQ(main.SettingD.Visible(), True);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(60, 170));
    EXPECT_EQ(main.SettingsOpen, True);
    EXPECT_EQ(view->height(), tovrel::testing::windowSize(shell::layout::ExpandedHeight).height());
    EXPECT_EQ(clicks.played.size(), 1U);

    // The right button drags the window by the background.
    const QPoint start = view->pos();
    QTest::mousePress(view, Qt::RightButton, {}, QPoint(40, 170));
    QMouseEvent drag(QEvent::MouseMove, QPointF(50, 175), view->mapToGlobal(QPointF(50, 175)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drag);
    QTest::mouseRelease(view, Qt::RightButton, {}, QPoint(50, 175));
    EXPECT_EQ(view->pos(), start + QPoint(10, 5));
    EXPECT_EQ(main.Left(), 3210.0F + 150.0F);
}

TEST_F(ViewTest, OutlineHoldsBothPanelsAndNothingElseOfTheSkin) {
    const QRegion mask = view->mask();
    ASSERT_FALSE(mask.isEmpty()) << "the window was shaped at start-up";
    EXPECT_TRUE(mask.contains(QPoint(100, 60)));  // top panel
    EXPECT_TRUE(mask.contains(QPoint(34 + 5, 12 + 5 + 5)));
    EXPECT_TRUE(mask.contains(QPoint(200, 300)));  // settings panel
    EXPECT_TRUE(mask.contains(QPoint(375, 250)));
    EXPECT_FALSE(mask.contains(QPoint(5, 5)));      // white corner of the skin
    EXPECT_FALSE(mask.contains(QPoint(370, 70)));   // the green square
    EXPECT_FALSE(mask.contains(QPoint(100, 183)));  // the gap between the panels
    EXPECT_FALSE(mask.contains(QPoint(35, 13)));    // cut by the rounded corner
    EXPECT_FALSE(mask.contains(QPoint(11, 191)));
}

TEST_F(ViewTest, OutlineAtDoubleDensityHasTheSameCornersInFinerSteps) {
    // One row of a region: its first and last pixel (a panel row is one run).
    auto row = [](const QRegion& region, int y) {
        const QRect r = (region & QRect(0, y, 10000, 1)).boundingRect();
        return std::pair{r.left(), r.right()};
    };
    const QRegion coarse = view->outline(1.0);
    const QRegion fine = view->outline(2.0);
    EXPECT_EQ(coarse, view->mask());
    const QRect box = coarse.boundingRect();
    EXPECT_EQ(fine.boundingRect(), QRect(box.topLeft() * 2, box.size() * 2));

    // The top panel, 34, 12, 323 x 164 at ratio 1: at ratio 2 its corners are
    // mirror images of each other, and every row is within a device pixel of
    // the doubled ratio-1 row above or below it.
    const int left = 68, right = 713, top = 24, bottom = 351;
    std::set<int> coarseInsets, fineInsets;
    for (int y = top; y <= bottom; ++y) {
        const auto [a, b] = row(fine, y);
        EXPECT_EQ(a - left, right - b) << "row " << y;
        EXPECT_EQ(row(fine, top + bottom - y), row(fine, y)) << "row " << y;
        const auto [ca, cb] = row(coarse, y / 2);
        EXPECT_LE(std::abs(a - 2 * ca), 2) << "row " << y;
        EXPECT_LE(std::abs(b - (2 * cb + 1)), 2) << "row " << y;
        fineInsets.insert(a - left);
        coarseInsets.insert(2 * (ca - left / 2));
    }
    EXPECT_GT(fineInsets.size(), coarseInsets.size()) << "the corners come in no finer steps";
    EXPECT_FALSE(fine.contains(QPoint(left, top)));
    EXPECT_TRUE(fine.contains(QPoint(left, 200)));
    EXPECT_TRUE(fine.contains(QPoint(right, 200)));
    EXPECT_FALSE(fine.contains(QPoint(right + 1, 200)));
}

TEST_F(ViewTest, ScrollBarsAreBoundBothWaysAndHoldTheFocusInOrder) {
    QScrollBar* alarm = view->scrollBar("ScrlAlarmChg");
    QScrollBar* snooze = view->scrollBar("ScrlSnooze");
    ASSERT_TRUE(alarm && snooze);
    EXPECT_EQ(alarm->minimum(), 0);
    EXPECT_EQ(alarm->maximum(), 1439);
    EXPECT_EQ(alarm->pageStep(), 10);
    EXPECT_EQ(snooze->minimum(), 1);
    EXPECT_EQ(snooze->maximum(), 120);
    EXPECT_EQ(snooze->value(), 5);
    EXPECT_EQ(view->pixelRect(main.ScrlSnooze.rect()), snooze->geometry());

    alarm->triggerAction(QAbstractSlider::SliderPageStepAdd);  // a click on the track
    EXPECT_EQ(main.ScrlAlarmChg.Value(), 10);
    EXPECT_EQ(main.LblAlarmTime.Caption(), "12:10 AM");
    main.ScrlAlarmChg.setValue(545);  // a program write
    EXPECT_EQ(alarm->value(), 545);
    snooze->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(main.LblSnooze.Caption(), "Snooze: 6 Min");

    EXPECT_EQ(alarm->focusPolicy(), Qt::StrongFocus);
    // Tab goes from one scroll bar to the other and back.
    auto nextTabStop = [](QWidget* w) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    EXPECT_EQ(nextTabStop(alarm), snooze);
    EXPECT_EQ(nextTabStop(snooze), alarm);
    EXPECT_EQ(view->focusPolicy(), Qt::NoFocus);
    main.setHeight(shell::ExpandedHeight);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view));
    snooze->setFocus();
    const QRect ring = snooze->geometry().adjusted(-1, -1, 1, 1);
    EXPECT_EQ(greenPixels(shot(), ring), 2 * (ring.width() + ring.height()) - 4) << "no green focus ring";
    EXPECT_EQ(greenPixels(shot(), alarm->geometry().adjusted(-1, -1, 1, 1)), 0) << "a ring without the focus";
}

TEST_F(ViewTest, SelectorKeysMoveTheThumbTheWayTheyPoint) {
    QScrollBar* alarm = view->scrollBar("ScrlAlarmChg");
    ASSERT_TRUE(alarm);
    const std::pair<Qt::Key, int> keys[] = {
        {Qt::Key_Right, 1},    {Qt::Key_Right, 2},     {Qt::Key_Left, 1},   {Qt::Key_Down, 2},
        {Qt::Key_Up, 1},       {Qt::Key_PageDown, 11}, {Qt::Key_PageUp, 1}, {Qt::Key_End, 1439},
        {Qt::Key_Right, 1439}, {Qt::Key_Home, 0},      {Qt::Key_Left, 0},
    };
    for (const auto& [key, value] : keys) {
        QTest::keyClick(alarm, key);
        EXPECT_EQ(main.ScrlAlarmChg.Value(), value) << "after key " << key;
    }
    QTest::keyClick(alarm, Qt::Key_Right);
    EXPECT_EQ(main.LblAlarmTime.Caption(), "12:01 AM");
    QTest::keyClick(alarm, Qt::Key_Right, Qt::KeypadModifier);
    EXPECT_EQ(main.ScrlAlarmChg.Value(), 2) << "the keypad's arrow";
}

TEST_F(ViewTest, AboutWindowIsDrawnInTwipsAtItsOwnPosition) {
    main.CloseM_MouseDown({});
    platform::FormView* about = desktop.viewOf(*main.aboutIfLoaded());
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about->size(), tovrel::testing::windowSize(shell::layout::AboutHeight));
    EXPECT_EQ(about->pos(), view->pos());
    EXPECT_EQ(about->pixelRect(main.aboutIfLoaded()->ExitU.rect()), tovrel::testing::placed("Exit", true));
    EXPECT_TRUE(about->mask().contains(QPoint(100, 100)));
    EXPECT_FALSE(about->mask().contains(QPoint(370, 70)));
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(view->isVisible());
}

TEST_F(ViewTest, HighDensityPicturesAreTheDoubleSizeOnes) {
    const QPixmap& dense = desktop.skin().picture("FrmTovrel", 2.0);
    const QSize skin(shell::layout::MainSkin.width, shell::layout::MainSkin.height);
    EXPECT_EQ(dense.size(), skin * 2);
    EXPECT_EQ(dense.devicePixelRatio(), 2.0);
    EXPECT_EQ(desktop.skin().picture("FrmTovrel", 1.0).size(), skin);
    EXPECT_THROW(desktop.skin().picture("NoSuchPicture", 1.0), std::runtime_error);
}

TEST(UnhandledErrors, AFailureInAHandlerIsCaughtWhereQtDeliversEvents) {
    auto* app = static_cast<platform::Application*>(QCoreApplication::instance());
    std::vector<std::string> reported;
    const auto keep = app->fatal;
    app->fatal = [&reported](const std::string& message) { reported.push_back(message); };
    class Throwing : public QObject {
    public:
        bool event(QEvent*) override { throw std::overflow_error("Overflow in a handler"); }
    } receiver;
    QEvent event(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&receiver, &event));
    app->fatal = keep;
    EXPECT_EQ(reported, std::vector<std::string>{"Overflow in a handler"});
}
