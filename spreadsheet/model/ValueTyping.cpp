#include "spreadsheet/model/ValueTyping.h"

#include <charconv>
#include <string>

namespace spreadsheet {

namespace {

constexpr int kMaxSignificantDigits = 15;
// Programs that print floating-point numbers write up to 17 significant digits; such a decimal is a
// number when its double prints back as the very same digits.
constexpr int kMaxRoundTripDigits = 17;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The significant digits of a decimal number (no leading or trailing zeros) and the power of ten of the
// last of them; false when the text holds no non-zero digit.
bool significantDigits(std::string_view s, std::string& digits, int& lastPower)
{
    digits.clear();
    int exponent = 0;
    std::size_t mantissaEnd = s.find_first_of("eE");
    if (mantissaEnd != std::string_view::npos) {
        if (std::from_chars(s.data() + mantissaEnd + 1 + (s[mantissaEnd + 1] == '+'), s.data() + s.size(),
                            exponent)
                .ec != std::errc())
            return false;
    } else {
        mantissaEnd = s.size();
    }
    const std::size_t point = s.substr(0, mantissaEnd).find('.');
    int power = (point == std::string_view::npos ? static_cast<int>(mantissaEnd) : static_cast<int>(point)) + exponent;
    for (std::size_t k = 0; k < mantissaEnd; ++k) {
        if (!isDigit(s[k]))
            continue;
        --power; // the power of ten of this digit
        if (digits.empty() && s[k] == '0')
            continue;
        digits += s[k];
        lastPower = power;
    }
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++lastPower;
    }
    return !digits.empty();
}

// True when the double nearest to the decimal `s` prints back as the same number.
bool printsBackAs(std::string_view s, double value)
{
    char printed[32];
    const auto result = std::to_chars(printed, printed + sizeof printed, value);
    std::string expected, got;
    int expectedPower = 0, gotPower = 0;
    // The sign was checked by the caller's grammar; the digits and their place decide.
    const std::size_t signs = s[0] == '+' || s[0] == '-' ? 1 : 0;
    const std::size_t printedSigns = printed[0] == '-' ? 1 : 0;
    return significantDigits(s.substr(signs), expected, expectedPower) &&
           significantDigits(std::string_view(printed + printedSigns, static_cast<std::size_t>(result.ptr - printed) - printedSigns),
                             got, gotPower) &&
           expected == got && expectedPower == gotPower;
}

// Plain decimal number with the lossless-display limits; `value` is set on success.
bool parsePlainNumber(std::string_view s, double& value)
{
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    const std::size_t integerStart = i;
    while (i < n && isDigit(s[i]))
        ++i;
    const std::size_t integerDigits = i - integerStart;
    std::size_t fractionDigits = 0;
    std::size_t fractionStart = i;
    if (i < n && s[i] == '.') {
        ++i;
        fractionStart = i;
        while (i < n && isDigit(s[i]))
            ++i;
        fractionDigits = i - fractionStart;
    }
    if (integerDigits + fractionDigits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        const std::size_t exponentStart = i;
        while (i < n && isDigit(s[i]))
            ++i;
        if (i == exponentStart)
            return false;
    }
    if (i != n)
        return false;

    // A leading zero before another digit (00123, -012) is part of a code, not a number.
    if (integerDigits >= 2 && s[integerStart] == '0')
        return false;

    // Significant digits: from the first non-zero digit of the mantissa to its last digit.
    int significant = 0;
    bool started = false;
    for (std::size_t k = integerStart; k < fractionStart + fractionDigits; ++k) {
        if (!isDigit(s[k]))
            continue;
        if (!started && s[k] == '0')
            continue;
        started = true;
        ++significant;
    }
    // Up to 15 significant digits every double shows as written. A decimal of 16 or 17 is a number only
    // when its double prints back as written; a whole number past 15 digits (a card or ID number) is not.
    const bool roundTrip = significant > kMaxSignificantDigits;
    if (roundTrip && (significant > kMaxRoundTripDigits || fractionDigits == 0 || integerDigits > kMaxSignificantDigits))
        return false;

    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, s.data() + n, value);
    if (result.ec != std::errc() || result.ptr != s.data() + n)
        return false;
    return !roundTrip || printsBackAs(s, value);
}

