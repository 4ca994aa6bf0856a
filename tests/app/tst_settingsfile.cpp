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
    // TextAfter and TextBefore: the first or last marker, kept or not; -1 and empty output without one.
    void cutAtMarker_data()
    {
        QTest::addColumn<bool>("after"); // else before
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<int>("keep");
        QTest::addColumn<bool>("fromLast");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("expected");
        QTest::newRow("after, first") << true << "a=b=c" << "=" << 0 << false << 1 << "b=c";
        QTest::newRow("after, last") << true << "a=b=c" << "=" << 0 << true << 1 << "c";
        QTest::newRow("after, marker kept") << true << "a=b=c" << "=" << 1 << false << 1 << "=b=c";
        QTest::newRow("after, missing marker") << true << "abc" << "=" << 1 << true << -1 << "";
        // "aaa" holds "aa" once: the search restarts behind a match, so the last one is the one at 0.
        QTest::newRow("after, last without overlaps") << true << "aaa" << "aa" << 0 << true << 1 << "a";
        QTest::newRow("before, folder") << false << "C:\\x\\y.exe" << "\\" << 1 << true << 1 << "C:\\x\\";
        QTest::newRow("before, missing marker") << false << "abc" << "/" << 0 << false << -1 << "";
    }
    void cutAtMarker()
    {
        QFETCH(bool, after);
        QFETCH(QString, text);
        QFETCH(QString, marker);
        QFETCH(int, keep);
        QFETCH(bool, fromLast);
        QFETCH(int, result);
        QFETCH(QString, expected);
        Guarded<64> out;
        const QByteArray t = text.toLatin1(), m = marker.toLatin1();
        QCOMPARE(after ? TextAfter(out.output, t.constData(), m.constData(), keep, fromLast)
                       : TextBefore(out.output, t.constData(), m.constData(), keep, fromLast),
                 result);
        QCOMPARE(QString::fromLatin1(out.output), expected);
        QVERIFY(out.guardIntact());
    }

    // TextBetween: the end marker counts only behind the start marker, kept or not.
    void cutBetweenMarkers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<int>("keepStart");
        QTest::addColumn<int>("keepEnd");
        QTest::addColumn<bool>("startFromLast");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("expected");
        using B = QByteArray;
        QTest::newRow("neither kept") << B("k=[v];") << B("[") << B("]") << 0 << 0 << false << 1 << B("v");
        QTest::newRow("both kept") << B("k=[v];") << B("[") << B("]") << 1 << 1 << false << 1 << B("[v]");
        QTest::newRow("start kept, end marker inside it")
            << B("<a>x>y") << B("<a>") << B(">") << 1 << 0 << false << 1 << B("<a>x");
        QTest::newRow("start kept, end marker only inside it")
            << B("<a>xy") << B("<a>") << B(">") << 1 << 0 << false << -1 << B();
        QTest::newRow("end marker only before the start") << B("]x[v") << B("[") << B("]") << 0 << 0 << false
                                                           << -1 << B();
        QTest::newRow("last start marker") << B("a[1][2]") << B("[") << B("]") << 0 << 0 << true << 1 << B("2");
        QTest::newRow("missing start marker") << B("abc") << B("[") << B("]") << 0 << 0 << false << -1 << B();
    }
    void cutBetweenMarkers()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, end);
        QFETCH(int, keepStart);
        QFETCH(int, keepEnd);
        QFETCH(bool, startFromLast);
        QFETCH(int, result);
        QFETCH(QByteArray, expected);
        Guarded<64> out;
        QCOMPARE(TextBetween(out.output, sizeof out.output, text.constData(), start.constData(), end.constData(),
                             keepStart, keepEnd, startFromLast, false),
                 result);
        QCOMPARE(QByteArray(out.output), expected);
        QVERIFY(out.guardIntact());

        // Into the text itself, and cut to a buffer of four bytes.
        QByteArray inPlace = text;
        TextBetween(inPlace.data(), std::size_t(inPlace.size()) + 1, inPlace.constData(), start.constData(),
                    end.constData(), keepStart, keepEnd, startFromLast, false);
        QCOMPARE(QByteArray(inPlace.constData()), expected);
        Guarded<4> small;
        TextBetween(small.output, sizeof small.output, text.constData(), start.constData(), end.constData(),
                    keepStart, keepEnd, startFromLast, false);
        QCOMPARE(QByteArray(small.output), expected.left(3));
        QVERIFY(small.guardIntact());
    }

    // Only spaces and tabs are blanks; results longer than their buffer are cut and terminated inside it.
    void trimBlanksAndCutResults()
    {
        const auto trimmed = [](QByteArray text) {
            TrimBlanks(text.data());
            return QByteArray(text.constData());
        };
        QCOMPARE(trimmed("\t x y "), QByteArray("x y"));
        QCOMPARE(trimmed("x\r\n"), QByteArray("x\r\n"));
        QCOMPARE(trimmed(" \t "), QByteArray());

        Guarded<8> out;
        QCOMPARE(TextAfter(out.output, "key=0123456789", "=", 0, false), 1);
        QCOMPARE(QByteArray(out.output), QByteArray("0123456"));
        QCOMPARE(TextBefore(out.output, "key=0123456789", "9", 0, false), 1);
        QCOMPARE(QByteArray(out.output), QByteArray("key=012"));
        QVERIFY(out.guardIntact());
    }

    // A value: after the first "key=" up to the next CR LF, without blanks, cut to its buffer.
    void settingValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // the value of "k"
        QTest::newRow("second entry") << "j=C:\\a\\\r\nk=D:\\b\\\r\n" << "D:\\b\\";
        QTest::newRow("missing key") << "j=1\r\n" << "";
        QTest::newRow("last line without CR LF") << "a=1\r\nk=n" << "";
        QTest::newRow("line end only before the key") << "\r\nk=v" << "";
        QTest::newRow("blanks around the value") << "k= y \t\r\n" << "y";
        QTest::newRow("key written twice") << "k=n\r\nk=y\r\n" << "n";
        QTest::newRow("value of 1023 bytes") << "k=" + QString(1023, 'v') + "\r\n" << QString(1023, 'v');
        QTest::newRow("value of 1024 bytes cut") << "k=" + QString(1024, 'v') + "\r\n" << QString(1023, 'v');
        QTest::newRow("line feeds only") << "j=1\nk=D:\\b\\\nm=2\n"
                                         << "D:\\b\\";
        QTest::newRow("carriage returns only") << "j=1\rk=y\rm=2\r"
                                               << "y";
    }
    void settingValue()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        Guarded<kSettingValueSize> out;
        GetSettingValue(out.output, sizeof out.output, text.toLatin1().constData(), "k");
        QCOMPARE(QString::fromLatin1(out.output), expected);
        QVERIFY(out.guardIntact());
    }

    // A missing file leaves the buffer as it was; a long one fills it less one byte, never past it.
    void readKeepsWithinTheBuffer()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
        const QByteArray name = QFile::encodeName(path);
        Guarded<kSettingsTextSize> text;
        QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, name.constData()), -1);
        QCOMPARE(text.output[0], 'x');

        writeAll(path, QByteArray(kSettingsTextSize + 100, 'k'));
        QCOMPARE(ReadSettingsFile(text.output, sizeof text.output, name.constData()), 0);
        QCOMPARE(qstrlen(text.output), uint(kSettingsTextSize - 1));
        QVERIFY(text.guardIntact());
    }

    // One entry replaced or appended, every other byte kept; a missing file is never made, an entry that
    // does not fit the room is not written, and no temporary file is left behind.
    void setSettingValue_data()
    {
        QTest::addColumn<QByteArray>("before"); // a null array: no file
        QTest::addColumn<QByteArray>("value");  // of "k"
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("after");
        using B = QByteArray;
        QTest::newRow("missing file is not created") << B() << B("n") << -1 << B();
        QTest::newRow("empty file") << B("") << B("n") << 0 << B("\r\nk=n\r\n");
        QTest::newRow("last line without CR LF replaced") << B("k=n") << B("y") << 0 << B("k=y\r\n");
        QTest::newRow("appended after no line end") << B("a=n") << B("1") << 0 << B("a=n\r\nk=1\r\n");
        QTest::newRow("appended after a bare line feed") << B("x=1\n") << B("2") << 0 << B("x=1\nk=2\r\n");
        QTest::newRow("first of two entries replaced")
            << B("k=1\r\nb=2\r\nk=3\r\n") << B("9") << 0 << B("k=9\r\nb=2\r\nk=3\r\n");
        QTest::newRow("other bytes stay as they were")
            << B("\xd6\xd0\xce\xc4 =x \r\n\0zz\t\r\nk=old\r\nlast", 28) << B("new") << 0
            << B("\xd6\xd0\xce\xc4 =x \r\n\0zz\t\r\nk=new\r\nlast", 28);
        // "k=" + value + CR LF must fit in the entry room.
        const int fits = int(kSettingEntryRoom) - 4;
        QTest::newRow("entry filling the room")
            << B("a=1\r\n") << B(fits, 'v') << 0 << "a=1\r\nk=" + B(fits, 'v') + "\r\n";
        QTest::newRow("entry one byte too long") << B("a=1\r\n") << B(fits + 1, 'v') << -1 << B("a=1\r\n");
        QTest::newRow("too long with its leading line end") << B("a=1") << B(fits - 1, 'v') << -1 << B("a=1");
        // A file edited on another system: the entry's own line end stays, and so does every other line.
        QTest::newRow("line feeds only") << B("a=1\nk=old\nb=2\n") << B("new") << 0 << B("a=1\nk=new\nb=2\n");
        QTest::newRow("carriage returns only") << B("k=old\rb=2\r") << B("n") << 0 << B("k=n\rb=2\r");
        QTest::newRow("mixed line ends") << B("a=1\r\nk=x\rb=2\n") << B("y") << 0 << B("a=1\r\nk=y\rb=2\n");
        QTest::newRow("appended after a bare carriage return")
            << B("a=1\r") << B("2") << 0 << B("a=1\rk=2\r\n");
    }
    void setSettingValue()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, value);
        QFETCH(int, result);
        QFETCH(QByteArray, after);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
        if (!before.isNull())
            writeAll(path, before);
        QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), "k", value.constData()), result);
        QCOMPARE(readAll(path), after);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), after.isNull() ? 0 : 1);
    }

    // A file too large to be read whole is never written over: the 3 GiB of a sparse file stay.
    void leavesAFileItCannotReadWhole()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("SourcePath=/data/\r\n") > 0);
        QVERIFY(file.resize(3LL * 1024 * 1024 * 1024)); // sparse: nothing allocated
        file.close();
        QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), "xlsxMode", "n"), -1);
        QCOMPARE(QFileInfo(path).size(), 3LL * 1024 * 1024 * 1024);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(19), QByteArray("SourcePath=/data/\r\n"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // The new text goes to a temporary file that takes the old one's place: a reader of the old file
    // still sees the old text, which a crash half-way could therefore not have emptied.
    void rewriteReplacesTheFileWhole()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Quillmark.qmk"));
        writeAll(path, "xlsxMode=n\r\nSavePath=/out/\r\n");
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
#ifdef _WIN32
        // Windows replaces no file that another program holds open: the write is dropped, the file whole.
        QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), "xlsxMode", "y"), -1);
        reader.close();
        QCOMPARE(readAll(path), QByteArray("xlsxMode=n\r\nSavePath=/out/\r\n"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Quillmark.qmk"});
#else
        QCOMPARE(SetSettingValue(QFile::encodeName(path).constData(), "xlsxMode", "y"), 0);
        QCOMPARE(reader.readAll(), QByteArray("xlsxMode=n\r\nSavePath=/out/\r\n"));
        QCOMPARE(readAll(path), QByteArray("xlsxMode=y\r\nSavePath=/out/\r\n"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
