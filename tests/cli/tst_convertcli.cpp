// quillmark-convert as scripts run it: exit codes, the status lines on stdout, failures on stderr, and
// the reading of its command line.

#include "cli/ConvertCommand.h"
#include "convert/StatusTexts.h"
#include "tests/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

constexpr int kTimeout = 60000;

const QByteArray kSmallCsv = "name,amount\r\n张三,1\r\nbeta,2.5\r\n";

struct Result
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Result runConverter(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), arguments);
    Result result;
    if (!process.waitForFinished(kTimeout) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Files below a folder with the given ending, relative and sorted.
QStringList filesEndingWith(const QString& root, const QString& ending)
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

QString roundTripProblems(const QString& source, const QString& workbook, const QStringList& checkerOptions = {})
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

class TestConvertCli : public QObject
{
    Q_OBJECT

private slots:
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
    void stopsOnTerminationSignals_data();
    void stopsOnTerminationSignals();

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
    // "SRC" and "OUT" stand for the test's source and output folders.
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("no destination") << QStringList{"SRC"};
    QTest::newRow("both destinations") << QStringList{"SRC", "--out", "OUT", "--next-to-source"};
    QTest::newRow("bad format") << QStringList{"SRC", "--out", "OUT", "--format", "csv"};
    QTest::newRow("format without value") << QStringList{"SRC", "--out", "OUT", "--format"};
    QTest::newRow("missing source folder") << QStringList{"SRC/missing", "--out", "OUT"};
    QTest::newRow("source is a file") << QStringList{"SRC/a.csv", "--out", "OUT"};
    QTest::newRow("two source folders") << QStringList{"SRC", "SRC", "--out", "OUT"};
    QTest::newRow("unknown option") << QStringList{"SRC", "--out", "OUT", "--recursive"};
    QTest::newRow("settings option without --by-settings") << QStringList{"SRC", "--out", "OUT", "--merge-delimiters"};
    QTest::newRow("bad delimiter") << QStringList{"SRC", "--out", "OUT", "--by-settings", "--delimiter", "pipe"};
    QTest::newRow("bad encoding") << QStringList{"SRC", "--out", "OUT", "--by-settings", "--encoding", "gbk"};
}

void TestConvertCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    arguments.replaceInStrings(QStringLiteral("SRC"), source_).replaceInStrings(QStringLiteral("OUT"), output_);

    const Result result = runConverter(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains("usage: quillmark-convert"), result.err.constData());
    QCOMPARE(result.out, QByteArray());
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
    QCOMPARE(lines.mid(2), (QStringList{QDir::toNativeSeparators(source_ + QStringLiteral("/a.csv")), longField,
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
    QCOMPARE(lines.mid(2), (QStringList{a, b, QDir::toNativeSeparators(list), StatusTexts::summary(1)}));
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


void TestConvertCli::stopsOnTerminationSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("Ctrl+C") << int(SIGINT) << 130;
    QTest::newRow("termination signal") << int(SIGTERM) << 143;
}

// Ctrl+C or a termination signal in the middle of a file of a million rows: the workbook written before
// stays, the file in hand leaves no temporary file and no workbook, and the exit status names the signal.
void TestConvertCli::stopsOnTerminationSignals()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    writeFile(source_ + QStringLiteral("/b.csv"), largeCsv(1000000));
    QProcess process;
    process.start(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), {source_, QStringLiteral("--out"), output_});
    QVERIFY(process.waitForStarted(kTimeout));
    const QString large = output_ + QStringLiteral("/b.xlsx");
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(output_ + QStringLiteral("/a.xlsx")); }, kTimeout));
    QVERIFY2(waitForTemporaryFile(output_, [&] { return QFile::exists(large); }),
             "the large file's save completed before it could be stopped");
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(kTimeout));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit); // it ended itself, cleanly
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(filesEndingWith(output_, QString()), QStringList{QStringLiteral("a.xlsx")});
    QCOMPARE(roundTripProblems(source_ + QStringLiteral("/a.csv"), output_ + QStringLiteral("/a.xlsx")), QString());
}

QTEST_GUILESS_MAIN(TestConvertCli)
#include "tst_convertcli.moc"
