// SPDX-License-Identifier: GPL-3.0-or-later

#include <limits>
#include <stdexcept>

#include "shell/frm_tovrel.h"

namespace tovrel::shell {

using forms::False;
using forms::True;

namespace {

// 1-based position of the first folder separator, 0 when there is none.
// Paths here use "/"; "\" separates folders as well.
std::int16_t firstSeparator(const std::string& s) {
    const std::size_t at = s.find_first_of("/\\");
    if (at == std::string::npos) return 0;
    if (at >= static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
        throw std::overflow_error("Overflow: file name too long");
    return static_cast<std::int16_t>(at + 1);
}

}  // namespace

void FrmTovrel::SettingM_MouseUp(const forms::MouseArgs& /*a*/) {
    SettingM.setVisible(True);
    SettingU.setVisible(False);
    SettingD.setVisible(False);
    if (SettingsOpen == False) {
        SettingsOpen = True;
        setHeight(ExpandedHeight);
    } else if (SettingsOpen == True) {
        SettingsOpen = False;
        setHeight(CollapsedHeight);
    }
    playClick();
}

void FrmTovrel::BrowseM_MouseUp(const forms::MouseArgs& /*a*/) {
    BrowseM.setVisible(False);
    BrowseU.setVisible(True);
    BrowseD.setVisible(False);
    Dialog.showOpen();
    MP3Name = Dialog.fileName();
    // The dialog's own "*.mp3", untouched, means nothing was ever chosen; a
    // chosen file always comes with its folders.
    const bool chosenPath = firstSeparator(MP3Name) != 0;
    do {
        MP3Name = MP3Name.substr(static_cast<std::size_t>(firstSeparator(MP3Name)));
        SlashPos = firstSeparator(MP3Name);
    } while (SlashPos != 0);
    if (const std::size_t dot = MP3Name.find('.'); dot != std::string::npos) MP3Name.resize(dot);
    if (MP3Name == "*" && !chosenPath)
        LblMP3.setCaption(NoFileSelected);
    else
        LblMP3.setCaption(MP3Name);
}

}  // namespace tovrel::shell
