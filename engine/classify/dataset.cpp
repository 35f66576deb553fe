// Training sets, their cursor and their Gram matrices; the file set.
#include "classify/dataset.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "foundation/exception.h"
#include "foundation/globalmem.h"
#include "foundation/results.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

const LONG kInvalidIndex = 1413;
const double kLog10Of2 = 0.3010299956639812;
const DWORD kDirectoryAttribute = 0x10;

}  // namespace

// ---- CDataSet ----

CDataSet::CDataSet() : m_label(1), m_bBOF(1), m_bEOF(1), m_nRecords(0), m_nPosition(0) {}

CDataSet::~CDataSet() {}

void CDataSet::MoveFirst() {
  m_nPosition = 0;
  m_bBOF = m_bEOF = GetRecordCount() == 0;
  if (!m_bEOF) ReadRecord(0);
}

void CDataSet::MoveNext() {
  const ULONG n = GetRecordCount();
  if (m_nPosition >= n) return;
  if (++m_nPosition == n) {
    m_bEOF = 1;
    m_bBOF = 0;
    return;
  }
  ReadRecord(m_nPosition);
}

void CDataSet::MovePrev() {
  if (m_nPosition == 0) {
    m_bBOF = 1;
    return;
  }
  --m_nPosition;
  m_bBOF = m_bEOF = 0;
  ReadRecord(m_nPosition);
}

void CDataSet::MoveLast() {
  const ULONG n = GetRecordCount();
  if (n == 0) return;
  m_nPosition = n - 1;
  m_bBOF = m_bEOF = 0;
  ReadRecord(m_nPosition);
}

void CDataSet::Move(LONG offset) {
  const ULONG n = GetRecordCount();
  if (n == 0) return;
  if (offset >= 0) {
    const ULONG room = n - 1 - (m_nPosition < n ? m_nPosition : n - 1);
    const ULONG by = static_cast<ULONG>(offset);
    m_nPosition = (m_nPosition < n ? m_nPosition : n - 1) + (by < room ? by : room);
  } else {
    const ULONG back = static_cast<ULONG>(-static_cast<LONGLONG>(offset));
    const ULONG from = m_nPosition < n ? m_nPosition : n - 1;
    m_nPosition = back < from ? from - back : 0;
  }
  m_bBOF = m_bEOF = 0;
  ReadRecord(m_nPosition);
}

void CDataSet::SetAbsolutePosition(ULONG position) {
  if (position >= GetRecordCount()) CFileException::ThrowOsError(kInvalidIndex, nullptr);
  m_nPosition = position;
  m_bBOF = m_bEOF = 0;
  ReadRecord(position);
}

// ---- CMetricDataSet ----

CMetricDataSet::CMetricDataSet() {}

CMetricDataSet::~CMetricDataSet() {}

ULONG CMetricDataSet::MetricCacheSize(ULONG n, ULONG count, DWORD totalPhys) {
  // Vectors without elements cost nothing to keep: one block holds them all.
  ULONG size = count == 0 ? n : totalPhys / (8 * static_cast<ULONGLONG>(count)) / 5;
  if (size == 0) size = 2;
  return size < n ? size : n;
}

void CMetricDataSet::CreateMetricKernelMatrix(CMatrix& matrix, const CKernel& kernel) {
  const ULONG n = GetRecordCount();
  // The block is sized by a record's length: read one when none is loaded.
  if (n != 0 && m_current.IsEmpty()) MoveFirst();
  MEMORYSTATUS status;
  GlobalMemoryStatus(&status);
  const ULONG cacheSize = MetricCacheSize(n, m_current.GetSize(), status.dwTotalPhys);
  BuildGramMatrix<CRealVector>(
      matrix, cacheSize, [this]() { return m_current; },
      [&kernel](const CRealVector& a, const CRealVector& b) { return kernel.Evaluate(a, b); });
}

// ---- CTextDataSet ----

CTextDataSet::CTextDataSet() : m_nNegative(0), m_nPositive(0) {}

CTextDataSet::~CTextDataSet() {}

ULONG CTextDataSet::GetClassCount(short label) const { return label > 0 ? m_nPositive : m_nNegative; }

double CTextDataSet::ClassWeight(ULONG total, ULONG count) {
  if (count == 0) return 1.0;
  return log10(static_cast<double>(total) / static_cast<double>(count)) / kLog10Of2;
}

double CTextDataSet::CurrentClassWeight() const {
  const ULONG n = GetRecordCount();
  return m_label[0] > 0.0 ? ClassWeight(n, m_nPositive) : ClassWeight(n, m_nNegative);
}

