#include "catalogs.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tintwell_test {
namespace {

// A PO string "..." as text; its escapes are C's.
std::string Unquoted(std::string_view quoted) {
    std::string text;
    for (std::size_t at = 1; at + 1 < quoted.size(); ++at) {
        if (quoted[at] != '\\') {
            text += quoted[at];
            continue;
        }
        const char escaped = quoted[++at];
        text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
    }
    return text;
}

}  // namespace

std::vector<CatalogEntry> ReadCatalog(const std::string& path) {
    std::ifstream file(std::string(TINTWELL_TEST_SOURCE_DIR) + "/" + path);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::vector<CatalogEntry> entries;
    CatalogEntry entry;
    std::string* field = nullptr;
    bool has_id = false;
    const auto finish = [&] {
        if (has_id && !entry.id.empty()) entries.push_back(entry);
        entry = {};
        field = nullptr;
        has_id = false;
    };
    for (std::string line; std::getline(file, line);) {
        if (line.empty()) {
            finish();
        } else if (line.starts_with("#,")) {
            entry.fuzzy = line.find("fuzzy") != std::string::npos;
        } else if (line.starts_with("#:")) {
            std::istringstream places(line.substr(2));
            for (std::string place; places >> place;) entry.places.push_back(place.substr(0, place.find(':')));
        } else if (line.starts_with("msgid ")) {
            entry.id = Unquoted(line.substr(6));
            field = &entry.id;
            has_id = true;
        } else if (line.starts_with("msgstr ")) {
            entry.text = Unquoted(line.substr(7));
            field = &entry.text;
        } else if (line.starts_with("\"") && field != nullptr) {
            *field += Unquoted(line);
        }
    }
    finish();
    return entries;
}

std::map<std::string, std::string> Translations(const std::string& path) {
    std::map<std::string, std::string> translations;
    for (const CatalogEntry& entry : ReadCatalog(path)) {
        if (!entry.fuzzy && !entry.text.empty()) translations.emplace(entry.id, entry.text);
    }
    return translations;
}

std::string Printed(std::string_view format, const std::vector<std::int32_t>& numbers) {
    std::string text;
    std::size_t next = 0;
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format.substr(at, 2) == "%d" && next < numbers.size()) {
            text += std::to_string(numbers[next++]);
            ++at;
        } else {
            text += format[at];
        }
    }
    return text;
}

std::string EnglishOf(const std::vector<ModelMessage>& messages) {
    static const std::map<std::string, std::string> english = Translations("po/library-messages.po");
    std::string shown;
    for (const ModelMessage& message : messages) {
        std::string line = Printed(english.at(std::string(message.format)), message.numbers);
        if (!line.ends_with('\n')) line += '\n';
        shown += line;
    }
    return shown;
}

}  // namespace tintwell_test
