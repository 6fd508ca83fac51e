// One copy per key: a second copy is refused and exits 0, and a copy killed
// with SIGKILL does not keep the next one out. Real processes throughout.
#include "singleinstanceguard.h"

#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QSettings>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;
// The windowed program in this test serves from here (127.0.0.1 only).
constexpr quint16 kProgramPortBase = 41600;

QString uniqueKey(const char *what)
{
    return QStringLiteral("Arvex Remote Camera Control test %1 %2")
        .arg(QLatin1String(what))
        .arg(QCoreApplication::applicationPid());
}

// A guard holder process; its first line says what it got.
std::unique_ptr<QProcess> startHolder(const QString &key, QByteArray *answer)
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral(ARVEX_GUARD_HOLDER), {key});
    if (!process->waitForStarted(kWaitMs) || !process->waitForReadyRead(kWaitMs))
        *answer = "no answer";
    else
        *answer = process->readLine().trimmed();
    return process;
}

bool portTaken(quint16 port)
{
    QUdpSocket probe;
    return !probe.bind(QHostAddress::LocalHost, port, QAbstractSocket::DontShareAddress);
}

// Bounded wait for a copy of the program to have its camera server up.
bool waitUntilServing(QProcess &program)
{
    QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired()) {
        if (program.state() == QProcess::NotRunning)
            return false;
        if (portTaken(kProgramPortBase))
            return true;
        QTest::qWait(50);
    }
    return false;
}

}  // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void inOneProcess();
    void secondProcessAndKill();
    void program();

private:
    std::unique_ptr<QProcess> startProgram(const QTemporaryDir &home);
};

void TestSingleInstance::inOneProcess()
{
    const QString key = uniqueKey("local");
    auto first = std::make_unique<SingleInstanceGuard>(key);
    QVERIFY(first->created);
    QVERIFY(first->memory && first->memory->isAttached());
    SingleInstanceGuard second(key);
    QVERIFY(!second.created);
    first->release();
    QVERIFY(!first->created);
    QVERIFY(!first->memory);
    SingleInstanceGuard third(key);
    QVERIFY(third.created);
    QVERIFY(SingleInstanceGuard::programKey(1030).startsWith(
        QStringLiteral("Arvex Remote Camera Control")));
    QVERIFY(SingleInstanceGuard::programKey(1030) != SingleInstanceGuard::programKey(2000));
    third.release();
    QFile::remove(SingleInstanceGuard::lockFilePath(key));
}

void TestSingleInstance::secondProcessAndKill()
{
    const QString key = uniqueKey("processes");
    QByteArray answer;
    auto first = startHolder(key, &answer);
    QCOMPARE(answer, QByteArray("created"));

    auto second = startHolder(key, &answer);
    QCOMPARE(answer, QByteArray("refused"));
    QVERIFY(second->waitForFinished(kWaitMs));
    QCOMPARE(second->exitCode(), 0);

    first->kill();  // SIGKILL: no destructor runs, the segment stays behind
    QVERIFY(first->waitForFinished(kWaitMs));
    {
        QSharedMemory leftover(key);
        QVERIFY2(leftover.attach(), "the killed holder's segment should still exist");
    }
    auto third = startHolder(key, &answer);
    QCOMPARE(answer, QByteArray("created"));
    // And it keeps others out again.
    SingleInstanceGuard local(key);
    QVERIFY(!local.created);
    third->closeWriteChannel();
    QVERIFY(third->waitForFinished(kWaitMs));
    QCOMPARE(third->exitCode(), 0);
    QFile::remove(SingleInstanceGuard::lockFilePath(key));
}

std::unique_ptr<QProcess> TestSingleInstance::startProgram(const QTemporaryDir &home)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(ARVEX_REMOTE), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                                  QStringLiteral("--port-base"),
                                                  QString::number(kProgramPortBase),
                                                  QStringLiteral("--net-performance"),
                                                  QStringLiteral("77")});
    return process;
}

void TestSingleInstance::program()
{
    QTemporaryDir home;
    auto first = startProgram(home);
    QVERIFY2(waitUntilServing(*first), first->readAllStandardError().constData());

    auto second = startProgram(home);
    QVERIFY(second->waitForFinished(kWaitMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardError().contains(
        "Another instance of Arvex control is already running."));
    QVERIFY(first->state() == QProcess::Running);

    first->kill();
    QVERIFY(first->waitForFinished(kWaitMs));
    auto third = startProgram(home);
    QVERIFY2(waitUntilServing(*third), third->readAllStandardError().constData());
    QVERIFY(!third->readAllStandardError().contains("Another instance"));

    // Past the splash, so that the first-run options dialog is open: SIGTERM
    // still quits as Exit does.
    QTest::qWait(2500);
    third->terminate();
    QVERIFY(third->waitForFinished(kWaitMs));
    QCOMPARE(third->exitStatus(), QProcess::NormalExit);
    QCOMPARE(third->exitCode(), 0);
    QVERIFY(!portTaken(kProgramPortBase));
    QVERIFY(!portTaken(kProgramPortBase + 1));

    QSettings store(home.filePath(QStringLiteral("config/Korvane/RemoteCamera.conf")),
                    QSettings::IniFormat);
    QVERIFY(store.contains(QStringLiteral("Settings/NetAdapter")));
    // --net-performance was for that run only.
    QCOMPARE(store.value(QStringLiteral("Settings/NetPerformance")).toInt(), 4);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
