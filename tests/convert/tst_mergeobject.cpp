// The conversion worker running automatic batches on its own thread: the files it picks, the status
// texts and end signal it sends, and files that cannot be read or saved.

#include "BatchWorker.h"
#include "HookedDispatch.h"

#include "convert/StatusTexts.h"

#include <QTemporaryDir>

namespace {

const QByteArray kSmallCsv = "name,amount\r\nalpha,1\r\nbeta,2.5\r\n";

// Creates the entries of a source tree: "sub/a.csv" is a small file, "link->target" a symbolic link.
void createTree(const QString& root, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const int arrow = entry.indexOf(QLatin1String("->"));
        if (arrow < 0)
            writeFile(root + QLatin1Char('/') + entry, kSmallCsv);
        else
            QVERIFY(QFile::link(entry.mid(arrow + 2), root + QLatin1Char('/') + entry.left(arrow)));
    }
}

// The status texts of a whole batch: the opening texts, each file below `root`, the summary.
QStringList framed(const QString& root, const QStringList& files, int converted)
{
    QStringList texts{StatusTexts::applicationCreated(), StatusTexts::spreadsheetInUse(false),
                      StatusTexts::workbooksObtained()};
    for (const QString& file : files)
        texts << QDir::toNativeSeparators(root + QLatin1Char('/') + file);
    return texts << StatusTexts::summary(converted);
}

} // namespace

class TestMergeObject : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> temporary_;
    QString source_, output_;

    ConversionOptions options() const
    {
        ConversionOptions options;
        options.SourcePath = QDir::toNativeSeparators(source_);
        options.SavePath = QDir::toNativeSeparators(output_);
        return options;
    }

  private slots:
    void init()
    {
        temporary_.reset(new QTemporaryDir);
        source_ = temporary_->filePath(QStringLiteral("source"));
        output_ = temporary_->filePath(QStringLiteral("output"));
        QVERIFY(QDir().mkpath(source_) && QDir().mkpath(output_));
    }
    void cleanup() { AutomationServers::restoreDefaults(); }

    // Which files a batch converts, in which order; the output mirrors the source tree, nothing more.
    void picksFilesInOrder_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("expected");
        using L = QStringList;
        QTest::newRow("empty folder") << L() << L();
        QTest::newRow("no csv files") << L{"notes.txt", "sub/old.csv.bak"} << L();
        QTest::newRow("own files before subfolders") << L{"A/z.csv", "b.csv"} << L{"b.csv", "A/z.csv"};
        QTest::newRow("subfolders ignoring case") << L{"B/y.csv", "a/x.csv"} << L{"a/x.csv", "B/y.csv"};
        QTest::newRow("files ignoring case") << L{"b.csv", "C.csv", "a.csv"} << L{"a.csv", "b.csv", "C.csv"};
        QTest::newRow("each subfolder whole before the next")
            << L{"c/e.csv", "a/b/c.csv", "a/d.csv", "b.csv"} << L{"b.csv", "a/d.csv", "a/b/c.csv", "c/e.csv"};
        QTest::newRow("hidden file converted") << L{"a.csv", ".hidden.csv"} << L{".hidden.csv", "a.csv"};
        QTest::newRow("hidden folder skipped") << L{".cache/x.csv", "a.csv"} << L{"a.csv"};
#ifndef _WIN32 // a link made there is a shortcut file, named .lnk, which no .csv filter takes
        QTest::newRow("link to a file skipped") << L{"a.csv", "link.csv->a.csv"} << L{"a.csv"};
        // Links back to the folder itself or to a parent would repeat the tree without end.
        QTest::newRow("links back into the tree not walked again")
            << L{"a.csv", "sub/b.csv", "sub/up->..", "loop->."} << L{"a.csv", "sub/b.csv"};
