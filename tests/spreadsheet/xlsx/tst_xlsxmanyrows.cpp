// A sheet with more rows than a worksheet holds continues on a second sheet; no row is dropped.
#include "tests/spreadsheet/XlsxInspection.h"

#include "spreadsheet/xlsx/XlsxWriter.h"

#include <QtTest>

class TestXlsxManyRows : public QObject
{
    Q_OBJECT

private slots:
    void continuesOnSecondSheet();
};

void TestXlsxManyRows::continuesOnSecondSheet()
{
    constexpr std::size_t kSheetRows = 1048576;
    constexpr std::size_t kRows = kSheetRows + 4;

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("big.xlsx"));
    {
        spreadsheet::Workbook workbook;
        workbook.sheets.emplace_back();
        spreadsheet::Sheet& sheet = workbook.sheets.back();
        sheet.name = "Big";
        // Short cells keep the file small; the rows that spill over say which row they are.
        for (std::size_t row = 0; row < kRows; ++row)
            sheet.cells.setCell(row, 0, row + 4 < kRows ? std::string("x") : "row " + std::to_string(row + 1));
        const spreadsheet::Status saved = spreadsheet::saveXlsx(workbook, output.toStdString());
        QVERIFY2(saved.ok(), saved.message().c_str());
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("big.xlsx")});

    const PythonRun read = inspectWorkbook(R"py(
import openpyxl, sys
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
print(wb.sheetnames)
print(wb["Big"].max_row)
for row in wb["Big (2)"].iter_rows(values_only=True):
    print(row)
)py",
                                           {output});
    QVERIFY2(read.ok(), read.report().constData());
    const QStringList expected{
        QStringLiteral("['Big', 'Big (2)']"),
        QString::number(kSheetRows),
        QStringLiteral("('row 1048577',)"),
        QStringLiteral("('row 1048578',)"),
        QStringLiteral("('row 1048579',)"),
        QStringLiteral("('row 1048580',)"),
    };
    QCOMPARE(QString::fromUtf8(read.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

QTEST_GUILESS_MAIN(TestXlsxManyRows)
#include "tst_xlsxmanyrows.moc"
