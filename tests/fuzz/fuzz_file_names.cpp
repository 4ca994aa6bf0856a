// File names as the file system gives them: the platform's lossless name decoding turns any bytes into
// text and back into the very same bytes, and the sheet name made from a name is valid UTF-8 of at most
// 31 UTF-16 units, never empty, without []:*?/\ or control characters and without an apostrophe at either
// end.

#include "FuzzSupport.h"

#include "platform/FileNameEncoding.h"
#include "spreadsheet/read/SheetName.h"

#include <QFile>
#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool lossless = [] {
        platform::useLosslessFileNames();
        return true;
    }();
    (void)lossless;
    QByteArray name(reinterpret_cast<const char*>(data), static_cast<int>(size));
    name.replace('\0', '_'); // a name holds no NUL
    const QString text = QFile::decodeName(name);
    if (QFile::encodeName(text) != name)
        std::abort(); // the name would not reach the same file again

    const std::string sheet = spreadsheet::sheetNameFor(name.toStdString());
    const QString sheetText = QString::fromUtf8(sheet.data(), static_cast<int>(sheet.size()));
    if (sheet.empty() || sheetText.toUtf8() != QByteArray::fromStdString(sheet) || sheetText.size() > 31)
        std::abort();
    for (const QChar c : sheetText) {
        if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20 || c.unicode() == 0x7F)
            std::abort();
    }
    if (sheetText.startsWith(QLatin1Char('\'')) || sheetText.endsWith(QLatin1Char('\'')))
        std::abort();
    return 0;
}
