// SPDX-License-Identifier: GPL-3.0-or-later
//
// Writes the windows' layout table as JSON, for the tests that cannot include
// it: every place in pixels (the About window's rounded from twips as the
// windows draw them), the windows' sizes and the skin pictures'.

#include <cstdio>
#include <string_view>

#include "shell/layout.h"

namespace {

using namespace tovrel::shell::layout;

int pixels(int twips) { return tovrel::forms::twipsToPixels(static_cast<float>(twips)); }

template <std::size_t N>
void table(std::string_view name, const std::array<Place, N>& places, bool twips, bool last = false) {
    std::printf("  \"%.*s\": {", static_cast<int>(name.size()), name.data());
    const char* comma = "";
    for (const Place& p : places) {
        const auto [left, top, width, height] = p.box;
        const auto px = [twips](int v) { return twips ? pixels(v) : v; };
        std::printf("%s\n    \"%.*s\": [%d, %d, %d, %d]", comma, static_cast<int>(p.name.size()), p.name.data(),
                    px(left), px(top), px(width), px(height));
        comma = ",";
    }
    std::printf("\n  }%s\n", last ? "" : ",");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::freopen(argv[1], "w", stdout) == nullptr) {
        std::fprintf(stderr, "usage: %s LAYOUT.json\n", argv[0]);
        return 2;
    }
    std::printf("{\n");
    table("main", Main, false);
    table("about", About, true);
    std::printf(
        "  \"window\": {\"width\": %d, \"design_height\": %d, \"collapsed_height\": %d, "
        "\"expanded_height\": %d, \"about_height\": %d, \"left\": %d, \"top\": %d},\n",
        pixels(WindowWidth), pixels(MainHeight), pixels(CollapsedHeight), pixels(ExpandedHeight), pixels(AboutHeight),
        pixels(WindowLeft), pixels(WindowTop));
    std::printf("  \"skin\": {\"main\": [%d, %d], \"about\": [%d, %d]},\n", MainSkin.width, MainSkin.height,
                AboutSkin.width, AboutSkin.height);
    std::printf("  \"pictures\": {");
    const char* comma = "";
    for (const auto& [name, place] : Pictures) {
        std::printf("%s\n    \"%.*s\": \"%.*s\"", comma, static_cast<int>(name.size()), name.data(),
                    static_cast<int>(place.size()), place.data());
        comma = ",";
    }
    std::printf("\n  }\n}\n");
    return std::fclose(stdout) == 0 ? 0 : 1;
}
