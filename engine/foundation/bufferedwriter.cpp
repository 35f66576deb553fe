// The growable text builder.
#include "foundation/bufferedwriter.h"

#include <limits.h>
#include <string.h>

#include <new>

#include "foundation/exception.h"

namespace telsor {

CBufferedWriter::CBufferedWriter(ULONG capacity)
    : m_nCapacity(0), m_nStaged(0), m_nReserved(0) {
  if (capacity != 0) {
    m_pBuffer.reset(new (std::nothrow) char[capacity]);
    if (m_pBuffer == nullptr) AfxThrowMemoryException();
    m_nCapacity = capacity;
  }
}

CBufferedWriter::~CBufferedWriter() {}

void CBufferedWriter::Flush() {
  if (m_nStaged == 0) return;
  ULONG n = m_nStaged;
  int length = m_strText.GetLength();
  if (static_cast<long long>(length) + n > INT_MAX) AfxThrowMemoryException();
  int needed = length + static_cast<int>(n);
  if (needed > m_nReserved) {
    // Doubling keeps many flushes linear in the text's length.
    int ask = length > INT_MAX / 2 ? INT_MAX : 2 * length;
    if (ask < needed) ask = needed;
    m_strText.reserve(ask);
    m_nReserved = ask;
  }
  m_strText.ConcatInPlace(static_cast<int>(n), m_pBuffer.get());
  m_nStaged = 0;
}

void CBufferedWriter::Append(const char* p, ULONG count) {
  if (count == 0) return;
  if (count > m_nCapacity - m_nStaged) {
    Flush();
    if (count > m_nCapacity) {
      // Larger than the staging buffer: straight into the text.
      if (static_cast<long long>(m_strText.GetLength()) + count > INT_MAX) {
        AfxThrowMemoryException();
      }
      m_strText.ConcatInPlace(static_cast<int>(count), p);
      return;
    }
  }
  memcpy(m_pBuffer.get() + m_nStaged, p, count);
  m_nStaged += count;
}

CBufferedWriter& CBufferedWriter::operator+=(char c) {
  Append(&c, 1);
  return *this;
}

CBufferedWriter& CBufferedWriter::operator+=(const char* text) {
  if (text != nullptr) Append(text, static_cast<ULONG>(strlen(text)));
  return *this;
}

CBufferedWriter& CBufferedWriter::operator+=(const TSTRING& text) {
  Append(text.c_str(), static_cast<ULONG>(text.GetLength()));
  return *this;
}

CBufferedWriter& CBufferedWriter::operator=(const TSTRING& text) {
  m_nStaged = 0;
  m_strText = text;
  m_nReserved = 0;
  return *this;
}

TSTRING CBufferedWriter::ToString() {
  Flush();
  m_nReserved = 0;  // the copy shares the text: the next flush copies it
  return m_strText;
}

ULONG CBufferedWriter::GetLength() const {
  return static_cast<ULONG>(m_strText.GetLength()) + m_nStaged;
}

const char* CBufferedWriter::c_data() {
  Flush();
  return m_strText.c_str();
}

void CBufferedWriter::Empty() {
  m_nStaged = 0;
  m_strText.Release();
  m_nReserved = 0;
}

}  // namespace telsor
