// HqEnvelope: checks the qmail queue envelope as its bytes arrive and keeps
// its sender. The envelope is "F" and the sender, then "T" and a recipient
// for each recipient, every field ended by a NUL, then one empty field (a
// lone NUL) that ends it.
//
//   HqEnvelope envelope;
//   envelope.take(chunk, n);               // for each read, however the bytes fall
//   if (!envelope.complete()) ...          // refuse: not a whole envelope
//   envelope.sender();                     // "alice@example.com"
//   envelope.fields_length();              // the bytes less the closing empty field
#pragma once

#include <cstddef>
#include <string>

class HqEnvelope {
public:
    void take(const char *data, size_t n);

    // The bytes taken form a whole envelope: they begin with "F", the sender
    // field is ended, and the last byte is the closing empty field.
    bool complete() const;
    // The sender's address, as far as it has arrived.
    const std::string &sender() const { return sender_; }
    // Bytes taken.
    long size() const { return size_; }
    // Bytes of the fields, less the closing empty field (complete envelopes).
    long fields_length() const { return size_ - 1; }

private:
    long size_ = 0;
    bool leading_f_ = false;
    bool sender_ended_ = false;
    std::string sender_;
    char last_[2] = {1, 1};   // the last two bytes taken
};
