// The .xls record writers byte for byte, for records whose bytes can be stated by hand: the BOF record,
// the cell records, the RK form of numbers, and a shared string table continued across records; and the
// table's numbering of strings.
#include "spreadsheet/xls/BiffRecords.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/xls/SstRecords.h"

#include <QtTest>

namespace biff = spreadsheet::biff;

namespace {

QByteArray le16(unsigned v)
{
    return QByteArray(1, char(v & 0xFF)) + char((v >> 8) & 0xFF);
}

QByteArray le32(quint32 v)
{
    return le16(v & 0xFFFF) + le16(v >> 16);
}

QByteArray bytesOf(const std::string& s)
{
    return QByteArray(s.data(), int(s.size()));
}

} // namespace

class TestBiffRecords : public QObject
{
    Q_OBJECT

  private slots:
    void writesRecords_data();
    void writesRecords();
    void encodesRk_data();
    void encodesRk();
    void continuesSharedStrings_data();
    void continuesSharedStrings();
    void numbersStringsOnce_data();
    void numbersStringsOnce();
};

void TestBiffRecords::writesRecords_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("expected");

    std::string out;
    biff::writeBof(out, biff::Substream::Globals);
    QTest::newRow("BOF of the globals")
        << bytesOf(out) << QByteArray::fromHex("0908 1000 0006 0500 bb0d cc07 00000000 06000000");
    out.clear();
    biff::writeBof(out, biff::Substream::Worksheet);
    QTest::newRow("BOF of a worksheet")
        << bytesOf(out) << QByteArray::fromHex("0908 1000 0006 1000 bb0d cc07 00000000 06000000");
    out.clear();
    biff::writeNumber(out, 2, 3, 15, 0.1);
    QTest::newRow("NUMBER") << bytesOf(out)
                            << QByteArray::fromHex("0302 0e00 0200 0300 0f00 9a9999999999b93f");
    out.clear();
    biff::writeRk(out, 65535, 255, 17, 0x0000134B);
    QTest::newRow("RK") << bytesOf(out) << QByteArray::fromHex("7e02 0a00 ffff ff00 1100 4b130000");
    out.clear();
    biff::writeLabelSst(out, 1, 0, 16, 258);
    QTest::newRow("LABELSST") << bytesOf(out) << QByteArray::fromHex("fd00 0a00 0100 0000 1000 02010000");
    out.clear();
    biff::writeRow(out, 7, 1, 4);
    QTest::newRow("ROW") << bytesOf(out)
                         << QByteArray::fromHex("0802 1000 0700 0100 0400 ff00 00000000 00010f00");
    out.clear();
    biff::writeBoundSheet(out, 0x1234, "表1");
    QTest::newRow("BOUNDSHEET with a Chinese name")
        << bytesOf(out) << QByteArray::fromHex("8500 0c00 34120000 00 00 02 01 6888 3100");
}

void TestBiffRecords::writesRecords()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, expected);
    QCOMPARE(written.toHex(' '), expected.toHex(' '));
}

void TestBiffRecords::encodesRk_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<quint32>("rk");

    QTest::newRow("integer") << 1.0 << true << 0x00000006u;
    QTest::newRow("negative integer") << -5.0 << true << 0xFFFFFFEEu;
    QTest::newRow("largest integer") << 536870911.0 << true << 0x7FFFFFFEu;
    QTest::newRow("2^29, as upper bits") << 536870912.0 << true << 0x41C00000u;
    QTest::newRow("upper bits") << 0.5 << true << 0x3FE00000u;
    QTest::newRow("negative zero keeps its sign") << -0.0 << true << 0x80000000u;
    QTest::newRow("hundredths") << 12.34 << true << 0x0000134Bu;
    QTest::newRow("tenth, as hundredths") << 0.1 << true << 0x0000002Bu;
    QTest::newRow("hundredths of 2^29, as upper bits") << 5368709.12 << true << 0x41C00001u;
    QTest::newRow("third") << 1.0 / 3 << false << 0u;
    QTest::newRow("12 digits") << 123456789012.0 << false << 0u;
    QTest::newRow("date and time") << 44259.520833333336 << false << 0u;
}

void TestBiffRecords::encodesRk()
{
    QFETCH(double, value);
    QFETCH(bool, fits);
    QFETCH(quint32, rk);

    std::uint32_t got = 0;
    QCOMPARE(biff::rkValue(value, got), fits);
    if (fits)
        QCOMPARE(QString::number(got, 16), QString::number(rk, 16));
}

