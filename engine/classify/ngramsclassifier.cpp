// The n-gram text classifier, its records and its data files.
#include "classify/ngramsclassifier.h"

#include <errno.h>
#include <math.h>
#include <string.h>

#include <cmath>
#include <new>

#include "classify/recordio.h"
#include "foundation/errorroad.h"
#include "foundation/fileasistream.h"
#include "foundation/gzfileasistream.h"
#include "foundation/simplecipher.h"

namespace telsor {

const BYTE CNGramsTextClassifier::ms_abyDynaHeaderSignature[4] = {'S', 'C', 'A', 0};
const BYTE CNGramsTextClassifier::ms_abyOriginalSignature[4] = {'S', 'V', 'M', 0};
const BYTE CNGramsTextClassifier::ms_abyOriginalNGramsTextClassifierSignature[4] = {'N', 'G', 'T', 'C'};

namespace {

// Why a data file could not be opened, from the open's errno.
TSTRING OpenFailureText(int error) {
  if (error == EISDIR || error == EINVAL) return TSTRING("not a regular file");
  TSTRING text;
  text.Format("cannot be opened: %s", strerror(error));
  return text;
}

// Why a record could not be read, from the reader's result.
TSTRING RecordFailureText(HRESULT hr) {
  if (hr == E_FAIL) return TSTRING("damaged record (cut short, a field out of range or n-grams out of order)");
  if (hr == E_OUTOFMEMORY) return TSTRING("not enough memory");
  TSTRING text;
  text.Format("read failure 0x%08X", static_cast<unsigned>(hr));
  return text;
}

// S_OK when the stream ends right after the record; E_FAIL with the reason
// when bytes follow it, or when reading past the record fails (for a
// compressed file that is where the check of its data fails).
HRESULT CheckRecordEnd(IStream* stream, TSTRING& reason) {
  BYTE extra;
  ULONG got = 0;
  HRESULT hr = stream->Read(&extra, 1, &got);
  if (FAILED(hr)) {
    reason.Format("the data after the record does not check out (0x%08X)", static_cast<unsigned>(hr));
    return E_FAIL;
  }
  if (got != 0) {
    reason = "bytes follow the record";
    return E_FAIL;
  }
  return S_OK;
}

HRESULT SeekBy(IStream* stream, LONGLONG move) {
  LARGE_INTEGER by;
  by.QuadPart = move;
  return stream->Seek(by, STREAM_SEEK_CUR, nullptr);
}

}  // namespace

CNGramsTextClassifier::CNGramsTextClassifier(unsigned short n)
    : m_w(n), m_wN(n), m_dwUpdateNumber(NO_UPDATE_NUMBER) {}

void CNGramsTextClassifier::SetWeights(const CNGramsVector& w) {
  m_w = w;
  m_wN = w.GetLenNGrams();
  IndexWeights();
}

void CNGramsTextClassifier::IndexWeights() {
  m_index = nullptr;
  m_index = CNGramsWeightIndex::Create(m_w);
}

void CNGramsTextClassifier::Empty() {
  CSVMachine::Empty();
  m_w.Empty();
  m_index = nullptr;
  m_wN = 0;
}

CRealVector CNGramsTextClassifier::EvaluateVector(const CNGramsVector& x) const {
  // Vectors of another n-gram length share no n-gram with w: w.x is 0.
  double dot = 0.0;
  if (x.GetLenNGrams() == m_wN) dot = m_index ? m_index->DotProduct(x) : m_w.DotProduct(x);
  CRealVector value(1);
  value.SetAt(0, dot - m_dB);
  return value;
}

CNGramsVector CNGramsTextClassifier::Text2Vector(const TSTRING& text) const {
  CNGramsVector v(m_wN, text.c_str(), static_cast<DWORD>(text.GetLength()), DefaultNextStopWord);
  const double d = v.DotProduct();
  v *= d > 0.0 ? 1.0 / sqrt(d) : 1.0;
  return v;
}

CRealVector CNGramsTextClassifier::EvaluateText(const TSTRING& text) const {
  return EvaluateVector(Text2Vector(text));
}

HRESULT CNGramsTextClassifier::Serialize(IStream* stream, int storing) {
  return storing ? SerializeWrite(stream) : SerializeRead(stream, false);
}

HRESULT CNGramsTextClassifier::SerializeWrite(IStream* stream) {
  return ResultOfCall([&]() -> HRESULT {
    HRESULT hr;
    if (FAILED(hr = stream->Write(ms_abyDynaHeaderSignature, 4, nullptr))) return hr;
    if (FAILED(hr = WriteU32(stream, ms_dwKnownHeaderLength))) return hr;
    if (FAILED(hr = WriteU32(stream, m_dwUpdateNumber))) return hr;
    if (FAILED(hr = WriteU16(stream, m_wN))) return hr;
    if (FAILED(hr = CSVMachine::Serialize(stream, 1))) return hr;
    return m_w.Serialize(stream, 1);
  });
}

HRESULT CNGramsTextClassifier::ReadStream(IStream* stream, void* buffer, ULONG size) {
  return ReadField(stream, buffer, size, E_FAIL);
}

HRESULT CNGramsTextClassifier::SerializeRead(IStream* stream, bool headerOnly) {
  return ResultOfCall([&]() -> HRESULT {
    m_dwUpdateNumber = NO_UPDATE_NUMBER;
    BYTE signature[4];
    HRESULT hr = ReadStream(stream, signature, 4);
    if (hr != S_OK) return hr;
    if (FAILED(hr = SeekBy(stream, -4))) return hr;
    if (memcmp(signature, ms_abyDynaHeaderSignature, 4) == 0) return ReadDynaHeaderFormat(stream, headerOnly);
    if (memcmp(signature, ms_abyOriginalSignature, 4) == 0) return ReadOriginalFormat(stream, headerOnly);
    return E_FAIL;
  });
}

HRESULT CNGramsTextClassifier::ReadDynaHeaderFormat(IStream* stream, bool headerOnly) {
  return ResultOfCall([&]() -> HRESULT {
    BYTE signature[4];
    HRESULT hr = ReadStream(stream, signature, 4);
    if (hr != S_OK) return hr;
    if (memcmp(signature, ms_abyDynaHeaderSignature, 4) != 0) return E_FAIL;
    DWORD length = 0;
    if ((hr = ReadU32(stream, &length)) != S_OK) return hr;
    DWORD skip = length;
    if (length >= ms_dwKnownHeaderLength) {
      DWORD number = 0;
      if ((hr = ReadU32(stream, &number)) != S_OK) return hr;
      m_dwUpdateNumber = number;
      skip = length - ms_dwKnownHeaderLength;
    }
    if (skip != 0 && FAILED(hr = SeekBy(stream, skip))) return hr;
    WORD n = 0;
    if ((hr = ReadU16(stream, &n)) != S_OK) return hr;
    m_wN = n;
    if (headerOnly) return S_OK;
    if ((hr = CSVMachine::Serialize(stream, 0)) != S_OK) return hr;
    return ReadWeights(stream);
  });
}

HRESULT CNGramsTextClassifier::ReadOriginalFormat(IStream* stream, bool headerOnly) {
  return ResultOfCall([&]() -> HRESULT {
    HRESULT hr = CSVMachine::Serialize(stream, 0);
    if (hr != S_OK) return hr;
    BYTE signature[4];
    if ((hr = ReadStream(stream, signature, 4)) != S_OK) return hr;
    if (memcmp(signature, ms_abyOriginalNGramsTextClassifierSignature, 4) != 0) return E_FAIL;
    WORD n = 0;
    if ((hr = ReadU16(stream, &n)) != S_OK) return hr;
    m_wN = n;
    if (headerOnly) return S_OK;
    return ReadWeights(stream);
  });
}

HRESULT CNGramsTextClassifier::ReadWeights(IStream* stream) {
  // Reading replaces m_w even when it fails part-way.
  HRESULT hr = m_w.Serialize(stream, 0);
  // Weights of another n-gram length than the header's would never score.
  if (hr == S_OK && m_w.GetLenNGrams() != m_wN) {
    m_w.Empty();
    hr = E_FAIL;
  }
  IndexWeights();
  return hr;
}

HRESULT CNGramsTextClassifier::CheckValues(TSTRING& reason) const {
  if (!std::isfinite(m_dB)) {
    reason = "the bias is not a finite number";
    return E_FAIL;
  }
  for (DWORD i = 0; i < m_coefficients.GetSize(); ++i) {
    if (!std::isfinite(m_coefficients[i])) {
      reason.Format("coefficient %lu is not a finite number", static_cast<unsigned long>(i));
      return E_FAIL;
    }
  }
  const BYTE* entry = m_w.GetEntries();
  for (DWORD i = 0; i < m_w.GetCount(); ++i, entry += m_w.GetElemSize()) {
    if (!std::isfinite(LoadF32(entry))) {
      reason.Format("weight %lu is not a finite number", static_cast<unsigned long>(i));
      return E_FAIL;
    }
  }
  return S_OK;
}

HRESULT CNGramsTextClassifier::GetUpdateNumber(IStream* stream, ULONG* number) {
  CNGramsTextClassifier header(5);
  HRESULT hr = header.SerializeRead(stream, true);
  if (SUCCEEDED(hr) && number != nullptr) *number = header.GetUpdateNumber();
  return hr;
}

HRESULT CExtNGramsTextClassifier::OpenStream(const char* path, IStream** stream) {
  if (stream == nullptr) return E_POINTER;
  *stream = nullptr;
  CStreamPtr file;
  HRESULT hr = CFileAsIStream::CreateStreamOnRegularFile(path, file.Out());
  if (FAILED(hr)) return hr;
  BYTE magic[4];
  if ((hr = ReadStream(file, magic, 4)) != S_OK) return hr;
  if (FAILED(hr = StreamSeekTo(file, 0))) return hr;
  if (memcmp(magic, ms_abyOriginalSignature, 4) == 0 || memcmp(magic, ms_abyDynaHeaderSignature, 4) == 0) {
    *stream = file.Detach();
    return S_OK;
  }
  if (memcmp(magic, GZ_FILE_MAGIC, 4) == 0) {
    file = nullptr;
    return CGZFileAsIStream::CreateStreamOnFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, stream);
  }
  CStreamPtr cipher = new (std::nothrow) CSimpleCipher(file);
  if (cipher == nullptr) return E_OUTOFMEMORY;
  *stream = cipher.Detach();
  return S_OK;
}

