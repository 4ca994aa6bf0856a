#include "XlsxWriter.h"

#include "ParallelDeflate.h"
#include "SaveSupport.h"
#include "SheetXml.h"
#include "XlsxParts.h"
#include "ZipWriter.h"

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

Status saveXlsx(const Workbook& workbook, const std::string& path)
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

    for (std::size_t i = 0; ok && i < pieces.size(); ++i) {
        ok = zip.beginEntry("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml", mayExceed4GiB(pieces[i]));
        if (!ok)
            break;
        ParallelDeflate deflate(ParallelDeflate::kWorkbookLevel, compressionThreads(),
                                [&zip](const char* data, std::size_t size) { return zip.writeData(data, size); });
        writeSheetXml(pieces[i], i == 0, deflate);
        if (Status compressed = deflate.finish(); !compressed.ok())
            return zip.error().empty() ? compressed : Status::failure(zip.error());
        ok = zip.endEntry(deflate.crc32(), deflate.inputSize());
    }
    ok = ok && zip.finish();
    if (!ok)
        return Status::failure("cannot write " + path + ": " + zip.error());
    if (std::fclose(file.release()) != 0)
        return Status::failure("cannot write " + path + " (disk full?)");
    return temporary.commit();
}

} // namespace spreadsheet
