// Base64 encoder and hexadecimal decoder over byte buffers.
//
//   HqDynBuf in(64, 1024), out(1024, 1 << 20);
//   in.putstr("hello");
//   HqBase64Encoder().encode(in, out, true, true);   // out: "aGVsbG8="
//
//   HqHexDecoder hex;
//   in.putstr("48 69 0");
//   hex.flush(in, out, false);                        // out: "Hi", "0" kept in `in`
//
// Input is taken from the front of `in`; what cannot be used yet stays there
// for the next call. Both return false when `out` cannot take the result
// (nothing is taken from `in` then).
#pragma once

#include "hqbuf.h"

class HqBase64Encoder {
public:
    // Lines of `line_length` characters separated by LF (0: one line). No line
    // end follows the last character.
    explicit HqBase64Encoder(int line_length = 76);

    // Without `flush` only whole lines are written; with it every whole 3-byte
    // group; with `finish` the rest too, padded with '='.
    bool encode(HqBuf &in, HqBuf &out, bool flush, bool finish);

private:
    int line_length_;
    int column_ = 0;
};

class HqHexDecoder {
public:
    // Pairs of hexadecimal digits (either case) become bytes; other characters
    // are skipped. A lone last digit waits for its partner unless `finish`
    // is set, which drops it.
    bool flush(HqBuf &in, HqBuf &out, bool finish);
};
