#pragma once

// Running quillmark-convert as a script does, and looking at what it left.

#include "tests/ProgramRuns.h"
#include "tests/TestFiles.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace {

[[maybe_unused]] constexpr int kTimeout = 60000;

[[maybe_unused]] const QByteArray kSmallCsv = "name,amount\r\n张三,1\r\nbeta,2.5\r\n";

using Result = ProgramRun;

// `asUser`: run with that user and group number (for a test that needs permissions to count while it
// runs as root).
inline Result runConverter(const QStringList& arguments, const QString& asUser = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
#ifndef _WIN32 // there the system's code page holds, which the program's output is read in
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
#endif
    if (asUser.isEmpty())
        return runProgram(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), arguments, environment, kTimeout);
    return runProgram(QStringLiteral("setpriv"),
                      QStringList{"--reuid=" + asUser, "--regid=" + asUser, "--clear-groups",
                                  QStringLiteral(QUILLMARK_CONVERT_PROGRAM)} +
                          arguments,
                      environment, kTimeout);
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
