// Hub text: a piece of the input with no slash at either end, blanks trimmed
// when there are no slashes, settled after one pass unless taking slashes off
// uncovered blanks (blanks go first), and installers only over HTTP(S).
#include "service/Enrollment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString hub = Enrollment::hubText(input);
    FUZZ_CHECK(input.contains(hub));
    FUZZ_CHECK(!hub.startsWith(u'/') && !hub.endsWith(u'/'));
    FUZZ_CHECK(input.contains(u'/') || hub == input.trimmed());
    FUZZ_CHECK(hub.trimmed() != hub || Enrollment::hubText(hub) == hub);
    if (const std::optional<QUrl> installer = Enrollment::installerURL(hub)) {
        FUZZ_CHECK(installer->scheme() == u"http" || installer->scheme() == u"https");
        FUZZ_CHECK(installer->path().endsWith(u"/agent/install.sh"));
    }
    return 0;
}
