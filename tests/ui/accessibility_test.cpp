// SPDX-License-Identifier: GPL-3.0-or-later
//
// What screen readers get of the windows through Qt's accessibility: the
// painted labels and image buttons as children of the window, next to the
// real scroll bars, with names, states and places that follow the model.

#include <gtest/gtest.h>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QAccessible>
#include <QCoreApplication>
#include <QScrollBar>
#include <memory>

#include "platform/desktop.h"
#include "shell/frm_about.h"
#include "shell/frm_tovrel.h"
#include "ui/shown_main_window.h"
#include "unit/fakes.h"

using namespace tovrel;
using namespace tovrel::forms;

namespace {

struct Heard {
    QAccessible::Event type;
    QAccessibleInterface* iface;
    QAccessible::State changed;
};

std::vector<Heard>* heard = nullptr;

void listen(QAccessibleEvent* event) {
    if (heard == nullptr) return;
    QAccessible::State changed;
    if (event->type() == QAccessible::StateChanged)
        changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
    heard->push_back({event->type(), event->accessibleInterface(), changed});
}

class AccessibilityTest : public ::testing::Test, protected tovrel::testing::ShownMainWindow {
protected:
    AccessibilityTest() { window = QAccessible::queryAccessibleInterface(view); }
    ~AccessibilityTest() override { stopListening(); }

    void startListening() {
        heard = &events;
        QAccessible::installUpdateHandler(listen);
        // Qt passes events on only while accessibility is on, which a screen
        // reader does on a desktop.
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        ASSERT_TRUE(QAccessible::isActive());
    }
    static void stopListening() {
        if (heard == nullptr) return;
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
        heard = nullptr;
    }
    // The events one interface got, of one type.
    std::vector<Heard> of(QAccessibleInterface* iface, QAccessible::Event type) const {
        std::vector<Heard> out;
        for (const Heard& h : events)
            if (h.iface == iface && h.type == type) out.push_back(h);
        return out;
    }

    static QAccessibleInterface* childNamed(QAccessibleInterface* parent, const QString& name, QAccessible::Role role) {
        for (int i = 0; i < parent->childCount(); ++i) {
            QAccessibleInterface* c = parent->child(i);
            if (c != nullptr && c->role() == role && c->text(QAccessible::Name) == name) return c;
        }
        return nullptr;
    }
    QAccessibleInterface* button(const char* word) const {
        return childNamed(window, QString::fromLatin1(word), QAccessible::Button);
    }
    QRect global(const QRect& r) const { return r.translated(view->mapToGlobal(QPoint(0, 0))); }

    QAccessibleInterface* window = nullptr;
    std::vector<Heard> events;
};

}  // namespace

TEST_F(AccessibilityTest, WindowListsScrollBarsLabelsAndButtonsInCreationOrder) {
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral("MP3 Tovrel"));

    const std::vector<std::pair<QAccessible::Role, QString>> expected = {
        {QAccessible::ScrollBar, "Snooze minutes"},
        {QAccessible::ScrollBar, "Alarm time"},
        {QAccessible::StaticText, "Off"},
        {QAccessible::Button, "Close"},
        {QAccessible::Button, "Minimise"},
        {QAccessible::Button, "Alarm"},
        {QAccessible::Button, "Browse"},
        {QAccessible::Button, "Snooze"},
        {QAccessible::Button, "Setting"},
        {QAccessible::StaticText, "Alarm"},
        {QAccessible::StaticText, "Snooze: 5 Min"},
        {QAccessible::StaticText, "No File Selected"},
        {QAccessible::StaticText, "12:00 AM"},
        {QAccessible::StaticText, "7:29 AM"},
    };
    ASSERT_EQ(window->childCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < window->childCount(); ++i) {
        QAccessibleInterface* c = window->child(i);
        ASSERT_NE(c, nullptr) << i;
        SCOPED_TRACE(expected[static_cast<std::size_t>(i)].second.toStdString());
        EXPECT_EQ(c->role(), expected[static_cast<std::size_t>(i)].first);
        EXPECT_EQ(c->text(QAccessible::Name), expected[static_cast<std::size_t>(i)].second);
        EXPECT_EQ(c->parent(), window);
        EXPECT_EQ(window->indexOfChild(c), i);
        EXPECT_TRUE(c->isValid());
    }
    EXPECT_EQ(window->child(window->childCount()), nullptr);

    // The read-outs say what they show.
    EXPECT_EQ(window->child(13)->text(QAccessible::Description), QStringLiteral("Current time"));
    EXPECT_EQ(window->child(2)->text(QAccessible::Description), QStringLiteral("Alarm status"));
    EXPECT_EQ(window->child(11)->text(QAccessible::Description), QStringLiteral("Alarm sound file"));
}

