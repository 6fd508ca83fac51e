// The widgets of the options dialog.
#ifndef ARVEX_UI_OPTIONSDIALOGUI_H
#define ARVEX_UI_OPTIONSDIALOGUI_H

class QComboBox;
class QDialog;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpacerItem;
class QSpinBox;
class QVBoxLayout;

struct OptionsDialogUi {
    QVBoxLayout *verticalLayout_3 = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QLabel *netAdpLbl = nullptr;
    QComboBox *netAdpList = nullptr;
    QVBoxLayout *verticalLayout_2 = nullptr;
    QLabel *dwlFldLbl = nullptr;
    QLineEdit *dwlFldValue = nullptr;
    QHBoxLayout *horizontalLayout_4 = nullptr;
    QSpacerItem *horizontalSpacer_2 = nullptr;
    QPushButton *dwlFldBrowse = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QLabel *netPerfLbl = nullptr;
    QSpinBox *netPerfSpin = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QLabel *imgTypeLbl = nullptr;
    QComboBox *imgTypeList = nullptr;
    QHBoxLayout *horizontalLayout_3 = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

#endif
