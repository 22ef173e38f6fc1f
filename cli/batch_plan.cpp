// Parsing and checking the batch form before anything is edited.
#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>
#include <variant>

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

// The directory a path names, through every link; as written, lexically
// normal, when it cannot be resolved.
std::filesystem::path ResolvedDirectory(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(directory, error);
    return error ? directory.lexically_normal() : resolved;
}

// Where a name that leads to no file yet would be made: its directory
// through every link, and its name there. A link to a file not made yet
// leads on to where that file would be.
std::filesystem::path WhereMade(const std::string& name) {
    namespace fs = std::filesystem;
    constexpr int kMostLinks = 40;  // as many as the system follows in one name
    std::error_code error;
    fs::path path = fs::absolute(PathOf(name), error);
    for (int link = 0; link <= kMostLinks; ++link) {
        path = ResolvedDirectory(path.parent_path()) / path.filename();
        if (!fs::is_symlink(path, error)) break;
        const fs::path target = fs::read_symlink(path, error);
        if (error) break;
        path = path.parent_path() / target;  // an absolute target replaces the whole path
    }
    return path.lexically_normal();
}

// The file an output leads to: the existing file, whatever name or link
// leads to it, or where a new one would be made.
using OutputTarget = std::variant<FileIdentity, std::filesystem::path>;

OutputTarget TargetOf(const std::string& output) {
    if (const std::optional<FileIdentity> identity = IdentityOf(output)) return *identity;
    return WhereMade(output);
}

Message SharedOutputProblem(const BatchPicture& first, const BatchPicture& second) {
    if (first.output == second.output) {
        return MessageOf(text::kSharedOutput, first.input, second.input, second.output);
    }
    return MessageOf(text::kOutputsOneFile, first.input, second.input, first.output, second.output);
}

// No output may land on an input (unless in place, where each output is its
// own input), and no two outputs may lead to one file.
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
    std::map<OutputTarget, const BatchPicture*> outputs;
    for (const BatchPicture& picture : pictures) {
        if (picture.output.empty()) continue;
        const OutputTarget target = TargetOf(picture.output);
        const auto [seen, is_new] = outputs.emplace(target, &picture);
        if (!is_new) {
            problem = SharedOutputProblem(*seen->second, picture);
            return false;
        }
        const FileIdentity* identity = std::get_if<FileIdentity>(&target);
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
