// lumafex farm submit on POSIX systems, where Slurm's commands run.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "farm/farm.h"
#include "image_files/files.h"
#include "image_files/frame_io.h"
#include "rendering/render.h"
#include "scenes/scene.h"
#include "scenes/settings_block.h"

namespace lumafex::tool {

namespace fs = std::filesystem;

namespace {

struct Ran {
    int status = 0;   // the exit status; 128 + the signal that ended it
    std::string out;  // what it wrote on standard output
    std::string err;  // on standard error, unless passed through
};

// Runs a program found on PATH with the arguments as they are (no shell
// reads them). Its standard output is kept; its standard error is kept too,
// or with passErrors goes straight to ours.
Ran Run(const std::vector<std::string>& args, bool passErrors) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || (!passErrors && pipe2(errPipe, O_CLOEXEC) != 0))
        throw std::runtime_error("cannot run " + args[0] + ": " + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    if (!passErrors) posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    if (!passErrors) close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        if (!passErrors) close(errPipe[0]);
        throw std::runtime_error("cannot run " + args[0] + ": " + std::strerror(spawned) +
                                 (spawned == ENOENT ? " (are Slurm's commands installed and on PATH?)" : ""));
    }

    // Both pipes are read as they fill, so that neither blocks the program.
    Ran ran;
    std::vector<pollfd> pending{{outPipe[0], POLLIN, 0}};
    if (!passErrors) pending.push_back({errPipe[0], POLLIN, 0});
    char buffer[4096];
    while (!pending.empty()) {
        if (poll(pending.data(), pending.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t i = 0; i < pending.size();) {
            ssize_t n = 0;
            if (pending[i].revents != 0) n = read(pending[i].fd, buffer, sizeof buffer);
            if (n > 0)
                (pending[i].fd == outPipe[0] ? ran.out : ran.err).append(buffer, static_cast<std::size_t>(n));
            if (pending[i].revents != 0 && n <= 0 && !(n < 0 && errno == EINTR)) {
                close(pending[i].fd);
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {}
    ran.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : 128;
    return ran;
}

bool Blank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

bool UsesNoise(const Scene& scene) {
    const std::vector<std::string> none;
    if (SettingsFromLines(scene.settings ? *scene.settings : none).NoiseFlag != 0) return true;
    return std::any_of(scene.objects.begin(), scene.objects.end(),
                       [](const SceneItem& item) { return item.name == "3Noise%"; });
}

// Waits for every task of the array to leave the queue. A failing squeue
// (the controller busy or restarting) is asked again after 1, 2, 4, 8 and
// 16 seconds before the wait ends without it.
void WaitForJob(const std::string& jobId) {
    constexpr int kRetries = 5;
    int failures = 0;
    for (;;) {
        const Ran queue = Run({"squeue", "-h", "-j", jobId, "-o", "%i"}, false);
        if (queue.status == 0) {
            if (Blank(queue.out)) return;
            failures = 0;
            std::this_thread::sleep_for(std::chrono::seconds(1));
            continue;
        }
        // The controller no longer holds a job that ended a while ago.
        if (queue.err.find("Invalid job id") != std::string::npos) return;
        if (failures == kRetries) {
            std::fprintf(stderr,
                         "lumafex: warning: squeue failed %d times in a row (status %d: %s); "
                         "the chunks are judged by what they left\n",
                         kRetries + 1, queue.status, Printable(queue.err).c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1 << failures));
        ++failures;
    }
}

// Each array task's final state from Slurm's accounting, where it is kept;
// empty where sacct is not configured or fails.
std::map<std::size_t, std::string> TaskStates(const std::string& jobId) {
    std::map<std::size_t, std::string> states;
    try {
        const Ran acct = Run({"sacct", "-n", "-P", "-j", jobId, "-o", "JobID,State"}, false);
        if (acct.status != 0) return states;
        for (auto& [task, state] : TaskStatesFromSacct(acct.out, jobId)) states[task] = std::move(state);
    } catch (const std::runtime_error&) {
        // No sacct: the results alone say how the chunks went.
    }
    return states;
}

}  // namespace

namespace {

// The job for the frames numbers of scene: absolute paths, the colour
// configuration and the environment every task gets, the chunks.
FarmJob DescribeJob(const FarmOptions& options, const Scene& scene, std::vector<int64_t> numbers) {
    FarmJob job;
    std::error_code ec;
    const fs::path self =
        options.program.empty() ? fs::read_symlink("/proc/self/exe", ec) : fs::path(options.program);
    job.program = fs::absolute(self).lexically_normal().string();
    job.module = fs::absolute(options.module).lexically_normal().string();
    job.scene = fs::absolute(options.scene).lexically_normal().string();
    if (!options.outputDir.empty())
        job.outputDir = fs::absolute(options.outputDir).lexically_normal().string();
    job.compression = options.compression;
    // Every task gets the colour configuration explicitly, whatever its
    // node's OCIO says: --colorconfig (which put it in OCIO here), else the
    // scene's colorConfig, else this OCIO.
    const char* ocio = std::getenv("OCIO");
    const std::string config = ChosenColourConfigurationOrigin().empty() && !scene.colour.colourConfig.empty()
                                   ? scene.colour.colourConfig
                                   : std::string(ocio != nullptr ? ocio : "");
    if (!config.empty()) job.colourConfig = fs::absolute(config).lexically_normal().string();
    if (!job.colourConfig.empty()) job.environment.emplace_back("OCIO", job.colourConfig);
    // The LUMAFEX_* variables of this shell go to every task as they are.
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::size_t equals = variable.find('=');
        if (variable.rfind("LUMAFEX_", 0) != 0 || equals == std::string::npos) continue;
        const std::string name = variable.substr(0, equals);
        if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
            std::string::npos)
            continue;
        job.environment.emplace_back(name, variable.substr(equals + 1));
    }
    std::sort(job.environment.begin() + (job.colourConfig.empty() ? 0 : 1), job.environment.end());
    job.partition = options.partition;
    job.maxRunning = options.maxRunning;
    job.cpusPerTask = options.cpusPerTask;
    job.timeLimit = options.timeLimit;
    job.memory = options.memory;
    job.farmDir = fs::absolute(options.farmDir.empty() ? fs::path(job.scene).parent_path() / "lumafex-farm"
                                                       : fs::path(options.farmDir))
                      .lexically_normal()
                      .string();
    job.name = fs::path(job.scene).stem().string();
    job.chunks = SplitIntoChunks(std::move(numbers), options.chunk);
    if (job.chunks.size() > 100000) throw std::invalid_argument("more than 100000 chunks: raise --chunk");
    return job;
}

// Submits the job's script, which is written; returns the job id Slurm gave.
std::string SubmitJob(const FarmJob& job, const FarmOptions& options) {
    // The job id comes on standard output ("42", or "42;cluster" with
    // --parsable); warnings on standard error go on to ours, and the exit
    // status alone says whether the job was taken.
    const Ran sbatch = Run(SbatchArguments(job, options.partition, options.sbatchArgs), true);
    if (sbatch.status != 0) {
        throw std::runtime_error("sbatch failed with status " + std::to_string(sbatch.status) +
                                 " (its messages are above); nothing was submitted");
    }
    std::string jobId;
    std::istringstream lines(sbatch.out);
    for (std::string line; std::getline(lines, line);) {
        if (!Blank(line)) jobId = line.substr(0, line.find_first_of(";\r \t"));
    }
    if (jobId.empty() || jobId.find_first_not_of("0123456789") != std::string::npos) {
        throw std::runtime_error("sbatch succeeded but printed no job id (it printed \"" +
                                 Printable(sbatch.out) +
                                 "\"); the job may be queued: see squeue before submitting again");
    }
    return jobId;
}

// Waits for the job and reports every chunk that did not render; the exit
// status of the worst.
int ReportChunks(const FarmJob& job, const std::string& jobId, const FarmOptions& options) {
    WaitForJob(jobId);
    const std::map<std::size_t, std::string> states = TaskStates(jobId);
    int worst = kExitOk;
    std::size_t failed = 0;
    for (std::size_t i = 0; i < job.chunks.size(); ++i) {
        const std::string stem =
            (fs::path(job.farmDir) / job.name).string() + "-" + jobId + "_" + std::to_string(i);
        std::ifstream result(stem + ".result");
        int code = -1;
        if (!(result >> code)) code = -1;
        if (code == 0) continue;
        ++failed;
        worst = std::max(worst, code > 0 ? code : kExitError);
        std::string outcome = code < 0 ? std::string("did not finish")
                                       : std::string("failed with status ").append(std::to_string(code));
        if (const auto state = states.find(i); state != states.end())
            outcome.append(" (Slurm state ").append(state->second).append(")");
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

}  // namespace

int FarmSubmit(const FarmOptions& options) {
    CheckFarmValues(options);
    const Scene scene = LoadScene(options.scene);
    std::vector<int64_t> numbers;
    for (const SceneFrame* f : SelectFrames(scene, options.frames)) numbers.push_back(f->number);

    FarmJob job = DescribeJob(options, scene, std::move(numbers));
    CheckFarmJob(job, options.partition, options.sbatchArgs);
    // Every frame of the scene, not only those submitted: a chunk must not
    // replace what another chunk (or a later render) reads, and no two
    // frames may write one file.
    CheckSceneOutputs(scene, job.outputDir);

    if (UsesNoise(scene)) {
        std::fprintf(stderr,
                     "lumafex: warning: noise is on. The noise generator carries on from frame to "
                     "frame within one run, so a frame's noise depends on where its chunk starts: "
                     "frames match a local render of the same chunk, not of the whole scene\n");
    }

    const std::string script = JobScript(job);
    const std::string scriptPath = (fs::path(job.farmDir) / (job.name + ".sbatch")).string();
    if (options.dryRun) {
        std::printf("%s\n# would run: %s\n", script.c_str(),
                    SbatchCommand(job, options.partition, options.sbatchArgs).c_str());
        return kExitOk;
    }
    fs::create_directories(job.farmDir);
    WriteFileSafely(scriptPath, [&](std::ostream& out) { out << script; });

    const std::string jobId = SubmitJob(job, options);
    std::printf("%s\n", jobId.c_str());
    std::fflush(stdout);
    if (!options.quiet) {
        std::fprintf(stderr, "lumafex: submitted job %s: %zu chunks of up to %lld frames; logs in %s\n",
                     jobId.c_str(), job.chunks.size(), static_cast<long long>(options.chunk),
                     job.farmDir.c_str());
    }
    if (!options.wait) return kExitOk;

    return ReportChunks(job, jobId, options);
}

namespace {

// The chunks of script whose tasks Slurm's queue holds, by the job name
// the script gives; empty where squeue is missing or fails.
std::set<std::size_t> QueuedChunks(const std::string& dir, const std::string& script) {
    std::set<std::size_t> queued;
    std::ifstream in(fs::path(dir) / script, std::ios::binary);
    std::string name;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("#SBATCH --job-name=", 0) == 0) name = line.substr(19);
    }
    if (name.empty()) return queued;
    try {
        const Ran queue = Run({"squeue", "-h", "-r", "-n", name, "-o", "%i"}, false);
        if (queue.status != 0) return queued;
        std::istringstream lines(queue.out);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t bar = line.rfind('_');
            const std::string task = bar == std::string::npos ? "" : line.substr(bar + 1);
            if (!task.empty() && task.size() <= 9 &&
                task.find_first_not_of("0123456789") == std::string::npos)
                queued.insert(std::stoul(task));
        }
    } catch (const std::runtime_error&) {
        // No squeue: the files alone say how the chunks went.
    }
    return queued;
}

}  // namespace

