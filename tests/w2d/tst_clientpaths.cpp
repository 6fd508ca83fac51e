// Client path confinement and write-to-disk volume choice.
#include "clientpaths.h"
#include "w2dvolumes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestClientPaths : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir temp;
    RecordingVolumes volumes;
    QString d, e, outside;

private slots:
    void initTestCase()
    {
        QVERIFY(temp.isValid());
        const QString root = QFileInfo(temp.path()).canonicalFilePath();
        d = root + "/d";
        e = root + "/e";
        outside = root + "/outside";
        for (const QString &p : {d, e, outside})
            QVERIFY(QDir().mkpath(p));
        QVERIFY(QDir().mkpath(d + "/Rec"));
        // A link inside volume D that leads out of it, and one that stays in.
        QVERIFY(QFile::link(outside, d + "/escape"));
        QVERIFY(QFile::link(d + "/Rec", d + "/inner"));
        volumes = {{'D', d}, {'E', e}};
    }

    void resolve_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");  // relative to the temp root

        QTest::newRow("relative in first volume") << QByteArray("Rec\\Take1\\file.raw") << true << "d/Rec/Take1/file.raw";
        QTest::newRow("forward slashes") << QByteArray("Rec/Take1/file") << true << "d/Rec/Take1/file";
        QTest::newRow("drive letter selects volume") << QByteArray("E:\\Rec\\x") << true << "e/Rec/x";
        QTest::newRow("lower-case letter") << QByteArray("e:/Rec/x") << true << "e/Rec/x";
        QTest::newRow("dot components dropped") << QByteArray("./Rec/./x") << true << "d/Rec/x";
        QTest::newRow("link staying inside") << QByteArray("inner/x") << true << "d/inner/x";
        QTest::newRow("dotdot") << QByteArray("..\\..\\etc") << false << QString();
        QTest::newRow("dotdot after letter") << QByteArray("D:..\\x") << false << QString();
        QTest::newRow("dotdot in the middle") << QByteArray("Rec/../../x") << false << QString();
        QTest::newRow("absolute outside") << QByteArray("/etc/x") << false << QString();
        QTest::newRow("windows system path") << QByteArray("C:\\Windows") << false << QString();
        QTest::newRow("link leading out") << QByteArray("escape/x") << false << QString();
        QTest::newRow("link leading out by letter") << QByteArray("D:\\escape") << false << QString();
        QTest::newRow("empty") << QByteArray("") << false << QString();
    }

    void resolve()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        const ResolvedPath r = resolveClientPath(path, volumes);
        QCOMPARE(r.ok, ok);
        if (ok) {
            const QString root = QFileInfo(temp.path()).canonicalFilePath();
            // Links are resolved only for the check; the path stays as named.
            QCOMPARE(r.absolute, root + "/" + expected);
        } else {
            QVERIFY(!r.reason.isEmpty());
        }
    }

    void absoluteInsideVolume()
    {
        const ResolvedPath r = resolveClientPath((e + "/Take/x").toLatin1(), volumes);
        QVERIFY(r.ok);
        QCOMPARE(r.volume, QChar('E'));
        QCOMPARE(r.absolute, e + "/Take/x");
        // A sibling folder whose name starts like the volume is not inside it.
        QVERIFY(!resolveClientPath((d + "x/file").toLatin1(), volumes).ok);
    }

    void pathField_data()
    {
        QTest::addColumn<int>("textLength");
        QTest::addColumn<bool>("ok");
        QTest::newRow("511 bytes and NUL") << 511 << true;
        QTest::newRow("512 bytes, no NUL") << 512 << false;
        QTest::newRow("600 bytes") << 600 << false;
    }

    void pathField()
    {
        QFETCH(int, textLength);
        QFETCH(bool, ok);
        QByteArray datagram(80, '\0');
        datagram.append(QByteArray(textLength, 'a'));
        datagram.append('\0');
        const auto field = clientPathField(reinterpret_cast<const uint8_t *>(datagram.constData()),
                                           size_t(datagram.size()), 80);
        QCOMPARE(field.has_value(), ok);
        if (ok)
            QCOMPARE(field->size(), textLength);
    }

    void pathFieldEdges()
    {
        const QByteArray nulInside("ab\0cd\0", 6);
        auto f = clientPathField(reinterpret_cast<const uint8_t *>(nulInside.constData()), 6, 0);
        QVERIFY(f);
        QCOMPARE(*f, QByteArray("ab"));
        // The datagram ends before any NUL.
        const QByteArray cut("abcdef");
        QVERIFY(!clientPathField(reinterpret_cast<const uint8_t *>(cut.constData()), 6, 0));
        QVERIFY(!clientPathField(reinterpret_cast<const uint8_t *>(cut.constData()), 6, 80));
    }

    void pathFieldPadding_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("padded");
        QTest::newRow("zeros after the NUL") << QByteArray("ab\0\0\0", 5) << true;
        QTest::newRow("text after the NUL") << QByteArray("ab\0cd\0", 6) << false;
        QTest::newRow("one byte at the field's end") << (QByteArray("ab", 2) + QByteArray(509, '\0') + 'x') << false;
        QTest::newRow("past the field does not count") << (QByteArray("ab", 2) + QByteArray(510, '\0') + 'x') << true;
        QTest::newRow("no NUL: not this check's refusal") << QByteArray("abc") << true;
    }

    void pathFieldPadding()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, padded);
        QCOMPARE(clientPathFieldPadded(reinterpret_cast<const uint8_t *>(datagram.constData()),
                                       size_t(datagram.size()), 0),
                 padded);
    }

    void w2dFolder_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("relative");  // empty: refused

        QTest::newRow("plain") << QByteArray("Rec\\Take1") << "D" << "Rec/Take1";
        QTest::newRow("chosen letter dropped") << QByteArray("D:\\Rec\\Take1") << "DE" << "Rec/Take1";
        QTest::newRow("other letter") << QByteArray("C:\\Windows\\x") << "D" << QString();
        QTest::newRow("absolute") << QByteArray("/etc/x") << "D" << QString();
        QTest::newRow("dotdot") << QByteArray("..\\..\\etc") << "D" << QString();
        QTest::newRow("drive relative dotdot") << QByteArray("D:..\\x") << "D" << QString();
        QTest::newRow("empty") << QByteArray("") << "D" << QString();
        QTest::newRow("root only") << QByteArray("D:\\") << "D" << QString();
    }

    void w2dFolder()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, chosen);
        QFETCH(QString, relative);
        const W2dFolder f = validateW2dFolder(path, chosen);
        QCOMPARE(f.ok, !relative.isEmpty());
        QCOMPARE(f.relative, relative);
    }

    void volumeChoice_data()
    {
        QTest::addColumn<uint32_t>("requested");
        QTest::addColumn<QString>("letters");  // encoded as the choice word
        QTest::addColumn<QString>("usable");
        QTest::addColumn<QString>("chosen");

        QTest::newRow("one") << 1u << "E" << "DEF" << "E";
        QTest::newRow("two in slot order") << 2u << "ED" << "DEF" << "ED";
        QTest::newRow("count limits slots") << 1u << "ED" << "DEF" << "E";
        QTest::newRow("absent falls back to first usable") << 1u << "X" << "DEF" << "D";
        QTest::newRow("zero requested falls back") << 0u << "E" << "DEF" << "D";
        QTest::newRow("unusable skipped") << 2u << "DE" << "EF" << "E";
        QTest::newRow("fallback skips unusable") << 1u << "X" << "F" << "F";
        QTest::newRow("nothing usable") << 1u << "D" << "" << "";
        QTest::newRow("duplicate letter once") << 2u << "DD" << "DEF" << "D";
        QTest::newRow("lower case letter") << 1u << "f" << "DEF" << "F";
        QTest::newRow("more than four slots clipped") << 9u << "DEFG" << "DEFG" << "DEFG";
    }

    void volumeChoice()
    {
        QFETCH(uint32_t, requested);
        QFETCH(QString, letters);
        QFETCH(QString, usable);
        QFETCH(QString, chosen);
        const RecordingVolumes table = {{'D', "/d"}, {'E', "/e"}, {'F', "/f"}, {'G', "/g"}};
        const QString got = chooseW2dVolumes(
            requested, encodeVolumeChoice(letters), table,
            [&](const RecordingVolume &v) { return usable.contains(v.letter); });
        QCOMPARE(got, chosen);
    }

    void volumeUsableOnDisk()
    {
        QVERIFY(volumeUsable({'D', d}));
        QVERIFY(!volumeUsable({'Z', d + "/missing"}));
    }
};

QTEST_GUILESS_MAIN(TestClientPaths)
#include "tst_clientpaths.moc"
