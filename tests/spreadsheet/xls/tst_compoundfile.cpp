// The compound document around .xls workbooks: its header, FAT, DIFAT and directory read back byte by
// byte and by olefile at its strictest; xlrd reading a workbook long enough to need DIFAT sectors; and
// write errors coming back as failures.
#include "tests/TestFiles.h"
#include "tests/spreadsheet/XlsxInspection.h"

#include "spreadsheet/xls/CompoundFile.h"

#include <QtEndian>
#include <QtTest>

#include <cstdio>
#include <memory>

using spreadsheet::Status;
using spreadsheet::StreamSink;

namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;

quint32 u32(const QByteArray& bytes, qint64 at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// The bytes of a test stream: byte i is i % 251, so that a misplaced sector shows.
QByteArray pattern(qint64 size)
{
    QByteArray cycle(251, 0);
    for (int i = 0; i < 251; ++i)
        cycle[i] = char(i);
    return cycle.repeated(int(size / 251 + 1)).left(int(size));
}

// Writes a compound file whose stream `produce` writes, to `path` (which may be a device).
Status writeTo(const QString& path, const std::function<Status(const StreamSink&)>& produce,
               const char* streamName = "Workbook")
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(qPrintable(path), "wb"), std::fclose);
    if (!file)
        return Status::failure("cannot open " + path.toStdString());
    return spreadsheet::writeCompoundFile(file.get(), path.toStdString(), streamName, produce);
}

// Delivers `bytes` in pieces of `piece` bytes and passes the sink's refusal on.
std::function<Status(const StreamSink&)> delivering(const QByteArray& bytes, int piece)
{
    return [bytes, piece](const StreamSink& sink) {
        for (int at = 0; at < bytes.size(); at += piece)
            if (!sink(bytes.constData() + at, size_t(qMin(piece, bytes.size() - at))))
                return Status::failure("refused");
        return Status::success();
    };
}

QByteArray biffRecord(quint16 type, const QByteArray& data)
{
    QByteArray record(4, 0);
    qToLittleEndian<quint16>(type, record.data());
    qToLittleEndian<quint16>(quint16(data.size()), record.data() + 2);
    return record + data;
}

// The least of a BIFF8 workbook that xlrd reads: one XF, one sheet, `rows` x `columns` NUMBER cells
// holding row * columns + column.
QByteArray numbersWorkbook(int rows, int columns)
{
    const auto bof = [](quint16 kind) {
        return biffRecord(0x0809, QByteArray::fromHex("0006") + char(kind) + char(kind >> 8) + QByteArray(12, 0));
    };
    const QByteArray eof = biffRecord(0x000A, {});
    QByteArray globals = bof(0x0005) + biffRecord(0x00E0, QByteArray::fromHex("000000000100200000000000000000000000c020"));
    const QByteArray sheetName = "data";
    QByteArray boundsheet(4, 0);
    boundsheet += QByteArray(2, 0) + char(sheetName.size()) + char(0) + sheetName;
    qToLittleEndian<quint32>(quint32(globals.size() + 4 + boundsheet.size() + eof.size()), boundsheet.data());
    QByteArray stream = globals + biffRecord(0x0085, boundsheet) + eof + bof(0x0010);
    stream.reserve(stream.size() + rows * columns * 18 + 32);
    QByteArray cell(14, 0);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            qToLittleEndian<quint16>(quint16(row), cell.data());
            qToLittleEndian<quint16>(quint16(column), cell.data() + 2);
            qToLittleEndian<double>(double(row) * columns + column, cell.data() + 6);
            stream += biffRecord(0x0203, cell);
        }
    return stream + eof;
}

} // namespace

class TestCompoundFile : public QObject
{
    Q_OBJECT

  private slots:
    void laysOutTables_data();
    void laysOutTables();
    void xlrdReadsWorkbookWithDifat();
    void reportsFailures_data();
    void reportsFailures();
};

