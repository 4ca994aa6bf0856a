// The compound document around .xls workbooks: header, FAT, DIFAT and directory read back byte by byte
// and by olefile at its strictest; xlrd reading a workbook that needs DIFAT sectors; write errors.
#include "tests/TestFiles.h"
#include "tests/spreadsheet/XlsxInspection.h"

#include "spreadsheet/SpreadsheetApplication.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <QtEndian>

#include <cstdio>
#include <memory>

using spreadsheet::Status;
using spreadsheet::StreamSink;

namespace {

// A little-endian number; past the end a mark no writer uses, so that a wrong offset fails a comparison.
quint32 u32(const QByteArray& bytes, qint64 at)
{
    return at >= 0 && at + 4 <= bytes.size() ? qFromLittleEndian<quint32>(bytes.constData() + at)
                                             : 0xBAD0BAD0;
}

// Writes `size` bytes (byte i is i % 251, so that a misplaced sector shows) as the stream of a compound
// file at `path`, in pieces that straddle sectors. The producer does not stop when the sink refuses.
Status writeStream(const QString& path, qint64 size, const char* streamName = "Workbook")
{
    QByteArray piece(251 * 4000, 0);
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = char(i % 251);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(qPrintable(path), "wb"),
                                                               std::fclose);
    return spreadsheet::writeCompoundFile(file.get(), "it", streamName, [&](const StreamSink& sink) {
        for (qint64 at = 0; at < size; at += piece.size())
            sink(piece.constData(), size_t(qMin<qint64>(size - at, piece.size())));
        return Status::success();
    });
}

} // namespace

class TestCompoundFile : public QObject
{
    Q_OBJECT

  private slots:
    void laysOutTables_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<quint32>("fatSectors");
        QTest::addColumn<quint32>("difatSectors");
        QTest::addColumn<quint32>("directory"); // its sector, the file's last

