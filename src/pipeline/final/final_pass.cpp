#include "pipeline/final/final_pass.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include "pipeline/final/colour_stages.h"
#include "pipeline/final/enhance_antialias.h"
#include "pipeline/final/flip.h"
#include "pipeline/final/key_stages.h"
#include "pipeline/final/noise.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/strips.h"
#include "platform/memory.h"

namespace lumafex {

namespace {

void HorizontalFlip(const RowView& row, StageContext& ctx) {
    FlipRowHorizontally(row, ctx.params.instructionSet);
}

// Gates, each tested once per pass: none of their inputs change while the
// pass runs.
bool BroadcastLimitRuns(const FilterSettings& s, const FrameParameters&) {
    return s.NegativeFlag != 0;
}
bool NoiseRuns(const FilterSettings& s, const FrameParameters&) { return s.NoiseFlag != 0; }
bool NegativeRuns(const FilterSettings& s, const FrameParameters&) {
    return s.NegativeImageFlag != 0;
}
bool PosterizeRuns(const FilterSettings& s, const FrameParameters& p) {
    return s.CartoonFlag != 0 && p.PosterizeStep > 1.0f;
}
bool BlackAndWhiteRuns(const FilterSettings& s, const FrameParameters&) {
    return s.GreyFlag != 0;
}
bool HorizontalFlipRuns(const FilterSettings& s, const FrameParameters&) {
    return s.FlipFrameFlag == 1;
}
bool KeyPrepRuns(const FilterSettings& s, const FrameParameters&) { return s.KeyPrepFlag != 0; }
bool ColourFactorsRun(const FilterSettings&, const FrameParameters& p) {
    return !(p.RedScale == 1.0f && p.GreenScale == 1.0f && p.BlueScale == 1.0f &&
             p.BrightScale == 1.0f);
}
bool ContrastRuns(const FilterSettings&, const FrameParameters& p) {
    return p.ContrastFactor != 1.0f;
}
bool GammaRuns(const FilterSettings&, const FrameParameters& p) { return p.GammaOffset != 0.0f; }
bool FullBlackRuns(const FilterSettings& s, const FrameParameters&) { return s.BlackFlag != 0; }
bool FullWhiteRuns(const FilterSettings& s, const FrameParameters&) { return s.WhiteFlag != 0; }
bool NegativeAlphaRuns(const FilterSettings& s, const FrameParameters&) {
    return s.ReverseAlphaFlag != 0;
}
bool RangeAlphaRuns(const FilterSettings& s, const FrameParameters&) {
    return s.RangeAlphaFlag != 0;
}

const std::array<FinalStage, kFinalStageCount> kStages = {{
    {"broadcast limit", BroadcastLimitRuns, BroadcastLimit, nullptr},
    {"noise", NoiseRuns, nullptr, Noise},
    {"negative", NegativeRuns, Negative, nullptr},
    {"posterize", PosterizeRuns, Posterize, nullptr},
    {"black and white", BlackAndWhiteRuns, nullptr, BlackAndWhite},
    {"horizontal flip", HorizontalFlipRuns, nullptr, HorizontalFlip},
    {"key prep", KeyPrepRuns, KeyPrep, nullptr},
    {"colour factors and brightness", ColourFactorsRun, ColourFactors, nullptr},
    {"contrast", ContrastRuns, Contrast, nullptr},
    {"gamma", GammaRuns, Gamma, nullptr},
    {"100% black", FullBlackRuns, FullBlack, nullptr},
    {"100% white", FullWhiteRuns, FullWhite, nullptr},
    {"negative alpha", NegativeAlphaRuns, nullptr, NegativeAlpha},
    {"range alpha", RangeAlphaRuns, nullptr, RangeAlpha},
}};

constexpr int kWorkLineCount = 10;
constexpr std::size_t kNoiseStage = 1;  // its index in kStages

// The row loop's work for one frame: its stages in order, each run of
// neighbouring map stages as one step, composed into one set of tables
// where the selection allows.
struct RowPlan {
    struct Step {
        void (*run)(const RowView&, StageContext&);  // null for a run of maps
        const ChannelMaps* maps;
        std::size_t mapCount;
    };
    std::array<Step, kFinalStageCount> steps{};
    std::size_t count = 0;
    std::size_t noiseAt = 0;  // the noise step's index; count when noise is off
    std::array<ChannelMaps, kFinalStageCount> maps{};
    std::size_t mapTotal = 0;
    std::array<OwnedChannelMaps, kFinalStageCount> composed{};
    std::array<ChannelMaps, kFinalStageCount> composedViews{};
    RangeTables range{};

