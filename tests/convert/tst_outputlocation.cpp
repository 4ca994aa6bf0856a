// Where a source file's workbook goes: the mirrored output folder and its name. MakeDirPath is left to
// tst_mergeobject, whose batches make nested output folders.

#include "convert/OutputLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

class TestOutputLocation : public QObject
{
    Q_OBJECT

private slots:
    void mapping_data()
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
        const QString src = QStringLiteral("/d/src"), out = QStringLiteral("/e/out");
        // However the folders are written, the subfolder lands inside the output folder, never glued to it.
        QTest::newRow("no trailing separators") << src << out << false << true << file << folder << name;
        QTest::newRow("source with separator") << src + '/' << out << false << true << file << folder << name;
        QTest::newRow("output with separator") << src << out + '/' << false << true << file << folder << name;
        QTest::newRow("both separated") << src + '/' << out + '/' << false << true << file << folder << name;
        QTest::newRow("unclean folders")
            << "/d/./src//" << "/e//x/../out" << false << true << file << folder << name;

        QTest::newRow("file in the source folder itself")
            << src << out << false << true << "/d/src/a.csv" << "/e/out/" << "/e/out/a.xlsx";
        QTest::newRow("nested subfolders") << src << out << false << true << "/d/src/x/y/z/a.csv"
                                           << "/e/out/x/y/z/" << "/e/out/x/y/z/a.xlsx";
        QTest::newRow("subfolder named like the output") << src << src + "/out" << false << true
                                                         << "/d/src/out/a.csv" << "/d/src/out/out/"
                                                         << "/d/src/out/out/a.xlsx";
        // /d/src2 only starts with the text "/d/src": it is not below the source folder and keeps its place.
        QTest::newRow("sibling folder with the source as prefix")
            << src << out << false << true << "/d/src2/a.csv" << "/d/src2/" << "/d/src2/a.xlsx";
        QTest::newRow("source folder is the root")
            << "/" << out << false << true << file << "/e/out/d/src/2021/" << "/e/out/d/src/2021/a.xlsx";

        QTest::newRow("next to source ignores the output folder")
            << src << out << true << true << file << "/d/src/2021/" << "/d/src/2021/a.xlsx";
        QTest::newRow("dots in the name keep all but the extension") << src << out << false << true
                                                                     << "/d/src/report.2021.csv" << "/e/out/"
                                                                     << "/e/out/report.2021.xlsx";
        QTest::newRow("upper-case extension")
            << src << out << false << true << "/d/src/DATA.CSV" << "/e/out/" << "/e/out/DATA.xlsx";
        QTest::newRow("xls format") << src << out << false << false << file << folder << "/e/out/2021/a.xls";
    }
    void mapping()
    {
        QFETCH(QString, sourceFolder);
        QFETCH(QString, saveFolder);
        QFETCH(bool, nextToSource);
        QFETCH(bool, xlsx);
        QFETCH(QString, file);
        QFETCH(QString, expectedFolder);
        QFETCH(QString, expectedName);
#ifdef _WIN32
        // The same folders on a drive: a path that starts with a separator names no drive there.
        for (QString* path : {&sourceFolder, &saveFolder, &file, &expectedFolder, &expectedName})
            path->prepend(QStringLiteral("C:"));
#endif
        ConversionOptions options;
        options.SourcePath = QDir::toNativeSeparators(sourceFolder);
        options.SavePath = QDir::toNativeSeparators(saveFolder);
        options.SaveToQuondamPath = nextToSource;
        options.xlsxMode = xlsx;
        QCOMPARE(outputFolderFor(QFileInfo(file), options), QDir::toNativeSeparators(expectedFolder));
        QCOMPARE(outputFileNameFor(QFileInfo(file), options), QDir::toNativeSeparators(expectedName));
    }
};

QTEST_GUILESS_MAIN(TestOutputLocation)
#include "tst_outputlocation.moc"
