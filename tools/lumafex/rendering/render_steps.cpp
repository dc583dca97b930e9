#include "rendering/render_steps.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "image_files/codec_threads.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "image_files/images.h"
#include "process/interrupt.h"
#include "process/progress.h"
#include "process/system.h"
#include "rendering/host.h"
#include "rendering/render.h"
#include "scenes/scene.h"

namespace lumafex::tool {

namespace {

using StepClock = std::chrono::steady_clock;

double MillisecondsSince(StepClock::time_point start) {
    return std::chrono::duration<double, std::milli>(StepClock::now() - start).count();
}

std::string FrameName(const SceneFrame& f) { return "frame " + std::to_string(f.number); }

void CheckSameSize(const std::string& colourPath, const ColourImage& colour, const std::string& otherPath,
                   int32_t w, int32_t h) {
    if (w != colour.width || h != colour.height) {
        throw std::runtime_error(otherPath + ": " + std::to_string(w) + "x" + std::to_string(h) +
                                 " does not match the colour image " + colourPath + " (" +
                                 std::to_string(colour.width) + "x" + std::to_string(colour.height) + ")");
    }
}

// A frame's input that cannot be read, with what the image libraries
// printed while trying.
class UnreadableInput : public std::runtime_error {
public:
    UnreadableInput(const std::string& what, std::string printedThen, double readMsThen)
        : std::runtime_error(what), printed(std::move(printedThen)), readMs(readMsThen) {}
    std::string printed;
    double readMs;  // how long the attempt took
};

// A frame's inputs, shared between the frame, a frame it stands in for and
// the read that made them.
struct Inputs {
    ColourInput colour;
    std::optional<GreyImage> shadow;
    std::optional<DepthImage> depth;
    mutable std::string printed;  // by the image libraries while reading; passed on once
    double readMs = 0.0;          // how long reading them took
};
using SharedInputs = std::shared_ptr<const Inputs>;

// The memory a frame takes from its read to the end of its write: its
// inputs (with the parts of its file kept for the output), the module's
// copies of its planes and the write's buffers (float values for a float
// input, bytes otherwise).
uint64_t FrameBytes(const Inputs& in) {
    const auto n = static_cast<uint64_t>(PixelCount(in.colour.image.width, in.colour.image.height));
    uint64_t held = 4 * n;
    if (in.colour.values) held += 4 * in.colour.values->working.size();
    if (in.shadow) held += n;
    if (in.depth) held += 4 * n;
    held += StoredPartsBytes(in.colour);
    return 2 * held + (in.colour.values ? 32 : 8) * n;
}

// A frame whose write is in flight, and what it logs once written.
struct Writing {
    int64_t frame;
    FrameOutcome outcome;
    std::string what;         // the log's detail
    FrameTimes times;         // the write's own time is added once it is done
    std::string readPrinted;  // what the libraries printed reading it, and the module filtering it
    std::string filterPrinted;
    std::shared_ptr<std::string> printed;  // and writing it
    std::future<double> done;              // how long the write took
};

class FrameSteps {
public:
    FrameSteps(const RenderOptions& options, const std::vector<FrameFiles>& frames, Host& host,
               const OutputRequest& request, Progress& progress)
        : options_(options), frames_(frames), host_(host), request_(request), progress_(progress),
          launch_(options.readAhead ? std::launch::async : std::launch::deferred),
          standIns_(options.missingFrames == MissingFrames::Hold || options.missingFrames == MissingFrames::Black ||
                    options.unreadableFrames == UnreadableFrames::Hold ||
                    options.unreadableFrames == UnreadableFrames::Black),
          threads_(RenderThreads()) {}

