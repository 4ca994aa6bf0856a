// Encoding detection and decoding of text files into UTF-8, and the UTF-8 helpers.
#include "spreadsheet/read/EncodingDetection.h"
#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/read/SheetName.h"
#include "spreadsheet/read/TextDecoding.h"
#include "tests/TestFiles.h"

#include <QTextCodec>
#include <QtTest>

using spreadsheet::TextEncoding;

Q_DECLARE_METATYPE(spreadsheet::TextEncoding)

namespace spreadsheet {
char* toString(TextEncoding encoding)
{
    static const char* const names[] = {"Utf8",  "Utf16LE", "Utf16BE",  "Gb18030",     "Utf32LE",
                                        "Utf32BE", "Big5",  "ShiftJis", "EucKr", "Windows1252", "Latin1"};
    return qstrdup(names[static_cast<int>(encoding)]);
}
} // namespace spreadsheet

namespace {

// QString::fromUtf8(QByteArray) would stop at the first NUL.
QString fromUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

QString decoded(const QByteArray& bytes, const char* codec)
{
    return QTextCodec::codecForName(codec)->toUnicode(bytes);
}

QByteArray utf16le(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

} // namespace

class TestTextDecoding : public QObject
{
    Q_OBJECT

private slots:
    void decodesFixture_data();
    void decodesFixture();
    void detectsWithoutFixture_data();
    void detectsWithoutFixture();
    void decodesInPieces_data();
    void decodesInPieces();
    void replacesInvalidSequences_data();
    void replacesInvalidSequences();
    void validatesUtf8_data();
    void validatesUtf8();
    void countsUtf16Units_data();
    void countsUtf16Units();
    void derivesSheetNames_data();
    void derivesSheetNames();
};

void TestTextDecoding::decodesFixture_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<int>("markLength");
    QTest::addColumn<QString>("expected"); // the whole text, decoded by Qt
    QTest::addColumn<QString>("contains"); // a piece of it, as a literal

    const QByteArray plain = fixtureBytes("utf8_plain.csv");
    QTest::newRow("utf8_plain") << "utf8_plain.csv" << TextEncoding::Utf8 << 0 << fromUtf8(plain)
                                << QString::fromUtf8("1,张三,北京,1234.5");
    QTest::newRow("utf8_bom") << "utf8_bom.csv" << TextEncoding::Utf8 << 3 << fromUtf8(plain)
                              << QString::fromUtf8("中文，全角逗号");
    QTest::newRow("gbk") << "gbk.csv" << TextEncoding::Gb18030 << 0 << decoded(fixtureBytes("gbk.csv"), "GB18030")
                         << QString::fromUtf8("3,王五,广州,金额 1234.5 元\r\n");
    QTest::newRow("utf16le_bom") << "utf16le_bom.csv" << TextEncoding::Utf16LE << 2
                                 << decoded(fixtureBytes("utf16le_bom.csv").mid(2), "UTF-16LE")
                                 << QString::fromUtf8("2,Zoë,Köln,-3\r\n");
    QTest::newRow("utf16be_bom") << "utf16be_bom.csv" << TextEncoding::Utf16BE << 2
                                 << decoded(fixtureBytes("utf16be_bom.csv").mid(2), "UTF-16BE")
                                 << QString::fromUtf8("1,张三,北京,12.5\r\n");
    QTest::newRow("utf16le_nobom") << "utf16le_nobom.csv" << TextEncoding::Utf16LE << 0
                                   << decoded(fixtureBytes("utf16le_nobom.csv"), "UTF-16LE")
                                   << QStringLiteral("id,name,city,amount\r\n1,Alice");
    // NUL bytes here and there do not make UTF-8 look like UTF-16.
    const QByteArray nul = fixtureBytes("nul_bytes.csv");
    QTest::newRow("nul_bytes") << "nul_bytes.csv" << TextEncoding::Utf8 << 0 << fromUtf8(nul)
                               << QString::fromUtf8("4,中\0文", 9);
}

void TestTextDecoding::decodesFixture()
{
    QFETCH(QString, file);
    QFETCH(TextEncoding, encoding);
    QFETCH(int, markLength);
    QFETCH(QString, expected);
    QFETCH(QString, contains);

    std::string bytes = fixtureBytes(file).toStdString();
    const spreadsheet::DetectedEncoding detected = spreadsheet::detectEncoding(bytes);
    QCOMPARE(detected.encoding, encoding);
    QCOMPARE(int(detected.byteOrderMarkLength), markLength);

    QCOMPARE(int(spreadsheet::decodeToUtf8(bytes, detected.encoding, detected.byteOrderMarkLength)), 0);
    const QString text = QString::fromUtf8(bytes.data(), int(bytes.size()));
    QCOMPARE(text, expected);
    QVERIFY2(text.contains(contains), qPrintable(contains));
    QVERIFY(!text.startsWith(QChar(0xFEFF)));
}

