// Lets one copy of the windowed program run per key; a copy that was killed
// does not keep later copies out.
#ifndef ARVEX_APP_SINGLEINSTANCEGUARD_H
#define ARVEX_APP_SINGLEINSTANCEGUARD_H

#include <QString>

class QSharedMemory;

class SingleInstanceGuard
{
public:
    explicit SingleInstanceGuard(const QString &key);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    void release();

    // The key every copy of the program serving this port base uses.
    static QString programKey(quint16 portBase);
    // The file whose kernel lock marks a live holder of the key (Unix).
    static QString lockFilePath(const QString &key);

    QSharedMemory *memory = nullptr;
    bool created = false;

private:
    int lockFd = -1;
};

#endif
