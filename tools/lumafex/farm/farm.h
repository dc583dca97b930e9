// lumafex farm submit: a scene's frames as a Slurm job array, one chunk of
// consecutive frames per array task, each task a `lumafex render` of its
// chunk. Every task loads the module afresh, as the renderer's own nodes do,
// so a chunk's frames are the bytes a local render of that chunk gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumafex::tool {

struct FarmOptions {
    std::string scene;
    std::string module;
    std::string program;  // the program the tasks run; empty: this one
    int64_t chunk = 10;   // frames per array task
    std::optional<std::vector<int64_t>> frames;  // empty: the scene's
    std::string outputDir;  // passed to every task
    std::string compression;  // passed to every task with --compression; empty: none
    std::string farmDir;    // job script, logs and task results; empty: beside the scene
    std::string partition;
    std::vector<std::string> sbatchArgs;
    int64_t maxRunning = 0;   // tasks running at once (the array's %N); 0: no limit
    int64_t cpusPerTask = 0;  // 0: Slurm's default
    std::string timeLimit;    // sbatch --time; empty: the partition's
    std::string memory;       // sbatch --mem; empty: the partition's
    bool wait = false;
    bool dryRun = false;
    bool quiet = false;
};

// At most chunk frames for one array task, and the --frames list that names
// exactly them ("1-6", "1,3,5", "7-9,12").
struct Chunk {
    std::vector<int64_t> frames;
    std::string list;
};

// The frames' numbers, sorted and each once, in chunks of at most chunk.
std::vector<Chunk> SplitIntoChunks(std::vector<int64_t> frames, int64_t chunk);

// A word for the shell, single-quoted; a control character (a byte below
// 0x20, or 0x7f) is written as $'\xHH' between quoted parts, so the word
// stays on one line of a script and passes to the command unchanged.
std::string ShellQuote(const std::string& word);

// The value for a message or a script's comment: control characters as
// \n, \t or \xHH, backslashes doubled, the rest as it is.
std::string Printable(const std::string& value);

struct FarmJob {
    std::string program, module, scene, outputDir, farmDir, name;
    std::vector<Chunk> chunks;
    std::string colourConfig = {};  // passed to every task with --colorconfig; empty: none
    std::string compression = {};   // passed to every task's render with --compression
    std::string partition = {};
    int64_t maxRunning = 0, cpusPerTask = 0;
    std::string timeLimit = {}, memory = {};
    // Exported by the script before the render: OCIO and the LUMAFEX_*
    // variables the submitting shell had, so no node's own decide a render.
    std::vector<std::pair<std::string, std::string>> environment = {};
};

// Refuses, naming the value, a path or option holding a control character
// (a scene named "shot\ntouch X\n.json" must not reach a job script), and
// a backslash in the farm folder or job name, which would stop sbatch from
// filling in the log files' job and task numbers. Called before anything is
// written or submitted.
void CheckFarmValues(const FarmOptions& options);
void CheckFarmJob(const FarmJob& job, const std::string& partition,
                  const std::vector<std::string>& sbatchArgs);

// The job script: #SBATCH lines (name, array and its %N throttle, log
// files, partition, CPUs, time and memory) so that `sbatch SCRIPT` alone
// resubmits it, the environment, the chunk table, the render of the task's chunk and a
// result file per task, which --wait reads. Every value in it is quoted;
// the program gets "-v --module=M [--colorconfig=C] render --frames=LIST
// [--output-dir=D] [--compression=C] -- SCENE", so no value can be read as
// an option either.
std::string JobScript(const FarmJob& job);

// The sbatch command that submits it as an array of one task a chunk, with
// its name and log files: the argument vector (first "sbatch"), and the
// same as a shell command line with every word quoted.
std::vector<std::string> SbatchArguments(const FarmJob& job, const std::string& partition,
                                         const std::vector<std::string>& sbatchArgs);
std::string SbatchCommand(const FarmJob& job, const std::string& partition,
                          const std::vector<std::string>& sbatchArgs);

// One array task's final state as sacct reports it ("COMPLETED",
// "TIMEOUT", ...), by task index, from `sacct -n -P -o JobID,State` output
// for jobId; steps ("42_0.batch") and other jobs are left out.
std::vector<std::pair<std::size_t, std::string>> TaskStatesFromSacct(const std::string& text,
                                                                     const std::string& jobId);

// One chunk of a job in a farm folder, as its tasks' result and log files
// left it: the latest run (highest job id) of each chunk counts.
struct ChunkRecord {
    std::string script;  // NAME.sbatch
    std::size_t index = 0;
    std::string frames;       // the chunk's --frames list
    std::string jobId;        // of its latest run; empty: none yet
    int status = -1;          // its result; -1: no result
    bool logged = false;      // the latest run wrote a log
};

// Every chunk of every job script in dir, in order; throws naming dir when
// it holds no job script.
std::vector<ChunkRecord> ReadFarmFolder(const std::string& dir);

// The state for `farm status`: "done", "failed (status N)", "running",
// "pending", "ended without a result" or "not run", given whether Slurm's
// queue still holds the chunk's task.
std::string ChunkState(const ChunkRecord& chunk, bool queued);

// The frames of a chunk's list (its --frames text) that its render's log
// does not show written or already there, as a comma-separated list; empty
// when every frame is. A log that is empty or missing leaves them all.
std::string FramesLeft(const std::string& frames, std::istream& log);

// The sbatch command that runs the script again for only these chunks,
// with the script's throttle and log files.
std::vector<std::string> ResumeArguments(const std::string& dir, const std::string& script,
                                         const std::vector<std::size_t>& chunks);

// lumafex farm status DIR and lumafex farm resume DIR; exit statuses.
int FarmStatus(const std::string& dir);
int FarmResume(const std::string& dir, bool dryRun);

// Submits (or with dryRun prints) the job; returns an exit status.
int FarmSubmit(const FarmOptions& options);

}  // namespace lumafex::tool
