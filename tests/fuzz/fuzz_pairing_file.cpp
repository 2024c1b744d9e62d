// The pairing file reader: lines naming neither key never change the answer,
// both keys with values always pair, and no pairing without both key names.
#include "service/PairingFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool paired = PairingFile::isPaired(text);
    FUZZ_CHECK(!paired ||
               (text.contains(u"KORVAN_AGENT_HOST_ID=") && text.contains(u"KORVAN_AGENT_TOKEN=")));
    // Lines go first: a line feed after a trailing carriage return joins lines.
    FUZZ_CHECK(PairingFile::isPaired(QString(u"OTHER=x\n=\n\n" + text)) == paired);
    FUZZ_CHECK(
        PairingFile::isPaired(QString(u"KORVAN_AGENT_HOST_ID=h\nKORVAN_AGENT_TOKEN=t\n" + text)));
    return 0;
}
