// The library's messages as the user reads them. The library prints fixed
// Korean messages; under any language but Korean the host shows the English
// of each, from the table that the build writes from po/library-messages.po.
// Bytes that are none of the library's messages (another build of it) are
// shown as they stand.
#pragma once

#include <string>
#include <string_view>

namespace tintwell_cli {

// One message: as the library prints it, %d where a signed decimal goes,
// and its English, with the numbers in the same order.
struct LibraryMessageText {
    std::string_view printed;
    std::string_view english;
};

// Turns what the library prints, in pieces as they come, into English
// lines: each message becomes its English and a newline, the tint prompts
// (which end without one) included.
class LibraryMessageRenderer {
public:
    // What can be shown of the bytes so far; a message cut short waits for
    // its end.
    std::string Take(std::string_view bytes);
    // What is left when the library is done, as it stands.
    std::string Finish();

private:
    std::string pending_;
};

}  // namespace tintwell_cli
