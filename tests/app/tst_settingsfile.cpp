// The text routines and the settings file: cutting texts at markers, reading values, and rewriting the
// file with one key changed while every other byte stays.

#include "app/SettingsFile.h"
#include "app/TextRoutines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>

namespace {

// An output buffer followed by guard bytes that no routine may touch.
template <std::size_t N>
struct Guarded
{
    char output[N];
    char guard[64];

    Guarded()
    {
        std::memset(output, 'x', N);
        std::memset(guard, 0x5A, sizeof guard);
    }
    bool guardIntact() const
    {
        return std::all_of(guard, guard + sizeof guard, [](char c) { return c == 0x5A; });
    }
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void cutAtMarker_data();
    void cutAtMarker();
    void textBetween_data();
    void textBetween();
    void trimBlanks_data();
    void trimBlanks();
    void resultsAreCutToTheirBuffer();

    void settingValue_data();
    void settingValue();
    void readKeepsWithinTheBuffer();
    void setSettingValue_data();
    void setSettingValue();
    void rewriteReplacesTheFileWhole();
};

void TestSettingsFile::cutAtMarker_data()
{
    QTest::addColumn<bool>("after");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("marker");
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("fromLast");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("after, first") << true << QByteArray("a=b=c") << QByteArray("=") << 0 << false << 1 << QByteArray("b=c");
    QTest::newRow("after, last") << true << QByteArray("a=b=c") << QByteArray("=") << 0 << true << 1 << QByteArray("c");
    QTest::newRow("after, marker kept") << true << QByteArray("a=b=c") << QByteArray("=") << 1 << false << 1
                                        << QByteArray("=b=c");
    QTest::newRow("after, negative keep flag") << true << QByteArray("a=b=c") << QByteArray("=") << -1 << false << 1
                                               << QByteArray("b=c");
    QTest::newRow("after, missing marker") << true << QByteArray("abc") << QByteArray("=") << 1 << true << -1
                                           << QByteArray();
    // "aaa" holds "aa" once: the search restarts behind a match, so the last one is the one at 0.
    QTest::newRow("after, last without overlaps") << true << QByteArray("aaa") << QByteArray("aa") << 0 << true << 1
                                                  << QByteArray("a");
    QTest::newRow("before, program folder") << false << QByteArray("C:\\x\\y.exe") << QByteArray("\\") << 1 << true
                                            << 1 << QByteArray("C:\\x\\");
    QTest::newRow("before, first") << false << QByteArray("C:\\x\\y.exe") << QByteArray("\\") << 0 << false << 1
                                   << QByteArray("C:");
    QTest::newRow("before, last without overlaps") << false << QByteArray("aaa") << QByteArray("aa") << 1 << true
                                                   << 1 << QByteArray("aa");
    QTest::newRow("before, missing marker") << false << QByteArray("abc") << QByteArray("/") << 0 << false << -1
                                            << QByteArray();
}

void TestSettingsFile::cutAtMarker()
{
    QFETCH(bool, after);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, marker);
    QFETCH(int, keep);
    QFETCH(bool, fromLast);
    QFETCH(int, result);
    QFETCH(QByteArray, expected);

    Guarded<64> out;
    const int got = after ? TextAfter(out.output, text.constData(), marker.constData(), keep, fromLast)
                          : TextBefore(out.output, text.constData(), marker.constData(), keep, fromLast);
    QCOMPARE(got, result);
    QCOMPARE(QByteArray(out.output), expected);

    // The output may be the text itself.
    char inPlace[64];
    qstrncpy(inPlace, text.constData(), sizeof inPlace);
    after ? TextAfter(inPlace, inPlace, marker.constData(), keep, fromLast)
          : TextBefore(inPlace, inPlace, marker.constData(), keep, fromLast);
    QCOMPARE(QByteArray(inPlace), expected);
}

void TestSettingsFile::textBetween_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("entry") << QByteArray("k=v\r\n") << 0 << 1 << QByteArray("v");
    QTest::newRow("markers kept") << QByteArray("k=v\r\n") << 1 << 1 << QByteArray("k=v\r\n");
    QTest::newRow("no line end") << QByteArray("k=v") << 0 << -1 << QByteArray();
    QTest::newRow("line end only before the start") << QByteArray("\r\nk=v") << 0 << -1 << QByteArray();
    QTest::newRow("no start") << QByteArray("x=v\r\n") << 0 << -1 << QByteArray();
}

