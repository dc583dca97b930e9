// The steps of a whole-file write that both systems take alike: holding
// the watcher while a temporary file comes or goes, and finding a free name
// for that file beside the target.
#pragma once

#include <string>

#include "platform/file_write.h"

namespace lumafex::platform {

// Holds the watcher for as long as it lives.
class Holding {
public:
    explicit Holding(TemporaryFileWatcher* watcher) : watcher_(watcher) {
        if (watcher_ != nullptr) watcher_->Hold();
    }
    ~Holding() {
        if (watcher_ != nullptr) watcher_->Release();
    }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

private:
    TemporaryFileWatcher* watcher_;
};

// A count that no two temporary names of this process share.
unsigned NextTemporaryCount();

// What one try at creating a temporary file came to.
enum class CreateOutcome { Created, Taken, Failed };

// Creates a hidden temporary file beside target (folder: target's folder
// part with its separator, "" for the current folder), named after it, the
// process and a count, and tells the watcher. create(name, error) makes
// the file only if no file has that name, so no other file is ever opened
// or replaced; a name already taken is skipped, any other failure ends the
// search at once. discard() closes and removes the file when the watcher
// cannot keep track of it (nothing was written to it yet).
template <typename Create, typename Discard>
WriteResult CreateTemporaryBeside(const std::string& target, const std::string& folder,
                                  unsigned long process, TemporaryFileWatcher* watcher,
                                  std::string& temporary, Create&& create, Discard&& discard) {
    constexpr int kAttempts = 100;
    const std::string stem =
        folder + "." + target.substr(folder.size()) + ".tmp" + std::to_string(process) + "-";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = stem + std::to_string(NextTemporaryCount());
        Holding hold(watcher);
        int error = 0;
        const CreateOutcome outcome = create(temporary, error);
        if (outcome == CreateOutcome::Taken) continue;
        if (outcome == CreateOutcome::Failed) return {WriteFailure::Create, error};
        if (watcher != nullptr && !watcher->Created(temporary)) {
            discard();
            return {WriteFailure::Untracked, 0};
        }
        return {};
    }
    return {WriteFailure::NoFreeName, 0};
}

}  // namespace lumafex::platform
