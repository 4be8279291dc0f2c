// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/suspend_inhibitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <cstdio>
#include <functional>

namespace tovrel::platform {

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPowerManagement = QStringLiteral("org.freedesktop.PowerManagement");
const QString kPowerManagementPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");
const QString kPowerManagementInterface = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");
// The portal's flags: logout 1, user switch 2, suspend 4, idle 8.
constexpr uint kSuspendOnly = 4;

}  // namespace

DBusSuspendInhibitor::~DBusSuspendInhibitor() {
    wanted_ = false;
    letGo();
}

void DBusSuspendInhibitor::hold() {
    wanted_ = true;
    if (!asking_ && holder_ == Holder::None) askPortal();
}

void DBusSuspendInhibitor::release() {
    wanted_ = false;
    // An answer still on its way is let go of when it comes.
    letGo();
}

// Calls a method on the session bus (connected at the first call, not at
// start-up) and hands its reply to `done` on this thread, whenever it comes;
// nothing waits for it.
static void callLater(QObject* owner, const QDBusMessage& call, const std::function<void(const QDBusMessage&)>& done) {
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner, [done](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        done(answered->reply());
    });
}

void DBusSuspendInhibitor::askPortal() {
    asking_ = true;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
                                       QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << kSuspendOnly << QVariantMap{{QStringLiteral("reason"), QString::fromUtf8(kReason)}};
    callLater(this, call, [this](const QDBusMessage& reply) {
        const QDBusPendingReply<QDBusObjectPath> handle(reply);
        if (handle.isError()) {
            askPowerManagement(handle.error().message());
        } else {
            held(Holder::Portal, handle.value().path(), 0);
        }
    });
}

void DBusSuspendInhibitor::askPowerManagement(const QString& portalError) {
    QDBusMessage call = QDBusMessage::createMethodCall(kPowerManagement, kPowerManagementPath,
                                                       kPowerManagementInterface, QStringLiteral("Inhibit"));
    call << QCoreApplication::applicationName() << QString::fromUtf8(kReason);
    callLater(this, call, [this, portalError](const QDBusMessage& reply) {
        const QDBusPendingReply<uint> cookie(reply);
        if (!cookie.isError()) {
            held(Holder::PowerManagement, {}, cookie.value());
            return;
        }
        asking_ = false;
        if (!toldNothingHeld_) {
            toldNothingHeld_ = true;
            std::fprintf(stderr,
                         "tovrel: the desktop cannot be kept from suspending the computer while the alarm is "
                         "armed (desktop portal: %s; power manager: %s)\n",
                         qUtf8Printable(portalError), qUtf8Printable(cookie.error().message()));
        }
    });
}

void DBusSuspendInhibitor::held(Holder holder, const QString& handle, uint cookie) {
    asking_ = false;
    holder_ = holder;
    handle_ = handle;
    cookie_ = cookie;
    if (!wanted_) letGo();
}

void DBusSuspendInhibitor::letGo() {
    QDBusMessage call;
    switch (holder_) {
        case Holder::None:
            return;
        case Holder::Portal:
            call = QDBusMessage::createMethodCall(kPortal, handle_, QStringLiteral("org.freedesktop.portal.Request"),
                                                  QStringLiteral("Close"));
            break;
        case Holder::PowerManagement:
            call = QDBusMessage::createMethodCall(kPowerManagement, kPowerManagementPath, kPowerManagementInterface,
                                                  QStringLiteral("UnInhibit"));
            call << cookie_;
            break;
    }
    holder_ = Holder::None;
    // Sent without waiting for the answer.
    QDBusConnection::sessionBus().send(call);
}

}  // namespace tovrel::platform
