// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QIcon>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "components/components.h"
#include "platform/form_view.h"
#include "platform/skin_library.h"

namespace tovrel::platform {

// The clock text: the 12/24-hour choice from the user's locale, the time in
// the program's own fixed shape.
std::string systemClockText();

// The clock text and the local date it belongs to, read at one instant.
struct SystemClockReading {
    std::string text;
    std::int32_t day;  // days since 1970-01-01, local date
};
SystemClockReading readSystemClock();

// The desktop as the windows see it: windows, clock, message box, the
// program's folder and its end.
class QtDesktop : public components::Desktop {
public:
    explicit QtDesktop(QString programDirectory);
    ~QtDesktop() override;

    std::string clockText() override;
    std::int32_t clockDay() override;
    void messageBox(const std::string& text, const std::string& title) override;
    std::string programDirectory() override;
    void endProgram() override;
    void attach(forms::Form& form) override;
    std::unique_ptr<components::WindowShaper> shaperFor(forms::Form& form) override;

    [[nodiscard]] FormView* viewOf(const forms::Form& form) const;
    [[nodiscard]] SkinLibrary& skin() { return skin_; }
    [[nodiscard]] const QIcon& icon() const { return icon_; }

    // Replaces the clock (tests set the time they need).
    std::function<std::string()> clock;

private:
    QString directory_;
    std::int32_t day_ = 0;
    SkinLibrary skin_;
    QIcon icon_;
    std::map<const forms::Form*, std::unique_ptr<FormView>> views_;
};

// Cuts a window to its outline.
class QtWindowShaper : public components::WindowShaper {
public:
    explicit QtWindowShaper(FormView& view) : view_(view) {}
    void shape() override;

private:
    FormView& view_;
};

}  // namespace tovrel::platform
