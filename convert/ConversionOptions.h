#pragma once

#include <QString>

/// Options of the current batch. The window fills the one process-wide record at a conversion click,
/// before the worker's thread starts, and never while a batch runs; the worker only reads it.
struct ConversionOptions
{
    QString SourcePath;               // folder holding the .csv files, native separators
    QString SavePath;                 // root of the output folder, native separators
    bool SaveToQuondamPath = false;   // save each workbook next to its source file
    bool xlsxMode = true;             // .xlsx (file format 51) or .xls (56)
    int vbaOpenFunFomatArg = 1;       // delimiter of the import by settings: 1 tab, 2 semicolon, 3 comma, 4 space
    bool ConsecutiveDelimiter = false;
    bool SetTextFormat = false;
    QString TextFormatColumns;        // comma-separated 1-based column numbers
    bool OtherLanguage = false;       // import cell by cell
    bool UCS2 = false;
    bool UTF8BOM = false;
    QString FailListPath;             // SourcePath + "/无法转换的文件目录.txt"
    bool ListAutomaticFailures = false; // the automatic conversion lists its failures in FailListPath too
};

/// The process-wide options record.
extern ConversionOptions g_ConversionOptions;
