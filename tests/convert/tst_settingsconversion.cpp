// Conversion by settings: decoding and staging of the source, the arguments of the text import, the
// cell-by-cell import, the failure list and the early stop.

#include "BatchWorker.h"
#include "HookedDispatch.h"

#include "convert/SettingsConversion.h"
#include "convert/SourceDecoding.h"
#include "convert/StatusTexts.h"
#include "platform/CharsetConversion.h"
#include "platform/TextFileOpener.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTextCodec>

namespace {

// The first sheet as openpyxl reads it: rows joined by "|", cells by ",", each cell as Python's repr().
QString readBack(const QString& workbook)
{
    QProcess python;
    python.start(QStringLiteral(QUILLMARK_PYTHON),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, openpyxl\n"
                                 "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                                 "print('|'.join(','.join(repr(c.value) for c in r) for r in ws.iter_rows()))"),
                  workbook});
    python.waitForFinished(kBatchTimeout);
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}

} // namespace

class TestSettingsConversion : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString source_, out_;
    QStringList members_;                           // every call that reached the spreadsheet application
    QList<QVariantList> arguments_;                 // and its arguments
    std::function<void(const QByteArray&)> onCall_; // runs on the worker's thread at each call
    QStringList opened_; // text files shown to the user

    ConversionOptions options() const
    {
        ConversionOptions o;
        o.SourcePath = source_;
        o.SavePath = out_;
        o.FailListPath = source_ + QStringLiteral("/无法转换的文件目录.txt");
        return o;
    }
    // Runs one conversion by settings; returns its status texts.
    QStringList runBatch(const ConversionOptions& options)
    {
        BatchWorker worker;
        return worker.run(options, &MergeObject::Transform) ? worker.statuses : QStringList{"(no end)"};
    }

