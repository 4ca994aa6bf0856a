#include "convert/SettingsConversion.h"

#include "automation/AutomationObject.h"
#include "convert/OutputLocation.h"
#include "convert/SourceDecoding.h"
#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"
#include "spreadsheet/read/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <climits>
#include <cstdio>
#include <memory>
#include <new>

namespace {

const char* const kOpenText =
    "OpenText(const QString&,int,int,int,int,bool,bool,bool,bool,bool,bool,int,QList<LongLong>)";

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads a whole source file through a handle opened for reading and writing: a file another program
// holds, or one that is read-only or gone, cannot be opened so, and that stops the batch. A named pipe or
// a device is not opened at all (reading it could block for ever): it fails with `failure` set, as does a
// file larger than the import can take.
bool readSource(const QString& nativePath, QByteArray& bytes, bool& opened, QString& failure)
{
    const QByteArray path = platform::fileNameBytes(nativePath);
    opened = true;
    const QFileInfo info(nativePath);
    if (info.exists() && !info.isDir()) { // a folder in its place stops the batch, as a locked file does
        const spreadsheet::Status regular = spreadsheet::checkRegularFile(path.toStdString());
        if (!regular.ok()) {
            failure = QString::fromLocal8Bit(regular.message().c_str());
            return false;
        }
    }
    std::unique_ptr<std::FILE, FileCloser> file(platform::openFile(path.toStdString(), "rb+"));
    opened = static_cast<bool>(file);
    if (!file)
        return false;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(file.get());
    // The handle's position is a long, 32 bits on Windows, where a larger file would read as a few bytes
    // or none: the size the file system tells decides.
    if (size > INT_MAX - 2 || QFileInfo(nativePath).size() > INT_MAX - 2) {
        failure = nativePath + QStringLiteral(" is larger than the conversion by settings can take (2 GiB)");
        return false;
    }
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return false;
    bytes.resize(static_cast<int>(size));
    const std::size_t got = std::fread(bytes.data(), 1, static_cast<std::size_t>(size), file.get());
    bytes.resize(static_cast<int>(got));
    return !std::ferror(file.get());
}

} // namespace

QList<int> columnPieces(const QString& textFormatColumns)
{
    QList<int> pieces;
    for (const QString& piece : textFormatColumns.split(QLatin1Char(','), Qt::KeepEmptyParts))
        pieces << piece.toInt(); // 0 when not a number
    return pieces;
}

bool textColumnsInForce(const ConversionOptions& options)
{
    return options.SetTextFormat && !options.TextFormatColumns.isEmpty();
}

QVariantList fieldInfo(const ConversionOptions& options)
{
    QVariantList info;
    if (textColumnsInForce(options)) {
        for (int column : columnPieces(options.TextFormatColumns))
            info << QVariant(QVariantList{column, 2});
    } else {
        info << QVariant(QVariantList{1, 1}) << QVariant(QVariantList{2, 1});
    }
    return info;
}

QVariantList textImportArguments(const QString& stagedPath, const ConversionOptions& options)
{
    const int delimiter = options.vbaOpenFunFomatArg;
    return {stagedPath,     936,
            1,              1,
            1,              options.ConsecutiveDelimiter,
            delimiter == 1, delimiter == 2,
            delimiter == 3, delimiter == 4,
            false,          936,
            QVariant(fieldInfo(options))};
}

QString cellDelimiter(int vbaOpenFunFomatArg)
{
    switch (vbaOpenFunFomatArg) {
    case 2:
        return QStringLiteral(";");
    case 3:
        return QStringLiteral(",");
    case 4:
        return QStringLiteral(" ");
    default:
        return QStringLiteral("\t");
    }
}

QStringList splitLines(const QString& text)
{
    QStringList lines = text.split(QStringLiteral("\r\n"), Qt::KeepEmptyParts);
    if (lines.size() <= 1)
        lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    if (lines.size() <= 1)
        lines = text.split(QLatin1Char('\r'), Qt::KeepEmptyParts);
    return lines;
}

SettingsConversion::SettingsConversion(const ConversionOptions& options) : options_(options) {}

