// Parsing and checking the batch form before anything is edited.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include <sched.h>
#include <sys/stat.h>

#include "batch.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

constexpr std::string_view kOutDirOption = "--out-dir";
constexpr std::string_view kInPlaceOption = "--in-place";
constexpr std::string_view kJobsOption = "-j";
constexpr std::string_view kEndOfOptions = "--";

bool IsBatchOption(std::string_view word) {
    return word == kOutDirOption || word == kInPlaceOption || word == kJobsOption;
}

// A word that the batch form reads as an option: it starts with '-' and is
// more than "-" alone.
bool LooksLikeOption(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

struct BatchWords {
    std::optional<std::string> out_dir;
    bool in_place = false;
    std::optional<std::size_t> jobs;
    std::vector<std::string> files;
};

// Reads the options and files after EDIT [AMOUNT]; options may stand
// anywhere before "--".
std::optional<BatchWords> ReadBatchWords(const std::vector<std::string>& words, std::size_t next,
                                         std::string& problem) {
    BatchWords batch;
    bool options_ended = false;
    for (; next < words.size(); ++next) {
        const std::string& word = words[next];
        if (options_ended || !LooksLikeOption(word)) {
            batch.files.push_back(word);
        } else if (word == kEndOfOptions) {
            options_ended = true;
        } else if (word == kInPlaceOption) {
            batch.in_place = true;
        } else if (word != kOutDirOption && word != kJobsOption) {
            problem = "unknown option '" + word + "'";
            return std::nullopt;
        } else if (next + 1 >= words.size()) {
            problem = word + (word == kJobsOption ? " needs a number N" : " needs a DIR");
            return std::nullopt;
        } else if (word == kOutDirOption) {
            if (batch.out_dir) {
                problem = "--out-dir given twice";
                return std::nullopt;
            }
            batch.out_dir = words[++next];
        } else {
            const std::optional<std::int32_t> jobs = ParseInt32(words[++next]);
            if (!jobs || *jobs < 1) {
                problem = "-j needs a whole number of pictures at a time, at least 1";
                return std::nullopt;
            }
            batch.jobs = static_cast<std::size_t>(*jobs);
        }
    }
    return batch;
}

// Checks that the options say where the outputs go, as the edit needs.
bool CheckDestination(const EditInfo& edit, const BatchWords& batch, std::string& problem) {
    const std::string name(edit.name);
    if (!edit.writes_output && (batch.out_dir || batch.in_place)) {
        problem = name + " writes nothing: it takes no --out-dir or --in-place";
    } else if (edit.writes_output && batch.out_dir && batch.in_place) {
        problem = "--out-dir and --in-place exclude each other";
    } else if (edit.writes_output && !batch.out_dir && !batch.in_place) {
        problem = name + " of several pictures needs --out-dir DIR or --in-place";
    } else if (batch.files.empty()) {
        problem = "no FILE given";
    }
    return problem.empty();
}

std::optional<std::string> OutputName(const BatchWords& batch, const std::string& input, std::string& problem) {
    if (batch.in_place) return input;
    if (!batch.out_dir) return std::string();
    const std::filesystem::path file_name = std::filesystem::path(input).filename();
    if (file_name.empty() || file_name == "." || file_name == "..") {
        problem = "'" + input + "' names no file to write into " + *batch.out_dir;
        return std::nullopt;
    }
    return (std::filesystem::path(*batch.out_dir) / file_name).string();
}

bool IsValidName(const std::string& name, std::string& problem) {
    if (Utf8ToUtf16(name)) return true;
    problem = "file name is not valid UTF-8: '" + name + "'";
    return false;
}

// A file as the system knows it, whatever name or link leads to it.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::string& name) {
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

// No output may land on an input (unless in place, where each output is its
// own input), and no two pictures may share an output.
bool CheckNoOverwrites(const std::vector<BatchPicture>& pictures, bool in_place, std::string& problem) {
    std::map<FileIdentity, const std::string*> inputs;
    for (const BatchPicture& picture : pictures) {
        const std::optional<FileIdentity> identity = IdentityOf(picture.input);
        if (!identity) continue;  // a missing input fails on its own, later
        const auto [seen, is_new] = inputs.emplace(*identity, &picture.input);
        if (!is_new && in_place) {
            problem = "'" + *seen->second + "' and '" + picture.input + "' are the same picture";
            return false;
        }
    }
    if (in_place) return true;
    std::map<std::filesystem::path, const std::string*> outputs;
    for (const BatchPicture& picture : pictures) {
        if (picture.output.empty()) continue;
        const auto [seen, is_new] =
            outputs.emplace(std::filesystem::path(picture.output).lexically_normal(), &picture.input);
        if (!is_new) {
            problem = "'" + *seen->second + "' and '" + picture.input + "' would both be written to '" +
                      picture.output + "'";
            return false;
        }
        const std::optional<FileIdentity> identity = IdentityOf(picture.output);
        const auto input = identity ? inputs.find(*identity) : inputs.end();
        if (input != inputs.end()) {
            problem = "'" + picture.output + "' would overwrite the input '" + *input->second +
                      "' (use --in-place to edit pictures in place)";
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsBatchCommand(const std::vector<std::string>& words) {
    if (words.empty() || !FindEdit(words[0])) return false;
    const auto options_end = std::find(words.begin() + 1, words.end(), kEndOfOptions);
    return std::any_of(words.begin() + 1, options_end, IsBatchOption);
}

std::optional<BatchPlan> PlanBatch(const std::vector<std::string>& words, std::string& problem) {
    BatchPlan plan;
    plan.edit = *FindEdit(words[0]);
    std::size_t next = 1;
    if (plan.edit.needs_amount) {
        const std::optional<std::int32_t> amount = words.size() > 1 ? ParseInt32(words[1]) : std::nullopt;
        if (!amount) {
            problem = std::string(plan.edit.name) + " needs an AMOUNT, an integer from -2147483648 to 2147483647";
            return std::nullopt;
        }
        plan.amount = *amount;
        next = 2;
    }
    const std::optional<BatchWords> batch = ReadBatchWords(words, next, problem);
    if (!batch || !CheckDestination(plan.edit, *batch, problem)) return std::nullopt;
    plan.out_dir = batch->out_dir;
    plan.jobs = batch->jobs.value_or(DefaultJobCount());
    for (const std::string& input : batch->files) {
        std::optional<std::string> output = OutputName(*batch, input, problem);
        if (!output || !IsValidName(input, problem) || !IsValidName(*output, problem)) return std::nullopt;
        plan.pictures.push_back({input, std::move(*output)});
    }
    if (!CheckNoOverwrites(plan.pictures, batch->in_place, problem)) return std::nullopt;
    return plan;
}

std::size_t DefaultJobCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<std::size_t>(CPU_COUNT(&allowed));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace tintwell_cli
