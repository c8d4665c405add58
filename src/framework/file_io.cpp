#include "framework/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>

namespace {

// Closes a descriptor on every path out of a function.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }
    // Closes now and returns errno of a failed close, 0 otherwise.
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return 0;
}

// The file a save really replaces: the target itself, or for a symbolic link the file it names.
std::string ResolveTarget(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return path;
    }
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real != nullptr ? std::string(real.get()) : path;
}

// A name in the target's directory for the new content, unlikely to be taken and short enough
// for the file system whatever the target's name.
std::string TemporaryName(const std::filesystem::path& target, std::mt19937_64& random) {
    constexpr std::size_t kMaxStem = 200;
    std::string name = target.filename().string();
    if (name.size() > kMaxStem) {
        name.resize(kMaxStem);
    }
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(8, '0');
    for (char& c : suffix) {
        c = kDigits[random() % (sizeof(kDigits) - 1)];
    }
    return (target.parent_path() / ("." + name + "." + suffix + ".tmp")).string();
}

}  // namespace

int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    // Non-blocking, so that opening a pipe without a writer returns at once.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        return errno;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        return errno;
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(info.st_mode)) {
        return EINVAL;
    }
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::length_error&) {
        return EFBIG;
    }
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.Get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            bytes.clear();
            return error;
        }
        if (n == 0) {
            break;  // the file shrank since fstat: what is there is the content
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return 0;
}

int WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) {
        return ENOENT;
    }
    const std::filesystem::path target(ResolveTarget(path));

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            return EISDIR;
        }
        // A file the operator made read-only is not replaced behind its back.
        if (::access(target.c_str(), W_OK) != 0) {
            return errno;
        }
    }

    std::random_device seed;
    std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed() ^
                           static_cast<std::uint64_t>(::getpid()));
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryName(target, random);
        // 0666 as for any new file: the process's umask applies.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    Descriptor file(fd);

    int error = 0;
    if (exists) {
        // The replaced file keeps its owner where the process may give it away (the
        // superuser); anyone else ends up owning the saved file, as after writing it anew.
        [[maybe_unused]] const int owned = ::fchown(file.Get(), existing.st_uid, existing.st_gid);
        if (::fchmod(file.Get(), existing.st_mode & 07777) != 0) {
            error = errno;
        }
    }
    if (error == 0) {
        error = WriteAll(file.Get(), bytes);
    }
    if (error == 0 && ::fsync(file.Get()) != 0) {
        error = errno;
    }
    const int closeError = file.Close();
    if (error == 0) {
        error = closeError;
    }
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }

    // Make the rename itself durable; the content is already safe, so a failure here is not one
    // of the save.
    const std::filesystem::path directory =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        ::fsync(dir.Get());
    }
    return 0;
}

bool IsReadOnlyFile(const std::string& path) {
    if (::access(path.c_str(), F_OK) != 0) {
        return false;
    }
    return ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}
