#include "CrashGuard.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <mutex>

namespace {

const int GUARDED_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
const size_t ALT_STACK_SIZE = 64 * 1024;
// A frame larger than the guard page can skip over it; faults this far below
// the lowest stack address still count as an overflow of this thread's stack.
const uintptr_t OVERFLOW_SLACK = 256 * 1024;

struct sigaction previousActions[NSIG];

// Per-thread state, read by the signal handler: plain values only.
__attribute__((tls_model("initial-exec"))) thread_local CrashGuard* innermostGuard = nullptr;
__attribute__((tls_model("initial-exec"))) thread_local uintptr_t guardRegionLow = 0;
__attribute__((tls_model("initial-exec"))) thread_local uintptr_t guardRegionHigh = 0;

// Releases the thread's alternate stack when the thread ends.
struct AltStack {
    void* memory = nullptr;
    ~AltStack()
    {
        if (memory == nullptr) return;
        stack_t off = {};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, ALT_STACK_SIZE);
    }
};
thread_local AltStack altStack;

// Faults the kernel raises carry a positive code (SEGV_MAPERR, SI_KERNEL, ...);
// a signal sent by kill(), tgkill() or sigqueue() carries SI_USER, SI_TKILL or
// SI_QUEUE, all zero or below.
bool isFault(const siginfo_t* info)
{
    return info != nullptr && info->si_code > 0;
}

void crashHandler(int sig, siginfo_t* info, void*)
{
    // A sent signal is no fault: nothing to recover from and nothing repeats
    // it, so it is ignored and the handler stays in place for real faults.
    if (!isFault(info)) return;
    CrashGuard* guard = innermostGuard;
    if (guard == nullptr) {
        // Not ours: restore the previous action and return, so that the fault
        // happens again and is handled as it would have been without us.
        sigaction(sig, &previousActions[sig], nullptr);
        return;
    }
    uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    guard->signal = sig;
    guard->address = info->si_addr;
    guard->stackOverflow
        = sig == SIGSEGV && guardRegionHigh != 0 && address >= guardRegionLow && address < guardRegionHigh;
    innermostGuard = guard->outer;
    siglongjmp(guard->jump, 1);
}

bool installHandlers()
{
    struct sigaction action = {};
    action.sa_sigaction = crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : GUARDED_SIGNALS) {
        if (sigaction(sig, &action, &previousActions[sig]) != 0) return false;
    }
    return true;
}

bool prepareThread()
{
    if (altStack.memory != nullptr) return true;

    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        size_t guardSize = 0;
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_getguardsize(&attr, &guardSize);
        pthread_attr_destroy(&attr);
        uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        uintptr_t stackLow = reinterpret_cast<uintptr_t>(low);
        uintptr_t below = guardSize + OVERFLOW_SLACK;
        guardRegionLow = stackLow > below ? stackLow - below : 0;
        guardRegionHigh = stackLow + page;
    }

    void* memory
        = mmap(nullptr, ALT_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return false;
    stack_t stack = {};
    stack.ss_sp = memory;
    stack.ss_size = ALT_STACK_SIZE;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, ALT_STACK_SIZE);
        return false;
    }
    altStack.memory = memory;
    return true;
}

} // namespace

bool prepareCrashGuard()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] { installed = installHandlers(); });
    return installed && prepareThread();
}

void enterCrashGuard(CrashGuard* guard)
{
    guard->signal = 0;
    guard->address = nullptr;
    guard->stackOverflow = false;
    guard->outer = innermostGuard;
    innermostGuard = guard;
}

void leaveCrashGuard(CrashGuard* guard)
{
    if (innermostGuard == guard) innermostGuard = guard->outer;
}

CrashGuard* currentCrashGuard()
{
    return innermostGuard;
}

void restoreCrashGuard(CrashGuard* guard)
{
    innermostGuard = guard;
}

unsigned formatCrashText(const CrashGuard& guard, char* buffer, unsigned size)
{
    int n;
    if (guard.stackOverflow) {
        n = snprintf(buffer, size, "PHP has encountered a Stack overflow");
    } else if (guard.signal == SIGSEGV || guard.signal == SIGBUS) {
        n = snprintf(buffer, size, "PHP has encountered an Access Violation at %p", guard.address);
    } else {
        n = snprintf(
            buffer, size, "PHP has encountered an Unhandled Exception Code %d at %p", guard.signal, guard.address);
    }
    if (n < 0) return 0;
    return static_cast<unsigned>(n) < size ? static_cast<unsigned>(n) : size - 1;
}
