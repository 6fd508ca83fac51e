// Write-to-disk targets and the clean-up of small recordings on real folders.
#include "w2dtargets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString &path, qint64 size)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(size));
}

}  // namespace

class TestW2dTargets : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> temp;
    QString root, d, e;
    RecordingVolumes volumes;

    QVector<W2dTarget> prepare(const QString &letters, const QString &relative)
    {
        QVector<W2dTarget> targets;
        QString reason;
        if (!prepareW2dTargets(letters, relative, volumes, &targets, &reason))
            qWarning("prepare failed: %s", qPrintable(reason));
        return targets;
    }

private slots:
    void init()
    {
        temp.reset(new QTemporaryDir);
        QVERIFY(temp->isValid());
        root = QFileInfo(temp->path()).canonicalFilePath();
        d = root + "/d";
        e = root + "/e";
        QVERIFY(QDir().mkpath(d));
        QVERIFY(QDir().mkpath(e));
        volumes = {{'D', d}, {'E', e}};
    }

    void targetsOnEachVolume()
    {
        const auto targets = prepare("DE", "Rec/Take1");
        QCOMPARE(targets.size(), 2);
        QCOMPARE(targets[0].prefix, d + "/Rec/Take1");
        QCOMPARE(targets[1].prefix, e + "/Rec/Take1");
        QCOMPARE(targets[0].folder, d + "/Rec");
        QVERIFY(targets[0].folderCreated);
        QVERIFY(QFileInfo(e + "/Rec").isDir());
        QCOMPARE(firstRecordingFile(targets[0]), d + "/Rec/Take1.00.raw");
    }

    void refusesLinkOutOfVolume()
    {
        QVERIFY(QDir().mkpath(root + "/outside"));
        QVERIFY(QFile::link(root + "/outside", d + "/escape"));
        QVector<W2dTarget> targets;
        QString reason;
        QVERIFY(!prepareW2dTargets("D", "escape/Take1", volumes, &targets, &reason));
        QVERIFY(!reason.isEmpty());
        QVERIFY(targets.isEmpty());
    }

    void refusalOnOneVolumeCreatesNothing()
    {
        QVERIFY(QDir().mkpath(root + "/outside"));
        QVERIFY(QFile::link(root + "/outside", e + "/escape"));
        QVector<W2dTarget> targets;
        QString reason;
        QVERIFY(!prepareW2dTargets("DE", "escape/Take1", volumes, &targets, &reason));
        QVERIFY(!QFileInfo::exists(d + "/escape"));
        QVERIFY(QDir(root + "/outside").isEmpty());
    }

    void refusesFirstFileLinkedOut()
    {
        QVERIFY(QDir().mkpath(root + "/outside"));
        writeFile(root + "/outside/victim", 10);
        QVERIFY(QDir().mkpath(d + "/Rec"));
        QVERIFY(QFile::link(root + "/outside/victim", d + "/Rec/Take1.00.raw"));
        QVector<W2dTarget> targets;
        QString reason;
        QVERIFY(!prepareW2dTargets("D", "Rec/Take1", volumes, &targets, &reason));
        // A link to a file inside the volume is the volume's own business.
        QVERIFY(QFile::remove(d + "/Rec/Take1.00.raw"));
        writeFile(d + "/Rec/real", 10);
        QVERIFY(QFile::link(d + "/Rec/real", d + "/Rec/Take1.00.raw"));
        QVERIFY(prepareW2dTargets("D", "Rec/Take1", volumes, &targets, &reason));
    }

    void removeSmall_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("folderExisted");
        QTest::addColumn<qint64>("size");  // -1: no file
        QTest::addColumn<bool>("folderRemains");
        QTest::addColumn<bool>("fileRemains");

        QTest::newRow("small, created folder") << "Rec/Take1" << false << qint64(500000) << false << false;
        QTest::newRow("exactly 1 MiB stays") << "Rec/Take1" << false << qint64(1048576) << true << true;
        QTest::newRow("missing file") << "Rec/Take1" << false << qint64(-1) << true << false;
        QTest::newRow("small, folder existed") << "Rec/Take1" << true << qint64(500000) << true << false;
        QTest::newRow("small, volume root") << "Take1" << true << qint64(10) << true << false;
    }

    void removeSmall()
    {
        QFETCH(QString, relative);
        QFETCH(bool, folderExisted);
        QFETCH(qint64, size);
        QFETCH(bool, folderRemains);
        QFETCH(bool, fileRemains);

        if (folderExisted)
            QVERIFY(QDir().mkpath(QFileInfo(d + "/" + relative).path()));
        const auto targets = prepare("D", relative);
        QCOMPARE(targets.size(), 1);
        const W2dTarget t = targets[0];
        // Someone else's file in the same folder.
        writeFile(t.folder + "/other.txt", 5);
        if (size >= 0) {
            writeFile(firstRecordingFile(t), size);
            writeFile(t.prefix + ".01.raw", 5);
        }
        removeSmallRecording(t);
        QCOMPARE(QFileInfo(t.folder).isDir(), folderRemains);
        QCOMPARE(QFileInfo::exists(firstRecordingFile(t)), fileRemains);
        QVERIFY(QFileInfo(d).isDir());  // never the volume itself
        if (folderRemains)
            QVERIFY(QFileInfo::exists(t.folder + "/other.txt"));
        if (folderRemains && size >= 0 && size < kSmallRecordingBytes)
            QVERIFY(!QFileInfo::exists(t.prefix + ".01.raw"));
    }

    void cleanupDoesNotFollowLinks()
    {
        QVERIFY(QDir().mkpath(root + "/outside"));
        writeFile(root + "/outside/keep.bin", 7);
        const auto targets = prepare("D", "Rec/Take1");
        QCOMPARE(targets.size(), 1);
        QVERIFY(QFile::link(root + "/outside", targets[0].folder + "/link"));
        writeFile(firstRecordingFile(targets[0]), 100);
        removeSmallRecording(targets[0]);
        QVERIFY(!QFileInfo::exists(targets[0].folder));
        QVERIFY(QFileInfo::exists(root + "/outside/keep.bin"));
    }

    void cleanupRefusesFolderSwappedForLink()
    {
        // The recording's folder replaced by a link leading out after the start.
        QVERIFY(QDir().mkpath(root + "/outside"));
        const auto targets = prepare("D", "Rec/Take1");
        QCOMPARE(targets.size(), 1);
        writeFile(root + "/outside/Take1.00.raw", 100);
        QVERIFY(QDir(targets[0].folder).removeRecursively());
        QVERIFY(QFile::link(root + "/outside", targets[0].folder));
        QVERIFY(removeSmallRecording(targets[0]).isEmpty());
        QVERIFY(QFileInfo::exists(root + "/outside/Take1.00.raw"));
    }
};

QTEST_GUILESS_MAIN(TestW2dTargets)
#include "tst_w2dtargets.moc"