void TestTextDecoding::detectsWithoutFixture_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("replaced");

    const QString r(QChar(0xFFFD));
    auto utf16be = [](const QString& text) {
        QByteArray be;
        for (QChar c : text)
            be += char(c.unicode() >> 8), be += char(c.unicode() & 0xFF);
        return be;
    };
    auto gbk = [](const char* utf8) { return QTextCodec::codecForName("GBK")->fromUnicode(QString::fromUtf8(utf8)); };

    // UTF-16 without a mark, found by the whole sample rather than by where its zero bytes fall.
    const QString ascii = QStringLiteral("id,name\r\n1,x\r\n2,y\r\n");
    QTest::newRow("UTF-16BE without mark") << utf16be(ascii) << TextEncoding::Utf16BE << ascii << 0;
    const QString chinese = QString::fromUtf8("id,name,note\r\n1,一号,第一\r\n2,张三,plain text\r\n");
    QTest::newRow("UTF-16LE without mark, U+4E00 inside") << utf16le(chinese) << TextEncoding::Utf16LE << chinese << 0;
    const QString months = QString::fromUtf8("月份,日期\r\n一月,一号\r\n");
    QTest::newRow("UTF-16LE without mark, nearly all Chinese") << utf16le(months) << TextEncoding::Utf16LE << months << 0;
    QTest::newRow("UTF-16BE without mark, nearly all Chinese") << utf16be(months) << TextEncoding::Utf16BE << months << 0;
    const QString zeroEnds = QString::fromUtf8("一;刀;Ā\n丐;一\n");
    QTest::newRow("UTF-16LE without mark, units ending in a zero byte")
        << utf16le(zeroEnds) << TextEncoding::Utf16LE << zeroEnds << 0;
    const QString emoji = QString::fromUtf8("😀\t🎉\n👍\t😀🎉\n");
    QTest::newRow("UTF-16LE without mark, emoji") << utf16le(emoji) << TextEncoding::Utf16LE << emoji << 0;
    const QString oneField = QString::fromUtf8("一丁");
    QTest::newRow("UTF-16LE without mark or line end") << utf16le(oneField) << TextEncoding::Utf16LE << oneField << 0;
    QTest::newRow("UTF-16LE without mark, unpaired surrogate")
        << utf16le(chinese) + QByteArray("\x00\xD8", 2) + utf16le(QStringLiteral(",c\r\n"))
        << TextEncoding::Utf16LE << chinese + r + ",c\r\n" << 1;

    // UTF-8 with damage stays UTF-8: only the broken bytes are replaced.
    QTest::newRow("UTF-8 cut in the last character")
        << QByteArray("\x69\x64\x2c\x63\x69\x74\x79\x0d\x0a\x31\x2c\xe4\xb8") << TextEncoding::Utf8
        << "id,city\r\n1," + r << 1;
    QTest::newRow("UTF-8 with a stray 0xFF") << QByteArray("名字,城市\n张三,北\xFF京\n") << TextEncoding::Utf8
                                            << QString::fromUtf8("名字,城市\n张三,北") + r + QString::fromUtf8("京\n") << 1;
    // A lone accented letter among ASCII letters is windows-1252 (ISO-8859-1) text, not damaged UTF-8.
    QTest::newRow("a Latin-1 letter among ASCII letters") << QByteArray("name\ncaf\xE9s\n") << TextEncoding::Windows1252
                                                          << QString::fromUtf8("name\ncafés\n") << 0;
    QTest::newRow("UTF-8 with a few broken characters")
        << QByteArray("城市,北京,上海,广州,深圳\n\xE4\xB8,天津,\xC3,重庆,成都\n") << TextEncoding::Utf8
        << QString::fromUtf8("城市,北京,上海,广州,深圳\n") + r + QString::fromUtf8(",天津,") + r +
               QString::fromUtf8(",重庆,成都\n")
        << 2;

    // GBK stays GBK, also where a character of it reads as UTF-8 by chance or a byte is broken.
    QTest::newRow("not UTF-8 is GB18030") << QByteArray("a,\xD6\xD0\xCE\xC4\n") << TextEncoding::Gb18030
                                          << QString::fromUtf8("a,中文\n") << 0;
    QTest::newRow("GBK with a character that is valid UTF-8") << gbk("姓名,城市\r\n梅花,北京\r\n")
                                                               << TextEncoding::Gb18030
                                                               << QString::fromUtf8("姓名,城市\r\n梅花,北京\r\n") << 0;
    QTest::newRow("GBK with a broken byte") << gbk("姓名,城市\r\n张三,北京\r\n") + "\xFF\r\n" << TextEncoding::Gb18030
                                            << QString::fromUtf8("姓名,城市\r\n张三,北京\r\n") + r + "\r\n" << 1;
    QTest::newRow("short GBK name") << gbk("李明") << TextEncoding::Gb18030 << QString::fromUtf8("李明") << 0;

    // UTF-16 whose code units hold the bytes of line ends (U+4E0A is 0A 4E), judged as a whole.
    const QString lineEndBytes = QString::fromUtf8("id,name\n1,上上上上上\n");
    QTest::newRow("UTF-16LE without mark, 0A in code units") << utf16le(lineEndBytes) << TextEncoding::Utf16LE
                                                              << lineEndBytes << 0;
    QTest::newRow("UTF-16BE without mark, 0A in code units") << utf16be(lineEndBytes) << TextEncoding::Utf16BE
                                                              << lineEndBytes << 0;
    const QString memo = QString::fromUtf8("memo\r\n上海分公司上月不上报\r\n尊上,不上\r\n");
    QTest::newRow("UTF-16LE without mark, 0A and 0D in code units") << utf16le(memo) << TextEncoding::Utf16LE << memo << 0;

    // UTF-32, with and without a mark.
    auto utf32 = [](const QString& text, bool bigEndian) {
        QByteArray bytes;
        for (uint c : text.toUcs4())
            for (int i = 0; i < 4; ++i)
                bytes += char(c >> (bigEndian ? 24 - 8 * i : 8 * i));
        return bytes;
    };
    const QString names = QString::fromUtf8("id,name\n1,José 😀\n");
    QTest::newRow("UTF-32LE without mark") << utf32(names, false) << TextEncoding::Utf32LE << names << 0;
    QTest::newRow("UTF-32BE with mark") << utf32(QChar(0xFEFF) + names, true) << TextEncoding::Utf32BE << names << 0;

    // Legacy encodings of other regions, told apart by the characters their language uses most.
    auto encoded = [](const char* codec, const char* utf8) {
        return QTextCodec::codecForName(codec)->fromUnicode(QString::fromUtf8(utf8));
    };
    const char* const traditional = "客戶,地址,電話\n陳大文,臺北市中正區,02-1234\n";
    const char* const japanese = "氏名,住所\n山田太郎,東京都千代田区\nさとう,おおさか\n";
    const char* const korean = "이름,주소\n김철수,서울특별시 강남구\n이영희,부산광역시\n";
    const char* const latin = "name,city\nJosé Müller,Zürich\nFrançois,Besançon\n";
    QTest::newRow("Big5") << encoded("Big5", traditional) << TextEncoding::Big5 << QString::fromUtf8(traditional) << 0;
    QTest::newRow("Shift_JIS") << encoded("Shift_JIS", japanese) << TextEncoding::ShiftJis << QString::fromUtf8(japanese) << 0;
    QTest::newRow("EUC-KR") << encoded("EUC-KR", korean) << TextEncoding::EucKr << QString::fromUtf8(korean) << 0;
    QTest::newRow("windows-1252") << encoded("windows-1252", latin) << TextEncoding::Windows1252
                                  << QString::fromUtf8(latin) << 0;
    QTest::newRow("ISO-8859-1 with a C1 control") << encoded("ISO-8859-1", latin) + "\x81\n" << TextEncoding::Latin1
                                                  << QString::fromUtf8(latin) + QChar(0x81) + "\n" << 0;
    QTest::newRow("GBK business text") << gbk("客户,金额\n北京科技有限公司,100\n") << TextEncoding::Gb18030
                                       << QString::fromUtf8("客户,金额\n北京科技有限公司,100\n") << 0;

    // UTF-8 with many damaged bytes (about 6 %) stays UTF-8 where it still explains the text best.
    {
        QByteArray damaged = QString::fromUtf8("城市,北京,上海,广州,深圳,天津,重庆,成都,武汉,南京,西安\n").repeated(4).toUtf8();
        for (int i = 5; i < damaged.size(); i += 17)
            damaged[i] = char(0xFF);
        std::string text = damaged.toStdString();
        const int replaced = int(spreadsheet::decodeToUtf8(text, TextEncoding::Utf8));
        QTest::newRow("UTF-8 with 6 % damaged bytes") << damaged << TextEncoding::Utf8
                                                      << QString::fromUtf8(text.data(), int(text.size())) << replaced;
    }
    QTest::newRow("empty") << QByteArray() << TextEncoding::Utf8 << QString() << 0;
}

