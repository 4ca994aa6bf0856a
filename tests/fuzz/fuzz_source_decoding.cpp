// The conversion by settings' decoding of a source file, with each encoding choice: it never fails and
// never loses the text after a zero byte; the decoded text then goes to the staged file and back.

#include "FuzzSupport.h"

#include "convert/SourceDecoding.h"

#include <QByteArray>
#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const SourceEncodingChoice choices[] = {encodingChoice(false, false), encodingChoice(false, true),
                                            encodingChoice(true, false), encodingChoice(true, true)};
    for (const SourceEncodingChoice choice : choices) {
        const QString text = SourceDecoding(bytes, choice);
        if (!bytes.isEmpty() && text.isEmpty() && bytes.size() > 4)
            std::abort(); // bytes beyond a byte-order mark decoded to nothing at all
        const QString staged = stagingPath(QFile::decodeName(fuzz::scratchFolder().c_str()));
        if (!stageText(staged, text))
            std::abort();
        unstageText(staged);
    }
    return 0;
}
