// The text import ("OpenText") with its options taken from the input's first bytes: the code page, the
// flagged delimiters, consecutive delimiters, the qualifier, the start row and the field info; then the
// workbook saved as .xlsx, whose text columns come from the field info.

#include "FuzzSupport.h"

#include "spreadsheet/SpreadsheetApplication.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using spreadsheet::SpreadsheetApplication;
    fuzz::Input input(data, size);
    spreadsheet::TextImport import;
    static const int kCodePages[] = {936, 65001, 1200, 437};
    import.origin = kCodePages[input.byte() % 4];
    const std::uint8_t flags = input.byte();
    import.tab = flags & 1;
    import.semicolon = flags & 2;
    import.comma = flags & 4;
    import.space = flags & 8;
    import.other = flags & 16;
    import.consecutiveDelimiter = flags & 32;
    import.quoteQualifier = !(flags & 64);
    import.otherCharacter = static_cast<char>(input.byte());
    import.startRow = input.byte() % 8;
    static const long long kTypes[] = {1, 2, 9, 5};
    for (int pairs = input.byte() % 8; pairs > 0; --pairs) {
        const std::uint8_t column = input.byte();
        // Mostly small columns, some far out or not columns at all.
        const long long number = column < 250    ? column % 20
                                 : column == 250 ? -1
                                 : column == 251 ? 16384
                                                 : 1LL << 30;
        import.fieldInfo.emplace_back(number, kTypes[input.byte() % 4]);
    }

    const std::string folder = fuzz::scratchFolder();
    import.path = folder + "import.txt";
    fuzz::writeFile(import.path, input.rest());
    SpreadsheetApplication application;
    application.displayAlerts = false;
    SpreadsheetApplication::WorkbookId opened = SpreadsheetApplication::kNoWorkbook;
    if (application.openText(import, opened).ok()) {
        const std::string output = folder + "import.xlsx";
        application.saveAs(opened, output, spreadsheet::kFileFormatXlsx);
        std::remove(output.c_str());
    }
    std::remove(import.path.c_str());
    return 0;
}
