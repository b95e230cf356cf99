/* Opening the small settings files of the working directory (sc.txt, cs.txt, txport.bin,
 * loop.txt), shared by every part of the program that reads one. */
#ifndef TARPO_EXTERNAL_SETTINGS_FILE_H
#define TARPO_EXTERNAL_SETTINGS_FILE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* Opens `path` for reading only when it is a regular file (after symbolic links); anything
 * else (a FIFO, which would block the open until a writer came, a device node, whose open
 * may act on the hardware, a directory) counts as missing. Returns a file descriptor, or -1.
 * The type is looked at before the open and checked again on what was opened, which does
 * not wait. */
static inline int open_settings_file(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

#endif