    FramesRendered Run() {
        for (std::size_t index = 0; index < frames_.size(); ++index) {
            try {
                Frame(index);
            } catch (...) {
                // The frames before this one are written (or their errors
                // reported) first, and so are those already being written.
                while (!writes_.empty()) {
                    try {
                        FinishWrites(writes_.size() - 1);
                    } catch (const std::exception& e) {
                        LogMessage(LogLevel::Error, e.what());
                    }
                }
                throw;
            }
        }
        FinishWrites(0);
        return std::move(rendered_);
    }

private:
    SharedInputs Read(const SceneFrame& f) const {
        auto in = std::make_shared<Inputs>();
        const StepClock::time_point start = StepClock::now();
        // A depth in a file of its own is read beside the colour (a frame
        // read while nothing else is in flight takes the time of the
        // longer read, not of both); one in the colour's file comes from
        // the colour's read.
        std::string depthPrinted;
        std::future<DepthImage> depthApart;
        try {
            if (!f.depth.empty() && f.depth != f.colour) {
                depthApart = std::async(std::launch::async, [&f, &depthPrinted] {
                    const PrintingInto printing(depthPrinted);
                    return ReadFrameDepth(f.depth, f.depthChannel);
                });
            }
            const PrintingInto printing(in->printed);
            ColourRequest request;
            request.colourSpace = f.colourSpace;
            request.layer = f.colourLayer;
            request.workingSpace = request_.workingSpace;
            in->colour = ReadFrameColour(f.colour, request);
            const ColourImage& colour = in->colour.image;
            if (!f.shadow.empty()) {
                in->shadow = ReadShadow(f.shadow);
                CheckSameSize(f.colour, colour, f.shadow, in->shadow->width, in->shadow->height);
            }
            if (!f.depth.empty()) {
                in->depth = depthApart.valid() ? depthApart.get() : ReadFrameDepth(f.depth, f.depthChannel);
                in->printed += depthPrinted;
                depthPrinted.clear();
                CheckSameSize(f.colour, colour, f.depth, in->depth->width, in->depth->height);
            }
        } catch (const std::runtime_error& e) {
            // What the depth's read printed, after the colour's.
            if (depthApart.valid()) depthApart.wait();
            in->printed += depthPrinted;
            throw UnreadableInput(e.what(), std::move(in->printed), MillisecondsSince(start));
        }
        in->readMs = MillisecondsSince(start);
        return in;
    }

    // Whether the frame at index will be read when its turn comes (the
    // files are looked at again then).
    bool WillRead(std::size_t index) const {
        std::error_code ec;
        if (options_.noClobber && std::filesystem::exists(frames_[index].output, ec)) return false;
        return MissingInput(*frames_[index].frame).empty();
    }

    // Frames held now: those read ahead, the one being filtered and those
    // being written.
    std::size_t Held() const { return ahead_.size() + writes_.size() + 1; }

