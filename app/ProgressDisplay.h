#pragma once

#include <QString>

/// What the window's progress bar shows while a batch runs: how far through the file in hand the
/// spreadsheet application is, and which file of how many it is.
struct ProgressDisplay
{
    int permille = 0; // of the current stage; 0 while the rows in all are not known (reading)
    QString text;     // "第3/200个文件  写入 45%", "第3/200个文件  读取 12,345 行"
};

/// The display for the `number`th of `count` .csv files, at `stage` ("reading", "preparing", "writing";
/// empty before the application reports), `done` rows of `total` (0 while not known).
ProgressDisplay progressDisplay(int number, int count, const QString& stage, qint64 done, qint64 total);
