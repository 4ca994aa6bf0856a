#pragma once

#include <string>
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
    WrappedText, // ="..." with text inside: that text, see unwrapText()
};

struct TypedValue
{
    ValueKind kind = ValueKind::Empty;
    double number = 0; // the number, or the date's serial day number (1900 date system)
};

/// Types a field by the rules for general cells. A field becomes a number only when it is a plain
/// decimal number (sign, digits, one decimal point, exponent; blanks around it ignored) and nothing the
/// user sees is lost: no leading zero before another digit, and at most 15 significant digits, or 16 or
/// 17 for a decimal with a fraction whose nearest double prints back as the same number (as programs
/// print floating-point numbers). So long IDs and codes such as 00123 stay text. ISO dates and
/// date-times become dates. A field that is exactly ="..." with text inside is WrappedText: systems
/// write codes so that spreadsheets keep them as text. Everything else, including any other field that
/// starts with "=", is text, never a formula.
TypedValue typeField(std::string_view field);

/// True for a field that is exactly ="..." with at least one character inside, each quote inside doubled.
bool isWrappedText(std::string_view field);
/// The text inside a field that isWrappedText(), its doubled quotes made single; a view of `field`, or of
/// `scratch` when quotes had to be undoubled.
std::string_view unwrapText(std::string_view field, std::string& scratch);

/// Serial day number of a calendar date in the 1900 date system (1900-01-01 is 1, and the system's
/// phantom 1900-02-29 is counted); 0 for dates before 1900 or invalid dates.
double dateSerial(int year, int month, int day);

} // namespace spreadsheet
