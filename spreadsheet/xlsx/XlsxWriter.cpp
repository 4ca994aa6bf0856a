#include "spreadsheet/xlsx/XlsxWriter.h"

#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/xlsx/ParallelDeflate.h"
#include "spreadsheet/xlsx/SharedStringsXml.h"
#include "spreadsheet/xlsx/SheetXml.h"
#include "spreadsheet/xlsx/XlsxParts.h"
#include "spreadsheet/xlsx/ZipWriter.h"

#include <cstdio>
#include <memory>
#include <thread>

namespace spreadsheet {

namespace {

// A worksheet part may pass 4 GiB only when its text is large; ZIP64 is used just then, as some readers
// still stumble on it.
bool mayExceed4GiB(const SheetPiece& piece)
{
    const CellGrid& cells = piece.sheet->cells;
    const double share = cells.rowCount() == 0 ? 0 : double(piece.rowCount) / double(cells.rowCount());
    const double estimate = share * (double(cells.storedBytes()) * 6 + double(cells.storedCells()) * 64);
    return estimate > 3.0 * (1u << 30);
}

unsigned compressionThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

} // namespace

Status saveXlsx(const Workbook& workbook, const std::string& path, const StopCheck& stop)
{
    if (Status limits = checkLimits(workbook, kXlsxLimits); !limits.ok())
        return limits;
    const std::vector<SheetPiece> pieces = splitIntoPieces(workbook, kXlsxLimits.maxRows);

    TemporarySibling temporary(path);
    FileHandle file;
    if (Status opened = temporary.openForWriting(file); !opened.ok())
        return opened;

    ZipWriter zip(file.get());
    std::vector<std::string> names;
    for (const SheetPiece& piece : pieces)
        names.push_back(piece.name);
    bool ok = zip.addEntry("[Content_Types].xml", contentTypesXml(pieces.size())) &&
              zip.addEntry("_rels/.rels", rootRelationshipsXml()) &&
              zip.addEntry("xl/workbook.xml", workbookXml(names)) &&
              zip.addEntry("xl/_rels/workbook.xml.rels", workbookRelationshipsXml(pieces.size())) &&
              zip.addEntry("xl/styles.xml", stylesXml());

    // One entry streamed through the parallel deflate.
    auto writeEntry = [&zip, &stop](const std::string& name, bool large, const auto& write) -> Status {
        if (!zip.beginEntry(name, large))
            return Status::failure(zip.error());
        ParallelDeflate deflate(ParallelDeflate::kWorkbookLevel, compressionThreads(),
                                [&zip](const char* data, std::size_t size) { return zip.writeData(data, size); });
        write(deflate);
        if (stop.requested())
            return stoppedStatus(); // the compressor and the temporary file go with their owners
        if (Status compressed = deflate.finish(); !compressed.ok())
            return zip.error().empty() ? compressed : Status::failure(zip.error());
        return zip.endEntry(deflate.crc32(), deflate.inputSize()) ? Status::success() : Status::failure(zip.error());
    };
    // The sheets fill the shared-string table, whose part follows them.
    SharedStrings strings(true);
    for (std::size_t i = 0; ok && i < pieces.size(); ++i) {
        const Status written = writeEntry("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml",
                                          mayExceed4GiB(pieces[i]), [&](ParallelDeflate& deflate) {
                                              writeSheetXml(pieces[i], i == 0, strings, deflate, stop);
                                          });
        if (stop.requested())
            return stoppedStatus();
        if (!written.ok())
            return Status::failure("cannot write " + path + ": " + written.message());
    }
    if (ok) {
        const Status written = writeEntry("xl/sharedStrings.xml", sharedStringsXmlBound(strings) > 3.0 * (1u << 30),
                                          [&](ParallelDeflate& deflate) { writeSharedStringsXml(strings, deflate); });
        if (!written.ok())
            return Status::failure("cannot write " + path + ": " + written.message());
    }
    ok = ok && zip.finish();
    if (!ok)
        return Status::failure("cannot write " + path + ": " + zip.error());
    if (std::fclose(file.release()) != 0)
        return Status::failure("cannot write " + path + " (disk full?)");
    return temporary.commit();
}

} // namespace spreadsheet
