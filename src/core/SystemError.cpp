#include "SystemError.h"

QString systemErrorText(int code) {
    // qt_error_string(-1) would describe whatever errno holds by then, and 0
    // has no description: neither may pass for the error a caller had.
    if (code <= 0)
        return QStringLiteral("unknown error %1").arg(code);
    return qt_error_string(code);
}