HRESULT CExtNGramsTextClassifier::LoadData(const char* path, TSTRING* why) {
  TSTRING scratch;
  TSTRING& reason = why != nullptr ? *why : scratch;
  reason.Release();
  FILETIME modified = {0, 0};
  bool haveTime = false;
  {
    CStreamPtr plain;
    HRESULT hr = CFileAsIStream::CreateStreamOnRegularFile(path, plain.Out());
    if (FAILED(hr)) {
      // A file that is not there is missing, not refused.
      if (errno != ENOENT) reason = OpenFailureText(errno);
      return hr;
    }
    STATSTG st;
    memset(&st, 0, sizeof st);
    if (SUCCEEDED(plain->Stat(&st, STATFLAG_NONAME))) {
      haveTime = true;
      modified = st.mtime;
      if (modified.dwLowDateTime == m_ftLastWrite.dwLowDateTime &&
          modified.dwHighDateTime == m_ftLastWrite.dwHighDateTime)
        return S_OK;
    }
  }
  CStreamPtr record;
  HRESULT hr = OpenStream(path, record.Out());
  if (FAILED(hr)) {
    reason = hr == TYPE_E_CANTLOADLIBRARY ? TSTRING("gzlib.so or one of its functions is missing")
                                          : RecordFailureText(hr);
    return hr;
  }
  // Read into a copy: a file that fails part-way leaves this classifier
  // as it was.
  CExtNGramsTextClassifier fresh(*this);
  hr = fresh.Serialize(record, 0);
  if (hr == S_OK) hr = CheckRecordEnd(record, reason);
  if (hr == S_OK) hr = fresh.CheckValues(reason);
  if (hr != S_OK) {
    if (reason.IsEmpty()) reason = RecordFailureText(hr);
    return hr;
  }
  *this = fresh;
  // Without a time the next call loads again.
  m_ftLastWrite = haveTime ? modified : FILETIME{0, 0};
  return S_OK;
}

void CExtNGramsTextClassifier::Empty() {
  CNGramsTextClassifier::Empty();
  m_ftLastWrite = FILETIME{0, 0};
}

HRESULT CExtNGramsTextClassifier::GetUpdateNumber(const char* path, ULONG* number) {
  // The number of a file that would not load is no number: the whole file
  // is read and checked as LoadData reads it.
  CExtNGramsTextClassifier probe;
  HRESULT hr = ResultOfCall([&] { return probe.LoadData(path, nullptr); });
  if (hr == S_OK && number != nullptr) *number = probe.GetUpdateNumber();
  return hr;
}

}  // namespace telsor
