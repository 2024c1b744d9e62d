#include "ControllerCommandLine.h"

#include "KorvanConfig.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace ControllerCommandLine {

namespace {

constexpr char usage[] =
    "usage: korvan-controller [QT-OPTION]... [LINK]\n"
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
    "Qt's own options are passed on to Qt: -platform, -platformpluginpath,\n"
    "-platformtheme, -plugin, -display, -geometry, -qwindowgeometry,\n"
    "-qwindowicon, -qwindowtitle, -session, -style, -stylesheet, -reverse,\n"
    "-widgetcount and -qmljsdebugger=. The offscreen and minimal platforms need\n"
    "no display.\n"
    "\n"
    "The service root is $KORVAN_APP_SUPPORT_DIR, or\n"
    "~/Library/Application Support/Korvan/Korvan-VPS-Hub when it is unset.\n"
    "korvanctl does the same from a shell, without a display.\n";

// Qt's documented options, named without their leading dash.
constexpr std::array<std::string_view, 12> kTakesValue = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",  "display", "geometry",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session", "style",   "stylesheet"};
constexpr std::array<std::string_view, 2> kFlags = {"reverse", "widgetcount"};
constexpr std::array<std::string_view, 3> kWithEquals = {"style=", "stylesheet=", "qmljsdebugger="};

template <std::size_t N>
bool isOneOf(std::string_view word, const std::array<std::string_view, N>& names) {
    return std::ranges::find(names, word) != names.end();
}

Reading usageError(const std::string& what) {
    Reading reading;
    reading.exitStatus = 2;
    reading.text = "korvan-controller: " + what + '\n';
    reading.toStandardError = true;
    return reading;
}

} // namespace

Reading read(int argc, const char* const* argv) {
    Reading reading;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word(argv[i]);
        if (word == "--help" || word == "--version") {
            Reading answered;
            answered.exitStatus = 0;
            answered.text = word == "--help"
                                ? std::string(usage)
                                : "korvan-controller " + std::string(korvan::version) + '\n';
            return answered;
        }
        if (!word.starts_with('-')) {
            reading.links.push_back(i);
            continue;
        }
        // Qt reads "--platform" as "-platform".
        std::string_view name = word.substr(word.starts_with("--") ? 2 : 1);
        const std::size_t equals = name.find('=');
        if ((equals != std::string_view::npos &&
             isOneOf(name.substr(0, equals + 1), kWithEquals)) ||
            isOneOf(name, kFlags)) {
            reading.qtArguments.push_back(i);
        } else if (isOneOf(name, kTakesValue)) {
            if (i + 1 >= argc)
                return usageError(std::string(word) + " needs a value");
            reading.qtArguments.insert(reading.qtArguments.end(), {i, i + 1});
            ++i;
        } else {
            return usageError("unknown option '" + std::string(word) + '\'');
        }
    }
    return reading;
}

int answer(const Reading& reading) {
    std::FILE* stream = reading.toStandardError ? stderr : stdout;
    std::fputs(reading.text.c_str(), stream);
    const bool written = std::fflush(stream) == 0 && !std::ferror(stream);
    return *reading.exitStatus == 0 && !written ? 1 : *reading.exitStatus;
}

void hideLinks(char** argv, const std::vector<int>& links) {
    for (const int i : links)
        std::memset(argv[i], 0, std::strlen(argv[i]));
}

} // namespace ControllerCommandLine
