// quillmark-convert as scripts run it: exit codes, the status lines on stdout, failures on stderr, and
// the reading of its command line.

#include "cli/ConvertCommand.h"
#include "QuillmarkVersion.h"
#include "cli/ProgressLine.h"
#include "convert/StatusTexts.h"
#include "platform/FileNameEncoding.h"
#include "tests/TestFiles.h"
#include "tests/cli/ConverterRuns.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>


class TestConvertCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { platform::useLosslessFileNames(); }
    void init();

    void usageErrors_data();
    void usageErrors();
    void convertsAFolder();
    void reportsFilesNotConverted();
    void nextToSource();
    void convertsToXls();
    void parsesOptions_data();
    void parsesOptions();
    void bySettingsListsFailures();
    void parsesSettingsOptions();
    void progressText_data();
    void progressText();
    void showsProgressOnATerminalOnly();
    void engineChoice_data();
    void engineChoice();

private:
    QScopedPointer<QTemporaryDir> temporary_;
    QString source_, output_;
};

void TestConvertCli::init()
{
    temporary_.reset(new QTemporaryDir);
    QVERIFY(temporary_->isValid());
    source_ = temporary_->path() + QStringLiteral("/source");
    output_ = temporary_->path() + QStringLiteral("/output");
    QVERIFY(QDir().mkpath(source_));
}

void TestConvertCli::usageErrors_data()
{
    // "SRC" and "OUT" stand for the test's source and output folders. A usage error is one line naming the
    // problem and a pointer to --help, on standard error, with exit status 2; --help and --version print
    // on standard output and exit 0.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine"); // standard output for exit 0, standard error otherwise

    const QString usage = QStringLiteral("Usage: quillmark-convert SOURCE_FOLDER (--out FOLDER | --next-to-source) "
                                         "[--format xlsx|xls]");
    QTest::newRow("--help") << QStringList{"--help"} << 0 << usage;
    QTest::newRow("-h after other arguments") << QStringList{"SRC", "-h"} << 0 << usage;
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "quillmark-convert " + QStringLiteral(QUILLMARK_VERSION);
    QTest::newRow("no arguments") << QStringList() << 2 << "quillmark-convert: no source folder given";
    QTest::newRow("no destination") << QStringList{"SRC"} << 2
                                    << "quillmark-convert: give either --out FOLDER or --next-to-source";
    QTest::newRow("both destinations") << QStringList{"SRC", "--out", "OUT", "--next-to-source"} << 2
                                       << "quillmark-convert: give either --out FOLDER or --next-to-source";
    QTest::newRow("bad format") << QStringList{"SRC", "--out", "OUT", "--format", "csv"} << 2
                                << "quillmark-convert: the format must be xlsx or xls, not csv";
    QTest::newRow("format without value") << QStringList{"SRC", "--out", "OUT", "--format"} << 2
                                          << "quillmark-convert: --format needs a value";
    QTest::newRow("missing source folder") << QStringList{"SRC/missing", "--out", "OUT"} << 2
                                           << "quillmark-convert: the source folder SRC/missing does not exist";
    QTest::newRow("source is a file") << QStringList{"SRC/a.csv", "--out", "OUT"} << 2
                                      << "quillmark-convert: SRC/a.csv is not a folder";
    QTest::newRow("two source folders") << QStringList{"SRC", "SRC", "--out", "OUT"} << 2
                                        << "quillmark-convert: only one source folder may be given (also got SRC)";
    QTest::newRow("unknown option") << QStringList{"SRC", "--out", "OUT", "--recursive"} << 2
                                    << "quillmark-convert: unknown option --recursive";
    QTest::newRow("unknown short option") << QStringList{"-x", "SRC", "--out", "OUT"} << 2
                                          << "quillmark-convert: unknown option -x";
    QTest::newRow("settings option without --by-settings")
        << QStringList{"SRC", "--out", "OUT", "--merge-delimiters"} << 2
        << "quillmark-convert: --delimiter, --merge-delimiters, --encoding, --text-columns and --cell-by-cell need "
           "--by-settings";
    QTest::newRow("bad delimiter") << QStringList{"SRC", "--out", "OUT", "--by-settings", "--delimiter", "pipe"} << 2
                                   << "quillmark-convert: the delimiter must be tab, semicolon, comma or space, not pipe";
    QTest::newRow("bad encoding") << QStringList{"SRC", "--out", "OUT", "--by-settings", "--encoding", "gbk"} << 2
                                  << "quillmark-convert: the encoding must be auto, utf16 or local, not gbk";
    const QString columns = QStringLiteral("quillmark-convert: --text-columns takes column numbers from 1 to 16384 "
                                           "separated by commas, not \"%1\"");
    for (const char* list : {"a,b", "0", "2,,3", "16385", "2, 3", "2,", ""})
        QTest::newRow(qPrintable(QStringLiteral("text columns \"%1\"").arg(list)))
            << QStringList{"SRC", "--out", "OUT", "--by-settings", "--text-columns", list} << 2
            << columns.arg(list);
    QTest::newRow("bad engine") << QStringList{"SRC", "--out", "OUT", "--engine", "calc"} << 2
                                << "quillmark-convert: the engine must be installed or embedded, not calc";
    QTest::newRow("cell by cell without text columns") << QStringList{"SRC", "--out", "OUT", "--by-settings",
                                                                      "--cell-by-cell"}
                                                       << 2 << "quillmark-convert: --cell-by-cell needs --text-columns";
}

void TestConvertCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    arguments.replaceInStrings(QStringLiteral("SRC"), source_).replaceInStrings(QStringLiteral("OUT"), output_);
    firstLine.replace(QStringLiteral("SRC"), source_);

    const Result result = runConverter(arguments);

    QCOMPARE(result.exitCode, exitCode);
    const QByteArray printed = exitCode == 0 ? result.out : result.err;
    QCOMPARE(QString::fromUtf8(printed).section(QLatin1Char('\n'), 0, 0), firstLine);
    QCOMPARE(exitCode == 0 ? result.err : result.out, QByteArray());
    if (exitCode == 2)
        QCOMPARE(QString::fromUtf8(result.err).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{firstLine, QStringLiteral("Try 'quillmark-convert --help'.")}));
    QVERIFY(!QFileInfo::exists(output_)); // nothing was started
}

void TestConvertCli::convertsAFolder()
{
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    writeFile(source_ + QStringLiteral("/notes.txt"), "not a table");
    copyFixture(QStringLiteral("utf8_plain.csv"), source_ + QStringLiteral("/数据/报表 2021.csv"));
    if (QTest::currentTestFailed())
        return;
    const QString output = output_ + QStringLiteral("/not/yet/there");

    const Result result = runConverter({source_, QStringLiteral("--out"), output});

    QCOMPARE(result.exitCode, 0);
    const QStringList expected{StatusTexts::applicationCreated(),
                               StatusTexts::spreadsheetInUse(false),
                               StatusTexts::workbooksObtained(),
                               QDir::toNativeSeparators(source_ + QStringLiteral("/a.csv")),
                               QDir::toNativeSeparators(source_ + QStringLiteral("/数据/报表 2021.csv")),
                               StatusTexts::summary(2)};
    QCOMPARE(QString::fromUtf8(result.out), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(filesEndingWith(output, QStringLiteral(".xlsx")), (QStringList{"a.xlsx", "数据/报表 2021.xlsx"}));
    const QString problems =
        roundTripProblems(source_ + QStringLiteral("/数据/报表 2021.csv"), output + QStringLiteral("/数据/报表 2021.xlsx"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestConvertCli::reportsFilesNotConverted()
{
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    copyFixture(QStringLiteral("long_field.csv"), source_ + QStringLiteral("/sub/long_field.csv"));
    if (QTest::currentTestFailed())
        return;
    const QString longField = QDir::toNativeSeparators(source_ + QStringLiteral("/sub/long_field.csv"));

    const Result result = runConverter({source_, QStringLiteral("--out"), output_});

    QCOMPARE(result.exitCode, 1);
    const QStringList lines = QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(3), (QStringList{QDir::toNativeSeparators(source_ + QStringLiteral("/a.csv")), longField,
                                        StatusTexts::summary(1)}));
    QVERIFY2(QString::fromUtf8(result.err).contains(QStringLiteral("not converted: ") + longField),
             result.err.constData());
    QCOMPARE(filesEndingWith(output_, QStringLiteral(".xlsx")), QStringList{"a.xlsx"});
}

void TestConvertCli::nextToSource()
{
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    writeFile(source_ + QStringLiteral("/sub/b.csv"), kSmallCsv);

    const Result result = runConverter({QStringLiteral("--next-to-source"), source_});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(filesEndingWith(source_, QStringLiteral(".xlsx")), (QStringList{"a.xlsx", "sub/b.xlsx"}));
    QVERIFY(!QFileInfo::exists(output_));
}

void TestConvertCli::convertsToXls()
{
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    copyFixture(QStringLiteral("utf8_plain.csv"), source_ + QStringLiteral("/数据/报表 2021.csv"));
    if (QTest::currentTestFailed())
        return;

    const Result result = runConverter({source_, QStringLiteral("--out"), output_, QStringLiteral("--format"),
                                        QStringLiteral("xls")});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(filesEndingWith(output_, QStringLiteral(".xls")), (QStringList{"a.xls", "数据/报表 2021.xls"}));
    for (const QString& name : {QStringLiteral("a"), QStringLiteral("数据/报表 2021")}) {
        QProcess checker;
        checker.setProcessChannelMode(QProcess::MergedChannels);
        checker.start(QStringLiteral(QUILLMARK_PYTHON),
                      {QStringLiteral(QUILLMARK_TEST_TOOLS_DIR "/xls_roundtrip.py"), source_ + '/' + name + ".csv",
                       output_ + '/' + name + ".xls"});
        QVERIFY(checker.waitForFinished(kTimeout));
        QVERIFY2(checker.exitCode() == 0, checker.readAll().constData());
    }
}

void TestConvertCli::parsesOptions_data()
{
    // "SRC" and "OUT" stand for the test's source and output folders, "REL:" for them relative to the
    // current folder.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("sourcePath");
    QTest::addColumn<QString>("savePath");
    QTest::addColumn<bool>("nextToSource");
    QTest::addColumn<bool>("xlsx");

    QTest::newRow("out folder, default format") << QStringList{"SRC", "--out", "OUT"} << "SRC" << "OUT" << false << true;
    QTest::newRow("options before the source")
        << QStringList{"--format", "xls", "--out", "OUT", "SRC"} << "SRC" << "OUT" << false << false;
    QTest::newRow("folders cleaned") << QStringList{"SRC/./", "--out", "OUT//x/../"} << "SRC" << "OUT" << false << true;
    QTest::newRow("next to source") << QStringList{"SRC", "--next-to-source", "--format", "xlsx"} << "SRC" << "SRC"
                                    << true << true;
    QTest::newRow("relative folders made absolute")
        << QStringList{"REL:SRC", "--out", "REL:OUT"} << "SRC" << "OUT" << false << true;
}

void TestConvertCli::parsesOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, sourcePath);
    QFETCH(QString, savePath);
    QFETCH(bool, nextToSource);
    QFETCH(bool, xlsx);
    auto fill = [this](QString text) {
        const QDir current;
        return text.replace(QStringLiteral("REL:SRC"), current.relativeFilePath(source_))
            .replace(QStringLiteral("REL:OUT"), current.relativeFilePath(output_))
            .replace(QStringLiteral("SRC"), source_)
            .replace(QStringLiteral("OUT"), output_);
    };
    for (QString& argument : arguments)
        argument = fill(argument);

    const ConvertCommand command = parseConvertCommand(arguments);

    QCOMPARE(command.error, QString());
    QCOMPARE(command.options.SourcePath, QDir::toNativeSeparators(fill(sourcePath)));
    QCOMPARE(command.options.SavePath, QDir::toNativeSeparators(fill(savePath)));
    QCOMPARE(command.options.SaveToQuondamPath, nextToSource);
    QCOMPARE(command.options.xlsxMode, xlsx);
}

void TestConvertCli::bySettingsListsFailures()
{
    writeFile(source_ + QStringLiteral("/a.csv"), "code;name\r\n00123;x\r\n");
    copyFixture(QStringLiteral("long_field.csv"), source_ + QStringLiteral("/b.csv"));
    const QString list = source_ + QStringLiteral("/无法转换的文件目录.txt");
    writeFile(list, "an old list"); // removed before the batch

    const Result result = runConverter({source_, QStringLiteral("--out"), output_, QStringLiteral("--by-settings"),
                                        QStringLiteral("--delimiter"), QStringLiteral("semicolon"),
                                        QStringLiteral("--text-columns"), QStringLiteral("1")});

    QCOMPARE(result.exitCode, 1);
    const QString a = QDir::toNativeSeparators(source_ + QStringLiteral("/a.csv"));
    const QString b = QDir::toNativeSeparators(source_ + QStringLiteral("/b.csv"));
    const QStringList lines = QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(3), (QStringList{a, b, QDir::toNativeSeparators(list), StatusTexts::summary(1)}));
    QFile written(list);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()), b + QLatin1Char('\n'));
    const QString problems = roundTripProblems(source_ + QStringLiteral("/a.csv"), output_ + QStringLiteral("/a.xlsx"),
                                               {QStringLiteral("--delimiter"), QStringLiteral(";"),
                                                QStringLiteral("--text-columns"), QStringLiteral("1")});
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestConvertCli::parsesSettingsOptions()
{
    const ConvertCommand command = parseConvertCommand(
        {source_, QStringLiteral("--out"), output_, QStringLiteral("--by-settings"), QStringLiteral("--delimiter"),
         QStringLiteral("space"), QStringLiteral("--merge-delimiters"), QStringLiteral("--text-columns"),
         QStringLiteral("2,3"), QStringLiteral("--cell-by-cell"), QStringLiteral("--encoding"), QStringLiteral("utf16")});
    QCOMPARE(command.error, QString());
    QVERIFY(command.bySettings);
    const ConversionOptions& o = command.options;
    QCOMPARE(o.vbaOpenFunFomatArg, 4);
    QVERIFY(o.ConsecutiveDelimiter && o.SetTextFormat && o.OtherLanguage && o.UCS2 && !o.UTF8BOM);
    QCOMPARE(o.TextFormatColumns, QStringLiteral("2,3"));
    QCOMPARE(o.FailListPath, QDir::toNativeSeparators(source_) + QStringLiteral("/无法转换的文件目录.txt"));

    const ConvertCommand defaults = parseConvertCommand({source_, QStringLiteral("--out"), output_, QStringLiteral("--by-settings")});
    QCOMPARE(defaults.options.vbaOpenFunFomatArg, 1); // tab, as in the window
    QVERIFY(!defaults.options.SetTextFormat && !defaults.options.UCS2 && !defaults.options.UTF8BOM);
}
void TestConvertCli::progressText_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("text");

    const QString path = QStringLiteral("/data/2021/a.csv");
    QTest::newRow("file just started") << QString() << qint64(0) << qint64(0) << 80 << "[3/200] opening  " + path;
    QTest::newRow("rows read, total not known") << "reading" << qint64(1234567) << qint64(0) << 80
                                                << "[3/200] reading 1,234,567 rows  " + path;
    QTest::newRow("rows written of all") << "writing" << qint64(450) << qint64(1000) << 80
                                         << "[3/200] writing 45%  " + path;
    QTest::newRow("path cut at its start") << "writing" << qint64(1) << qint64(1) << 32
                                           << "[3/200] writing 100%  .../a.csv";
    QTest::newRow("no room for the path") << "writing" << qint64(1) << qint64(2) << 20 << "[3/200] writing 50%";
}

