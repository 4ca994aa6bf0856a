#pragma once

// Running one of the program's executables (or a script) to its end, as a user's shell does.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

struct ProgramRun
{
    int exitCode = -1; // -1: it did not start, crashed or did not end in time
    QByteArray out;
    QByteArray err;
};

/// Runs `program` with `arguments`, in `environment` when one is given, and collects its output.
inline ProgramRun runProgram(const QString& program, const QStringList& arguments,
                             const QProcessEnvironment& environment = {}, int timeoutMs = 60000)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
#ifdef _WIN32
    // A Windows console program writes in the system's code page and ends its lines with CR LF: the tests
    // compare UTF-8 lines, as they read on Linux.
    for (QByteArray* text : {&run.out, &run.err})
        *text = QString::fromLocal8Bit(*text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toUtf8();
#endif
    return run;
}
