// Windows: names are converted to the ANSI code page, which the C runtime's
// file functions take.
#include <cwchar>

#include <windows.h>

#include "file_name.h"

namespace korvane {
namespace {

// True when converting the name back gives the caller's name again. A name
// the code page cannot hold converts with a best-fit or default character,
// and would then name another file.
bool RoundTrips(const TintwellChar16* name, const FileName& converted) {
    // Each converted byte gives at most one UTF-16 unit back.
    wchar_t back[kFileNameCapacity];
    if (::MultiByteToWideChar(CP_ACP, 0, converted.data(), -1, back, kFileNameCapacity) == 0) return false;
    return std::wcscmp(name, back) == 0;
}

}  // namespace

FileName ConvertFileName(const TintwellChar16* name) {
    FileName converted{};
    if (name == nullptr) return converted;
    // The whole name through its terminator, code page 0, no flags and no
    // default character of our own. A result that does not fit the 200 bytes
    // fails the conversion, so a name is refused rather than cut short.
    const int size = ::WideCharToMultiByte(CP_ACP, 0, name, -1, converted.data(),
                                           static_cast<int>(kFileNameCapacity), nullptr, nullptr);
    if (size == 0 || !RoundTrips(name, converted)) return FileName{};
    return converted;
}

}  // namespace korvane
