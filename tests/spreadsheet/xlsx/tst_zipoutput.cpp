// The compressed container of .xlsx files: the parallel deflate stream and the ZIP archive around it,
// read back with zlib's inflate and with Python's zipfile as independent readers.

#include "spreadsheet/xlsx/ParallelDeflate.h"
#include "spreadsheet/xlsx/ZipWriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <isa-l/igzip_lib.h>
#include <random>
#include <zlib.h>

using namespace spreadsheet;

namespace {

QByteArray inflateRaw(const std::string& compressed, bool& ok)
{
    z_stream stream{};
    inflateInit2(&stream, -15);
    QByteArray out;
    char buffer[1 << 16];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, static_cast<int>(sizeof buffer - stream.avail_out));
    }
    // The stream must end exactly where the compressed data ends: no piece lost, none left over.
    ok = rc == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return out;
}

std::string sampleText(std::size_t size, unsigned seed)
{
    // Spreadsheet-like text with some noise, so both matches and literals occur across chunk borders.
    std::mt19937 random(seed);
    std::string text;
    text.reserve(size);
    while (text.size() < size) {
        text += "<row r=\"" + std::to_string(random() % 100000) + "\"><c r=\"A1\"><v>";
        text += std::to_string(random());
        text += "</v></c></row>";
    }
    text.resize(size);
    return text;
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::uint32_t zlibCrc(const std::string& input)
{
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(input.data()), static_cast<uInt>(input.size())));
}

// The whole input as one igzip stream at a level: what the chunks together should come close to.
std::size_t oneStreamSize(const std::string& input, int level)
{
    std::string levelBuffer(ISAL_DEF_LVL3_EXTRA_LARGE, '\0');
    std::string output(input.size() * 2 + 1024, '\0');
    isal_zstream stream;
    isal_deflate_init(&stream);
    stream.level = static_cast<std::uint32_t>(level);
    stream.level_buf = reinterpret_cast<std::uint8_t*>(levelBuffer.data());
    stream.level_buf_size = static_cast<std::uint32_t>(levelBuffer.size());
    stream.end_of_stream = 1;
    stream.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<std::uint32_t>(input.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(output.data());
    stream.avail_out = static_cast<std::uint32_t>(output.size());
    if (isal_deflate(&stream) != COMP_OK || stream.internal_state.state != ZSTATE_END)
        return 0;
    return output.size() - stream.avail_out;
}

} // namespace

class TestZipOutput : public QObject
{
    Q_OBJECT

private slots:
    void parallelStreamInflatesToItsInput_data()
    {
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<uint>("threads");
        QTest::addColumn<int>("piece");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("noise"); // bytes that do not compress, stored rather than deflated
        QTest::newRow("empty") << qulonglong(0) << 2u << 1000 << ParallelDeflate::kWorkbookLevel << false;
        QTest::newRow("one byte") << qulonglong(1) << 2u << 1 << ParallelDeflate::kWorkbookLevel << false;
        QTest::newRow("exactly one chunk") << qulonglong(1 << 20) << 2u << 4096 << ParallelDeflate::kWorkbookLevel
                                           << false;
        QTest::newRow("one chunk and a byte") << qulonglong((1 << 20) + 1) << 3u << 777 << 2 << false;
        QTest::newRow("many chunks, one thread") << qulonglong(5 << 20) << 1u << 65536 << 3 << false;
        QTest::newRow("many chunks, four threads") << qulonglong((9 << 20) + 12345) << 4u << 300000 << 0 << false;
        QTest::newRow("noise across chunks") << qulonglong((3 << 20) + 99) << 2u << 100000
                                             << ParallelDeflate::kWorkbookLevel << true;
        QTest::newRow("level past the highest") << qulonglong(3 << 20) << 2u << 65536 << 9 << false;
    }
    void parallelStreamInflatesToItsInput()
    {
        QFETCH(qulonglong, size);
        QFETCH(uint, threads);
        QFETCH(int, piece);
        QFETCH(int, level);
        QFETCH(bool, noise);
        const std::string input = noise ? randomBytes(size, 7) : sampleText(size, 7);
        std::string compressed;
        ParallelDeflate deflate(level, threads, [&](const char* data, std::size_t n) {
            compressed.append(data, n);
            return true;
        });
        for (std::size_t at = 0; at < input.size(); at += static_cast<std::size_t>(piece))
            deflate.write(input.data() + at, std::min<std::size_t>(static_cast<std::size_t>(piece), input.size() - at));
        QVERIFY(deflate.finish().ok());

        bool ok = false;
        const QByteArray back = inflateRaw(compressed, ok);
        QVERIFY(ok);
        QCOMPARE(back.size(), int(input.size()));
        QVERIFY(back == QByteArray(input.data(), int(input.size())));
        QCOMPARE(deflate.inputSize(), quint64(input.size()));
        QCOMPARE(deflate.outputSize(), quint64(compressed.size()));
        QCOMPARE(deflate.crc32(), zlibCrc(input));
    }

