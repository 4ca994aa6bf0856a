// The portable bundle as a user gets it: made by scripts/package.sh, unpacked into a folder of its own,
// it converts the examples, remembers a choice in its own settings file, and adds itself to the menu.

#include "app/AppPaths.h"
#include "QuillmarkVersion.h"
#include "app/MainWindow.h"
#include "platform/TextFileOpener.h"
#include "tests/TestFiles.h"

#include <QDirIterator>
#include <QProcess>
#include <QRadioButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

constexpr int kTimeout = 600000; // packaging builds the executables when they are not built yet

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {})
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(kTimeout) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QStringList filesBelow(const QString& root, const QString& suffix)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(suffix))
            files << QDir(root).relativeFilePath(path).chopped(suffix.size());
    }
    files.sort();
    return files;
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
        const Run packaged = run(QStringLiteral(QUILLMARK_SOURCE_DIR "/scripts/package.sh"),
                                 {QStringLiteral(QUILLMARK_BUILD_DIR), temporary_.filePath(QStringLiteral("dist"))});
        QVERIFY2(packaged.exitCode == 0, packaged.err.constData());
        const QString name = QStringLiteral("Quillmark-" QUILLMARK_VERSION "-linux-") + QSysInfo::currentCpuArchitecture();
        const QString archive = temporary_.filePath(QStringLiteral("dist/") + name + QStringLiteral(".tar.gz"));
        QCOMPARE(QString::fromUtf8(packaged.out.trimmed()).section(QLatin1Char('\n'), -1), archive);
        const QString unpacked = temporary_.filePath(QStringLiteral("unpacked"));
        QVERIFY(QDir().mkpath(unpacked));
        QCOMPARE(run(QStringLiteral("tar"), {QStringLiteral("-xzf"), archive, QStringLiteral("-C"), unpacked}).exitCode, 0);
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
        const Run version = run(bundle_ + QStringLiteral("/quillmark-convert"), {QStringLiteral("--version")});
        QCOMPARE(version.out, QByteArray("quillmark-convert " QUILLMARK_VERSION "\n"));
    }

    void convertsTheExamples()
    {
        const QString examples = QStringLiteral(QUILLMARK_SOURCE_DIR "/examples");
        const QString output = temporary_.filePath(QStringLiteral("examples-xlsx"));
        const Run converted = run(bundle_ + QStringLiteral("/quillmark-convert"),
                                  {examples, QStringLiteral("--out"), output});
        QVERIFY2(converted.exitCode == 0, converted.err.constData());
        QVERIFY(!filesBelow(examples, QStringLiteral(".csv")).isEmpty());
        QCOMPARE(filesBelow(output, QStringLiteral(".xlsx")), filesBelow(examples, QStringLiteral(".csv")));
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

        QCOMPARE(run(script, {}, environment).exitCode, 0);
        QVERIFY2(readFile(menu).contains(exec + '\n'), readFile(menu).constData());
        QVERIFY(!QFileInfo::exists(login));

        QCOMPARE(run(script, {QStringLiteral("--autostart")}, environment).exitCode, 0);
        QVERIFY2(readFile(login).contains(exec + " -autorun\n"), readFile(login).constData());

        QCOMPARE(run(script, {QStringLiteral("--remove")}, environment).exitCode, 0);
        QVERIFY(!QFileInfo::exists(menu) && !QFileInfo::exists(login));
    }
};

QTEST_MAIN(TestBundle)
#include "tst_bundle.moc"
