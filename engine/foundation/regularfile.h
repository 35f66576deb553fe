// Opening a data file that the engine only reads (a classifier file, the
// script catalogue, a script file, a message file) without being held up by
// what stands at its path: anything but a regular file is refused at once,
// before a read or the open itself could wait for a writer (a FIFO, a
// terminal) or a device.
//
//   int fd = OpenRegularFile("/data/Qor.bin");
//   if (fd < 0) return errno == ENOENT ? E_FAIL : E_ACCESSDENIED;  // EISDIR, EINVAL: no file
//   char head[4];
//   ssize_t got = read(fd, head, sizeof head);   // a regular file's bytes
//   close(fd);
//   if (got != 4) return E_FAIL;
//
// The path is looked at with stat first, so a FIFO or a device is never
// opened; the open itself is non-blocking and the descriptor is checked
// again, so a path that changes in between is refused just the same.
// Thread-safe; errno is set on failure.
#ifndef TELSOR_FOUNDATION_REGULARFILE_H
#define TELSOR_FOUNDATION_REGULARFILE_H

#include <fcntl.h>
#include <unistd.h>

namespace telsor {

// A read-only, close-on-exec descriptor of path (blocking reads, positioned
// at 0), or -1 with errno: the open's own error (ENOENT, EACCES, ...),
// EISDIR for a directory, EINVAL for anything else that is not a regular
// file (a FIFO, a socket, a device). A null path gives ENOENT.
int OpenRegularFile(const char* path);

// The same verdict for a descriptor already open: 0, or -1 with errno
// EISDIR or EINVAL (or fstat's own error).
int CheckRegularFile(int fd);

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_REGULARFILE_H
