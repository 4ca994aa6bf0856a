// Writing cells one by one into the compact grid, in order and out of order.
#include "spreadsheet/model/CellGrid.h"
#include "spreadsheet/read/DelimitedText.h"

#include <QtTest>

using spreadsheet::CellGrid;

namespace {

// Every cell the grid reports, row by row: "[a][][c]\n[x]".
QByteArray render(const CellGrid& grid)
{
    QByteArrayList rows;
    for (std::size_t row = 0; row < grid.rowCount(); ++row) {
        QByteArray line;
        for (std::size_t column = 0; column < grid.cellCount(row); ++column) {
            const std::string_view text = grid.cell(row, column);
            line += '[' + QByteArray(text.data(), int(text.size())) + ']';
        }
        rows << line;
    }
    return rows.join('\n');
}

// The same, read the way a writer walks rows: whole stored rows where the grid has them, cell by cell
// where it has not. `apart` lists the rows it had to read cell by cell.
QByteArray renderStored(const CellGrid& grid, QList<int>& apart)
{
    QByteArrayList rows;
    for (std::size_t row = 0; row < grid.rowCount(); ++row) {
        QByteArray line;
        CellGrid::RowCells cells;
        if (grid.storedRow(row, cells)) {
            std::uint32_t begin = 0;
            for (std::size_t i = 0; i < cells.count; ++i) {
                line += '[' + QByteArray(cells.text + begin, int(cells.ends[i] - begin)) + ']';
                begin = cells.ends[i];
            }
        } else {
            apart << int(row);
            for (std::size_t column = 0; column < grid.cellCount(row); ++column) {
                const std::string_view text = grid.cell(row, column);
                line += '[' + QByteArray(text.data(), int(text.size())) + ']';
            }
        }
        rows << line;
    }
    return rows.join('\n');
}

} // namespace

class TestCellGrid : public QObject
{
    Q_OBJECT

private slots:
    void setCell_data();
    void setCell();
    void measuresParsedGrid();
    void blankRowsStoreNothing_data();
    void blankRowsStoreNothing();
};

void TestCellGrid::setCell_data()
{
    QTest::addColumn<QStringList>("writes"); // "row,column=text", 0-based, in this order
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("columnCount");
    QTest::addColumn<int>("longestCellBytes");
    QTest::addColumn<QList<int>>("apart"); // rows holding cells written out of order

    QTest::newRow("in order") << QStringList{"0,0=a", "0,1=bb", "1,0=c"} << QByteArray("[a][bb]\n[c]") << 2 << 2
                              << QList<int>{};
    QTest::newRow("skipped columns padded") << QStringList{"0,0=a", "0,3=d"} << QByteArray("[a][][][d]") << 4 << 1
                                            << QList<int>{};
    QTest::newRow("skipped rows empty") << QStringList{"0,0=a", "3,1=b"} << QByteArray("[a]\n\n\n[][b]") << 2 << 1
                                        << QList<int>{};
    QTest::newRow("earlier row overridden")
        << QStringList{"0,0=a", "0,1=b", "1,0=c", "0,0=AAA"} << QByteArray("[AAA][b]\n[c]") << 2 << 3
        << QList<int>{0};
    QTest::newRow("earlier row widened")
        << QStringList{"0,0=a", "1,0=c", "0,4=late"} << QByteArray("[a][][][][late]\n[c]") << 5 << 4
        << QList<int>{0};
    QTest::newRow("padding of an earlier row overridden")
        << QStringList{"0,0=a", "0,2=c", "1,0=x", "0,1=b"} << QByteArray("[a][b][c]\n[x]") << 3 << 1
        << QList<int>{0};
    QTest::newRow("last row overridden") << QStringList{"0,0=a", "0,1=b", "0,0=again"} << QByteArray("[again][b]")
                                         << 2 << 5 << QList<int>{0};
    QTest::newRow("same cell twice, then appended")
        << QStringList{"0,0=a", "0,0=b", "0,1=c", "0,0=d"} << QByteArray("[d][c]") << 2 << 1 << QList<int>{0};
    QTest::newRow("blank rows between stored ones")
        << QStringList{"0,0=a", "2,0=b", "2,1=c", "5,0=d", "3,1=late"}
        << QByteArray("[a]\n\n[b][c]\n[][late]\n\n[d]") << 2 << 4 << QList<int>{3};
    QTest::newRow("column 16383") << QStringList{"0,16383=x"} << QByteArray("[]").repeated(16383) + "[x]" << 16384
                                  << 1 << QList<int>{};
}

