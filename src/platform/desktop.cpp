// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/desktop.h"

#include <cstdint>
#include <ctime>
#include <utility>

#include <QCoreApplication>
#include <QLocale>
#include <QMessageBox>

#include "clock/clock_text.h"

namespace tovrel::platform {

std::string systemClockText() { return readSystemClock().text; }

SystemClockReading readSystemClock() {
    // The system locale of a running program does not change here (it comes from the
    // environment it was started with), so its 12/24-hour choice is read once.
    static const bool twelve =
        clock::FormatIsTwelveHour(QLocale::system().timeFormat(QLocale::LongFormat).toStdString());
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // tzset() before each conversion: a change of the system's time zone shows at the
    // next tick (localtime_r alone would keep the zone it first saw).
    tzset();
    tm local{};
    localtime_r(&now.tv_sec, &local);
    constexpr std::int64_t SecondsADay = 86400;
    const std::int64_t localSeconds = std::int64_t{now.tv_sec} + local.tm_gmtoff;
    return {clock::RenderClockText(twelve, local.tm_hour, local.tm_min, local.tm_sec),
            static_cast<std::int32_t>(localSeconds / SecondsADay)};
}

QtDesktop::QtDesktop(QString programDirectory) : directory_(std::move(programDirectory)), icon_(SkinLibrary::icon()) {}

QtDesktop::~QtDesktop() = default;

std::string QtDesktop::clockText() {
    if (clock) return clock();
    SystemClockReading reading = readSystemClock();
    day_ = reading.day;
    return std::move(reading.text);
}

std::int32_t QtDesktop::clockDay() { return day_; }

void QtDesktop::messageBox(const std::string& text, const std::string& title) {
    // The program's line breaks are line feed + carriage return; the box
    // shows each as one break.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Information, QString::fromStdString(title), shown, QMessageBox::Ok);
    box.exec();
}

std::string QtDesktop::programDirectory() { return directory_.toStdString(); }

void QtDesktop::endProgram() {
    for (auto& [form, view] : views_) view->shutDown();
    QCoreApplication::exit(0);
}

void QtDesktop::attach(forms::Form& form) { views_[&form] = std::make_unique<FormView>(form, skin_, icon_); }

FormView* QtDesktop::viewOf(const forms::Form& form) const {
    auto it = views_.find(&form);
    return it == views_.end() ? nullptr : it->second.get();
}

std::unique_ptr<components::WindowShaper> QtDesktop::shaperFor(forms::Form& form) {
    return std::make_unique<QtWindowShaper>(*viewOf(form));
}

void QtWindowShaper::shape() { view_.applyOutline(); }

}  // namespace tovrel::platform
