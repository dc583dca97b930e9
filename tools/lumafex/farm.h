// lumafex farm submit: a scene's frames as a Slurm job array, one chunk of
// consecutive frames per array task, each task a `lumafex render` of its
// chunk. Every task loads the module afresh, as the renderer's own nodes do,
// so a chunk's frames are the bytes a local render of that chunk gives.
#pragma once

#include <cstdint>
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
    std::string farmDir;    // job script, logs and task results; empty: beside the scene
    std::string partition;
    std::vector<std::string> sbatchArgs;
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

// A word for the shell, single-quoted.
std::string ShellQuote(const std::string& word);

struct FarmJob {
    std::string program, module, scene, outputDir, farmDir, name;
    std::vector<Chunk> chunks;
};

// The job script: the chunk table, the render of the task's chunk and a
// result file per task, which --wait reads.
std::string JobScript(const FarmJob& job);

// The sbatch command line that submits it as an array of one task a chunk,
// with its name and log files.
std::string SbatchCommand(const FarmJob& job, const std::string& partition,
                          const std::vector<std::string>& sbatchArgs);

// Submits (or with dryRun prints) the job; returns an exit status.
int FarmSubmit(const FarmOptions& options);

}  // namespace lumafex::tool