void TestCompoundFile::laysOutTables_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("fatSectors");
    QTest::addColumn<quint32>("difatSectors");
    QTest::addColumn<quint32>("directory"); // its sector; the file ends after it

    // Stream sectors, then the FAT, the DIFAT and the directory; each FAT sector covers 128 sectors.
    QTest::newRow("one byte, padded to 4,096") << 1 << 1u << 0u << 9u;
    QTest::newRow("4,097 bytes") << 4097 << 1u << 0u << 10u;
    QTest::newRow("one FAT sector, full") << 126 * 512 << 1u << 0u << 127u;
    QTest::newRow("two FAT sectors") << 126 * 512 + 1 << 2u << 0u << 129u;
    QTest::newRow("109 FAT sectors, the header's DIFAT full") << 13842 * 512 << 109u << 0u << 13951u;
    QTest::newRow("one DIFAT sector") << 13842 * 512 + 1 << 110u << 1u << 13954u;
    QTest::newRow("two DIFAT sectors") << 29971 * 512 - 100 << 237u << 2u << 30210u;
}

void TestCompoundFile::laysOutTables()
{
    QFETCH(int, size);
    QFETCH(quint32, fatSectors);
    QFETCH(quint32, difatSectors);
    QFETCH(quint32, directory);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("stream.xls"));
    const QByteArray stream = pattern(size);
    const Status written = writeTo(path, delivering(stream, 1000));
    QVERIFY2(written.ok(), written.message().c_str());
    const QByteArray file = readFile(path);
    const auto sector = [](quint32 id) { return 512 + qint64(id) * 512; };

    QCOMPARE(file.left(8), QByteArray::fromHex("d0cf11e0a1b11ae1"));
    QCOMPARE(file.mid(24, 12), QByteArray::fromHex("3e000300feff090006000000"));
    QCOMPARE(file.size(), sector(directory + 1));
    QCOMPARE(u32(file, 44), fatSectors);
    QCOMPARE(u32(file, 48), directory);
    QCOMPARE(u32(file, 56), 4096u);
    QCOMPARE(u32(file, 60), kEndOfChain); // no mini FAT
    QCOMPARE(u32(file, 68), difatSectors ? directory - difatSectors : kEndOfChain);
    QCOMPARE(u32(file, 72), difatSectors);

    // The FAT sectors as the header and the DIFAT chain list them; each is marked in the FAT, and so
    // is each DIFAT sector.
    QVector<quint32> fatIds, difatIds;
    for (int i = 0; i < 109; ++i)
        fatIds << u32(file, 76 + 4 * i);
    for (quint32 next = u32(file, 68); next != kEndOfChain && difatIds.size() <= int(difatSectors);) {
        difatIds << next;
        for (int i = 0; i < 127; ++i)
            fatIds << u32(file, sector(next) + 4 * i);
        next = u32(file, sector(next) + 508);
    }
    QCOMPARE(quint32(difatIds.size()), difatSectors);
    QCOMPARE(fatIds.mid(int(fatSectors)).count(0xFFFFFFFF), fatIds.size() - int(fatSectors));
    fatIds.resize(int(fatSectors));
    const auto fat = [&](quint32 id) { return u32(file, sector(fatIds[int(id / 128)]) + 4 * (id % 128)); };
    for (quint32 id : fatIds)
        QCOMPARE(fat(id), 0xFFFFFFFDu);
    for (quint32 id : difatIds)
        QCOMPARE(fat(id), 0xFFFFFFFCu);
    QCOMPARE(fat(directory), kEndOfChain);

    // The stream's chain: sector 0 on, one after the other.
    const quint32 streamSectors = (quint32(qMax(size, 4096)) + 511) / 512;
    for (quint32 id = 0; id < streamSectors; ++id)
        QCOMPARE(fat(id), id + 1 == streamSectors ? kEndOfChain : id + 1);

    // The root, whose child is the stream; the stream from sector 0; two unused entries.
    const QByteArray entries = file.mid(sector(directory), 512);
    QCOMPARE(entries.left(22), QByteArray("R\0o\0o\0t\0 \0E\0n\0t\0r\0y\0\0\0", 22));
    QCOMPARE(entries.mid(64, 4), QByteArray::fromHex("16000501"));
    QCOMPARE(u32(entries, 76), 1u);
    QCOMPARE(entries.mid(128, 18), QByteArray("W\0o\0r\0k\0b\0o\0o\0k\0\0\0", 18));
    QCOMPARE(entries.mid(192, 4), QByteArray::fromHex("12000201"));
    QCOMPARE(entries.mid(196, 12), QByteArray::fromHex("ffffffffffffffffffffffff"));
    QCOMPARE(u32(entries, 244), 0u);
    QCOMPARE(u32(entries, 248), quint32(qMax(size, 4096)));
    QCOMPARE(entries.mid(256, 68), QByteArray(68, 0));

    QCOMPARE(file.mid(512, size), stream);
    const QByteArray padding(qMax(0, 4096 - size), 0);
    QCOMPARE(file.mid(512 + size, padding.size()), padding);

    // olefile, which raises on every inconsistency it notices, finds the same stream.
    writeFile(dir.filePath("expected"), stream + padding);
    const PythonRun ole = runPython(
        {"-c",
         "import sys, olefile\n"
         "ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)\n"
         "data = ole.openstream('Workbook').read()\n"
         "print(ole.listdir(), len(data), data == open(sys.argv[2], 'rb').read())\n",
         path, dir.filePath("expected")});
    QVERIFY2(ole.ok(), ole.report().constData());
    QCOMPARE(ole.output.trimmed(), "[['Workbook']] " + QByteArray::number(qMax(size, 4096)) + " True");
}

