#include "convert/OutputLocation.h"

#include <QDir>
#include <QFileInfo>

namespace {

// QFileInfo, not QDir: on Windows it puts the current drive before a folder given from the root without
// one (\data\src), as it does for the listed files' folders; QDir leaves such a folder without a drive,
// and a source folder written so would never match the files below it.
QString withOneTrailingSeparator(const QString& folder)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
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
