#include "app/single_instance.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include "common/message_service.h"

namespace zelbo::app {

SingleInstance::SingleInstance(QString folder)
{
    if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    QDir().mkpath(folder);
    path_ = QDir(folder).filePath(QString::fromUtf8(kAppCaption) + QStringLiteral(".lock"));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire(int attempts, int intervalMs, const Sleeper& sleeper)
{
    attempts_ = 0;
    for (int i = 0; i < attempts; ++i) {
        auto lock = std::make_unique<QLockFile>(path_);
        // The lock lives as long as the program: never treat it as stale by
        // age; a lock left by a crashed copy is recognised by its dead process.
        lock->setStaleLockTime(0);
        ++attempts_;
        if (lock->tryLock(0)) {
            lock_ = std::move(lock);
            return true;
        }
        if (i + 1 < attempts) {
            if (sleeper) sleeper(intervalMs);
            else QThread::msleep(static_cast<unsigned long>(intervalMs));
        }
    }
    return false;
}

} // namespace zelbo::app
