// The options dialog: adapter, download folder, network performance and
// image format. The main window reads the choices after acceptance.
#include "optionsdialog.h"

#include "optionsdialogui.h"
#include "settingsadapters.h"

#include <QComboBox>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

OptionsDialog::OptionsDialog(const QString &adapterName, const QString &folder,
                             int netPerformance, int imageFormat, QWidget *parent)
    : QDialog(parent)
    , ui(new OptionsDialogUi)
{
    ui->setupUi(this);

    adapterCount = listAdapters(adapters, MaxAdapters);
    int current = 0;
    for (int i = 0; i < adapterCount; ++i) {
        ui->netAdpList->addItem(QIcon(), QStringLiteral("%1 [%2]")
                                             .arg(QString::fromLatin1(adapters[i].description),
                                                  ipToText(adapters[i].ipAddress)));
        if (adapterName == QLatin1String(adapters[i].name))
            current = i;
    }
    ui->netAdpList->setCurrentIndex(adapterCount > 0 ? current : -1);

    ui->dwlFldValue->setText(folder);
    connect(ui->dwlFldBrowse, &QPushButton::clicked, this, &OptionsDialog::browseFolder);

    ui->netPerfSpin->setValue(netPerformance);

    ui->imgTypeList->addItem(tr("Uncompressed"));
    ui->imgTypeList->addItem(tr("Compressed"));
    initialImageFormat = imageFormat;
    initialImageIndex = imageFormat != 0 ? 1 : 0;
    ui->imgTypeList->setCurrentIndex(initialImageIndex);

    const QString labelStyle = QStringLiteral("QLabel { color: rgba(255,170,52,192);}");
    for (QLabel *label : {ui->netAdpLbl, ui->dwlFldLbl, ui->netPerfLbl, ui->imgTypeLbl})
        label->setStyleSheet(labelStyle);

    connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

OptionsDialog::~OptionsDialog()
{
    delete ui;
}

QString OptionsDialog::selectedAdapterName() const
{
    const int index = ui->netAdpList->currentIndex();
    if (index < 0 || index >= adapterCount)
        return QString();
    return QString::fromLatin1(adapters[index].name);
}

QString OptionsDialog::selectedFolder() const
{
    return ui->dwlFldValue->text();
}

int OptionsDialog::selectedPerformance() const
{
    return ui->netPerfSpin->value();
}

int OptionsDialog::selectedImageFormat() const
{
    const int index = ui->imgTypeList->currentIndex();
    if (index == initialImageIndex && initialImageFormat >= 0 && initialImageFormat <= 2)
        return initialImageFormat;
    return index;
}

void OptionsDialog::browseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Open download folder"), ui->dwlFldValue->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!folder.isEmpty())
        ui->dwlFldValue->setText(folder);
}
