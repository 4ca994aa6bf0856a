#pragma once

#include "spreadsheet/model/Status.h"
#include "spreadsheet/model/StopCheck.h"
#include "spreadsheet/model/Workbook.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace spreadsheet {

/// Arguments of the text import of a delimited text file.
struct TextImport
{
    std::string path;
    int origin = 936;              // code page of the file; a byte-order mark overrides it
    std::size_t startRow = 1;      // 1-based
    bool quoteQualifier = true;    // double quotes enclose fields
    bool consecutiveDelimiter = false;
    bool tab = false, semicolon = false, comma = false, space = false, other = false;
    char otherCharacter = 0;
    std::vector<std::pair<long long, long long>> fieldInfo; // (1-based column, 1 general / 2 text / 9 skip)
};

/// File formats of "save as".
enum FileFormat : int
{
    kFileFormatXlsx = 51,
    kFileFormatXls = 56,
};

/// The spreadsheet application embedded in the program: it opens text files into workbooks, lets
/// cells be written one by one, and saves workbooks as files. One instance serves one batch, on one
/// thread. Workbooks are named by small numbers; 0 names none.
class SpreadsheetApplication
{
public:
    using WorkbookId = std::uint32_t;
    static constexpr WorkbookId kNoWorkbook = 0;

    /// Opens a .csv file: encoding and delimiter are detected, fields are typed by the general rules.
    /// A file too large for memoryLimit or for the machine fails, as does anything but a regular file.
    Status open(const std::string& path, WorkbookId& opened);
    /// Imports a delimited text file with the given options; too large a file fails as with open().
    Status openText(const TextImport& import, WorkbookId& opened);
    /// Adds an empty workbook with one sheet, "Sheet1".
    WorkbookId add();

    /// The most recently opened or added workbook that is still open, or kNoWorkbook.
    WorkbookId activeWorkbook() const;
    /// Null for a workbook that is not (or no longer) open.
    Workbook* workbook(WorkbookId id);

    /// Writes the workbook in the file format; an existing file is replaced only when alerts are off.
    Status saveAs(WorkbookId id, const std::string& path, int fileFormat);
    void close(WorkbookId id);
    /// Closes every workbook without saving.
    void quit();

    /// What the imports and the saves ask, once per block of rows, whether to stop: a stopped operation
    /// fails with stoppedStatus(), opens no workbook and leaves no file behind.
    void setStopCheck(StopCheck stop) { stop_ = std::move(stop); }

    bool visible = false;
    bool displayAlerts = true;
    /// Bytes the work on one file may take (its text and its tables): a larger file fails with a reason
    /// before that memory is allocated. 0: no limit but the machine's, whose exhaustion fails the file too.
    unsigned long long memoryLimit = 0;

private:
    Status openDetected(const std::string& path, WorkbookId& opened);
    Status openImported(const TextImport& import, WorkbookId& opened);
    WorkbookId adopt(std::unique_ptr<Workbook> workbook);

    std::map<WorkbookId, std::unique_ptr<Workbook>> workbooks_;
    std::vector<WorkbookId> activation_; // open workbooks, most recently activated last
    WorkbookId nextId_ = 1;
    StopCheck stop_;
};

} // namespace spreadsheet