void TestBiffRecords::continuesSharedStrings_data()
{
    QTest::addColumn<QStringList>("strings");
    QTest::addColumn<QByteArray>("expected"); // SST and CONTINUE records; the EXTSST record follows

    const QByteArray a8208 = QByteArray(8208, 'a');
    const QByteArray sstStart = QByteArray::fromHex("fc00") + le16(8224) + le32(2) + le32(2);
    QTest::newRow("one record") << QStringList{"ab", "中", "ab"}
                                << QByteArray::fromHex("fc00 1200 03000000 02000000 020000 6162 010001 2d4e");
    QTest::newRow("two bytes a character, continued with the flag")
        << QStringList{QString::fromLatin1(a8208), "中文字"}
        << sstStart + le16(8208) + '\0' + a8208 + QByteArray::fromHex("030001 2d4e 3c00 0500 01 8765 575b");
    QTest::newRow("one byte a character, continued with the flag")
        << QStringList{QString::fromLatin1(a8208), "bcdef"}
        << sstStart + le16(8208) + '\0' + a8208 + QByteArray::fromHex("050000 6263 3c00 0400 00 646566");
    QTest::newRow("a string that does not start in the record's last bytes")
        << QStringList{QString(8209, 'a'), "中"}
        << QByteArray::fromHex("fc00") + le16(8220) + le32(2) + le32(2) + le16(8209) + '\0' +
               QByteArray(8209, 'a') + QByteArray::fromHex("3c00 0500 010001 2d4e");
    QTest::newRow("a surrogate pair is never cut")
        << QStringList{QString(8206, 'a'), QString::fromUtf8("中😀")}
        << QByteArray::fromHex("fc00") + le16(8222) + le32(2) + le32(2) + le16(8206) + '\0' +
               QByteArray(8206, 'a') + QByteArray::fromHex("030001 2d4e 3c00 0500 01 3dd8 00de");
}

void TestBiffRecords::continuesSharedStrings()
{
    QFETCH(QStringList, strings);
    QFETCH(QByteArray, expected);

    std::vector<std::string> texts;
    for (const QString& s : strings)
        texts.push_back(s.toStdString());
    spreadsheet::SharedStrings table;
    for (const std::string& text : texts)
        table.add(text);
    QByteArray written;
    biff::RecordStream stream([&written](const char* data, std::size_t size) {
        written.append(data, int(size));
        return true;
    });
    QVERIFY(spreadsheet::writeSharedStrings(table, stream).ok());
    QVERIFY(stream.flush());

    // One bucket: the first string, right after the SST record's header and counts.
    expected += QByteArray::fromHex("ff00 0a00 0800 0c000000 0c00 0000");
    QCOMPARE(written.size(), expected.size());
    QCOMPARE(written.toHex(' '), expected.toHex(' '));
}

void TestBiffRecords::numbersStringsOnce_data()
{
    QTest::addColumn<bool>("copyShortTexts");
    QTest::newRow("views of the texts") << false;
    QTest::newRow("short texts copied") << true;
}

void TestBiffRecords::numbersStringsOnce()
{
    // Enough strings for the table to grow several times; every one met again after the growth, and
    // texts that differ only past 64 bytes or in length.
    QFETCH(bool, copyShortTexts);
    std::vector<std::string> texts;
    for (int i = 0; i < 5000; ++i)
        texts.push_back("text " + std::to_string(i));
    texts.push_back(std::string(64, 'x'));
    texts.push_back(std::string(65, 'x'));
    texts.push_back(std::string(64, 'x') + "y");
    texts.push_back("");
    spreadsheet::SharedStrings table(copyShortTexts);
    for (const std::string& text : texts)
        table.add(text);
    QCOMPARE(table.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        QCOMPARE(table.add(texts[i]), std::uint32_t(i));
        QCOMPARE(std::string(table.at(i)), texts[i]);
        // A copy of a text found by its value, not by where it lies.
        const std::string copy = texts[i];
        QCOMPARE(table.add(copy), std::uint32_t(i));
    }
    QCOMPARE(table.references(), std::uint64_t(3 * texts.size()));
}

QTEST_GUILESS_MAIN(TestBiffRecords)
#include "tst_biffrecords.moc"
