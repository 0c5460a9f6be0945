#pragma once

#include <QProcess>

// Another window holding the score file's lock, in a process of its own (lock_holder), in the
// given folder. Killed at the latest when it goes out of scope.
class LockHolder {
public:
    explicit LockHolder(const QString &folder)
    {
        process_.start(QStringLiteral(BRISKO_LOCK_HOLDER), {folder});
        if (process_.waitForStarted())
            while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
            }
    }
    ~LockHolder() { Kill(); }

    QByteArray Answer() { return process_.readLine().trimmed(); }

    // As a crash would end it: the system must drop the lock with it.
    void Kill()
    {
        process_.kill();
        process_.waitForFinished(10000);
    }

private:
    QProcess process_;
};
