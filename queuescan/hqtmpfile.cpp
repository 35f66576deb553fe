#include "hqtmpfile.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>

FILE *my_tmpfile_filename(HqString &name, const char *tmpl)
{
    std::string path(tmpl);
    int fd = mkstemp(&path[0]);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "w+");
    if (!f) {
        close(fd);
        unlink(path.c_str());
        return nullptr;
    }
    name = HqString(path);
    return f;
}

FILE *my_tmpfile(const char *tmpl)
{
    HqString name;
    FILE *f = my_tmpfile_filename(name, tmpl);
    if (f)
        unlink(name.cstr());
    return f;
}
