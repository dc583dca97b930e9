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

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

std::string Hex(char c) {
    static const char digits[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    return {digits[byte >> 4], digits[byte & 15]};
}

void RefuseControlCharacters(const std::string& what, const std::string& value) {
    const auto bad = std::find_if(value.begin(), value.end(), IsControl);
    if (bad == value.end()) return;
    throw std::invalid_argument(what + " \"" + Printable(value) + "\" holds a control character (byte 0x" +
                                Hex(*bad) +
                                "), which a job script cannot carry safely; rename it (nothing was "
                                "written or submitted)");
}

void RefuseBackslash(const std::string& what, const std::string& value) {
    if (value.find('\\') == std::string::npos) return;
    throw std::invalid_argument(what + " \"" + Printable(value) +
                                "\" holds a backslash, which makes sbatch leave the job and task "
                                "numbers out of the log file names; rename it (nothing was written "
                                "or submitted)");
}

// sbatch fills in %A, %a and the like in a log file name; a '%' of the path
// itself is written "%%".
std::string LogPattern(const std::string& path) {
    std::string pattern;
    for (const char c : path) {
        if (c == '%') pattern += '%';
        pattern += c;
    }
    return pattern;
}

}  // namespace

std::string ShellQuote(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else if (IsControl(c)) {
            quoted.append("'$'\\x").append(Hex(c)).append("''");
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string Printable(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (IsControl(c)) {
            out.append("\\x").append(Hex(c));
        } else {
            out += c;
        }
    }
    return out;
}

void CheckFarmValues(const FarmOptions& options) {
    RefuseControlCharacters("the scene", options.scene);
    RefuseControlCharacters("--module", options.module);
    RefuseControlCharacters("the program", options.program);
    RefuseControlCharacters("--output-dir", options.outputDir);
    RefuseControlCharacters("--farm-dir", options.farmDir);
    RefuseControlCharacters("--partition", options.partition);
    for (const std::string& arg : options.sbatchArgs) RefuseControlCharacters("--sbatch-arg", arg);
}

void CheckFarmJob(const FarmJob& job, const std::string& partition,
                  const std::vector<std::string>& sbatchArgs) {
    RefuseControlCharacters("the program", job.program);
    RefuseControlCharacters("the module", job.module);
    RefuseControlCharacters("the scene", job.scene);
    RefuseControlCharacters("the output folder", job.outputDir);
    RefuseControlCharacters("the colour configuration", job.colourConfig);
    RefuseControlCharacters("the farm folder", job.farmDir);
    RefuseControlCharacters("the job name", job.name);
    RefuseControlCharacters("--partition", partition);
    for (const std::string& arg : sbatchArgs) RefuseControlCharacters("--sbatch-arg", arg);
    RefuseBackslash("the farm folder", job.farmDir);
    RefuseBackslash("the job name (the scene's name)", job.name);
}

std::string JobScript(const FarmJob& job) {
    const std::string stem = (fs::path(job.farmDir) / job.name).string();
    std::ostringstream s;
    s << "#!/bin/bash\n"
      << "# lumafex farm job: " << ShellQuote(job.scene) << ", " << job.chunks.size() << " chunks\n"
      << "# One array task per chunk renders it and records its exit status.\n"
      << "set -u\n"
      << "chunks=(";
    for (const Chunk& c : job.chunks) s << " " << ShellQuote(c.list);
    s << " )\n"
      << "frames=${chunks[$SLURM_ARRAY_TASK_ID]}\n"
      << "echo \"lumafex farm: task $SLURM_ARRAY_TASK_ID, frames $frames, on $(hostname)\"\n"
      << ShellQuote(job.program) << " -v " << ShellQuote("--module=" + job.module);
    if (!job.colourConfig.empty()) s << " " << ShellQuote("--colorconfig=" + job.colourConfig);
    s << " render \"--frames=$frames\"";
    if (!job.outputDir.empty()) s << " " << ShellQuote("--output-dir=" + job.outputDir);
    s << " -- " << ShellQuote(job.scene) << "\n"
      << "status=$?\n"
      << "echo \"$status\" >" << ShellQuote(stem + "-") << "\"${SLURM_ARRAY_JOB_ID}_"
      << "${SLURM_ARRAY_TASK_ID}.result\"\n"
      << "exit \"$status\"\n";
    return s.str();
}

std::vector<std::string> SbatchArguments(const FarmJob& job, const std::string& partition,
                                         const std::vector<std::string>& sbatchArgs) {
    const std::string stem = (fs::path(job.farmDir) / job.name).string();
    std::vector<std::string> args{"sbatch", "--parsable",
                                  "--array=0-" + std::to_string(job.chunks.size() - 1),
                                  "--job-name=lumafex:" + job.name,
                                  "--output=" + LogPattern(stem) + "-%A_%a.log"};
    if (!partition.empty()) args.push_back("--partition=" + partition);
    args.insert(args.end(), sbatchArgs.begin(), sbatchArgs.end());
    args.push_back(stem + ".sbatch");
    return args;
}

std::string SbatchCommand(const FarmJob& job, const std::string& partition,
                          const std::vector<std::string>& sbatchArgs) {
    std::string command;
    for (const std::string& arg : SbatchArguments(job, partition, sbatchArgs)) {
        if (!command.empty()) command += ' ';
        command += ShellQuote(arg);
    }
    return command;
}

std::vector<std::pair<std::size_t, std::string>> TaskStatesFromSacct(const std::string& text,
                                                                     const std::string& jobId) {
    std::vector<std::pair<std::size_t, std::string>> states;
    std::istringstream lines(text);
    const std::string prefix = jobId + "_";
    for (std::string line; std::getline(lines, line);) {
        const std::size_t bar = line.find('|');
        if (bar == std::string::npos || line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string task = line.substr(prefix.size(), bar - prefix.size());
        // Only a task's own line: its steps ("42_0.batch") and ranges still
        // pending ("42_[1-3]") are left out.
        if (task.empty() || task.size() > 9 || task.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "CANCELLED by 0" is CANCELLED.
        std::string state = line.substr(bar + 1);
        state = state.substr(0, state.find_first_of(" |\r"));
        if (!state.empty()) states.emplace_back(std::stoul(task), std::move(state));
    }
    return states;
}

}  // namespace lumafex::tool
