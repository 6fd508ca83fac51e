// The named commands' answers as arvex-client reads them: the text of each
// answer, and answers of the wrong form refused rather than printed.
#include "cameracommands.h"

#include "protocol.h"

#include <QtTest>

namespace {

Reply ackReply(uint8_t result)
{
    Reply r;
    r.bytes = QByteArray(int(kAckSize), 0);
    buildAck(reinterpret_cast<uint8_t *>(r.bytes.data()), 7, PKT_COMMAND, result);
    r.header = decodeHeader(reinterpret_cast<const uint8_t *>(r.bytes.constData()), kAckSize);
    return r;
}

Reply commandReply(uint32_t sub, uint32_t valueLength, const QByteArray &value)
{
    Reply r;
    r.bytes = QByteArray(int(kCommandReplySize), 0);
    auto *bytes = reinterpret_cast<uint8_t *>(r.bytes.data());
    initCommandReply(bytes, 7, sub, valueLength);
    r.bytes.replace(int(kCommandValueOffset), value.size(), value);
    r.header = decodeHeader(bytes, kCommandReplySize);
    return r;
}

QByteArray words(std::initializer_list<uint32_t> values)
{
    QByteArray out;
    for (const uint32_t v : values) {
        char b[4];
        qToLittleEndian<uint32_t>(v, b);
        out.append(b, 4);
    }
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(Reply)

class TestCameraCommands : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestCameraCommands::answers_data()
{
    QTest::addColumn<QStringList>("words");  // command and its words
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");  // the printed line, or part of the error

    QTest::newRow("text parameter up to its length")
        << QStringList{"get-param", "35"} << commandReply(CMD_GET_PARAMETER, 3, "camXYZ") << true
        << "parameter 35: \"cam\"";
    QTest::newRow("text parameter of 160 bytes")
        << QStringList{"get-param", "1016"}
        << commandReply(CMD_GET_PARAMETER, 160, QByteArray(160, 'a')) << true
        << "parameter 1016: \"" + QString(160, 'a') + "\"";
    QTest::newRow("text longer than the value area")
        << QStringList{"get-param", "35"} << commandReply(CMD_GET_PARAMETER, 161, "x") << false
        << "value length 161";
    QTest::newRow("sensor block") << QStringList{"get-param", "1013"}
                                  << commandReply(CMD_GET_PARAMETER, 28, QByteArray(28, '\x01'))
                                  << true << "parameter 1013: 28 bytes: 01 01";
    QTest::newRow("numeric parameter")
        << QStringList{"get-param", "14"} << commandReply(CMD_GET_PARAMETER, 8, words({1280, 7}))
        << true << "parameter 14: 1280 (second value 7)";
    QTest::newRow("numeric parameter of the wrong length")
        << QStringList{"get-param", "14"} << commandReply(CMD_GET_PARAMETER, 4, words({1280}))
        << false << "value length 4";
    QTest::newRow("status") << QStringList{"status"}
                            << commandReply(CMD_GET_STATUS, 24, words({1, 2, 3, 4, 5, 4294967295u}))
                            << true << "status: 1 2 3 4 5 4294967295";
    QTest::newRow("geometry: all 64 bytes, though the length says 16")
        << QStringList{"geometry"}
        << commandReply(CMD_GET_STREAMING_GEOMETRY, 16,
                        words({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}))
        << true << "streaming geometry: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16";
    QTest::newRow("calibration complete")
        << QStringList{"calib-progress"}
        << commandReply(CMD_GET_CALIBRATION_PROGRESS, 12, words({5, 5, 1})) << true
        << "calibration: 5 of 5, complete";
    QTest::newRow("image bytes") << QStringList{"refresh-settings"}
                                 << commandReply(CMD_REFRESH_CAMERA_SETTINGS, 4, words({1310720}))
                                 << true << "image bytes: 1310720";
    QTest::newRow("reply to another sub-command")
        << QStringList{"get-setting", "3"} << commandReply(CMD_QUERY_SETTING, 4, words({8}))
        << false << "a reply to sub-command 9, not 10";
    QTest::newRow("an ack where values were asked for")
        << QStringList{"status"} << ackReply(0) << false << "an acknowledgement (result 0)";
    QTest::newRow("a reply where an ack was due")
        << QStringList{"live", "on"} << commandReply(CMD_LIVE, 0, QByteArray()) << false
        << "instead of an acknowledgement";
    QTest::newRow("flash write acknowledged") << QStringList{"flash", "write"} << ackReply(0)
                                              << true << "settings written to flash";
    QTest::newRow("set-setting acknowledged")
        << QStringList{"set-setting", "0x6d", "-1"} << ackReply(0) << true
        << "set setting 109 to 4294967295: acknowledged";
}

void TestCameraCommands::answers()
{
    QFETCH(QStringList, words);
    QFETCH(Reply, reply);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    const QString command = words.takeFirst();
    QVERIFY(isCameraCommand(command));
    uint32_t sub = 0;
    QVector<uint32_t> args;
    QString error;
    QVERIFY2(parseCameraCommand(command, words, &sub, &args, &error), qPrintable(error));
    const CameraCommandText answer = describeCameraAnswer(command, sub, args, reply);
    QCOMPARE(answer.ok, ok);
    if (ok) {
        QCOMPARE(answer.lines.size(), 1);
        QVERIFY2(answer.lines.first().startsWith(text), qPrintable(answer.lines.first()));
    } else {
        QVERIFY2(answer.error.contains(text), qPrintable(answer.error));
    }
}

QTEST_GUILESS_MAIN(TestCameraCommands)
#include "tst_cameracommands.moc"
