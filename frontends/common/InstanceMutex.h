#pragma once

// The machine-wide single-instance lock both programs hold for their whole
// life. Held as a shared lock on a file under /run/lock (or /tmp), so it
// counts every holder, is not inherited by child processes and goes away
// with a process that dies. ZORVANE_LOCK_DIR names another directory (tests).
class InstanceMutex {
public:
    static constexpr unsigned long ERROR_ALREADY_EXISTS = 183;

    explicit InstanceMutex(const char* name);
    ~InstanceMutex();
    InstanceMutex(const InstanceMutex&) = delete;
    InstanceMutex& operator=(const InstanceMutex&) = delete;

    // True when another process held the lock when this one was made.
    bool alreadyExists() const { return lastError == ERROR_ALREADY_EXISTS; }
    unsigned long getLastError() const { return lastError; }

    // The name both programs use.
    static const char* const NAME;

private:
    unsigned long lastError;
    int mutex;
};

// The program-wide lock, made during static initialisation.
InstanceMutex& instanceMutex();
