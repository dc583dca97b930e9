// lumafex farm submit on POSIX systems, where Slurm's commands run.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "farm.h"
#include "files.h"
#include "render.h"
#include "scene.h"
#include "settings_block.h"

namespace lumafex::tool {

namespace fs = std::filesystem;

namespace {

// Runs a command line through the shell and returns what it printed; the
// exit status goes to status.
std::string Run(const std::string& command, int& status) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
    return out;
}

bool UsesNoise(const Scene& scene) {
    const std::vector<std::string> none;
    if (SettingsFromLines(scene.settings ? *scene.settings : none).NoiseFlag != 0) return true;
    return std::any_of(scene.objects.begin(), scene.objects.end(),
                       [](const SceneItem& item) { return item.name == "3Noise%"; });
}

// Waits for every task of the array to leave the queue.
void WaitForJob(const std::string& jobId) {
    for (;;) {
        int status = 0;
        const std::string queued = Run(std::string("squeue -h -j ").append(jobId).append(" -o %i 2>/dev/null"), status);
        if (status != 0 || queued.find_first_not_of(" \n") == std::string::npos) return;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

}  // namespace

int FarmSubmit(const FarmOptions& options) {
    const Scene scene = LoadScene(options.scene);
    std::vector<int64_t> numbers;
    for (const SceneFrame* f : SelectFrames(scene, options.frames)) numbers.push_back(f->number);

    FarmJob job;
    std::error_code ec;
    const fs::path self = options.program.empty() ? fs::read_symlink("/proc/self/exe", ec)
                                                  : fs::path(options.program);
    job.program = fs::absolute(self).lexically_normal().string();
    job.module = fs::absolute(options.module).lexically_normal().string();
    job.scene = fs::absolute(options.scene).lexically_normal().string();
    if (!options.outputDir.empty()) job.outputDir = fs::absolute(options.outputDir).lexically_normal().string();
    job.farmDir = fs::absolute(options.farmDir.empty()
                                   ? fs::path(job.scene).parent_path() / "lumafex-farm"
                                   : fs::path(options.farmDir))
                      .lexically_normal()
                      .string();
    job.name = fs::path(job.scene).stem().string();
    job.chunks = SplitIntoChunks(std::move(numbers), options.chunk);
    if (job.chunks.size() > 100000) throw std::invalid_argument("more than 100000 chunks: raise --chunk");

    if (UsesNoise(scene)) {
        std::fprintf(stderr,
                     "lumafex: warning: noise is on. The noise generator carries on from frame to "
                     "frame within one run, so a frame's noise depends on where its chunk starts: "
                     "frames match a local render of the same chunk, not of the whole scene\n");
    }

    const std::string sbatch = SbatchCommand(job, options.partition, options.sbatchArgs);
    const std::string script = JobScript(job);
    const std::string scriptPath = (fs::path(job.farmDir) / (job.name + ".sbatch")).string();
    if (options.dryRun) {
        std::printf("%s\n# would run: %s\n", script.c_str(), sbatch.c_str());
        return kExitOk;
    }
    fs::create_directories(job.farmDir);
    WriteFileSafely(scriptPath, [&](std::ostream& out) { out << script; });

    int status = 0;
    const std::string answer = Run(sbatch + " 2>&1", status);
    const std::string jobId = answer.substr(0, answer.find_first_of(";\n"));
    if (status != 0 || jobId.empty() || jobId.find_first_not_of("0123456789") != std::string::npos) {
        throw std::runtime_error("sbatch failed (status " + std::to_string(status) + "): " +
                                 (answer.empty() ? "is Slurm's sbatch installed?" : answer));
    }
    std::printf("%s\n", jobId.c_str());
    std::fflush(stdout);
    if (!options.quiet) {
        std::fprintf(stderr, "lumafex: submitted job %s: %zu chunks of up to %lld frames; logs in %s\n",
                     jobId.c_str(), job.chunks.size(), static_cast<long long>(options.chunk),
                     job.farmDir.c_str());
    }
    if (!options.wait) return kExitOk;

    WaitForJob(jobId);
    int worst = kExitOk;
    std::size_t failed = 0;
    for (std::size_t i = 0; i < job.chunks.size(); ++i) {
        const std::string stem = (fs::path(job.farmDir) / job.name).string() + "-" + jobId + "_" +
                                 std::to_string(i);
        std::ifstream result(stem + ".result");
        int code = -1;
        if (!(result >> code)) code = -1;
        if (code == 0) continue;
        ++failed;
        worst = std::max(worst, code > 0 ? code : kExitError);
        const std::string outcome =
            code < 0 ? std::string("did not finish") : std::string("failed with status ").append(std::to_string(code));
        std::fprintf(stderr, "lumafex: chunk %zu (frames %s) %s; log: %s.log\n", i,
                     job.chunks[i].list.c_str(), outcome.c_str(), stem.c_str());
    }
    if (failed == 0) {
        if (!options.quiet) std::fprintf(stderr, "lumafex: job %s: every chunk rendered\n", jobId.c_str());
        return kExitOk;
    }
    std::fprintf(stderr, "lumafex: job %s: %zu of %zu chunks failed\n", jobId.c_str(), failed,
                 job.chunks.size());
    return worst;
}

}  // namespace lumafex::tool
