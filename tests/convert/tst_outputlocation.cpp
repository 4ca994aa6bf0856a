// Where a source file's workbook goes: the mirrored output folder, the name, and MakeDirPath.

#include "convert/OutputLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestOutputLocation : public QObject
{
    Q_OBJECT

private slots:
    void mapping_data();
    void mapping();
    void makeDirPathCreatesMissingLevels();
};

void TestOutputLocation::mapping_data()
{
    QTest::addColumn<QString>("sourceFolder");
    QTest::addColumn<QString>("saveFolder");
    QTest::addColumn<bool>("nextToSource");
    QTest::addColumn<bool>("xlsx");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expectedFolder");
    QTest::addColumn<QString>("expectedName");

    const QString file = QStringLiteral("/d/src/2021/a.csv");
    const QString folder = QStringLiteral("/e/out/2021/");
    const QString name = QStringLiteral("/e/out/2021/a.xlsx");
    // However the folders are written, the subfolder lands inside the output folder, never glued to it.
    QTest::newRow("no trailing separators") << "/d/src" << "/e/out" << false << true << file << folder << name;
    QTest::newRow("source with separator") << "/d/src/" << "/e/out" << false << true << file << folder << name;
    QTest::newRow("output with separator") << "/d/src" << "/e/out/" << false << true << file << folder << name;
    QTest::newRow("both with separator") << "/d/src/" << "/e/out/" << false << true << file << folder << name;
    QTest::newRow("unclean folders") << "/d/./src//" << "/e//x/../out" << false << true << file << folder << name;

    QTest::newRow("file in the source folder itself")
        << "/d/src" << "/e/out" << false << true << "/d/src/a.csv" << "/e/out/" << "/e/out/a.xlsx";
    QTest::newRow("nested subfolders")
        << "/d/src" << "/e/out" << false << true << "/d/src/x/y/z/a.csv" << "/e/out/x/y/z/" << "/e/out/x/y/z/a.xlsx";
    QTest::newRow("subfolder named like the output")
        << "/d/src" << "/d/src/out" << false << true << "/d/src/out/a.csv" << "/d/src/out/out/"
        << "/d/src/out/out/a.xlsx";
    // /d/src2 only starts with the text "/d/src": it is not below the source folder and keeps its own place.
    QTest::newRow("sibling folder with the source as prefix")
        << "/d/src" << "/e/out" << false << true << "/d/src2/a.csv" << "/d/src2/" << "/d/src2/a.xlsx";
    QTest::newRow("source folder is the root")
        << "/" << "/e/out" << false << true << file << "/e/out/d/src/2021/" << "/e/out/d/src/2021/a.xlsx";

    QTest::newRow("next to source ignores the output folder")
        << "/d/src" << "/e/out" << true << true << file << "/d/src/2021/" << "/d/src/2021/a.xlsx";
    QTest::newRow("dots in the name keep all but the extension")
        << "/d/src" << "/e/out" << false << true << "/d/src/report.2021.csv" << "/e/out/" << "/e/out/report.2021.xlsx";
    QTest::newRow("upper-case extension")
        << "/d/src" << "/e/out" << false << true << "/d/src/DATA.CSV" << "/e/out/" << "/e/out/DATA.xlsx";
    QTest::newRow("xls format") << "/d/src" << "/e/out" << false << false << file << folder << "/e/out/2021/a.xls";
    QTest::newRow("xls next to source")
        << "/d/src" << "/e/out" << true << false << "/d/src/report.2021.csv" << "/d/src/" << "/d/src/report.2021.xls";
}

void TestOutputLocation::mapping()
{
    QFETCH(QString, sourceFolder);
    QFETCH(QString, saveFolder);
    QFETCH(bool, nextToSource);
    QFETCH(bool, xlsx);
    QFETCH(QString, file);
    QFETCH(QString, expectedFolder);
    QFETCH(QString, expectedName);

    ConversionOptions options;
    options.SourcePath = QDir::toNativeSeparators(sourceFolder);
    options.SavePath = QDir::toNativeSeparators(saveFolder);
    options.SaveToQuondamPath = nextToSource;
    options.xlsxMode = xlsx;
    const QFileInfo source(file);

    QCOMPARE(outputFolderFor(source, options), QDir::toNativeSeparators(expectedFolder));
    QCOMPARE(outputFileNameFor(source, options), QDir::toNativeSeparators(expectedName));
}

void TestOutputLocation::makeDirPathCreatesMissingLevels()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString path = temporary.path() + QStringLiteral("/one/two/three");
    QVERIFY(!QFileInfo::exists(temporary.path() + QStringLiteral("/one")));

    QCOMPARE(MakeDirPath(path), path);
    QVERIFY(QFileInfo(path).isDir());

    // An existing path is left as it is and given back unchanged.
    QCOMPARE(MakeDirPath(path), path);
    QVERIFY(QFileInfo(path).isDir());
}

QTEST_GUILESS_MAIN(TestOutputLocation)
#include "tst_outputlocation.moc"
