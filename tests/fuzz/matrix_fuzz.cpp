// "MATR" records from untrusted bytes. The first byte picks the class
// (CMatrix, CMemMatrix, CSymMemMatrix); the rest is the record. A load
// either fails with a code and leaves an empty matrix, or gives a matrix
// that writes back exactly the bytes it read (an empty one: a 0 x 0 record)
// and whose rows, norm and alignment stay inside it.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "classify/matrix.h"
#include "common/teststream.h"

using namespace telsor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* names[] = {"CMatrix", "CMemMatrix", "CSymMemMatrix"};
  const char* name = names[data[0] % 3];
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  CTestStream in(bytes);
  std::unique_ptr<CMatrix> m(static_cast<CMatrix*>(GetRTTI(name)->CreateObject()));
  HRESULT hr = m->Serialize(&in, 0);
  const bool elements = data[0] % 3 != 0;
  if (hr != S_OK) {
    if (SUCCEEDED(hr)) abort();
    if (elements && (m->GetRowCount() != 0 || m->GetColumnCount() != 0)) abort();
    return 0;
  }
  CTestStream out;
  if (m->Serialize(&out, 1) != S_OK) abort();
  std::string read = bytes.substr(0, in.pos);
  if (out.str() != read) {
    // Only a record without elements may come back different: as 0 x 0.
    if (!elements || m->GetRowCount() != 0 || out.str().size() != 20) abort();
  }
  if (!elements) return 0;
  CMemMatrix* mem = static_cast<CMemMatrix*>(m.get());
  if (static_cast<unsigned long long>(mem->GetElementCount()) * 8 + 20 != out.str().size()) abort();
  std::vector<double> row(m->GetColumnCount() + 1);
  for (DWORD i = 0; i < m->GetRowCount(); ++i) m->GetRow(i, row.data());
  m->InfinityNorm();
  m->Align();
  CMemMatrix copy(*m);
  copy *= 2.0;
  CSymMemMatrix sym(*m);
  sym.Resize(sym.GetRowCount() + 1, 0);
  return 0;
}