void TestTextDecoding::detectsWithoutFixture()
{
    QFETCH(QByteArray, bytes);
    QFETCH(TextEncoding, encoding);
    QFETCH(QString, text);
    QFETCH(int, replaced);

    std::string data = bytes.toStdString();
    const spreadsheet::DetectedEncoding detected = spreadsheet::detectEncoding(data);
    QCOMPARE(detected.encoding, encoding);
    QCOMPARE(int(spreadsheet::decodeToUtf8(data, detected.encoding, detected.byteOrderMarkLength)), replaced);
    QCOMPARE(QString::fromUtf8(data.data(), int(data.size())), text);
}

void TestTextDecoding::decodesInPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<TextEncoding>("encoding");

    QTest::newRow("UTF-8 with broken and cut characters")
        << QByteArray("中文\xE4\xB8,\xF0\x9F\x98\x80\xFF" "a\xF0\x9F") << TextEncoding::Utf8;
    QTest::newRow("GB18030 with four-byte and broken sequences")
        << QByteArray("\xD6\xD0\x81\x30\x81\x30\x80\x95\x32\x82\x36,\x81") << TextEncoding::Gb18030;
    QTest::newRow("UTF-16LE with a pair, a lone surrogate and an odd end")
        << utf16le(QString::fromUtf8("a😀,")) + QByteArray("\x00\xDCz\x00q", 5) << TextEncoding::Utf16LE;
}

