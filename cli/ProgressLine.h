#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>

/// The progress of a batch as one line on a terminal, redrawn a few times a second: which .csv file of
/// how many, and how far through it the conversion is. Standard output is not touched: the status lines
/// printed there are written between a clear() and the next redraw.
class ProgressLine : public QObject
{
    Q_OBJECT

public:
    explicit ProgressLine(std::FILE* terminal, QObject* parent = nullptr);

    /// Takes the line away, before something else is printed on the terminal.
    void clear();

    void fileStarted(int number, int count, const QString& nativePath);
    void fileProgress(const QString& stage, qint64 done, qint64 total);
    /// The batch has ended: the line goes and is not drawn again.
    void finished();

private:
    void redraw();

    std::FILE* terminal_;
    QTimer timer_;
    bool shown_ = false;
    int number_ = 0, count_ = 0;
    QString path_, stage_;
    qint64 done_ = 0, total_ = 0;
};

/// The text of the line, shorter than `columns` characters (the last column stays free, so the line never
/// wraps): "[3/200] writing 45%  .../2021/a.csv"; the path loses its start first when the line is too long.
QString progressText(int number, int count, const QString& nativePath, const QString& stage, qint64 done,
                     qint64 total, int columns);
