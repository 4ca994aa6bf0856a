// The inline copy, comparison and search of short byte runs agree with the C library's for every length
// around their word sizes, for blocks that overlap either way, and wherever the difference or the byte is.

#include "spreadsheet/model/ShortBytes.h"

#include <QtTest>

#include <string>

using namespace spreadsheet;

class TestShortBytes : public QObject
{
    Q_OBJECT

    static std::string pattern(std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>('A' + i % 53);
        return bytes;
    }

  private slots:
    void move_data()
    {
        QTest::addColumn<int>("shift"); // where the copy goes, relative to where it comes from
        QTest::newRow("apart") << 48;
        QTest::newRow("overlapping, down by one") << -1;
        QTest::newRow("overlapping, down by five") << -5;
        QTest::newRow("overlapping, up by three") << 3;
    }

    void move()
    {
        QFETCH(int, shift);
        for (std::size_t size = 0; size <= 40; ++size) {
            std::string got = pattern(128), expected = got;
            moveBytes(got.data() + 40 + shift, got.data() + 40, size);
            std::memmove(expected.data() + 40 + shift, expected.data() + 40, size);
            QVERIFY2(got == expected, qPrintable(QStringLiteral("size %1").arg(size)));
        }
    }

    void compareAndFind()
    {
        for (std::size_t size = 0; size <= 40; ++size) {
            const std::string a = pattern(size);
            QVERIFY(sameBytes(a.data(), pattern(size).data(), size));
            QCOMPARE(findByte(a.data(), a.data() + size, '\n'), static_cast<const char*>(nullptr));
            for (std::size_t at = 0; at < size; ++at) {
                std::string b = a;
                b[at] = '\n';
                QVERIFY2(!sameBytes(a.data(), b.data(), size), qPrintable(QStringLiteral("size %1 at %2").arg(size).arg(at)));
                QCOMPARE(findByte(b.data(), b.data() + size, '\n'), static_cast<const char*>(b.data() + at));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestShortBytes)
#include "tst_shortbytes.moc"