void TestCellGrid::setCell()
{
    QFETCH(QStringList, writes);
    QFETCH(QByteArray, expected);
    QFETCH(int, columnCount);
    QFETCH(int, longestCellBytes);
    QFETCH(QList<int>, apart);

    CellGrid grid;
    for (const QString& write : writes) {
        const int comma = write.indexOf(QLatin1Char(','));
        const int equals = write.indexOf(QLatin1Char('='));
        const std::string text = write.mid(equals + 1).toStdString();
        grid.setCell(write.left(comma).toULongLong(), write.mid(comma + 1, equals - comma - 1).toULongLong(), text);
    }
    QCOMPARE(render(grid), expected);
    QCOMPARE(int(grid.columnCount()), columnCount);
    QCOMPARE(int(grid.longestCellBytes()), longestCellBytes);
    QCOMPARE(grid.cellCount(grid.rowCount()), std::size_t(0));
    QVERIFY(grid.cell(grid.rowCount(), 0).empty());

    QList<int> readApart;
    QCOMPARE(renderStored(grid, readApart), expected);
    QCOMPARE(readApart, apart);
    CellGrid::RowCells none;
    QVERIFY(!grid.storedRow(grid.rowCount(), none));
}

void TestCellGrid::measuresParsedGrid()
{
    CellGrid grid = spreadsheet::parseDelimited("ab,c\n1,2,3456,\nx\n", spreadsheet::DelimitedOptions());
    QCOMPARE(render(grid), QByteArray("[ab][c]\n[1][2][3456][]\n[x]"));
    QCOMPARE(int(grid.columnCount()), 4);
    QCOMPARE(int(grid.longestCellBytes()), 4);

    // A parsed grid takes further cells like any other.
    grid.setCell(0, 1, "override");
    grid.setCell(2, 2, "appended");
    QCOMPARE(render(grid), QByteArray("[ab][override]\n[1][2][3456][]\n[x][][appended]"));
    QCOMPARE(int(grid.longestCellBytes()), 8);
}

// Rows of no cell or a single empty one hold no table entry; the rows around them keep their places.
void TestCellGrid::blankRowsStoreNothing_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("storedCells");
    QTest::newRow("runs of blank lines")
        << QByteArray("\n\na\n\n\nb,c\n\n") << QByteArray("\n\n[a]\n\n\n[b][c]\n") << 3;
    QTest::newRow("alternating") << QByteArray("a\r\n\r\nb\r\n\r\nc") << QByteArray("[a]\n\n[b]\n\n[c]") << 3;
    QTest::newRow("quoted empty field is blank, two empty fields are not")
        << QByteArray("\"\"\n,\n") << QByteArray("\n[][]") << 2;
    QTest::newRow("only blank lines") << QByteArray(100000, '\n') << QByteArray(99999, '\n') << 0;
}

void TestCellGrid::blankRowsStoreNothing()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QFETCH(int, storedCells);
    const CellGrid grid = spreadsheet::parseDelimited(text.toStdString(), spreadsheet::DelimitedOptions());
    QCOMPARE(render(grid), expected);
    QList<int> apart;
    QCOMPARE(renderStored(grid, apart), expected);
    QCOMPARE(int(grid.storedCells()), storedCells);
}

QTEST_APPLESS_MAIN(TestCellGrid)
#include "tst_cellgrid.moc"
