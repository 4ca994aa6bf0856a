#pragma once

// Running quillmark-convert as a script does, and looking at what it left.

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace {

[[maybe_unused]] constexpr int kTimeout = 60000;

[[maybe_unused]] const QByteArray kSmallCsv = "name,amount\r\n张三,1\r\nbeta,2.5\r\n";

struct Result
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// `asUser`: run with that user and group number (for a test that needs permissions to count while it
// runs as root).
inline Result runConverter(const QStringList& arguments, const QString& asUser = QString())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    if (asUser.isEmpty())
        process.start(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), arguments);
    else
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=" + asUser, "--regid=" + asUser, "--clear-groups",
                                  QStringLiteral(QUILLMARK_CONVERT_PROGRAM)} +
                          arguments);
    Result result;
    if (!process.waitForFinished(kTimeout) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Files below a folder with the given ending, relative and sorted.
inline QStringList filesEndingWith(const QString& root, const QString& ending)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(ending))
            files << QDir(root).relativeFilePath(path);
    }
    files.sort();
    return files;
}

inline QString roundTripProblems(const QString& source, const QString& workbook, const QStringList& checkerOptions = {})
{
    QProcess checker;
    checker.setProcessChannelMode(QProcess::MergedChannels);
    checker.start(QStringLiteral(QUILLMARK_PYTHON),
                  QStringList{QStringLiteral(QUILLMARK_TEST_TOOLS_DIR "/xlsx_roundtrip.py"), source, workbook} +
                      checkerOptions);
    if (!checker.waitForFinished(kTimeout))
        return QStringLiteral("the checker did not finish");
    return checker.exitCode() == 0 ? QString() : QString::fromUtf8(checker.readAll());
}

} // namespace
