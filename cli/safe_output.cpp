#include <random>
#include <string_view>

#include "safe_output.h"

namespace tintwell_cli {

std::string RandomSuffix() {
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
    std::string suffix(6, ' ');
    for (char& letter : suffix) letter = kLetters[pick(device)];
    return suffix;
}

}  // namespace tintwell_cli
