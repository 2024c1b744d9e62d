#include "PairingFile.h"

#include "TextRules.h"

#include <QFile>

namespace PairingFile {

bool isPaired(QStringView text) {
    bool hostId = false;
    bool token = false;
    for (QStringView line : text::splitLines(text)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (line.sliced(eq + 1).trimmed().isEmpty())
            continue;
        const QStringView key = line.first(eq);
        hostId = hostId || key == QStringView(hostIdKey);
        token = token || key == QStringView(tokenKey);
    }
    return hostId && token;
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
