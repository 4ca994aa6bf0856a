#pragma once

#include <string_view>

namespace spreadsheet {

/// What a field of a general cell becomes.
enum class ValueKind : unsigned char
{
    Empty,
    Number,
    Date,            // yyyy-mm-dd
    DateTimeMinutes, // yyyy-mm-dd hh:mm
    DateTimeSeconds, // yyyy-mm-dd hh:mm:ss
    Text,
};

struct TypedValue
{
    ValueKind kind = ValueKind::Empty;
    double number = 0; // the number, or the date's serial day number (1900 date system)
};

/// Types a field by the rules for general cells. A field becomes a number only when it is a plain
/// decimal number (sign, digits, one decimal point, exponent; blanks around it ignored) and nothing the
/// user sees is lost: at most 15 significant digits and no leading zero before another digit, so long
/// IDs and codes such as 00123 stay text. ISO dates and date-times become dates. Everything else,
/// including a field that starts with "=", is text.
TypedValue typeField(std::string_view field);

/// Serial day number of a calendar date in the 1900 date system (1900-01-01 is 1, and the system's
/// phantom 1900-02-29 is counted); 0 for dates before 1900 or invalid dates.
double dateSerial(int year, int month, int day);

} // namespace spreadsheet
