#include "library_call.h"

#include <cstdio>

#include "language.h"
#include "utf16.h"

namespace tintwell_cli {

std::int32_t CallLibrary(TintwellEntry entry, const std::string& input, const std::optional<std::string>& output,
                         std::int32_t amount, std::int32_t function, LibraryMessages messages,
                         LibraryWording wording) {
    const std::u16string input16 = Utf8ToUtf16(input).value_or(u"");
    const std::optional<std::u16string> output16 = output ? Utf8ToUtf16(*output) : std::nullopt;
    // Korean is the library's own language: its bytes are shown as they are.
    const bool rendered =
        messages != LibraryMessages::kDropped && wording == LibraryWording::kUsersLanguage && !SpeaksKorean();
    LibraryStdout prepared(messages, rendered);
    const std::int32_t result = entry(reinterpret_cast<const TintwellChar16*>(input16.c_str()),
                                      output16 ? reinterpret_cast<const TintwellChar16*>(output16->c_str()) : nullptr,
                                      amount, function);
    std::fflush(stdout);
    return result;
}

}  // namespace tintwell_cli
