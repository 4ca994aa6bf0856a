#include "app/SystemTray.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

SystemTray::SystemTray(QObject* parent)
    : QSystemTrayIcon(parent), menu_(std::make_unique<QMenu>()),
      settingsAction_(new QAction(QStringLiteral("软件设置"), this)),
      quitAction_(new QAction(QStringLiteral("退出程序"), this))
{
    menu_->addAction(settingsAction_);
    menu_->addAction(quitAction_);
    setContextMenu(menu_.get());
    setIcon(QIcon(QStringLiteral(":/images/qmk.ico")));
    setToolTip(QStringLiteral("Quillmark"));
    show();
    connect(settingsAction_, &QAction::triggered, this, &SystemTray::ShowUi);
    connect(quitAction_, &QAction::triggered, this, &SystemTray::UiQuit);
}

SystemTray::~SystemTray() = default;

void SystemTray::UiQuit()
{
    QCoreApplication::quit();
}

void SystemTray::ShowUi()
{
    emit showWidget();
}
