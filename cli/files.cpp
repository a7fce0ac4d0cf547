#include "files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

bool read_file(const std::string& path, std::string* bytes, size_t limit) {
    bytes->clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[65536];
    ssize_t n = 0;
    while (bytes->size() < limit) {
        n = read(fd, buffer, std::min(sizeof buffer, limit - bytes->size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes->append(buffer, static_cast<size_t>(n));
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return n >= 0;
}
