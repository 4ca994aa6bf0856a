#include "automation/SpreadsheetDispatch.h"

#include "platform/FileNameEncoding.h"
#include "platform/MemorySize.h"
#include "spreadsheet/SpreadsheetApplication.h"

#include <QFile>
#include <QThread>

#include <limits>

using spreadsheet::SpreadsheetApplication;
using WorkbookId = SpreadsheetApplication::WorkbookId;

namespace {

// Largest row and column numbers a cell or column may be addressed with. Rows past one sheet's limit
// are kept and continue on further sheets when saved; columns past it make the save fail.
constexpr long long kMaxRowNumber = std::numeric_limits<std::int32_t>::max();
constexpr long long kMaxColumnNumber = 16384;

using Server = std::shared_ptr<SpreadsheetApplication>;

QString fromStatus(const spreadsheet::Status& status) { return QString::fromStdString(status.message()); }
std::string filePath(const QVariant& v) { return platform::fileNameBytes(v.toString()).toStdString(); }

bool integerArgument(const QVariant& v, long long& out)
{
    bool ok = false;
    out = v.toLongLong(&ok);
    return ok;
}

class SpreadsheetObject : public Dispatch
{
public:
    explicit SpreadsheetObject(Server server) : server_(std::move(server)) {}
    QString source() const override { return QStringLiteral("Excel.Application (embedded)"); }
    DispatchResult call(const QByteArray&, const QVariantList&) override { return DispatchResult::unknown(); }
    DispatchResult query(const QByteArray&, const QVariantList&) override { return DispatchResult::unknown(); }
    DispatchResult setProperty(const QByteArray&, const QVariant&) override { return DispatchResult::unknown(); }
    DispatchResult property(const QByteArray&) override { return DispatchResult::unknown(); }

protected:
    SpreadsheetApplication& app() { return *server_; }
    Server server_;
};

// ---------------------------------------------------------------------------------------------------------
// Cell and column
// ---------------------------------------------------------------------------------------------------------

class CellObject : public SpreadsheetObject
{
public:
    CellObject(Server server, WorkbookId book, std::size_t sheet, std::size_t row, std::size_t column)
        : SpreadsheetObject(std::move(server)), book_(book), sheet_(sheet), row_(row), column_(column)
    {
    }

    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        if (member == "SetValue(const QVariant&)")
            return setValue(arguments.value(0));
        return DispatchResult::unknown();
    }
    DispatchResult setProperty(const QByteArray& name, const QVariant& value) override
    {
        if (name == "Value")
            return setValue(value);
        return DispatchResult::unknown();
    }
    DispatchResult property(const QByteArray& name) override
    {
        if (name != "Value")
            return DispatchResult::unknown();
        spreadsheet::Sheet* sheet = target();
        if (!sheet)
            return DispatchResult::failed(QStringLiteral("the workbook of this cell is closed"));
        const std::string_view text = sheet->cells.cell(row_, column_);
        return DispatchResult::done(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    }

private:
    spreadsheet::Sheet* target()
    {
        spreadsheet::Workbook* book = app().workbook(book_);
        return book && sheet_ < book->sheets.size() ? &book->sheets[sheet_] : nullptr;
    }
    DispatchResult setValue(const QVariant& value)
    {
        spreadsheet::Sheet* sheet = target();
        if (!sheet)
            return DispatchResult::failed(QStringLiteral("the workbook of this cell is closed"));
        const QByteArray text = value.toString().toUtf8();
        sheet->cells.setCell(row_, column_, std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        return DispatchResult::done();
    }

    WorkbookId book_;
    std::size_t sheet_, row_, column_;
};

class ColumnObject : public SpreadsheetObject
{
public:
    ColumnObject(Server server, WorkbookId book, std::size_t sheet, std::size_t column)
        : SpreadsheetObject(std::move(server)), book_(book), sheet_(sheet), column_(column)
    {
    }

    DispatchResult setProperty(const QByteArray& name, const QVariant& value) override
    {
        if (name != "NumberFormatLocal" && name != "NumberFormat")
            return DispatchResult::unknown();
        spreadsheet::Workbook* book = app().workbook(book_);
        if (!book || sheet_ >= book->sheets.size())
            return DispatchResult::failed(QStringLiteral("the workbook of this column is closed"));
        spreadsheet::Sheet& sheet = book->sheets[sheet_];
        if (value.toString() == QLatin1String("@")) {
            sheet.setColumnText(column_);
        } else if (column_ < sheet.columnFormats.size()) {
            sheet.columnFormats[column_] = spreadsheet::ColumnImport::General;
        }
        return DispatchResult::done();
    }

private:
    WorkbookId book_;
    std::size_t sheet_, column_;
};

// ---------------------------------------------------------------------------------------------------------
// Sheet and workbook
// ---------------------------------------------------------------------------------------------------------

class SheetObject : public SpreadsheetObject
{
public:
    SheetObject(Server server, WorkbookId book, std::size_t sheet)
        : SpreadsheetObject(std::move(server)), book_(book), sheet_(sheet)
    {
    }

    DispatchResult query(const QByteArray& member, const QVariantList& arguments) override
    {
        if (member == "Columns(int)") {
            long long column = 0;
            if (!integerArgument(arguments.value(0), column) || column < 1 || column > kMaxColumnNumber)
                return DispatchResult::failed(QStringLiteral("%1 is not a column number").arg(arguments.value(0).toString()));
            return DispatchResult::object(
                std::make_unique<ColumnObject>(server_, book_, sheet_, static_cast<std::size_t>(column - 1)));
        }
        if (member == "Cells(int, int)") {
            long long row = 0, column = 0;
            if (!integerArgument(arguments.value(0), row) || !integerArgument(arguments.value(1), column) ||
                row < 1 || row > kMaxRowNumber || column < 1 || column > kMaxColumnNumber)
                return DispatchResult::failed(QStringLiteral("(%1, %2) is not a cell")
                                                  .arg(arguments.value(0).toString(), arguments.value(1).toString()));
            return DispatchResult::object(std::make_unique<CellObject>(server_, book_, sheet_,
                                                                       static_cast<std::size_t>(row - 1),
                                                                       static_cast<std::size_t>(column - 1)));
        }
        return DispatchResult::unknown();
    }

private:
    WorkbookId book_;
    std::size_t sheet_;
};

class WorkbookObject : public SpreadsheetObject
{
public:
    WorkbookObject(Server server, WorkbookId book) : SpreadsheetObject(std::move(server)), book_(book) {}

    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        if (member == "SaveAs(const QString&, QVariant)") {
            long long format = 0;
            if (!integerArgument(arguments.value(1), format))
                return DispatchResult::failed(QStringLiteral("no file format given"));
            const spreadsheet::Status saved =
                app().saveAs(book_, filePath(arguments.value(0)), static_cast<int>(format));
            return saved.ok() ? DispatchResult::done() : DispatchResult::failed(fromStatus(saved));
        }
        if (member == "Close (Boolean)") {
            // Closing never saves here: changes are written only by SaveAs.
            app().close(book_);
            return DispatchResult::done();
        }
        return DispatchResult::unknown();
    }
    DispatchResult query(const QByteArray& member, const QVariantList&) override
    {
        if (member == "ActiveSheet") {
            spreadsheet::Workbook* book = app().workbook(book_);
            if (!book)
                return DispatchResult::failed(QStringLiteral("the workbook is closed"));
            return DispatchResult::object(std::make_unique<SheetObject>(server_, book_, book->activeSheet));
        }
        return DispatchResult::unknown();
    }

private:
    WorkbookId book_;
};

// ---------------------------------------------------------------------------------------------------------
// Workbooks collection and application
// ---------------------------------------------------------------------------------------------------------

// The 13 arguments of the text import, in the order of the member string.
DispatchResult openText(SpreadsheetApplication& app, const QVariantList& a)
{
    if (a.size() != 13)
        return DispatchResult::failed(QStringLiteral("the text import takes 13 arguments, not %1").arg(a.size()));
    spreadsheet::TextImport import;
    import.path = filePath(a[0]);
    long long origin = 0, startRow = 0, dataType = 0, qualifier = 0;
    if (!integerArgument(a[1], origin) || !integerArgument(a[2], startRow) || !integerArgument(a[3], dataType) ||
        !integerArgument(a[4], qualifier))
        return DispatchResult::failed(QStringLiteral("the text import's code page, start row, data type and "
                                                     "qualifier must be numbers"));
    if (dataType != 1)
        return DispatchResult::failed(QStringLiteral("only delimited text can be imported"));
    if (startRow < 1)
        return DispatchResult::failed(QStringLiteral("the start row must be 1 or more"));
    import.origin = static_cast<int>(origin);
    import.startRow = static_cast<std::size_t>(startRow);
    import.quoteQualifier = qualifier == 1;
    import.consecutiveDelimiter = a[5].toBool();
    import.tab = a[6].toBool();
    import.semicolon = a[7].toBool();
    import.comma = a[8].toBool();
    import.space = a[9].toBool();
    import.other = a[10].toBool();
    const QString other = a[11].toString();
    if (import.other && a[11].type() == QVariant::String && other.size() == 1 && other[0].unicode() < 0x80)
        import.otherCharacter = static_cast<char>(other[0].unicode());
    for (const QVariant& pair : a[12].toList()) {
        const QVariantList values = pair.toList();
        long long column = 0, type = 0;
        if (values.size() != 2 || !integerArgument(values[0], column) || !integerArgument(values[1], type))
            return DispatchResult::failed(QStringLiteral("each field info entry must be a column and a type"));
        import.fieldInfo.emplace_back(column, type);
    }
    SpreadsheetApplication::WorkbookId opened;
    const spreadsheet::Status status = app.openText(import, opened);
    return status.ok() ? DispatchResult::done() : DispatchResult::failed(fromStatus(status));
}

class WorkbooksObject : public SpreadsheetObject
{
public:
    using SpreadsheetObject::SpreadsheetObject;

    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        if (member == "OpenText(const QString&,int,int,int,int,bool,bool,bool,bool,bool,bool,int,QList<LongLong>)")
            return openText(app(), arguments);
        if (member == "Add") {
            app().add();
            return DispatchResult::done();
        }
        return DispatchResult::unknown();
    }
    DispatchResult query(const QByteArray& member, const QVariantList& arguments) override
    {
        if (member == "Open(const QString&)") {
            SpreadsheetApplication::WorkbookId opened;
            const spreadsheet::Status status = app().open(filePath(arguments.value(0)), opened);
            if (!status.ok())
                return DispatchResult::failed(fromStatus(status));
            return DispatchResult::object(std::make_unique<WorkbookObject>(server_, opened));
        }
        return DispatchResult::unknown();
    }
};

