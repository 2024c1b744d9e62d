// Hub text: a piece of the input with no slash at either end, settled after
// one pass (unless taking slashes off uncovered blanks, which the rule leaves,
// as it takes blanks first), and an installer address only over HTTP(S).
#include "service/Enrollment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString hub = Enrollment::hubText(input);
    FUZZ_CHECK(input.contains(hub));
    FUZZ_CHECK(!hub.startsWith(u'/') && !hub.endsWith(u'/'));
    const bool blankEnd = !hub.isEmpty() && (hub.front().isSpace() || hub.back().isSpace());
    FUZZ_CHECK(blankEnd || Enrollment::hubText(hub) == hub);
    if (const std::optional<QUrl> installer = Enrollment::installerURL(hub)) {
        FUZZ_CHECK(installer->scheme().compare(u"http", Qt::CaseInsensitive) == 0 ||
                   installer->scheme().compare(u"https", Qt::CaseInsensitive) == 0);
        FUZZ_CHECK(installer->path().endsWith(u"/agent/install.sh"));
    }
    return 0;
}
