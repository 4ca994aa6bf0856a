#pragma once

// Files for tests: writing and reading them, and the named CSV fixtures.

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QtTest>

/// Writes a file, making its folder first.
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

/// The file's bytes; a null array when there is no file.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Files below a folder (hidden ones too) whose names end with `ending`, relative and sorted.
inline QStringList filesEndingWith(const QString& root, const QString& ending)
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

/// A CSV file of `rows` rows under a header, "id,name,amount", large enough that reading and saving it
/// take a while.
inline QByteArray largeCsv(int rows)
{
    QByteArray text = "id,name,amount\r\n";
    text.reserve(rows * 28);
    for (int i = 1; i <= rows; ++i)
        text += QByteArray::number(i) + ",name " + QByteArray::number(i % 9973) + ',' + QByteArray::number(i % 1000) +
                ".25\r\n";
    return text;
}

/// Whether a file whose name says it is a save's or an import's temporary file (".name.xxxx~", or the
/// staged text of a conversion by settings) lies below `folder`.
inline bool holdsTemporaryFile(const QString& folder)
{
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).fileName();
        if ((name.startsWith(QLatin1Char('.')) && name.endsWith(QLatin1Char('~'))) ||
            name == QLatin1String("Wickerlane_Tem_Txt.txt"))
            return true;
    }
    return false;
}

/// Waits, without processing events, until a temporary file appears below `folder`: the save of a file
/// has begun. False when none appeared within the time, or `ended` became true first.
template <typename Ended> bool waitForTemporaryFile(const QString& folder, Ended ended, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!holdsTemporaryFile(folder)) {
        if (ended() || timer.elapsed() > timeoutMs)
            return false;
        QThread::usleep(500);
    }
    return true;
}

/// Path of a named CSV fixture.
inline QString fixturePath(const QString& name)
{
    return QStringLiteral(QUILLMARK_TEST_DATA_DIR "/csv/") + name;
}

/// The bytes of a named CSV fixture; a missing fixture ends the test program.
inline QByteArray fixtureBytes(const QString& name)
{
    QFile file(fixturePath(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

/// Copies a named CSV fixture to `destination`.
inline void copyFixture(const QString& name, const QString& destination)
{
    QFile source(fixturePath(name));
    QVERIFY2(source.open(QIODevice::ReadOnly), qPrintable(source.fileName()));
    writeFile(destination, source.readAll());
}

/// The fixtures whose every field must arrive in a workbook: all but the garbage (no expected cells) and
/// long_field.csv (a cell beyond the formats' limit).
inline QStringList roundTripFixtures()
{
    const QStringList files = QDir(fixturePath(QString())).entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (files.size() < 20)
        qFatal("expected the CSV fixtures in %s", qPrintable(fixturePath(QString())));
    QStringList kept;
    for (const QString& file : files) {
        if (file != QLatin1String("binary_garbage.csv") && file != QLatin1String("long_field.csv"))
            kept << file;
    }
    return kept;
}
