// The portable bundle as a user gets it: made by scripts/package.sh, unpacked into a folder of its own,
// it converts the examples, remembers a choice in its own settings file, and adds itself to the menu.

#include "app/AppPaths.h"
#include "QuillmarkVersion.h"
#include "app/MainWindow.h"
#include "platform/TextFileOpener.h"
#include "tests/ProgramRuns.h"
#include "tests/TestFiles.h"

#include <QRadioButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

constexpr int kTimeout = 600000; // packaging builds the executables when they are not built yet

// Files below a folder by their names without `ending`: the workbooks of the examples have the names of
// their sources.
QStringList namesBelow(const QString& root, const QString& ending)
{
    QStringList names = filesEndingWith(root, ending);
    for (QString& name : names)
        name.chop(ending.size());
    return names;
}

} // namespace

class TestBundle : public QObject
{
    Q_OBJECT

    QTemporaryDir temporary_;
    QString bundle_; // the unpacked bundle's folder

private slots:
    void initTestCase()
    {
        QVERIFY(temporary_.isValid());
        const ProgramRun packaged =
            runProgram(QStringLiteral(QUILLMARK_SOURCE_DIR "/scripts/package.sh"),
                       {QStringLiteral(QUILLMARK_BUILD_DIR), temporary_.filePath(QStringLiteral("dist"))}, {}, kTimeout);
        QVERIFY2(packaged.exitCode == 0, packaged.err.constData());
        const QString name = QStringLiteral("Quillmark-" QUILLMARK_VERSION "-linux-") + QSysInfo::currentCpuArchitecture();
        const QString archive = temporary_.filePath(QStringLiteral("dist/") + name + QStringLiteral(".tar.gz"));
        QCOMPARE(QString::fromUtf8(packaged.out.trimmed()).section(QLatin1Char('\n'), -1), archive);
        const QString unpacked = temporary_.filePath(QStringLiteral("unpacked"));
        QVERIFY(QDir().mkpath(unpacked));
        QCOMPARE(runProgram(QStringLiteral("tar"), {QStringLiteral("-xzf"), archive, QStringLiteral("-C"), unpacked}).exitCode, 0);
        QCOMPARE(QDir(unpacked).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{name});
        bundle_ = unpacked + QLatin1Char('/') + name;
    }

    void holdsTheProgramAndItsFiles()
    {
        QCOMPARE(QDir(bundle_).entryList(QDir::Files, QDir::Name),
                 (QStringList{"Quillmark", "Quillmark.qmk", "README.md", "install-desktop-entry.sh",
                              "quillmark-convert", "quillmark-release-server", "quillmark.png"}));
        for (const char* program : {"Quillmark", "quillmark-convert", "quillmark-release-server",
                                    "install-desktop-entry.sh"})
            QVERIFY2(QFileInfo(bundle_ + '/' + program).isExecutable(), program);
        QCOMPARE(QFileInfo(bundle_ + QStringLiteral("/Quillmark.qmk")).size(), qint64(0));
        const ProgramRun version = runProgram(bundle_ + QStringLiteral("/quillmark-convert"), {QStringLiteral("--version")});
        QCOMPARE(version.out, QByteArray("quillmark-convert " QUILLMARK_VERSION "\n"));
        // Its README names the programs beside it, not those of a build folder.
        const QByteArray readme = readFile(bundle_ + QStringLiteral("/README.md"));
        QVERIFY(readme.contains("./quillmark-convert SOURCE_FOLDER --out OUTPUT_FOLDER"));
        for (const char* elsewhere : {"build/app/", "build/cli/", "build/update/", "-xzf dist/"})
            QVERIFY2(!readme.contains(elsewhere), elsewhere);
    }

    void convertsTheExamples()
    {
        const QString examples = QStringLiteral(QUILLMARK_SOURCE_DIR "/examples");
        const QString output = temporary_.filePath(QStringLiteral("examples-xlsx"));
        const ProgramRun converted = runProgram(bundle_ + QStringLiteral("/quillmark-convert"),
                                  {examples, QStringLiteral("--out"), output});
        QVERIFY2(converted.exitCode == 0, converted.err.constData());
        QVERIFY(!namesBelow(examples, QStringLiteral(".csv")).isEmpty());
        QCOMPARE(namesBelow(output, QStringLiteral(".xlsx")), namesBelow(examples, QStringLiteral(".csv")));
    }

    // The empty settings file beside the program takes the user's first choice.
    void remembersAChoiceInItsSettingsFile()
    {
        platform::setTextFileOpener([](const QString&) {});
        updateCheckStarted = true; // ask no update server
        const QByteArray program = QFile::encodeName(bundle_ + QStringLiteral("/Quillmark"));
        const char* argv[] = {program.constData()};
        FillAppPaths(g_AppPaths, 1, argv);
        auto window = std::make_unique<MainWindow>();
        auto* comma = window->findChild<QRadioButton*>(QStringLiteral("rBtn_Comma"));
        QVERIFY(comma);
        QTest::mouseClick(comma, Qt::LeftButton);
        // An empty file gets an empty first line before the first entry.
        QCOMPARE(readFile(bundle_ + QStringLiteral("/Quillmark.qmk")), QByteArray("\r\nvbaOpenFunFomatArg=3\r\n"));
    }

    // A menu entry (and with --autostart a log-in entry) that starts the program by its absolute path.
    void addsAndRemovesDesktopEntries()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), temporary_.filePath(QStringLiteral("home")));
        environment.remove(QStringLiteral("XDG_DATA_HOME"));
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        const QString script = bundle_ + QStringLiteral("/install-desktop-entry.sh");
        const QString menu = temporary_.filePath(QStringLiteral("home/.local/share/applications/quillmark.desktop"));
        const QString login = temporary_.filePath(QStringLiteral("home/.config/autostart/quillmark.desktop"));
        const QByteArray exec = "Exec=\"" + QFile::encodeName(QDir(bundle_).canonicalPath()) + "/Quillmark\"";

        QCOMPARE(runProgram(script, {}, environment).exitCode, 0);
        QVERIFY2(readFile(menu).contains(exec + '\n'), readFile(menu).constData());
        QVERIFY(!QFileInfo::exists(login));

        QCOMPARE(runProgram(script, {QStringLiteral("--autostart")}, environment).exitCode, 0);
        QVERIFY2(readFile(login).contains(exec + " -autorun\n"), readFile(login).constData());

        QCOMPARE(runProgram(script, {QStringLiteral("--remove")}, environment).exitCode, 0);
        QVERIFY(!QFileInfo::exists(menu) && !QFileInfo::exists(login));
    }
};

QTEST_MAIN(TestBundle)
#include "tst_bundle.moc"
