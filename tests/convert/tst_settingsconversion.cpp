// Conversion by settings: decoding of the source, the arguments the text import receives at the
// automation boundary, the cell-by-cell import, the failure list and the early stop, on real batches.

#include "automation/AutomationServers.h"
#include "automation/SpreadsheetDispatch.h"
#include "convert/MergeObject.h"
#include "convert/SettingsConversion.h"
#include "convert/SourceDecoding.h"
#include "convert/StatusTexts.h"
#include "platform/TextFileOpener.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QByteArray fixtureBytes(const QString& name)
{
    QFile file(QStringLiteral(QUILLMARK_TEST_DATA_DIR "/csv/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing fixture");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Records every member call that reaches the spreadsheet application and passes it on; a hook can act
// on the worker's thread at the moment of a call.
struct CallLog
{
    QStringList members;
    QList<QVariantList> arguments;
    std::function<void(const QByteArray&)> hook;
};

class RecordingDispatch : public Dispatch
{
public:
    RecordingDispatch(std::unique_ptr<Dispatch> inner, std::shared_ptr<CallLog> log)
        : inner_(std::move(inner)), log_(std::move(log))
    {
    }
    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        record(member, arguments);
        return wrap(inner_->call(member, arguments));
    }
    DispatchResult query(const QByteArray& member, const QVariantList& arguments) override
    {
        record(member, arguments);
        return wrap(inner_->query(member, arguments));
    }
    DispatchResult setProperty(const QByteArray& name, const QVariant& value) override
    {
        record(name, {value});
        return wrap(inner_->setProperty(name, value));
    }
    DispatchResult property(const QByteArray& name) override { return wrap(inner_->property(name)); }
    QString source() const override { return inner_->source(); }

private:
    void record(const QByteArray& member, const QVariantList& arguments)
    {
        log_->members << QString::fromLatin1(member);
        log_->arguments << arguments;
        if (log_->hook)
            log_->hook(member);
    }
    DispatchResult wrap(DispatchResult result)
    {
        if (result.subObject)
            result.subObject = std::make_unique<RecordingDispatch>(std::move(result.subObject), log_);
        return result;
    }
    std::unique_ptr<Dispatch> inner_;
    std::shared_ptr<CallLog> log_;
};

QString readBack(const QString& workbook)
{
    QProcess python;
    python.start(QStringLiteral(QUILLMARK_PYTHON),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, openpyxl\n"
                                 "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                                 "print('|'.join(','.join(repr(c.value) for c in r) for r in ws.iter_rows()))"),
                  workbook});
    python.waitForFinished(60000);
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}

} // namespace

class TestSettingsConversion : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString source_, out_;
    std::shared_ptr<CallLog> log_;
    QStringList opened_;

    // Runs one conversion by settings on a worker thread; returns the status texts.
    QStringList runBatch(const ConversionOptions& options)
    {
        g_ConversionOptions = options;
        QThread thread;
        MergeObject worker(QStringLiteral("tem"));
        worker.moveToThread(&thread);
        QStringList texts;
        connect(&worker, &MergeObject::ShowDisposingFile, this, [&](const QString& t) { texts << t; });
        QSignalSpy done(&worker, &MergeObject::Signal_SetButtonEnable);
        thread.start();
        QMetaObject::invokeMethod(&worker, &MergeObject::Transform, Qt::QueuedConnection);
        const bool finished = done.wait(60000);
        thread.quit();
        thread.wait();
        QCoreApplication::processEvents();
        if (!finished)
            texts << QStringLiteral("(batch did not end)");
        return texts;
    }

    ConversionOptions options() const
    {
        ConversionOptions o;
        o.SourcePath = source_;
        o.SavePath = out_;
        o.FailListPath = source_ + QStringLiteral("/无法转换的文件目录.txt");
        return o;
    }

