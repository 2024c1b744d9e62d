// PairingOutcome: the rules that turn a pairing attempt into the window's
// status line, and the normalisation of a typed pair code.
//
// Pure; any thread.
#pragma once

#include "core/CommandResult.h"

#include <QString>
#include <optional>

namespace PairingOutcome {

// The code as sent: trimmed, then upper-cased without regard to locale.
// std::nullopt when nothing remains (an empty code is never sent).
std::optional<QString> normalizedCode(const QString& typed);

// The hub text as sent: trimmed of Unicode white space and line breaks.
QString normalizedHub(const QString& typed);

// The green line shown after a successful pairing.
QString successLine();

// The red line for a failed attempt: `error` when it is not empty (tested
// before trimming), else `output`; trimmed; the generic text when nothing
// remains, else its last 240 user-perceived characters.
QString failureLine(const CommandResult& result);

} // namespace PairingOutcome
