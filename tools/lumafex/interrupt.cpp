#include "interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace lumafex::tool {

namespace {

// Plain buffers and lock-free atomics only: the handler may read them.
constexpr std::size_t kMaxText = 4096;
char gTemporary[kMaxText];
char gScratch[kMaxText];
char gContext[256];
std::atomic<int> gShielded{0};
std::atomic<int> gPending{0};
std::atomic<bool> gHaveTemporary{false};
std::atomic<bool> gHaveScratch{false};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void Say(const char* text) {
#if !defined(_WIN32)
    const std::size_t n = std::strlen(text);
    if (write(STDERR_FILENO, text, n) < 0) return;
#else
    (void)text;
#endif
}

// Removes the registered temporary file, reports and exits: only
// async-signal-safe calls.
[[noreturn]] void CleanUpAndExit(int signal) {
    Say(signal == SIGINT ? "lumafex: interrupted" : "lumafex: terminated");
    if (gContext[0] != '\0') {
        Say(" during ");
        Say(gContext);
    }
    const bool temporary = gHaveTemporary.load(), scratch = gHaveScratch.load();
#if !defined(_WIN32)
    if (temporary) unlink(gTemporary);
    if (scratch) unlink(gScratch);
#endif
    if (temporary || scratch) Say("; the unfinished file was removed");
    Say("\n");
#if !defined(_WIN32)
    _exit(128 + signal);
#else
    std::_Exit(128 + signal);
#endif
}

extern "C" void OnSignal(int signal) {
    if (gShielded.load() > 0) {
        gPending.store(signal);
        // The handler may run on another thread than the shield's: when the
        // last shield went after the first look, its owner may not have seen
        // the signal, so whoever takes it back acts on it.
        if (gShielded.load() > 0 || gPending.exchange(0) == 0) return;
    }
    CleanUpAndExit(signal);
}

void CopyText(char* to, std::size_t size, const std::string& text) {
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

void InstallInterruptHandlers() {
#if !defined(_WIN32)
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

InterruptShield::InterruptShield() { gShielded.fetch_add(1); }

InterruptShield::~InterruptShield() {
    if (gShielded.fetch_sub(1) == 1) {
        const int pending = gPending.exchange(0);
        if (pending != 0) CleanUpAndExit(pending);
    }
}

void SetInterruptContext(const std::string& what) {
    InterruptShield shield;
    CopyText(gContext, sizeof gContext, what);
}

bool RegisterTemporaryFile(const std::string& path) {
    if (path.size() >= kMaxText) return false;
    CopyText(gTemporary, sizeof gTemporary, path);
    gHaveTemporary.store(true);
    return true;
}

void ForgetTemporaryFile() { gHaveTemporary.store(false); }

bool RegisterScratchFile(const std::string& path) {
    if (path.size() >= kMaxText) return false;
    CopyText(gScratch, sizeof gScratch, path);
    gHaveScratch.store(true);
    return true;
}

void ForgetScratchFile() { gHaveScratch.store(false); }

}  // namespace lumafex::tool
