// The widgets of the main window.
#ifndef ARVEX_UI_MAINWINDOWUI_H
#define ARVEX_UI_MAINWINDOWUI_H

class QHBoxLayout;
class QLabel;
class QMainWindow;
class QPushButton;
class QSpacerItem;
class QTableWidget;
class QVBoxLayout;
class QWidget;

struct MainWindowUi {
    QWidget *centralWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QLabel *netAdpLbl = nullptr;
    QTableWidget *camTable = nullptr;
    QLabel *statusLbl = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QPushButton *btnEnum = nullptr;
    QPushButton *btnLog = nullptr;
    QPushButton *btnOptions = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *btnExit = nullptr;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};

#endif
