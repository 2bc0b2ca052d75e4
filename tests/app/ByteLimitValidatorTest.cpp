// The byte limit of an edit box: bytes of the locale's encoding (UTF-8 here)
// count, what was just typed or pasted is what gets cut, and a character is
// kept or cut whole.

#include <QtTest>

#include "ByteLimitValidator.h"

class CByteLimitValidatorTest : public QObject {
    Q_OBJECT
private slots:
    void CutsWhatWasJustTypedToFit_data();
    void CutsWhatWasJustTypedToFit();
};

void CByteLimitValidatorTest::CutsWhatWasJustTypedToFit_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("pos");  // the cursor, after what was typed
    QTest::addColumn<QString>("kept");
    QTest::addColumn<int>("keptPos");

    const QString e = QStringLiteral("\u00e9");             // two bytes
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");  // four bytes, two UTF-16 units
    QTest::newRow("fits") << 5 << "abcde" << 5 << "abcde" << 5;
    QTest::newRow("paste at the end") << 5 << "ab1234" << 6 << "ab123" << 5;
    QTest::newRow("paste in the middle, the text after stays") << 6 << "a0123aaz" << 5 << "a01aaz" << 3;
    QTest::newRow("bytes, not characters") << 5 << e + e + e << 3 << e + e << 2;
    QTest::newRow("a character cut whole") << 4 << "ab" + smile << 4 << "ab" << 2;
    QTest::newRow("a two-byte character for one byte over") << 4 << "abc" + e << 4 << "abc" << 3;
    QTest::newRow("nothing before the cursor: the end goes") << 3 << "abcdef" << 0 << "abc" << 0;
}

void CByteLimitValidatorTest::CutsWhatWasJustTypedToFit()
{
    QFETCH(int, limit);
    QFETCH(QString, input);
    QFETCH(int, pos);
    CByteLimitValidator validator(limit, nullptr);
    QCOMPARE(validator.validate(input, pos), QValidator::Acceptable);
    QTEST(input, "kept");
    QTEST(pos, "keptPos");
}

QTEST_GUILESS_MAIN(CByteLimitValidatorTest)
#include "ByteLimitValidatorTest.moc"
