// The client library against both real servers of the headless runner on
// 127.0.0.1 with the simulated camera: discovery, raw files absent and
// present, sessions, the download-folder change, and the runner's set-up
// errors.
#include "clientsession.h"

#include "adapters.h"
#include "headless.h"
#include "loopbackservers.h"
#include "qcameramonitor.h"
#include "rawfile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Ports of this test program: 27200 and up (see CMakeLists.txt).
constexpr quint16 kPortSeed = 27200;

bool writeRawFile(const QString &path, uint32_t width, uint32_t height, uint32_t bits,
                  uint32_t frames)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    RawFileWriter writer;
    QString error;
    const RawFileHeader header = makeRawFileHeader(width, height, bits);
    if (!writer.create(path, header, &error))
        return false;
    std::vector<uint8_t> frame(header.frameBytes, 0x5A);
    for (uint32_t i = 0; i < frames; ++i) {
        if (!writer.appendFrame(frame.data(), &error))
            return false;
    }
    writer.close();
    return true;
}

}  // namespace

class TestClientEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void discoverCamera();
    void rawFilesAbsent();
    void rawFilesPresent();
    void cameraSession();
    void downloadFolderChange();
    void setupErrors_data();
    void setupErrors();

private:
    ClientSession &client();

    QTemporaryDir folder;
    RunOptions options;
    std::unique_ptr<HeadlessServers> servers;
    std::unique_ptr<ClientSession> session;
};

void TestClientEndToEnd::initTestCase()
{
    QVERIFY(folder.isValid());
    options.downloadFolder = folder.path() + QStringLiteral("/downloads");
    QString error;
    servers = startLoopbackServers(&options, kPortSeed, &error);
    if (!servers && error == QLatin1String(kNoLoopbackAdapter))
        QSKIP(kNoLoopbackAdapter);
    QVERIFY2(servers, qPrintable(error));

    SessionOptions o;
    o.server = QHostAddress(QHostAddress::LocalHost);
    o.portBase = options.portBase;
    o.timeoutMs = 400;
    o.loopbackOnly = true;
    session = std::make_unique<ClientSession>();
    QVERIFY(session->start(o));
}

void TestClientEndToEnd::cleanupTestCase()
{
    session.reset();
    servers.reset();
}

ClientSession &TestClientEndToEnd::client()
{
    return *session;
}

void TestClientEndToEnd::discoverCamera()
{
    const auto camera = client().enumerateCameras();
    QVERIFY2(camera, qPrintable(client().lastError().message));
    QVERIFY(QByteArray(camera->text).startsWith("Arvex simulated camera 0"));
    QVERIFY(camera->serialNumber != 0);

    // The identity is the adapter the runner picked for --listen 127.0.0.1.
    AdapterInfo loopback;
    QVERIFY(findAdapterByAddress(0x7F000001, &loopback));
    QCOMPARE(camera->identity.address, 0x7F000001u);
    QCOMPARE(camera->identity.mask, loopback.ipMask);
    QCOMPARE(camera->identity.mtu, int(loopback.mtu));
    QCOMPARE(camera->identity.macAddress, macTextToNumber(loopback.macText));
    // Set just after the reply went out.
    QTRY_COMPARE(servers->cameraServer()->currentStatus(), int(StatusAwaitingConnection));
}

void TestClientEndToEnd::rawFilesAbsent()
{
    // Nothing to serve: the raw-file server stays silent.
    QVERIFY(!client().enumerateRawFiles());
    QCOMPARE(client().lastError().kind, ClientErrorKind::TimedOut);
    QVERIFY(!client().rawInfo(0));
    QCOMPARE(client().lastError().kind, ClientErrorKind::ErrorResult);
    QCOMPARE(int(client().lastError().result), int(RESULT_NO_RAW_FILE));
}

