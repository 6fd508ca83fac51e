// The log window: the servers' time-stamped lines, following new ones,
// with clearing and the switch for both servers' logging.
#include "logdialog.h"

#include "logdialogui.h"

#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>

namespace {
constexpr int kFollowDistance = 200;
}

LogDialog::LogDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new LogDialogUi)
{
    ui->setupUi(this);
    connect(ui->btnClear, &QPushButton::clicked, ui->logBrowser, &QTextBrowser::clear);
    connect(ui->btnEnable, &QCheckBox::clicked, this,
            [this] { emit enableLog(ui->btnEnable->isChecked()); });
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

LogDialog::~LogDialog()
{
    delete ui;
}

void LogDialog::appendLog(const QString &html)
{
    QScrollBar *bar = ui->logBrowser->verticalScrollBar();
    const bool follow = bar->value() > bar->maximum() - kFollowDistance;

    // A cursor of the document's own, so that inserting does not move the view.
    QTextCursor cursor(ui->logBrowser->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertHtml(html);

    if (follow)
        bar->setValue(bar->maximum());
}

void LogDialog::setLogChecked(bool checked)
{
    ui->btnEnable->setChecked(checked);
}