void CTextDataSet::CreateTextKernelMatrix(CMatrix& matrix, const CTextKernel* kernel) {
  if (kernel == nullptr) ThrowCode(static_cast<DWORD>(E_POINTER));
  typedef std::unique_ptr<CTextVector> Vector;
  BuildGramMatrix<Vector>(
      matrix, TEXT_CACHE_ROWS,
      [this, kernel]() {
        Vector v(kernel->CreateVector(m_text.c_str(), static_cast<DWORD>(m_text.GetLength())));
        // Text kernels without vectors (bag of words, substrings) cannot
        // serve a block builder.
        if (!v) AfxThrowNotSupportedException();
        *v *= CurrentClassWeight();
        return v;
      },
      [kernel](const Vector& a, const Vector& b) { return kernel->Evaluate(*a, *b); });
}

// ---- CFileDataSet ----

CFileDataSet::CFileDataSet() {}

CFileDataSet::~CFileDataSet() { Close(); }

void CFileDataSet::Close() {
  m_strNegDir.Release();
  m_strPosDir.Release();
  m_records.clear();
  m_nRecords = m_nNegative = m_nPositive = 0;
  m_nPosition = 0;
  m_bBOF = m_bEOF = 1;
}

short CFileDataSet::GetClassLabel(ULONG i) const { return m_records[i].nLabel; }

TSTRING CFileDataSet::GetFNameByIndex(ULONG i) const {
  return GetDirectory(GetClassLabel(i)) + m_records[i].strFName;
}

void CFileDataSet::ReadRecord(ULONG i) {
  m_label.SetAt(0, static_cast<double>(GetClassLabel(i)));
  ReadText(i);
}

void CFileDataSet::ReadText(ULONG i) {
  const TSTRING path = GetFNameByIndex(i);
  const DWORD code = m_text.ReadFile(path.c_str());
  if (code != 0) CFileException::ThrowOsError(static_cast<LONG>(code), nullptr);
}

void CFileDataSet::Open(const char* negativeDir, const char* positiveDir, const char* mask) {
  m_strNegDir = negativeDir;
  m_strPosDir = positiveDir;
  m_bBOF = m_bEOF = 1;
  m_nPosition = 0;
  m_nRecords = 0;
  TSTRING* dirs[2] = {&m_strNegDir, &m_strPosDir};
  for (TSTRING* dir : dirs) {
    if (!dir->IsEmpty() && (*dir)[dir->GetLength() - 1] != '/') dir->append("/", 1);
  }
  for (TSTRING* dir : dirs) {
    if (!dir->IsEmpty() && access(dir->c_str(), R_OK) != 0) CFileException::ThrowOsError(ERROR_PATH_NOT_FOUND, nullptr);
  }
  CPList<TSTRING, TSTRING&> names(4096);
  TSTRING sub;
  if (!m_strNegDir.IsEmpty()) EnumFName(m_strNegDir.c_str(), sub, names, mask);
  const ULONG negatives = static_cast<ULONG>(names.GetCount());
  if (!m_strPosDir.IsEmpty()) EnumFName(m_strPosDir.c_str(), sub, names, mask);
  const ULONG total = static_cast<ULONG>(names.GetCount());

  WithMemoryException([&] { m_records.resize(total); });
  m_nNegative = negatives;
  m_nPositive = total - negatives;
  ULONG k = 0;
  for (void* pos = names.GetHeadPosition(); pos != nullptr; ++k) {
    m_records[k].strFName = names.GetNext(pos);
    m_records[k].nLabel = k < negatives ? -1 : 1;
  }
  for (ULONG i = 1; i < total; ++i) {
    const ULONG r = static_cast<ULONG>(rand()) % (i + 1);
    std::swap(m_records[i], m_records[r]);
  }
  m_nRecords = total;
  if (total == 0) return;
  m_bBOF = m_bEOF = 0;
  MoveFirst();
}

void EnumFName(const char* root, TSTRING& sub, CPList<TSTRING, TSTRING&>& list, const char* mask) {
  TSTRING pattern = root + sub;
  if (mask != nullptr) pattern.append(mask, -1);
  WIN32_FIND_DATA found;
  HANDLE h = FindFirstFile(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  struct Closer {
    HANDLE h;
    ~Closer() { FindClose(h); }
  } closer{h};
  do {
    const char* name = found.cFileName;
    if (found.dwFileAttributes & kDirectoryAttribute) {
      if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
      const int length = sub.GetLength();
      sub.append(name, -1);
      sub.append("/", 1);
      try {
        EnumFName(root, sub, list, mask);
      } catch (...) {
        sub = sub.Left(length);
        throw;
      }
      sub = sub.Left(length);
    } else {
      TSTRING entry = sub + name;
      list.AddTail(entry);
    }
  } while (FindNextFile(h, &found));
}

}  // namespace telsor
