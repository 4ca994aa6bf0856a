// Typing of general fields: which texts become numbers or dates, and the serial numbers of dates.
#include "spreadsheet/model/ValueTyping.h"

#include <QtTest>

using spreadsheet::ValueKind;

Q_DECLARE_METATYPE(spreadsheet::ValueKind)

namespace spreadsheet {
char* toString(ValueKind kind)
{
    static const char* const names[] = {"Empty", "Number", "Date", "DateTimeMinutes", "DateTimeSeconds", "Text", "WrappedText"};
    return qstrdup(names[static_cast<int>(kind)]);
}
} // namespace spreadsheet

class TestValueTyping : public QObject
{
    Q_OBJECT

private slots:
    void typeField_data();
    void typeField();
    void unwrapText_data();
    void unwrapText();
    void dateSerial_data();
    void dateSerial();
};

namespace {
constexpr double kDay = 1.0;
constexpr double kHour = kDay / 24;
constexpr double kMinute = kHour / 60;
constexpr double kSecond = kMinute / 60;
} // namespace

void TestValueTyping::typeField_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<ValueKind>("kind");
    QTest::addColumn<double>("value");

    auto row = [](const char* name, const QByteArray& field, ValueKind kind, double value = 0) {
        QTest::newRow(name) << field << kind << value;
    };

    row("empty", "", ValueKind::Empty);
    row("blanks only", "   ", ValueKind::Text);

    // Plain decimal numbers.
    row("zero", "0", ValueKind::Number, 0);
    row("negative zero", "-0", ValueKind::Number, 0);
    row("negative fraction", "-0.5", ValueKind::Number, -0.5);
    row("leading point", ".5", ValueKind::Number, 0.5);
    row("trailing point", "5.", ValueKind::Number, 5);
    row("exponent", "1e5", ValueKind::Number, 100000);
    row("negative exponent", "1E-3", ValueKind::Number, 0.001);
    row("plus sign", "+7", ValueKind::Number, 7);
    row("trailing zero", "0.10", ValueKind::Number, 0.1);
    row("blanks around", " 42 ", ValueKind::Number, 42);
    row("15 digits", "123456789012345", ValueKind::Number, 123456789012345.0);
    row("15 significant with fraction", "12345678901234.5", ValueKind::Number, 12345678901234.5);
    row("leading zeros are not significant", "0.000123456789012345", ValueKind::Number, 0.000123456789012345);
    row("eight digits that look like a date", "20210304", ValueKind::Number, 20210304);
    row("16 significant fraction that prints back", "0.1234567890123456", ValueKind::Number, 0.1234567890123456);
    row("printed double of 17 digits", "0.26987858884967864", ValueKind::Number, 0.26987858884967864);
    row("printed double with an exponent", "2.6987858884967865e-05", ValueKind::Number, 2.6987858884967865e-05);
    row("negative printed double", "-1.0000000000000002", ValueKind::Number, -1.0000000000000002);

    // Fields that would lose what the user sees, or are not plain decimals.
    row("zero padded", "007", ValueKind::Text);
    row("negative zero padded", "-012", ValueKind::Text);
    row("16 digits", "1234567890123456", ValueKind::Text);
    row("16 significant trailing zeros", "1000000000000000", ValueKind::Text);
    row("17 digits that do not print back", "0.12345678901234567", ValueKind::Text);
    row("17 digits past the point of a 16-digit whole", "1234567890123456.5", ValueKind::Text);
    row("17 digits with an exponent that do not print back", "2.6987858884967864e-5", ValueKind::Text);
    row("18 significant fraction", "0.123456789012345678", ValueKind::Text);
    row("18-digit id", "110105199003071234", ValueKind::Text);
    row("thousands separator", "1,234", ValueKind::Text);
    row("suffix", "12abc", ValueKind::Text);
    row("two points", "1.2.3", ValueKind::Text);
    row("double sign", "--1", ValueKind::Text);
    row("exponent without digits", "1e", ValueKind::Text);
    row("hex", "0x1F", ValueKind::Text);
    row("inf", "inf", ValueKind::Text);
    row("nan", "nan", ValueKind::Text);
    row("overflow", "1e400", ValueKind::Text);
    row("formula", "=1+1", ValueKind::Text);
    row("code kept as text by its writer", "=\"00123\"", ValueKind::WrappedText);
    row("wrapped text with a doubled quote", "=\"a\"\"b\"", ValueKind::WrappedText);
    row("nothing inside the quotes", "=\"\"", ValueKind::Text);
    row("single quote inside", "=\"a\"b\"", ValueKind::Text);
    row("formula after the quotes", "=\"1\"+1", ValueKind::Text);
    row("blank before the equals sign", " =\"1\"", ValueKind::Text);
    row("arabic-indic digits", "\xd9\xa1\xd9\xa2\xd9\xa3", ValueKind::Text);

    // Dates from 1900 on, with either separator, optionally with a time.
    row("iso date", "2021-03-04", ValueKind::Date, 44259);
    row("slash date one-digit parts", "2021/3/4", ValueKind::Date, 44259);
    row("iso date one-digit parts", "2021-3-4", ValueKind::Date, 44259);
    row("leap day", "2020-02-29", ValueKind::Date, 43890);
    row("first day", "1900-01-01", ValueKind::Date, 1);
    row("before the phantom leap day", "1900-02-28", ValueKind::Date, 59);
    row("after the phantom leap day", "1900-03-01", ValueKind::Date, 61);
    row("with minutes", "2021-03-04 12:30", ValueKind::DateTimeMinutes, 44259 + 12 * kHour + 30 * kMinute);
    row("with seconds", "2021-03-04 12:30:15", ValueKind::DateTimeSeconds,
        44259 + 12 * kHour + 30 * kMinute + 15 * kSecond);
    row("with T", "2021-03-04T12:30:00", ValueKind::DateTimeSeconds, 44259 + 12 * kHour + 30 * kMinute);
    row("last second", "2021-03-04 23:59:59", ValueKind::DateTimeSeconds, 44260 - kSecond);
    row("slash with one-digit hour", "2021/03/04 7:05:09", ValueKind::DateTimeSeconds,
        44259 + 7 * kHour + 5 * kMinute + 9 * kSecond);

    // Not dates: invalid days, before 1900, malformed.
    row("30 February", "2021-02-30", ValueKind::Text);
    row("29 February 2100", "2100-02-29", ValueKind::Text);
    row("before 1900", "1899-12-31", ValueKind::Text);
    row("month 13", "2021-13-01", ValueKind::Text);
    row("mixed separators", "2021/03-04", ValueKind::Text);
    row("hour 24", "2021-03-04 24:00", ValueKind::Text);
    row("one-digit minute", "2021-03-04 12:3", ValueKind::Text);
    row("text after date", "2021-03-04x", ValueKind::Text);
    row("blanks around a date", " 2021-03-04 ", ValueKind::Text);
    row("blank after a date-time", "2021-03-04 12:30 ", ValueKind::Text);
    row("text after time", "2021-03-04 12:30 pm", ValueKind::Text);
    row("time alone", "12:30", ValueKind::Text);
}

