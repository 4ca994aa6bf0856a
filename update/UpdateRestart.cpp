#include "update/UpdateRestart.h"

#include "update/FileHelpers.h"

#include <QCoreApplication>

#include <cstring>

namespace {

constexpr int kShowNormal = 1; // a normally shown window, where the system has a show state

} // namespace

QString updateSuccessTitle()
{
    return QString::fromUtf8("注意：");
}

QString updateSuccessText()
{
    return QString::fromUtf8("成功升级新版本!");
}

bool restartsAfterUpdate(const char* firstArgument)
{
    return !firstArgument || std::strcmp(firstArgument, "-autorun") != 0;
}

int quitAndRestart(const char* startPath)
{
    QCoreApplication::quit();
    return runProgram(startPath, "", kShowNormal);
}
