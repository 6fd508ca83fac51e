// The log stamp and the HTML log line.
#include "logstamp.h"

#include <QtTest>

using namespace std::chrono;

class TestLogStamp : public QObject
{
    Q_OBJECT

private slots:
    void stamp_data();
    void stamp();
    void htmlLine_data();
    void htmlLine();
};

void TestLogStamp::stamp_data()
{
    QTest::addColumn<qint64>("nanoseconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0.4 ms rounds down") << qint64(400000) << "00:00:00:000  ";
    QTest::newRow("0.5 ms rounds up") << qint64(500000) << "00:00:00:001  ";
    QTest::newRow("999.6 ms carries into seconds") << qint64(999600000) << "00:00:01:000  ";
    QTest::newRow("every field") << (qint64(3723456) * 1000000) << "01:02:03:456  ";
    QTest::newRow("59:59.999") << (qint64(3599999) * 1000000) << "00:59:59:999  ";
    QTest::newRow("100 hours, not wrapped") << (qint64(360000000) * 1000000) << "100:00:00:000  ";
    // Past 2^32 ms (49.7 days) the hours keep counting.
    QTest::newRow("1200 hours") << (qint64(1200) * 3600000 * 1000000) << "1200:00:00:000  ";
    QTest::newRow("clock before start") << qint64(-5) << "00:00:00:000  ";
}

void TestLogStamp::stamp()
{
    QFETCH(qint64, nanoseconds);
    QFETCH(QString, expected);
    QCOMPARE(formatLogStamp(std::chrono::nanoseconds(nanoseconds)), expected);
}

void TestLogStamp::htmlLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Open camera OK."
                           << "<p><font color=gray>00:00:00:000  </font><font color=white>"
                              "Open camera OK.</font><br/></p>";
    QTest::newRow("markup from a client shows as text")
        << "Folder: <b>x</b> & y"
        << "<p><font color=gray>00:00:00:000  </font><font color=white>"
           "Folder: &lt;b&gt;x&lt;/b&gt; &amp; y</font><br/></p>";
    QTest::newRow("percent signs stay") << "%1 %2"
                                        << "<p><font color=gray>00:00:00:000  </font><font "
                                           "color=white>%1 %2</font><br/></p>";
}

void TestLogStamp::htmlLine()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(htmlLogLine(QStringLiteral("00:00:00:000  "), text), expected);
}

QTEST_APPLESS_MAIN(TestLogStamp)
#include "tst_logstamp.moc"
