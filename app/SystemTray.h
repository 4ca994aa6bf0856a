#pragma once

#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;

/// The program's icon in the notification area, for as long as the program runs. Its menu brings the
/// window back ("软件设置") or ends the program ("退出程序").
class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT

  public:
    /// Builds the icon with its menu and tooltip and shows it.
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

  signals:
    /// The owner should show its window.
    void showWidget();

  public slots:
    void UiQuit();
    void ShowUi();

  private:
    std::unique_ptr<QMenu> menu_; // a menu is a widget: it cannot be a child of the icon
    QAction* settingsAction_;
    QAction* quitAction_;
};
