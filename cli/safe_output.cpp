#include <random>
#include <string_view>

#include "safe_output.h"

namespace tintwell_cli {
namespace {

bool g_only_new_outputs = false;

}  // namespace

std::string RandomSuffix() {
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
    std::string suffix(6, ' ');
    for (char& letter : suffix) letter = kLetters[pick(device)];
    return suffix;
}

OnlyNewOutputs::OnlyNewOutputs() { g_only_new_outputs = true; }
OnlyNewOutputs::~OnlyNewOutputs() { g_only_new_outputs = false; }
bool OnlyNewOutputsInForce() { return g_only_new_outputs; }

}  // namespace tintwell_cli
