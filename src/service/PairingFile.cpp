#include "PairingFile.h"

#include "core/TextRules.h"

#include <QFile>

namespace PairingFile {

Keys keysIn(QStringView text) {
    Keys keys;
    for (QStringView line : text::splitLines(text)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (line.sliced(eq + 1).trimmed().isEmpty())
            continue;
        const QStringView key = line.first(eq);
        keys.hostId = keys.hostId || key == QStringView(hostIdKey);
        keys.token = keys.token || key == QStringView(tokenKey);
    }
    return keys;
}

bool isPaired(QStringView text) {
    const Keys keys = keysIn(text);
    return keys.hostId && keys.token;
}

bool isPairedAt(const QString& path) {
    QFile file(path);
    // QFile opens a directory without complaint on Linux; reading it then
    // fails, which lands in the same "not paired" answer below.
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    const auto decoded = text::decodeUtf8(bytes);
    return decoded && isPaired(*decoded);
}

} // namespace PairingFile
