// SPDX-License-Identifier: GPL-3.0-or-later

#include "unit/fakes.h"

#include <sstream>

namespace tovrel::testing {

ChangeRecorder::ChangeRecorder(forms::Form& form) : form_(form) {
    for (const auto& e : form.elements()) seen_.push_back({e->Visible(), e->Enabled()});
    form.setObserver(this);
}

ChangeRecorder::~ChangeRecorder() { form_.setObserver(nullptr); }

void ChangeRecorder::elementChanged(const forms::Element& e) {
    Seen& seen = seen_.at(static_cast<std::size_t>(e.index() - 1));
    if (e.Visible() != seen.visible) changes.push_back((e.Visible() != 0 ? "+" : "-") + e.name());
    if (e.Enabled() != seen.enabled) changes.push_back(e.name() + ".Enabled=" + std::to_string(e.Enabled()));
    seen = {e.Visible(), e.Enabled()};
    if (const auto* label = dynamic_cast<const forms::Label*>(&e)) changes.push_back(e.name() + "=" + label->Caption());
    if (const auto* line = dynamic_cast<const forms::Line*>(&e)) {
        std::ostringstream s;
        s << e.name() << " " << line->X1() << "," << line->Y1() << "-" << line->X2() << "," << line->Y2();
        changes.push_back(s.str());
    }
    if (const auto* bar = dynamic_cast<const forms::ScrollBar*>(&e))
        changes.push_back(e.name() + ".Value=" + std::to_string(bar->Value()));
}

void ChangeRecorder::geometryChanged() { ++geometryChanges; }
void ChangeRecorder::visibilityChanged() { changes.push_back(form_.isShown() ? "Show" : "Hide"); }
void ChangeRecorder::focusRequested() {
    ++focusRequests;
    changes.push_back("SetFocus");
}
void ChangeRecorder::minimizeRequested() {
    ++minimizeRequests;
    changes.push_back("Minimize");
}

}  // namespace tovrel::testing
