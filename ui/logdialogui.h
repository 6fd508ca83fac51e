// The widgets of the log window.
#ifndef ARVEX_UI_LOGDIALOGUI_H
#define ARVEX_UI_LOGDIALOGUI_H

class QCheckBox;
class QDialog;
class QHBoxLayout;
class QPushButton;
class QSpacerItem;
class QTextBrowser;
class QVBoxLayout;

struct LogDialogUi {
    QVBoxLayout *verticalLayout = nullptr;
    QTextBrowser *logBrowser = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QPushButton *btnClear = nullptr;
    QCheckBox *btnEnable = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *btnClose = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

#endif
