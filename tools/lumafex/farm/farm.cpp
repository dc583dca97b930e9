#include "farm/farm.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "scenes/frame_list.h"

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

// Whether sbatch reads value whole on an #SBATCH line: it splits such a
// line at blanks and takes quotes as its own, with no escape for either.
bool FitsDirective(const std::string& value) {
    return std::none_of(value.begin(), value.end(),
                        [](char c) { return c == ' ' || c == '"' || c == '\'' || IsControl(c); });
}

// --time and --mem take a number with its units ("30", "1:30:00", "2-0",
// "4G"); anything else is refused before it reaches the script.
void RefuseOddLimit(const std::string& what, const std::string& value) {
    if (value.find_first_not_of("0123456789:-+ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") ==
        std::string::npos)
        return;
    throw std::invalid_argument(what + " \"" + Printable(value) +
                                "\" is not a Slurm limit (a number with its units, as in 1:30:00 or "
                                "4G); nothing was written or submitted");
}

// The job's name in Slurm: the scene's, with what an #SBATCH line cannot
// carry written as '_'.
std::string JobName(const FarmJob& job) {
    std::string name = std::string("lumafex:").append(job.name);
    for (char& c : name) {
        if (!FitsDirective(std::string(1, c))) c = '_';
    }
    return name;
}

// The task indices of the array, "0-N", with its throttle "%M" when set.
std::string ArrayRange(const FarmJob& job) {
    std::string range = "0-";
    range.append(std::to_string(job.chunks.size() - 1));
    if (job.maxRunning > 0) range.append("%").append(std::to_string(job.maxRunning));
    return range;
}

// The options the job is submitted with, in the script's #SBATCH lines
// and on sbatch's command line alike.
std::vector<std::string> JobOptions(const FarmJob& job) {
    const std::string log = LogPattern((fs::path(job.farmDir) / job.name).string()) + "-%A_%a.log";
    std::vector<std::string> options{"--job-name=" + JobName(job), "--array=" + ArrayRange(job),
                                     "--output=" + log, "--error=" + log};
    if (!job.partition.empty()) options.push_back("--partition=" + job.partition);
    if (job.cpusPerTask > 0)
        options.push_back(std::string("--cpus-per-task=").append(std::to_string(job.cpusPerTask)));
    if (!job.timeLimit.empty()) options.push_back("--time=" + job.timeLimit);
    if (!job.memory.empty()) options.push_back("--mem=" + job.memory);
    return options;
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
    if (!FitsDirective(options.partition)) {
        throw std::invalid_argument("--partition \"" + Printable(options.partition) +
                                    "\" holds a blank or a quote, which no partition name has; "
                                    "nothing was written or submitted");
    }
    RefuseOddLimit("--time", options.timeLimit);
    RefuseOddLimit("--mem", options.memory);
}

