#include "cli/ProgressLine.h"

#include "platform/Terminal.h"

#include <QLocale>

namespace {

constexpr int kRedrawMilliseconds = 250;

} // namespace

QString progressText(int number, int count, const QString& nativePath, const QString& stage, qint64 done,
                     qint64 total, int columns)
{
    const QLocale numbers(QLocale::English);
    QString where;
    if (stage.isEmpty())
        where = QStringLiteral("opening");
    else if (total > 0)
        where = QStringLiteral("%1 %2%").arg(stage).arg(qMin<qint64>(100, done * 100 / total));
    else
        where = QStringLiteral("%1 %2 rows").arg(stage, numbers.toString(done));
    const QString head = QStringLiteral("[%1/%2] %3  ").arg(number).arg(count).arg(where);
    const int room = columns - 1 - head.size(); // the last column is left free: no line wrap
    QString path = nativePath;
    if (path.size() > room)
        path = room > 3 ? QStringLiteral("...") + path.right(room - 3) : QString();
    return (head + path).left(qMax(0, columns - 1));
}

ProgressLine::ProgressLine(std::FILE* terminal, QObject* parent) : QObject(parent), terminal_(terminal)
{
    timer_.setInterval(kRedrawMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &ProgressLine::redraw);
}

void ProgressLine::clear()
{
    if (!shown_)
        return;
    std::fputs("\r\033[K", terminal_);
    std::fflush(terminal_);
    shown_ = false;
}

void ProgressLine::fileStarted(int number, int count, const QString& nativePath)
{
    number_ = number;
    count_ = count;
    path_ = nativePath;
    stage_.clear();
    done_ = total_ = 0;
    if (!timer_.isActive())
        timer_.start();
    redraw();
}

void ProgressLine::fileProgress(const QString& stage, qint64 done, qint64 total)
{
    const bool newStage = stage != stage_;
    stage_ = stage;
    done_ = done;
    total_ = total;
    if (newStage)
        redraw(); // at once: a stage may be over before the next tick
}

void ProgressLine::finished()
{
    timer_.stop();
    clear();
    number_ = 0;
}

void ProgressLine::redraw()
{
    if (number_ == 0)
        return;
    const QString text = progressText(number_, count_, path_, stage_, done_, total_, platform::terminalColumns());
    std::fputs(("\r\033[K" + text).toLocal8Bit().constData(), terminal_);
    std::fflush(terminal_);
    shown_ = true;
}
