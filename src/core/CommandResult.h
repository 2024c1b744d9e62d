// CommandResult: the outcome of one control-script or installer run.
//
// A plain value, copied freely and never changed after it is made. `output`
// and `error` hold the streams exactly as written, as the UTF-8 bytes they
// were checked to be (empty when they were not), or, when the run never
// happened, a message made by the runner in `error`. Only what is shown
// becomes a QString (toString()).
// `status` is the exit code, the signal number of a signalled child, or one of
// the runner's own statuses (127, 126, 64, 1).
#pragma once

#include "core/Utf8Text.h"

struct CommandResult {
    Utf8Text output;
    Utf8Text error;
    qint32 status = 0;
    // What went wrong, in the words of the layer that saw it (the URL, the
    // HTTP status or Qt's error, the reason); empty when there is none. For
    // a terminal or a log, never for the pairing window.
    QString detail{};

    friend bool operator==(const CommandResult&, const CommandResult&) = default;
};
