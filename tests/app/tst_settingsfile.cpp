// The text routines and the settings file: cutting texts at markers into bounded buffers, reading values,
// and rewriting the file with one key changed while every other byte stays.

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
template <std::size_t N> struct Guarded
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
    void trimBlanksAndCutResults();

    void settingValue_data();
    void settingValue();
    void readKeepsWithinTheBuffer();
    void setSettingValue_data();
    void setSettingValue();
    void rewriteReplacesTheFileWhole();
};

void TestSettingsFile::cutAtMarker_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("fromLast");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("expected");

    QTest::newRow("after, first") << "after"
                                  << "a=b=c"
                                  << "=" << 0 << false << 1 << "b=c";
    QTest::newRow("after, last") << "after"
                                 << "a=b=c"
                                 << "=" << 0 << true << 1 << "c";
    QTest::newRow("after, marker kept") << "after"
                                        << "a=b=c"
                                        << "=" << 1 << false << 1 << "=b=c";
    QTest::newRow("after, missing marker") << "after"
                                           << "abc"
                                           << "=" << 1 << true << -1 << "";
    // "aaa" holds "aa" once: the search restarts behind a match, so the last one is the one at 0.
    QTest::newRow("after, last without overlaps") << "after"
                                                  << "aaa"
                                                  << "aa" << 0 << true << 1 << "a";
    QTest::newRow("before, program folder") << "before"
                                            << "C:\\x\\y.exe"
                                            << "\\" << 1 << true << 1 << "C:\\x\\";
    QTest::newRow("before, missing marker") << "before"
                                            << "abc"
                                            << "/" << 0 << false << -1 << "";
    // Between "k=" and CR LF; the flags apply to both markers.
    QTest::newRow("between") << "between"
                             << "k=v\r\n"
                             << "" << 0 << false << 1 << "v";
    QTest::newRow("between, no line end") << "between"
                                          << "k=v"
                                          << "" << 0 << false << -1 << "";
    QTest::newRow("between, line end before the start") << "between"
                                                        << "\r\nk=v"
                                                        << "" << 0 << false << -1 << "";
}

void TestSettingsFile::cutAtMarker()
{
    QFETCH(QString, routine);
    QFETCH(QString, text);
    QFETCH(QString, marker);
    QFETCH(int, keep);
    QFETCH(bool, fromLast);
    QFETCH(int, result);
    QFETCH(QString, expected);

    Guarded<64> out;
    const QByteArray bytes = text.toLatin1();
    const QByteArray m = marker.toLatin1();
    int got = 0;
    if (routine == "after")
        got = TextAfter(out.output, bytes.constData(), m.constData(), keep, fromLast);
    else if (routine == "before")
        got = TextBefore(out.output, bytes.constData(), m.constData(), keep, fromLast);
    else
        got = TextBetween(out.output, sizeof out.output, bytes.constData(), "k=", "\r\n", keep, keep, false,
                          false);
    QCOMPARE(got, result);
    QCOMPARE(QString::fromLatin1(out.output), expected);
    QVERIFY(out.guardIntact());
}

void TestSettingsFile::trimBlanksAndCutResults()
{
    const auto trimmed = [](QByteArray text) {
        TrimBlanks(text.data());
        return QByteArray(text.constData());
    };
    QCOMPARE(trimmed("\t x y "), QByteArray("x y"));
    QCOMPARE(trimmed("x\r\n"), QByteArray("x\r\n")); // CR and LF are no blanks
    QCOMPARE(trimmed(" \t "), QByteArray());

    // Results longer than their buffer are cut and terminated inside it.
    Guarded<8> out;
    QCOMPARE(TextAfter(out.output, "key=0123456789", "=", 0, false), 1);
    QCOMPARE(QByteArray(out.output), QByteArray("0123456"));
    QCOMPARE(TextBefore(out.output, "key=0123456789", "9", 0, false), 1);
    QCOMPARE(QByteArray(out.output), QByteArray("key=012"));
    QVERIFY(out.guardIntact());
}