    void wholeBuffersJoinTheStream()
    {
        // Buffers handed over whole (swapped, not copied) and pieces copied in mix in one stream.
        const std::string input = sampleText((4 << 20) + 333, 9);
        std::string compressed;
        ParallelDeflate deflate(ParallelDeflate::kWorkbookLevel, 2, [&](const char* data, std::size_t n) {
            compressed.append(data, n);
            return true;
        });
        const std::size_t sizes[] = {100, (1 << 20) + 5, 7, 2 << 20, 1 << 20};
        std::size_t at = 0;
        for (std::size_t i = 0; at < input.size(); ++i) {
            std::string block = input.substr(at, sizes[i % std::size(sizes)]);
            at += block.size();
            deflate.write(block);
            QVERIFY(block.empty());
        }
        QVERIFY(deflate.finish().ok());
        bool ok = false;
        QVERIFY(inflateRaw(compressed, ok) == QByteArray(input.data(), int(input.size())));
        QVERIFY(ok);
        QCOMPARE(deflate.crc32(), zlibCrc(input));
    }

    void passThroughKeepsTheBytes()
    {
        const std::string input = sampleText((2 << 20) + 17, 5);
        std::string received;
        ParallelDeflate deflate(ParallelDeflate::kPassThrough, 2, [&](const char* data, std::size_t n) {
            received.append(data, n);
            return true;
        });
        deflate.write(input.data(), input.size());
        QVERIFY(deflate.finish().ok());
        QVERIFY(received == input);
        QCOMPARE(deflate.inputSize(), quint64(input.size()));
        QCOMPARE(deflate.crc32(), zlibCrc(input));
    }

    void primingKeepsTheRatioOfOneStream_data()
    {
        QTest::addColumn<int>("level");
        for (int level = ParallelDeflate::kMinLevel; level <= ParallelDeflate::kMaxLevel; ++level)
            QTest::newRow(qPrintable(QStringLiteral("level %1").arg(level))) << level;
    }
    void primingKeepsTheRatioOfOneStream()
    {
        // Chunks primed with the text before them compress about as well as one stream would.
        QFETCH(int, level);
        const std::string input = sampleText(4 << 20, 11);
        std::size_t parallel = 0;
        ParallelDeflate deflate(level, 2, [&](const char*, std::size_t n) {
            parallel += n;
            return true;
        });
        deflate.write(input.data(), input.size());
        QVERIFY(deflate.finish().ok());
        const std::size_t single = oneStreamSize(input, level);
        QVERIFY(single > 0);
        QVERIFY2(parallel < single * 1.02, qPrintable(QStringLiteral("%1 vs %2").arg(parallel).arg(single)));
    }

    void sinkFailureFailsTheStream()
    {
        ParallelDeflate deflate(ParallelDeflate::kWorkbookLevel, 2, [](const char*, std::size_t) { return false; });
        const std::string input = sampleText(3 << 20, 3);
        deflate.write(input.data(), input.size());
        QVERIFY(!deflate.finish().ok());
    }

    void archiveReadsBackWithAnIndependentReader_data()
    {
        QTest::addColumn<bool>("large");
        QTest::newRow("plain entries") << false;
        QTest::newRow("entry announced as large (ZIP64)") << true;
    }
    void archiveReadsBackWithAnIndependentReader()
    {
        QFETCH(bool, large);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("test.zip"));
        std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
        QVERIFY(file);
        ZipWriter zip(file);
        QVERIFY(zip.addEntry("small.xml", "<a>é</a>"));
        const std::string body = sampleText(3 << 20, 5);
        QVERIFY(zip.beginEntry("xl/worksheets/sheet1.xml", large));
        ParallelDeflate deflate(ParallelDeflate::kWorkbookLevel, 2,
                                [&](const char* data, std::size_t n) { return zip.writeData(data, n); });
        deflate.write(body.data(), body.size());
        QVERIFY(deflate.finish().ok());
        QVERIFY(zip.endEntry(deflate.crc32(), deflate.inputSize()));
        QVERIFY(zip.addEntry("名前.txt", ""));
        QVERIFY(zip.finish());
        std::fclose(file);

        QProcess python;
        python.start(QStringLiteral(QUILLMARK_PYTHON),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sys, zipfile, hashlib\n"
                                     "z = zipfile.ZipFile(sys.argv[1])\n"
                                     "assert z.testzip() is None\n"
                                     "for i in z.infolist():\n"
                                     "    print(i.filename, i.file_size, hashlib.md5(z.read(i)).hexdigest())\n"),
                      path});
        QVERIFY(python.waitForFinished(60000));
        QCOMPARE(python.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const QByteArray small("<a>é</a>");
        QCOMPARE(lines[0], QStringLiteral("small.xml %1 ").arg(small.size()) +
                               QCryptographicHash::hash(small, QCryptographicHash::Md5).toHex());
        QCOMPARE(lines[1], QStringLiteral("xl/worksheets/sheet1.xml %1 %2")
                               .arg(body.size())
                               .arg(QString::fromLatin1(
                                   QCryptographicHash::hash(QByteArray(body.data(), int(body.size())),
                                                            QCryptographicHash::Md5)
                                       .toHex())));
        QCOMPARE(lines[2], QStringLiteral("名前.txt 0 d41d8cd98f00b204e9800998ecf8427e"));
    }
};

QTEST_GUILESS_MAIN(TestZipOutput)
#include "tst_zipoutput.moc"
