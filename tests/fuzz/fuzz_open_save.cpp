// A .csv file as the automatic conversion reads it ("Open": encoding and delimiter detected, fields typed),
// then saved as .xlsx and as .xls. A save either writes its file or fails, and never leaves a temporary
// file behind.

#include "FuzzSupport.h"

#include "spreadsheet/SpreadsheetApplication.h"

#include <cstdio>
#include <dirent.h>

namespace {

// Files in the scratch folder besides `expected`.
int strayFiles(const std::string& folder, const std::string& expected)
{
    int stray = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            stray += name != "." && name != ".." && name != expected;
        }
        closedir(dir);
    }
    return stray;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using spreadsheet::SpreadsheetApplication;
    const std::string folder = fuzz::scratchFolder();
    const std::string source = folder + "input.csv";
    fuzz::writeFile(source, std::string(reinterpret_cast<const char*>(data), size));

    SpreadsheetApplication application;
    application.displayAlerts = false;
    SpreadsheetApplication::WorkbookId opened = SpreadsheetApplication::kNoWorkbook;
    if (application.open(source, opened).ok()) {
        for (const int format : {spreadsheet::kFileFormatXlsx, spreadsheet::kFileFormatXls}) {
            const std::string output =
                folder + (format == spreadsheet::kFileFormatXlsx ? "out.xlsx" : "out.xls");
            const bool saved = application.saveAs(opened, output, format).ok();
            std::FILE* written = std::fopen(output.c_str(), "rb");
            if (saved != (written != nullptr) || strayFiles(folder, "input.csv") != (saved ? 1 : 0))
                std::abort(); // a save that claims success wrote nothing, or a failed one left a file
            if (written)
                std::fclose(written);
            std::remove(output.c_str());
        }
    }
    std::remove(source.c_str());
    return 0;
}
