#pragma once

#include <cstdint>
#include <optional>

// How many lines of one kind (malformed requests) reach the log: a few per
// second are logged, the rest are counted, and the count of a second in which
// some were held back is reported once, in one line, when that second is over.
// A second starts with the first line after the previous one ended. Times are
// milliseconds of a monotonic clock; the class keeps no clock of its own.
class LineBudget {
public:
    static constexpr unsigned long PER_SECOND = 5;
    static constexpr int64_t SECOND_MS = 1000;

    explicit LineBudget(unsigned long perSecond = PER_SECOND);

    struct Verdict {
        unsigned long heldBack; // held back in a second that has ended: report these first
        bool log; // whether this line is logged
    };
    // A line arrives at now.
    Verdict admit(int64_t now);
    // The lines held back in a second that is over by now, handed out once;
    // 0 while the second lasts or when none were held back.
    unsigned long takeHeldBack(int64_t now);
    // When held-back lines become due (the end of their second); nothing
    // when none are held back.
    std::optional<int64_t> reportDueAt() const;

private:
    unsigned long perSecond;
    bool started = false;
    int64_t secondStart = 0;
    unsigned long logged = 0;
    unsigned long held = 0;
};
