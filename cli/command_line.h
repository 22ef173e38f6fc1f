// The host's command line, read in one place: the arguments (in UTF-8,
// without the program's name) become a Command, or the usage problem that
// keeps them from being one. Nothing here edits, loads or prints anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "edits.h"
#include "outcome.h"
#include "picture_edit.h"

namespace tintwell_cli {

// The option that a batch on Windows passes to the process of each of its
// pictures, which then edits that one picture without repeating the
// batch's warnings. Not for people: neither --help nor the manual names it.
inline constexpr std::string_view kBatchPictureOption = "--batch-picture";

enum class Form {
    kHelp,        // --help
    kVersion,     // --version
    kModuleInfo,  // --module-info
    kRaw,         // raw FUNCTION AMOUNT [--] INPUT [OUTPUT]
    kDemo,        // demo [DIR]
    kPicture,     // EDIT [AMOUNT] [--] INPUT [OUTPUT]
    kBatch,       // EDIT [AMOUNT] (--out-dir DIR | --in-place) [-j N] [--] FILE...
};

struct Command {
    Form form = Form::kHelp;
    std::optional<std::string> module_path;  // --module PATH
    bool batch_picture = false;              // one picture of a batch: its warning was given
    CallOptions call;

    // kPicture and kBatch: the edit by name; raw: the function number alone.
    EditInfo edit{};
    std::int32_t function = 0;
    std::int32_t amount = 0;

    std::vector<std::string> files;  // in the order given; for demo, its DIR if any
    std::optional<std::string> out_dir;
    bool in_place = false;
    std::optional<std::size_t> jobs;

    // kPicture and kRaw: the one picture.
    PictureEdit Picture() const;
};

std::variant<Command, Message> ReadCommandLine(const std::vector<std::string>& arguments);

}  // namespace tintwell_cli
