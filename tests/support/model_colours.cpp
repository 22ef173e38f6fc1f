// The model's edit of colours, for the tests written in other languages:
// reads blue, green, red byte triples on stdin and writes each as the model
// edits it by FUNCTION with AMOUNT (its low 8 bits, as the library takes
// it). Noise draws at random and is bounded by the tests instead.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "model.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: model_colours FUNCTION AMOUNT < BGR > BGR\n";
        return 2;
    }
    const auto function = static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10));
    const auto amount = static_cast<std::uint8_t>(std::strtol(argv[2], nullptr, 10));
    std::cin >> std::noskipws;
    const std::string in{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::string out(in.size() - in.size() % 3, '\0');
    for (std::size_t at = 0; at < out.size(); at += 3) {
        const auto blue = static_cast<std::uint8_t>(in[at]);
        const auto green = static_cast<std::uint8_t>(in[at + 1]);
        const auto red = static_cast<std::uint8_t>(in[at + 2]);
        if (function == 4) {
            out[at] = out[at + 1] = out[at + 2] = static_cast<char>(tintwell_test::ModelGray(blue, green, red));
            continue;
        }
        out[at] = static_cast<char>(tintwell_test::ModelChannel(function, blue, amount));
        out[at + 1] = static_cast<char>(tintwell_test::ModelChannel(function, green, amount));
        out[at + 2] = static_cast<char>(tintwell_test::ModelChannel(function, red, amount));
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
