// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/tray_icon.h"

#include <QAction>
#include <QGuiApplication>
#include <QString>

namespace tovrel::platform {

QtTrayIcon::QtTrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon)
{
    icon_.setToolTip(QString::fromLatin1(kToolTip));
    QAction* show = menu_.addAction(QString::fromLatin1(kShowEntry));
    connect(show, &QAction::triggered, this, &QtTrayIcon::raiseClick);
    icon_.setContextMenu(&menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            raiseClick();
        }
    });
}

void QtTrayIcon::add()
{
    icon_.show();
}

void QtTrayIcon::remove()
{
    if (!icon_.isVisible()) {
        return;
    }
    icon_.hide();
    // Hiding destroys the icon's window, but the request may still sit in
    // the connection's buffer; a round trip sends it and waits for the
    // window system to have handled it.
    QGuiApplication::sync();
}

bool QtTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayIcon::raiseClick()
{
    if (Click) {
        Click();
    }
}

}  // namespace tovrel::platform
