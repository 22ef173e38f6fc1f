// The options and file names of every form of the command line after
// EDIT [AMOUNT]: one reader, so that every form takes them the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library_call.h"

namespace tintwell_cli {

struct CommandWords {
    CallOptions call;
    std::optional<std::string> out_dir;
    bool in_place = false;
    std::optional<std::size_t> jobs;
    std::vector<std::string> files;  // in the order given

    // --out-dir, --in-place or -j ask for the batch form.
    bool IsBatch() const { return out_dir || in_place || jobs; }
};

// Takes `word` into `options` when it is --force, --sync, -q or --quiet,
// which may stand before EDIT as well as after it.
bool ReadCallOption(std::string_view word, CallOptions& options);

// Reads the words from `next` on: options anywhere before "--", the rest
// file names. `call` holds the options given before EDIT. On failure says
// why in `problem`.
std::optional<CommandWords> ReadCommandWords(const std::vector<std::string>& words, std::size_t next,
                                             const CallOptions& call, std::string& problem);

// "got 1 file", "got no file", "got 3 files": for arity errors.
std::string FileCount(std::size_t count);

}  // namespace tintwell_cli
