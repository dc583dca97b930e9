#include "farm.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace lumafex::tool {

namespace fs = std::filesystem;

std::vector<Chunk> SplitIntoChunks(std::vector<int64_t> frames, int64_t chunk) {
    if (chunk < 1) throw std::invalid_argument("--chunk must be at least 1");
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    std::vector<Chunk> chunks;
    for (std::size_t i = 0; i < frames.size(); i += static_cast<std::size_t>(chunk)) {
        const std::size_t end = std::min(frames.size(), i + static_cast<std::size_t>(chunk));
        Chunk c;
        c.frames.assign(frames.begin() + static_cast<std::ptrdiff_t>(i),
                        frames.begin() + static_cast<std::ptrdiff_t>(end));
        // Runs of consecutive frames as A-B, joined with commas.
        for (std::size_t k = 0; k < c.frames.size();) {
            std::size_t run = k;
            while (run + 1 < c.frames.size() && c.frames[run + 1] == c.frames[run] + 1) ++run;
            if (!c.list.empty()) c.list += ',';
            c.list += std::to_string(c.frames[k]);
            if (run > k) c.list.append("-").append(std::to_string(c.frames[run]));
            k = run + 1;
        }
        chunks.push_back(std::move(c));
    }
    return chunks;
}

std::string ShellQuote(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string JobScript(const FarmJob& job) {
    const std::string stem = (fs::path(job.farmDir) / job.name).string();
    std::ostringstream s;
    s << "#!/bin/bash\n"
      << "# lumafex farm job: " << job.scene << ", " << job.chunks.size() << " chunks\n"
      << "# Submitted as an array of one task per chunk (see SbatchCommand).\n"
      << "set -u\n"
      << "chunks=(";
    for (const Chunk& c : job.chunks) s << " " << c.list;
    s << " )\n"
      << "frames=${chunks[$SLURM_ARRAY_TASK_ID]}\n"
      << "echo \"lumafex farm: task $SLURM_ARRAY_TASK_ID, frames $frames, on $(hostname)\"\n"
      << ShellQuote(job.program) << " -v --module " << ShellQuote(job.module) << " render "
      << ShellQuote(job.scene) << " --frames=\"$frames\"";
    if (!job.outputDir.empty()) s << " --output-dir " << ShellQuote(job.outputDir);
    s << "\n"
      << "status=$?\n"
      << "echo \"$status\" >" << ShellQuote(stem + "-") << "\"${SLURM_ARRAY_JOB_ID}_"
      << "${SLURM_ARRAY_TASK_ID}.result\"\n"
      << "exit \"$status\"\n";
    return s.str();
}

std::string SbatchCommand(const FarmJob& job, const std::string& partition,
                          const std::vector<std::string>& sbatchArgs) {
    const std::string stem = (fs::path(job.farmDir) / job.name).string();
    std::string command = "sbatch --parsable --array=0-";
    command.append(std::to_string(job.chunks.size() - 1))
        .append(" --job-name=")
        .append(ShellQuote(std::string("lumafex:").append(job.name)))
        .append(" --output=")
        .append(ShellQuote(std::string(stem).append("-%A_%a.log")));
    if (!partition.empty()) command.append(" --partition=").append(ShellQuote(partition));
    for (const std::string& arg : sbatchArgs) command.append(" ").append(ShellQuote(arg));
    return command.append(" ").append(ShellQuote(stem + ".sbatch"));
}

}  // namespace lumafex::tool