void TestConvertCli::progressText()
{
    QFETCH(QString, stage);
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(int, columns);
    QFETCH(QString, text);

    QCOMPARE(::progressText(3, 200, QStringLiteral("/data/2021/a.csv"), stage, done, total, columns), text);
    QVERIFY(text.size() < columns);
}

// --progress draws its line on a terminal only, and standard output stays what it is without it.
void TestConvertCli::showsProgressOnATerminalOnly()
{
    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
        QSKIP("no script(1) to give the program a terminal");
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    writeFile(source_ + QStringLiteral("/b/big.csv"), largeCsv(300000));
    const Result plain = runConverter({source_, QStringLiteral("--out"), output_});
    QCOMPARE(plain.exitCode, 0);

    const Result piped = runConverter({source_, QStringLiteral("--out"), output_, QStringLiteral("--progress")});
    QCOMPARE(piped.exitCode, 0);
    QCOMPARE(piped.out, plain.out);
    QCOMPARE(piped.err, QByteArray());

    // Standard error on a terminal (script's), standard output into a file.
    const QString stdoutFile = temporary_->filePath(QStringLiteral("stdout.txt"));
    const QString command = QStringLiteral("'%1' '%2' --out '%3' --progress > '%4'")
                                .arg(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), source_, output_, stdoutFile);
    QProcess terminal;
    terminal.start(QStringLiteral("script"), {QStringLiteral("-qfec"), command, QStringLiteral("/dev/null")});
    QVERIFY(terminal.waitForFinished(kTimeout));
    QCOMPARE(terminal.exitCode(), 0);
    QCOMPARE(readFile(stdoutFile), plain.out);
    const QByteArray drawn = terminal.readAllStandardOutput();
    QVERIFY2(drawn.contains("[1/2] opening  "), drawn.constData());
    QVERIFY2(drawn.contains("[2/2] writing "), drawn.constData());
}


