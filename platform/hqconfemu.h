// Section/key access to a Ravelo tree, as INI files are read and written.
//
//   RaveloRoot root(new RaveloIni("/tmp/hqmail/hqmail.ini", 0660), true);
//   HqConfEmu conf(&root);
//   conf.maybesetint("Main", "Number Virus Found", 0);  // only when absent
//   long n = conf.getint("Main", "Number Virus Found", 0);
//   conf.setint("Main", "Number Virus Found", n + 1);
//   conf.flush();                                        // to the file
//
// The facade does not own the root, which must outlive it.
#pragma once

#include "hqstring.h"
#include "ravelo.h"

class HqConfEmu {
public:
    explicit HqConfEmu(Ravelo *root) : root_(root) {}

    // The value, or `fallback` (which may be null) when absent.
    HqString get(const char *section, const char *key, const char *fallback);
    // The value as a decimal integer, or `fallback` when absent or not a number.
    long getint(const char *section, const char *key, long fallback);
    bool setint(const char *section, const char *key, long value);
    // Stores `value` only when the key is absent.
    bool maybesetint(const char *section, const char *key, long value);
    // Writes the changes to the file; 0 on success, -1 on failure.
    int flush();

private:
    Ravelo *root_;
};