TEST_F(AccessibilityTest, ScrollBarsCarryTheirValuesAndNames) {
    QAccessibleInterface* alarm = childNamed(window, "Alarm time", QAccessible::ScrollBar);
    QAccessibleInterface* snooze = childNamed(window, "Snooze minutes", QAccessible::ScrollBar);
    ASSERT_TRUE(alarm && snooze);
    ASSERT_TRUE(alarm->valueInterface() && snooze->valueInterface());
    EXPECT_EQ(snooze->valueInterface()->currentValue().toInt(), 5);
    EXPECT_EQ(snooze->valueInterface()->minimumValue().toInt(), 1);
    EXPECT_EQ(snooze->valueInterface()->maximumValue().toInt(), 120);
    EXPECT_EQ(alarm->valueInterface()->maximumValue().toInt(), 1439);

    startListening();
    main.ScrlAlarmChg.setValue(450);
    EXPECT_EQ(alarm->valueInterface()->currentValue().toInt(), 450);
    EXPECT_FALSE(of(alarm, QAccessible::ValueChanged).empty()) << "a program write is announced";
    // The label beside it names the same minute.
    EXPECT_EQ(childNamed(window, "7:30 AM", QAccessible::StaticText)->text(QAccessible::Description),
              QStringLiteral("Alarm time"));
}

TEST_F(AccessibilityTest, ButtonsSitOnTheirImagesAndFollowTheirFlags) {
    QAccessibleInterface* alarm = button("Alarm");
    QAccessibleInterface* snooze = button("Snooze");
    QAccessibleInterface* setting = button("Setting");
    QAccessibleInterface* browse = button("Browse");
    ASSERT_TRUE(alarm && snooze && setting && browse);
    EXPECT_EQ(alarm->rect(), global(tovrel::testing::placed("Alarm")));
    EXPECT_EQ(button("Close")->rect(), global(tovrel::testing::placed("Close")));
    EXPECT_EQ(button("Minimise")->rect(), global(tovrel::testing::placed("Mini")));
    EXPECT_EQ(browse->rect(), global(tovrel::testing::placed("Browse")));

    // Snooze works only while the alarm rings.
    EXPECT_TRUE(snooze->state().disabled);
    EXPECT_FALSE(setting->state().disabled);
    EXPECT_FALSE(alarm->state().invisible);

    // The settings panel's button is below the folded window's edge.
    EXPECT_TRUE(browse->state().offscreen);
    EXPECT_FALSE(browse->state().invisible);
    EXPECT_FALSE(setting->state().offscreen);

    startListening();
    main.SettingU_MouseMove({});  // a hover swaps two images: still one button, shown
    main.SettingM_MouseDown({});
    main.SettingM_MouseUp({});  // the panel opens
    QCoreApplication::processEvents();
    EXPECT_FALSE(browse->state().offscreen);
    EXPECT_TRUE(of(setting, QAccessible::StateChanged).empty()) << "swapping its pictures changes no state";
    ASSERT_EQ(of(browse, QAccessible::StateChanged).size(), 1U);
    EXPECT_TRUE(of(browse, QAccessible::StateChanged)[0].changed.offscreen);
    EXPECT_EQ(of(browse, QAccessible::ObjectShow).size(), 1U);

    // The alarm rings: Snooze comes alive, Setting is locked.
    main.SnoozeU.setEnabled(True);
    main.SettingU.setEnabled(False);
    QCoreApplication::processEvents();
    EXPECT_FALSE(snooze->state().disabled);
    ASSERT_EQ(of(snooze, QAccessible::StateChanged).size(), 1U);
    EXPECT_TRUE(of(snooze, QAccessible::StateChanged)[0].changed.disabled);
    // Setting's hover picture is up, and it is enabled: the pointer can still work the button.
    EXPECT_FALSE(setting->state().disabled);
    main.Form_MouseMove({});  // pointer off: back to the (disabled) normal picture
    QCoreApplication::processEvents();
    EXPECT_TRUE(setting->state().disabled);

    // All of a button's images hidden: the button is not shown.
    main.AlarmUOFF.setVisible(False);
    QCoreApplication::processEvents();
    EXPECT_TRUE(alarm->state().invisible);
    EXPECT_EQ(of(alarm, QAccessible::ObjectHide).size(), 1U);

    // A hidden window shows nothing.
    main.Hide();
    QCoreApplication::processEvents();
    EXPECT_TRUE(setting->state().invisible);
    EXPECT_TRUE(childNamed(window, "Off", QAccessible::StaticText)->state().invisible);
    EXPECT_TRUE(window->state().invisible);
}

TEST_F(AccessibilityTest, ReadingOnlyNoButtonCanBeRunFromOutside) {
    const std::size_t calls = log.size();
    for (int i = 0; i < window->childCount(); ++i) {
        QAccessibleInterface* c = window->child(i);
        if (c->role() != QAccessible::Button && c->role() != QAccessible::StaticText) continue;
        SCOPED_TRACE(c->text(QAccessible::Name).toStdString());
        EXPECT_EQ(c->actionInterface(), nullptr);
        EXPECT_EQ(c->valueInterface(), nullptr);
        EXPECT_FALSE(c->state().focusable);
        c->setText(QAccessible::Name, QStringLiteral("Snooze"));
    }
    ASSERT_NE(window->actionInterface(), nullptr);
    EXPECT_TRUE(window->actionInterface()->actionNames().isEmpty());
    EXPECT_EQ(main.LblAlarmStatus.Caption(), "Off") << "setting a name changes nothing";
    EXPECT_EQ(log.size(), calls) << "no command ran";
}