// The embedded spreadsheet converts whenever asked; the installed one is asked for on a machine that has
// none (this one, and the tests' own Wine prefix): nothing is converted, and the exit status says so.
void TestConvertCli::engineChoice_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("statuses");
    const QString file = QStringLiteral("SOURCE_FILE");
    QTest::newRow("embedded") << "embedded" << 0
                              << QStringList{StatusTexts::applicationCreated(), StatusTexts::spreadsheetInUse(false),
                                             StatusTexts::workbooksObtained(), file, StatusTexts::summary(1)};
    QTest::newRow("installed, none there")
        << "installed" << 1
        << QStringList{StatusTexts::applicationCreated(), StatusTexts::workbooksObtained(),
                       StatusTexts::noSpreadsheetApplication()};
}

void TestConvertCli::engineChoice()
{
    QFETCH(QString, engine);
    QFETCH(int, exitCode);
    QFETCH(QStringList, statuses);
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);

    const Result result = runConverter({source_, QStringLiteral("--out"), output_, QStringLiteral("--engine"), engine});

    QCOMPARE(result.exitCode, exitCode);
    statuses.replaceInStrings(QStringLiteral("SOURCE_FILE"), QDir::toNativeSeparators(source_ + QStringLiteral("/a.csv")));
    QCOMPARE(QString::fromUtf8(result.out), statuses.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QCOMPARE(QFileInfo::exists(output_ + QStringLiteral("/a.xlsx")), exitCode == 0);
}

QTEST_GUILESS_MAIN(TestConvertCli)
#include "tst_convertcli.moc"
