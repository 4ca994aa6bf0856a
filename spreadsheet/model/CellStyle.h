#pragma once

namespace spreadsheet {

/// Cell styles of a workbook, as both file formats number them: general, text ("@") and the three date
/// formats that the value rules give.
enum CellStyle : int
{
    kStyleGeneral = 0,
    kStyleText = 1,            // number format "@"
    kStyleDate = 2,            // yyyy-mm-dd
    kStyleDateTimeMinutes = 3, // yyyy-mm-dd hh:mm
    kStyleDateTimeSeconds = 4, // yyyy-mm-dd hh:mm:ss
};

} // namespace spreadsheet
