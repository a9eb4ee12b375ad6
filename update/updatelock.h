#ifndef KELVORA_UPDATE_UPDATELOCK_H
#define KELVORA_UPDATE_UPDATELOCK_H

// Locks that keep two Kelvora processes (or two windows of one) from updating the same
// camera, or writing the same report, at the same time: an orchestrator that re-runs a
// play after a dropped connection while the first run carries on would otherwise send a
// camera the whole file twice. Each lock is an exclusive flock(2) on a file of its own
// under $XDG_RUNTIME_DIR/kelvora/locks/ (or, without a runtime folder, the state folder's
// kelvora/locks/), held by the kernel for the open file: a process that is killed holds
// nothing. The holder writes its process id into the file, so that whoever meets the lock
// can say who holds it. Locks of one user; another user's runs have folders of their own.
// The window takes a camera's lock for its update run, kelvora-fleet every camera's and its
// report's for a whole update. Widget-free; sends nothing.

#include <QProcessEnvironment>
#include <QString>

// $XDG_STATE_HOME/kelvora, or ~/.local/state/kelvora; empty when neither says where. The
// history and, without a runtime folder, the locks are kept there.
QString kelvoraStateFolder(const QProcessEnvironment& environment);

// Where the locks are kept for this environment; empty when nothing says where.
QString updateLockFolder(const QProcessEnvironment& environment);

// One text per camera whatever way its address was written: the host as the camera is asked
// (lower-cased, an IPv6 address in brackets) and its port, 80 when none is given:
// "192.0.2.5:80", "cam:8080", "[::1]:80". Empty for text that is no address.
QString cameraLockKey(const QString& address);

class UpdateLock
{
public:
    enum class Outcome {
        Taken,  // this object holds the lock now
        Held,   // another open file holds it: holderPid() tells whose, when known
        Failed, // the lock file could not be made or opened: error() tells why
    };

    UpdateLock() = default;
    ~UpdateLock();
    UpdateLock(UpdateLock&& other) noexcept;
    UpdateLock& operator=(UpdateLock&& other) noexcept;
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    // Takes the lock of the camera at `address`, or of the report at `reportPath` (the path
    // as given; the same file however it is named), in `folder`, which is made (0700) when
    // missing. Never waits.
    static UpdateLock camera(const QString& folder, const QString& address);
    static UpdateLock report(const QString& folder, const QString& reportPath);

    Outcome outcome() const { return m_outcome; }
    bool held() const { return m_outcome == Outcome::Taken; }
    // The process that holds the lock, when it is held by another and it wrote its id; 0 otherwise.
    qint64 holderPid() const { return m_holder; }
    QString error() const { return m_error; }

    // Lets go of the lock now (the destructor does too).
    void release();

private:
    static UpdateLock take(const QString& folder, const QString& fileName);

    int m_fd = -1;
    QString m_path;
    Outcome m_outcome = Outcome::Failed;
    qint64 m_holder = 0;
    QString m_error;
};

#endif
