// SPDX-License-Identifier: GPL-3.0-or-later
//
// The Open dialog and the notification-area icon, off screen.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/file_dialog.h"
#include "platform/tray_icon.h"
#include "support.h"

namespace {

using tovrel::platform::QtFileDialog;
using tovrel::platform::QtTrayIcon;

// Runs `drive` on the Open dialog once it is up, from inside its modal loop.
// Whatever modal window is still open after a while is rejected, so a
// failing test cannot hang.
void whenDialogOpens(const std::function<void(QFileDialog&)>& drive) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, drive] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        auto* watchdog = new QTimer(dialog);
        QObject::connect(watchdog, &QTimer::timeout, watchdog, [] {
            if (auto* stuck = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "a dialog was left open: " << stuck->windowTitle().toStdString();
                stuck->reject();
            }
        });
        watchdog->start(5000);
        drive(*dialog);
    });
    poll->start();
}

// Answers the next message box, from inside its modal loop; its text.
std::shared_ptr<QString> whenMessageBoxOpens() {
    auto text = std::make_shared<QString>();
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        *text = box->text();
        box->accept();
    });
    poll->start();
    return text;
}

QLineEdit* fileNameBox(QFileDialog& dialog) { return dialog.findChild<QLineEdit*>("fileNameEdit"); }

// Types into the file name box and presses Enter, as a user would.
void typeAndEnter(QFileDialog& dialog, const QString& text) {
    QLineEdit* box = fileNameBox(dialog);
    ASSERT_NE(box, nullptr);
    // The dialog watches what is typed only while the box has the focus,
    // as it has when a user types; off screen nothing activates windows.
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    box->setFocus(Qt::OtherFocusReason);
    box->clear();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

class OpenDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        song = QDir(folder.path()).filePath("wake up.mp3");
        QFile file(song);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not really sound, the dialog does not look");
    }

    QTemporaryDir folder;
    QString song;
    QtFileDialog dialog;
};

TEST_F(OpenDialog, StartsWithThePatternAsFileName) { EXPECT_EQ(dialog.fileName(), "*.mp3"); }

TEST_F(OpenDialog, IsQtsOwnMp3OpenDialogWithThePatternInTheNameBox) {
    dialog.setFlags(tovrel::components::FileDialog::OpenFlags);
    bool seen = false;
    whenDialogOpens([&seen](QFileDialog& shown) {
        seen = true;
        EXPECT_EQ(shown.windowTitle(), "Open MP3 File");
        EXPECT_EQ(shown.nameFilters(), QStringList{"Mpeg Layer 3 (*.mp3)"});
        EXPECT_EQ(shown.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_TRUE(shown.testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_FALSE(shown.testOption(QFileDialog::ReadOnly));
        EXPECT_TRUE(shown.isModal());
        EXPECT_EQ(QDir(shown.directory()).canonicalPath(), QDir::home().canonicalPath()) << "starts at home";
        QLineEdit* box = fileNameBox(shown);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "*.mp3");
        shown.reject();
    });
    dialog.showOpen();
    EXPECT_TRUE(seen);
    EXPECT_EQ(dialog.flags(), tovrel::components::FileDialog::OpenFlags);
    EXPECT_EQ(dialog.fileName(), "*.mp3") << "a cancel leaves the name alone";
}

TEST_F(OpenDialog, TypedPathAndEnterChooseTheFileAndTheNextOpenStartsThere) {
    dialog.setFlags(tovrel::components::FileDialog::OpenFlags);
    whenDialogOpens([this](QFileDialog& shown) { typeAndEnter(shown, song); });
    dialog.showOpen();
    EXPECT_EQ(dialog.fileName(), song.toStdString());

    whenDialogOpens([this](QFileDialog& shown) {
        EXPECT_EQ(QDir(shown.directory()).canonicalPath(), QDir(folder.path()).canonicalPath());
        QLineEdit* box = fileNameBox(shown);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "wake up.mp3");
        shown.reject();
    });
    dialog.showOpen();
    EXPECT_EQ(dialog.fileName(), song.toStdString()) << "a cancel keeps the last choice";
}

TEST_F(OpenDialog, AcceptsOnlyExistingFiles) {
    dialog.setFlags(tovrel::components::FileDialog::OpenFlags);
    const QString missing = QDir(folder.path()).filePath("gone.mp3");
    bool stayedOpen = false;
    std::shared_ptr<QString> warning;
    whenDialogOpens([&](QFileDialog& shown) {
        warning = whenMessageBoxOpens();
        typeAndEnter(shown, missing);
        stayedOpen = shown.isVisible();
        shown.reject();
    });
    dialog.showOpen();
    EXPECT_TRUE(stayedOpen);
    ASSERT_TRUE(warning);
    EXPECT_TRUE(warning->contains("gone.mp3")) << "no warning about the missing file: " << warning->toStdString();
    EXPECT_EQ(dialog.fileName(), "*.mp3");
}

TEST_F(OpenDialog, WithoutFileMustExistAnyNameIsTaken) {
    dialog.setFlags(QtFileDialog::HideReadOnly);
    const QString fresh = QDir(folder.path()).filePath("new.mp3");
    whenDialogOpens([&](QFileDialog& shown) {
        EXPECT_EQ(shown.fileMode(), QFileDialog::AnyFile);
        typeAndEnter(shown, fresh);
    });
    dialog.showOpen();
    EXPECT_EQ(dialog.fileName(), fresh.toStdString());
}

QIcon testIcon() {
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    return QIcon(picture);
}

class TrayIcon : public ::testing::Test {
protected:
    QtTrayIcon tray{testIcon()};
    int clicks = 0;

    void countClicks() {
        tray.Click = [this] { ++clicks; };
    }
};

TEST_F(TrayIcon, CarriesTheIconAndTheProgramNameAsTooltip) {
    EXPECT_EQ(tray.systemTrayIcon().toolTip(), "MP3 Tovrel");
    EXPECT_FALSE(tray.systemTrayIcon().icon().isNull());
    EXPECT_EQ(tray.systemTrayIcon().icon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
}

TEST_F(TrayIcon, AddShowsItAndRemoveHidesIt) {
    EXPECT_FALSE(tray.systemTrayIcon().isVisible());
    tray.add();
    EXPECT_TRUE(tray.systemTrayIcon().isVisible());
    tray.remove();
    EXPECT_FALSE(tray.systemTrayIcon().isVisible());
    tray.remove();  // twice is harmless
    EXPECT_FALSE(tray.systemTrayIcon().isVisible());
}

TEST_F(TrayIcon, OnlyASingleClickRaisesClick) {
    countClicks();
    tray.add();
    emit tray.systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(clicks, 1);
    emit tray.systemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
    emit tray.systemTrayIcon().activated(QSystemTrayIcon::Context);
    emit tray.systemTrayIcon().activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(clicks, 1);
}

TEST_F(TrayIcon, ClickWithoutHandlerIsHarmless) {
    tray.add();
    emit tray.systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    tray.menu().actions().value(0)->trigger();
    SUCCEED();
}

TEST_F(TrayIcon, MenuHasOneShowEntryThatRaisesClick) {
    countClicks();
    EXPECT_EQ(tray.systemTrayIcon().contextMenu(), &tray.menu());
    const auto actions = tray.menu().actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0]->text(), "Show MP3 Tovrel");
    actions[0]->trigger();
    EXPECT_EQ(clicks, 1);
}

}  // namespace
