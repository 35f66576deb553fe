// Temporary files of the queue filter, made with mkstemp and open for update.
//
//   HqString name;
//   FILE *copy = my_tmpfile_filename(name);   // stays named until unlinked
//   FILE *scratch = my_tmpfile();             // nameless from the start
//
// Both return null when the file cannot be made; the caller closes the stream.
#pragma once

#include <cstdio>

#include "hqplaces.h"
#include "hqstring.h"

FILE *my_tmpfile(const char *tmpl = HqQueuePlaces().temp_template);
FILE *my_tmpfile_filename(HqString &name, const char *tmpl = HqQueuePlaces().temp_template);
