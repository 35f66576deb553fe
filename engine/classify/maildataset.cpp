// The training set of message files read through the feature extractor.
#include "classify/maildataset.h"

#include "foundation/throwcode.h"

namespace telsor {

CMailOnFileDataSet::CMailOnFileDataSet(WORD n) : CNGramsOnFileDataSet(n), m_extractor(nullptr) {}

CMailOnFileDataSet::~CMailOnFileDataSet() {}

void CMailOnFileDataSet::PrepareText(TSTRING& text) {
  HRESULT hr = m_extractor.ExtractFeatures(text.c_str(), static_cast<ULONG>(text.GetLength()), nullptr);
  if (hr != S_OK) ThrowCode(static_cast<DWORD>(hr));
  text = m_extractor.text;
}

HRESULT CMailOnFileDataSet::MessageText(const char* bytes, ULONG length, TSTRING& text) {
  CMailFeatureExtractor extractor(nullptr);
  HRESULT hr = extractor.ExtractFeatures(bytes, length, nullptr);
  if (hr == S_OK) text = extractor.text;
  return hr;
}

}  // namespace telsor