private slots:
    void init()
    {
        source_ = dir_.filePath(QStringLiteral("src-%1").arg(QTest::currentTestFunction()));
        out_ = dir_.filePath(QStringLiteral("out-%1").arg(QTest::currentTestFunction()));
        QDir().mkpath(source_);
        QDir().mkpath(out_);
        log_ = std::make_shared<CallLog>();
        auto log = log_;
        AutomationServers::registerServer(QStringLiteral("Excel.Application"), [log] {
            return std::make_unique<RecordingDispatch>(createSpreadsheetApplication(), log);
        });
        opened_.clear();
        platform::setTextFileOpener([this](const QString& path) { opened_ << path; });
    }
    void cleanup()
    {
        AutomationServers::restoreDefaults();
        platform::setTextFileOpener({});
    }

    void decodesSources_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("text");
        const auto automatic = int(SourceEncodingChoice::Automatic);
        const auto utf16 = int(SourceEncodingChoice::Utf16);
        const auto local = int(SourceEncodingChoice::Local8Bit);
        const QString chinese = QStringLiteral("序号,姓名\r\n1,张三\r\n");
        QTest::newRow("UTF-8") << chinese.toUtf8() << automatic << chinese;
        QTest::newRow("UTF-8 with BOM, mark dropped") << QByteArray("\xEF\xBB\xBF") + chinese.toUtf8() << automatic
                                                      << chinese;
        QTest::newRow("GBK") << QTextCodec::codecForName("GBK")->fromUnicode(chinese) << automatic << chinese;
        const QByteArray le = QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(chinese.utf16()),
                                                                  chinese.size() * 2);
        QTest::newRow("UTF-16 LE with BOM, option") << le << utf16 << chinese;
        QTest::newRow("UTF-16 LE with BOM, automatic") << le << automatic << chinese;
        QTest::newRow("UTF-16 LE without BOM, option") << le.mid(2) << utf16 << chinese;
        QTest::newRow("UTF-16 LE without BOM, automatic") << le.mid(2) << automatic << chinese;
        QTest::newRow("UTF-16 odd size: last byte paired with zero") << QByteArray("a\0b", 3) << utf16
                                                                    << QStringLiteral("a") + QChar('b');
        QTest::newRow("empty") << QByteArray() << automatic << QString();
        QTest::newRow("local 8-bit") << chinese.toLocal8Bit() << local << chinese;
        QTest::newRow("NUL keeps the rest") << QByteArray("a\0b\n", 4) << automatic
                                            << QString::fromUtf8("a\0b\n", 4);
        QTest::newRow("fixture gbk.csv")
            << fixtureBytes(QStringLiteral("gbk.csv")) << automatic
            << QTextCodec::codecForName("GBK")->toUnicode(fixtureBytes(QStringLiteral("gbk.csv")));
    }
    void decodesSources()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, choice);
        QFETCH(QString, text);
        QCOMPARE(SourceDecoding(bytes, SourceEncodingChoice(choice)), text);
    }

    void stagingKeepsEveryCharacter()
    {
        const QString path = stagingPath(out_); // given without a trailing separator
        QCOMPARE(path, out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt"));
        const QString text = QStringLiteral("张三,한국어,😀\r\n");
        QVERIFY(stageText(path, text));
        QFile staged(path);
        QVERIFY(staged.open(QIODevice::ReadOnly));
        const QByteArray bytes = staged.readAll();
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QTextCodec::codecForName("GB18030")->toUnicode(bytes), text);
        QCOMPARE(bytes.left(4), QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral("张三")));

        // A large text is written in pieces: an emoji across a piece border stays whole.
        const QString large = QString((1 << 20) - 1, QLatin1Char('a')) + QStringLiteral("😀b");
        QVERIFY(stageText(path, large));
        staged.close();
        QVERIFY(staged.open(QIODevice::ReadOnly));
        QCOMPARE(QTextCodec::codecForName("GB18030")->toUnicode(staged.readAll()), large);
    }

    void textImportArguments_data()
    {
        QTest::addColumn<bool>("setTextFormat");
        QTest::addColumn<QString>("columns");
        QTest::addColumn<int>("delimiter");
        QTest::addColumn<QString>("fieldInfo");
        QTest::addColumn<QString>("flags");
        QTest::newRow("text columns 2,3,4, comma") << true << "2,3,4" << 3 << "2:2 3:2 4:2" << "false false true false";
        QTest::newRow("empty list") << true << "" << 1 << "1:1 2:1" << "true false false false";
        QTest::newRow("list not asked for") << false << "2" << 2 << "1:1 2:1" << "false true false false";
        QTest::newRow("stray comma and a word") << true << "2,,x" << 4 << "2:2 0:2 0:2" << "false false false true";
    }
    void textImportArguments()
    {
        QFETCH(bool, setTextFormat);
        QFETCH(QString, columns);
        QFETCH(int, delimiter);
        QFETCH(QString, fieldInfo);
        QFETCH(QString, flags);
        writeFile(source_ + QStringLiteral("/a.csv"), "1\t2\n");
        ConversionOptions o = options();
        o.SetTextFormat = setTextFormat;
        o.TextFormatColumns = columns;
        o.vbaOpenFunFomatArg = delimiter;
        o.ConsecutiveDelimiter = true;
        o.OtherLanguage = columns.isEmpty(); // without a list the text import is used all the same
        runBatch(o);

        const int at = log_->members.indexOf(QRegularExpression(QStringLiteral("^OpenText\\(.*")));
        QVERIFY(at >= 0);
        const QVariantList a = log_->arguments[at];
        QCOMPARE(a.size(), 13);
        QCOMPARE(a[0].toString(), out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt"));
        QCOMPARE((QVariantList{a[1], a[2], a[3], a[4], a[5], a[10], a[11]}),
                 (QVariantList{936, 1, 1, 1, true, false, 936}));
        QStringList got;
        for (int i = 6; i <= 9; ++i)
            got << (a[i].toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        QCOMPARE(got.join(' '), flags);
        QStringList pairs;
        for (const QVariant& pair : a[12].toList())
            pairs << QStringLiteral("%1:%2").arg(pair.toList()[0].toInt()).arg(pair.toList()[1].toInt());
        QCOMPARE(pairs.join(' '), fieldInfo);
    }

    void splitsLinesForCellByCell_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF") << "a\r\nb" << QStringList{"a", "b"};
        QTest::newRow("LF only") << "a\nb" << QStringList{"a", "b"};
        QTest::newRow("CR only") << "a\rb" << QStringList{"a", "b"};
        QTest::newRow("no line break") << "a,b" << QStringList{"a,b"};
        QTest::newRow("trailing CR LF gives an empty last line") << "a\r\n" << QStringList{"a", ""};
    }
    void splitsLinesForCellByCell()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(splitLines(text), lines);
    }

    void importsEndToEnd()
    {
        // Text columns keep IDs and codes; merged spaces; cell by cell keeps Korean, emoji and quotes.
        writeFile(source_ + QStringLiteral("/ids.csv"), "id\tcode\tn\r\n110105199003071234\t00123\t7\r\n");
        writeFile(source_ + QStringLiteral("/spaces.csv"), "a   b  c\n1    2 3\n");
        writeFile(source_ + QStringLiteral("/z-korean.csv"), QStringLiteral("\"x,y\",,한국어 😀\r\n").toUtf8());
        ConversionOptions o = options();
        o.SetTextFormat = true;
        o.TextFormatColumns = QStringLiteral("1,2");
        runBatch(o);
        QCOMPARE(readBack(out_ + QStringLiteral("/ids.xlsx")), QStringLiteral("'id','code','n'|'110105199003071234','00123',7"));

        o = options();
        o.vbaOpenFunFomatArg = 4;
        o.ConsecutiveDelimiter = true;
        runBatch(o);
        QCOMPARE(readBack(out_ + QStringLiteral("/spaces.xlsx")), QStringLiteral("'a','b','c'|1,2,3"));

        o = options();
        o.vbaOpenFunFomatArg = 3;
        o.ConsecutiveDelimiter = true; // plays no part cell by cell
        o.SetTextFormat = true;
        o.TextFormatColumns = QStringLiteral("2");
        o.OtherLanguage = true;
        runBatch(o);
        QCOMPARE(readBack(out_ + QStringLiteral("/z-korean.xlsx")),
                 QStringLiteral("'\"x','y\"',None,'한국어 😀'")); // the empty last line holds no value
        QVERIFY(log_->members.contains(QStringLiteral("Add")));
        QVERIFY(!QFileInfo::exists(out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt")));
    }

    void failedFilesAreListedInOrder()
    {
        writeFile(source_ + QStringLiteral("/a.csv"), "1,2\n");
        writeFile(source_ + QStringLiteral("/b.csv"), "1,2\n");
        writeFile(source_ + QStringLiteral("/sub/c.csv"), "1,2\n");
        ConversionOptions o = options();
        o.vbaOpenFunFomatArg = 3;
        o.SetTextFormat = true;
        o.TextFormatColumns = QStringLiteral("0"); // no such column: the text import fails
        const QStringList texts = runBatch(o);
        const QString list = source_ + QStringLiteral("/无法转换的文件目录.txt");
        QFile file(list);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(file.readAll()),
                 source_ + "/a.csv\n" + source_ + "/b.csv\n" + source_ + "/sub/c.csv\n");
        QCOMPARE(opened_, QStringList{list});
        QCOMPARE(texts.last(), StatusTexts::summary(0));
        QVERIFY(!QFileInfo::exists(out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt")));
    }

    void sourceThatCannotBeOpenedStopsTheBatch()
    {
        writeFile(source_ + QStringLiteral("/a.csv"), "1,2\n");
        writeFile(source_ + QStringLiteral("/b.csv"), "1,2\n");
        writeFile(source_ + QStringLiteral("/c.csv"), "1,2\n");
        // b.csv turns into a folder while a.csv is being imported: it is in the file list, but cannot be
        // opened for reading and writing, whoever runs the test.
        const QString b = source_ + QStringLiteral("/b.csv");
        log_->hook = [b](const QByteArray& member) {
            if (member.startsWith("OpenText") && QFileInfo(b).isFile()) {
                QFile::remove(b);
                QDir().mkpath(b);
            }
        };
        const QStringList texts = runBatch(options());
        QCOMPARE(texts.mid(2), (QStringList{source_ + "/a.csv", b, StatusTexts::sourceCannotBeOpened()}));
        QVERIFY(QFileInfo::exists(out_ + QStringLiteral("/a.xlsx")));
        QVERIFY(!QFileInfo::exists(out_ + QStringLiteral("/c.xlsx")));
        QVERIFY(!QFileInfo::exists(source_ + QStringLiteral("/无法转换的文件目录.txt")));
        QVERIFY(opened_.isEmpty());
        QCOMPARE(log_->members.last(), QStringLiteral("Quit(void)"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsConversion)
#include "tst_settingsconversion.moc"
