// The farm job's parts; tests/farm/farm_test.sh runs whole jobs on Slurm.
// Here the job script runs under bash with stand-ins for the program,
// hostname and Slurm's commands.
#include <gtest/gtest.h>
#include <sched.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "farm/farm.h"
#include "process/system.h"
#include "support.h"

namespace lumafex::tool {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteText;
using Words = std::vector<std::string>;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the recording stub was called with, one word per NUL.
Words RecordedWords(const fs::path& path) {
    Words words;
    std::istringstream in(ReadText(path));
    for (std::string word; std::getline(in, word, '\0');) words.push_back(word);
    return words;
}

void WriteStub(const fs::path& path, const std::string& body) {
    WriteText(path.string(), "#!/bin/bash\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

// The environment variables a test sets, put back afterwards.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& dir) : old_(std::getenv("PATH")) {
        setenv("PATH", (dir + ":" + old_).c_str(), 1);
    }
    ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

TEST(Farm, ChunksHoldExactlyTheirFrames) {
    auto lists = [](const std::vector<Chunk>& chunks) {
        Words out;
        for (const Chunk& c : chunks) out.push_back(c.list);
        return out;
    };
    EXPECT_EQ(lists(SplitIntoChunks({5, 1, 2, 3, 4, 3, 9, 10}, 3)), (Words{"1-3", "4-5,9", "10"}));
    EXPECT_EQ(lists(SplitIntoChunks({-2, -1, 0, 7, 9}, 6)), (Words{"-2-0,7,9"}));
    EXPECT_THROW(SplitIntoChunks({1}, 0), std::invalid_argument);
}

// A hostile name must stay one word: the script parses, the program gets
// exactly its arguments, and nothing else runs (no file but the result; the
// names write files with bash's own echo and redirections, which need
// nothing on PATH).
// The sbatch command line gives sbatch exactly its argument vector.
TEST(Farm, HostileNamesStayWholeWordsAndControlCharactersAreRefused) {
    const TempDir dir;
    const fs::path stubs = dir.path() / "stubs", work = dir.path() / "work";
    fs::create_directories(stubs);
    WriteStub(stubs / "record", "printf '%s\\0' \"$@\" \"OCIO=$OCIO\" \"LUMAFEX_X=$LUMAFEX_X\" >\"$RECORD\"\n");
    WriteStub(stubs / "sbatch", "printf '%s\\0' \"$@\" >\"$RECORD\"\n");
    WriteStub(stubs / "hostname", "echo node\n");
    const std::string record = dir / "argv";
    const std::string env = "cd '" + work.string() + "' && PATH='" + stubs.string() + "' RECORD='" +
                            record + "' SLURM_ARRAY_JOB_ID=7 SLURM_ARRAY_TASK_ID=1 SLURM_CPUS_PER_TASK=300 SLURM_RESTART_COUNT=1 ";

    for (const std::string name :
         {"shot\necho >X\n", "it's \"q\" \\", "$(echo >X)", "`echo >X`", "a; >X &", "two  words",
          "-rf", "--output-dir=x", "\xc3\xbc" "n\xc3\xaf" "code \xe2\x9c\x93", "#SBATCH --wrap=x\n#SBATCH -p x",
          "*", "~", "a\x01\x7f" "b", "100%A"}) {
        SCOPED_TRACE(name);
        fs::remove_all(work);
        fs::create_directories(work);
        FarmJob job{(stubs / "record").string(), "/m/" + name + ".p", "/s/" + name + ".json",
                    "/o/" + name, work.string(), name, SplitIntoChunks({1, 2, 3, 5}, 2)};
        // The environment the task needs reaches it whole.
        job.environment = {{"OCIO", "/c/" + name}, {"LUMAFEX_X", name}};
        WriteText(dir / "job.sbatch", JobScript(job));
        ASSERT_EQ(std::system(("bash -n '" + (dir / "job.sbatch") + "'").c_str()), 0);
        ASSERT_EQ(std::system((env + "/bin/bash ../job.sbatch >/dev/null").c_str()), 0);
        // A requeued task keeps the frames it wrote; threads follow the
        // allocation, at most 256.
        EXPECT_EQ(RecordedWords(record),
                  (Words{"-v", "--module=" + job.module, "render", "--threads=256", "--no-clobber",
                         "--existing-done", "--frames=3,5", "--output-dir=" + job.outputDir, "--", job.scene,
                         "OCIO=/c/" + name, "LUMAFEX_X=" + name}));
        Words files;
        for (const auto& entry : fs::directory_iterator(work)) files.push_back(entry.path().filename().string());
        EXPECT_EQ(files, Words{name + "-7_1.result"});

        // Each #SBATCH line is one whole option sbatch is also given; one
        // sbatch cannot read whole there (a blank, quote or control
        // character) is left out rather than broken.
        std::istringstream script(ReadText(dir / "job.sbatch"));
        Words directives;
        for (std::string line; std::getline(script, line);) {
            if (line.rfind("#SBATCH ", 0) == 0) directives.push_back(line.substr(8));
        }
        const Words plain = SbatchArguments(job, "", {});
        Words expected;
        for (auto arg = plain.begin() + 2; arg + 1 != plain.end(); ++arg) {
            if (arg->find_first_of(" \"'\n\r\t\x01\x7f") == std::string::npos) expected.push_back(*arg);
        }
        EXPECT_EQ(directives, expected);
        EXPECT_GE(directives.size(), 2u);  // the job name and array always fit
        const Words sbatch = SbatchArguments(job, "p " + name, {name, "-x"});
        WriteText(dir / "submit.sh", SbatchCommand(job, "p " + name, {name, "-x"}));
        ASSERT_EQ(std::system((env + "/bin/bash ../submit.sh").c_str()), 0);
        EXPECT_EQ(RecordedWords(record), Words(sbatch.begin() + 1, sbatch.end()));
    }

    // Before anything is read or written, each value with a control
    // character is named.
    for (std::string FarmOptions::*field : {&FarmOptions::scene, &FarmOptions::module,
                                            &FarmOptions::program, &FarmOptions::outputDir,
                                            &FarmOptions::farmDir, &FarmOptions::partition}) {
        FarmOptions options;
        options.scene = dir / "missing.json";
        options.dryRun = true;
        options.*field = "a\nb\tc\x7f";
        try {
            FarmSubmit(options);
            ADD_FAILURE() << "accepted " << options.*field;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("\"a\\nb\\tc\\x7f\" holds a control character"),
                      std::string::npos)
                << e.what();
        }
    }
    FarmOptions options;
    options.sbatchArgs = {"--time=1", "--comment=\r"};
    EXPECT_THROW(CheckFarmValues(options), std::invalid_argument);
}

// What an admin asks of the job reaches sbatch (and the script's #SBATCH
// lines); a limit or partition an #SBATCH line cannot carry is refused.
TEST(Farm, JobOptionsFollowTheRequestAndOddLimitsAreRefused) {
    FarmJob job{"/p", "/m", "/s/shot.json", "", "/f", "shot", SplitIntoChunks({1, 2, 3, 4}, 1)};
    job.maxRunning = 2;
    job.cpusPerTask = 4;
    job.timeLimit = "1:30:00";
    job.memory = "4G";
    EXPECT_EQ(SbatchArguments(job, "gpu", {"--qos=low"}),
              (Words{"sbatch", "--parsable", "--job-name=lumafex:shot", "--array=0-3%2",
                     "--output=/f/shot-%A_%a.log", "--error=/f/shot-%A_%a.log", "--partition=gpu",
                     "--cpus-per-task=4", "--time=1:30:00", "--mem=4G", "--qos=low", "/f/shot.sbatch"}));
    job.compression = "dwaa:45";
    EXPECT_NE(JobScript(job).find(" '--compression=dwaa:45' -- '/s/shot.json'"), std::string::npos) << JobScript(job);
    for (auto [field, value] : {std::pair{&FarmOptions::timeLimit, "1:00 --wrap=x"},
                                {&FarmOptions::memory, "4G\""}, {&FarmOptions::partition, "a b"}}) {
        FarmOptions options;
        options.*field = value;
        EXPECT_THROW(CheckFarmValues(options), std::invalid_argument) << value;
    }
}

// status and resume read the chunks from the script and each chunk's
// latest run from its result and log files; resume asks again only for
// chunks that failed or never ran, keeping the throttle and log files.
TEST(Farm, StatusAndResumeFollowEachChunksLatestRun) {
    const TempDir dir;
    EXPECT_THROW(ReadFarmFolder(dir.path().string()), std::runtime_error);
    FarmJob job{"/p", "/m", "/s/shot.json", "", dir.path().string(), "shot", SplitIntoChunks({1, 2, 3, 4, 5}, 1)};
    job.maxRunning = 2;
    WriteText(dir / "shot.sbatch", JobScript(job));
    for (const auto& [file, text] : std::vector<std::pair<std::string, std::string>>{
             {"shot-5_0.result", "0\n"}, {"shot-5_1.log", ""}, {"shot-5_1.result", "4\n"},
             {"shot-7_1.result", "0\n"}, {"shot-5_2.log", ""}, {"shot-5_3.log", ""},
             {"shot-5_3.result", "1\n"}, {"shot-5_9.result", "0\n"}, {"other-5_4.result", "0\n"}})
        WriteText(dir / file, text);
    const std::vector<ChunkRecord> chunks = ReadFarmFolder(dir.path().string());
    ASSERT_EQ(chunks.size(), 5u);
    Words states, queued;
    for (const ChunkRecord& c : chunks) {
        states.push_back(ChunkState(c, false));
        queued.push_back(ChunkState(c, true));
    }
    EXPECT_EQ(states, (Words{"done", "done", "ended without a result", "failed (status 1)", "not run"}));
    EXPECT_EQ(queued[2], "running");
    EXPECT_EQ(queued[4], "pending");
    EXPECT_EQ(chunks[1].jobId, "7");
    EXPECT_EQ(chunks[4].frames, "5");
    std::istringstream log("frame 3 (1/4): 9 ms (read 1, filter 5, write 3), average 9 ms, 0.1s left: wrote "
                           "/o/3.png (colour from R, G, B)\n"
                           "frame 7 (2/4): 0 ms, average 9 ms: /o/7.png exists (--no-clobber)\n"
                           "frame 5 (3/4): 0 ms: /s/c.5.png is missing\n"),
        none;
    EXPECT_EQ(FramesLeft("3-9x2", log), "5,9");
    EXPECT_EQ(FramesLeft("3-9x2", none), "3,5,7,9");
    const std::string stem = dir / "shot";
    EXPECT_EQ(ResumeArguments(dir.path().string(), "shot.sbatch", {2, 3, 4}),
              (Words{"sbatch", "--parsable", "--array=2,3,4%2", "--output=" + stem + "-%A_%a.log",
                     "--error=" + stem + "-%A_%a.log", stem + ".sbatch"}));
}

// The default thread count: the task's CPUs in a Slurm job, else the CPUs
// this thread may run on (taskset), never the whole machine regardless.
TEST(Farm, ThreadsFollowTheAllocation) {
    setenv("SLURM_CPUS_PER_TASK", "3", 1);
    EXPECT_EQ(AllowedProcessors(), 3);
    setenv("SLURM_CPUS_PER_TASK", "x", 1);  // not a count: the affinity decides
    int pinned = 0;
    std::thread([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        if (sched_setaffinity(0, sizeof one, &one) == 0) pinned = AllowedProcessors();
    }).join();
    unsetenv("SLURM_CPUS_PER_TASK");
    EXPECT_EQ(pinned, 1);
    EXPECT_GE(AllowedProcessors(), 1);
}

// A chunk must not overwrite what any frame of the scene reads, submitted
// or not, and no two frames may write one file (here through --output-dir).
TEST(Farm, SubmitRefusesOutputsOntoInputsOrEachOtherAcrossTheWholeScene) {
    const TempDir dir;
    WriteText(dir / "scene.json", R"({"frames": [
        {"frame": 1, "color": "c1.png", "output": "a/o.png"},
        {"frame": 2, "color": "a/o.png", "output": "b/o.png"},
        {"frame": 3, "color": "c3.png", "output": "o3.png"}]})");
    FarmOptions options;
    options.scene = dir / "scene.json";
    options.module = "m.p";
    options.dryRun = true;
    auto refusal = [&] {
        try {
            FarmSubmit(options);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    for (const int64_t frame : {1, 3}) {
        options.frames = std::vector<int64_t>{frame};
        EXPECT_NE(refusal().find("frame 1 would overwrite an input of frame 2"), std::string::npos) << refusal();
    }
    options.outputDir = dir / "out";
    WriteText(dir / "scene.json", R"({"frames": [
        {"frame": 1, "color": "c1.png", "output": "a/o.png"},
        {"frame": 2, "color": "c2.png", "output": "b/o.png"}]})");
    options.frames = std::vector<int64_t>{1};
    EXPECT_NE(refusal().find("frame 1 and frame 2 would write the same file"), std::string::npos) << refusal();
    EXPECT_FALSE(fs::exists(dir / "lumafex-farm"));
}

