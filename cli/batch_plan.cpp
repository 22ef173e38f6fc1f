// Parsing and checking the batch form before anything is edited.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "batch.h"
#include "host_messages.h"
#include "platform.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

std::optional<std::string> OutputName(const Command& batch, const std::string& input, Message& problem) {
    if (batch.in_place) return input;
    if (!batch.out_dir) return std::string();
    const std::filesystem::path file_name = PathOf(input).filename();
    if (file_name.empty() || file_name == "." || file_name == "..") {
        problem = MessageOf(text::kNamesNoOutput, input, *batch.out_dir);
        return std::nullopt;
    }
    return Utf8Of(PathOf(*batch.out_dir) / file_name);
}

// No output may land on an input (unless in place, where each output is its
// own input), and no two pictures may share an output.
bool CheckNoOverwrites(const std::vector<BatchPicture>& pictures, bool in_place, Message& problem) {
    std::map<FileIdentity, const std::string*> inputs;
    for (const BatchPicture& picture : pictures) {
        const std::optional<FileIdentity> identity = IdentityOf(picture.input);
        if (!identity) continue;  // a missing input fails on its own, later
        const auto [seen, is_new] = inputs.emplace(*identity, &picture.input);
        if (!is_new && in_place) {
            problem = MessageOf(text::kSamePicture, *seen->second, picture.input);
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
            problem = MessageOf(text::kSharedOutput, *seen->second, picture.input, picture.output);
            return false;
        }
        const std::optional<FileIdentity> identity = IdentityOf(picture.output);
        const auto input = identity ? inputs.find(*identity) : inputs.end();
        if (input != inputs.end()) {
            problem = MessageOf(text::kOverwritesInput, picture.output, *input->second);
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<BatchPlan> PlanBatch(const Command& command, Message& problem) {
    BatchPlan plan;
    plan.edit = command.edit;
    plan.amount = command.amount;
    plan.call = command.call;
    plan.out_dir = command.out_dir;
    plan.jobs = command.jobs.value_or(DefaultJobCount());
    for (const std::string& input : command.files) {
        std::optional<std::string> output = OutputName(command, input, problem);
        if (!output) return std::nullopt;
        for (const std::string& name : {input, *output}) {
            if (IsValidFileName(name)) continue;
            problem = MessageOf(text::kNotUtf8Name, name);
            return std::nullopt;
        }
        plan.pictures.push_back({input, std::move(*output)});
    }
    if (!CheckNoOverwrites(plan.pictures, command.in_place, problem)) return std::nullopt;
    return plan;
}

std::size_t DefaultJobCount() {
    const std::size_t allowed = ProcessorCount();
    if (allowed > 0) return allowed;
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace tintwell_cli
