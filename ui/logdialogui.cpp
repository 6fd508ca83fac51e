// The widgets of the log window.
#include "logdialogui.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QVBoxLayout>

void LogDialogUi::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("LogDialog"));
    dialog->resize(400, 340);

    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(5);
    verticalLayout->setContentsMargins(10, 10, 10, 10);

    logBrowser = new QTextBrowser(dialog);
    logBrowser->setObjectName(QStringLiteral("logBrowser"));
    verticalLayout->addWidget(logBrowser);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(10);

    btnClear = new QPushButton(dialog);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    btnClear->setMinimumSize(80, 22);
    horizontalLayout->addWidget(btnClear);

    btnEnable = new QCheckBox(dialog);
    btnEnable->setObjectName(QStringLiteral("btnEnable"));
    btnEnable->setMinimumWidth(70);
    btnEnable->setChecked(false);
    horizontalLayout->addWidget(btnEnable);

    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);

    btnClose = new QPushButton(dialog);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setMinimumSize(80, 22);
    horizontalLayout->addWidget(btnClose);

    verticalLayout->addLayout(horizontalLayout);
    retranslateUi(dialog);
}

void LogDialogUi::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("LogDialog", "Log Window"));
    btnClear->setText(QCoreApplication::translate("LogDialog", "Clear Log"));
    btnEnable->setText(QCoreApplication::translate("LogDialog", "Enable Log."));
    btnClose->setText(QCoreApplication::translate("LogDialog", "Exit"));
}
