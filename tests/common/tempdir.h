// A temporary directory that lives as long as the object, and whole-file
// read and write helpers, for tests that work with real files.
//
//   telsor_test::TempDir dir;                 // /tmp/qortestXXXXXX
//   WriteFileBytes(dir / "a.bin", "bytes");
//   EXPECT_EQ(ReadFileBytes(dir / "a.bin"), "bytes");
//
// When the directory cannot be made, path() is empty, every path built from
// it fails, and nothing is removed.
#ifndef TELSOR_TESTS_COMMON_TEMPDIR_H
#define TELSOR_TESTS_COMMON_TEMPDIR_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace telsor_test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qortestXXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
  }
  ~TempDir() {
    if (m_path.empty()) return;
    // Tests may leave the directory read-only; give it back before removing.
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return m_path + "/" + name; }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace telsor_test

#endif  // TELSOR_TESTS_COMMON_TEMPDIR_H
