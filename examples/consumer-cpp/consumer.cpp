// A C++ program that links KorvaneTintwell directly and edits a picture.
//
// Run it in the directory that `tintwell demo` wrote: it turns original.bmp
// black-and-white into consumer-cpp.bmp (the same pixels as the demo's
// 4-gray.bmp) and checks the result codes of a good and a bad call.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string_view>

#include <korvane/tintwell.h>

namespace {

bool Expect(std::string_view what, std::int32_t result, std::int32_t expected) {
    std::fflush(stdout);  // the library prints with printf; keep our lines after it
    if (result == expected) return true;
    std::cerr << "consumer-cpp: " << what << " returned " << result << ", expected " << expected << "\n";
    return false;
}

}  // namespace

int main() {
    const std::int32_t gray = Tintwell(u"original.bmp", u"consumer-cpp.bmp", 0, TINTWELL_FUNCTION_GRAY);
    const std::int32_t rejected = Tintwell(u"original.bmp", u"never-written.bmp", 0, 11);
    if (!Expect("gray of original.bmp", gray, TINTWELL_RESULT_WRITTEN) ||
        !Expect("function 11", rejected, TINTWELL_RESULT_REJECTED)) {
        return 1;
    }
    std::cout << "consumer-cpp: wrote consumer-cpp.bmp\n";
    return 0;
}
