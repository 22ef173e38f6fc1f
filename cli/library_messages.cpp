#include "library_messages.h"

#include <vector>

#include "library_messages_table.h"

namespace tintwell_cli {
namespace {

enum class Fit { kNone, kPart, kWhole };

struct Match {
    Fit fit = Fit::kNone;
    std::size_t length = 0;            // of a whole message
    std::vector<std::string> numbers;  // its %d, in order
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// How `text` begins with the message `format`: wholly, with a part of it
// (the rest has not come yet), or not at all.
Match MatchAt(std::string_view format, std::string_view text) {
    Match match;
    std::size_t at = 0;
    for (std::size_t f = 0; f < format.size();) {
        if (format.substr(f, 2) == "%d") {
            const std::size_t start = at;
            if (at < text.size() && text[at] == '-') ++at;
            while (at < text.size() && IsDigit(text[at])) ++at;
            // A number at the very end may have more digits to come.
            if (at == text.size()) return {Fit::kPart, 0, {}};
            if (!IsDigit(text[at - 1])) return {};
            match.numbers.emplace_back(text.substr(start, at - start));
            f += 2;
            continue;
        }
        if (at == text.size()) return {Fit::kPart, 0, {}};
        if (text[at] != format[f]) return {};
        ++at;
        ++f;
    }
    match.fit = Fit::kWhole;
    match.length = at;
    return match;
}

// The English with the message's numbers in place of its %d, as a line.
std::string Rendered(std::string_view english, const std::vector<std::string>& numbers) {
    std::string line;
    std::size_t next = 0;
    for (std::size_t at = 0; at < english.size(); ++at) {
        if (english.substr(at, 2) == "%d" && next < numbers.size()) {
            line += numbers[next++];
            ++at;
        } else {
            line += english[at];
        }
    }
    if (!line.ends_with('\n')) line += '\n';
    return line;
}

// The best fit of any message at the start of `text`.
std::pair<Match, const LibraryMessageText*> BestMatch(std::string_view text) {
    std::pair<Match, const LibraryMessageText*> best{};
    for (const LibraryMessageText& message : kLibraryMessageTable) {
        Match match = MatchAt(message.printed, text);
        if (match.fit == Fit::kWhole) return {std::move(match), &message};
        if (match.fit == Fit::kPart) best = {std::move(match), &message};
    }
    return best;
}

// How much of `text`, which starts with none of the library's messages, is
// none of them: up to the end of its line, or to where one of them may begin
// (whole, or cut short by the end of what has come so far).
std::size_t EndOfUnknown(std::string_view text) {
    for (std::size_t at = 1; at < text.size(); ++at) {
        if (text[at - 1] == '\n') return at;
        // Only at the start of a character: UTF-8 continuation bytes are 10xxxxxx.
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && BestMatch(text.substr(at)).first.fit != Fit::kNone) {
            return at;
        }
    }
    return text.size();
}

}  // namespace

std::string LibraryMessageRenderer::Take(std::string_view bytes) {
    pending_ += bytes;
    std::string shown;
    std::size_t at = 0;
    while (at < pending_.size()) {
        const std::string_view rest = std::string_view(pending_).substr(at);
        const auto [match, message] = BestMatch(rest);
        if (match.fit == Fit::kWhole) {
            shown += Rendered(message->english, match.numbers);
            at += match.length;
            continue;
        }
        if (match.fit == Fit::kPart) break;
        const std::size_t unknown = EndOfUnknown(rest);
        shown += rest.substr(0, unknown);
        at += unknown;
    }
    pending_.erase(0, at);
    return shown;
}

std::string LibraryMessageRenderer::Finish() {
    std::string rest = std::move(pending_);
    pending_.clear();
    return rest;
}

}  // namespace tintwell_cli
