#pragma once

// Files for tests: writing and reading them, and the named CSV fixtures.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
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
