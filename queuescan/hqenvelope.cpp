#include "hqenvelope.h"

void HqEnvelope::take(const char *data, size_t n)
{
    for (size_t i = 0; i < n && !sender_ended_; ++i) {
        if (size_ == 0 && i == 0)
            leading_f_ = data[0] == 'F';
        else if (data[i] == '\0')
            sender_ended_ = true;
        else
            sender_.push_back(data[i]);
    }
    if (n >= 2) {
        last_[0] = data[n - 2];
        last_[1] = data[n - 1];
    } else if (n == 1) {
        last_[0] = last_[1];
        last_[1] = data[0];
    }
    size_ += static_cast<long>(n);
}

bool HqEnvelope::complete() const
{
    // At least "F", the sender's NUL and the closing NUL; the closing field
    // is then never the sender's own end.
    return leading_f_ && sender_ended_ && size_ >= 3 && last_[0] == '\0' && last_[1] == '\0';
}