void TestClientEndToEnd::rawFilesPresent()
{
    const QString downloads = servers->downloadFolder();
    QVERIFY(writeRawFile(downloads + "/a.raw", 64, 48, 8, 3));
    QVERIFY(writeRawFile(downloads + "/sub/b.raw", 32, 16, 16, 2));

    QCOMPARE(client().enumerateRawFiles(), std::optional<int32_t>(2));
    const auto first = client().rawInfo(0);
    const auto second = client().rawInfo(1);
    QVERIFY2(first && second, qPrintable(client().lastError().message));
    QCOMPARE(QByteArray(first->text), QByteArray("a.raw"));
    QCOMPARE(QByteArray(second->text), QByteArray("sub/b.raw"));
    // The simulator's words: frames at 32, width at 56, height at 60, depth at 68.
    QCOMPARE(second->word32, 2u);
    QCOMPARE(second->word56, 32u);
    QCOMPARE(second->word60, 16u);
    QCOMPARE(second->word68, 16u);
    QVERIFY(!client().rawInfo(2));
    QCOMPARE(int(client().lastError().result), int(RESULT_NO_RAW_FILE));

    QVERIFY2(client().openRawFile(1), qPrintable(client().lastError().message));
    QCOMPARE(servers->rawFileServer()->openRawFileCount(), 1);
    // Already open: the server stays silent, the session untouched.
    QVERIFY(!client().openRawFile(1));
    QCOMPARE(client().lastError().kind, ClientErrorKind::TimedOut);
    QVERIFY(client().lastError().message.contains(QLatin1String("refused")));
    QVERIFY(client().nop(Channel::RawFile, 1));
    QVERIFY(client().close(Channel::RawFile, 1));
    // The acknowledgement goes out before the device is released.
    QTRY_COMPARE(servers->rawFileServer()->openRawFileCount(), 0);
    // An unknown number is not answered either.
    QVERIFY(!client().openRawFile(7));
    QCOMPARE(client().lastError().kind, ClientErrorKind::TimedOut);

    QFile::remove(downloads + "/a.raw");
    QDir(downloads + "/sub").removeRecursively();
}

void TestClientEndToEnd::cameraSession()
{
    QVERIFY(client().enumerateCameras());
    QVERIFY2(client().openCamera(16), qPrintable(client().lastError().message));
    QCOMPARE(servers->cameraServer()->currentStatus(), int(StatusConnected));
    QVERIFY(client().openCamera(16));  // reopened
    QVERIFY(client().nop(Channel::Camera));
    QVERIFY(client().close(Channel::Camera));
    QTRY_COMPARE(servers->cameraServer()->currentStatus(), int(StatusAwaitingConnection));
    QVERIFY(client().close(Channel::Camera));  // nothing open: still acknowledged
}

void TestClientEndToEnd::downloadFolderChange()
{
    // What the camera server announces becomes the download folder, and the
    // driver then lists the raw files found there.
    const QString recorded = folder.path() + QStringLiteral("/Rec/Take1");
    QVERIFY(writeRawFile(recorded + "/take.raw", 16, 8, 8, 1));
    const QString before = servers->downloadFolder();
    emit servers->cameraServer()->rawFolderChange(recorded);
    QCOMPARE(servers->downloadFolder(), recorded);
    const auto count = client().enumerateRawFiles();
    QVERIFY2(count, qPrintable(client().lastError().message));
    QCOMPARE(*count, 1);
    const auto info = client().rawInfo(0);
    QVERIFY(info);
    QCOMPARE(QByteArray(info->text), QByteArray("take.raw"));

    emit servers->cameraServer()->rawFolderChange(before);
    QCOMPARE(servers->downloadFolder(), before);
}

void TestClientEndToEnd::setupErrors_data()
{
    QTest::addColumn<QString>("listen");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("samePorts");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("no adapter has the address")
        << "203.0.113.7" << "" << false << kExitBadSetup << "203.0.113.7";
    QTest::newRow("0.0.0.0 names no adapter") << "0.0.0.0" << "" << false << kExitBadSetup
                                              << "0.0.0.0";
    QTest::newRow("driver that does not load")
        << "127.0.0.1" << "/nonexistent/libdriver.so" << false << kExitBadSetup
        << "/nonexistent/libdriver.so";
    QTest::newRow("ports taken") << "127.0.0.1" << "" << true << kExitServerFailed
                                 << "Cannot listen";
}

void TestClientEndToEnd::setupErrors()
{
    QFETCH(QString, listen);
    QFETCH(QString, driver);
    QFETCH(bool, samePorts);
    QFETCH(int, status);
    QFETCH(QString, message);

    RunOptions o = options;  // same folders: the driver's folder stays as it is
    o.listen = listen;
    if (!driver.isEmpty())
        o.driverPath = driver;
    if (!samePorts)
        o.portBase = quint16(options.portBase + 100);
    HeadlessServers second(o);
    QString error;
    int got = 0;
    QVERIFY(!second.start(&error, &got));
    QCOMPARE(got, status);
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(!second.cameraServer());

    // The running servers are untouched.
    QVERIFY(client().nop(Channel::Camera));
    QVERIFY(client().nop(Channel::RawFile));
}

QTEST_GUILESS_MAIN(TestClientEndToEnd)
#include "tst_client_e2e.moc"
