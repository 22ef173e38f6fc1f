// Windows: the arguments arrive in UTF-16 (wmain) and are held in UTF-8,
// which carries every well-formed name unchanged back to the library's
// UTF-16. stdout and stderr are binary, so that what the library prints is
// byte for byte what it prints on Linux, and the console shows UTF-8 text
// while the host runs.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "language.h"
#include "main.h"
#include "platform.h"
#include "utf16.h"

namespace {

// The console's output code page set to UTF-8 for the life of the object
// and restored afterwards; nothing when there is no console.
class Utf8Console {
public:
    Utf8Console() : previous_(::GetConsoleOutputCP()) {
        if (previous_ != 0 && previous_ != CP_UTF8) ::SetConsoleOutputCP(CP_UTF8);
    }
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;
    ~Utf8Console() {
        std::fflush(stdout);
        std::fflush(stderr);
        if (previous_ != 0 && previous_ != CP_UTF8) ::SetConsoleOutputCP(previous_);
    }

private:
    UINT previous_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    tintwell_cli::HoldStandardStreams();
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    tintwell_cli::ChooseLanguage();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view wide(argv[i]);
        const std::optional<std::string> utf8 =
            tintwell_cli::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
        if (!utf8) {
            return tintwell_cli::RefuseArgument(i);
        }
        arguments.push_back(*utf8);
    }
    const Utf8Console console;
    return tintwell_cli::Main(arguments);
}
