// The conversion worker running real batches on a thread of its own, as the window and the command
// line run it: the status texts it shows, the files it picks, the workbooks it writes and what it does
// when a file cannot be read or saved.

#include "automation/AutomationServers.h"
#include "convert/MergeObject.h"
#include "convert/StatusTexts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kBatchTimeout = 60000;

const QByteArray kSmallCsv = "name,amount\r\nalpha,1\r\nbeta,2.5\r\n";

QString fixture(const QString& name)
{
    return QStringLiteral(QUILLMARK_TEST_DATA_DIR "/csv/") + name;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void copyFixture(const QString& name, const QString& destination)
{
    const QByteArray bytes = readFile(fixture(name));
    QVERIFY2(!bytes.isEmpty() || QFileInfo(fixture(name)).size() == 0, qPrintable(fixture(name)));
    writeFile(destination, bytes);
}

// Creates the entries of a source tree: "sub/a.csv" is a small file, "link->target" a symbolic link.
void createTree(const QString& root, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const int arrow = entry.indexOf(QLatin1String("->"));
        if (arrow < 0) {
            writeFile(root + QLatin1Char('/') + entry, kSmallCsv);
        } else {
            const QString link = root + QLatin1Char('/') + entry.left(arrow);
            QVERIFY(QFile::link(entry.mid(arrow + 2), link));
        }
    }
}

// Every entry below a folder (hidden ones too, links not followed), relative and sorted.
QStringList treeOf(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

QString workbookFor(const QString& csvRelativePath)
{
    return csvRelativePath.left(csvRelativePath.size() - 4) + QStringLiteral(".xlsx");
}

// Checks a workbook against its source with the independent reader; empty when every cell matches.
QString roundTripProblems(const QString& source, const QString& workbook)
{
    QProcess checker;
    checker.setProcessChannelMode(QProcess::MergedChannels);
    checker.start(QStringLiteral(QUILLMARK_PYTHON),
                  {QStringLiteral(QUILLMARK_TEST_TOOLS_DIR "/xlsx_roundtrip.py"), source, workbook});
    if (!checker.waitForFinished(kBatchTimeout))
        return QStringLiteral("the checker did not finish");
    if (checker.exitStatus() == QProcess::NormalExit && checker.exitCode() == 0)
        return QString();
    return source + QStringLiteral(": ") + QString::fromUtf8(checker.readAll());
}

#define VERIFY_ROUND_TRIP(source, workbook)                                                                  \
    do {                                                                                                     \
        const QString problems = roundTripProblems(source, workbook);                                         \
        QVERIFY2(problems.isEmpty(), qPrintable(problems));                                                  \
    } while (false)

QStringList framed(const QStringList& files, int converted)
{
    return QStringList{StatusTexts::applicationCreated(), StatusTexts::workbooksObtained()} + files +
           QStringList{StatusTexts::summary(converted)};
}

QStringList nativeUnder(const QString& root, const QStringList& relativePaths)
{
    QStringList paths;
    for (const QString& relative : relativePaths)
        paths << QDir::toNativeSeparators(root + QLatin1Char('/') + relative);
    return paths;
}

} // namespace

// Takes the worker's signals on the test thread. The worker emits on its own thread, so the connections
// to this object are queued, as they are to the window.
class SignalRelay : public QObject
{
    Q_OBJECT

signals:
    void status(const QString& text);
    void finished();
};

// One worker on a thread of its own, for as many batches as a test runs.
class Worker
{
public:
    Worker() : worker_(new MergeObject(QStringLiteral("tem"))), statuses_(&relay_, &SignalRelay::status),
               ends_(&relay_, &SignalRelay::finished)
    {
        worker_->moveToThread(&thread_);
        QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
        QObject::connect(worker_, &MergeObject::ShowDisposingFile, &relay_, &SignalRelay::status);
        QObject::connect(worker_, &MergeObject::Signal_SetButtonEnable, &relay_, &SignalRelay::finished);
        thread_.start();
    }
    ~Worker()
    {
        thread_.quit();
        // A batch that never ends has already failed the test; do not hang on it as well.
        if (!thread_.wait(kBatchTimeout))
            qFatal("the worker's thread did not finish");
    }