void TestCompoundFile::xlrdReadsWorkbookWithDifat()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("numbers.xls"));
    const Status written = writeTo(path, delivering(numbersWorkbook(65536, 8), 8224));
    QVERIFY2(written.ok(), written.message().c_str());
    QVERIFY(u32(readFile(path).left(76), 72) > 0); // DIFAT sectors

    const PythonRun run = runPython(
        {"-c", "import sys, xlrd\n"
               "sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
               "wrong = [(r, c) for r in range(sheet.nrows) for c in range(sheet.ncols)\n"
               "         if sheet.cell_value(r, c) != r * 8 + c]\n"
               "print(sheet.nrows, sheet.ncols, wrong[:5])\n",
         path});
    QVERIFY2(run.ok(), run.report().constData());
    QCOMPARE(run.output.trimmed(), QByteArray("65536 8 []"));
}

void TestCompoundFile::reportsFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("streamName");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("producerListens"); // stops at the sink's first refusal
    QTest::addColumn<QString>("message");

    QTest::newRow("disk full") << "/dev/full" << "Workbook" << qint64(100000) << true << "refused";
    QTest::newRow("disk full, the producer not listening")
        << "/dev/full" << "Workbook" << qint64(100000) << false << "No space left on device";
    QTest::newRow("disk full at the tables") << "/dev/full" << "Workbook" << qint64(10) << false
                                             << "No space left on device";
    QTest::newRow("over 2 GiB") << "/dev/null" << "Workbook" << (qint64(1) << 31) + 1 << false << "2 GiB";
    QTest::newRow("stream name of 32 characters")
        << "/dev/null" << QString(32, 'x') << qint64(10) << true << "is not a stream name";
}

void TestCompoundFile::reportsFailures()
{
    QFETCH(QString, path);
    QFETCH(QString, streamName);
    QFETCH(qint64, size);
    QFETCH(bool, producerListens);
    QFETCH(QString, message);
    if (!QFileInfo::exists(path))
        QSKIP("no such device here");

    const QByteArray piece(1 << 20, 'x');
    const Status written = writeTo(
        path,
        [&](const StreamSink& sink) {
            for (qint64 left = size; left > 0; left -= piece.size())
                if (!sink(piece.constData(), size_t(qMin<qint64>(left, piece.size()))) && producerListens)
                    return Status::failure("refused");
            return Status::success();
        },
        streamName.toLatin1().constData());
    QVERIFY(!written.ok());
    QVERIFY2(QString::fromStdString(written.message()).contains(message), written.message().c_str());
}

QTEST_GUILESS_MAIN(TestCompoundFile)
#include "tst_compoundfile.moc"
