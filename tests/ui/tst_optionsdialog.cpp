// The options dialog: the adapter list and its preselection, the read-only
// folder, the performance range and the image format choice.
#include "optionsdialog.h"
#include "uitestkit.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestOptionsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void widgets();
    void adapterPreselection_data();
    void adapterPreselection();
    void noAdapters();
    void performanceIsClamped_data();
    void performanceIsClamped();
    void imageFormat_data();
    void imageFormat();
    void buttons();
    void folderChooser_data();
    void folderChooser();
};

namespace {

template <typename T>
T *child(const QDialog &dialog, const char *name)
{
    T *widget = dialog.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

}  // namespace

void TestOptionsDialog::init()
{
    QVector<AdapterInfo> list = uitest::loopbackPair();
    list.append(uitest::adapter("eth9", "No Address", 0));
    uitest::useAdapters(list);
}

void TestOptionsDialog::widgets()
{
    OptionsDialog dialog(QStringLiteral("lo-b"), QStringLiteral("/data/raw"), 4, 0);
    QCOMPARE(dialog.objectName(), QStringLiteral("OptionsDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));
    auto *list = child<QComboBox>(dialog, "netAdpList");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->itemText(0), QStringLiteral("Loopback A [127.0.0.1]"));
    QCOMPARE(list->itemText(1), QStringLiteral("Loopback B [127.0.0.2]"));
    QCOMPARE(list->itemText(2), QStringLiteral("No Address [0.0.0.0]"));

    auto *folder = child<QLineEdit>(dialog, "dwlFldValue");
    QCOMPARE(folder->text(), QStringLiteral("/data/raw"));
    QVERIFY(folder->isReadOnly());
    QCOMPARE(dialog.selectedFolder(), QStringLiteral("/data/raw"));

    auto *spin = child<QSpinBox>(dialog, "netPerfSpin");
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 100);

    auto *formats = child<QComboBox>(dialog, "imgTypeList");
    QCOMPARE(formats->count(), 2);
    QCOMPARE(formats->itemText(0), QStringLiteral("Uncompressed"));
    QCOMPARE(formats->itemText(1), QStringLiteral("Compressed"));

    const QStringList labels = {"netAdpLbl", "dwlFldLbl", "netPerfLbl", "imgTypeLbl"};
    const QStringList texts = {"Select the network adapter:", "Download folder:",
                               "Network performance:", "Image format:"};
    for (int i = 0; i < labels.size(); ++i) {
        auto *label = child<QLabel>(dialog, labels.at(i).toLatin1().constData());
        QCOMPARE(label->text(), texts.at(i));
        QCOMPARE(label->styleSheet(), QStringLiteral("QLabel { color: rgba(255,170,52,192);}"));
    }
    QCOMPARE(child<QPushButton>(dialog, "dwlFldBrowse")->text(), QStringLiteral("Browse..."));
}

void TestOptionsDialog::adapterPreselection_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("selected");
    QTest::newRow("second") << "lo-b" << 1 << "lo-b";
    QTest::newRow("without address") << "eth9" << 2 << "eth9";
    QTest::newRow("missing: first") << "gone0" << 0 << "lo-a";
    QTest::newRow("empty: first") << "" << 0 << "lo-a";
    QTest::newRow("case matters") << "LO-B" << 0 << "lo-a";
}

void TestOptionsDialog::adapterPreselection()
{
    QFETCH(QString, current);
    QFETCH(int, index);
    QFETCH(QString, selected);
    OptionsDialog dialog(current, QString(), 4, 0);
    QCOMPARE(child<QComboBox>(dialog, "netAdpList")->currentIndex(), index);
    QCOMPARE(dialog.selectedAdapterName(), selected);
}

void TestOptionsDialog::noAdapters()
{
    uitest::useAdapters({});
    OptionsDialog dialog(QStringLiteral("lo-a"), QString(), 4, 0);
    QCOMPARE(child<QComboBox>(dialog, "netAdpList")->count(), 0);
    QCOMPARE(dialog.selectedAdapterName(), QString());
}

void TestOptionsDialog::performanceIsClamped_data()
{
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("shown");
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("250") << 250 << 100;
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("negative") << -7 << 1;
}

void TestOptionsDialog::performanceIsClamped()
{
    QFETCH(int, given);
    QFETCH(int, shown);
    OptionsDialog dialog(QStringLiteral("lo-a"), QString(), given, 0);
    QCOMPARE(dialog.selectedPerformance(), shown);
}

void TestOptionsDialog::imageFormat_data()
{
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("choose");  // -1: leave the list alone
    QTest::addColumn<int>("selected");
    QTest::newRow("0 kept") << 0 << 0 << -1 << 0;
    QTest::newRow("1 kept") << 1 << 1 << -1 << 1;
    QTest::newRow("0 to 1") << 0 << 0 << 1 << 1;
    QTest::newRow("1 to 0") << 1 << 1 << 0 << 0;
    // 2 is the other JPEG form: shown as compressed and kept unless changed.
    QTest::newRow("2 kept") << 2 << 1 << -1 << 2;
    QTest::newRow("2 to 0") << 2 << 1 << 0 << 0;
    QTest::newRow("stored garbage") << 7 << 1 << -1 << 1;
    QTest::newRow("negative") << -1 << 1 << -1 << 1;
}

void TestOptionsDialog::imageFormat()
{
    QFETCH(int, given);
    QFETCH(int, index);
    QFETCH(int, choose);
    QFETCH(int, selected);
    OptionsDialog dialog(QStringLiteral("lo-a"), QString(), 4, given);
    auto *formats = child<QComboBox>(dialog, "imgTypeList");
    QCOMPARE(formats->currentIndex(), index);
    if (choose >= 0)
        formats->setCurrentIndex(choose);
    QCOMPARE(dialog.selectedImageFormat(), selected);
}

void TestOptionsDialog::buttons()
{
    OptionsDialog dialog(QStringLiteral("lo-a"), QString(), 4, 0);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    child<QPushButton>(dialog, "btnOK")->click();
    child<QPushButton>(dialog, "btnCancel")->click();
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(rejected.count(), 1);
}

void TestOptionsDialog::folderChooser_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("chosen") << true;
    QTest::newRow("cancelled") << false;
}

void TestOptionsDialog::folderChooser()
{
    QFETCH(bool, accept);
    QTemporaryDir chosen;
    OptionsDialog dialog(QStringLiteral("lo-a"), QStringLiteral("/data/raw"), 4, 0);
    QString title;
    bool unexpected = false;
    QTimer answer;
    answer.setInterval(50);
    connect(&answer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *chooser = qobject_cast<QFileDialog *>(modal);
        if (!chooser) {
            // Anything else in the way (a warning box) must not hang the test.
            if (auto *other = qobject_cast<QDialog *>(modal); other && other != &dialog) {
                unexpected = true;
                other->reject();
            }
            return;
        }
        title = chooser->windowTitle();
        if (accept) {
            auto *name = chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (name)
                name->setText(chosen.path());
            static_cast<QDialog *>(chooser)->accept();
        }
        if (chooser->isVisible())
            chooser->reject();
    });
    answer.start();
    dialog.browseFolder();
    QVERIFY(!unexpected);
    QCOMPARE(title, QStringLiteral("Open download folder"));
    QCOMPARE(dialog.selectedFolder(), accept ? chosen.path() : QStringLiteral("/data/raw"));
}

ARVEX_UI_TEST_MAIN(TestOptionsDialog)
#include "tst_optionsdialog.moc"
