// Linux: the input is held by a descriptor, and the library reads it as
// /proc/self/fd/N.
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "descriptor_linux.h"
#include "input_file.h"

namespace tintwell_cli {
namespace {

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::kRegular;
    if (S_ISDIR(mode)) return FileKind::kDirectory;
    if (S_ISFIFO(mode)) return FileKind::kPipe;
    if (S_ISCHR(mode)) return FileKind::kCharacterDevice;
    if (S_ISBLK(mode)) return FileKind::kBlockDevice;
    if (S_ISSOCK(mode)) return FileKind::kSocket;
    return FileKind::kOther;
}

}  // namespace

struct InputFile::State {
    Descriptor file;
    struct stat status {};
};

InputFile::InputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

std::optional<InputFile> InputFile::Open(const std::string& name, OpenFailure& failure) {
    auto state = std::make_unique<State>();
    // Not blocking: a pipe must be refused, not waited on.
    state->file = Descriptor(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!state->file.valid()) {
        failure = {errno == EACCES, ErrnoWords(errno)};
        return std::nullopt;
    }
    if (::fstat(state->file.get(), &state->status) != 0) {
        failure = {false, ErrnoWords(errno)};
        return std::nullopt;
    }
    const int fd = state->file.get();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return InputFile(std::move(state));
}

FileKind InputFile::kind() const { return KindOf(state_->status.st_mode); }

std::uint64_t InputFile::size() const {
    return S_ISREG(state_->status.st_mode) ? static_cast<std::uint64_t>(state_->status.st_size) : 0;
}

std::optional<std::vector<std::uint8_t>> InputFile::ReadFirstBytes(std::size_t count, std::string& error) const {
    std::vector<std::uint8_t> bytes(count);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            ::pread(state_->file.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = ErrnoWords(errno);
            return std::nullopt;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::string InputFile::LibraryName(const std::string&) const { return DescriptorName(state_->file.get()); }

void InputFile::Close() { state_->file.Close(); }

}  // namespace tintwell_cli