void TestSettingsFile::textBetween()
{
    QFETCH(QByteArray, text);
    QFETCH(int, keep);
    QFETCH(int, result);
    QFETCH(QByteArray, expected);

    Guarded<64> out;
    QCOMPARE(TextBetween(out.output, sizeof out.output, text.constData(), "k=", "\r\n", keep, keep, false, false),
             result);
    QCOMPARE(QByteArray(out.output), expected);
}

void TestSettingsFile::trimBlanks_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("tab and spaces") << QByteArray("\t x ") << QByteArray("x");
    QTest::newRow("line end is no blank") << QByteArray("x\r\n") << QByteArray("x\r\n");
    QTest::newRow("inner blanks stay") << QByteArray(" a b\t") << QByteArray("a b");
    QTest::newRow("blanks only") << QByteArray(" \t ") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestSettingsFile::trimBlanks()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QByteArray buffer = text;
    TrimBlanks(buffer.data());
    QCOMPARE(QByteArray(buffer.constData()), expected);
}

void TestSettingsFile::resultsAreCutToTheirBuffer()
{
    const char* text = "key=0123456789\r\n";
    Guarded<8> out;
    QCOMPARE(TextAfter(out.output, text, "=", 0, false), 1);
    QCOMPARE(QByteArray(out.output), QByteArray("0123456"));
    QCOMPARE(TextBefore(out.output, text, "\r\n", 0, false), 1);
    QCOMPARE(QByteArray(out.output), QByteArray("key=012"));
    QCOMPARE(TextBetween(out.output, sizeof out.output, text, "=", "\r\n", 0, 0, false, false), 1);
    QCOMPARE(QByteArray(out.output), QByteArray("0123456"));
    QVERIFY(out.guardIntact());
}

void TestSettingsFile::settingValue_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray file = "SourcePath=C:\\a\\\r\nSavePath=D:\\b\\\r\n";
    QTest::newRow("first entry") << file << QByteArray("SourcePath") << QByteArray("C:\\a\\");
    QTest::newRow("second entry") << file << QByteArray("SavePath") << QByteArray("D:\\b\\");
    QTest::newRow("missing key") << file << QByteArray("xlsxMode") << QByteArray();
    QTest::newRow("empty text") << QByteArray() << QByteArray("xlsxMode") << QByteArray();
    QTest::newRow("last line without CR LF") << QByteArray("a=1\r\nxlsxMode=n") << QByteArray("xlsxMode")
                                             << QByteArray();
    QTest::newRow("bare line feeds") << QByteArray("xlsxMode=n\nb=1\n") << QByteArray("xlsxMode") << QByteArray();
    QTest::newRow("blanks around the value") << QByteArray("SaveToQuondamPath= y \t\r\n")
                                             << QByteArray("SaveToQuondamPath") << QByteArray("y");
    QTest::newRow("key written twice") << QByteArray("xlsxMode=n\r\nxlsxMode=y\r\n") << QByteArray("xlsxMode")
                                       << QByteArray("n");
    QTest::newRow("value of 1023 bytes") << "k=" + QByteArray(1023, 'v') + "\r\n" << QByteArray("k")
                                         << QByteArray(1023, 'v');
    QTest::newRow("value of 1024 bytes is cut") << "k=" + QByteArray(1024, 'v') + "\r\n" << QByteArray("k")
                                                << QByteArray(1023, 'v');
}

void TestSettingsFile::settingValue()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);

    Guarded<kSettingValueSize> out;
    GetSettingValue(out.output, sizeof out.output, text.constData(), key.constData());
    QCOMPARE(QByteArray(out.output), expected);
    QVERIFY(out.guardIntact());
}

void TestSettingsFile::readKeepsWithinTheBuffer()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
    Guarded<kSettingsTextSize> text;

    // A missing file leaves the buffer as it was.
    QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, QFile::encodeName(path).constData()), -1);
    QCOMPARE(text.output[0], 'x');

    writeAll(path, QByteArray(kSettingsTextSize + 100, 'k'));
    QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, QFile::encodeName(path).constData()), 0);
    QCOMPARE(qstrlen(text.output), uint(kSettingsTextSize - 1));
    QVERIFY(text.guardIntact());

    writeAll(path, QByteArray());
    QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, QFile::encodeName(path).constData()), 0);
    QCOMPARE(QByteArray(text.output), QByteArray());
}

