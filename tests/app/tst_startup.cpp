// Start-up: the program's own paths from the command line, and finding and ending running copies of a
// program by its executable name.

#include "app/AppPaths.h"
#include "app/SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Each field must end within its size and hold nothing but zeros after its end: a copy that ran past
// a field would leave bytes behind in the next one.
template <std::size_t N>
bool cleanlyTerminated(const char (&field)[N])
{
    const std::size_t length = strnlen(field, N);
    return length < N && std::all_of(field + length, field + N, [](char c) { return c == '\0'; });
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void appPaths_data();
    void appPaths();
    void appPathsCutLongTexts();

    void countsProcessesByExactName_data();
    void countsProcessesByExactName();
    void terminatesTheFirstProcess();
    void cleanupTestCase();

private:
    QTemporaryDir folder_;
    QByteArray sleeperName_;
    std::vector<std::unique_ptr<QProcess>> sleepers_;
};

void TestStartup::appPaths_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QByteArray>("programDir");
    QTest::addColumn<QByteArray>("settingsPath");
    QTest::addColumn<QByteArray>("updateArchivePath");
    QTest::addColumn<QByteArray>("firstArgument");

    QTest::newRow("full program path") << QByteArrayList{"/opt/tools/Quillmark"} << QByteArray("/opt/tools/")
                                       << QByteArray("/opt/tools/Quillmark.qmk")
                                       << QByteArray("/opt/tools/Quillmark.zip") << QByteArray();
    QTest::newRow("bare program name") << QByteArrayList{"Quillmark"} << QByteArray() << QByteArray("Quillmark.qmk")
                                       << QByteArray("Quillmark.zip") << QByteArray();
    QTest::newRow("program in the root folder")
        << QByteArrayList{"/Quillmark"} << QByteArray("/") << QByteArray("/Quillmark.qmk")
        << QByteArray("/Quillmark.zip") << QByteArray();
    QTest::newRow("first argument") << QByteArrayList{"/opt/tools/Quillmark", "/data/in", "ignored"}
                                    << QByteArray("/opt/tools/") << QByteArray("/opt/tools/Quillmark.qmk")
                                    << QByteArray("/opt/tools/Quillmark.zip") << QByteArray("/data/in");
    QTest::newRow("first argument of 31 bytes kept")
        << QByteArrayList{"Quillmark", QByteArray(31, 'a')} << QByteArray() << QByteArray("Quillmark.qmk")
        << QByteArray("Quillmark.zip") << QByteArray(31, 'a');
    QTest::newRow("first argument cut to 31 bytes")
        << QByteArrayList{"Quillmark", QByteArray(31, 'a') + "bcdefgh"} << QByteArray()
        << QByteArray("Quillmark.qmk") << QByteArray("Quillmark.zip") << QByteArray(31, 'a');
    QTest::newRow("no arguments at all") << QByteArrayList() << QByteArray() << QByteArray("Quillmark.qmk")
                                         << QByteArray("Quillmark.zip") << QByteArray();
}

void TestStartup::appPaths()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArray, programDir);
    QFETCH(QByteArray, settingsPath);
    QFETCH(QByteArray, updateArchivePath);
    QFETCH(QByteArray, firstArgument);

    std::vector<const char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(argument.constData());
    argv.push_back(nullptr);

    AppPaths paths;
    std::memset(paths.programDir, 'x', sizeof paths.programDir); // leftovers of an earlier fill must go
    FillAppPaths(paths, static_cast<int>(arguments.size()), argv.data());

    QCOMPARE(QByteArray(paths.programPath), arguments.value(0));
    QCOMPARE(QByteArray(paths.programDir), programDir);
    QCOMPARE(QByteArray(paths.settingsPath), settingsPath);
    QCOMPARE(QByteArray(paths.updateArchivePath), updateArchivePath);
    QCOMPARE(QByteArray(paths.firstArgument), firstArgument);
}

