// Classifier data files for the tests: a classifier written in each storage
// form, and modification times set by hand so that reloads are decided by
// the test, not by the clock.
#ifndef TELSOR_TESTS_ENGINE_CLASSIFY_CLASSIFIERFILES_H
#define TELSOR_TESTS_ENGINE_CLASSIFY_CLASSIFIERFILES_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "classify/ngramsclassifier.h"
#include "common/teststream.h"
#include "foundation/simplecipher.h"

namespace classify_test {

enum Form { PLAIN, GZIP, CIPHER, ORIGINAL };

// A classifier whose weights are the unit vector of text.
inline telsor::CNGramsTextClassifier ClassifierOf(const char* text, double b, ULONG update) {
  telsor::CNGramsTextClassifier c(5);
  c.SetWeights(c.Text2Vector(text));
  c.SetB(b);
  c.SetUpdateNumber(update);
  return c;
}

// The plain record of c: current form, or the older one.
inline std::string PlainRecord(telsor::CNGramsTextClassifier& c, bool original) {
  CTestStream s;
  if (!original) {
    EXPECT_EQ(c.SerializeWrite(&s), S_OK);
    return s.str();
  }
  EXPECT_EQ(c.CSVMachine::Serialize(&s, 1), S_OK);
  EXPECT_EQ(s.Write("NGTC", 4, nullptr), S_OK);
  const BYTE n[2] = {static_cast<BYTE>(c.GetLenNGrams()), 0};
  EXPECT_EQ(s.Write(n, 2, nullptr), S_OK);
  telsor::CNGramsVector w = c.GetWeights();
  EXPECT_EQ(w.Serialize(&s, 1), S_OK);
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

// Bytes as the position-byte cipher stores them.
inline std::string Enciphered(const std::string& plain) {
  CTestStream* inner = CTestStream::New("");
  inner->AddRef();
  {
    telsor::CSimpleCipher* cipher = new telsor::CSimpleCipher(inner);
    IStream* s = nullptr;
    EXPECT_EQ(cipher->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s)), S_OK);
    EXPECT_EQ(s->Write(plain.data(), static_cast<ULONG>(plain.size()), nullptr), S_OK);
    s->Release();
  }
  std::string out = inner->str();
  inner->Release();
  return out;
}

// A "TLGZ" file: the magic and one gzip member holding plain, then as many
// zero bytes as asked (written a MiB at a time, so that the test holds
// little of a large file).
inline void WriteCompressed(const std::string& path, const std::string& plain, size_t zeros = 0) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "TLGZ", 4), 4);
  gzFile gz = gzdopen(fd, zeros != 0 ? "wb1" : "wb");
  ASSERT_NE(gz, nullptr);
  ASSERT_EQ(gzwrite(gz, plain.data(), static_cast<unsigned>(plain.size())), static_cast<int>(plain.size()));
  const std::string block(zeros < (1u << 20) ? zeros : (1u << 20), '\0');
  for (size_t left = zeros; left > 0; left -= block.size())
    ASSERT_EQ(gzwrite(gz, block.data(), static_cast<unsigned>(block.size())), static_cast<int>(block.size()));
  ASSERT_EQ(gzclose(gz), Z_OK);
}

inline void WriteForm(const std::string& path, telsor::CNGramsTextClassifier& c, Form form) {
  std::string plain = PlainRecord(c, form == ORIGINAL);
  if (form == PLAIN || form == ORIGINAL) return WriteBytes(path, plain);
  if (form == CIPHER) return WriteBytes(path, Enciphered(plain));
  WriteCompressed(path, plain);
}

// Sets a file's modification time to the given second.
inline void SetTime(const std::string& path, time_t seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

}  // namespace classify_test

#endif  // TELSOR_TESTS_ENGINE_CLASSIFY_CLASSIFIERFILES_H
