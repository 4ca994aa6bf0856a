#include "app/QtTranslation.h"

#include <QCoreApplication>

// The translation lives in a static library; this keeps it linked in. Must stand outside any namespace.
static void initTranslations()
{
    Q_INIT_RESOURCE(translations);
}

std::unique_ptr<QTranslator> InstallQtChineseTranslation()
{
    initTranslations();
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/translations/qtbase_zh_CN.qm")) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator;
}