// Fed byte by byte, the decoder gives what it gives for the whole text: no character is lost or doubled
// where a piece ends.
void TestTextDecoding::decodesInPieces()
{
    QFETCH(QByteArray, bytes);
    QFETCH(TextEncoding, encoding);

    std::string whole = bytes.toStdString();
    const std::size_t wholeReplaced = spreadsheet::decodeToUtf8(whole, encoding);
    QVERIFY(wholeReplaced > 0);

    spreadsheet::TextDecoder decoder(encoding);
    std::string pieces;
    std::size_t replaced = 0;
    for (int i = 0; i < bytes.size(); ++i)
        replaced += decoder.decode(bytes.constData() + i, bytes.constData() + i + 1, false, pieces);
    replaced += decoder.decode(nullptr, nullptr, true, pieces);
    QCOMPARE(QByteArray::fromStdString(pieces), QByteArray::fromStdString(whole));
    QCOMPARE(replaced, wholeReplaced);
}

void TestTextDecoding::replacesInvalidSequences_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<int>("skip");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("replaced");

    const QString r(QChar(0xFFFD));
    QTest::newRow("GB18030 invalid byte") << QByteArray("a\xFF" "b") << TextEncoding::Gb18030 << 0 << "a" + r + "b" << 1;
    QTest::newRow("GB18030 0x80 among valid text")
        << QByteArray("\xD6\xD0\x80\xCE\xC4,\x80") << TextEncoding::Gb18030 << 0
        << QString::fromUtf8("中") + r + QString::fromUtf8("文,") + r << 2;
    QTest::newRow("GB18030 lead byte at the end") << QByteArray("ab\x81") << TextEncoding::Gb18030 << 0 << "ab" + r << 1;
    QTest::newRow("GB18030 four-byte sequences")
        << QByteArray("\x81\x30\x81\x30|\x95\x32\x82\x36") << TextEncoding::Gb18030 << 0
        << QString(QChar(0x80)) + "|" + QString::fromUcs4(U"\U00020000") << 0;

    QTest::newRow("UTF-8 invalid byte after mark") << QByteArray("\xEF\xBB\xBFx\xFFy") << TextEncoding::Utf8 << 3
                                                   << "x" + r + "y" << 1;
    QTest::newRow("UTF-8 overlong slash") << QByteArray("\xC0\xAF") << TextEncoding::Utf8 << 0 << r + r << 2;
    QTest::newRow("UTF-8 surrogate") << QByteArray("a\xED\xA0\x80") << TextEncoding::Utf8 << 0 << "a" + r + r + r
                                     << 3;
    QTest::newRow("UTF-8 cut character in the middle")
        << QByteArray("\xE4\xB8" ",\xE4\xB8\xAD") << TextEncoding::Utf8 << 0 << r + QString::fromUtf8(",中") << 1;
    QTest::newRow("UTF-8 cut character at the end")
        << QByteArray("ab\xF0\x9F\x98") << TextEncoding::Utf8 << 0 << "ab" + r << 1;

    QTest::newRow("UTF-16LE odd last byte") << utf16le("ab") + 'c' << TextEncoding::Utf16LE << 0 << "ab" + r << 1;
    QTest::newRow("UTF-16BE odd last byte after mark")
        << QByteArray("\xFE\xFF\x00x\x4E", 5) << TextEncoding::Utf16BE << 2 << "x" + r << 1;
    QTest::newRow("UTF-16LE lone high surrogate")
        << QByteArray("\x00\xD8" "a\x00", 4) << TextEncoding::Utf16LE << 0 << r + "a" << 1;
}