class ApplicationObject : public SpreadsheetObject
{
public:
    ApplicationObject() : SpreadsheetObject(std::make_shared<SpreadsheetApplication>())
    {
        setEventSink({});
        // A file whose work would take more than most of the machine's memory is refused before it is
        // read, rather than leaving the system to end the program when memory runs out.
        app().memoryLimit = platform::physicalMemoryBytes() / 4 * 3;
    }
    ~ApplicationObject() override { app().setStopCheck(spreadsheet::StopCheck()); }

    // The application serves the thread that created it: asking that thread to stop (the program ending)
    // stops an import or a save in the middle of a file. How far they are goes out as the event
    // "Progress(QString,qlonglong,qlonglong)": the stage ("reading", "preparing", "writing"), rows done,
    // rows in all (0 while not known).
    void setEventSink(EventSink sink) override
    {
        QThread* const thread = QThread::currentThread();
        spreadsheet::StopCheck::ProgressReport report;
        if (sink) {
            report = [sink](spreadsheet::WorkStage stage, std::size_t done, std::size_t total) {
                static const char* const names[] = {"reading", "preparing", "writing"};
                sink(QStringLiteral("Progress(QString,qlonglong,qlonglong)"),
                     {QString::fromLatin1(names[static_cast<int>(stage)]), qlonglong(done), qlonglong(total)});
            };
        }
        app().setStopCheck(
            spreadsheet::StopCheck([thread] { return thread->isInterruptionRequested(); }, std::move(report)));
    }

    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        if (member == "SetVisible (bool Visible)") {
            app().visible = arguments.value(0).toBool();
            return DispatchResult::done();
        }
        if (member == "Quit(void)") {
            app().quit();
            return DispatchResult::done();
        }
        return DispatchResult::unknown();
    }
    DispatchResult query(const QByteArray& member, const QVariantList&) override
    {
        if (member == "WorkBooks")
            return DispatchResult::object(std::make_unique<WorkbooksObject>(server_));
        if (member == "ActiveWorkBook" || member == "ActiveSheet") {
            const WorkbookId active = app().activeWorkbook();
            if (active == SpreadsheetApplication::kNoWorkbook)
                return DispatchResult::done(); // nothing active: a null object, not an error
            if (member == "ActiveWorkBook")
                return DispatchResult::object(std::make_unique<WorkbookObject>(server_, active));
            return DispatchResult::object(
                std::make_unique<SheetObject>(server_, active, app().workbook(active)->activeSheet));
        }
        return DispatchResult::unknown();
    }
    DispatchResult setProperty(const QByteArray& name, const QVariant& value) override
    {
        if (name == "DisplayAlerts") {
            app().displayAlerts = value.toBool();
            return DispatchResult::done();
        }
        if (name == "Visible") {
            app().visible = value.toBool();
            return DispatchResult::done();
        }
        return DispatchResult::unknown();
    }
    DispatchResult property(const QByteArray& name) override
    {
        if (name == "DisplayAlerts")
            return DispatchResult::done(app().displayAlerts);
        if (name == "Visible")
            return DispatchResult::done(app().visible);
        return DispatchResult::unknown();
    }
};

} // namespace

std::unique_ptr<Dispatch> createSpreadsheetApplication()
{
    return std::make_unique<ApplicationObject>();
}
