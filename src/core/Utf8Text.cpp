#include "core/Utf8Text.h"

#include "core/TextRules.h"
#include "core/Utf8Check.h"

#include <algorithm>

std::optional<Utf8Text> Utf8Text::fromUtf8(QByteArray bytes) {
    if (!utf8::isWellFormed(bytes))
        return std::nullopt;
    return Utf8Text(std::move(bytes));
}

QString Utf8Text::toString() const {
    return text::fromWellFormedUtf8(bytes_);
}

char* Utf8Text::Builder::room(qsizetype minimum) {
    if (bytes_.size() - used_ < minimum)
        bytes_.resize(std::max<qsizetype>(2 * bytes_.size(), used_ + minimum));
    return bytes_.data() + used_;
}

void Utf8Text::Builder::commit(qsizetype count, bool check) {
    used_ += count;
    if (!check)
        valid_ = false;
    if (!valid_)
        return;
    const QByteArrayView written(bytes_.constData(), used_);
    const qsizetype complete = utf8::completePrefix(written);
    valid_ = utf8::isWellFormed(written.sliced(checked_, complete - checked_));
    checked_ = complete;
}

std::optional<Utf8Text> Utf8Text::Builder::takeText() {
    const bool valid = valid_;
    const qsizetype checked = checked_;
    QByteArray bytes = takeBytes();
    if (!valid || !utf8::isWellFormed(QByteArrayView(bytes).sliced(checked)))
        return std::nullopt;
    return Utf8Text(std::move(bytes));
}

QByteArray Utf8Text::Builder::takeBytes() {
    bytes_.resize(used_);
    used_ = checked_ = 0;
    valid_ = true;
    return std::exchange(bytes_, QByteArray());
}