    void Run(const Step& step, const RowView& row, StageContext& ctx) const {
        if (step.run != nullptr) {
            step.run(row, ctx);
        } else {
            ApplyMaps(row, ctx.settings, range, step.maps, step.mapCount,
                      ctx.params.instructionSet);
        }
    }
};

void MakePlan(const FilterSettings& settings, const FrameParameters& params,
              const StageContext& ctx, RowPlan& plan) {
    plan.noiseAt = kFinalStageCount;
    bool previousMaps = false;
    for (std::size_t i = 0; i < kStages.size(); ++i) {
        const FinalStage& stage = kStages[i];
        if (!stage.runs(settings, params)) continue;
        if (stage.maps == nullptr) {
            if (i == kNoiseStage) plan.noiseAt = plan.count;
            plan.steps[plan.count++] = {stage.run, nullptr, 0};
            previousMaps = false;
            continue;
        }
        // Map stages follow one another in plan.maps, so a run's tables
        // stay side by side.
        plan.maps[plan.mapTotal] = stage.maps(ctx);
        if (previousMaps) {
            ++plan.steps[plan.count - 1].mapCount;
        } else {
            plan.steps[plan.count++] = {nullptr, &plan.maps[plan.mapTotal], 1};
        }
        ++plan.mapTotal;
        previousMaps = true;
    }
    if (plan.noiseAt == kFinalStageCount) plan.noiseAt = plan.count;
    FillRangeTables(settings, plan.range);
    if (!MapsCompose(settings)) return;
    for (std::size_t i = 0; i < plan.count; ++i) {
        RowPlan::Step& step = plan.steps[i];
        if (step.run != nullptr || step.mapCount < 2) continue;
        ComposeMaps(step.maps, step.mapCount, plan.composed[i]);
        plan.composedViews[i] = plan.composed[i].View();
        step.maps = &plan.composedViews[i];
        step.mapCount = 1;
    }
}

// Hands rows first .. end-1 to the output, top to bottom: each row's
// pixels from the left, colour then alpha, into its own row or, flipped
// vertically, the mirrored one.
void WriteRows(const FrameView& frame, const FilterSettings& settings, FrameOutput& out,
               int32_t first, int32_t end) {
    const bool flipVertically = settings.FlipFrameFlag == 2;
    // Locals: the output's calls could change any memory the compiler
    // cannot see, so fields of the frame would be read again for every
    // pixel, from a line other threads read too.
    const int32_t width = frame.width;
    const int32_t height = frame.height;
    for (int32_t y = first; y < end; ++y) {
        const int32_t target = flipVertically ? height - 1 - y : y;
        const std::size_t row = frame.Index(0, y);
        const uint8_t* const red = frame.red + row;
        const uint8_t* const green = frame.green + row;
        const uint8_t* const blue = frame.blue + row;
        const uint8_t* const alpha = frame.alpha + row;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t rgb[3] = {red[x], green[x], blue[x]};
            out.PutRGB(x, target, rgb);
            out.PutAlpha(x, target, alpha[x]);
        }
    }
}

// The output a sweep hands its finished strips to, from the calling thread
// only (the host's calls are not made from other threads), strip after
// strip from the top as they finish, so that the calls come in the same
// order as from WriteBack. finished holds a flag per strip; without it
// (it could not be had), every row waits for the sweep's end.
struct StripWriter {
    const FrameView& frame;
    const FilterSettings& settings;
    FrameOutput& out;
    const RowStrips& strips;
    int32_t* finished;
    int32_t written = 0;  // strips handed over so far