#endif
        QTest::newRow("extension in any case, nothing else")
            << L{"DATA.CSV", "a.Csv", "a.csv.bak", "csv", "x.csv/inner.txt"} << L{"a.Csv", "DATA.CSV"};
    }
    void picksFilesInOrder()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, expected);
        createTree(source_, entries);
        QStringList tree; // each workbook and the folders above it
        for (const QString& file : expected) {
            const QString workbook = file.left(file.size() - 4) + QStringLiteral(".xlsx");
            for (int slash = workbook.indexOf('/'); slash >= 0; slash = workbook.indexOf('/', slash + 1))
                tree << workbook.left(slash);
            tree << workbook;
        }
        tree.removeDuplicates();
        tree.sort();

        BatchWorker worker;
        QVERIFY(worker.run(options()));
        QCOMPARE(worker.statuses, framed(source_, expected, expected.size()));
        QCOMPARE(worker.endSignals, 1);
        QCOMPARE(worker.report().csvFiles, expected.size());
        QCOMPARE(worker.report().converted, expected.size());
        QCOMPARE(worker.report().failures, QStringList());
        QVERIFY(worker.report().finished);
        QCOMPARE(treeOf(output_), tree);
    }

    // A batch interrupted before its first file (the window closing) or without a spreadsheet application
    // converts nothing and shows no summary, and still sends its one end signal.
    void endsEarly_data()
    {
        QTest::addColumn<bool>("interrupted");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("interrupted") << true
                                     << QStringList{StatusTexts::applicationCreated(),
                                                    StatusTexts::spreadsheetInUse(false),
                                                    StatusTexts::workbooksObtained()};
        QTest::newRow("no spreadsheet application")
            << false
            << QStringList{StatusTexts::applicationCreated(), StatusTexts::workbooksObtained(),
                           StatusTexts::noSpreadsheetApplication()};
    }
    void endsEarly()
    {
        QFETCH(bool, interrupted);
        QFETCH(QStringList, expected);
        createTree(source_, {"a.csv", "sub/b.csv"});
        if (!interrupted)
            AutomationServers::unregisterServer(QStringLiteral("Excel.Application"));

        BatchWorker worker;
        if (interrupted)
            worker.requestInterruption();
        QVERIFY(worker.run(options()));
        QCOMPARE(worker.statuses, expected);
        QCOMPARE(worker.endSignals, 1);
        QVERIFY(!worker.report().finished);
        QCOMPARE(treeOf(output_), QStringList());
    }

    // Asked to stop half way through a file of a million rows (the window closing), the batch stops in
    // the middle of that file, leaving neither a temporary file nor a workbook of it, and ends as a stopped
    // batch; the workbook saved before it stays. The stop is asked for once the file's temporary file
    // exists, so it must take effect before that file's save, or its import, completes.
    void stopsInTheMiddleOfALargeFile_data()
    {
        QTest::addColumn<bool>("bySettings");
        QTest::addColumn<bool>("xlsx");
        QTest::newRow("automatic, xlsx, during the save") << false << true;
        QTest::newRow("automatic, xls, during the save") << false << false;
        QTest::newRow("by settings, during the import") << true << true;
    }
    void stopsInTheMiddleOfALargeFile()
    {
        QFETCH(bool, bySettings);
        QFETCH(bool, xlsx);
        // The .xls format holds 65,536 rows a sheet: the million rows go on to further sheets.
        writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
        writeFile(source_ + QStringLiteral("/b.csv"), largeCsv(1000000));
        ConversionOptions stopped = options();
        stopped.xlsxMode = xlsx;
        stopped.vbaOpenFunFomatArg = 3; // comma, for the conversion by settings
        const QString extension = xlsx ? QStringLiteral(".xlsx") : QStringLiteral(".xls");

        BatchWorker worker;
        worker.start(stopped, bySettings ? &MergeObject::Transform : &MergeObject::AutoTransform);
        const QString large = output_ + QStringLiteral("/b") + extension;
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(output_ + QStringLiteral("/a") + extension); },
                                kBatchTimeout));
        QVERIFY2(waitForTemporaryFile(output_, [&] { return QFile::exists(large); }),
                 "the large file's save completed before it could be stopped");
        worker.requestInterruption();
        QVERIFY(worker.waitForEnd());

        QCOMPARE(worker.endSignals, 1);
        QCOMPARE(treeOf(output_), QStringList{QStringLiteral("a") + extension});
        QCOMPARE(worker.report().converted, 1);
        QCOMPARE(worker.report().failures, QStringList());
        QVERIFY(!worker.report().finished);
        QVERIFY(!worker.statuses.contains(StatusTexts::summary(1)));
        QCOMPARE(treeOf(source_), (QStringList{"a.csv", "b.csv"})); // and no failure list
    }

    // Each worker sends one end signal per batch of its own, and its report covers its latest batch only.
    void batchesInARowOnTwoWorkers()
    {
        const QString second = temporary_->filePath(QStringLiteral("second"));
        createTree(source_, {"a.csv"});
        createTree(second, {"b.csv", "c.csv"});
        ConversionOptions secondOptions = options();
        secondOptions.SourcePath = QDir::toNativeSeparators(second);

        BatchWorker one, two;
        QVERIFY(one.run(options()));
        QCOMPARE(one.statuses, framed(source_, {"a.csv"}, 1));
        QVERIFY(two.run(secondOptions));
        QCOMPARE(two.statuses, framed(second, {"b.csv", "c.csv"}, 2));
        QCOMPARE(two.endSignals, 1);
        QCOMPARE(one.endSignals, 1); // the first worker stayed quiet

        QVERIFY(one.run(secondOptions));
        QCOMPARE(one.endSignals, 1);
        QCOMPARE(one.report().csvFiles, 2);
        QCOMPARE(one.report().converted, 2);
        QCOMPARE(treeOf(output_), (QStringList{"a.xlsx", "b.xlsx", "c.xlsx"}));
    }

    // A file that cannot be read or saved fails alone: not counted, reported with its path, the batch goes
    // on, and whatever stood in the way stays as it was. A good conversion replaces an earlier workbook.
    void failedFileIsNotCounted_data()
    {
        QTest::addColumn<QString>("blocker");         // made in the output folder beforehand
        QTest::addColumn<QByteArray>("blockerBytes"); // null: the blocker is a folder
        QTest::addColumn<bool>("longField");          // sub/b.csv holds a field too long for a cell
        QTest::addColumn<QStringList>("tree");

        const QStringList all{"a.xlsx", "sub", "sub/b.xlsx", "z.xlsx"};
        // No folder can be made where a file is.
        QTest::newRow("output subfolder taken by a file") << "sub" << QByteArray("in the way") << false
                                                          << QStringList{"a.xlsx", "sub", "z.xlsx"};
        // The workbook is written beside its name first and cannot be moved onto a folder.
        QTest::newRow("workbook name taken by a folder") << "sub/b.xlsx" << QByteArray() << false << all;
        QTest::newRow("field too long, earlier workbook kept")
            << "sub/b.xlsx" << QByteArray("PK\x03\x04 an earlier workbook") << true << all;
        // Listed, then gone before it is opened: the spreadsheet application cannot open it.
        QTest::newRow("source gone") << "" << QByteArray() << false << QStringList{"a.xlsx", "z.xlsx"};
    }
    void failedFileIsNotCounted()
    {
        QFETCH(QString, blocker);
        QFETCH(QByteArray, blockerBytes);
        QFETCH(bool, longField);
        QFETCH(QStringList, tree);
        createTree(source_, {"a.csv", "sub/b.csv", "z.csv"});
        const QString b = QDir::toNativeSeparators(source_ + QStringLiteral("/sub/b.csv"));
        if (longField)
            writeFile(b, readFile(QStringLiteral(QUILLMARK_TEST_DATA_DIR "/csv/long_field.csv")));
        writeFile(output_ + QStringLiteral("/a.xlsx"), "stale");
        if (!blocker.isEmpty() && blockerBytes.isNull())
            QVERIFY(QDir().mkpath(output_ + QLatin1Char('/') + blocker));
        else if (!blocker.isEmpty())
            writeFile(output_ + QLatin1Char('/') + blocker, blockerBytes);
        if (QTest::currentTestFailed())
            return;

        if (blocker.isEmpty()) // the row whose source goes away
            registerHookedApplication([b](const QByteArray& member, const QVariantList& arguments) {
                if (member.startsWith("Open") && arguments.value(0).toString() == b)
                    QFile::remove(b);
            });
        BatchWorker worker;
        QVERIFY(worker.run(options()));
        QCOMPARE(worker.statuses, framed(source_, {"a.csv", "z.csv", "sub/b.csv"}, 2));
        QCOMPARE(worker.endSignals, 1);
        QCOMPARE(worker.report().csvFiles, 3);
        QCOMPARE(worker.report().converted, 2);
        QCOMPARE(worker.report().failures.size(), 1);
        QVERIFY2(worker.report().failures[0].startsWith(b + QStringLiteral(": ")),
                 qPrintable(worker.report().failures[0]));
        QCOMPARE(treeOf(output_), tree); // no temporary file left behind either
        if (!blockerBytes.isNull())
            QCOMPARE(readFile(output_ + QLatin1Char('/') + blocker), blockerBytes);
        QVERIFY(readFile(output_ + QStringLiteral("/a.xlsx")).startsWith("PK\x03\x04"));
    }
};

QTEST_GUILESS_MAIN(TestMergeObject)
#include "tst_mergeobject.moc"
