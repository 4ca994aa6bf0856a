// File and process helpers of the self-update: existence with wildcards, MD5 text, last-occurrence
// replacement, decimal text and starting a program.

#include "platform/FileNameEncoding.h"
#include "update/FileHelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <cstring>

class TestFileHelpers : public QObject
{
    Q_OBJECT

    QTemporaryDir folder_;

    QByteArray path(const char* name) const
    {
        return platform::fileNameBytes(folder_.filePath(QString::fromUtf8(name)));
    }
    void write(const char* name, const QByteArray& bytes) const
    {
        QFile file(folder_.filePath(QString::fromUtf8(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(QDir(folder_.path()).mkdir(QStringLiteral("sub")));
        write("empty", {});
        write("abc", "abc");
        write("million-a", QByteArray(1000000, 'a')); // many reads of 1024 bytes
        write("Quillmark.zip", "PK");
        write("[x].txt", "");
        write("한국어 😀.txt", "abc"); // a name no Chinese code page can write
    }

    void fileExists_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty path") << QByteArray() << false;
        QTest::newRow("file") << path("abc") << true;
        QTest::newRow("folder") << path("sub") << true;
        QTest::newRow("folder with a trailing separator") << path("sub") + '/' << false;
        QTest::newRow("missing file") << path("missing") << false;
        QTest::newRow("wildcard that matches") << path("Quillmark.*") << true;
        QTest::newRow("wildcard that matches nothing") << path("*.exe") << false;
        QTest::newRow("brackets are no wildcard") << path("[x]*") << true;
        QTest::newRow("Korean and emoji name") << path("한국어 😀.txt") << true;
        QTest::newRow("wildcard after a Korean prefix") << path("한국*") << true;
    }
    void fileExists()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, exists);
        QCOMPARE(::fileExists(path.constData()), exists);
    }

    // Digests of the MD5 definition's test suite and its one-million-"a" message; no digest, and the buffer
    // untouched, for what cannot be read to its end.
    void fileMd5Hex_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("digest"); // the buffer's text afterwards
        using B = QByteArray;
        QTest::newRow("empty file") << path("empty") << 0 << B("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("abc") << path("abc") << 0 << B("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("Korean and emoji name")
            << path("한국어 😀.txt") << 0 << B("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("a million bytes") << path("million-a") << 0 << B("7707d6ae4e027c70eea2a935c2296f21");
        QTest::newRow("missing file") << path("missing") << -1 << B("untouched");
        QTest::newRow("folder") << path("sub") << -1 << B("untouched");
    }
    void fileMd5Hex()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, result);
        QFETCH(QByteArray, digest);
        char output[33] = "untouched";
        QCOMPARE(::fileMd5Hex(output, sizeof output, path.constData()), result);
        QCOMPARE(QByteArray(output), digest);
    }

    // The last match counted without overlaps is replaced, in place and never past the buffer.
    void replaceLast_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QByteArray>("result");
        using B = QByteArray;
        QTest::newRow("last of two")
            << B("C:\\a.exe\\b.exe") << 64 << B(".exe") << B("_old") << B("C:\\a.exe\\b_old");
        QTest::newRow("no occurrence") << B("/opt/Qm") << 64 << B(".exe") << B("_old") << B("/opt/Qm");
        QTest::newRow("matches do not overlap") << B("aaa") << 64 << B("aa") << B("X") << B("Xa");
        QTest::newRow("result that does not fit stays unchanged")
            << B("a.exe") << 7 << B(".exe") << B(".exe.1") << B("a.exe");
    }
    void replaceLast()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, size);
        QFETCH(QByteArray, find);
        QFETCH(QByteArray, replacement);
        QFETCH(QByteArray, result);
        QByteArray buffer(64, '#'); // bytes beyond `size` must stay as they are
        std::memcpy(buffer.data(), text.constData(), static_cast<std::size_t>(text.size()) + 1);
        ::replaceLast(buffer.data(), std::size_t(size), find.constData(), replacement.constData());
        QCOMPARE(QByteArray(buffer.constData()), result);
        QCOMPARE(buffer.mid(size), QByteArray(64 - size, '#'));
    }

    void intToDecimal_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("zero") << 0 << 12 << QByteArray("0");
        QTest::newRow("negative") << -45 << 12 << QByteArray("-45");
        QTest::newRow("smallest") << INT_MIN << 12 << QByteArray("-2147483648");
        QTest::newRow("too small a buffer") << 12345 << 5 << QByteArray();
    }
    void intToDecimal()
    {
        QFETCH(int, value);
        QFETCH(int, size);
        QFETCH(QByteArray, text);
        QByteArray buffer(16, '#');
        ::intToDecimal(value, buffer.data(), static_cast<std::size_t>(size));
        QCOMPARE(QByteArray(buffer.constData()), text);
        QCOMPARE(buffer.mid(size), QByteArray(16 - size, '#'));
    }

    // The command line is split at blanks; the stand-in floods its output before it leaves its marker, so
    // it only gets there when nothing it writes blocks or ends it.
    void runProgram()
    {
        QCOMPARE(::runProgram(path("missing").constData(), "", 1), -1);
        const QString program = folder_.filePath(QStringLiteral("standin"));
        QVERIFY(QFile::copy(QStringLiteral(QUILLMARK_STANDIN_PROGRAM), program));
        QCOMPARE(::runProgram(QFile::encodeName(program).constData(), "  -autorun  second ", 1), 0);
        QFile marker(program + QStringLiteral(".ran"));
        QTRY_VERIFY_WITH_TIMEOUT(marker.exists(), 10000);
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll(), QByteArray("-autorun\nsecond\n"));
    }
};

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