    // Runs one batch and waits for its end signal, then until the worker's slot has returned and every
    // signal it emitted has arrived here.
    void run(const ConversionOptions& options)
    {
        statuses_.clear();
        ends_.clear();
        g_ConversionOptions = options;
        QMetaObject::invokeMethod(worker_, &MergeObject::AutoTransform, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(ends_.count() > 0, kBatchTimeout);
        QMetaObject::invokeMethod(worker_, [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
    }

    QStringList statuses() const
    {
        QStringList texts;
        for (const QList<QVariant>& arguments : statuses_)
            texts << arguments.value(0).toString();
        return texts;
    }
    int endSignals() const { return ends_.count(); }
    void requestInterruption() { thread_.requestInterruption(); }
    // Safe to read between batches: run() has synchronised with the idle worker.
    const BatchReport& report() const { return worker_->report(); }

private:
    QThread thread_;
    MergeObject* worker_;
    SignalRelay relay_;
    QSignalSpy statuses_;
    QSignalSpy ends_;
};

#define RUN_BATCH(worker, options)                                                                          \
    do {                                                                                                     \
        (worker).run(options);                                                                               \
        if (QTest::currentTestFailed())                                                                      \
            return;                                                                                          \
    } while (false)

class TestMergeObject : public QObject
{
    Q_OBJECT

private slots:
    void interruptedBatchStopsBeforeTheNextFile()
    {
        // The window asks a running batch to stop when the program ends: no further file, no summary,
        // and the end signal all the same.
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("src/a.csv")), kSmallCsv);
        Worker worker;
        worker.requestInterruption();
        ConversionOptions options;
        options.SourcePath = dir.filePath(QStringLiteral("src"));
        options.SavePath = dir.filePath(QStringLiteral("out"));
        worker.run(options);
        QCOMPARE(worker.statuses(), (QStringList{StatusTexts::applicationCreated(), StatusTexts::workbooksObtained()}));
        QCOMPARE(worker.endSignals(), 1);
        QVERIFY(!worker.report().finished);
    }
    void init() { AutomationServers::restoreDefaults(); }
    void cleanup() { AutomationServers::restoreDefaults(); }

    void picksFilesInOrder_data();
    void picksFilesInOrder();
    void statusSequence_data();
    void statusSequence();
    void batchesInARowOnTwoWorkers();
    void awkwardContentIsConverted();
    void unreadableFileIsNotCounted();
    void unsavableWorkbookIsNotCounted_data();
    void unsavableWorkbookIsNotCounted();
    void tooLongFieldAndExistingWorkbooks();

private:
    bool makeFolders();
    ConversionOptions options() const;

    QScopedPointer<QTemporaryDir> temporary_;
    QString source_, output_;
};

bool TestMergeObject::makeFolders()
{
    temporary_.reset(new QTemporaryDir);
    if (!temporary_->isValid())
        return false;
    source_ = temporary_->path() + QStringLiteral("/source");
    output_ = temporary_->path() + QStringLiteral("/output");
    return QDir().mkpath(source_) && QDir().mkpath(output_);
}

ConversionOptions TestMergeObject::options() const
{
    ConversionOptions options;
    options.SourcePath = QDir::toNativeSeparators(source_);
    options.SavePath = QDir::toNativeSeparators(output_);
    return options;
}

void TestMergeObject::picksFilesInOrder_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("own files before subfolders") << QStringList{"A/z.csv", "b.csv"} << QStringList{"b.csv", "A/z.csv"};
    QTest::newRow("subfolders by name ignoring case")
        << QStringList{"B/y.csv", "a/x.csv"} << QStringList{"a/x.csv", "B/y.csv"};
    QTest::newRow("files by name ignoring case")
        << QStringList{"b.csv", "C.csv", "a.csv"} << QStringList{"a.csv", "b.csv", "C.csv"};
    QTest::newRow("each subfolder whole before the next")
        << QStringList{"c/e.csv", "a/b/c.csv", "a/d.csv", "b.csv"}
        << QStringList{"b.csv", "a/d.csv", "a/b/c.csv", "c/e.csv"};
    QTest::newRow("hidden file converted") << QStringList{"a.csv", ".hidden.csv"} << QStringList{".hidden.csv", "a.csv"};
    QTest::newRow("hidden folder skipped") << QStringList{".cache/x.csv", "a.csv"} << QStringList{"a.csv"};
    QTest::newRow("link to a file skipped") << QStringList{"a.csv", "link.csv->a.csv"} << QStringList{"a.csv"};
    // Links back to the folder itself or to a parent would repeat the tree without end.
    QTest::newRow("links back into the tree not walked again")
        << QStringList{"a.csv", "sub/b.csv", "sub/up->..", "loop->."} << QStringList{"a.csv", "sub/b.csv"};
    QTest::newRow("extension in any case, nothing else")
        << QStringList{"DATA.CSV", "a.Csv", "a.csv.bak", "a.txt", "csv", "x.csv/inner.txt"}
        << QStringList{"a.Csv", "DATA.CSV"};
    QTest::newRow("dots in the name") << QStringList{"report.2021.csv"} << QStringList{"report.2021.csv"};
}