// Reads 1..maxDigits digits at s[i]; advances i.
bool readNumber(std::string_view s, std::size_t& i, int minDigits, int maxDigits, int& value)
{
    int digits = 0;
    value = 0;
    while (i < s.size() && isDigit(s[i]) && digits < maxDigits) {
        value = value * 10 + (s[i] - '0');
        ++i;
        ++digits;
    }
    return digits >= minDigits && !(i < s.size() && isDigit(s[i]));
}

bool parseDate(std::string_view s, TypedValue& out)
{
    // yyyy-mm-dd or yyyy/m/d, optionally followed by " hh:mm" or " hh:mm:ss" (or 'T' before the time).
    if (s.size() < 8 || !isDigit(s[0]))
        return false;
    std::size_t i = 0;
    int year, month, day;
    if (!readNumber(s, i, 4, 4, year) || i >= s.size())
        return false;
    const char separator = s[i];
    if (separator != '-' && separator != '/')
        return false;
    ++i;
    if (!readNumber(s, i, 1, 2, month) || i >= s.size() || s[i] != separator)
        return false;
    ++i;
    if (!readNumber(s, i, 1, 2, day))
        return false;
    const double serial = dateSerial(year, month, day);
    if (serial <= 0)
        return false;
    if (i == s.size()) {
        out = {ValueKind::Date, serial};
        return true;
    }
    if (s[i] != ' ' && s[i] != 'T')
        return false;
    ++i;
    int hour, minute, second = 0;
    if (!readNumber(s, i, 1, 2, hour) || i >= s.size() || s[i] != ':')
        return false;
    ++i;
    if (!readNumber(s, i, 2, 2, minute))
        return false;
    ValueKind kind = ValueKind::DateTimeMinutes;
    if (i < s.size()) {
        if (s[i] != ':')
            return false;
        ++i;
        if (!readNumber(s, i, 2, 2, second) || i != s.size())
            return false;
        kind = ValueKind::DateTimeSeconds;
    }
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    out = {kind, serial + (hour * 3600 + minute * 60 + second) / 86400.0};
    return true;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian calendar).
long daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

} // namespace

double dateSerial(int year, int month, int day)
{
    static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1])
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap)
        return 0;
    const long days = daysFromCivil(year, month, day) - daysFromCivil(1899, 12, 30);
    // The 1900 date system counts a 29 February 1900 that never was: dates before March 1900 are one less.
    return static_cast<double>(days < 61 ? days - 1 : days);
}

bool isWrappedText(std::string_view field)
{
    // ="..." with at least one character inside, every quote inside doubled.
    if (field.size() < 4 || field[0] != '=' || field[1] != '"' || field.back() != '"')
        return false;
    for (std::size_t i = 2; i + 1 < field.size(); ++i) {
        if (field[i] == '"') {
            if (i + 2 >= field.size() || field[i + 1] != '"')
                return false;
            ++i;
        }
    }
    return true;
}

std::string_view unwrapText(std::string_view field, std::string& scratch)
{
    const std::string_view inside = field.substr(2, field.size() - 3);
    if (inside.find('"') == std::string_view::npos)
        return inside;
    scratch.clear();
    for (std::size_t i = 0; i < inside.size(); ++i) {
        scratch += inside[i];
        i += inside[i] == '"'; // "" is one quote
    }
    return scratch;
}

TypedValue typeField(std::string_view field)
{
    if (field.empty())
        return {ValueKind::Empty, 0};
    if (field[0] == '=')
        return {isWrappedText(field) ? ValueKind::WrappedText : ValueKind::Text, 0};
    // Only fields that start (after blanks) with a digit, sign or point can be numbers or dates: one
    // byte test keeps plain text off the slower paths.
    const std::string_view trimmed = trimBlanks(field);
    if (trimmed.empty())
        return {ValueKind::Text, 0};
    const char c = trimmed.front();
    if (!isDigit(c) && c != '-' && c != '+' && c != '.')
        return {ValueKind::Text, 0};

    TypedValue value;
    // Blanks are ignored around numbers only: a padded date stays text, blanks and all.
    if (isDigit(c) && trimmed.size() == field.size() && trimmed.size() >= 8 && !isDigit(trimmed[4]) &&
        parseDate(trimmed, value))
        return value;
    if (parsePlainNumber(trimmed, value.number)) {
        value.kind = ValueKind::Number;
        return value;
    }
    return {ValueKind::Text, 0};
}

} // namespace spreadsheet
