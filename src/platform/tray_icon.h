// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The notification-area icon. Clicking it, or choosing "Show MP3 Tovrel"
// from its menu, raises Click. The notification area coming or going raises
// AvailabilityChanged.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include "components/components.h"

namespace tovrel::platform {

class QtTrayIcon : public QObject, public components::TrayIcon {
    Q_OBJECT

public:
    static constexpr const char* kToolTip = "MP3 Tovrel";
    static constexpr const char* kShowEntry = "Show MP3 Tovrel";

    explicit QtTrayIcon(const QIcon& icon, QObject* parent = nullptr);

    QtTrayIcon(const QtTrayIcon&) = delete;
    QtTrayIcon& operator=(const QtTrayIcon&) = delete;

    // Shows the icon; without a notification area yet, it appears as soon
    // as one starts.
    void add() override;
    // Hides the icon and makes sure the window system has taken it away
    // before returning, since the program may end right after.
    void remove() override;
    // Whether the desktop has a notification area right now.
    [[nodiscard]] bool isAvailable() const override;

    [[nodiscard]] QSystemTrayIcon& systemTrayIcon() { return icon_; }
    [[nodiscard]] QMenu& menu() { return menu_; }

private slots:
    void notificationAreaChanged();

private:
    void raiseClick();

    bool available_ = false;

    // The icon refers to the menu, so it is declared after it and goes
    // first.
    QMenu menu_;
    QSystemTrayIcon icon_;
};

}  // namespace tovrel::platform
