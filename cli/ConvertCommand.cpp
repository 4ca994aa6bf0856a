#include "cli/ConvertCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

QString convertUsage()
{
    return QStringLiteral(
        "usage: quillmark-convert SOURCE_FOLDER (--out FOLDER | --next-to-source) [--format xlsx|xls]\n"
        "                         [--by-settings [--delimiter tab|semicolon|comma|space] [--merge-delimiters]\n"
        "                          [--text-columns LIST] [--cell-by-cell] [--encoding auto|utf16|local]]\n"
        "\n"
        "Converts every .csv file below SOURCE_FOLDER into a workbook, the way the window's automatic\n"
        "conversion does (or, with --by-settings, its conversion by settings), and prints each status\n"
        "text on its own line.\n"
        "\n"
        "  --out FOLDER        save the workbooks under FOLDER, repeating the subfolders of the source\n"
        "  --next-to-source    save each workbook beside its .csv file\n"
        "  --format xlsx|xls   workbook format (default xlsx)\n"
        "  --by-settings       split each file with the options below instead of detecting its layout;\n"
        "                      files that fail are listed in SOURCE_FOLDER/无法转换的文件目录.txt,\n"
        "                      whose path is printed\n"
        "  --delimiter D       tab (default), semicolon, comma or space\n"
        "  --merge-delimiters  a run of delimiters counts as one\n"
        "  --text-columns LIST columns kept as text, numbered from 1, e.g. 2,3,4\n"
        "  --cell-by-cell      write the cells one by one (with --text-columns only), for text the\n"
        "                      GBK code page cannot hold\n"
        "  --encoding E        auto (default): UTF-8, else UTF-16, else GBK; utf16; local: the system's\n"
        "                      8-bit encoding\n"
        "\n"
        "Exit status: 0 when every .csv file was converted, 1 when any was not, 2 for a usage error.\n");
}

namespace {

// Delimiter names in the order of their numbers 1 to 4.
QStringList delimiters()
{
    return {QStringLiteral("tab"), QStringLiteral("semicolon"), QStringLiteral("comma"), QStringLiteral("space")};
}

} // namespace

ConvertCommand parseConvertCommand(const QStringList& arguments)
{
    ConvertCommand command;
    ConversionOptions& options = command.options;
    QString source, out, format = QStringLiteral("xlsx");
    QString delimiter = QStringLiteral("tab"), encoding = QStringLiteral("auto"), textColumns;
    bool nextToSource = false, settingsOption = false;
    QMap<QString, QString*> valued{{QStringLiteral("--out"), &out},
                                   {QStringLiteral("--format"), &format},
                                   {QStringLiteral("--delimiter"), &delimiter},
                                   {QStringLiteral("--text-columns"), &textColumns},
                                   {QStringLiteral("--encoding"), &encoding}};

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (valued.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                command.error = argument + QStringLiteral(" needs a value");
                return command;
            }
            *valued[argument] = arguments[++i];
            settingsOption |= argument != QLatin1String("--out") && argument != QLatin1String("--format");
        } else if (argument == QLatin1String("--next-to-source")) {
            nextToSource = true;
        } else if (argument == QLatin1String("--by-settings")) {
            command.bySettings = true;
        } else if (argument == QLatin1String("--merge-delimiters")) {
            options.ConsecutiveDelimiter = settingsOption = true;
        } else if (argument == QLatin1String("--cell-by-cell")) {
            options.OtherLanguage = settingsOption = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            command.error = QStringLiteral("unknown option ") + argument;
            return command;
        } else if (source.isEmpty()) {
            source = argument;
        } else {
            command.error = QStringLiteral("only one source folder may be given");
            return command;
        }
    }

    if (source.isEmpty()) {
        command.error = QStringLiteral("no source folder given");
    } else if (out.isEmpty() == !nextToSource) {
        command.error = QStringLiteral("give either --out FOLDER or --next-to-source");
    } else if (format != QLatin1String("xlsx") && format != QLatin1String("xls")) {
        command.error = QStringLiteral("the format must be xlsx or xls");
    } else if (settingsOption && !command.bySettings) {
        command.error = QStringLiteral("the delimiter, text-column, cell-by-cell and encoding options need --by-settings");
    } else if (!delimiters().contains(delimiter)) {
        command.error = QStringLiteral("the delimiter must be tab, semicolon, comma or space");
    } else if (encoding != QLatin1String("auto") && encoding != QLatin1String("utf16") &&
               encoding != QLatin1String("local")) {
        command.error = QStringLiteral("the encoding must be auto, utf16 or local");
    } else if (!QFileInfo(source).isDir()) {
        command.error = QStringLiteral("the source folder does not exist: ") + source;
    }
    if (!command.error.isEmpty())
        return command;

    auto nativeFolder = [](const QString& folder) {
        return QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absolutePath()));
    };
    options.SourcePath = nativeFolder(source);
    options.SaveToQuondamPath = nextToSource;
    options.SavePath = nextToSource ? options.SourcePath : nativeFolder(out);
    options.xlsxMode = format == QLatin1String("xlsx");
    options.vbaOpenFunFomatArg = delimiters().indexOf(delimiter) + 1;
    options.SetTextFormat = !textColumns.isEmpty();
    options.TextFormatColumns = textColumns;
    options.UCS2 = encoding == QLatin1String("utf16");
    options.UTF8BOM = encoding == QLatin1String("local");
    options.FailListPath = options.SourcePath + QStringLiteral("/无法转换的文件目录.txt");
    return command;
}
