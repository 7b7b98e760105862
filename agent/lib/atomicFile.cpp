// Atomic replacement of a file through a temporary file and rename.
#include "lib/atomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

bool replaceFileAtomically(const std::string &target, const std::string &text)
{
    std::string tmp = target + ".XXXXXX";
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = true;
    if (stat(target.c_str(), &st) == 0) {
        ok = fchmod(fd, st.st_mode & 07777) == 0;
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only root may give the file away; the mode is what protects it.
        }
    }
    ok = ok && writeAll(fd, text) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tmp.c_str(), target.c_str()) != 0)
        ok = false;
    if (!ok) {
        int saved = errno;
        unlink(tmp.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable.
    std::string dir = target;
    int dfd = open(dirname(&dir[0]), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}
