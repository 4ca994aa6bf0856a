#pragma once

#include <QMainWindow>

/// The program's main window. It shows itself unless the program was started with "-autorun".
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;
};
