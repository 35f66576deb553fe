// Helpers of the MIME tests: inputs in heap blocks of exactly their size (so
// AddressSanitizer reports any read past the end), and readable bytes.
#ifndef TELSOR_TESTS_ENGINE_MIME_MIMETESTUTIL_H
#define TELSOR_TESTS_ENGINE_MIME_MIMETESTUTIL_H

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
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

// The bytes of a hex text as the oracle scripts print them; "-" is none.
inline std::string FromHex(const std::string& hex) {
  if (hex == "-") return "";
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The folder of real mail named by $QOR_CORPORA, or null when it is not set.
inline const char* Corpora() {
  const char* corpora = getenv("QOR_CORPORA");
  return corpora != nullptr && *corpora != '\0' ? corpora : nullptr;
}

// Every file below dir (subfolders too) whose name ends in suffix, sorted.
inline void CollectFiles(const std::string& dir, const std::string& suffix, std::vector<std::string>& out) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      CollectFiles(path, suffix, out);
    } else if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      out.push_back(path);
    }
  }
  closedir(d);
  std::sort(out.begin(), out.end());
}

inline std::vector<std::string> FilesUnder(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> out;
  CollectFiles(dir, suffix, out);
  return out;
}

}  // namespace mime_test

#endif  // TELSOR_TESTS_ENGINE_MIME_MIMETESTUTIL_H
