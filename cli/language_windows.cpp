// The user's language on Windows: the user's UI language, with the
// catalogs that tintwell.exe carries inside (written at build time from
// po/, as Debian's MinGW has no gettext).
#include <windows.h>

#include <algorithm>
#include <span>
#include <string_view>
#include <utility>

#include "format.h"
#include "language.h"
#include "translations_ko.h"

namespace tintwell_cli {
namespace {

using Translations = std::span<const std::pair<std::string_view, std::string_view>>;

struct Catalog {
    LANGID language;  // a primary language
    Translations translations;
    bool korean;
};

// One line per language of po/LINGUAS.
constexpr Catalog kCatalogs[] = {
    {LANG_KOREAN, kTranslations_ko, true},
};

Translations chosen;
bool korean = false;

}  // namespace

void ChooseLanguage() {
    const LANGID language = PRIMARYLANGID(::GetUserDefaultUILanguage());
    for (const Catalog& catalog : kCatalogs) {
        if (catalog.language != language) continue;
        chosen = catalog.translations;
        korean = catalog.korean;
    }
    pattern_translator = &Translated;
}

std::string_view Translated(std::string_view english) {
    const auto found = std::lower_bound(chosen.begin(), chosen.end(), english,
                                        [](const auto& entry, std::string_view key) { return entry.first < key; });
    return found != chosen.end() && found->first == english ? found->second : english;
}

bool SpeaksKorean() { return korean; }

}  // namespace tintwell_cli