TEST_F(AccessibilityTest, ALabelsNameFollowsItsCaption) {
    QAccessibleInterface* clockLabel = childNamed(window, "7:29 AM", QAccessible::StaticText);
    QAccessibleInterface* status = childNamed(window, "Off", QAccessible::StaticText);
    ASSERT_TRUE(clockLabel && status);
    EXPECT_EQ(clockLabel->rect(), global(tovrel::testing::placed("LblRealTime")));

    startListening();
    clock = "7:30:00 AM";
    main.Timer_Timer();
    EXPECT_EQ(clockLabel->text(QAccessible::Name), QStringLiteral("7:30 AM"));
    EXPECT_EQ(of(clockLabel, QAccessible::NameChanged).size(), 1U);
    clock = "7:30:01 AM";
    main.Timer_Timer();  // the same minute again: nothing to announce
    EXPECT_EQ(of(clockLabel, QAccessible::NameChanged).size(), 1U);

    // Switching the alarm on with a file chosen.
    main.LblMP3.setCaption("wake-up");
    main.AlarmMOFF_MouseUp({});
    EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("On"));
    EXPECT_EQ(of(status, QAccessible::NameChanged).size(), 1U);
    EXPECT_EQ(childNamed(window, "wake-up", QAccessible::StaticText), window->child(11));
}

TEST_F(AccessibilityTest, ChildAtFindsTheTopmostShownChild) {
    QAccessibleInterface* setting = button("Setting");
    const QPoint inside = global(tovrel::testing::placed("Setting")).center();
    EXPECT_EQ(window->childAt(inside.x(), inside.y()), setting);
    const QPoint clockAt = global(tovrel::testing::placed("LblRealTime")).center();
    EXPECT_EQ(window->childAt(clockAt.x(), clockAt.y()), childNamed(window, "7:29 AM", QAccessible::StaticText));
    const QPoint background = global(QRect(0, 0, 20, 20)).center();
    EXPECT_EQ(window->childAt(background.x(), background.y()), nullptr);
}

TEST_F(AccessibilityTest, AboutWindowHasItsTextsAndExit) {
    main.CloseM_MouseDown({});
    platform::FormView* aboutView = desktop.viewOf(*main.aboutIfLoaded());
    QAccessibleInterface* about = QAccessible::queryAccessibleInterface(aboutView);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->role(), QAccessible::Window);
    EXPECT_EQ(about->text(QAccessible::Name), QStringLiteral("About"));
    ASSERT_EQ(about->childCount(), 3);
    EXPECT_EQ(about->child(0)->text(QAccessible::Name), QStringLiteral("Version 1.01"));
    EXPECT_EQ(about->child(1)->text(QAccessible::Name), QString::fromLatin1(shell::AboutCredits));
    QAccessibleInterface* exitButton = about->child(2);
    EXPECT_EQ(exitButton->role(), QAccessible::Button);
    EXPECT_EQ(exitButton->text(QAccessible::Name), QStringLiteral("Exit"));
    // Twips: the left edge 3725 rounds to pixel 248.
    EXPECT_EQ(exitButton->rect(),
              tovrel::testing::placed("Exit", true).translated(aboutView->mapToGlobal(QPoint(0, 0))));
    EXPECT_FALSE(exitButton->state().invisible);
    EXPECT_FALSE(exitButton->state().disabled);
    EXPECT_TRUE(window->state().invisible) << "the main window hid behind About";
}

TEST(AccessibilityLifetime, ChildrenGoWithTheFormAndTheView) {
    std::string clock = "7:29:58 AM";
    tovrel::testing::Log log;
    auto desktop = std::make_unique<platform::QtDesktop>(QStringLiteral(TOVREL_BUILD_DIR));
    desktop->clock = [&clock] { return clock; };
    tovrel::testing::FakePlayer player{log};
    tovrel::testing::FakeDialog dialog{log};
    tovrel::testing::FakeTray tray{log};
    tovrel::testing::FakeClick clicks{log};
    tovrel::testing::FakeInhibitor inhibitor;
    auto main = std::make_unique<shell::FrmTovrel>(
        components::MainComponents{*desktop, player, dialog, tray, clicks, inhibitor});
    main->Form_Load();
    main->Show();
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(desktop->viewOf(*main));
    ASSERT_EQ(window->childCount(), 14);
    const QAccessible::Id clockId = QAccessible::uniqueId(window->child(13));
    main->SnoozeU.setEnabled(True);  // a report is due from the event loop

    main.reset();  // the form goes first, as at the program's end
    EXPECT_EQ(QAccessible::accessibleInterface(clockId), nullptr);
    EXPECT_EQ(window->childCount(), 0);
    QCoreApplication::processEvents();  // the due report finds nothing to touch

    desktop.reset();
    EXPECT_EQ(QAccessible::accessibleInterface(clockId), nullptr);
}
