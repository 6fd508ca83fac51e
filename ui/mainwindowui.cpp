// The widgets of the main window.
#include "mainwindowui.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSpacerItem>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QPushButton *button(QWidget *parent, const char *name, int minimumWidth)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setMinimumSize(minimumWidth, 22);
    return b;
}

}  // namespace

void MainWindowUi::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(370, 230);
    window->setMinimumSize(370, 230);
    window->setWindowIcon(QIcon(QStringLiteral(":/res/camera.png")));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    verticalLayout = new QVBoxLayout(centralWidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(4);
    verticalLayout->setContentsMargins(10, 4, 10, 10);

    netAdpLbl = new QLabel(centralWidget);
    netAdpLbl->setObjectName(QStringLiteral("netAdpLbl"));
    netAdpLbl->setMinimumHeight(36);
    netAdpLbl->setAlignment(Qt::AlignCenter);
    verticalLayout->addWidget(netAdpLbl);

    camTable = new QTableWidget(centralWidget);
    camTable->setObjectName(QStringLiteral("camTable"));
    camTable->setMinimumHeight(60);
    camTable->horizontalHeader()->setVisible(false);
    camTable->verticalHeader()->setVisible(false);
    verticalLayout->addWidget(camTable);

    statusLbl = new QLabel(centralWidget);
    statusLbl->setObjectName(QStringLiteral("statusLbl"));
    statusLbl->setMinimumHeight(24);
    statusLbl->setAlignment(Qt::AlignCenter);
    verticalLayout->addWidget(statusLbl);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(6);
    btnEnum = button(centralWidget, "btnEnum", 80);
    horizontalLayout->addWidget(btnEnum);
    btnLog = button(centralWidget, "btnLog", 70);
    btnLog->setCheckable(true);
    horizontalLayout->addWidget(btnLog);
    btnOptions = button(centralWidget, "btnOptions", 80);
    horizontalLayout->addWidget(btnOptions);
    horizontalSpacer = new QSpacerItem(77, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnExit = button(centralWidget, "btnExit", 70);
    horizontalLayout->addWidget(btnExit);
    verticalLayout->addLayout(horizontalLayout);

    window->setCentralWidget(centralWidget);
    retranslateUi(window);
}

void MainWindowUi::retranslateUi(QMainWindow *window)
{
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "Arvex Remote Control"));
    netAdpLbl->setText(QCoreApplication::translate("MainWindow", "Network adapter"));
    statusLbl->setText(QCoreApplication::translate("MainWindow", "Status"));
    btnEnum->setText(QCoreApplication::translate("MainWindow", "Find Camera"));
    btnLog->setText(QCoreApplication::translate("MainWindow", "Log"));
    btnOptions->setText(QCoreApplication::translate("MainWindow", "Options..."));
    btnExit->setText(QCoreApplication::translate("MainWindow", "Exit"));
}
