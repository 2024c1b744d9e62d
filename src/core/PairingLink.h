// PairingLink: reads a "korvan" link (korvan://...?hub=...&code=...) and
// fills the two pairing fields from it.
//
// Pure; any thread. The scheme matches in any letter case; only the query
// items "hub" and "code" (names exact) are read, percent-decoded. Items
// without a value or with an empty one are ignored, and so are values whose
// decoded bytes are not UTF-8; a leading byte-order mark is dropped. When a
// name repeats, the last item with a value wins. A link whose query cannot be
// read yields nothing.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

struct PairingLinkFields {
    std::optional<QString> hub;  // unchanged, never empty when set
    std::optional<QString> code; // as written (not upper-cased), never empty when set
};

// What the pairing window's two fields (and korvanctl pair) hold.
struct PairingFields {
    QString hub;
    QString code;
};

namespace PairingLink {

bool isKorvanLink(const QUrl& url);

// The first korvan link of `urls` in order, or nothing.
std::optional<QUrl> firstKorvanLink(const QList<QUrl>& urls);

PairingLinkFields parse(const QUrl& url);

// `fields` after `link`: a hub in the link replaces the hub as written, a
// code replaces the code upper-cased; what the link lacks stays.
PairingFields prefill(PairingFields fields, const QUrl& link);

} // namespace PairingLink