void TestSettingsFile::settingValue_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray file = "SourcePath=C:\\a\\\r\nSavePath=D:\\b\\\r\n";
    QTest::newRow("second entry") << file << QByteArray("SavePath") << QByteArray("D:\\b\\");
    QTest::newRow("missing key") << file << QByteArray("xlsxMode") << QByteArray();
    QTest::newRow("last line without CR LF")
        << QByteArray("a=1\r\nxlsxMode=n") << QByteArray("xlsxMode") << QByteArray();
    QTest::newRow("blanks around the value")
        << QByteArray("SaveToQuondamPath= y \t\r\n") << QByteArray("SaveToQuondamPath") << QByteArray("y");
    QTest::newRow("key written twice")
        << QByteArray("xlsxMode=n\r\nxlsxMode=y\r\n") << QByteArray("xlsxMode") << QByteArray("n");
    QTest::newRow("value of 1023 bytes") << "k=" + QByteArray(1023, 'v') + "\r\n"
                                         << QByteArray("k") << QByteArray(1023, 'v');
    QTest::newRow("value of 1024 bytes is cut") << "k=" + QByteArray(1024, 'v') + "\r\n"
                                                << QByteArray("k") << QByteArray(1023, 'v');
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
    const QByteArray name = QFile::encodeName(path);
    Guarded<kSettingsTextSize> text;

    QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, name.constData()), -1);
    QCOMPARE(text.output[0], 'x'); // a missing file leaves the buffer as it was

    writeAll(path, QByteArray(kSettingsTextSize + 100, 'k'));
    QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, name.constData()), 0);
    QCOMPARE(qstrlen(text.output), uint(kSettingsTextSize - 1));
    QVERIFY(text.guardIntact());
}

void TestSettingsFile::setSettingValue_data()
{
    QTest::addColumn<QByteArray>("before"); // a null array: no file
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("missing file is not created")
        << QByteArray() << QByteArray("xlsxMode") << QByteArray("n") << -1 << QByteArray();
    QTest::newRow("empty file") << QByteArray("") << QByteArray("xlsxMode") << QByteArray("n") << 0
                                << QByteArray("\r\nxlsxMode=n\r\n");
    QTest::newRow("replaced in place")
        << QByteArray("SourcePath=C:\\a\\\r\nSavePath=D:\\b\\\r\n") << QByteArray("SourcePath")
        << QByteArray("E:\\c\\") << 0 << QByteArray("SourcePath=E:\\c\\\r\nSavePath=D:\\b\\\r\n");
    QTest::newRow("last line without CR LF replaced") << QByteArray("xlsxMode=n") << QByteArray("xlsxMode")
                                                      << QByteArray("y") << 0 << QByteArray("xlsxMode=y\r\n");
    QTest::newRow("appended after a last line without CR LF")
        << QByteArray("xlsxMode=n") << QByteArray("vbaOpenFunFomatArg") << QByteArray("1") << 0
        << QByteArray("xlsxMode=n\r\nvbaOpenFunFomatArg=1\r\n");
    QTest::newRow("appended after a bare line feed")
        << QByteArray("x=1\n") << QByteArray("y") << QByteArray("2") << 0 << QByteArray("x=1\ny=2\r\n");
    QTest::newRow("first of two entries replaced")
        << QByteArray("a=1\r\nb=2\r\na=3\r\n") << QByteArray("a") << QByteArray("9") << 0
        << QByteArray("a=9\r\nb=2\r\na=3\r\n");
    QTest::newRow("other bytes stay as they were")
        << QByteArray("\xd6\xd0\xce\xc4 =x \r\n\0zz\t\r\nk=old\r\nlast", 28) << QByteArray("k")
        << QByteArray("new") << 0 << QByteArray("\xd6\xd0\xce\xc4 =x \r\n\0zz\t\r\nk=new\r\nlast", 28);
    // "k=" + value + CR LF must fit in the entry room; nothing is written when it does not.
    const int fits = int(kSettingEntryRoom) - 4;
    QTest::newRow("entry filling the room")
        << QByteArray("a=1\r\n") << QByteArray("k") << QByteArray(fits, 'v') << 0
        << "a=1\r\nk=" + QByteArray(fits, 'v') + "\r\n";
    QTest::newRow("entry one byte too long") << QByteArray("a=1\r\n") << QByteArray("k")
                                             << QByteArray(fits + 1, 'v') << -1 << QByteArray("a=1\r\n");
    QTest::newRow("too long with its leading line end")
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

    QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), key.constData(), value.constData()),
             result);
    QCOMPARE(readAll(path), after);
    // Nothing else in the folder: no file made from nothing, no temporary file left behind.
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
