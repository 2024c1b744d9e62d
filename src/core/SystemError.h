// SystemError: the one place that turns an error number (errno, or what
// posix_spawn and friends return) into text for people.
//
// Thread-safe; any thread may call it.
#pragma once

#include <QString>

// The system's description of `code`, e.g. "Permission denied". A code that
// is not an error number (0 or negative) reads "unknown error <code>".
QString systemErrorText(int code);
