// SPDX-License-Identifier: GPL-3.0-or-later
//
// Random days of use, run on the main window and on the model of
// alarm_model.h side by side: after every command, and every minute of a
// night, the window shows what the model shows and the player was started
// and stopped where the model says. A failing run is shrunk to a short list
// of commands and printed with RapidCheck's seed; RC_PARAMS="seed=N" replays
// it, RC_PARAMS="max_success=N" runs another number of cases (scripts/soak
// --model runs ten times the usual).

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/state.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>

#include "unit/alarm_model.h"
#include "unit/main_window.h"

namespace tovrel::testing {
namespace {

using model::Alarm;
using model::Move;
using model::Style;

// Cases in a run. Each is a night or more, most of them several days; the
// sanitizers make a case seven times slower.
#ifdef __SANITIZE_ADDRESS__
constexpr int CasesPerRun = 400;
#else
constexpr int CasesPerRun = 1000;
#endif

struct Totals {
    std::int64_t minutes = 0, rings = 0, snoozes = 0;
} totals;

// The main window on fake components, driven as its user drives it.
class Window : public MainWindowOnFakes {
public:
    Window(Style style, std::int64_t start) : style_(style) {
        setClock(start);
        main.Form_Load();
        main.Show();
        main.Timer_Timer();
    }

    // The desktop's clock text (7:05:00 AM or 07:05:00) and day; a new tick
    // in the same minute reads a later second.
    void setClock(std::int64_t minute) {
        second_ = minute == minute_ ? std::min(59, second_ + 20) : 0;
        minute_ = minute;
        std::string text = model::MinuteText(minute % model::MinutesADay, style_);
        text.insert(text.find(':') + 3, (second_ < 10 ? ":0" : ":") + std::to_string(second_));
        desktop.clock = text;
        desktop.day = static_cast<std::int32_t>(minute / model::MinutesADay);
    }
    void tickAt(std::int64_t minute) {
        setClock(minute);
        main.Timer_Timer();
    }
    [[nodiscard]] std::int64_t minute() const { return minute_; }

    // The pointer comes across the window's background to the button,
    // unless it still rests there from the click before.
    void click(const forms::Element& button) {
        const forms::MouseArgs at{forms::LeftButton, 0, button.rect().left + button.rect().width / 2,
                                  button.rect().top + button.rect().height / 2};
        if (pointerOn_ != &button) main.pointerMove({0, 0, 40, 20});
        pointerOn_ = &button;
        main.pointerMove(at);
        main.pointerDown(at);
        main.pointerUp(at);
    }
    // A selector moved as the scroll bar moves it: by its own steps, within
    // its own range.
    void move(forms::ScrollBar& bar, const Move& m) {
        main.pointerMove({0, 0, 40, 20});
        pointerOn_ = &bar;
        const int v = bar.Value();
        const int values[] = {v - bar.SmallChange(), v + bar.SmallChange(), v - bar.LargeChange(),
                              v + bar.LargeChange(), m.value};
        bar.setValue(std::clamp<int>(values[m.kind], bar.Min(), bar.Max()));
    }