void TestStartup::appPathsCutLongTexts()
{
    // A 2000-byte program path and a long first argument: every field is cut inside its own size.
    const QByteArray program = "/" + QByteArray(1500, 'd') + "/" + QByteArray(488, 'e') + "/Quillmark";
    QCOMPARE(program.size(), 2000);
    const QByteArray argument(500, 'a');
    const char* argv[] = {program.constData(), argument.constData(), nullptr};

    struct Guarded
    {
        AppPaths paths;
        char after[256];
    } guarded;
    std::memset(guarded.after, 0x5A, sizeof guarded.after);
    FillAppPaths(guarded.paths, 2, argv);

    const AppPaths& paths = guarded.paths;
    QVERIFY(cleanlyTerminated(paths.firstArgument));
    QVERIFY(cleanlyTerminated(paths.programPath));
    QVERIFY(cleanlyTerminated(paths.programDir));
    QVERIFY(cleanlyTerminated(paths.settingsPath));
    QVERIFY(cleanlyTerminated(paths.updateArchivePath));
    QVERIFY(std::all_of(guarded.after, guarded.after + sizeof guarded.after, [](char c) { return c == 0x5A; }));

    QCOMPARE(QByteArray(paths.firstArgument), argument.left(31));
    QCOMPARE(QByteArray(paths.programPath), program.left(sizeof paths.programPath - 1));
    QVERIFY(program.startsWith(paths.programDir));
}

void TestStartup::initTestCase()
{
    // Three copies of sleep under a name no other process has, so only they match it.
    QVERIFY(folder_.isValid());
    sleeperName_ = "QmkSleeper" + QByteArray::number(QCoreApplication::applicationPid());
    const QString program = folder_.path() + QLatin1Char('/') + QString::fromLatin1(sleeperName_);
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
    // They sleep long enough for the tests, and not for long should the test die before its clean-up.
    for (int i = 0; i < 3; ++i) {
        sleepers_.push_back(std::make_unique<QProcess>());
        sleepers_.back()->start(program, {QStringLiteral("120")});
        QVERIFY(sleepers_.back()->waitForStarted(10000));
    }
}

void TestStartup::countsProcessesByExactName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("expected");

    QTest::newRow("exact name") << sleeperName_ << 3;
    QTest::newRow("name in lower case") << sleeperName_.toLower() << 0;
    QTest::newRow("longer name") << sleeperName_ + ".exe" << 0;
    QTest::newRow("shorter name") << sleeperName_.left(sleeperName_.size() - 1) << 0;
    QTest::newRow("with its folder") << QFile::encodeName(folder_.path()) + "/" + sleeperName_ << 0;
}

void TestStartup::countsProcessesByExactName()
{
    QFETCH(QByteArray, name);
    QFETCH(int, expected);
    QCOMPARE(CountProcessesByName(name.constData()), expected);
    QCOMPARE(CountProcessesByName(nullptr), 0);
}

void TestStartup::terminatesTheFirstProcess()
{
    QCOMPARE(TerminateFirstProcessByName(nullptr), 0);
    QCOMPARE(TerminateFirstProcessByName(sleeperName_.toLower().constData()), 0);
    QCOMPARE(CountProcessesByName(sleeperName_.constData()), 3);

    auto lowest = std::min_element(sleepers_.begin(), sleepers_.end(), [](const auto& a, const auto& b) {
        return a->processId() < b->processId();
    });
    QCOMPARE(TerminateFirstProcessByName(sleeperName_.constData()), 1);

    QVERIFY((*lowest)->waitForFinished(10000));
    for (const auto& sleeper : sleepers_) {
        if (sleeper != *lowest)
            QCOMPARE(sleeper->state(), QProcess::Running);
    }
    QTRY_COMPARE(CountProcessesByName(sleeperName_.constData()), 2);
}

void TestStartup::cleanupTestCase()
{
    for (const auto& sleeper : sleepers_) {
        sleeper->kill();
        sleeper->waitForFinished(10000);
    }
    sleepers_.clear();
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