void TestValueTyping::typeField()
{
    QFETCH(QByteArray, field);
    QFETCH(ValueKind, kind);
    QFETCH(double, value);

    const spreadsheet::TypedValue typed = spreadsheet::typeField(std::string_view(field.constData(), field.size()));
    QCOMPARE(typed.kind, kind);
    if (kind != ValueKind::Text && kind != ValueKind::Empty)
        QCOMPARE(typed.number, value);
}

void TestValueTyping::unwrapText_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("leading zeros") << QByteArray("=\"00123\"") << QByteArray("00123");
    QTest::newRow("doubled quotes") << QByteArray("=\"say \"\"hi\"\"\"") << QByteArray("say \"hi\"");
    QTest::newRow("only a quote") << QByteArray("=\"\"\"\"") << QByteArray("\"");
}

void TestValueTyping::unwrapText()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, text);
    std::string scratch;
    const std::string_view got = spreadsheet::unwrapText(std::string_view(field.constData(), field.size()), scratch);
    QCOMPARE(QByteArray(got.data(), int(got.size())), text);
}

void TestValueTyping::dateSerial_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<double>("serial");

    QTest::newRow("first day") << 1900 << 1 << 1 << 1.0;
    QTest::newRow("28 February 1900") << 1900 << 2 << 28 << 59.0;
    QTest::newRow("1 March 1900") << 1900 << 3 << 1 << 61.0;
    QTest::newRow("2000 leap day") << 2000 << 2 << 29 << 36585.0;
    QTest::newRow("2021-03-04") << 2021 << 3 << 4 << 44259.0;
    QTest::newRow("last day") << 9999 << 12 << 31 << 2958465.0;

    QTest::newRow("before 1900") << 1899 << 12 << 31 << 0.0;
    QTest::newRow("after 9999") << 10000 << 1 << 1 << 0.0;
    QTest::newRow("month 13") << 2021 << 13 << 1 << 0.0;
    QTest::newRow("day 0") << 2021 << 1 << 0 << 0.0;
    QTest::newRow("31 June") << 2021 << 6 << 31 << 0.0;
    QTest::newRow("29 February 2100") << 2100 << 2 << 29 << 0.0;
}

void TestValueTyping::dateSerial()
{
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(double, serial);

    QCOMPARE(spreadsheet::dateSerial(year, month, day), serial);
}

QTEST_APPLESS_MAIN(TestValueTyping)
#include "tst_valuetyping.moc"
