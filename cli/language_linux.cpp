// The user's language with GNU gettext, as the system's other programs
// choose it: LANGUAGE, LC_ALL, LC_MESSAGES and LANG. The catalogs are in
// share/locale beside the program's bin directory, in the build tree as
// after an install.
#include <libintl.h>

#include <clocale>
#include <string>

#include "format.h"
#include "language.h"
#include "module_loader.h"

namespace tintwell_cli {
namespace {

constexpr char kDomain[] = "tintwell";
bool korean = false;

std::string LocaleDirectory() {
    std::error_code error;
    const std::filesystem::path program = ThisProgram(error);
    if (error || program.empty()) return TINTWELL_INSTALLED_LOCALE_DIR;
    return (program.parent_path() / TINTWELL_LOCALE_DIR_FROM_BINDIR).lexically_normal().string();
}

// The catalog's header names its language; "" is what gettext returns it for.
bool CatalogIsKorean() {
    const std::string header = ::dgettext(kDomain, "");
    return header.find("\nLanguage: ko\n") != std::string::npos || header.starts_with("Language: ko\n");
}

}  // namespace

void ChooseLanguage() {
    // Never LC_ALL: the library's numbers and the host's own must not change.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    ::bindtextdomain(kDomain, LocaleDirectory().c_str());
    ::bind_textdomain_codeset(kDomain, "UTF-8");
    korean = CatalogIsKorean();
    pattern_translator = &Translated;
}

std::string_view Translated(std::string_view english) {
    if (english.empty()) return english;
    const std::string id(english);
    const char* found = ::dgettext(kDomain, id.c_str());
    // Untranslated, gettext hands back the id itself: the copy made here.
    return found == id.c_str() ? english : std::string_view(found);
}

bool SpeaksKorean() { return korean; }

}  // namespace tintwell_cli
