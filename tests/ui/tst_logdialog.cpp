// The log window: following new lines, keeping a reader's place, clearing,
// the logging switch and its own Exit.
#include "camerainfotext.h"
#include "logdialog.h"
#include "uitestkit.h"

#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest>

class TestLogDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void widgets();
    void followsOrKeepsView_data();
    void followsOrKeepsView();
    void clearStartsAFreshDocument();
    void enableBoxEmitsItsState();
    void exitRejects();

private:
    void fill(int lines);
    QTextBrowser *browser() const { return dialog->findChild<QTextBrowser *>("logBrowser"); }

    LogDialog *dialog = nullptr;
};

void TestLogDialog::init()
{
    dialog = new LogDialog;
    dialog->resize(400, 200);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
}

void TestLogDialog::cleanup()
{
    delete dialog;
    dialog = nullptr;
}

void TestLogDialog::fill(int lines)
{
    for (int i = 0; i < lines; ++i)
        dialog->appendLog(windowLogLine(i, QStringLiteral("line %1").arg(i)));
}

void TestLogDialog::widgets()
{
    QCOMPARE(dialog->objectName(), QStringLiteral("LogDialog"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Log Window"));
    QVERIFY(browser());
    QCOMPARE(dialog->findChild<QPushButton *>("btnClear")->text(), QStringLiteral("Clear Log"));
    QCOMPARE(dialog->findChild<QPushButton *>("btnClose")->text(), QStringLiteral("Exit"));
    auto *box = dialog->findChild<QCheckBox *>("btnEnable");
    QCOMPARE(box->text(), QStringLiteral("Enable Log."));
    QVERIFY(!box->isChecked());
}

void TestLogDialog::followsOrKeepsView_data()
{
    QTest::addColumn<int>("scrolledUp");
    QTest::addColumn<bool>("follows");
    QTest::newRow("at the bottom") << 0 << true;
    QTest::newRow("150 px up") << 150 << true;
    QTest::newRow("300 px up") << 300 << false;
    QTest::newRow("at the top") << -1 << false;
}

void TestLogDialog::followsOrKeepsView()
{
    QFETCH(int, scrolledUp);
    QFETCH(bool, follows);
    fill(200);
    QScrollBar *bar = browser()->verticalScrollBar();
    QVERIFY(bar->maximum() > 1000);
    QCOMPARE(bar->value(), bar->maximum());  // it followed while filling

    const int place = scrolledUp < 0 ? 0 : bar->maximum() - scrolledUp;
    bar->setValue(place);
    const int oldMaximum = bar->maximum();
    fill(5);
    QVERIFY(bar->maximum() > oldMaximum);
    if (follows)
        QCOMPARE(bar->value(), bar->maximum());
    else
        QCOMPARE(bar->value(), place);
    QVERIFY(browser()->toPlainText().trimmed().endsWith(QStringLiteral("line 4")));
}

void TestLogDialog::clearStartsAFreshDocument()
{
    fill(3);
    QVERIFY(browser()->toPlainText().contains(QStringLiteral("line 2")));
    QTest::mouseClick(dialog->findChild<QPushButton *>("btnClear"), Qt::LeftButton);
    QVERIFY(browser()->toPlainText().isEmpty());
    dialog->appendLog(windowLogLine(61001, QStringLiteral("fresh")));
    QCOMPARE(browser()->toPlainText().trimmed(), QStringLiteral("00:01:01:001 fresh"));
}

void TestLogDialog::enableBoxEmitsItsState()
{
    QSignalSpy spy(dialog, &LogDialog::enableLog);
    auto *box = dialog->findChild<QCheckBox *>("btnEnable");
    box->click();
    box->click();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    // Ticked from the program (--log): the box shows it, nothing is emitted.
    dialog->setLogChecked(true);
    QVERIFY(box->isChecked());
    QCOMPARE(spy.count(), 2);
}

void TestLogDialog::exitRejects()
{
    QSignalSpy rejected(dialog, &QDialog::rejected);
    QTest::mouseClick(dialog->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog->isVisible());
}

ARVEX_UI_TEST_MAIN(TestLogDialog)
#include "tst_logdialog.moc"
