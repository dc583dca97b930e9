#include "interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "system.h"

namespace lumafex::tool {

namespace {

// Plain buffers and lock-free atomics only: the handler may read them.
constexpr std::size_t kMaxText = 4096;
char g_temporary[kMaxText];
char g_scratch[kMaxText];
char g_context[256];
std::atomic<int> g_shielded{0};
std::atomic<int> g_pending{0};
std::atomic<bool> g_haveTemporary{false};
std::atomic<bool> g_haveScratch{false};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Removes the registered temporary file, reports and exits: only
// async-signal-safe calls.
[[noreturn]] void CleanUpAndExit(int signal) {
    WriteErrorNow(signal == SIGINT ? "lumafex: interrupted" : "lumafex: terminated");
    if (g_context[0] != '\0') {
        WriteErrorNow(" during ");
        WriteErrorNow(g_context);
    }
    const bool temporary = g_haveTemporary.load(), scratch = g_haveScratch.load();
    if (temporary) RemoveFileNow(g_temporary);
    if (scratch) RemoveFileNow(g_scratch);
    if (temporary || scratch) WriteErrorNow("; the unfinished file was removed");
    WriteErrorNow("\n");
    std::_Exit(128 + signal);
}

extern "C" void OnSignal(int signal) {
    if (g_shielded.load() > 0) {
        g_pending.store(signal);
        // The handler may run on another thread than the shield's: when the
        // last shield went after the first look, its owner may not have seen
        // the signal, so whoever takes it back acts on it.
        if (g_shielded.load() > 0 || g_pending.exchange(0) == 0) return;
    }
    CleanUpAndExit(signal);
}

void CopyText(char* to, std::size_t size, const std::string& text) {
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

void InstallInterruptHandlers() { InstallSignalHandler(OnSignal); }

InterruptShield::InterruptShield() { g_shielded.fetch_add(1); }

InterruptShield::~InterruptShield() {
    if (g_shielded.fetch_sub(1) == 1) {
        const int pending = g_pending.exchange(0);
        if (pending != 0) CleanUpAndExit(pending);
    }
}

void SetInterruptContext(const std::string& what) {
    InterruptShield shield;
    CopyText(g_context, sizeof g_context, what);
}

bool RegisterTemporaryFile(const std::string& path) {
    if (path.size() >= kMaxText) return false;
    CopyText(g_temporary, sizeof g_temporary, path);
    g_haveTemporary.store(true);
    return true;
}

void ForgetTemporaryFile() { g_haveTemporary.store(false); }

bool RegisterScratchFile(const std::string& path) {
    if (path.size() >= kMaxText) return false;
    CopyText(g_scratch, sizeof g_scratch, path);
    g_haveScratch.store(true);
    return true;
}

void ForgetScratchFile() { g_haveScratch.store(false); }

}  // namespace lumafex::tool