// sbatch, squeue and sacct stand-ins on PATH. The sbatch one warns on
// standard error, runs the job script for the tasks in $TASKS and prints the
// job id (or fails); squeue fails twice before it finds the job gone.
TEST(Farm, SubmitJudgesSbatchByItsStatusAndOutlivesAFailingSqueue) {
    const TempDir dir;
    const fs::path stubs = dir.path() / "stubs";
    fs::create_directories(stubs);
    WriteStub(stubs / "sbatch",
              "echo 'sbatch: warning: the partition is busy' >&2\n"
              "[[ $TASKS == fail ]] && { echo 'sbatch: error: no such partition' >&2; exit 1; }\n"
              "for t in $TASKS; do SLURM_ARRAY_JOB_ID=42 SLURM_ARRAY_TASK_ID=$t bash \"${@: -1}\" >/dev/null; done\n"
              "echo '42;lumafex'\n");
    WriteStub(stubs / "squeue",
              "n=$(cat \"$0.count\" 2>/dev/null || echo 0); echo $((n + 1)) >\"$0.count\"\n"
              "((n >= 2)) || { echo 'squeue: error: Socket timed out' >&2; exit 1; }\n");
    WriteStub(stubs / "sacct", "[[ -n $SACCT ]] || { echo 'accounting storage is disabled' >&2; exit 1; }\n"
                               "printf \"$SACCT\"\n");
    WriteStub(stubs / "render", "exit 0\n");
    WriteText(dir / "scene.json",
              R"({"frames": {"first": 1, "last": 4, "color": "c.#.png", "output": "o.#.png"}})");
    const ScopedPath path(stubs.string());

    FarmOptions options;
    options.scene = dir / "scene.json";
    options.module = "m.p";
    options.program = (stubs / "render").string();
    options.chunk = 2;
    options.farmDir = dir / "farm";
    options.wait = true;
    options.quiet = true;
    auto submit = [&](const char* tasks, const char* sacct, std::string* out, std::string* err) {
        fs::remove_all(options.farmDir);  // the stand-in's job id is always 42
        setenv("TASKS", tasks, 1);
        setenv("SACCT", sacct, 1);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int status = -1;
        try {
            status = FarmSubmit(options);
        } catch (const std::runtime_error& e) {
            *err = e.what();
        }
        *out = ::testing::internal::GetCapturedStdout();
        *err += ::testing::internal::GetCapturedStderr();
        return status;
    };

    std::string out, err;
    EXPECT_EQ(submit("0 1", "", &out, &err), 0) << err;
    EXPECT_EQ(out, "42\n");
    EXPECT_NE(err.find("sbatch: warning: the partition is busy"), std::string::npos) << err;

    // One task left no result: sacct's state names why.
    EXPECT_EQ(submit("0", "42_0|COMPLETED\\n42_0.batch|COMPLETED\\n42_1|TIMEOUT\\n", &out, &err), 1);
    EXPECT_EQ(out, "42\n");
    EXPECT_NE(err.find("chunk 1 (frames 3-4) did not finish (Slurm state TIMEOUT)"), std::string::npos) << err;
    EXPECT_EQ(err.find("chunk 0"), std::string::npos) << err;

    EXPECT_EQ(submit("fail", "", &out, &err), -1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("sbatch failed with status 1"), std::string::npos) << err;
    EXPECT_NE(err.find("no such partition"), std::string::npos) << err;
}

}  // namespace
}  // namespace lumafex::tool
