// SPDX-License-Identifier: BSD-3-Clause
// Atomic replacement of a file through a temporary file and rename.
#include "lib/atomicFile.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What tells the agent's temporaries from every other file: the target's
// name, this infix, then mkostemp's six letters and digits.
constexpr char TEMPORARY_INFIX[] = ".vlmtmp-";
constexpr size_t TEMPORARY_RANDOM = 6;

bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string followLinks(const std::string &path)
{
    std::string current = path;
    // As many hops as the kernel allows itself before ELOOP.
    for (int hops = 0; hops < 40; hops++) {
        char target[PATH_MAX];
        const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
        if (n < 0)
            return current;   // not a link (or not there): this is the file
        target[n] = '\0';
        // A relative target is relative to the link's directory.
        current = target[0] == '/' ? std::string(target) : directoryOf(current) + "/" + target;
    }
    return current;
}

bool replaceFileAtomically(const std::string &target, const std::string &text)
{
    const std::string file = followLinks(target);
    std::string tmp = file + TEMPORARY_INFIX + std::string(TEMPORARY_RANDOM, 'X');
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = true;
    if (stat(file.c_str(), &st) == 0) {
        ok = fchmod(fd, st.st_mode & 07777) == 0;
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only root may give the file away; the mode is what protects it.
        }
    }
    ok = ok && writeAll(fd, text) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tmp.c_str(), file.c_str()) != 0)
        ok = false;
    if (!ok) {
        int saved = errno;
        unlink(tmp.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable.
    int dfd = open(directoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

void removeStaleTemporaries(const std::string &target)
{
    const std::string file = followLinks(target);
    const std::string dir = directoryOf(file);
    const std::string prefix = baseNameOf(file) + TEMPORARY_INFIX;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent *entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + TEMPORARY_RANDOM || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        bool random = true;
        for (size_t i = prefix.size(); i < name.size(); i++)
            random = random && isalnum(static_cast<unsigned char>(name[i]));
        if (random)
            unlink((dir + "/" + name).c_str());
    }
    closedir(d);
}
