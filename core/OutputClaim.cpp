#include "OutputClaim.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace fs = std::filesystem;

namespace {

constexpr int kClaimAttempts = 4;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool SameFile(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// Removes a partial file nobody holds; false when a living claim holds it.
bool RemoveIfAbandoned(const std::string& partial) {
    const int fd = ::open(partial.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT; // gone meanwhile: free
    bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    // Another process may have removed it and claimed the name anew since it was opened.
    if (abandoned && SameFile(fd, partial))
        ::unlink(partial.c_str());
    ::close(fd);
    return abandoned;
}

// The name without replacing a file: rename when the file system can refuse to replace, else a
// hard link (which fails on an existing name) and the partial name removed.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

TOutputClaim::~TOutputClaim() {
    Abandon();
}

std::string TOutputClaim::PartialName(const std::string& output) {
    const fs::path path(output);
    return (path.parent_path() / (".partial-" + path.filename().string())).string();
}

bool TOutputClaim::InUse(const std::string& output) {
    const int fd = ::open(PartialName(output).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

TClaimResult TOutputClaim::Claim(const std::string& output, std::string& error) {
    Abandon();
    const std::string partial = PartialName(output);
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        if (Exists(output))
            return TClaimResult::Exists;
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, partial)) {
                ::close(fd); // taken over between the create and the lock: try again
                continue;
            }
            fd_ = fd;
            output_ = output;
            partial_ = partial;
            // A file that appeared under the name meanwhile stays the other's.
            if (Exists(output)) {
                Abandon();
                return TClaimResult::Exists;
            }
            return TClaimResult::Claimed;
        }
        if (errno != EEXIST) {
            error =
                "cannot write into " + fs::path(output).parent_path().string() + ": " + std::strerror(errno);
            return TClaimResult::Failed;
        }
        if (!RemoveIfAbandoned(partial))
            return TClaimResult::Taken;
    }
    return TClaimResult::Taken;
}

bool TOutputClaim::Commit(std::string& error) {
    if (!Held()) {
        error = "the output was not claimed";
        return false;
    }
    const int failure = RenameNoReplace(partial_, output_);
    if (failure != 0) {
        error = failure == EEXIST ? output_ + " exists already; the new output was not kept"
                                  : "cannot name " + output_ + ": " + std::strerror(failure);
        Abandon();
        return false;
    }
    Release();
    return true;
}

void TOutputClaim::Abandon() {
    if (Held())
        ::unlink(partial_.c_str());
    Release();
}

void TOutputClaim::Release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    output_.clear();
    partial_.clear();
}

} // namespace tarnel
