#pragma once

namespace spreadsheet {

/// Cell styles of a workbook, as both file formats number them: general, text ("@"), the three date
/// formats that the value rules give, and the formats that show a value the way its field wrote it.
enum CellStyle : int
{
    kStyleGeneral = 0,
    kStyleText = 1,            // number format "@"
    kStyleDate = 2,            // yyyy-mm-dd
    kStyleDateTimeMinutes = 3, // yyyy-mm-dd hh:mm
    kStyleDateTimeSeconds = 4, // yyyy-mm-dd hh:mm:ss
    kStyleWholeNumber = 5,     // "0": every digit of a long whole number, never 1.23E+11
    kStyleLongDecimal = 6,     // "0.###############": every digit of a long decimal, up to 15 places
    kStyleWrapped = 7,         // general, text wrapped at its line breaks
    kStyleTextWrapped = 8,     // "@", text wrapped at its line breaks
};

/// Number of cell styles above; the last one stays a single digit in sheet XML.
constexpr int kCellStyleCount = 9;

} // namespace spreadsheet
