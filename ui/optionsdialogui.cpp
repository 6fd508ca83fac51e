// The widgets of the options dialog.
#include "optionsdialogui.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

template <typename W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

}  // namespace

void OptionsDialogUi::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("OptionsDialog"));
    dialog->resize(340, 240);

    verticalLayout_3 = named(new QVBoxLayout(dialog), "verticalLayout_3");

    verticalLayout = named(new QVBoxLayout(), "verticalLayout");
    verticalLayout->setSpacing(0);
    netAdpLbl = named(new QLabel(dialog), "netAdpLbl");
    netAdpLbl->setMinimumHeight(20);
    verticalLayout->addWidget(netAdpLbl);
    netAdpList = named(new QComboBox(dialog), "netAdpList");
    netAdpList->setMinimumHeight(22);
    verticalLayout->addWidget(netAdpList);
    verticalLayout_3->addLayout(verticalLayout);

    verticalLayout_2 = named(new QVBoxLayout(), "verticalLayout_2");
    verticalLayout_2->setSpacing(0);
    dwlFldLbl = named(new QLabel(dialog), "dwlFldLbl");
    dwlFldLbl->setMinimumHeight(20);
    verticalLayout_2->addWidget(dwlFldLbl);
    dwlFldValue = named(new QLineEdit(dialog), "dwlFldValue");
    dwlFldValue->setMinimumHeight(20);
    dwlFldValue->setReadOnly(true);
    verticalLayout_2->addWidget(dwlFldValue);
    horizontalLayout_4 = named(new QHBoxLayout(), "horizontalLayout_4");
    horizontalLayout_4->setSpacing(0);
    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout_4->addItem(horizontalSpacer_2);
    dwlFldBrowse = named(new QPushButton(dialog), "dwlFldBrowse");
    dwlFldBrowse->setMinimumSize(80, 22);
    horizontalLayout_4->addWidget(dwlFldBrowse);
    verticalLayout_2->addLayout(horizontalLayout_4);
    verticalLayout_3->addLayout(verticalLayout_2);

    horizontalLayout = named(new QHBoxLayout(), "horizontalLayout");
    netPerfLbl = named(new QLabel(dialog), "netPerfLbl");
    horizontalLayout->addWidget(netPerfLbl);
    netPerfSpin = named(new QSpinBox(dialog), "netPerfSpin");
    netPerfSpin->setMinimumSize(70, 22);
    netPerfSpin->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    netPerfSpin->setRange(1, 100);
    netPerfSpin->setValue(4);
    horizontalLayout->addWidget(netPerfSpin);
    verticalLayout_3->addLayout(horizontalLayout);

    horizontalLayout_2 = named(new QHBoxLayout(), "horizontalLayout_2");
    imgTypeLbl = named(new QLabel(dialog), "imgTypeLbl");
    imgTypeLbl->setMinimumHeight(22);
    horizontalLayout_2->addWidget(imgTypeLbl);
    imgTypeList = named(new QComboBox(dialog), "imgTypeList");
    imgTypeList->setMinimumSize(160, 22);
    imgTypeList->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    horizontalLayout_2->addWidget(imgTypeList);
    verticalLayout_3->addLayout(horizontalLayout_2);

    horizontalLayout_3 = named(new QHBoxLayout(), "horizontalLayout_3");
    horizontalLayout_3->setSpacing(5);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout_3->addItem(horizontalSpacer);
    btnOK = named(new QPushButton(dialog), "btnOK");
    btnOK->setMinimumSize(80, 22);
    horizontalLayout_3->addWidget(btnOK);
    btnCancel = named(new QPushButton(dialog), "btnCancel");
    btnCancel->setMinimumSize(80, 22);
    horizontalLayout_3->addWidget(btnCancel);
    verticalLayout_3->addLayout(horizontalLayout_3);

    retranslateUi(dialog);
}

void OptionsDialogUi::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("OptionsDialog", "Options"));
    netAdpLbl->setText(QCoreApplication::translate("OptionsDialog", "Select the network adapter:"));
    dwlFldLbl->setText(QCoreApplication::translate("OptionsDialog", "Download folder:"));
    dwlFldBrowse->setText(QCoreApplication::translate("OptionsDialog", "Browse..."));
    netPerfLbl->setText(QCoreApplication::translate("OptionsDialog", "Network performance:"));
    imgTypeLbl->setText(QCoreApplication::translate("OptionsDialog", "Image format:"));
    btnOK->setText(QCoreApplication::translate("OptionsDialog", "OK"));
    btnCancel->setText(QCoreApplication::translate("OptionsDialog", "Cancel"));
}
