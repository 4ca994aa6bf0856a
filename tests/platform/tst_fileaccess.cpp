// Files reached through the C runtime by the 8-bit form of their path: names that a Chinese system's code
// page cannot write (Korean, emoji) and paths longer than the system's old limit must open, be replaced
// and removed like any other. Qt, which reaches files by their UTF-16 names, checks what happened.

#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string bytesOf(const QString& path)
{
    return platform::fileNameBytes(path).toStdString();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot open)");
}

} // namespace

class TestFileAccess : public QObject
{
    Q_OBJECT

    QTemporaryDir root_;

  private slots:
    void paths_data()
    {
        QTest::addColumn<QString>("folder"); // below the temporary folder
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QStringLiteral("plain") << QStringLiteral("data.csv");
        QTest::newRow("Chinese") << QStringLiteral("月度 报表") << QStringLiteral("销售.csv");
        QTest::newRow("Korean") << QStringLiteral("한국어 폴더") << QStringLiteral("매출.csv");
        QTest::newRow("emoji") << QStringLiteral("emoji \U0001F600") << QStringLiteral("\U0001F4CA data.csv");
        QTest::newRow("longer than 260 characters")
            << QString(QStringLiteral("깊은 폴더 ")).repeated(12) + QStringLiteral("/") +
                   QString(120, QLatin1Char('d')) + QStringLiteral("/") + QString(100, QLatin1Char('e'))
            << QStringLiteral("끝.csv");
    }

    // A new file is created exclusively and read back by name; a second exclusive creation fails.
    // Replacing moves a file onto it in one step, and removing leaves nothing behind.
    void paths()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        const QString dir = root_.filePath(folder);
        QVERIFY(QDir().mkpath(dir));
        const QString path = dir + QLatin1Char('/') + name;
        const QString incoming = path + QStringLiteral(".new");

        {
            File created(platform::openFile(bytesOf(path), "wbx"));
            QVERIFY(created);
            QCOMPARE(std::fputs("first", created.get()) >= 0, true);
        }
        QCOMPARE(readAll(path), QByteArray("first"));
        errno = 0;
        QVERIFY(!File(platform::openFile(bytesOf(path), "wbx")));
        QCOMPARE(errno, EEXIST);
        QCOMPARE(readAll(path), QByteArray("first")); // an exclusive creation never empties a file

        {
            QFile replacement(incoming);
            QVERIFY(replacement.open(QIODevice::WriteOnly));
            replacement.write("second");
        }
        QVERIFY(platform::replaceFile(bytesOf(incoming), bytesOf(path)));
        QVERIFY(!QFile::exists(incoming));
        {
            File reading(platform::openFile(bytesOf(path), "rb"));
            QVERIFY(reading);
            char text[16] = {};
            QCOMPARE(std::fread(text, 1, sizeof text - 1, reading.get()), std::size_t(6));
            QCOMPARE(QByteArray(text), QByteArray("second"));
        }

        QVERIFY(platform::removeFile(bytesOf(path)));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!platform::removeFile(bytesOf(path)));
        QVERIFY(!platform::replaceFile(bytesOf(incoming), bytesOf(path)));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // The folder of a path ends at its last separator; the system's own separator counts wherever it is.
    void lastPathSeparator_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("position");
        QTest::newRow("no folder") << QStringLiteral("a.csv") << -1;
        QTest::newRow("folder with a Korean name") << QStringLiteral("한/a.csv") << 3;
        QTest::newRow("native separators") << QDir::toNativeSeparators(QStringLiteral("x/y/a.csv")) << 3;
    }
    void lastPathSeparator()
    {
        QFETCH(QString, path);
        QFETCH(int, position);
        const std::size_t found = platform::lastPathSeparator(bytesOf(path));
        QCOMPARE(found == std::string::npos ? -1 : static_cast<int>(found), position);
    }
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
