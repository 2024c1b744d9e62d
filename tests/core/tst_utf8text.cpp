// Strict UTF-8, whole and in pieces: rows place each sequence where the
// 32-byte blocks of the vector check meet, after ASCII or CJK, and at the end.
#include "core/Utf8Check.h"
#include "core/Utf8Text.h"

#include <QTest>

class Utf8TextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whole_data();
    void whole();
    void inPieces_data() { whole_data(); }
    void inPieces();
};

void Utf8TextTest::whole_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("wellFormed");
    const auto ascii = [](int n) { return QByteArray(n, 'a'); };
    const auto cjk = [](int n) { return QByteArray("\xE9\x94\x99").repeated(n); };
    const auto row = [](const char* name, const QByteArray& bytes, bool wellFormed) {
        QTest::newRow(name) << bytes << wellFormed;
    };
    row("CJK over several blocks", cjk(40), true);
    row("four bytes across a block edge", ascii(30) + "\xF0\x9F\x98\x80" + ascii(40), true);
    row("byte-order mark, then ASCII", "\xEF\xBB\xBF" + ascii(70), true);
    row("U+10FFFF at a block edge", ascii(61) + "\xF4\x8F\xBF\xBF" + ascii(9), true);
    row("U+D7FF, U+E000, U+0800, U+10000",
        cjk(20) + "\xED\x9F\xBF\xEE\x80\x80\xE0\xA0\x80\xF0\x90\x80\x80", true);
    row("surrogate", cjk(20) + "\xED\xA0\x80" + cjk(5), false);
    row("overlong two bytes", ascii(40) + "\xC1\xBF" + ascii(30), false);
    row("overlong three bytes", ascii(40) + "\xE0\x9F\xBF" + ascii(30), false);
    row("overlong four bytes", ascii(40) + "\xF0\x8F\xBF\xBF" + ascii(30), false);
    row("past U+10FFFF", cjk(15) + "\xF4\x90\x80\x80" + ascii(30), false);
    row("lead F5", ascii(40) + "\xF5\x80\x80\x80" + ascii(30), false);
    row("continuation opening an ASCII block", ascii(32) + "\x80" + ascii(31), false);
    row("lead ending a block before an ASCII one", cjk(10) + ascii(1) + "\xE9" + ascii(32), false);
    row("three-byte sequence one short", cjk(10) + "\xE9\x94" + ascii(40), false);
    row("cut at the end", cjk(30) + "\xF0\x9F\x98", false);
    row("short and well-formed", "\xE9\x94\x99", true);
    row("short and overlong", "\xC0\x80", false);
}

void Utf8TextTest::whole() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, wellFormed);
    QCOMPARE(Utf8Text::fromUtf8(bytes).has_value(), wellFormed);
}

void Utf8TextTest::inPieces() { // as pipe reads come: seven bytes at a time
    QFETCH(QByteArray, bytes);
    QFETCH(bool, wellFormed);
    Utf8Text::Builder builder;
    for (qsizetype at = 0; at < bytes.size(); at += 7) {
        const QByteArrayView piece =
            QByteArrayView(bytes).sliced(at).first(std::min<qsizetype>(7, bytes.size() - at));
        std::copy(piece.begin(), piece.end(), builder.room(piece.size()));
        builder.commit(piece.size());
    }
    const std::optional<Utf8Text> text = builder.takeText();
    QCOMPARE(text ? text->bytes() : QByteArray("invalid"), wellFormed ? bytes : "invalid");
}

QTEST_GUILESS_MAIN(Utf8TextTest)
#include "tst_utf8text.moc"