        // The stream's sectors, the FAT's (128 sectors each), the DIFAT's, the directory.
        QTest::newRow("one byte, padded to 4,096") << 1 << 1u << 0u << 9u;
        QTest::newRow("4,097 bytes") << 4097 << 1u << 0u << 10u;
        QTest::newRow("one FAT sector, full") << 126 * 512 << 1u << 0u << 127u;
        QTest::newRow("two FAT sectors") << 126 * 512 + 1 << 2u << 0u << 129u;
        QTest::newRow("109 FAT sectors, all in the header") << 13842 * 512 << 109u << 0u << 13951u;
        QTest::newRow("one DIFAT sector") << 13842 * 512 + 1 << 110u << 1u << 13954u;
        QTest::newRow("two DIFAT sectors") << 29971 * 512 - 100 << 237u << 2u << 30210u;
    }

    void laysOutTables()
    {
        QFETCH(int, size);
        QFETCH(quint32, fatSectors);
        QFETCH(quint32, difatSectors);
        QFETCH(quint32, directory);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stream.xls"));
        const Status written = writeStream(path, size);
        QVERIFY2(written.ok(), written.message().c_str());
        const QByteArray file = readFile(path);
        const auto at = [](quint32 sector) { return 512 + qint64(sector) * 512; };
        const quint32 streamSize = quint32(qMax(size, 4096)), streamSectors = (streamSize + 511) / 512;

        QCOMPARE(file.size(), at(directory + 1));
        QCOMPARE(file.left(36).toHex(),
                 "d0cf11e0a1b11ae1" + QByteArray(32, '0') + "3e000300feff090006000000");
        const quint32 firstDifat = difatSectors ? streamSectors + fatSectors : 0xFFFFFFFE;
        QCOMPARE((QVector<quint32>{u32(file, 44), u32(file, 48), u32(file, 56), u32(file, 60), u32(file, 68),
                                   u32(file, 72)}),
                 (QVector<quint32>{fatSectors, directory, 4096, 0xFFFFFFFE, firstDifat, difatSectors}));

        // The FAT sectors as the header and the DIFAT chain list them, then the FAT they hold: sector 0 on,
        // the stream, one sector after another; the tables' sectors marked; the rest free.
        QVector<quint32> fatIds, difatIds, fat, expected;
        for (int i = 0; i < 109; ++i)
            fatIds << u32(file, 76 + 4 * i);
        for (quint32 next = firstDifat; next != 0xFFFFFFFE && difatIds.size() <= 2;
             next = u32(file, at(next) + 508)) {
            difatIds << next;
            for (int i = 0; i < 127; ++i)
                fatIds << u32(file, at(next) + 4 * i);
        }
        QCOMPARE(quint32(difatIds.size()), difatSectors);
        QCOMPARE(fatIds.mid(int(fatSectors)), QVector<quint32>(fatIds.size() - int(fatSectors), 0xFFFFFFFF));
        for (quint32 id : fatIds.mid(0, int(fatSectors)))
            for (int i = 0; i < 128; ++i)
                fat << u32(file, at(id) + 4 * i);
        for (quint32 id = 1; id < streamSectors; ++id)
            expected << id;
        expected << 0xFFFFFFFE << QVector<quint32>(int(fatSectors), 0xFFFFFFFD)
                 << QVector<quint32>(int(difatSectors), 0xFFFFFFFC) << 0xFFFFFFFE;
        QCOMPARE(fat, expected << QVector<quint32>(fat.size() - expected.size(), 0xFFFFFFFF));

        // The root, whose child is entry 1; the stream from sector 0; unused entries.
        const QByteArray entries = file.mid(at(directory));
        QCOMPARE(entries.left(22), QByteArray("R\0o\0o\0t\0 \0E\0n\0t\0r\0y\0\0\0", 22));
        QCOMPARE(entries.mid(64, 16).toHex(), QByteArray("16000501ffffffffffffffff01000000"));
        QCOMPARE(entries.mid(128, 18), QByteArray("W\0o\0r\0k\0b\0o\0o\0k\0\0\0", 18));
        QCOMPARE(entries.mid(192, 16).toHex(), QByteArray("12000201ffffffffffffffffffffffff"));
        QCOMPARE((QVector<quint32>{u32(entries, 244), u32(entries, 248)}), (QVector<quint32>{0, streamSize}));
        QCOMPARE(entries.mid(256, 80).toHex(), QByteArray(136, '0') + QByteArray(24, 'f'));

        // olefile, which raises on every inconsistency it notices, finds the same stream.
        const PythonRun ole =
            runPython({"-c",
                       "import sys, olefile\n"
                       "ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)\n"
                       "data, size = ole.openstream('Workbook').read(), int(sys.argv[2])\n"
                       "expected = (bytes(range(251)) * (size // 251 + 1))[:size].ljust(4096, b'\\0')\n"
                       "print(ole.listdir(), len(data), data == expected)\n",
                       path, QString::number(size)});
        QVERIFY2(ole.ok(), ole.report().constData());
        QCOMPARE(ole.output.trimmed(), "[['Workbook']] " + QByteArray::number(streamSize) + " True");
    }

    void xlrdReadsWorkbookWithDifat()
    {
        // 70,000 rows of distinct texts and numbers: a stream of about 9 MB, past the header's 109 FAT
        // sectors.
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("long.csv")), output = dir.filePath("long.xls");
        QByteArray csv;
        for (int i = 0; i < 70000; ++i)
            csv += QString::asprintf("text %d of a long sheet,%d.5,名称 %d\n", i, i, i * 7).toUtf8();
        writeFile(source, csv);
        spreadsheet::SpreadsheetApplication app;
        spreadsheet::SpreadsheetApplication::WorkbookId id;
        QVERIFY(app.open(source.toStdString(), id).ok());
        const Status saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXls);
        QVERIFY2(saved.ok(), saved.message().c_str());
        QVERIFY(u32(readFile(output).left(76), 72) > 0); // DIFAT sectors

        const PythonRun check = checkXlsRoundTrip(source, output);
        QVERIFY2(check.ok(), check.report().constData());
    }

    void reportsFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("streamName");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("message");

        const QByteArray name = "Workbook";
        QTest::newRow("disk full") << "/dev/full" << name << qint64(1e5) << "No space left on device";
        QTest::newRow("disk full at the tables")
            << "/dev/full" << name << qint64(10) << "No space left on device";
        QTest::newRow("over 2 GiB") << "/dev/null" << name << (qint64(1) << 31) + 1 << "larger than 2 GiB";
        QTest::newRow("name of 32 characters")
            << "/dev/null" << QByteArray(32, 'x') << qint64(1) << "not a stream name";
    }

    void reportsFailures()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, streamName);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        if (!QFileInfo::exists(path))
            QSKIP("no such device here");
        const Status written = writeStream(path, size, streamName.constData());
        QVERIFY(!written.ok());
        QVERIFY2(QString::fromStdString(written.message()).contains(message), written.message().c_str());
    }
};

QTEST_GUILESS_MAIN(TestCompoundFile)
#include "tst_compoundfile.moc"
