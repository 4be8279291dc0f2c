// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <memory>

#include "components/components.h"
#include "forms/form.h"
#include "skin/buttons.h"

namespace tovrel::shell {

class FrmTovrel;

// The About window: version, credits and the Exit button, the only way to
// end the program. Its inner unit is the twip.
class FrmAbout : public forms::Form {
public:
    FrmAbout(FrmTovrel& main, components::Desktop& desktop);
    ~FrmAbout() override;

    forms::Control& ShaperElement;
    forms::Label& Label2;
    forms::Label& Label1;
    forms::Image& ExitU;
    forms::Image& ExitM;
    forms::Image& ExitD;
    forms::Shape& Shape1;

    std::unique_ptr<components::WindowShaper> Shaper;

    void Form_Load();
    void Form_MouseMove(const forms::MouseArgs& a);
    void ExitU_MouseMove(const forms::MouseArgs& a);
    void ExitM_MouseDown(const forms::MouseArgs& a);
    void ExitM_MouseUp(const forms::MouseArgs& a);

    [[nodiscard]] skin::ThreeStateButton exitButton() const { return {ExitU, ExitM, ExitD}; }

private:
    FrmTovrel& main_;
    components::Desktop& desktop_;
};

// The credit text of the About window.
extern const char* const AboutCredits;

}  // namespace tovrel::shell
