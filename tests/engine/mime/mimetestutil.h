// Helpers of the MIME tests: inputs in heap blocks of exactly their size (so
// AddressSanitizer reports any read past the end), and readable bytes.
#ifndef TELSOR_TESTS_ENGINE_MIME_MIMETESTUTIL_H
#define TELSOR_TESTS_ENGINE_MIME_MIMETESTUTIL_H

#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/tstring.h"
#include "mime/rfc2045parameter.h"

namespace mime_test {

// Seconds a linear-time test may take: well under a second in a plain build;
// the sanitizer build on a loaded machine runs many times slower.
#if defined(__SANITIZE_ADDRESS__)
const double kLinearTimeBound = 30.0;
#else
const double kLinearTimeBound = 5.0;
#endif

// A copy of the bytes in a block of exactly their size, no NUL after them.
class ExactBytes {
 public:
  explicit ExactBytes(const std::string& s) : m_size(s.size()), m_p(new unsigned char[s.size()]) {
    if (!s.empty()) memcpy(m_p.get(), s.data(), s.size());
  }
  const unsigned char* data() const { return m_p.get(); }
  const char* chars() const { return reinterpret_cast<const char*>(m_p.get()); }
  unsigned long size() const { return static_cast<unsigned long>(m_size); }

 private:
  size_t m_size;
  std::unique_ptr<unsigned char[]> m_p;
};

inline std::string Str(const telsor::TSTRING& s) {
  return std::string(s.c_str(), static_cast<size_t>(s.GetLength()));
}

// A TSTRING of all the bytes (NUL bytes included).
inline telsor::TSTRING T(const std::string& s) { return telsor::TSTRING(s.data(), static_cast<int>(s.size())); }

// A parameter list as (attribute, value) pairs in order.
typedef std::vector<std::pair<std::string, std::string>> Params;
inline Params ListOf(const telsor::CRfc2045ParameterList& list) {
  Params out;
  for (void* p = list.GetHeadPosition(); p != nullptr;) {
    const telsor::CRfc2045Parameter& param = list.GetNext(p);
    out.emplace_back(Str(param.GetAttribute()), Str(param.GetValue()));
  }
  return out;
}

// Bytes with controls and bytes from 0x80 written as \xNN, for messages.
inline std::string Show(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace mime_test

#endif  // TELSOR_TESTS_ENGINE_MIME_MIMETESTUTIL_H
