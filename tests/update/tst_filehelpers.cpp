// File and process helpers of the self-update: existence with wildcards, MD5 text, last-occurrence
// replacement, decimal text and starting a program.

#include "update/FileHelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <cstring>

class TestFileHelpers : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void fileExists_data();
    void fileExists();
    void fileMd5Hex_data();
    void fileMd5Hex();
    void replaceLast_data();
    void replaceLast();
    void intToDecimal_data();
    void intToDecimal();
    void runProgram();

  private:
    QByteArray path(const char* name) const
    {
        return QFile::encodeName(folder_.filePath(QString::fromUtf8(name)));
    }
    void write(const char* name, const QByteArray& bytes) const;

    QTemporaryDir folder_;
};

void TestFileHelpers::write(const char* name, const QByteArray& bytes) const
{
    QFile file(QString::fromUtf8(path(name)));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void TestFileHelpers::initTestCase()
{
    QVERIFY(folder_.isValid());
    QVERIFY(QDir(folder_.path()).mkdir(QStringLiteral("sub")));
    write("empty", {});
    write("abc", "abc");
    write("million-a", QByteArray(1000000, 'a')); // many reads of 1024 bytes
    write("Quillmark.zip", "PK");
    write("[x].txt", "");
}

void TestFileHelpers::fileExists_data()
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
}

void TestFileHelpers::fileExists()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, exists);
    QCOMPARE(::fileExists(path.constData()), exists);
}

void TestFileHelpers::fileMd5Hex_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("digest"); // the buffer's text afterwards

    // Digests of the MD5 definition's test suite and its one-million-"a" message.
    QTest::newRow("empty file") << path("empty") << 0 << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("abc") << path("abc") << 0 << QByteArray("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("a million bytes") << path("million-a") << 0
                                     << QByteArray("7707d6ae4e027c70eea2a935c2296f21");
    QTest::newRow("missing file leaves the buffer") << path("missing") << -1 << QByteArray("untouched");
    QTest::newRow("folder leaves the buffer") << path("sub") << -1 << QByteArray("untouched");
}

void TestFileHelpers::fileMd5Hex()
{
    QFETCH(QByteArray, path);
    QFETCH(int, result);
    QFETCH(QByteArray, digest);

    char output[33] = "untouched";
    QCOMPARE(::fileMd5Hex(output, sizeof output, path.constData()), result);
    QCOMPARE(QByteArray(output), digest);
}

void TestFileHelpers::replaceLast_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("find");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<QByteArray>("result");

    QTest::newRow("last of two") << QByteArray("C:\\a.exe\\b.exe") << 64 << QByteArray(".exe")
                                 << QByteArray("_old") << QByteArray("C:\\a.exe\\b_old");
    QTest::newRow("no occurrence") << QByteArray("/opt/Quillmark") << 64 << QByteArray(".exe")
                                   << QByteArray("_old") << QByteArray("/opt/Quillmark");
    QTest::newRow("matches do not overlap")
        << QByteArray("aaa") << 64 << QByteArray("aa") << QByteArray("X") << QByteArray("Xa");
    QTest::newRow("result that does not fit stays unchanged")
        << QByteArray("a.exe") << 7 << QByteArray(".exe") << QByteArray(".exe.1") << QByteArray("a.exe");
}

void TestFileHelpers::replaceLast()
{
    QFETCH(QByteArray, text);
    QFETCH(int, size);
    QFETCH(QByteArray, find);
    QFETCH(QByteArray, replacement);
    QFETCH(QByteArray, result);

    QByteArray buffer(64, '#'); // bytes beyond `size` must stay as they are
    std::memcpy(buffer.data(), text.constData(), static_cast<std::size_t>(text.size()) + 1);
    ::replaceLast(buffer.data(), static_cast<std::size_t>(size), find.constData(), replacement.constData());
    QCOMPARE(QByteArray(buffer.constData()), result);
    QCOMPARE(buffer.mid(size), QByteArray(64 - size, '#'));
}

void TestFileHelpers::intToDecimal_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("zero") << 0 << 12 << QByteArray("0");
    QTest::newRow("negative") << -45 << 12 << QByteArray("-45");
    QTest::newRow("smallest") << INT_MIN << 12 << QByteArray("-2147483648");
    QTest::newRow("too small a buffer") << 12345 << 5 << QByteArray();
}

void TestFileHelpers::intToDecimal()
{
    QFETCH(int, value);
    QFETCH(int, size);
    QFETCH(QByteArray, text);

    QByteArray buffer(16, '#');
    ::intToDecimal(value, buffer.data(), static_cast<std::size_t>(size));
    QCOMPARE(QByteArray(buffer.constData()), text);
    QCOMPARE(buffer.mid(size), QByteArray(16 - size, '#'));
}

// The stand-in floods its output before it leaves its marker: it only gets there when nothing it writes
// blocks or ends it.
void TestFileHelpers::runProgram()
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

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