    [[nodiscard]] model::View shown() const {
        std::vector<std::string> calls;
        std::copy_if(log.begin(), log.end(), std::back_inserter(calls),
                     [](const std::string& line) { return line.starts_with("Player.") || line == "messageBox"; });
        return {main.ScrlAlarmChg.Value(),
                main.ScrlSnooze.Value(),
                main.LblAlarmTime.Caption(),
                main.LblSnooze.Caption(),
                main.LblAlarmStatus.Caption(),
                main.LblMP3.Caption(),
                main.LblRealTime.Caption(),
                main.Ringing == forms::True,
                main.Height() == shell::ExpandedHeight,
                calls};
    }

private:
    Style style_;
    std::int64_t minute_ = 0;
    int second_ = 0;
    const forms::Element* pointerOn_ = nullptr;
};

using Command = rc::state::Command<Alarm, Window>;

// After a step: the window shows what the model shows.
void compare(const Alarm& before, const Alarm& m, const Window& w) {
    RC_ASSERT(w.shown() == m.shown());
    if (m.ringing && !before.ringing) ++totals.rings;
    if (before.ringing && !m.ringing && m.armed) ++totals.snoozes;
}

// A user's step, done to both.
struct Step : Command {
    virtual void on(Alarm& m) const = 0;
    virtual void on(Window& w) const = 0;
    void apply(Alarm& m) const override { on(m); }
    void run(const Alarm& m0, Window& w) const override {
        Alarm m = m0;
        w.log.clear();
        on(m);
        on(w);
        compare(m0, m, w);
    }
};

// A click on a button; on Browse, then a choice in the dialog (a file, or
// none: cancelled). Browse lies on the panel.
struct Button : Step {
    enum Which { OnOff, Snooze, Settings, Browse } which;
    std::string chosen;
    explicit Button(Which which, std::string chosen = {}) : which(which), chosen(std::move(chosen)) {}
    void checkPreconditions(const Alarm& m) const override { RC_PRE(which != Browse || m.panelOpen); }
    void on(Alarm& m) const override {
        if (which == Browse) return m.browse(chosen);
        which == OnOff ? m.alarmButton() : which == Snooze ? m.snoozeButton() : m.settingsButton();
    }
    void on(Window& w) const override {
        w.dialog.nextChoice = chosen;
        const forms::Image* buttons[] = {&w.main.AlarmUON, &w.main.SnoozeU, &w.main.SettingU, &w.main.BrowseU};
        w.click(*buttons[which]);
    }
    void show(std::ostream& os) const override {
        const char* names[] = {"alarm", "snooze", "settings", "browse"};
        os << names[which] << " button" << (which != Browse ? "" : chosen.empty() ? ", cancelled" : ", " + chosen);
    }
};

// A selector moved by the user. The thumb is also let go at a time counted
// from the clock, or back from midnight by the snooze length and some
// minutes (a snooze at that minute ends at midnight); so counted, a failing
// run keeps failing as shrinking takes out the commands before it.
struct Selector : Step {
    enum From { Nothing, Clock, Midnight };
    Selector(bool alarmTime, From from, Move move) : alarmTime(alarmTime), from(from), move(move) {}
    bool alarmTime;
    From from;
    Move move;
    void checkPreconditions(const Alarm& m) const override { RC_PRE(m.panelOpen); }
    [[nodiscard]] Move at(std::int64_t clock, int snooze) const {
        if (from == Clock) return {Move::To, static_cast<int>((clock + move.value) % model::MinutesADay)};
        if (from == Midnight) return {Move::To, 1440 - snooze - move.value};
        return move;
    }
    void on(Alarm& m) const override {
        const Move mv = at(m.now, m.snooze.value);
        alarmTime ? m.moveAlarmTime(mv) : m.moveSnooze(mv);
    }
    void on(Window& w) const override {
        w.move(alarmTime ? w.main.ScrlAlarmChg : w.main.ScrlSnooze, at(w.minute(), w.main.ScrlSnooze.Value()));
    }
    void show(std::ostream& os) const override {
        const char* kinds[] = {"arrow down", "arrow up", "track down", "track up", "to "};
        const char* froms[] = {"", "the clock + ", "midnight - snooze - "};
        os << (alarmTime ? "alarm time " : "snooze length ") << kinds[move.kind];
        if (move.kind == Move::To) os << froms[from] << move.value;
    }
};

// Time passing: a tick in the same minute; all the minutes at once with one
// tick after them (a sleep, the clock set back or forward); or a minute at a
// time with a tick in each (a night the computer stays awake). Counted from
// the alarm's minute, it ends that many minutes past it.
struct Time : Command {
    Time(bool eachMinute, bool fromAlarm, int minutes)
        : eachMinute(eachMinute), fromAlarm(fromAlarm), minutes(minutes) {}
    bool eachMinute, fromAlarm;
    int minutes;