AutomationObject* SettingsConversion::obtainWorkbook(AutomationObject& application, AutomationObject& workbooks,
                                                     const QString& nativePath, bool& stopBatch)
{
    // The work on one file begins and ends here: memory that runs out while the source is read, decoded
    // or staged fails this file alone.
    failure_.clear();
    try {
        return decodeAndImport(application, workbooks, nativePath, stopBatch);
    } catch (const std::bad_alloc&) {
        failure_ = QStringLiteral("%1 is too large for this computer's memory").arg(nativePath);
        return nullptr;
    }
}

AutomationObject* SettingsConversion::decodeAndImport(AutomationObject& application,
                                                      AutomationObject& workbooks, const QString& nativePath,
                                                      bool& stopBatch)
{
    QByteArray bytes;
    bool opened = false;
    const bool read = readSource(nativePath, bytes, opened, failure_);
    if (!opened) {
        stopBatch = true;
        return nullptr;
    }
    if (!read)
        return nullptr;
    const SourceEncodingChoice choice = encodingChoice(options_.UTF8BOM, options_.UCS2);

    // The temporary file goes into the output folder; next to the source when workbooks go there or
    // no usable output folder was given.
    QString folder = options_.SavePath;
    if (options_.SaveToQuondamPath || folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = outputFolderFor(QFileInfo(nativePath), options_);
    stagedPath_ = stagingPath(folder);

    if (textColumnsInForce(options_) && options_.OtherLanguage) {
        // The cell-by-cell import works from the decoded text itself.
        const QString text = SourceDecoding(bytes, choice);
        bytes = QByteArray();
        if (!stageText(stagedPath_, text))
            return nullptr;
        return importCellByCell(application, workbooks, text);
    }
    // The text import reads the staged file: the source is decoded and staged piece by piece, and its
    // bytes are let go before the import reads the file back.
    const bool staged = stageSource(stagedPath_, bytes, choice);
    bytes = QByteArray();
    if (!staged)
        return nullptr;
    return importText(application, workbooks);
}

AutomationObject* SettingsConversion::importText(AutomationObject& application, AutomationObject& workbooks)
{
    QVariantList arguments = textImportArguments(stagedPath_, options_);
    workbooks.dynamicCall(kOpenText, arguments);
    return application.querySubObject("ActiveWorkBook");
}

AutomationObject* SettingsConversion::importCellByCell(AutomationObject& application, AutomationObject& workbooks,
                                                       const QString& text)
{
    workbooks.dynamicCall("Add");
    AutomationObject* workbook = application.querySubObject("ActiveWorkBook");
    AutomationObject* sheet = workbook ? application.querySubObject("ActiveSheet") : nullptr;
    if (!sheet)
        return nullptr;
    // A column or cell that cannot be had (column 0 from a stray comma, a row or column past the format)
    // fails the file: the added workbook is closed, never half filled and saved.
    auto giveUp = [&]() -> AutomationObject* {
        workbook->dynamicCall("Close (Boolean)", false);
        return nullptr;
    };
    for (int column : columnPieces(options_.TextFormatColumns)) {
        std::unique_ptr<AutomationObject> range(sheet->querySubObject("Columns(int)", column));
        if (!range)
            return giveUp();
        range->setProperty("NumberFormatLocal", QStringLiteral("@"));
    }
    const QString delimiter = cellDelimiter(options_.vbaOpenFunFomatArg);
    const QStringList lines = splitLines(text);
    for (int row = 0; row < lines.size(); ++row) {
        if (row % 1024 == 0 && QThread::currentThread()->isInterruptionRequested())
            return giveUp(); // the program is ending
        const QStringList fields = lines[row].split(delimiter, Qt::KeepEmptyParts);
        for (int column = 0; column < fields.size(); ++column) {
            // Released at once: a large file would otherwise keep one object per cell until the batch ends.
            std::unique_ptr<AutomationObject> cell(sheet->querySubObject("Cells(int, int)", row + 1, column + 1));
            if (!cell)
                return giveUp();
            cell->dynamicCall("SetValue(const QVariant&)", fields[column]);
        }
    }
    return workbook;
}

void SettingsConversion::cleanUp()
{
    if (!stagedPath_.isEmpty())
        unstageText(stagedPath_);
    stagedPath_.clear();
}