int FarmStatus(const std::string& dir) {
    const std::vector<ChunkRecord> chunks = ReadFarmFolder(dir);
    std::map<std::string, std::set<std::size_t>> queued;
    std::size_t unfinished = 0;
    for (const ChunkRecord& chunk : chunks) {
        if (!queued.count(chunk.script)) queued[chunk.script] = QueuedChunks(dir, chunk.script);
        const std::string state = ChunkState(chunk, queued[chunk.script].count(chunk.index) > 0);
        if (state != "done") ++unfinished;
        std::printf("%s chunk %zu (frames %s): %s", chunk.script.c_str(), chunk.index, chunk.frames.c_str(),
                    state.c_str());
        if (!chunk.jobId.empty() && chunk.status != 0) {
            const fs::path stem = fs::path(chunk.script).stem();
            const fs::path log = fs::path(dir) / (stem.string() + "-" + chunk.jobId + "_" +
                                                  std::to_string(chunk.index) + ".log");
            // A chunk that ended without finishing names the frames it left.
            if (state.rfind("failed", 0) == 0 || state == "ended without a result") {
                std::ifstream text(log);
                const std::string left = FramesLeft(chunk.frames, text);
                if (!left.empty()) std::printf("; frames left: %s", left.c_str());
            }
            std::printf("; log: %s", log.string().c_str());
        }
        std::printf("\n");
    }
    std::printf("%zu of %zu chunks done\n", chunks.size() - unfinished, chunks.size());
    return unfinished == 0 ? kExitOk : kExitFramesSkipped;
}

