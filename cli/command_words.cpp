#include "command_words.h"

#include "edits.h"

namespace tintwell_cli {
namespace {

constexpr std::string_view kOutDirOption = "--out-dir";
constexpr std::string_view kInPlaceOption = "--in-place";
constexpr std::string_view kJobsOption = "-j";
constexpr std::string_view kEndOfOptions = "--";

// A word read as an option: it starts with '-' and is more than "-" alone,
// which names stdin.
bool LooksLikeOption(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

// The option that takes the next word as its value, at words[next].
bool ReadValueOption(const std::vector<std::string>& words, std::size_t& next, CommandWords& read,
                     std::string& problem) {
    const std::string& word = words[next];
    if (next + 1 >= words.size()) {
        problem = word + (word == kJobsOption ? " needs a number N" : " needs a DIR");
        return false;
    }
    const std::string& value = words[++next];
    if (word == kOutDirOption) {
        if (read.out_dir) problem = "--out-dir given twice";
        read.out_dir = value;
        return problem.empty();
    }
    const std::optional<std::int32_t> jobs = ParseInt32(value);
    if (!jobs || *jobs < 1) {
        problem = "-j needs a whole number of pictures at a time, at least 1";
        return false;
    }
    read.jobs = static_cast<std::size_t>(*jobs);
    return true;
}

}  // namespace

bool ReadCallOption(std::string_view word, CallOptions& options) {
    if (word == "--force") {
        options.check = false;
    } else if (word == "--sync") {
        options.sync = true;
    } else if (word == "-q" || word == "--quiet") {
        options.quiet = true;
    } else {
        return false;
    }
    return true;
}

std::optional<CommandWords> ReadCommandWords(const std::vector<std::string>& words, std::size_t next,
                                             const CallOptions& call, std::string& problem) {
    CommandWords read;
    read.call = call;
    bool options_ended = false;
    for (; next < words.size(); ++next) {
        const std::string& word = words[next];
        if (options_ended || !LooksLikeOption(word)) {
            read.files.push_back(word);
        } else if (word == kEndOfOptions) {
            options_ended = true;
        } else if (word == kInPlaceOption) {
            read.in_place = true;
        } else if (word == kOutDirOption || word == kJobsOption) {
            if (!ReadValueOption(words, next, read, problem)) return std::nullopt;
        } else if (!ReadCallOption(word, read.call)) {
            problem = "unknown option '" + word + "'";
            return std::nullopt;
        }
    }
    return read;
}

std::string FileCount(std::size_t count) {
    if (count == 0) return "got no file";
    return "got " + std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace tintwell_cli
