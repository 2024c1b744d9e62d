// The pairing file reader on decoded text: paired exactly when both agent
// keys have a line whose value is not blank.
#include "FuzzReference.h"
#include "service/PairingFile.h"
#include "core/TextRules.h"

namespace {

bool referencePaired(const QString& text) {
    bool hostId = false;
    bool token = false;
    for (const QString& line : reference::lines(text)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || reference::isBlank(line.mid(eq + 1)))
            continue;
        const QString key = line.left(eq);
        hostId |= key == QLatin1String("KORVAN_AGENT_HOST_ID");
        token |= key == QLatin1String("KORVAN_AGENT_TOKEN");
    }
    return hostId && token;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> text = text::decodeUtf8(bytes);
    if (!text)
        return 0;
    const bool paired = PairingFile::isPaired(*text);
    FUZZ_CHECK(paired == referencePaired(*text));
    // Lines that name neither key never change the answer. They go first: a
    // line feed appended after a trailing carriage return would join lines.
    const QString padded = QStringLiteral("OTHER=x\n=\n\n") + *text;
    FUZZ_CHECK(PairingFile::isPaired(padded) == paired);
    return 0;
}
