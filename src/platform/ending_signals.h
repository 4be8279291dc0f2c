// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace tovrel::platform {

// SIGTERM, SIGINT and SIGHUP (the desktop session ending, a kill, Ctrl-C)
// take the program's own way out on the event loop: the handler only writes
// a byte to a pipe, and the given function runs when the loop reads it.
class EndingSignals : public QObject {
public:
    explicit EndingSignals(std::function<void()> onEnd);
    ~EndingSignals() override;
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

private:
    std::function<void()> onEnd_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tovrel::platform
