// Reading written workbooks back with independent tools: the round-trip checkers and openpyxl.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

struct PythonRun
{
    int exitCode = -1;
    QByteArray output; // standard output
    QByteArray errors; // standard error, or why the run did not happen

    bool ok() const { return exitCode == 0; }
    QByteArray report() const { return output + errors; }
};

inline PythonRun runPython(const QStringList& arguments)
{
    PythonRun run;
    QProcess process;
    process.start(QStringLiteral(QUILLMARK_PYTHON), arguments);
    if (!process.waitForStarted()) {
        run.errors = "cannot start " QUILLMARK_PYTHON;
        return run;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(15 * 60 * 1000)) {
        process.kill();
        process.waitForFinished();
        run.errors = "python did not finish";
        return run;
    }
    run.output = process.readAllStandardOutput();
    run.errors = process.readAllStandardError();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

/// tools/xlsx_roundtrip.py: every field of the source must be in the workbook, typed by the rules.
inline PythonRun checkRoundTrip(const QString& source, const QString& workbook, const QStringList& options = {})
{
    return runPython(QStringList{QStringLiteral(QUILLMARK_TEST_TOOLS_DIR "/xlsx_roundtrip.py"), source, workbook} +
                     options);
}

/// tools/xls_roundtrip.py: the same for an .xls workbook, read with xlrd; "--shown EXPORT.csv" in place of
/// the workbook checks another program's CSV export of it.
inline PythonRun checkXlsRoundTrip(const QString& source, const QString& workbook, const QStringList& options = {})
{
    return runPython(QStringList{QStringLiteral(QUILLMARK_TEST_TOOLS_DIR "/xls_roundtrip.py"), source} +
                     (workbook.isEmpty() ? QStringList() : QStringList{workbook}) + options);
}

/// Runs a short python script with openpyxl; its arguments are in sys.argv[1:].
inline PythonRun inspectWorkbook(const char* script, const QStringList& arguments)
{
    return runPython(QStringList{QStringLiteral("-c"), QString::fromUtf8(script)} + arguments);
}
