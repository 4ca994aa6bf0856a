#include "cli/ConvertCommand.h"

#include <QDir>
#include <QFileInfo>

QString convertUsage()
{
    return QStringLiteral(
        "usage: quillmark-convert SOURCE_FOLDER (--out FOLDER | --next-to-source) [--format xlsx|xls]\n"
        "\n"
        "Converts every .csv file below SOURCE_FOLDER into a workbook, the way the window's automatic\n"
        "conversion does, and prints each status text on its own line.\n"
        "\n"
        "  --out FOLDER        save the workbooks under FOLDER, repeating the subfolders of the source\n"
        "  --next-to-source    save each workbook beside its .csv file\n"
        "  --format xlsx|xls   workbook format (default xlsx)\n"
        "\n"
        "Exit status: 0 when every .csv file was converted, 1 when any was not, 2 for a usage error.\n");
}

ConvertCommand parseConvertCommand(const QStringList& arguments)
{
    ConvertCommand command;
    ConversionOptions& options = command.options;
    QString source, out, format = QStringLiteral("xlsx");
    bool nextToSource = false;

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--out") || argument == QLatin1String("--format")) {
            if (i + 1 >= arguments.size()) {
                command.error = argument + QStringLiteral(" needs a value");
                return command;
            }
            (argument == QLatin1String("--out") ? out : format) = arguments[++i];
        } else if (argument == QLatin1String("--next-to-source")) {
            nextToSource = true;
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
    return command;
}
