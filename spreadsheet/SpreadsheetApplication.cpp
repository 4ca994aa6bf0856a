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

} // namespace

Status SpreadsheetApplication::open(const std::string& path, WorkbookId& opened)
{
    opened = kNoWorkbook;
    if (stop_.requested())
        return stoppedStatus();
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
    std::unique_ptr<Workbook> workbook = workbookFromText(std::move(bytes), options, path);
    if (stop_.requested())
        return stoppedStatus();
    opened = adopt(std::move(workbook));
    return Status::success();
}

Status SpreadsheetApplication::openText(const TextImport& import, WorkbookId& opened)
{
    opened = kNoWorkbook;
    if (stop_.requested())
        return stoppedStatus();
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
    switch (fileFormat) {
    case kFileFormatXlsx:
        return saveXlsx(*book, path, stop_);
    case kFileFormatXls:
        return saveXls(*book, path, stop_);
    default:
        return Status::failure("unknown file format " + std::to_string(fileFormat));
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
