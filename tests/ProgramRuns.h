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
    return run;
}
