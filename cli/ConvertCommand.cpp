#include "cli/ConvertCommand.h"

#include "QuillmarkVersion.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <algorithm>

QString convertUsage()
{
    return QStringLiteral(
        "Usage: quillmark-convert SOURCE_FOLDER (--out FOLDER | --next-to-source) [--format xlsx|xls]\n"
        "                         [--by-settings [--delimiter tab|semicolon|comma|space] [--merge-delimiters]\n"
        "                          [--encoding auto|utf16|local] [--text-columns LIST [--cell-by-cell]]]\n"
        "                         [--progress] [--engine installed|embedded]\n"
        "       quillmark-convert --help | --version\n"
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
        "  --encoding E        auto (default): as the automatic conversion reads it; utf16; local: the\n"
        "                      system's 8-bit encoding\n"
        "  --text-columns LIST columns kept as text: numbers from 1 to 16384 separated by commas, e.g. 2,3,4\n"
        "  --cell-by-cell      write the cells one by one (needs --text-columns), for text the GBK code\n"
        "                      page cannot hold\n"
        "  --progress          on a terminal, show on standard error which file of how many is being\n"
        "                      converted and how far through it the conversion is\n"
        "  --engine E          installed: the spreadsheet application installed on this computer\n"
        "                      (registered as Excel.Application), none other; embedded: the one built\n"
        "                      into Quillmark. By default the installed one when there is one, else the\n"
        "                      embedded one\n"
        "  -h, --help          print this text\n"
        "      --version       print the version\n"
        "\n"
        "Exit status: 0 when every .csv file was converted and every folder read, 1 when any was not,\n"
        "2 for a usage error.\n");
}

QString convertVersion()
{
    return QStringLiteral("quillmark-convert " QUILLMARK_VERSION);
}

bool validTextColumns(const QString& list)
{
    const QStringList pieces = list.split(QLatin1Char(','), Qt::KeepEmptyParts);
    return std::all_of(pieces.begin(), pieces.end(), [](const QString& piece) {
        bool number = !piece.isEmpty() && piece.size() <= 5 &&
                      std::all_of(piece.begin(), piece.end(), [](QChar c) { return c >= '0' && c <= '9'; });
        const int column = number ? piece.toInt() : 0;
        return column >= 1 && column <= 16384;
    });
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
    QString delimiter = QStringLiteral("tab"), encoding = QStringLiteral("auto"), textColumns, engine;
    bool nextToSource = false, settingsOption = false, textColumnsGiven = false, optionsEnded = false;
    QMap<QString, QString*> valued{{QStringLiteral("--out"), &out},
                                   {QStringLiteral("--format"), &format},
                                   {QStringLiteral("--delimiter"), &delimiter},
                                   {QStringLiteral("--text-columns"), &textColumns},
                                   {QStringLiteral("--encoding"), &encoding},
                                   {QStringLiteral("--engine"), &engine}};
    auto fail = [&command](const QString& error) {
        command.error = error;
        return command;
    };

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            if (!source.isEmpty())
                return fail(QStringLiteral("only one source folder may be given (also got %1)").arg(argument));
            source = argument;
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true; // what follows is the source folder, even if it starts with a dash
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            command.help = true;
            return command;
        } else if (argument == QLatin1String("--version")) {
            command.version = true;
            return command;
        } else if (valued.contains(argument)) {
            if (i + 1 >= arguments.size())
                return fail(argument + QStringLiteral(" needs a value"));
            *valued[argument] = arguments[++i];
            settingsOption |= argument != QLatin1String("--out") && argument != QLatin1String("--format") &&
                              argument != QLatin1String("--engine");
            textColumnsGiven |= argument == QLatin1String("--text-columns");
        } else if (argument == QLatin1String("--next-to-source")) {
            nextToSource = true;
        } else if (argument == QLatin1String("--progress")) {
            command.progress = true;
        } else if (argument == QLatin1String("--by-settings")) {
            command.bySettings = true;
        } else if (argument == QLatin1String("--merge-delimiters")) {
            options.ConsecutiveDelimiter = settingsOption = true;
        } else if (argument == QLatin1String("--cell-by-cell")) {
            options.OtherLanguage = settingsOption = true;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        }
    }

    if (source.isEmpty())
        return fail(QStringLiteral("no source folder given"));
    if (out.isEmpty() == !nextToSource)
        return fail(QStringLiteral("give either --out FOLDER or --next-to-source"));
    if (format != QLatin1String("xlsx") && format != QLatin1String("xls"))
        return fail(QStringLiteral("the format must be xlsx or xls, not %1").arg(format));
    if (settingsOption && !command.bySettings)
        return fail(QStringLiteral("--delimiter, --merge-delimiters, --encoding, --text-columns and --cell-by-cell "
                                   "need --by-settings"));
    if (!delimiters().contains(delimiter))
        return fail(QStringLiteral("the delimiter must be tab, semicolon, comma or space, not %1").arg(delimiter));
    if (encoding != QLatin1String("auto") && encoding != QLatin1String("utf16") && encoding != QLatin1String("local"))
        return fail(QStringLiteral("the encoding must be auto, utf16 or local, not %1").arg(encoding));
    if (!engine.isEmpty() && engine != QLatin1String("installed") && engine != QLatin1String("embedded"))
        return fail(QStringLiteral("the engine must be installed or embedded, not %1").arg(engine));
    if (!engine.isEmpty())
        command.engine = engine == QLatin1String("installed") ? AutomationServers::Choice::SystemOnly
                                                              : AutomationServers::Choice::OwnOnly;
    if (textColumnsGiven && !validTextColumns(textColumns))
        return fail(QStringLiteral("--text-columns takes column numbers from 1 to 16384 separated by commas, "
                                   "not \"%1\"").arg(textColumns));
    if (options.OtherLanguage && !textColumnsGiven)
        return fail(QStringLiteral("--cell-by-cell needs --text-columns"));
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        return fail(QStringLiteral("the source folder %1 does not exist").arg(source));
    if (!sourceInfo.isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(source));

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