void CheckFarmJob(const FarmJob& job, const std::string& partition,
                  const std::vector<std::string>& sbatchArgs) {
    RefuseControlCharacters("the program", job.program);
    RefuseControlCharacters("the module", job.module);
    RefuseControlCharacters("the scene", job.scene);
    RefuseControlCharacters("the output folder", job.outputDir);
    RefuseControlCharacters("the colour configuration", job.colourConfig);
    RefuseControlCharacters("--compression", job.compression);
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
    s << "#!/bin/bash\n";
    for (const std::string& option : JobOptions(job)) {
        if (FitsDirective(option)) {
            s << "#SBATCH " << option << "\n";
        } else {
            // Left to the command line lumafex farm submit runs.
            s << "# (not an #SBATCH line: the path holds a blank or a quote; resubmit with sbatch "
              << Printable(ShellQuote(option)) << " SCRIPT)\n";
        }
    }
    s << "# lumafex farm job: " << ShellQuote(job.scene) << ", " << job.chunks.size() << " chunks\n"
      << "# Resubmit with: sbatch " << ShellQuote(stem + ".sbatch") << "\n"
      << "# One array task per chunk renders it and records its exit status in a .result file.\n"
      << "# A task Slurm runs again (requeued) keeps the frames it wrote before.\n"
      << "set -u\n";
    for (const auto& [name, value] : job.environment) s << "export " << name << "=" << ShellQuote(value) << "\n";
    s << "chunks=(";
    for (const Chunk& c : job.chunks) s << " " << ShellQuote(c.list);
    s << " )\n"
      << "frames=${chunks[$SLURM_ARRAY_TASK_ID]}\n"
      // As many threads as the task has CPUs (without --cpus-per-task the
      // program counts those it may run on).
      << "threads=()\n"
      << "if [ \"${SLURM_CPUS_PER_TASK:-0}\" -gt 0 ] 2>/dev/null; then\n"
      << "    threads=(\"--threads=$(( SLURM_CPUS_PER_TASK < 256 ? SLURM_CPUS_PER_TASK : 256 ))\")\n"
      << "fi\n"
      << "again=()\n"
      << "if [ \"${SLURM_RESTART_COUNT:-0}\" -gt 0 ] 2>/dev/null; then again=(--no-clobber --existing-done); fi\n"
      << "echo \"lumafex farm: task $SLURM_ARRAY_TASK_ID, frames $frames, on $(hostname)\"\n"
      << ShellQuote(job.program) << " -v " << ShellQuote("--module=" + job.module);
    if (!job.colourConfig.empty()) s << " " << ShellQuote("--colorconfig=" + job.colourConfig);
    s << " render ${threads[@]+\"${threads[@]}\"} ${again[@]+\"${again[@]}\"} \"--frames=$frames\"";
    if (!job.outputDir.empty()) s << " " << ShellQuote("--output-dir=" + job.outputDir);
    if (!job.compression.empty()) s << " " << ShellQuote("--compression=" + job.compression);
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
    FarmJob submitted = job;
    submitted.partition = partition.empty() ? job.partition : partition;
    std::vector<std::string> args{"sbatch", "--parsable"};
    for (const std::string& option : JobOptions(submitted)) args.push_back(option);
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

std::vector<ChunkRecord> ReadFarmFolder(const std::string& dir) {
    std::vector<fs::path> scripts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.path().extension() == ".sbatch") scripts.push_back(entry.path());
    }
    if (ec) throw std::runtime_error("cannot read the farm folder " + dir + ": " + ec.message());
    if (scripts.empty()) throw std::runtime_error(dir + " holds no job script (NAME.sbatch): is it a farm folder?");
    std::sort(scripts.begin(), scripts.end());
    std::vector<ChunkRecord> records;
    for (const fs::path& script : scripts) {
        const std::string name = script.stem().string();
        std::ifstream in(script, std::ios::binary);
        std::vector<ChunkRecord> chunks;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("chunks=(", 0) != 0) continue;
            // Each list is one quoted word of digits, commas and dashes.
            std::istringstream words(line.substr(8));
            for (std::string word; words >> word;) {
                if (word.size() < 3 || word.front() != '\'' || word.back() != '\'') continue;
                ChunkRecord chunk;
                chunk.script = script.filename().string();
                chunk.index = chunks.size();
                chunk.frames = word.substr(1, word.size() - 2);
                chunks.push_back(std::move(chunk));
            }
        }
        // NAME-JOB_TASK.result and .log; the highest job id is the latest run.
        const std::string prefix = name + "-";
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const std::string file = entry.path().filename().string();
            const std::string ext = entry.path().extension().string();
            if ((ext != ".result" && ext != ".log") || file.rfind(prefix, 0) != 0) continue;
            const std::string ids = file.substr(prefix.size(), file.size() - prefix.size() - ext.size());
            const std::size_t bar = ids.find('_');
            if (bar == std::string::npos || bar == 0 || bar > 18 || ids.size() - bar - 1 > 9 ||
                ids.find_first_not_of("0123456789_") != std::string::npos || ids.find('_', bar + 1) != std::string::npos)
                continue;
            const unsigned long long job = std::stoull(ids.substr(0, bar));
            const std::size_t task = std::stoul(ids.substr(bar + 1));
            if (task >= chunks.size()) continue;
            ChunkRecord& chunk = chunks[task];
            if (!chunk.jobId.empty() && std::stoull(chunk.jobId) > job) continue;
            if (chunk.jobId.empty() || std::stoull(chunk.jobId) < job) {
                chunk.jobId = std::to_string(job);
                chunk.status = -1;
                chunk.logged = false;
            }
            if (ext == ".log") {
                chunk.logged = true;
            } else {
                std::ifstream result(entry.path());
                int code = -1;
                if (result >> code && code >= 0) chunk.status = code;
            }
        }
        records.insert(records.end(), chunks.begin(), chunks.end());
    }
    return records;
}

std::string ChunkState(const ChunkRecord& chunk, bool queued) {
    if (chunk.status == 0) return "done";
    if (chunk.status > 0) return "failed (status " + std::to_string(chunk.status) + ")";
    if (queued) return chunk.logged ? "running" : "pending";
    return chunk.jobId.empty() ? "not run" : "ended without a result";
}

std::string FramesLeft(const std::string& frames, std::istream& log) {
    std::vector<int64_t> listed;
    try {
        listed = ParseFrameList(frames);
    } catch (const std::invalid_argument&) {
        return frames;  // not a list this program wrote; name it as it is
    }
    // The render's line for each frame it finished: "frame N (I/T): ...:
    // wrote PATH" or, for one already there, "...: PATH exists (--no-clobber)".
    std::set<int64_t> finished;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("frame ", 0) != 0) continue;
        const bool wrote = line.find("): ") != std::string::npos &&
                           (line.find(": wrote ") != std::string::npos ||
                            line.find(" exists (--no-clobber)") != std::string::npos);
        if (!wrote) continue;
        errno = 0;
        char* end = nullptr;
        const long long number = std::strtoll(line.c_str() + 6, &end, 10);
        if (errno == 0 && end != line.c_str() + 6 && std::strncmp(end, " (", 2) == 0)
            finished.insert(static_cast<int64_t>(number));
    }
    std::string left;
    for (const int64_t frame : listed) {
        if (finished.count(frame)) continue;
        left.append(left.empty() ? "" : ",").append(std::to_string(frame));
    }
    return left;
}

std::vector<std::string> ResumeArguments(const std::string& dir, const std::string& script,
                                         const std::vector<std::size_t>& chunks) {
    const fs::path path = fs::absolute(fs::path(dir) / script).lexically_normal();
    std::string array = "--array=";
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i > 0) array += ',';
        array += std::to_string(chunks[i]);
    }
    // The throttle of the script's own array line, if any.
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("#SBATCH --array=", 0) != 0) continue;
        const std::size_t percent = line.find('%');
        if (percent != std::string::npos && line.find_first_not_of("0123456789", percent + 1) == std::string::npos)
            array += line.substr(percent);
    }
    const std::string log = LogPattern((path.parent_path() / path.stem()).string()) + "-%A_%a.log";
    return {"sbatch", "--parsable", array, "--output=" + log, "--error=" + log, path.string()};
}

}  // namespace lumafex::tool