    // Starts reading the frames after index while fewer than the bound are
    // held; logs the writes that have finished.
    void ReadAhead(std::size_t index) {
        while (!writes_.empty() &&
               writes_.front().done.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            FinishWrites(writes_.size() - 1);
        ahead_.erase(ahead_.begin(), ahead_.upper_bound(index));
        nextRead_ = std::max(nextRead_, index + 1);
        while (nextRead_ < frames_.size() && Held() < inFlight_) {
            const std::size_t k = nextRead_++;
            if (!WillRead(k)) continue;
            const SceneFrame& f = *frames_[k].frame;
            ahead_.emplace(k, std::async(launch_, [this, &f] { return Read(f); }).share());
        }
    }

    // The inputs of the frame at index: read ahead, or read now. The first
    // frame read sets the bound on frames in flight from its size.
    SharedInputs InputsOf(std::size_t index) {
        SharedInputs in;
        if (const auto it = ahead_.find(index); it != ahead_.end()) {
            in = it->second.get();
        } else {
            in = Read(*frames_[index].frame);
        }
        if (inFlight_ == 0) {
            inFlight_ = FramesInFlight(options_.framesInFlight, options_.readAhead, threads_, FrameBytes(*in),
                                       MemoryBudget());
        }
        return in;
    }

    // Waits for the oldest writes in flight until at most keep are left,
    // logging each frame; a failed write stops the run, naming its frame.
    void FinishWrites(std::size_t keep) {
        while (writes_.size() > keep) {
            Writing w = std::move(writes_.front());
            writes_.pop_front();
            PassOnPrinted(&w.readPrinted, w.frame);
            PassOnPrinted(&w.filterPrinted, w.frame);
            PassOnPrinted(nullptr, w.frame);
            try {
                w.times.writeMs = w.done.get();
            } catch (const std::exception& e) {
                PassOnPrinted(w.printed.get(), w.frame);
                throw std::runtime_error("frame " + std::to_string(w.frame) + ": " + e.what());
            }
            PassOnPrinted(w.printed.get(), w.frame);
            progress_.FrameDone(w.frame, w.outcome, w.what, w.times);
        }
    }

    // The inputs that stand in for a frame: the last frame read, or the next
    // one that is there and can be read; all black (and transparent) unless
    // held.
    SharedInputs StandIn(std::size_t index, bool hold) {
        SharedInputs near = last_;
        for (std::size_t k = index + 1; !near && k < frames_.size(); ++k) {
            if (!MissingInput(*frames_[k].frame).empty()) continue;
            try {
                near = InputsOf(k);
            } catch (const std::runtime_error&) {
                // Cannot stand in; its own turn reports it.
            }
        }
        if (!near || hold) return near;
        auto black = std::make_shared<Inputs>(*near);
        ColourImage& c = black->colour.image;
        for (auto* plane : {&c.red, &c.green, &c.blue, &c.alpha}) std::fill(plane->begin(), plane->end(), 0);
        black->colour.channels = "a black frame";
        // Its colour is the black bytes alone: the frame it was made from
        // must not give its own values back where the module leaves a pixel.
        black->colour.values.reset();
        black->shadow.reset();
        black->depth.reset();
        return black;
    }

    // A frame that is not filtered: logged after the frames before it.
    void NotFiltered(int64_t frame, FrameOutcome outcome, const std::string& detail) {
        FinishWrites(0);
        PassOnPrinted();
        progress_.FrameDone(frame, outcome, detail);
    }

    // The inputs of a frame whose input file is missing: a stand-in, or
    // null when the frame is logged and done.
    SharedInputs Missing(std::size_t index, const std::string& missing, std::string& note) {
        const SceneFrame& f = *frames_[index].frame;
        const std::string what = FrameName(f) + ": " + missing + " is missing";
        const MissingFrames policy = options_.missingFrames;
        SharedInputs in;
        if (policy == MissingFrames::Black || policy == MissingFrames::Hold) in = StandIn(index, policy == MissingFrames::Hold);
        if (!in) {
            FinishWrites(0);
            PassOnPrinted();
            if (policy == MissingFrames::Error) {
                LogMessage(LogLevel::Error, what + "; no output written", f.number);
            } else if (policy != MissingFrames::Skip) {
                LogMessage(LogLevel::Error, what + ", and no frame is there to stand in", f.number);
            }
            progress_.FrameDone(f.number, FrameOutcome::Missing, missing + " is missing");
            return nullptr;
        }
        note = policy == MissingFrames::Hold ? " (input missing: held)" : " (input missing: black)";
        return in;
    }

    // The inputs of a frame whose input cannot be read: a stand-in, or null
    // when the frame is logged and done.
    SharedInputs Unreadable(std::size_t index, const UnreadableInput& e, FrameTimes& times, std::string& note) {
        const SceneFrame& f = *frames_[index].frame;
        // The next frames are read while this one is reported.
        ReadAhead(index);
        const UnreadableFrames policy = options_.unreadableFrames;
        const bool hold = policy == UnreadableFrames::Hold;
        SharedInputs in;
        if (policy == UnreadableFrames::Black || hold) in = StandIn(index, hold);
        FinishWrites(0);
        std::string printed = e.printed;
        PassOnPrinted(&printed, f.number);
        PassOnPrinted();
        const std::string what = FrameName(f) + ": " + e.what();
        if (policy == UnreadableFrames::Fail) {
            LogMessage(LogLevel::Error, what + "; no output written", f.number);
            progress_.FrameDone(f.number, FrameOutcome::Failed, e.what(), times);
            return nullptr;
        }
        if (!in) {
            LogMessage(policy == UnreadableFrames::Skip ? LogLevel::Warning : LogLevel::Error,
                       what + (policy == UnreadableFrames::Skip ? "; skipped (--unreadable-frames skip)"
                                                                : "; no frame is there to stand in, no output written"),
                       f.number);
            progress_.FrameDone(f.number, FrameOutcome::Missing, std::string("unreadable: ") + e.what(), times);
            return nullptr;
        }
        LogMessage(LogLevel::Warning,
                   what + (hold ? "; the last frame read (or the next one) stands in" : "; a black frame stands in"),
                   f.number);
        note = hold ? " (input unreadable: held)" : " (input unreadable: black)";
        return in;
    }

    void Frame(std::size_t index) {
        const SceneFrame& f = *frames_[index].frame;
        const std::string& output = frames_[index].output;
        SetInterruptContext(FrameName(f));
        std::error_code ec;
        if (options_.noClobber && std::filesystem::exists(output, ec)) {
            NotFiltered(f.number, FrameOutcome::Skipped, output + " exists (--no-clobber)");
            if (options_.existingDone) ++rendered_.existing;
            return;
        }
        SharedInputs in;
        std::string note;
        FrameTimes times;
        if (const std::string missing = MissingInput(f); !missing.empty()) {
            in = Missing(index, missing, note);
        } else {
            try {
                in = InputsOf(index);
                times.readMs = in->readMs;
                if (standIns_) last_ = in;
            } catch (const UnreadableInput& e) {
                times.readMs = e.readMs;
                in = Unreadable(index, e, times, note);
            }
        }
        if (!in) return;
        // The next frames are read while the module works on this one.
        ReadAhead(index);
        FilterAndWrite(index, std::move(in), note, times);
    }

    void FilterAndWrite(std::size_t index, SharedInputs in, const std::string& note, FrameTimes times) {
        const SceneFrame& f = *frames_[index].frame;
        const std::string& output = frames_[index].output;
        const ColourInput& input = in->colour;
        ColourImage colour = input.image;  // the module gets planes it may write to
        const std::optional<DepthImage>& depth = in->depth;
        const std::string source = "colour from " + input.channels + " (" + input.colourSpace +
                                   (input.premultiplied ? ", premultiplied" : "") + ")" +
                                   (depth ? ", depth from " + depth->channel : std::string());
        if (note.empty()) rendered_.used.insert(source);
        ColourImage result;
        GreyImage shadow = in->shadow ? *in->shadow : GreyImage{};
        std::string filterPrinted;
        const StepClock::time_point filterStart = StepClock::now();
        bool written = false;
        {
            const PrintingInto printing(filterPrinted);
            written = host_.Process(colour, in->shadow ? &shadow : nullptr, depth ? &*depth : nullptr, f.time, result);
        }
        times.filterMs = MillisecondsSince(filterStart);
        times.filtered = true;
        // What reading this frame printed, then what the module did.
        std::string readPrinted = note.empty() ? std::move(in->printed) : std::string();
        if (!written) {
            ++rendered_.refused;
            FinishWrites(0);
            PassOnPrinted(&readPrinted, f.number);
            PassOnPrinted(&filterPrinted, f.number);
            PassOnPrinted(nullptr, f.number);
            LogMessage(LogLevel::Error,
                       FrameName(f) + " (" + f.colour + "): the module refused the frame; no output written", f.number);
            progress_.FrameDone(f.number, FrameOutcome::Refused, "refused by the module", times);
            return;
        }
        const std::filesystem::path parent = std::filesystem::path(output).parent_path();
        if (!parent.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(parent, ec);
            if (ec) throw std::runtime_error(parent.string() + ": cannot create folder: " + ec.message());
        }
        // The write keeps what the output records of its input; its pixels
        // only when the input held more than bytes, for the output to keep
        // the values the module did not change.
        ColourInput recorded{input.values ? input.image : ColourImage{}, input.channels, input.colourSpace,
                             input.premultiplied, input.metadata, input.values};
        in.reset();
        // At most the bound less the frame filtered and one read ahead are
        // written at once: with three frames in flight, one; the frames
        // before this one that are still written beyond that finish first.
        const std::size_t writing = inFlight_ > 2 ? inFlight_ - 2 : 1;
        FinishWrites(writing - 1);
        auto printed = std::make_shared<std::string>();
        const OutputRequest& request = request_;
        writes_.push_back(Writing{f.number, note.empty() ? FrameOutcome::Written : FrameOutcome::Missing,
                                  "wrote " + output + note + " (" + source + ")", times, std::move(readPrinted),
                                  std::move(filterPrinted), printed,
                                  std::async(launch_, [&output, &request, printed, result = std::move(result),
                                                       recorded = std::move(recorded)] {
                                      const PrintingInto printing(*printed);
                                      const StepClock::time_point start = StepClock::now();
                                      WriteFrameOutput(output, result, recorded, request);
                                      return MillisecondsSince(start);
                                  })});
        if (inFlight_ == 1) FinishWrites(0);
    }

    const RenderOptions& options_;
    const std::vector<FrameFiles>& frames_;
    Host& host_;
    const OutputRequest& request_;
    Progress& progress_;
    const std::launch launch_;
    const bool standIns_;  // missing or unreadable frames may have stand-ins
    const int threads_;
    std::size_t inFlight_ = 0;  // the bound; 0 until the first frame is read
    std::size_t nextRead_ = 0;  // the first frame not yet considered for reading ahead
    std::map<std::size_t, std::shared_future<SharedInputs>> ahead_;
    std::deque<Writing> writes_;
    SharedInputs last_;  // the last frame read, which stands in for missing and unreadable frames
    FramesRendered rendered_;
};

}  // namespace

int RenderThreads() {
    if (const char* set = std::getenv("LUMAFEX_THREADS"); set != nullptr) {
        char* end = nullptr;
        const long n = std::strtol(set, &end, 10);
        if (end != set && *end == '\0' && n >= 1 && n <= 256) return static_cast<int>(n);
    }
    return std::clamp(AllowedProcessors(), 1, 256);
}

std::size_t FramesInFlight(std::size_t asked, bool readAhead, int threads, uint64_t frameBytes,
                           uint64_t memoryBudget) {
    if (asked > 0) return asked;
    if (!readAhead) return 1;
    constexpr std::size_t kReadFilterWrite = 3;
    const std::size_t most = static_cast<std::size_t>(std::max(threads, 1)) + 2;
    const uint64_t fit = frameBytes > 0 ? memoryBudget / frameBytes : most;
    return std::max(kReadFilterWrite, static_cast<std::size_t>(std::min<uint64_t>(fit, most)));
}

FramesRendered RenderFrames(const RenderOptions& options, const std::vector<FrameFiles>& frames, Host& host,
                            const OutputRequest& request, Progress& progress) {
    SetCodecThreads(RenderThreads());
    return FrameSteps(options, frames, host, request, progress).Run();
}

}  // namespace lumafex::tool
