#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "process/system.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumafex::tool {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int AllowedProcessors() {
    if (const char* slurm = std::getenv("SLURM_CPUS_PER_TASK"); slurm != nullptr && *slurm != '\0') {
        char* end = nullptr;
        const long count = std::strtol(slurm, &end, 10);
        if (*end == '\0' && count >= 1 && count <= 4096) return static_cast<int>(count);
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count >= 1) return count;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 1 && cores <= 4096 ? static_cast<int>(cores) : 1;
}

bool SetEnvironment(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

#if defined(__GLIBC__)
namespace {

// Under the address sanitizer blocks come from its own allocator, where a
// reserve would only cost its shadow's time.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapIsGlibcs = false;
#else
constexpr bool kHeapIsGlibcs = true;
#endif

// Whether address space may be taken beyond what is used: not under a limit
// on it or on the data segment (ulimit -v or -d, which a farm may pass on to
// its jobs), nor under the kernel's strict accounting, where reserved space
// counts as memory; there a reserve could leave the render short later.
bool AddressSpaceIsFree() {
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit limit{};
        if (getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return false;
    }
    std::FILE* const policy = std::fopen("/proc/sys/vm/overcommit_memory", "r");
    if (policy == nullptr) return false;
    int mode = 2;
    const bool read = std::fscanf(policy, "%d", &mode) == 1;
    std::fclose(policy);
    return read && mode != 2;
}

// Grows the heap by `bytes` of address space, which takes no memory until
// it is written, and asks for that part to come in huge pages: a frame's
// first touch of its planes then costs a fault for every 2 MiB instead of
// every 4 KiB. The heap keeps it free for the next allocations as long as
// `bytes` is below its trim threshold. Where the heap cannot grow, or the
// system has no huge pages, nothing changes.
void ReserveHeapInHugePages(std::size_t bytes) {
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    constexpr int kDefaultMapsAllowed = 65536;  // glibc's own default
    if (!kHeapIsGlibcs || bytes < 4 * kHugePage || !AddressSpaceIsFree()) return;
    // Only the heap's own growth is one contiguous range.
    mallopt(M_MMAP_MAX, 0);
    void* block = std::malloc(bytes);
    mallopt(M_MMAP_MAX, kDefaultMapsAllowed);
    if (block == nullptr) return;
    const auto start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (start + bytes) & ~(kHugePage - 1);
    // A block from anywhere but the heap's end goes back as it came.
    if (start + bytes <= reinterpret_cast<uintptr_t>(sbrk(0)) && end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    std::free(block);
}

}  // namespace
#endif

void KeepFreedMemoryForReuse([[maybe_unused]] uint64_t bytes) {
#if defined(__GLIBC__)
    // Blocks up to the largest a heap serves come from the heaps, not maps
    // of their own, and the heaps are trimmed only past `bytes` free.
    constexpr int kLargestHeapBlock = 32 << 20;
    const int trimThreshold = static_cast<int>(std::min<uint64_t>(bytes, INT_MAX));
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, trimThreshold);
    // One heap for every thread: a frame's blocks are freed by other
    // threads than the one that took them, and each new reader or writer
    // thread would otherwise take a heap of its own, whose free blocks no
    // other thread reuses.
    mallopt(M_ARENA_MAX, 1);
    // Half of what may stay free (so under 1 GiB), which no trim takes back.
    ReserveHeapInHugePages(static_cast<std::size_t>(trimThreshold) / 2);
#endif
}

namespace {

struct SignalName {
    int number;
    const char* report;
};

// The signals whose default action ends the program, other than those a
// fault of the program raises (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT).
constexpr SignalName kEndingSignals[] = {
    {SIGINT, "interrupted"},
    {SIGTERM, "terminated"},
    {SIGHUP, "stopped by SIGHUP (hang-up)"},
    {SIGQUIT, "stopped by SIGQUIT (quit)"},
    {SIGPIPE, "stopped by SIGPIPE (the output's reader went away)"},
    {SIGALRM, "stopped by SIGALRM (alarm clock)"},
    {SIGUSR1, "stopped by SIGUSR1"},
    {SIGUSR2, "stopped by SIGUSR2"},
    {SIGXCPU, "stopped by SIGXCPU (CPU time limit)"},
    {SIGVTALRM, "stopped by SIGVTALRM (virtual timer)"},
    {SIGPROF, "stopped by SIGPROF (profiling timer)"},
#ifdef SIGIO
    {SIGIO, "stopped by SIGIO"},
#endif
#ifdef SIGPWR
    {SIGPWR, "stopped by SIGPWR (power failure)"},
#endif
};

}  // namespace

void InstallSignalHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Every ending signal is held while the handler runs, so two of them
    // never race to remove the temporary file and report.
    for (const SignalName& s : kEndingSignals) sigaddset(&action.sa_mask, s.number);
    action.sa_flags = 0;
    // These fail only for an invalid signal number.
    for (const SignalName& s : kEndingSignals) {
        struct sigaction before {};
        if (sigaction(s.number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(s.number, &action, nullptr);
    }
    // Past a file-size limit a write then fails with EFBIG, which the write
    // reports as for a full disk.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

const char* SignalReport(int signal) {
    for (const SignalName& s : kEndingSignals) {
        if (s.number == signal) return s.report;
    }
    return "stopped by a signal";
}

void WriteErrorNow(const char* text) {
    // A report that cannot be written has nowhere else to go.
    if (write(STDERR_FILENO, text, std::strlen(text)) < 0) return;
}

void RemoveFileNow(const char* path) {
    // The program is ending; a file that cannot be removed stays, and the
    // caller has nothing to tell the user with.
    unlink(path);
}

}  // namespace lumafex::tool