int FarmResume(const std::string& dir, bool dryRun) {
    const std::vector<ChunkRecord> chunks = ReadFarmFolder(dir);
    std::map<std::string, std::vector<std::size_t>> again;
    std::map<std::string, std::set<std::size_t>> queued;
    for (const ChunkRecord& chunk : chunks) {
        if (!queued.count(chunk.script)) queued[chunk.script] = QueuedChunks(dir, chunk.script);
        // Failed or never ran; a chunk still queued or running is left alone.
        if (chunk.status != 0 && queued[chunk.script].count(chunk.index) == 0)
            again[chunk.script].push_back(chunk.index);
    }
    if (again.empty()) {
        std::fprintf(stderr, "lumafex: every chunk in %s is done or still queued; nothing to resubmit\n",
                     dir.c_str());
        return kExitOk;
    }
    for (const auto& [script, indices] : again) {
        const std::vector<std::string> args = ResumeArguments(dir, script, indices);
        if (dryRun) {
            std::string command;
            for (const std::string& arg : args)
                command.append(command.empty() ? "" : " ").append(ShellQuote(arg));
            std::printf("# would run: %s\n", command.c_str());
            continue;
        }
        const Ran sbatch = Run(args, true);
        if (sbatch.status != 0) {
            throw std::runtime_error("sbatch failed with status " + std::to_string(sbatch.status) +
                                     " (its messages are above); " + script + " was not resubmitted");
        }
        std::string jobId = sbatch.out.substr(0, sbatch.out.find_first_of(";\r\n \t"));
        std::printf("%s\n", jobId.c_str());
        std::fprintf(stderr, "lumafex: resubmitted %zu chunks of %s as job %s\n", indices.size(),
                     script.c_str(), jobId.c_str());
    }
    return kExitOk;
}

}  // namespace lumafex::tool
