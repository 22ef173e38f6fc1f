// Parsing and checking the batch form before anything is edited.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "batch.h"
#include "platform.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

// Checks that the options say where the outputs go, as the edit needs.
bool CheckDestination(const EditInfo& edit, const CommandWords& batch, std::string& problem) {
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

std::optional<std::string> OutputName(const CommandWords& batch, const std::string& input, std::string& problem) {
    if (batch.in_place) return input;
    if (!batch.out_dir) return std::string();
    const std::filesystem::path file_name = PathOf(input).filename();
    if (file_name.empty() || file_name == "." || file_name == "..") {
        problem = "'" + input + "' names no file to write into " + *batch.out_dir;
        return std::nullopt;
    }
    return Utf8Of(PathOf(*batch.out_dir) / file_name);
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
            outputs.emplace(PathOf(picture.output).lexically_normal(), &picture.input);
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

std::optional<BatchPlan> PlanBatch(const EditAndAmount& edit, const CommandWords& words, std::string& problem) {
    BatchPlan plan;
    plan.edit = edit.edit;
    plan.amount = edit.amount;
    plan.call = words.call;
    if (!CheckDestination(plan.edit, words, problem)) return std::nullopt;
    plan.out_dir = words.out_dir;
    plan.jobs = words.jobs.value_or(DefaultJobCount());
    for (const std::string& input : words.files) {
        std::optional<std::string> output = OutputName(words, input, problem);
        if (!output || !IsValidFileName(input, problem) || !IsValidFileName(*output, problem)) return std::nullopt;
        plan.pictures.push_back({input, std::move(*output)});
    }
    if (!CheckNoOverwrites(plan.pictures, words.in_place, problem)) return std::nullopt;
    return plan;
}

std::size_t DefaultJobCount() {
    const std::size_t allowed = ProcessorCount();
    if (allowed > 0) return allowed;
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace tintwell_cli