private slots:
    void init()
    {
        source_ = dir_.filePath(QStringLiteral("src-%1").arg(QTest::currentTestFunction()));
        out_ = dir_.filePath(QStringLiteral("out-%1").arg(QTest::currentTestFunction()));
        QDir().mkpath(source_);
        QDir().mkpath(out_);
        members_.clear();
        arguments_.clear();
        onCall_ = nullptr;
        registerHookedApplication([this](const QByteArray& member, const QVariantList& arguments) {
            members_ << QString::fromLatin1(member);
            arguments_ << arguments;
            if (onCall_)
                onCall_(member);
        });
        opened_.clear();
        platform::setTextFileOpener([this](const QString& path) { opened_ << path; });
    }
    void cleanup()
    {
        AutomationServers::restoreDefaults();
        platform::setTextFileOpener({});
    }

    // How each encoding choice reads the bytes of a source file.
    void decodesSources_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("text");
        const int automatic = int(SourceEncodingChoice::Automatic), utf16 = int(SourceEncodingChoice::Utf16);
        const int local = int(SourceEncodingChoice::Local8Bit);
        const QString chinese = QStringLiteral("序号,姓名\r\n1,张三\r\n");
        const QByteArray le = "\xFF\xFE" + QTextCodec::codecForName("UTF-16LE")->fromUnicode(chinese);
        QTest::newRow("UTF-8") << chinese.toUtf8() << automatic << chinese;
        QTest::newRow("UTF-8 with BOM, mark dropped") << "\xEF\xBB\xBF" + chinese.toUtf8() << automatic
                                                      << chinese;
        QTest::newRow("GBK") << QTextCodec::codecForName("GBK")->fromUnicode(chinese) << automatic << chinese;
        QTest::newRow("UTF-16 LE with BOM, option") << le << utf16 << chinese;
        QTest::newRow("UTF-16 LE with BOM, automatic") << le << automatic << chinese;
        QTest::newRow("UTF-16 LE without BOM, option") << le.mid(2) << utf16 << chinese;
        QTest::newRow("UTF-16 LE without BOM, automatic") << le.mid(2) << automatic << chinese;
        QTest::newRow("UTF-16 odd size: last byte paired with zero")
            << QByteArray("a\0b", 3) << utf16 << QStringLiteral("a") + QChar('b');
        QTest::newRow("empty") << QByteArray() << automatic << QString();
        QTest::newRow("local 8-bit") << chinese.toLocal8Bit() << local << chinese;
        QTest::newRow("NUL keeps the rest")
            << QByteArray("a\0b\n", 4) << automatic << QString::fromUtf8("a\0b\n", 4);
        // Nothing at the end is dropped, and whatever cannot be decoded becomes U+FFFD.
        const QString r(QChar(0xFFFD));
        QTest::newRow("UTF-8 cut in the last character")
            << QByteArray("id,city\r\n1,\xE4\xB8") << automatic << "id,city\r\n1," + r;
        QTest::newRow("GBK cut in the last character")
            << QTextCodec::codecForName("GBK")->fromUnicode(chinese) + "2,\xD6" << automatic << chinese + "2," + r;
        QTest::newRow("UTF-8 with a stray byte stays UTF-8")
            << QByteArray("序号,姓名\r\n1,张\xFF三\r\n") << automatic << QStringLiteral("序号,姓名\r\n1,张") + r + "三\r\n";
        QTest::newRow("local 8-bit with a broken byte") << QByteArray("a,\xFF\n") << local << "a," + r + "\n";
        QTest::newRow("UTF-16 unpaired surrogate") << QByteArray("a\0\x00\xD8,\0", 6) << utf16 << "a" + r + ",";
        const QString months = QStringLiteral("月份,日期\r\n一月,一号\r\n");
        QTest::newRow("UTF-16 LE without BOM, nearly all Chinese, automatic")
            << QTextCodec::codecForName("UTF-16LE")->fromUnicode(months) << automatic << months;
        QTest::newRow("UTF-16 BE without BOM, option")
            << QTextCodec::codecForName("UTF-16BE")->fromUnicode(months) << utf16 << months;
        QTest::newRow("NUL keeps the rest, local 8-bit")
            << QByteArray("\0a,b\r\n1,2\r\n", 11) << local << QString::fromLatin1("\0a,b\r\n1,2\r\n", 11);
    }
    void decodesSources()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, choice);
        QFETCH(QString, text);
        QCOMPARE(SourceDecoding(bytes, SourceEncodingChoice(choice)), text);
    }

    // The staged file is GB18030 without a mark, so no character is lost, not even across a piece border.
    void stagingKeepsEveryCharacter()
    {
        const QString path = stagingPath(out_); // given without a trailing separator
        QCOMPARE(path, QDir::toNativeSeparators(out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt")));
        const auto gb18030 = [](const QByteArray& bytes) {
#ifdef _WIN32 // Qt's own GB18030 decoder (there is no ICU) reads the planes beyond the first wrong
            std::string utf8;
            platform::CharsetConversion("GB18030").decode(bytes.constData(), bytes.constData() + bytes.size(),
                                                          true, utf8);
            return QString::fromStdString(utf8);
#else
            return QTextCodec::codecForName("GB18030")->toUnicode(bytes);
#endif
        };
        const QString text = QStringLiteral("张三,한국어,😀\r\n");
        QVERIFY(stageText(path, text));
        const QByteArray bytes = readFile(path);
        QCOMPARE(bytes.left(4), QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral("张三")));
        QCOMPARE(gb18030(bytes), text);

        const QString large = QString((1 << 20) - 1, QLatin1Char('a')) + QStringLiteral("😀b");
        QVERIFY(stageText(path, large));
        QCOMPARE(gb18030(readFile(path)), large);

        // Staged straight from the source bytes, with characters across the pieces they are decoded in.
        const QByteArray source = QByteArray((1 << 20) - 1, 'a') + QStringLiteral("张😀,").toUtf8() +
                                  QByteArray((1 << 20) - 2, 'b') + QStringLiteral("한").toUtf8();
        QVERIFY(stageSource(path, source, SourceEncodingChoice::Automatic));
        QCOMPARE(gb18030(readFile(path)), QString::fromUtf8(source));
    }

    // The 13 arguments the text import receives: code page 936, the delimiter flags and the field info.
    void textImportArguments_data()
    {
        QTest::addColumn<bool>("setTextFormat");
        QTest::addColumn<QString>("columns");
        QTest::addColumn<int>("delimiter");
        QTest::addColumn<QString>("fieldInfo");
        QTest::addColumn<QString>("flags");
        QTest::newRow("text columns 2,3,4, comma") << true << "2,3,4" << 3 << "2:2 3:2 4:2" << "0010";
        QTest::newRow("empty list") << true << "" << 1 << "1:1 2:1" << "1000";
        QTest::newRow("list not asked for") << false << "2" << 2 << "1:1 2:1" << "0100";
        QTest::newRow("stray comma and a word") << true << "2,,x" << 4 << "2:2 0:2 0:2" << "0001";
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

        const int at = members_.indexOf(QRegularExpression(QStringLiteral("^OpenText\\(.*")));
        QVERIFY(at >= 0);
        const QVariantList a = arguments_[at];
        QCOMPARE(a.size(), 13);
        QCOMPARE(a[0].toString(), QDir::toNativeSeparators(out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt")));
        QCOMPARE((QVariantList{a[1], a[2], a[3], a[4], a[5], a[10], a[11]}),
                 (QVariantList{936, 1, 1, 1, true, false, 936}));
        QString got;
        for (int i = 6; i <= 9; ++i)
            got += a[i].toBool() ? '1' : '0';
        QCOMPARE(got, flags);
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

    // Merged spaces through the text import; Korean, emoji and quotes kept cell by cell, and no staged
    // file left behind.
    void importsEndToEnd()
    {
        writeFile(source_ + QStringLiteral("/spaces.csv"), "a   b  c\n1    2 3\n");
        writeFile(source_ + QStringLiteral("/z-korean.csv"), QStringLiteral("\"x,y\",,한국어 😀\r\n").toUtf8());
        ConversionOptions o = options();
        o.vbaOpenFunFomatArg = 4;
        o.ConsecutiveDelimiter = true;
        runBatch(o);
        QCOMPARE(readBack(out_ + QStringLiteral("/spaces.xlsx")), QStringLiteral("'a','b','c'|1,2,3"));

        o.vbaOpenFunFomatArg = 3; // merging plays no part cell by cell
        o.SetTextFormat = true;
        o.TextFormatColumns = QStringLiteral("2");
        o.OtherLanguage = true;
        runBatch(o);
        QCOMPARE(readBack(out_ + QStringLiteral("/z-korean.xlsx")),
                 QStringLiteral("'\"x','y\"',None,'한국어 😀'")); // the empty last line holds no value
        QVERIFY(members_.contains(QStringLiteral("Add")));
        QVERIFY(!QFileInfo::exists(out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt")));
    }

    // Files that fail are listed in order, one path a line, and the list is opened for the user.
    void failedFilesAreListedInOrder()
    {
        for (const char* name : {"/a.csv", "/b.csv", "/sub/c.csv"})
            writeFile(source_ + name, "1,2\n");
        ConversionOptions o = options();
        o.vbaOpenFunFomatArg = 3;
        o.SetTextFormat = true;
        o.TextFormatColumns = QStringLiteral("0"); // no such column: the text import fails
        const QStringList texts = runBatch(o);
        QCOMPARE(QString::fromLocal8Bit(readFile(o.FailListPath)),
                 QDir::toNativeSeparators(source_ + "/a.csv\n" + source_ + "/b.csv\n" + source_ + "/sub/c.csv\n"));
        QCOMPARE(opened_, QStringList{QDir::toNativeSeparators(o.FailListPath)});
        QCOMPARE(texts.last(), StatusTexts::summary(0));
        QVERIFY(!QFileInfo::exists(out_ + QStringLiteral("/Wickerlane_Tem_Txt.txt")));
    }

    // A source that cannot be opened for reading and writing stops the batch at once: no later file, no
    // summary, and no failure list even though a file before it failed.
    void sourceThatCannotBeOpenedStopsTheBatch()
    {
        for (const char* name : {"/a.csv", "/c.csv", "/d.csv"})
            writeFile(source_ + name, "1,2\n");
        writeFile(source_ + "/b.csv", readFile(QStringLiteral(QUILLMARK_TEST_DATA_DIR "/csv/long_field.csv")));
        // c.csv turns into a folder while a.csv is imported: listed, but not to be opened, even by root.
        const QString c = source_ + QStringLiteral("/c.csv");
        onCall_ = [c](const QByteArray& member) {
            if (member.startsWith("OpenText") && QFileInfo(c).isFile()) {
                QFile::remove(c);
                QDir().mkpath(c);
            }
        };
        const QStringList texts = runBatch(options());
        QCOMPARE(texts.mid(3), (QStringList{QDir::toNativeSeparators(source_ + "/a.csv"),
                                            QDir::toNativeSeparators(source_ + "/b.csv"), QDir::toNativeSeparators(c),
                                            StatusTexts::sourceCannotBeOpened()}));
        QVERIFY(QFileInfo::exists(out_ + QStringLiteral("/a.xlsx")));
        QVERIFY(!QFileInfo::exists(out_ + QStringLiteral("/d.xlsx")));
        QVERIFY(!QFileInfo::exists(options().FailListPath));
        QVERIFY(opened_.isEmpty());
        QCOMPARE(members_.last(), QStringLiteral("Quit(void)"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsConversion)
#include "tst_settingsconversion.moc"