void TestMergeObject::picksFilesInOrder()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    QVERIFY(makeFolders());
    createTree(source_, entries);
    if (QTest::currentTestFailed())
        return;

    Worker worker;
    RUN_BATCH(worker, options());

    QCOMPARE(worker.statuses(), framed(nativeUnder(source_, expected), expected.size()));
    QCOMPARE(worker.endSignals(), 1);
    QCOMPARE(worker.report().csvFiles, expected.size());
    QCOMPARE(worker.report().converted, expected.size());
    QCOMPARE(worker.report().failures, QStringList());
    QVERIFY(worker.report().finished);

    // The output mirrors the source tree: one workbook per picked file, and nothing else.
    QStringList workbooks;
    for (const QString& file : expected)
        workbooks << workbookFor(file);
    QStringList written = treeOf(output_).filter(QStringLiteral(".xlsx"));
    workbooks.sort();
    QCOMPARE(written, workbooks);
}

void TestMergeObject::statusSequence_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("applicationRegistered");
    QTest::addColumn<QStringList>("expected");

    const QStringList opened{StatusTexts::applicationCreated(), StatusTexts::workbooksObtained()};
    QTest::newRow("empty folder") << QStringList() << true << opened + QStringList{StatusTexts::summary(0)};
    QTest::newRow("no csv files") << QStringList{"notes.txt", "sub/old.csv.bak"} << true
                                  << opened + QStringList{StatusTexts::summary(0)};
    QTest::newRow("no spreadsheet application")
        << QStringList{"a.csv", "sub/b.csv"} << false << opened + QStringList{StatusTexts::noSpreadsheetApplication()};
}

void TestMergeObject::statusSequence()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, applicationRegistered);
    QFETCH(QStringList, expected);
    QVERIFY(makeFolders());
    createTree(source_, entries);
    if (!applicationRegistered)
        AutomationServers::unregisterServer(QStringLiteral("Excel.Application"));

    Worker worker;
    RUN_BATCH(worker, options());

    QCOMPARE(worker.statuses(), expected);
    QCOMPARE(worker.endSignals(), 1);
    QCOMPARE(worker.report().converted, 0);
    QCOMPARE(worker.report().finished, applicationRegistered);
    QCOMPARE(treeOf(output_), QStringList());
}

void TestMergeObject::batchesInARowOnTwoWorkers()
{
    QVERIFY(makeFolders());
    const QString second = temporary_->path() + QStringLiteral("/second");
    createTree(source_, {"a.csv"});
    createTree(second, {"b.csv", "c.csv"});
    ConversionOptions secondOptions = options();
    secondOptions.SourcePath = QDir::toNativeSeparators(second);

    Worker one, two;
    RUN_BATCH(one, options());
    QCOMPARE(one.statuses(), framed(nativeUnder(source_, {"a.csv"}), 1));
    QCOMPARE(one.endSignals(), 1);

    RUN_BATCH(two, secondOptions);
    QCOMPARE(two.statuses(), framed(nativeUnder(second, {"b.csv", "c.csv"}), 2));
    QCOMPARE(two.endSignals(), 1);
    QCOMPARE(one.endSignals(), 1); // the first worker stayed quiet

    // The first worker again: its report covers the new batch only.
    RUN_BATCH(one, secondOptions);
    QCOMPARE(one.endSignals(), 1);
    QCOMPARE(one.report().csvFiles, 2);
    QCOMPARE(one.report().converted, 2);
    QCOMPARE(treeOf(output_), (QStringList{"a.xlsx", "b.xlsx", "c.xlsx"}));
}