void TestSettingsFile::setSettingValue_data()
{
    QTest::addColumn<QByteArray>("before"); // a null array: no file
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("missing file is not created") << QByteArray() << QByteArray("xlsxMode") << QByteArray("n") << -1
                                                 << QByteArray();
    QTest::newRow("empty file") << QByteArray("") << QByteArray("xlsxMode") << QByteArray("n") << 0
                                << QByteArray("\r\nxlsxMode=n\r\n");
    QTest::newRow("replaced in place")
        << QByteArray("SourcePath=C:\\a\\\r\nSavePath=D:\\b\\\r\n") << QByteArray("SourcePath") << QByteArray("E:\\c\\")
        << 0 << QByteArray("SourcePath=E:\\c\\\r\nSavePath=D:\\b\\\r\n");
    QTest::newRow("last line without CR LF replaced") << QByteArray("xlsxMode=n") << QByteArray("xlsxMode")
                                                      << QByteArray("y") << 0 << QByteArray("xlsxMode=y\r\n");
    QTest::newRow("appended after a last line without CR LF")
        << QByteArray("xlsxMode=n") << QByteArray("vbaOpenFunFomatArg") << QByteArray("1") << 0
        << QByteArray("xlsxMode=n\r\nvbaOpenFunFomatArg=1\r\n");
    QTest::newRow("appended after a bare line feed") << QByteArray("x=1\n") << QByteArray("y") << QByteArray("2") << 0
                                                     << QByteArray("x=1\ny=2\r\n");
    QTest::newRow("first of two entries replaced") << QByteArray("a=1\r\nb=2\r\na=3\r\n") << QByteArray("a")
                                                   << QByteArray("9") << 0 << QByteArray("a=9\r\nb=2\r\na=3\r\n");
    QTest::newRow("other bytes stay as they were")
        << QByteArray("\xd6\xd0\xce\xc4 =x \r\n\0zz\t\r\nk=old\r\nlast", 28) << QByteArray("k") << QByteArray("new")
        << 0 << QByteArray("\xd6\xd0\xce\xc4 =x \r\n\0zz\t\r\nk=new\r\nlast", 28);
    // "k=" + value + CR LF must fit in the entry room; nothing is written when it does not.
    const int fits = int(kSettingEntryRoom) - 4;
    QTest::newRow("entry filling the room") << QByteArray("a=1\r\n") << QByteArray("k") << QByteArray(fits, 'v') << 0
                                            << "a=1\r\nk=" + QByteArray(fits, 'v') + "\r\n";
    QTest::newRow("entry one byte too long") << QByteArray("a=1\r\n") << QByteArray("k") << QByteArray(fits + 1, 'v')
                                             << -1 << QByteArray("a=1\r\n");
    QTest::newRow("entry too long with its leading line end")
        << QByteArray("a=1") << QByteArray("k") << QByteArray(fits - 1, 'v') << -1 << QByteArray("a=1");
}

void TestSettingsFile::setSettingValue()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(int, result);
    QFETCH(QByteArray, after);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
    if (!before.isNull())
        writeAll(path, before);

    QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), key.constData(), value.constData()), result);
    QCOMPARE(QFile::exists(path), !after.isNull());
    QCOMPARE(readAll(path), after);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), after.isNull() ? 0 : 1);
}

void TestSettingsFile::rewriteReplacesTheFileWhole()
{
    // A rewrite never writes into the old file: a reader that has it open still sees the old text, which
    // a crash half-way through the write could therefore not have emptied.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
    writeAll(path, "xlsxMode=n\r\nSavePath=/out/\r\n");
    QFile reader(path);
    QVERIFY(reader.open(QIODevice::ReadOnly));

    QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), "xlsxMode", "y"), 0);
    QCOMPARE(reader.readAll(), QByteArray("xlsxMode=n\r\nSavePath=/out/\r\n"));
    QCOMPARE(readAll(path), QByteArray("xlsxMode=y\r\nSavePath=/out/\r\n"));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
