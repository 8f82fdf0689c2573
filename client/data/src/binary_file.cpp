#include "binary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "talvorine/client/data/data_error.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::data::detail {

std::string FileErrorText(const std::filesystem::path& path, int error) {
    std::string text = path.string() + ": " + std::generic_category().message(error);
    return std::string(platform::CutUtf8(text, 255));
}

void ThrowFileError(const std::filesystem::path& path, int error) {
    throw DataError(FileErrorText(path, error));
}

std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer,
                   const std::filesystem::path& path) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done,
                              static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowFileError(path, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes,
             const std::filesystem::path& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowFileError(path, errno);
        }
        done += static_cast<std::size_t>(put);
    }
}

std::uint64_t FileLength(int fd, const std::filesystem::path& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ThrowFileError(path, errno);
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void Truncate(int fd, std::uint64_t length, const std::filesystem::path& path) {
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0) {
        ThrowFileError(path, errno);
    }
}

void Sync(int fd, const std::filesystem::path& path) {
    if (::fsync(fd) != 0) {
        ThrowFileError(path, errno);
    }
}

void SyncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen()) {
        ::fsync(dir.Get());
    }
}

}  // namespace talvorine::client::data::detail
