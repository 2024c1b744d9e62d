// Utf8Text: text kept as its UTF-8 bytes, which are always well-formed.
//
// A run's output stays in the form it arrived in; a QString is made only of
// what is shown. The only ways in are encoding a QString, checking bytes
// (fromUtf8), and a Builder that checks bytes as they arrive piece by piece,
// so a value of this type never holds a byte sequence that is not UTF-8. A
// byte-order mark is text like any other character: it stays in the bytes and
// toString() keeps it. A plain value; any thread may use it.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

class Utf8Text {
public:
    Utf8Text() = default;
    // Encodes `text`; an unpaired surrogate becomes a replacement character,
    // as QString::toUtf8 makes it. Implicit, so that a message of our own can
    // stand wherever a run's output can.
    Utf8Text(const QString& text) : bytes_(text.toUtf8()) {}

    // The bytes as text, or std::nullopt when any sequence is not well-formed.
    static std::optional<Utf8Text> fromUtf8(QByteArray bytes);

    const QByteArray& bytes() const { return bytes_; }
    QByteArrayView view() const { return bytes_; }
    bool isEmpty() const { return bytes_.isEmpty(); }
    QString toString() const;

    friend bool operator==(const Utf8Text&, const Utf8Text&) = default;

    class Builder;

private:
    explicit Utf8Text(QByteArray checked) : bytes_(std::move(checked)) {}
    QByteArray bytes_;
};

// Collects bytes written straight into its room (by read(2), say) and checks
// each piece as it is committed, up to the last sequence it completes; a
// sequence cut by a piece is checked once the rest has come. The bytes can
// always be taken as bytes; they become a Utf8Text only when every committed
// piece was checked and all of it is well-formed. The room grows by doubling
// and is cut to length once at the end.
class Utf8Text::Builder {
public:
    // At least `minimum` bytes of room after the bytes so far; growing may
    // move the block, so the pointer holds until the next call only.
    char* room(qsizetype minimum);
    qsizetype roomSize() const { return bytes_.size() - used_; }
    qsizetype size() const { return used_; }
    // The whole block, for advice to the kernel about its memory.
    const char* block() const { return bytes_.constData(); }
    qsizetype blockSize() const { return bytes_.size(); }

    // `count` bytes were written at room(). Unchecked bytes can no longer
    // become text.
    void commit(qsizetype count, bool check = true);

    // The text, or std::nullopt when a committed byte was not checked, a
    // sequence is not well-formed, or one is still cut at the end.
    std::optional<Utf8Text> takeText();
    QByteArray takeBytes();
    // Both leave the builder empty.

private:
    QByteArray bytes_;
    qsizetype used_ = 0;
    qsizetype checked_ = 0;
    bool valid_ = true;
};