    void MarkFinished(int32_t strip) {
        if (finished != nullptr) {
            std::atomic_ref<int32_t>(finished[strip]).store(1, std::memory_order_release);
        }
    }
    // Hands over every strip finished since the last call, in order; false
    // once none is left to hand over.
    bool WriteFinished() {
        while (finished != nullptr && written < strips.Count() &&
               std::atomic_ref<int32_t>(finished[written]).load(std::memory_order_acquire) != 0) {
            WriteRows(frame, settings, out, strips.First(written), strips.End(written));
            ++written;
        }
        return written < strips.Count();
    }
    void WriteRest() {
        WriteRows(frame, settings, out, strips.First(written), strips.rows);
        written = strips.Count();
    }
};

// Runs the plan's steps first .. end-1 over every row, by strips on the
// threads; the random generator is never drawn from here. With a noise
// step given, one task runs noise over every row, from the top and strip
// by strip, while the others take the steps after it for the strips noise
// has finished; then it joins them. Each row still sees its steps in the
// plan's order, and noise draws in row order on one thread. With a writer
// given, the calling thread hands each strip to the output as soon as it
// and every strip above it are through their steps, between strips of its
// own, and the rest once every task is done; noise then goes to another
// thread, so that the calling thread can hand strips over meanwhile. A
// task that waits for noise nobody has taken up runs it itself: the
// calling thread only when it is the one task, or after a wait no worker
// would need to start (the tasks may be running one after another on it).
void RunStepsOnThreads(const FrameView& frame, const RowStrips& strips, const RowPlan& plan,
                       std::size_t first, std::size_t end, StageContext& ctx,
                       const RowPlan::Step* noise = nullptr, StripWriter* writer = nullptr) {
    if ((first >= end && noise == nullptr) || frame.height <= 0) return;
    StripQueue queue(strips);
    std::atomic<int32_t> noised{noise == nullptr ? frame.height : 0};
    std::atomic<bool> noiseTaken{noise == nullptr};
    auto takeNoise = [&] {
        bool expected = false;
        if (!noiseTaken.compare_exchange_strong(expected, true)) return;
        for (int32_t strip = 0; strip < strips.Count(); ++strip) {
            for (int32_t y = strips.First(strip); y < strips.End(strip); ++y) {
                plan.Run(*noise, RowOf(frame, y), ctx);
            }
            noised.store(strips.End(strip), std::memory_order_release);
        }
    };
    const std::thread::id caller = std::this_thread::get_id();
    const int32_t tasks = queue.Workers();
    ForEachTask(tasks, [&](int32_t) {
        StripWriter* const mine = std::this_thread::get_id() == caller ? writer : nullptr;
        if (mine == nullptr || tasks == 1) takeNoise();
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
        StageContext local{ctx.settings, ctx.params, ctx.lines, ctx.colour, ctx.random};
        for (;;) {
            if (mine != nullptr) mine->WriteFinished();
            int32_t strip = 0;
            if (!queue.NextStrip(strip)) break;
            const int32_t top = strips.First(strip);
            const int32_t bottom = strips.End(strip);
            while (noised.load(std::memory_order_acquire) < bottom) {
                if (mine == nullptr || std::chrono::steady_clock::now() > giveUp) takeNoise();
                if (mine != nullptr) mine->WriteFinished();
                std::this_thread::yield();
            }
            for (int32_t y = top; y < bottom; ++y) {
                const RowView row = RowOf(frame, y);
                for (std::size_t i = first; i < end; ++i) plan.Run(plan.steps[i], row, local);
            }
            if (writer != nullptr) writer->MarkFinished(strip);
        }
        // The strips still in other threads' hands go out as they finish.
        if (mine != nullptr && mine->finished != nullptr) {
            while (mine->WriteFinished()) std::this_thread::yield();
        }
    });
}

}  // namespace

const std::array<FinalStage, kFinalStageCount>& FinalStages() { return kStages; }

void WriteBack(const FrameView& frame, const FilterSettings& settings, FrameOutput& out) {
    WriteRows(frame, settings, out, 0, frame.height);
}

FinalPassResult RunFinalPass(const FrameView& frame, const FilterSettings& settings,
                             const FrameParameters& params, RandomGenerator& random,
                             FrameOutput& out) {
    const auto width = static_cast<std::size_t>(frame.width > 0 ? frame.width : 0);
    // Ten lines of W bytes, refused rather than wrapped where W x 10 would
    // not fit (32-bit builds).
    auto block = width > std::numeric_limits<std::size_t>::max() / kWorkLineCount
                     ? platform::WorkingArray<uint8_t>()
                     : platform::WorkingArray<uint8_t>::Allocate(width * kWorkLineCount);
    if (!block) {
        WriteBack(frame, settings, out);
        return FinalPassResult::OutOfMemory;
    }
    uint8_t* base = block.data();
    const WorkLines lines{base,             base + width,     base + 2 * width,
                          base + 3 * width, base + 4 * width, base + 5 * width,
                          base + 6 * width, base + 7 * width, base + 8 * width,
                          base + 9 * width};

    if ((settings.SharpenFlag != 0 || settings.SmoothFlag != 0) && settings.Passes >= 1) {
        EnhanceAndAntialias(frame, settings, params, lines);
    }

    ColourTables colour;
    PrepareColourTables(params, colour);
    StageContext ctx{settings, params, lines, colour, random};
    RowPlan plan;
    MakePlan(settings, params, ctx, plan);
    // Every stage works on one row alone, so the rows can go in any order
    // and on any thread, except for noise: its draws from the one random
    // generator must come row after row from the top. The stages before
    // noise run as one sweep, then noise with the stages after it following
    // it strip by strip; each row still sees its stages in the fixed order.
    //
    // The last sweep hands each strip to the output as soon as the strips
    // down to it are done, on the calling thread.
    const RowStrips strips = RowStrips::For(frame.width, frame.height);
    auto finished =
        platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(strips.Count()) + 1);
    StripWriter writer{frame, settings, out, strips, finished ? finished.data() : nullptr};
    if (plan.noiseAt < plan.count) {
        RunStepsOnThreads(frame, strips, plan, 0, plan.noiseAt, ctx);
        RunStepsOnThreads(frame, strips, plan, plan.noiseAt + 1, plan.count, ctx,
                          &plan.steps[plan.noiseAt], &writer);
    } else {
        RunStepsOnThreads(frame, strips, plan, 0, plan.count, ctx, nullptr, &writer);
    }
    writer.WriteRest();
    return FinalPassResult::Written;
}

}  // namespace lumafex
