/* A stand-in "gzlib.so" that lacks some of zlib's gzip functions, for the
 * tests of the gzip stream's binding. Built twice: without gzdopen
 * (GZPARTIAL_NO_DOPEN) and without gzopen (GZPARTIAL_NO_OPEN). What it does
 * export fails, as zlib does for a file it cannot open. */
#include <stddef.h>

typedef struct gzFile_s* gzFile;

#ifndef GZPARTIAL_NO_OPEN
gzFile gzopen(const char* path, const char* mode) {
  (void)path;
  (void)mode;
  return NULL;
}
#endif

#ifndef GZPARTIAL_NO_DOPEN
gzFile gzdopen(int fd, const char* mode) {
  (void)fd;
  (void)mode;
  return NULL;
}
#endif

int gzclose(gzFile file) {
  (void)file;
  return -1;
}
