// Result codes of the classification facility, named once.
//
//   IStream* stream = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING("MATX", &stream);
//   if (FAILED(hr)) return hr;
//   CMemMatrix m;
//   hr = m.Serialize(stream, 0);
//   if (hr == E_FAIL) { /* wrong magic, a short record, bad dimensions */ }
//   stream->Release();
//
// The learning core's record readers return the generic codes of
// foundation/results.h and pass a failing stream's own code on unchanged:
//   E_FAIL               a short read, a wrong signature, a bad field (entry
//                        size, entry order, an element count that does not
//                        match a matrix's dimensions, a symmetric matrix that
//                        is not square, an unknown class name)
//   E_OUTOFMEMORY        the elements of a record cannot be held in memory
//   E_INVALIDARG         operands that cannot be combined (thrown as a bare
//                        code: n-gram vectors of different n-gram lengths)
#ifndef TELSOR_CLASSIFY_CLASSIFYRESULTS_H
#define TELSOR_CLASSIFY_CLASSIFYRESULTS_H

#include "foundation/results.h"

#endif  // TELSOR_CLASSIFY_CLASSIFYRESULTS_H
