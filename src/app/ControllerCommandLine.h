// The command line of korvan-controller, read at the very start of main(),
// before the application object exists, so that nothing here needs a display.
//
// Words are sorted into three kinds: our informational options (--help,
// --version), which are answered at once; Qt's own documented options for
// QGuiApplication and QApplication (-platform, -display, -style, ..., with
// one dash or two, as Qt reads them), which go to the application object; and
// links, every word that does not start with a dash. Any other dash-word is a
// usage error named in one line, exit status 2.
//
// A link may carry a one-time pair code, and the kernel shows the argument
// memory to every local user in /proc/<pid>/cmdline. main() takes its own copy
// of the links and then blanks them where they were with hideLinks(), so that
// Qt and the process list only ever see the rest.
//
// Pure apart from answer() (writes to stdout or stderr) and hideLinks()
// (writes to argv); main thread, before the event loop.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ControllerCommandLine {

struct Reading {
    // Set when main() should print `text` and exit with `exitStatus` at once.
    std::optional<int> exitStatus;
    std::string text;
    bool toStandardError = false;
    // Indexes into argv, in their order: Qt's options with their values, and the links.
    std::vector<int> qtArguments;
    std::vector<int> links;
};

Reading read(int argc, const char* const* argv);

// Prints the reading's text and returns its exit status; a failed write (a
// closed or full stream) turns a 0 into 1, never a silent success.
int answer(const Reading& reading);

// Overwrites the bytes of the links in argv with NUL bytes, in place.
void hideLinks(char** argv, const std::vector<int>& links);

} // namespace ControllerCommandLine
