// The user's language. The host's own lines are English message ids looked
// up in the catalog the system chose (gettext on Linux, the catalogs inside
// tintwell.exe on Windows); the library's messages are rendered in it by
// library_messages.h. Each platform's language file defines these.
#pragma once

#include <string_view>

namespace tintwell_cli {

// Chooses the catalog from the environment, once, before anything is
// printed. Only the categories for messages and characters are set: the
// library runs in this process, and its numbers must stay as it prints them.
void ChooseLanguage();

// The English message in the user's language: the catalog's translation,
// or the English itself.
std::string_view Translated(std::string_view english);

// Whether the catalog chosen is Korean, the language the library prints in.
bool SpeaksKorean();

// Marks an English message that is stored before it is translated, so that
// the template's extraction finds it (xgettext -kN_).
constexpr std::string_view N_(std::string_view english) { return english; }

}  // namespace tintwell_cli
