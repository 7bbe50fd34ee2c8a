#pragma once
// One running copy per user: a lock file in the user's runtime folder. A
// second start tries ten times, half a second apart, so that a copy that is
// just ending does not turn the new one away.

#include <functional>
#include <memory>

#include <QString>

class QLockFile;

namespace zelbo::app {

class SingleInstance {
public:
    using Sleeper = std::function<void(int ms)>;

    // `folder` empty: the user's runtime folder (XDG_RUNTIME_DIR, else the
    // temporary folder).
    explicit SingleInstance(QString folder = QString());
    ~SingleInstance();

    // Up to `attempts` tries, `sleeper(intervalMs)` between them. True when this
    // process now holds the lock (kept until destruction).
    bool acquire(int attempts = 10, int intervalMs = 500, const Sleeper& sleeper = {});
    int attemptsMade() const { return attempts_; }
    QString lockPath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
    int attempts_ = 0;
};

} // namespace zelbo::app
