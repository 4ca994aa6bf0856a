#include "app/ProgressDisplay.h"

#include <QLocale>

namespace {

QString stageName(const QString& stage)
{
    if (stage == QLatin1String("reading"))
        return QStringLiteral("读取");
    if (stage == QLatin1String("preparing"))
        return QStringLiteral("准备写入");
    if (stage == QLatin1String("writing"))
        return QStringLiteral("写入");
    return QStringLiteral("打开");
}

} // namespace

ProgressDisplay progressDisplay(int number, int count, const QString& stage, qint64 done, qint64 total)
{
    ProgressDisplay display;
    QString where = stageName(stage);
    if (total > 0) {
        display.permille = int(qBound<qint64>(0, done, total) * 1000 / total);
        where += QStringLiteral(" %1%").arg(display.permille / 10);
    } else if (!stage.isEmpty()) {
        where += QStringLiteral(" %1 行").arg(QLocale(QLocale::English).toString(done));
    }
    display.text = QStringLiteral("第%1/%2个文件  ").arg(number).arg(count) + where;
    return display;
}
