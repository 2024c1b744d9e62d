// The pairing file reader: lines naming neither key never change the answer,
// both keys with values always pair, a value of blanks alone never does, and
// no pairing without both key names.
#include "service/PairingFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto paired = [](const QString& t) { return PairingFile::isPaired(t); };
    const bool was = paired(text);
    FUZZ_CHECK(!was ||
               (text.contains(u"KORVAN_AGENT_HOST_ID=") && text.contains(u"KORVAN_AGENT_TOKEN=")));
    // Lines go first: a line feed after a trailing carriage return joins lines.
    FUZZ_CHECK(paired(u"OTHER=x\n=\n\n" + text) == was);
    FUZZ_CHECK(paired(u"KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n" + text));
    const QString value = QString(text).remove(u'\n');
    FUZZ_CHECK(paired(u"KORVAN_AGENT_TOKEN=t\nKORVAN_AGENT_HOST_ID=" + value) ==
               !value.trimmed().isEmpty());
    return 0;
}