void TestTextDecoding::replacesInvalidSequences()
{
    QFETCH(QByteArray, bytes);
    QFETCH(TextEncoding, encoding);
    QFETCH(int, skip);
    QFETCH(QString, expected);
    QFETCH(int, replaced);

    std::string data = bytes.toStdString();
    QCOMPARE(int(spreadsheet::decodeToUtf8(data, encoding, std::size_t(skip))), replaced);
    QVERIFY(spreadsheet::isValidUtf8(data.data(), data.data() + data.size()));
    QCOMPARE(QString::fromUtf8(data.data(), int(data.size())), expected);
}

void TestTextDecoding::validatesUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");

    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("ascii with NUL") << QByteArray("a\0b", 3) << true;
    QTest::newRow("two to four bytes") << QByteArray("\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80") << true;
    QTest::newRow("U+10FFFF") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("after a long ascii run") << QByteArray("0123456789abcdefg\xE4\xB8\xAD") << true;

    QTest::newRow("overlong NUL") << QByteArray("\xC0\x80") << false;
    QTest::newRow("overlong three bytes") << QByteArray("\xE0\x9F\xBF") << false;
    QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("high surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
    QTest::newRow("bad continuation") << QByteArray("\xE4\x41\xAD") << false;
    QTest::newRow("cut after a long ascii run") << QByteArray("0123456789abcdefg\xE4\xB8") << false;
}

void TestTextDecoding::validatesUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);

    QCOMPARE(spreadsheet::isValidUtf8(bytes.constData(), bytes.constData() + bytes.size()), valid);
}

void TestTextDecoding::countsUtf16Units_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("ascii") << QStringLiteral("abc");
    QTest::newRow("outside the basic plane") << QString::fromUcs4(U"a\U0001F600b\U00020000");
}

void TestTextDecoding::countsUtf16Units()
{
    QFETCH(QString, text);

    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(int(spreadsheet::utf16Length(utf8.constData(), utf8.constData() + utf8.size())), text.size());
}

void TestTextDecoding::derivesSheetNames_data()
{
    QTest::addColumn<QByteArray>("baseName");
    QTest::addColumn<QString>("sheetName");

    QTest::newRow("forbidden characters") << QByteArray("a[b]c:d*e?f/g\\h") << "abcdefgh";
    QTest::newRow("control characters") << QByteArray("line\nbreak\ttab\x7F") << "linebreaktab";
    QTest::newRow("surrounding apostrophes") << QByteArray("''quoted'") << "quoted";
    QTest::newRow("nothing allowed") << QByteArray("[*]") << "Sheet1";
    QTest::newRow("longer than 31") << QByteArray(40, 'n') << QString(31, 'n');
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("outside the basic plane") << emoji.repeated(16).toUtf8() << emoji.repeated(15);
    QTest::newRow("apostrophe at the cut") << QByteArray(30, 'n') + "'x" << QString(30, 'n');
    // GBK bytes of a file name on a UTF-8 file system.
    QTest::newRow("not UTF-8") << QByteArray("\xCA\xFD\xBE\xDD-2021") << QString(4, QChar(0xFFFD)) + "-2021";
}

void TestTextDecoding::derivesSheetNames()
{
    QFETCH(QByteArray, baseName);
    QFETCH(QString, sheetName);

    QCOMPARE(QString::fromStdString(spreadsheet::sheetNameFor(baseName.toStdString())), sheetName);
}

QTEST_APPLESS_MAIN(TestTextDecoding)
#include "tst_textdecoding.moc"
