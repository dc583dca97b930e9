// The farm job script and the sbatch command line, given hostile names
// (quotes, $(...), backticks, newlines, "#SBATCH" lines, leading dashes,
// any byte but NUL). The script must parse under `bash -n`; run under bash
// with stand-ins on PATH (hostname) and as the program (a stub recording its
// arguments), the program must get exactly its arguments and nothing but
// the task's result file may appear. The sbatch command line, run by bash
// with sbatch a function recording its arguments, must give sbatch exactly
// its argument vector. Each input starts five short processes.
//
// Input: the job name, the farm folder's name, the module, the scene, the
// output folder, the partition and one more sbatch argument, separated by
// NUL bytes; what follows the last NUL gives the chunk size and frame
// numbers.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "farm/farm.h"

namespace {

namespace fs = std::filesystem;
using lumafex::tool::FarmJob;
using Words = std::vector<std::string>;

fs::path g_root;  // stand-ins, the recorded arguments and the tasks' folder

void Fail(const std::string& what, const std::string& text) {
    std::fprintf(stderr, "farm_script_fuzzer: %s\n---\n%s\n---\n", what.c_str(), text.c_str());
    std::abort();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) Fail("cannot write " + path.string(), "");
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteStub(const fs::path& path, const std::string& text) {
    WriteFile(path, text);
    fs::permissions(path, fs::perms::owner_all);
}

// Runs bash with the arguments in dir, with only the given environment and
// its output thrown away; returns its exit status.
int RunBash(const Words& args, const fs::path& dir, const Words& environment) {
    std::vector<char*> argv{const_cast<char*>("/bin/bash")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) Fail("cannot run bash", "");
    int status = 0;
    while (waitpid(pid, &status, 0) != pid) {
        if (errno != EINTR) Fail("lost bash", "");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

Words RecordedWords() {
    Words words;
    std::istringstream in(ReadFile(g_root / "argv"));
    for (std::string word; std::getline(in, word, '\0');) words.push_back(word);
    return words;
}

std::string NoSlash(std::string name) {
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return name.substr(0, 100);  // within a file name's 255 bytes with its suffix
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/farm_script_fuzzer.XXXXXX";
    if (mkdtemp(pattern) == nullptr) Fail("cannot make a temporary folder", "");
    g_root = pattern;
    fs::create_directories(g_root / "bin");
    // The program's stand-in writes its arguments NUL-separated to $RECORD
    // (sh starts faster than bash; its printf passes every byte).
    WriteStub(g_root / "bin" / "program", "#!/bin/sh\nprintf '%s\\0' \"$@\" >\"$RECORD\"\n");
    WriteStub(g_root / "bin" / "hostname", "#!/bin/sh\necho node\n");
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Words fields(8);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && field + 1 < fields.size()) {
            ++field;
        } else {
            fields[field] += static_cast<char>(data[i]);
        }
    }
    // The last field: chunk size, then frame numbers two bytes each.
    const std::string& numbers = fields[7];
    const int64_t chunk = numbers.empty() ? 1 : 1 + static_cast<unsigned char>(numbers[0]) % 5;
    std::vector<int64_t> frames;
    for (std::size_t i = 1; i + 1 < numbers.size() && frames.size() < 16; i += 2)
        frames.push_back(static_cast<int16_t>(static_cast<unsigned char>(numbers[i]) |
                                              static_cast<unsigned char>(numbers[i + 1]) << 8));
    if (frames.empty()) frames.push_back(1);

    const fs::path tasks = g_root / "tasks";
    std::error_code ec;
    fs::remove_all(tasks, ec);
    const fs::path farm = tasks / ("d" + NoSlash(fields[1]));
    fs::create_directories(farm);

    FarmJob job{(g_root / "bin" / "program").string(), fields[2], fields[3], fields[4], farm.string(),
                NoSlash(fields[0]), lumafex::tool::SplitIntoChunks(frames, chunk)};
    const std::size_t task = job.chunks.size() - 1;
    const Words environment{"PATH=" + (g_root / "bin").string(), "RECORD=" + (g_root / "argv").string(),
                            "LC_ALL=C", "SLURM_ARRAY_JOB_ID=7",
                            "SLURM_ARRAY_TASK_ID=" + std::to_string(task)};

    const std::string script = lumafex::tool::JobScript(job);
    const fs::path scriptPath = g_root / "job.sbatch";
    WriteFile(scriptPath, script);
    if (RunBash({"-n", scriptPath.string()}, tasks, environment) != 0) Fail("bash -n refuses the script", script);

    fs::remove(g_root / "argv", ec);
    if (RunBash({scriptPath.string()}, tasks, environment) != 0) Fail("the script failed", script);
    Words expected{"-v", "--module=" + job.module, "render", "--frames=" + job.chunks[task].list};
    if (!job.outputDir.empty()) expected.push_back("--output-dir=" + job.outputDir);
    expected.push_back("--");
    expected.push_back(job.scene);
    if (RecordedWords() != expected) Fail("the program got other arguments", script);
    const fs::path result = farm / (job.name + "-7_" + std::to_string(task) + ".result");
    if (ReadFile(result) != "0\n") Fail("no result file " + result.string(), script);
    std::size_t created = 0;
    for (auto it = fs::recursive_directory_iterator(tasks); it != fs::recursive_directory_iterator(); ++it)
        ++created;
    if (created != 2) Fail("the script made files besides its result", script);  // the farm folder and result

    const Words extra{fields[6]};
    const Words sbatch = lumafex::tool::SbatchArguments(job, fields[5], extra);
    const std::string command = lumafex::tool::SbatchCommand(job, fields[5], extra);
    // sbatch is a shell function that records its arguments, which the
    // quoted command word 'sbatch' calls as it would the program.
    WriteFile(g_root / "submit.sh", "sbatch() { printf '%s\\0' \"$@\" >\"$RECORD\"; }\n" + command + "\n");
    fs::remove(g_root / "argv", ec);
    if (RunBash({(g_root / "submit.sh").string()}, tasks, environment) != 0) Fail("the sbatch line failed", command);
    if (RecordedWords() != Words(sbatch.begin() + 1, sbatch.end()))
        Fail("sbatch got other arguments", command);
    return 0;
}
