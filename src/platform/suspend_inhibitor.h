// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Holding off the desktop's automatic suspend over D-Bus: through the XDG
// desktop portal's Inhibit (GNOME and most desktops), or where no portal
// serves it, through the session's power manager (KDE's and Xfce's
// org.freedesktop.PowerManagement.Inhibit). Only suspend is held off: the
// screen still blanks and locks. Every call is asynchronous, so a bus or
// service that does not answer never holds up the windows.

#include <QObject>
#include <QString>

#include "components/components.h"

namespace tovrel::platform {

class DBusSuspendInhibitor : public QObject, public components::SuspendInhibitor {
public:
    // What the desktop's power settings show as the reason.
    static constexpr const char* kReason = "An alarm is set in MP3 Tovrel";

    DBusSuspendInhibitor() = default;
    // Lets go of what is held (the program is ending).
    ~DBusSuspendInhibitor() override;

    DBusSuspendInhibitor(const DBusSuspendInhibitor&) = delete;
    DBusSuspendInhibitor& operator=(const DBusSuspendInhibitor&) = delete;

    void hold() override;
    void release() override;

private:
    enum class Holder { None, Portal, PowerManagement };

    void askPortal();
    void askPowerManagement(const QString& portalError);
    void held(Holder holder, const QString& handle, uint cookie);
    void letGo();

    bool wanted_ = false;
    bool asking_ = false;  // an Inhibit call awaits its reply
    Holder holder_ = Holder::None;
    QString handle_;   // the portal's request object
    uint cookie_ = 0;  // the power manager's
    bool toldNothingHeld_ = false;
};

}  // namespace tovrel::platform
