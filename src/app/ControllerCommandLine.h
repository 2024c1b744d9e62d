// The informational options of korvan-controller (--help, --version). They are
// answered at the very start of main(), before the application object: they
// need no display, and a running controller never sees them through the
// single-instance channel. Header-only so that main() needs no new target.
#pragma once

#include "KorvanConfig.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace ControllerCommandLine {

inline constexpr char usage[] =
    "usage: korvan-controller [LINK]\n"
    "\n"
    "The Korvan Controller tray program: one status item whose menu shows the\n"
    "services' state and starts, stops and restarts them, and a window that\n"
    "pairs this machine with a hub. It runs once per user: a later launch hands\n"
    "its link to the running controller and exits.\n"
    "\n"
    "  LINK         a korvan://pair?hub=URL&code=CODE link: opens the pairing\n"
    "               window filled in\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "The service root is $KORVAN_APP_SUPPORT_DIR, or\n"
    "~/Library/Application Support/Korvan/Korvan-VPS-Hub when it is unset.\n"
    "korvanctl does the same from a shell, without a display.\n";

// The exit status when the arguments ask for help or the version, after
// printing it; nothing when the tray program should start. A failed write
// (a closed or full stdout) is a failure, not a silent 0.
inline std::optional<int> answer(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const bool help = std::strcmp(argv[i], "--help") == 0;
        if (!help && std::strcmp(argv[i], "--version") != 0)
            continue;
        if (help)
            std::fputs(usage, stdout);
        else
            std::printf("korvan-controller %s\n", korvan::version);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    return std::nullopt;
}

} // namespace ControllerCommandLine
