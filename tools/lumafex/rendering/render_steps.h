// A render's frames in three steps: read (on worker threads, frames
// ahead), filter (the module's calls, in frame order on the calling thread)
// and write (on worker threads, frames behind), with at most a bound of
// frames in flight. Every frame's log lines and messages come out in frame
// order, as if the frames ran one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace lumafex::tool {

class Host;
class Progress;
struct OutputRequest;
struct RenderOptions;
struct SceneFrame;

struct FrameFiles {
    const SceneFrame* frame;
    std::string output;  // after --output-dir
};

// What the frames came to, beside the progress's counts.
struct FramesRendered {
    std::set<std::string> used;  // which channels and colour spaces the frames came from
    std::size_t refused = 0;     // by the module
    std::size_t existing = 0;    // skipped under --no-clobber --existing-done
};

// Threads a render uses: LUMAFEX_THREADS (1 to 256) when set, else one per
// processor this process may run on.
int RenderThreads();

// How many frames may be in flight (read, filtered or being written) at
// once. asked > 0: that many. Otherwise one step at a time without
// read-ahead; else three (one read ahead, one filtered, one written), and
// up to threads + 2 while that many frames of frameBytes each fit in
// memoryBudget.
std::size_t FramesInFlight(std::size_t asked, bool readAhead, int threads, uint64_t frameBytes,
                           uint64_t memoryBudget);

// Reads, filters and writes every frame in order through host, logging each
// on progress. Throws std::runtime_error on an error that stops the run (a
// failed write, naming its frame), after the frames before it are written.
FramesRendered RenderFrames(const RenderOptions& options, const std::vector<FrameFiles>& frames, Host& host,
                            const OutputRequest& request, Progress& progress);

}  // namespace lumafex::tool