    [[nodiscard]] std::int64_t length(std::int64_t now, int alarm) const {
        if (!fromAlarm) return minutes;
        const std::int64_t d = ((alarm + minutes - now) % model::MinutesADay + model::MinutesADay) % model::MinutesADay;
        return d < (eachMinute ? 1 : 2) ? d + model::MinutesADay : d;
    }
    void apply(Alarm& m) const override {
        const std::int64_t n = length(m.now, m.alarmTime.value);
        if (!eachMinute) m.setClock(m.now + n);
        for (std::int64_t i = 0; eachMinute && i < n; ++i) m.setClock(m.now + 1);
    }
    void run(const Alarm& m0, Window& w) const override {
        const std::int64_t n = length(w.minute(), w.main.ScrlAlarmChg.Value());
        Alarm m = m0;
        for (std::int64_t i = 0; i < (eachMinute ? n : 1); ++i) {
            const Alarm before = m;
            w.log.clear();
            m.setClock(m.now + (eachMinute ? 1 : n));
            w.tickAt(m.now);
            compare(before, m, w);
        }
        totals.minutes += std::max<std::int64_t>(0, n);
    }
    void show(std::ostream& os) const override {
        if (minutes == 0 && !fromAlarm) return void(os << "a tick");
        os << (eachMinute ? "minute by minute, " : "at once, ") << (fromAlarm ? "to " : "") << minutes
           << (fromAlarm ? " minutes past the alarm's minute" : " minutes");
    }
};

using CommandGen = rc::Gen<std::shared_ptr<const Command>>;

template <typename C, typename... Fixed>
CommandGen make(Fixed... fixed) {
    return rc::gen::just(std::shared_ptr<const Command>(std::make_shared<C>(fixed...)));
}
template <typename C, typename Arg, typename... Fixed>
CommandGen make(rc::Gen<Arg> arg, Fixed... fixed) {
    return rc::gen::map(std::move(arg),
                        [=](Arg a) { return std::shared_ptr<const Command>(std::make_shared<C>(fixed..., a)); });
}
rc::Gen<int> within(int min, int max) { return rc::gen::resize(rc::kNominalSize, rc::gen::inRange(min, max + 1)); }
rc::Gen<Move> to(rc::Gen<int> values) {
    return rc::gen::map(std::move(values), [](int v) { return Move{Move::To, v}; });
}
// Arrows, track clicks, Home and End.
rc::Gen<Move> steps(int min, int max) {
    return rc::gen::weightedOneOf<Move>({{3, rc::gen::element(Move{Move::StepDown}, Move{Move::StepUp})},
                                         {2, rc::gen::element(Move{Move::PageDown}, Move{Move::PageUp})},
                                         {1, rc::gen::element(Move{Move::To, min}, Move{Move::To, max})}});
}

// Long nights and, while it rings, many snoozes.
CommandGen nextCommand(const Alarm& m) {
    const std::size_t open = m.panelOpen ? 1 : 0;
    const std::size_t waiting = m.armed && !m.ringing ? 1 : 0;
    const std::size_t ringing = m.ringing ? 1 : 0;
    const std::size_t settings = m.settingsHover && !m.settingsEnabled ? 10 : m.fileLabel == model::NoFile ? 4 : 2;
    return rc::gen::weightedOneOf<std::shared_ptr<const Command>>({
        {5 - 4 * waiting, make<Button>(Button::OnOff)},
        {1 + 19 * ringing, make<Button>(Button::Snooze)},
        {settings, make<Button>(Button::Settings)},
        {3 * open, make<Button>(rc::gen::element<std::string>(
                                    "/home/ann/Music/Wake.mp3", "/home/ann/My.Music/Birds.at.dawn.mp3",
                                    "/media/usb/Radio 4 news.mp3", "/home/ann/.mp3", "/home/ann/Music/alarm", ""),
                                Button::Browse)},
        {3 * open, make<Selector>(steps(0, 1439), true, Selector::Nothing)},
        {2 * open, make<Selector>(to(within(0, 180)), true, Selector::Clock)},
        {1 * open, make<Selector>(to(within(0, 1439)), true, Selector::Clock)},
        {3 * open, make<Selector>(to(within(0, 2)), true, Selector::Midnight)},
        {1 * open, make<Selector>(steps(1, 120), false, Selector::Nothing)},
        {1 * open, make<Selector>(to(within(1, 120)), false, Selector::Nothing)},
        {2 + 3 * ringing, make<Time>(rc::gen::just(0), false, false)},
        {3, make<Time>(within(1, 720), true, false)},
        {1 + 3 * waiting, make<Time>(rc::gen::oneOf(rc::gen::just(0), within(0, 30)), true, true)},
        {2, make<Time>(within(2, 120), false, false)},
        {1, make<Time>(within(121, 2000), false, false)},
        {1 + waiting, make<Time>(rc::gen::oneOf(within(0, 90), rc::gen::element(0, 1, 59, 60, 61)), false, true)},
        {1, make<Time>(rc::gen::element(-60, 60), false, false)},  // the clock set back or forward
    });
}

TEST(AlarmModel, RandomDaysOfUseShowWhatTheModelShows) {
    rc::detail::TestParams params = rc::detail::configuration().testParams;
    const char* given = std::getenv("RC_PARAMS");
    const bool usual = given == nullptr || std::string_view(given).find("max_success") == std::string_view::npos;
    if (usual) params.maxSuccess = CasesPerRun;
    totals = {};
    const auto result = rc::detail::checkTestable(
        [] {
            const Style style = *rc::gen::element(Style::TwelveHour, Style::TwentyFourHour);
            // Half of the days start in the evening. A midnight long ago, so
            // that the clock can be set back.
            const std::int64_t start = 1000 * model::MinutesADay + *rc::gen::oneOf(within(0, 1439), within(1200, 1439));
            const Alarm first(style, start);
            const auto commands = *rc::state::gen::commands(first, &nextCommand);
            Window window(style, start);
            rc::state::runAll(commands, first, window);
            // Every case ends with a night, whatever its commands left.
            Alarm last = first;
            rc::state::applyAll(commands, last);
            RC_LOG() << "and then 720 minutes, minute by minute";
            Time(true, false, 720).run(last, window);
        },
        rc::detail::TestMetadata{"AlarmModel", "random days of use"}, params);
    if (!result.is<rc::detail::SuccessResult>()) {
        std::ostringstream s;
        rc::detail::printResultMessage(result, s);
        FAIL() << s.str() << "\nReplay: RC_PARAMS=\"seed=" << params.seed << " max_success=" << params.maxSuccess
               << "\"";
    }
    const std::int64_t days = totals.minutes / model::MinutesADay;
    std::cout << params.maxSuccess << " cases, " << days << " days, " << totals.rings << " rings, " << totals.snoozes
              << " snoozes (seed " << params.seed << ")\n";
    if (usual) {
        EXPECT_GE(days, 365);
    }
}

}  // namespace
}  // namespace tovrel::testing
