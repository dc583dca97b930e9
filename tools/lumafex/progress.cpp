#include "progress.h"

#if defined(_WIN32)
#include <io.h>
#define LUMAFEX_ISATTY _isatty
#define LUMAFEX_FILENO _fileno
#else
#include <unistd.h>
#define LUMAFEX_ISATTY isatty
#define LUMAFEX_FILENO fileno
#endif

namespace lumafex::tool {

Progress::Progress(std::size_t total, Verbosity verbosity, std::FILE* to)
    : total_(total),
      live_(verbosity == Verbosity::Normal && LUMAFEX_ISATTY(LUMAFEX_FILENO(to)) != 0),
      verbose_(verbosity == Verbosity::Verbose),
      to_(to),
      start_(std::chrono::steady_clock::now()) {}

void Progress::FrameDone(int64_t frame, const char* what) {
    ++done_;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double fps = seconds > 0.0 ? static_cast<double>(done_) / seconds : 0.0;
    const double left = fps > 0.0 ? static_cast<double>(total_ - done_) / fps : 0.0;
    if (verbose_) {
        std::fprintf(to_, "frame %lld (%zu/%zu): %s\n", static_cast<long long>(frame), done_,
                     total_, what);
    } else if (live_) {
        std::fprintf(to_, "\rframe %lld  %zu/%zu  %.1f fps  %.0fs left   ",
                     static_cast<long long>(frame), done_, total_, fps, left);
    }
    std::fflush(to_);
}

void Progress::Finish() {
    if (live_ && done_ > 0) std::fputc('\n', to_);
}

}  // namespace lumafex::tool