void TestMergeObject::awkwardContentIsConverted()
{
    QVERIFY(makeFolders());
    const QStringList names{"binary_garbage.csv", "empty.csv", "nul_bytes.csv", "unterminated_quote.csv",
                            "utf8_plain.csv"};
    for (const QString& name : names)
        copyFixture(name, source_ + QLatin1Char('/') + name);
    if (QTest::currentTestFailed())
        return;

    Worker worker;
    RUN_BATCH(worker, options());

    QCOMPARE(worker.statuses(), framed(nativeUnder(source_, names), names.size()));
    QCOMPARE(worker.report().failures, QStringList());
    QCOMPARE(worker.report().converted, names.size());
    for (const QString& name : names) {
        QVERIFY2(QFileInfo(output_ + QLatin1Char('/') + workbookFor(name)).isFile(), qPrintable(name));
        if (name != QLatin1String("binary_garbage.csv")) // its cells are not defined, only its survival
            VERIFY_ROUND_TRIP(fixture(name), output_ + QLatin1Char('/') + workbookFor(name));
    }
}

void TestMergeObject::unreadableFileIsNotCounted()
{
    // A file the worker lists but cannot open. Permissions do not stop root, so the file is made
    // unreachable by its path instead: it lies in a folder whose own path still fits the system's path
    // limit (so the folder can be listed), while the file's full path does not, and every open of it
    // fails with ENAMETOOLONG whoever runs the test.
    QVERIFY(makeFolders());
    createTree(source_, {"a.csv", "e/z.csv"});
    const long pathMax = pathconf("/", _PC_PATH_MAX) > 0 ? pathconf("/", _PC_PATH_MAX) : 4096;
    QString deep = source_;
    while (deep.size() < pathMax - 220)
        deep += QLatin1Char('/') + QString(200, QLatin1Char('d'));
    QVERIFY(deep.size() < pathMax);
    QVERIFY(QDir().mkpath(deep));
    const QString longName = QString(240, QLatin1Char('f')) + QStringLiteral(".csv");
    QVERIFY(deep.size() + 1 + longName.size() >= pathMax);

    const int folder = ::open(QFile::encodeName(deep).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(folder >= 0);
    const int file = ::openat(folder, QFile::encodeName(longName).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    QVERIFY(file >= 0);
    QCOMPARE(::write(file, kSmallCsv.constData(), kSmallCsv.size()), ssize_t(kSmallCsv.size()));
    ::close(file);
    // The temporary folder cannot remove a path that long: remove the file the same way it was made.
    struct Remover
    {
        int folder;
        QByteArray name;
        ~Remover()
        {
            ::unlinkat(folder, name.constData(), 0);
            ::close(folder);
        }
    } remover{folder, QFile::encodeName(longName)};

    Worker worker;
    RUN_BATCH(worker, options());

    const QString unreadable = QDir::toNativeSeparators(deep + QLatin1Char('/') + longName);
    QCOMPARE(worker.statuses(),
             framed(QStringList{nativeUnder(source_, {"a.csv"}).value(0), unreadable,
                                nativeUnder(source_, {"e/z.csv"}).value(0)},
                    2));
    QCOMPARE(worker.endSignals(), 1);
    QCOMPARE(worker.report().csvFiles, 3);
    QCOMPARE(worker.report().converted, 2);
    QCOMPARE(worker.report().failures.size(), 1);
    QVERIFY(worker.report().failures.value(0).startsWith(unreadable + QStringLiteral(": ")));
    QCOMPARE(treeOf(output_), (QStringList{"a.xlsx", "e", "e/z.xlsx"}));
}

void TestMergeObject::unsavableWorkbookIsNotCounted_data()
{
    // Something already in the output folder is in the way of one workbook: the save fails for root as
    // for anyone, and whatever was in the way stays as it was.
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<bool>("blockerIsFolder");
    QTest::addColumn<QStringList>("expectedTree");

    // No folder can be made where a file is.
    QTest::newRow("output subfolder taken by a file")
        << "sub" << false << QStringList{"a.xlsx", "sub", "z.xlsx"};
    // The workbook is written beside its name first and cannot be moved onto a folder.
    QTest::newRow("workbook name taken by a folder")
        << "sub/b.xlsx" << true << QStringList{"a.xlsx", "sub", "sub/b.xlsx", "z.xlsx"};
}

void TestMergeObject::unsavableWorkbookIsNotCounted()
{
    QFETCH(QString, blocker);
    QFETCH(bool, blockerIsFolder);
    QFETCH(QStringList, expectedTree);
    QVERIFY(makeFolders());
    createTree(source_, {"a.csv", "sub/b.csv", "z.csv"});
    const QString blockerPath = output_ + QLatin1Char('/') + blocker;
    if (blockerIsFolder)
        QVERIFY(QDir().mkpath(blockerPath));
    else
        writeFile(blockerPath, "in the way");
    if (QTest::currentTestFailed())
        return;

    Worker worker;
    RUN_BATCH(worker, options());

    QCOMPARE(worker.statuses(), framed(nativeUnder(source_, {"a.csv", "z.csv", "sub/b.csv"}), 2));
    QCOMPARE(worker.report().converted, 2);
    QCOMPARE(worker.report().failures.size(), 1);
    QVERIFY2(worker.report().failures.value(0).startsWith(
                 QDir::toNativeSeparators(source_ + QStringLiteral("/sub/b.csv: "))),
             qPrintable(worker.report().failures.value(0)));
    // Nothing else is left behind, temporary files included.
    QCOMPARE(treeOf(output_), expectedTree);
    if (blockerIsFolder)
        QCOMPARE(QDir(blockerPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    else
        QCOMPARE(readFile(blockerPath), QByteArray("in the way"));
    VERIFY_ROUND_TRIP(source_ + QStringLiteral("/z.csv"), output_ + QStringLiteral("/z.xlsx"));
}

void TestMergeObject::tooLongFieldAndExistingWorkbooks()
{
    // A field past a cell's limit fails that one file and the batch goes on. A workbook of the same name
    // already in the output folder is replaced by a good conversion and kept, byte for byte, when the new
    // one cannot be saved.
    QVERIFY(makeFolders());
    copyFixture(QStringLiteral("utf8_plain.csv"), source_ + QStringLiteral("/a.csv"));
    copyFixture(QStringLiteral("long_field.csv"), source_ + QStringLiteral("/long_field.csv"));
    copyFixture(QStringLiteral("quoted_fields.csv"), source_ + QStringLiteral("/z.csv"));
    const QByteArray previous = "PK\x03\x04 an earlier workbook";
    writeFile(output_ + QStringLiteral("/a.xlsx"), "stale");
    writeFile(output_ + QStringLiteral("/long_field.xlsx"), previous);
    if (QTest::currentTestFailed())
        return;

    Worker worker;
    RUN_BATCH(worker, options());

    QCOMPARE(worker.statuses(), framed(nativeUnder(source_, {"a.csv", "long_field.csv", "z.csv"}), 2));
    QCOMPARE(worker.report().csvFiles, 3);
    QCOMPARE(worker.report().converted, 2);
    QCOMPARE(worker.report().failures.size(), 1);
    QVERIFY2(worker.report().failures.value(0).startsWith(
                 QDir::toNativeSeparators(source_ + QStringLiteral("/long_field.csv: "))),
             qPrintable(worker.report().failures.value(0)));
    QCOMPARE(treeOf(output_), (QStringList{"a.xlsx", "long_field.xlsx", "z.xlsx"}));
    QCOMPARE(readFile(output_ + QStringLiteral("/long_field.xlsx")), previous);
    VERIFY_ROUND_TRIP(fixture("utf8_plain.csv"), output_ + QStringLiteral("/a.xlsx"));
    VERIFY_ROUND_TRIP(fixture("quoted_fields.csv"), output_ + QStringLiteral("/z.xlsx"));
}

QTEST_GUILESS_MAIN(TestMergeObject)
#include "tst_mergeobject.moc"
