// The catalogs of po/ as the tests read them: the host's lines in each
// language (ko.po) and the library's messages with their English
// (library-messages.po). Expected text comes from here, never from the
// host's own tables.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"

namespace tintwell_test {

struct CatalogEntry {
    std::string id;      // msgid
    std::string text;    // msgstr
    bool fuzzy = false;
    std::vector<std::string> places;  // the source files named by "#:"
};

// Every entry of the PO file at `path` (relative to the source tree), the
// header left out.
std::vector<CatalogEntry> ReadCatalog(const std::string& path);

// msgid -> msgstr of the entries that are translated and not fuzzy.
std::map<std::string, std::string> Translations(const std::string& path);

// What the library prints, with `numbers` in place of its %d.
std::string Printed(std::string_view format, const std::vector<std::int32_t>& numbers);

// The English that the host shows for the messages of a call, each a line,
// from po/library-messages.po.
std::string EnglishOf(const std::vector<ModelMessage>& messages);

}  // namespace tintwell_test
