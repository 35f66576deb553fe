// qorclassifier write [--form plain|gzip|cipher|original] [--update N] [--b B] OUT [TEXT...]
// qorclassifier show FILE [TEXT]
//
// write: makes an n-gram text classifier (n = 5) whose weights are the
//        unit-length sum of the unit 5-gram vectors of the TEXT files (none:
//        no weights), with threshold B (default 0) and update number N
//        (default none), and stores it in OUT in the given storage form:
//        plain (the "SCA" record, the default), gzip ("TLGZ" and a gzip
//        member of the record), cipher (the record through the position-byte
//        cipher) or original (the older "SVM" ... "NGTC" record, which has
//        no update number).
// show:  loads FILE in whichever form it has and prints its form, update
//        number, n, b and number of weights; with TEXT also the classifier's
//        value for that file's text.
// Exit status: 0 done, 1 the engine refused (the code is printed), 2 usage
// or a file that cannot be read or written.
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "classify/ngramsclassifier.h"
#include "foundation/fileasistream.h"
#include "foundation/hglobalstream.h"
#include "foundation/gzfileasistream.h"
#include "foundation/simplecipher.h"
#include "foundation/tstring.h"

using namespace telsor;

namespace {

int Usage() {
  fputs(
      "usage: qorclassifier write [--form plain|gzip|cipher|original] [--update N] [--b B] OUT [TEXT...]\n"
      "       qorclassifier show FILE [TEXT]\n",
      stderr);
  return 2;
}

bool ReadText(const char* path, TSTRING* text) {
  if (text->ReadFile(path) == 0) return true;
  fprintf(stderr, "qorclassifier: cannot read %s\n", path);
  return false;
}

int Refused(const char* what, HRESULT hr) {
  fprintf(stderr, "qorclassifier: %s: error 0x%08X\n", what, static_cast<unsigned>(hr));
  return 1;
}

// The record's bytes, written by the engine into a memory stream.
HRESULT RecordBytes(CNGramsTextClassifier& c, bool original, std::string* out) {
  IStream* s = nullptr;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &s);
  if (FAILED(hr)) return hr;
  if (original) {
    const BYTE ngtc[4] = {'N', 'G', 'T', 'C'};
    BYTE n[2] = {static_cast<BYTE>(c.GetLenNGrams()), static_cast<BYTE>(c.GetLenNGrams() >> 8)};
    CNGramsVector w = c.GetWeights();
    if (SUCCEEDED(hr = c.CSVMachine::Serialize(s, 1)) && SUCCEEDED(hr = s->Write(ngtc, 4, nullptr)) &&
        SUCCEEDED(hr = s->Write(n, 2, nullptr)))
      hr = w.Serialize(s, 1);
  } else {
    hr = c.SerializeWrite(s);
  }
  if (SUCCEEDED(hr)) {
    ULARGE_INTEGER end;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    s->Seek(zero, STREAM_SEEK_END, &end);
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    out->assign(static_cast<size_t>(end.QuadPart), '\0');
    ULONG got = 0;
    if (!out->empty()) hr = s->Read(&(*out)[0], static_cast<ULONG>(out->size()), &got);
    if (SUCCEEDED(hr) && got != out->size()) hr = E_FAIL;
  }
  s->Release();
  return hr;
}

bool WritePlain(const char* path, const std::string& bytes, bool gzip) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  if (!gzip) {
    bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && ok;
  }
  if (write(fd, GZ_FILE_MAGIC, 4) != 4) {
    close(fd);
    return false;
  }
  gzFile gz = gzdopen(fd, "wb");
  if (gz == nullptr) {
    close(fd);
    return false;
  }
  bool ok = bytes.empty() || gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size())) ==
                                 static_cast<int>(bytes.size());
  return gzclose(gz) == Z_OK && ok;
}

HRESULT WriteCiphered(const char* path, const std::string& bytes) {
  IStream* file = nullptr;
  HRESULT hr = CFileAsIStream::CreateStreamOnFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS, &file);
  if (FAILED(hr)) return hr;
  CSimpleCipher* cipher = new CSimpleCipher(file);
  IStream* s = nullptr;
  hr = cipher->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s));
  file->Release();
  if (FAILED(hr)) {
    delete cipher;
    return hr;
  }
  ULONG done = 0;
  hr = s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &done);
  if (SUCCEEDED(hr) && done != bytes.size()) hr = E_FAIL;
  s->Release();
  return hr;
}

int Write(int argc, char** argv) {
  std::string form = "plain";
  ULONG update = CNGramsTextClassifier::NO_UPDATE_NUMBER;
  double b = 0.0;
  int i = 2;
  for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (strcmp(argv[i], "--form") == 0) {
      form = argv[i + 1];
    } else if (strcmp(argv[i], "--update") == 0) {
      update = static_cast<ULONG>(strtoul(argv[i + 1], nullptr, 0));
    } else if (strcmp(argv[i], "--b") == 0) {
      b = strtod(argv[i + 1], nullptr);
    } else {
      return Usage();
    }
  }
  if (i >= argc) return Usage();
  if (form != "plain" && form != "gzip" && form != "cipher" && form != "original") return Usage();
  const char* out = argv[i++];

  CNGramsTextClassifier c(5);
  CNGramsVector w(5);
  for (; i < argc; ++i) {
    TSTRING text;
    if (!ReadText(argv[i], &text)) return 2;
    w += c.Text2Vector(text);
  }
  const double d = w.DotProduct();
  if (d > 0.0) w *= 1.0 / sqrt(d);
  c.SetWeights(w);
  c.SetB(b);
  c.SetUpdateNumber(update);

  std::string bytes;
  HRESULT hr = RecordBytes(c, form == "original", &bytes);
  if (FAILED(hr)) return Refused("record", hr);
  if (form == "cipher") {
    hr = WriteCiphered(out, bytes);
    if (FAILED(hr)) return Refused(out, hr);
  } else if (!WritePlain(out, bytes, form == "gzip")) {
    fprintf(stderr, "qorclassifier: cannot write %s\n", out);
    return 2;
  }
  return 0;
}

const char* FormOf(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return "unreadable";
  unsigned char head[4] = {0, 0, 0, 0};
  size_t got = fread(head, 1, 4, f);
  fclose(f);
  if (got < 4) return "short";
  if (memcmp(head, "SCA", 4) == 0) return "plain";
  if (memcmp(head, "SVM", 4) == 0) return "original";
  if (memcmp(head, GZ_FILE_MAGIC, 4) == 0) return "gzip";
  return "cipher";
}

int Show(int argc, char** argv) {
  if (argc != 3 && argc != 4) return Usage();
  CExtNGramsTextClassifier c;
  HRESULT hr = c.LoadData(argv[2]);
  if (FAILED(hr)) return Refused(argv[2], hr);
  printf("form=%s\n", FormOf(argv[2]));
  if (c.GetUpdateNumber() == CNGramsTextClassifier::NO_UPDATE_NUMBER) {
    puts("update=none");
  } else {
    printf("update=%lu\n", static_cast<unsigned long>(c.GetUpdateNumber()));
  }
  printf("n=%u\nb=%.17g\nweights=%lu\n", static_cast<unsigned>(c.GetLenNGrams()), c.GetB(),
         static_cast<unsigned long>(c.GetWeights().GetCount()));
  if (argc == 4) {
    TSTRING text;
    if (!ReadText(argv[3], &text)) return 2;
    printf("value=%.17g\n", c.EvaluateText(text)[0]);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  if (strcmp(argv[1], "write") == 0) return Write(argc, argv);
  if (strcmp(argv[1], "show") == 0) return Show(argc, argv);
  return Usage();
}
