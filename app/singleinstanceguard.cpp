// Lets one copy of the windowed program run per key; a copy that was killed
// does not keep later copies out.
//
// A System V segment outlives a process killed with SIGKILL, so on Unix the
// decision rests on a flock() on a file, which the kernel drops with the
// process. The segment is still created (and a stale one cleared) so that the
// guard behaves as on platforms where the segment alone decides.
#include "singleinstanceguard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSharedMemory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

constexpr int kSegmentSize = 1024;

bool createSegment(QSharedMemory *memory)
{
    if (memory->create(kSegmentSize, QSharedMemory::ReadWrite))
        return true;
    if (memory->error() != QSharedMemory::AlreadyExists)
        return false;
    // Left behind by a copy that did not end normally: the last detach removes it.
    if (memory->attach())
        memory->detach();
    return memory->create(kSegmentSize, QSharedMemory::ReadWrite);
}

}  // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString &key)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(lockFilePath(key));
    lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0)  // another user's file: flock() needs only read access
        lockFd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        lockFd = -1;
        return;
    }
    memory = new QSharedMemory(key);
    createSegment(memory);
    // Holding the lock proves no other copy lives; without a lock file the
    // segment decides.
    created = lockFd >= 0 || memory->isAttached();
#else
    memory = new QSharedMemory(key);
    created = memory->create(kSegmentSize, QSharedMemory::ReadWrite);
#endif
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    release();
}

void SingleInstanceGuard::release()
{
    delete memory;
    memory = nullptr;
    created = false;
#ifdef Q_OS_UNIX
    if (lockFd >= 0) {
        ::close(lockFd);
        lockFd = -1;
    }
#endif
}

QString SingleInstanceGuard::programKey(quint16 portBase)
{
    return QStringLiteral("Arvex Remote Camera Control - port base %1").arg(portBase);
}

QString SingleInstanceGuard::lockFilePath(const QString &key)
{
    const QByteArray digest =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(QDir::tempPath()).filePath(QStringLiteral("arvex-instance-%1.lock")
                                               .arg(QString::fromLatin1(digest)));
}
