#pragma once

#include <csetjmp>

// Turns a fault of the calling thread (SIGSEGV, SIGBUS, SIGFPE, SIGILL) inside
// a guarded stretch of code into a jump back to the guard point, so that one
// crashing script does not end the whole server. The handlers run on a
// per-thread alternate stack, so a stack overflow can be caught as well.
// A fault outside any guard keeps the signal's previous action (normally:
// the process ends with a core dump).
//
// Usage (the guard and every local of the frame must be trivially
// destructible, since the jump skips destructors):
//
//     CrashGuard guard;
//     if (sigsetjmp(guard.jump, 1) == 0) {
//         enterCrashGuard(&guard);
//         ... code that may crash ...
//         leaveCrashGuard(&guard);
//     } else {
//         ... guard.signal, guard.address, guard.stackOverflow tell what happened
//     }

struct CrashGuard {
    sigjmp_buf jump;
    int signal; // the signal number of the fault
    void* address; // the faulting address (si_addr)
    bool stackOverflow; // the fault hit the thread's stack guard region
    CrashGuard* outer; // the guard that was active before this one
};

// Installs the process-wide handlers (once; later calls do nothing) and gives
// the calling thread its alternate signal stack (once per thread; it is
// released when the thread ends). Returns false when either failed.
bool prepareCrashGuard();

// Makes `guard` the calling thread's innermost guard / removes it again.
// A fault that jumps back has already removed its guard.
void enterCrashGuard(CrashGuard* guard);
void leaveCrashGuard(CrashGuard* guard);

// The innermost guard, and making an earlier one innermost again: for code
// that leaves guarded frames by a jump of its own (e.g. a PHP bail-out).
CrashGuard* currentCrashGuard();
void restoreCrashGuard(CrashGuard* guard);

// Formats the crash text of a guard that caught a fault into buffer
// ("PHP has encountered a Stack overflow", "... an Access Violation at %p",
// "... an Unhandled Exception Code %d at %p"); returns its length.
unsigned formatCrashText(const CrashGuard& guard, char* buffer, unsigned size);
