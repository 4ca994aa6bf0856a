#include "convert/OutputLocation.h"

#include <QDir>

namespace {

QString withOneTrailingSeparator(const QString& folder)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absolutePath()));
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

} // namespace

QString outputFolderFor(const QFileInfo& source, const ConversionOptions& options)
{
    QString folder = withOneTrailingSeparator(source.absolutePath());
    if (options.SaveToQuondamPath)
        return folder;
    const QString sourceRoot = withOneTrailingSeparator(options.SourcePath);
    if (folder.startsWith(sourceRoot, Qt::CaseSensitive))
        folder = withOneTrailingSeparator(options.SavePath) + folder.mid(sourceRoot.size());
    return folder;
}

QString outputFileNameFor(const QFileInfo& source, const ConversionOptions& options)
{
    return outputFolderFor(source, options) + source.completeBaseName() +
           (options.xlsxMode ? QStringLiteral(".xlsx") : QStringLiteral(".xls"));
}

int outputFileFormat(const ConversionOptions& options)
{
    return options.xlsxMode ? 51 : 56;
}

QString MakeDirPath(const QString& path)
{
    if (path.isEmpty() || QDir(path).exists())
        return path;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        QDir().mkpath(path);
        return path;
    }
    QString parent = path.left(slash);
    const QString name = path.mid(slash + 1);
    if (parent.isEmpty())
        parent = QStringLiteral("/"); // the path was "/name"
    const QString made = MakeDirPath(parent);
    if (!name.isEmpty())
        QDir(made).mkpath(name);
    return made.endsWith(QLatin1Char('/')) ? made + name : made + QLatin1Char('/') + name;
}
