// Times the phases of one automatic conversion of a CSV file, to show where the time goes:
// reading, decoding, parsing, typing of fields, and writing the workbook (XML and deflate), and, given
// an .xls name too, writing the same workbook as .xls.
//
// usage: phase_profile IN.csv OUT.xlsx [OUT.xls]

#include "spreadsheet/read/DelimitedText.h"
#include "spreadsheet/SpreadsheetApplication.h"
#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/model/ValueTyping.h"
#include "spreadsheet/read/EncodingDetection.h"
#include "spreadsheet/read/TextFile.h"
#include "spreadsheet/xls/XlsWriter.h"
#include "spreadsheet/xlsx/ParallelDeflate.h"
#include "spreadsheet/xlsx/SheetXml.h"
#include "spreadsheet/xlsx/XlsxWriter.h"

#include <chrono>
#include <cstdio>

using namespace spreadsheet;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s IN.csv OUT.xlsx [OUT.xls]\n", argv[0]);
        return 2;
    }
    auto start = Clock::now();
    std::string bytes;
    if (Status s = readWholeFile(argv[1], bytes); !s.ok()) {
        std::fprintf(stderr, "%s\n", s.message().c_str());
        return 1;
    }
    const double readTime = secondsSince(start);
    const std::size_t inputBytes = bytes.size();

    start = Clock::now();
    const DetectedEncoding encoding = detectEncoding(bytes);
    decodeDetected(bytes, encoding);
    const double decodeTime = secondsSince(start);

    start = Clock::now();
    DelimitedOptions options;
    options.delimiters = std::string(1, detectDelimiter(bytes));
    Workbook workbook;
    workbook.sheets.emplace_back();
    workbook.sheets[0].name = "big";
    workbook.sheets[0].cells = parseDelimited(std::move(bytes), options, &workbook.sheets[0].columnFormats);
    const double parseTime = secondsSince(start);

    // Typing alone, every cell through the value rules (the writer copies plain numbers without them).
    start = Clock::now();
    std::size_t cells = 0, numbers = 0, dates = 0;
    const CellGrid& grid = workbook.sheets[0].cells;
    for (std::size_t r = 0; r < grid.rowCount(); ++r) {
        const std::size_t count = grid.cellCount(r);
        for (std::size_t c = 0; c < count; ++c) {
            const TypedValue v = typeField(grid.cell(r, c));
            cells += v.kind != ValueKind::Empty;
            numbers += v.kind == ValueKind::Number;
            dates += v.kind == ValueKind::Date || v.kind == ValueKind::DateTimeMinutes ||
                     v.kind == ValueKind::DateTimeSeconds;
        }
    }
    const double typingTime = secondsSince(start);

    // Worksheet XML alone: handed over uncompressed and thrown away.
    auto formatXml = [&](const ParallelDeflate::Sink& sink) {
        ParallelDeflate store(ParallelDeflate::kPassThrough, 1, sink);
        SharedStrings strings(true);
        for (const SheetPiece& piece : splitIntoPieces(workbook, kXlsxLimits.maxRows))
            writeSheetXml(piece, true, strings, store);
        store.finish();
    };
    start = Clock::now();
    std::uint64_t xmlBytes = 0;
    formatXml([&](const char*, std::size_t size) {
        xmlBytes += size;
        return true;
    });
    const double xmlTime = secondsSince(start);

    // Kept this time (untimed), for the deflate below.
    std::string xml;
    xml.reserve(xmlBytes);
    formatXml([&](const char* data, std::size_t size) {
        xml.append(data, size);
        return true;
    });

    // The same XML deflated on one core, alone, so that the deflate's own speed shows.
    start = Clock::now();
    std::uint64_t deflatedBytes = 0;
    {
        ParallelDeflate deflate(ParallelDeflate::kWorkbookLevel, 1, [&](const char*, std::size_t size) {
            deflatedBytes += size;
            return true;
        });
        deflate.write(xml.data(), xml.size());
        deflate.finish();
    }
    const double oneCoreDeflateTime = secondsSince(start);
    std::string().swap(xml);

    start = Clock::now();
    const Status saved = saveXlsx(workbook, argv[2]);
    const double saveTime = secondsSince(start);
    if (!saved.ok()) {
        std::fprintf(stderr, "%s\n", saved.message().c_str());
        return 1;
    }

    double xlsTime = 0;
    if (argc == 4) {
        start = Clock::now();
        const Status savedXls = saveXls(workbook, argv[3]);
        xlsTime = secondsSince(start);
        if (!savedXls.ok()) {
            std::fprintf(stderr, "%s\n", savedXls.message().c_str());
            return 1;
        }
    }

    const double total = readTime + decodeTime + parseTime + saveTime;
    std::printf("input %.1f MiB, %zu rows, %zu cells (%zu numbers, %zu dates)\n", inputBytes / 1048576.0,
                grid.rowCount(), cells, numbers, dates);
    std::printf("%-28s %8s %7s\n", "phase", "seconds", "share");
    auto row = [&](const char* name, double t) { std::printf("%-28s %8.3f %6.1f%%\n", name, t, 100 * t / total); };
    row("read file", readTime);
    row("detect + decode encoding", decodeTime);
    row("detect delimiter + parse", parseTime);
    row("save (typing, XML, deflate)", saveTime);
    std::printf("%-28s %8.3f  (inside save, at most; measured apart with every cell through the value rules)\n",
                "  of which typing", typingTime);
    std::printf("%-28s %8.3f  (inside save, typing included; measured apart: %.0f MiB of XML)\n",
                "  of which XML", xmlTime, xmlBytes / 1048576.0);
    std::printf("%-28s %8.3f  (the rest of save: deflate on all cores, overlapping the XML)\n",
                "  deflate beyond XML", saveTime - xmlTime);
    std::printf("%-28s %8.3f\n", "total", total);
    std::printf("%-28s %8.3f  (not in the total: the XML deflated on one core at level %d, %.0f MB/s, to %.1f MiB)\n",
                "deflate on one core", oneCoreDeflateTime, ParallelDeflate::kWorkbookLevel,
                oneCoreDeflateTime > 0 ? xmlBytes / oneCoreDeflateTime / 1e6 : 0.0, deflatedBytes / 1048576.0);
    if (argc == 4)
        std::printf("%-28s %8.3f  (not in the total: the same workbook as .xls, both passes)\n", "save as .xls", xlsTime);
    return 0;
}
