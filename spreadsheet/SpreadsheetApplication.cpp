#include "spreadsheet/SpreadsheetApplication.h"

#include "spreadsheet/read/DelimitedText.h"
#include "spreadsheet/read/EncodingDetection.h"
#include "spreadsheet/read/SheetName.h"
#include "spreadsheet/read/TextFile.h"
#include "spreadsheet/xls/XlsWriter.h"
#include "spreadsheet/xlsx/XlsxWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace spreadsheet {

namespace {

std::string baseNameOf(const std::string& path)
{
    return std::filesystem::u8path(path).stem().u8string();
}

std::unique_ptr<Workbook> workbookFromText(std::string&& text, const DelimitedOptions& options,
                                           const std::string& path)
{
    auto workbook = std::make_unique<Workbook>();
    Sheet sheet;
    sheet.name = sheetNameFor(baseNameOf(path));
    sheet.cells = parseDelimited(std::move(text), options, &sheet.columnFormats);
    workbook->sheets.push_back(std::move(sheet));
    return workbook;
}

Status tooLarge(const std::string& path)
{
    return Status::failure(path + " is too large for this computer's memory");
}

// Whether a file of this size can be held at all: its text alone must leave room for its tables.
Status fitsInMemory(const std::string& path, unsigned long long memoryLimit)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    if (memoryLimit != 0 && !error && size >= memoryLimit)
        return tooLarge(path);
    return Status::success();
}

// What the tables may take once the text is held.
unsigned long long tableRoom(unsigned long long memoryLimit, std::size_t textBytes)
{
    if (memoryLimit == 0)
        return 0;
    if (textBytes >= memoryLimit)
        throw std::bad_alloc();
    return memoryLimit - textBytes;
}

} // namespace

// The work on one file begins and ends here: memory that runs out anywhere in it fails this file alone,
// and the batch goes on with the next.
Status SpreadsheetApplication::open(const std::string& path, WorkbookId& opened)
{
    opened = kNoWorkbook;
    try {
        return openDetected(path, opened);
    } catch (const std::bad_alloc&) {
        return tooLarge(path);
    }
}

Status SpreadsheetApplication::openText(const TextImport& import, WorkbookId& opened)
{
    opened = kNoWorkbook;
    try {
        return openImported(import, opened);
    } catch (const std::bad_alloc&) {
        return tooLarge(import.path);
    }
}

Status SpreadsheetApplication::openDetected(const std::string& path, WorkbookId& opened)
{
    if (stop_.requested())
        return stoppedStatus();
    if (Status fits = fitsInMemory(path, memoryLimit); !fits.ok())
        return fits;
    std::string bytes;
    if (Status read = readWholeFile(path, bytes); !read.ok())
        return read;
    const DetectedEncoding detected = detectEncoding(bytes);
    decodeDetected(bytes, detected);

    // A first line "sep=;" names the delimiter and is not a row.
    char delimiter = 0;
    if (const std::size_t length = separatorLineLength(bytes, delimiter))
        bytes.erase(0, length);
    else
        delimiter = detectDelimiter(bytes);
    DelimitedOptions options;
    options.delimiters = std::string(1, delimiter);
    options.stop = &stop_;
    options.tableBytesLimit = tableRoom(memoryLimit, bytes.size());
    std::unique_ptr<Workbook> workbook = workbookFromText(std::move(bytes), options, path);
    if (stop_.requested())
        return stoppedStatus();
    opened = adopt(std::move(workbook));
    return Status::success();
}

Status SpreadsheetApplication::openImported(const TextImport& import, WorkbookId& opened)
{
    if (stop_.requested())
        return stoppedStatus();
    if (Status fits = fitsInMemory(import.path, memoryLimit); !fits.ok())
        return fits;
    TextEncoding encoding;
    if (!encodingForCodePage(import.origin, encoding))
        return Status::failure("code page " + std::to_string(import.origin) + " is not supported");

    DelimitedOptions options;
    options.delimiters.clear(); // only the flagged delimiters split
    if (import.tab)
        options.delimiters += '\t';
    if (import.semicolon)
        options.delimiters += ';';
    if (import.comma)
        options.delimiters += ',';
    if (import.space)
        options.delimiters += ' ';
    if (import.other && import.otherCharacter != 0)
        options.delimiters += import.otherCharacter;
    options.quoted = import.quoteQualifier;
    options.consecutiveDelimitersAsOne = import.consecutiveDelimiter;
    options.startRow = import.startRow == 0 ? 1 : import.startRow;
    options.stop = &stop_;
    for (const auto& [column, type] : import.fieldInfo) {
        if (column < 1 || column > (1 << 24))
            return Status::failure("column " + std::to_string(column) + " of the field info is not a column");
        const std::size_t index = static_cast<std::size_t>(column - 1);
        if (index >= options.columns.size())
            options.columns.resize(index + 1, ColumnImport::General);
        options.columns[index] = type == 2 ? ColumnImport::Text : type == 9 ? ColumnImport::Skip : ColumnImport::General;
    }

    // The code page decides unless a byte-order mark says otherwise.
    std::string text;
    if (Status read = readTextFile(import.path, encoding, text); !read.ok())
        return read;
    options.tableBytesLimit = tableRoom(memoryLimit, text.size());
    std::unique_ptr<Workbook> workbook = workbookFromText(std::move(text), options, import.path);
    if (stop_.requested())
        return stoppedStatus();
    opened = adopt(std::move(workbook));
    return Status::success();
}

SpreadsheetApplication::WorkbookId SpreadsheetApplication::add()
{
    auto workbook = std::make_unique<Workbook>();
    Sheet sheet;
    sheet.name = "Sheet1";
    workbook->sheets.push_back(std::move(sheet));
    return adopt(std::move(workbook));
}

SpreadsheetApplication::WorkbookId SpreadsheetApplication::activeWorkbook() const
{
    return activation_.empty() ? kNoWorkbook : activation_.back();
}

Workbook* SpreadsheetApplication::workbook(WorkbookId id)
{
    auto it = workbooks_.find(id);
    return it == workbooks_.end() ? nullptr : it->second.get();
}

Status SpreadsheetApplication::saveAs(WorkbookId id, const std::string& path, int fileFormat)
{
    const Workbook* book = workbook(id);
    if (!book)
        return Status::failure("the workbook is not open");
    if (path.empty())
        return Status::failure("no file name given");
    if (stop_.requested())
        return stoppedStatus();
    if (displayAlerts) {
        // Replacing a file needs the user's consent, and this application has no one to ask.
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::u8path(path), error))
            return Status::failure(path + " already exists");
    }
    try {
        switch (fileFormat) {
        case kFileFormatXlsx:
            return saveXlsx(*book, path, stop_);
        case kFileFormatXls:
            return saveXls(*book, path, stop_);
        default:
            return Status::failure("unknown file format " + std::to_string(fileFormat));
        }
    } catch (const std::bad_alloc&) {
        return Status::failure("not enough memory to write " + path);
    }
}

void SpreadsheetApplication::close(WorkbookId id)
{
    workbooks_.erase(id);
    activation_.erase(std::remove(activation_.begin(), activation_.end(), id), activation_.end());
}

void SpreadsheetApplication::quit()
{
    workbooks_.clear();
    activation_.clear();
}

SpreadsheetApplication::WorkbookId SpreadsheetApplication::adopt(std::unique_ptr<Workbook> workbook)
{
    const WorkbookId id = nextId_++;
    workbooks_.emplace(id, std::move(workbook));
    activation_.push_back(id);
    return id;
}

} // namespace spreadsheet
