#include "PairingFile.h"

#include "TextRules.h"

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

Reading read(const QString& path) {
    Reading reading;
    QFile file(path);
    // QFile opens a directory without complaint on Linux; reading it then
    // fails, which lands in `unreadable` below.
    if (!file.open(QIODevice::ReadOnly)) {
        reading.found = file.exists() ? Reading::Found::unreadable : Reading::Found::absent;
        return reading;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        reading.found = Reading::Found::unreadable;
        return reading;
    }
    const auto decoded = text::decodeUtf8(bytes);
    if (!decoded) {
        reading.found = Reading::Found::notUtf8;
        return reading;
    }
    reading.found = Reading::Found::text;
    reading.keys = keysIn(*decoded);
    reading.crLfLineEnds = decoded->contains(QStringLiteral("\r\n"));
    return reading;
}

bool isPairedAt(const QString& path) {
    return read(path).isPaired();
}

} // namespace PairingFile
