// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/tray_icon.h"

#include <qpa/qplatformnativeinterface.h>
#include <QAction>
#include <QGuiApplication>
#include <QString>

namespace tovrel::platform {

QtTrayIcon::QtTrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon) {
    icon_.setToolTip(QString::fromLatin1(kToolTip));
    QAction* show = menu_.addAction(QString::fromLatin1(kShowEntry));
    connect(show, &QAction::triggered, this, &QtTrayIcon::raiseClick);
    icon_.setContextMenu(&menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            raiseClick();
        }
    });
    // Qt's X11 platform watches the owner of the notification area (the
    // _NET_SYSTEM_TRAY_S<screen> selection): it reports the owner's window
    // going away and a new owner announcing itself, so nothing is polled.
    // The signal belongs to that platform only, hence the connection by name.
    available_ = isAvailable();
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native != nullptr && native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0) {
        connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(notificationAreaChanged()));
    }
}

void QtTrayIcon::add() { icon_.show(); }

void QtTrayIcon::remove() {
    if (!icon_.isVisible()) {
        return;
    }
    icon_.hide();
    // Hiding destroys the icon's window, but the request may still sit in
    // the connection's buffer; a round trip sends it and waits for the
    // window system to have handled it.
    QGuiApplication::sync();
}

bool QtTrayIcon::isAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtTrayIcon::notificationAreaChanged() {
    const bool available = isAvailable();
    if (available == available_) {
        return;
    }
    available_ = available;
    if (AvailabilityChanged) {
        AvailabilityChanged();
    }
}

void QtTrayIcon::raiseClick() {
    if (Click) {
        Click();
    }
}

}  // namespace tovrel::platform
