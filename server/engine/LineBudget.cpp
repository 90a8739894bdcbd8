#include "LineBudget.h"

LineBudget::LineBudget(unsigned long allowance) : perSecond(allowance)
{
}

LineBudget::Verdict LineBudget::admit(int64_t now)
{
    Verdict verdict {0, false};
    if (!started || now - secondStart >= SECOND_MS) {
        verdict.heldBack = held;
        started = true;
        secondStart = now;
        logged = 0;
        held = 0;
    }
    if (logged < perSecond) {
        ++logged;
        verdict.log = true;
    } else {
        ++held;
    }
    return verdict;
}

unsigned long LineBudget::takeHeldBack(int64_t now)
{
    if (held == 0 || now - secondStart < SECOND_MS) return 0;
    unsigned long n = held;
    held = 0;
    return n;
}

std::optional<int64_t> LineBudget::reportDueAt() const
{
    if (held == 0) return std::nullopt;
    return secondStart + SECOND_MS;
}
