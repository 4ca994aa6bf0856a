// Files the embedded spreadsheet application must refuse with a reason, without blocking, without a crash
// and without taking the memory first: a file larger than the memory it may use (a sparse file, so nothing
// is allocated), one whose tables would not fit, a named pipe, a device.

#include "spreadsheet/SpreadsheetApplication.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using spreadsheet::SpreadsheetApplication;

class TestHostileFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir folder_;

  private slots:
    void initTestCase()
    {
        QVERIFY(folder_.isValid());
        QFile sparse(folder_.filePath(QStringLiteral("sparse.csv")));
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(1LL << 40)); // 1 TiB, no block of it allocated
        QFile rows(folder_.filePath(QStringLiteral("rows.csv")));
        QVERIFY(rows.open(QIODevice::WriteOnly));
        QVERIFY(rows.write(QByteArray("1,2\n").repeated(100000)) > 0); // 400 kB, tables of about 2.4 MB
#ifndef _WIN32 // Windows folders hold neither named pipes nor devices
        QVERIFY(mkfifo(QFile::encodeName(folder_.filePath(QStringLiteral("pipe.csv"))).constData(), 0600) ==
                0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), folder_.filePath(QStringLiteral("zero.csv"))));
#endif
    }

    void refusesWithAReason_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<unsigned long long>("memoryLimit");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("reason");
        const unsigned long long gib = 1ULL << 30;
        QTest::newRow("larger than the memory limit")
            << "sparse.csv" << gib << false << "too large for this computer's memory";
        QTest::newRow("text fits, tables do not")
            << "rows.csv" << 1000000ULL << false << "too large for this computer's memory";
        QTest::newRow("within the limit") << "rows.csv" << gib << true << "";
#ifndef _WIN32
        QTest::newRow("named pipe") << "pipe.csv" << gib << false << "is a named pipe (FIFO), not a file";
        QTest::newRow("link to a device") << "zero.csv" << gib << false << "is a device, not a file";
#endif
    }
    void refusesWithAReason()
    {
        QFETCH(QString, name);
        QFETCH(unsigned long long, memoryLimit);
        QFETCH(bool, opened);
        QFETCH(QString, reason);
        const std::string path = QFile::encodeName(folder_.filePath(name)).toStdString();
        for (bool textImport : {false, true}) {
            SpreadsheetApplication application;
            application.memoryLimit = memoryLimit;
            SpreadsheetApplication::WorkbookId workbook = 1234;
            spreadsheet::TextImport import;
            import.path = path;
            import.comma = true;
            const spreadsheet::Status status =
                textImport ? application.openText(import, workbook) : application.open(path, workbook);
            QCOMPARE(status.ok(), opened);
            QCOMPARE(workbook != SpreadsheetApplication::kNoWorkbook, opened);
            QVERIFY2(QString::fromStdString(status.message()).endsWith(reason), status.message().c_str());
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
