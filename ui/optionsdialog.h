// The options dialog: adapter, download folder, network performance and
// image format. The main window reads the choices after acceptance.
#ifndef ARVEX_UI_OPTIONSDIALOG_H
#define ARVEX_UI_OPTIONSDIALOG_H

#include "adapters.h"

#include <QDialog>

struct OptionsDialogUi;

class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    OptionsDialog(const QString &adapterName, const QString &folder, int netPerformance,
                  int imageFormat, QWidget *parent = nullptr);
    ~OptionsDialog() override;

    // Empty when no adapter is listed.
    QString selectedAdapterName() const;
    QString selectedFolder() const;
    int selectedPerformance() const;
    int selectedImageFormat() const;

    void browseFolder();

private:
    OptionsDialogUi *ui;
    AdapterInfo adapters[MaxAdapters];
    int adapterCount = 0;
    // The format given, kept while the list still shows it, so that a value
    // the list has no entry of (2, another JPEG variant) survives an OK.
    int initialImageFormat = 0;
    int initialImageIndex = 0;
};

#endif
