// The page: a picture is a file in the page's in-memory file system, read
// and written through the C library like any file. Only what the BMP kinds'
// plan, staging and put-back use is here (open, size, read at an offset, a
// private file to append to); a page has no streams, watches or links.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <utility>

#include "descriptor_linux.h"
#include "input_file.h"

namespace tintwell_cli {
namespace {

// Where the private copies go; each gets a number of its own.
constexpr const char* kScratchFolder = "/tmp";
unsigned scratch_count = 0;

}  // namespace

struct InputFile::State {
    Descriptor file;
    std::uint64_t size = 0;
    std::string name;
    bool scratch = false;  // a private copy, removed when it is let go

    ~State() {
        file.Close();
        if (scratch) ::unlink(name.c_str());
    }
};

InputFile::InputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

std::optional<InputFile> InputFile::Open(const std::string& name, OpenFailure& failure) {
    auto state = std::make_unique<State>();
    state->name = name;
    state->file = Descriptor(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!state->file.valid() || ::fstat(state->file.get(), &status) != 0) {
        failure = {errno == EACCES, ErrnoWords(errno)};
        return std::nullopt;
    }
    state->size = static_cast<std::uint64_t>(status.st_size);
    return InputFile(std::move(state));
}

std::uint64_t InputFile::size() const { return state_->size; }

std::optional<std::vector<std::uint8_t>> InputFile::ReadFirstBytes(std::size_t count, std::string& error) {
    return ReadAt(0, count, error);
}

bool InputFile::ReadInto(std::uint64_t offset, std::size_t count, std::vector<std::uint8_t>& bytes,
                         std::string& error) const {
    return ReadAllAt(state_->file.get(), offset, count, bytes, error);
}

std::optional<InputFile> InputFile::Scratch(std::string& folder, std::string& error) {
    folder = kScratchFolder;
    auto state = std::make_unique<State>();
    state->name = folder + "/.tintwell-" + std::to_string(++scratch_count) + ".tmp";
    state->file = Descriptor(::open(state->name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!state->file.valid()) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    state->scratch = true;
    return InputFile(std::move(state));
}

bool InputFile::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    if (!WriteAll(state_->file.get(), bytes.data(), bytes.size())) {
        error = ErrnoWords(errno);
        return false;
    }
    state_->size += bytes.size();
    return true;
}

std::string InputFile::LibraryName(const std::string& given) const { return state_->scratch ? state_->name : given; }

}  // namespace tintwell_cli
