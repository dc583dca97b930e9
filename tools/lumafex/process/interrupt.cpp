#include "process/interrupt.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "process/system.h"

namespace lumafex::tool {

namespace {

// Plain buffers and lock-free atomics only: the handler may read them.
constexpr std::size_t kMaxText = 4096;
// One slot for each write that can be in progress at once: a render writes
// up to 64 frames at a time on other threads. A slot is taken by one
// exchange (several threads register at once) and seen by the handler only
// once its path is whole.
constexpr int kSlots = 72;
struct TemporarySlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> live{false};
    char path[kMaxText];
};
TemporarySlot g_temporaries[kSlots];
char g_context[256];
// The shields held, or kExiting once one side has claimed the exit: a
// handler that finds no shield, or the last shield to go while a signal is
// pending. Claiming it is one exchange, so a shield is never taken while
// the exit goes ahead: the handler may run on another thread than the one
// about to create a temporary file, which would else create it after the
// handler looked for it.
constexpr int kExiting = INT_MIN;
std::atomic<int> g_shielded{0};
std::atomic<int> g_pending{0};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Removes the registered temporary file, reports and exits: only
// async-signal-safe calls.
[[noreturn]] void CleanUpAndExit(int signal) {
    WriteErrorNow("lumafex: ");
    WriteErrorNow(SignalReport(signal));
    if (g_context[0] != '\0') {
        WriteErrorNow(" during ");
        WriteErrorNow(g_context);
    }
    int removed = 0;
    for (TemporarySlot& slot : g_temporaries) {
        if (!slot.live.load()) continue;
        RemoveFileNow(slot.path);
        ++removed;
    }
    if (removed == 1) WriteErrorNow("; the unfinished file was removed");
    if (removed > 1) WriteErrorNow("; the unfinished files were removed");
    WriteErrorNow("\n");
    std::_Exit(128 + signal);
}

// Claims the exit when no shield is held. False when one is (or the exit
// is claimed already).
bool ClaimExit() {
    int none = 0;
    return g_shielded.compare_exchange_strong(none, kExiting);
}

extern "C" void OnSignal(int signal) {
    g_pending.store(signal);
    // With a shield held, the last one to go acts on the signal.
    if (ClaimExit()) CleanUpAndExit(signal);
}

void CopyText(char* to, std::size_t size, const std::string& text) {
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

void InstallInterruptHandlers() { InstallSignalHandler(OnSignal); }

InterruptShield::InterruptShield() {
    int held = g_shielded.load();
    for (;;) {
        // The exit is under way on another thread: wait for it rather than
        // create anything it would not remove.
        while (held == kExiting) {
            std::this_thread::sleep_for(std::chrono::hours(1));
            held = g_shielded.load();
        }
        if (g_shielded.compare_exchange_weak(held, held + 1)) return;
    }
}

InterruptShield::~InterruptShield() {
    // The last shield acts on a pending signal, unless a new shield was
    // taken meanwhile (its owner will) or the handler claimed the exit.
    if (g_shielded.fetch_sub(1) == 1) {
        const int pending = g_pending.load();
        if (pending != 0 && ClaimExit()) CleanUpAndExit(pending);
    }
}

void SetInterruptContext(const std::string& what) {
    InterruptShield shield;
    CopyText(g_context, sizeof g_context, what);
}

int RegisterTemporaryFile(const std::string& path) {
    if (path.size() >= kMaxText) return -1;
    for (int k = 0; k < kSlots; ++k) {
        TemporarySlot& slot = g_temporaries[k];
        bool free = false;
        if (!slot.taken.compare_exchange_strong(free, true)) continue;
        CopyText(slot.path, sizeof slot.path, path);
        slot.live.store(true);
        return k;
    }
    return -1;
}

void ForgetTemporaryFile(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    g_temporaries[slot].live.store(false);
    g_temporaries[slot].taken.store(false);
}

}  // namespace lumafex::tool
