// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/frm_about.h"

#include "shell/frm_tovrel.h"

namespace tovrel::shell {

using forms::Alignment;
using forms::Face;
using forms::False;
using forms::Font;
using forms::Rect;
using forms::True;

const char* const AboutCredits =
    "MP3 Tovrel was written by the Tovrel developers. "
    "Get the newest version from the Tovrel project page. "
    "Tovrel is freeware: use it and share it at no cost.";

namespace {

forms::FormDesign aboutDesign() {
    forms::FormDesign d;
    d.name = "FrmAbout";
    d.caption = "About";
    d.scale = forms::ScaleMode::Twip;
    d.clientWidthTwips = layout::WindowWidth;
    d.clientHeightTwips = layout::AboutHeight;
    d.leftTwips = layout::WindowLeft;
    d.topTwips = layout::WindowTop;
    return d;
}

consteval Rect at(std::string_view name) { return placed(layout::of(layout::About, name)); }

constexpr Rect ExitRect = at("Exit");

}  // namespace

FrmAbout::FrmAbout(FrmTovrel& main, components::Desktop& desktop)
    : Form(aboutDesign()),
      ShaperElement(add<forms::Control>("Shaper")),
      Label2(add<forms::Label>("Label2", at("Label2"), "Version " TOVREL_VERSION, Alignment::Center,
                               Font{Face::Dialog, 12.0F, 700})),
      Label1(add<forms::Label>("Label1", at("Label1"), AboutCredits, Alignment::Left, Font{Face::Dialog, 8.25F, 700},
                               false)),
      ExitU(add<forms::Image>("ExitU", ExitRect, False)),
      ExitM(add<forms::Image>("ExitM", ExitRect, False)),
      ExitD(add<forms::Image>("ExitD", ExitRect, True)),
      Shape1(add<forms::Shape>("Shape1", at("Shape1"), 150.0F)),
      main_(main),
      desktop_(desktop) {
    Form::Form_MouseMove = [this](const forms::MouseArgs& a) { Form_MouseMove(a); };
    ExitU.MouseMove = [this](const forms::MouseArgs& a) { ExitU_MouseMove(a); };
    ExitM.MouseDown = [this](const forms::MouseArgs& a) { ExitM_MouseDown(a); };
    ExitM.MouseUp = [this](const forms::MouseArgs& a) { ExitM_MouseUp(a); };
    addButton("Exit", {&ExitU, &ExitM, &ExitD});
    Label2.setPurpose("Version");
    desktop_.attach(*this);
    Shaper = desktop_.shaperFor(*this);
}

FrmAbout::~FrmAbout() = default;

void FrmAbout::Form_Load() { Shaper->shape(); }

void FrmAbout::Form_MouseMove(const forms::MouseArgs& /*a*/) { skin::reset(exitButton()); }

void FrmAbout::ExitU_MouseMove(const forms::MouseArgs& /*a*/) {
    ExitM.setVisible(True);
    ExitU.setVisible(False);
    ExitD.setVisible(False);
}

void FrmAbout::ExitM_MouseDown(const forms::MouseArgs& /*a*/) { skin::press(exitButton()); }

void FrmAbout::ExitM_MouseUp(const forms::MouseArgs& /*a*/) {
    main_.STray.remove();
    desktop_.endProgram();
}

}  // namespace tovrel::shell
