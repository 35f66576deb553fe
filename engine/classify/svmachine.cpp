// Support-vector machines and their records.
#include "classify/svmachine.h"

#include <string.h>
#include <time.h>

#include <vector>

#include "classify/recordio.h"
#include "classify/smo.h"
#include "foundation/logsystem.h"
#include "foundation/errorroad.h"
#include "foundation/tstring.h"

namespace telsor {

namespace {

const BYTE kSvmSignature[4] = {'S', 'V', 'M', 0};
const BYTE kMsvmSignature[4] = {'M', 'S', 'V', 'M'};

// Reads four bytes and compares them with a signature.
HRESULT ReadSignature(IStream* stream, const BYTE (&signature)[4]) {
  BYTE got[4];
  HRESULT hr = ReadField(stream, got, 4, E_FAIL);
  if (hr != S_OK) return hr;
  return memcmp(got, signature, 4) == 0 ? S_OK : E_FAIL;
}

CRTTI* RegisteredClass(const TSTRING& name);

// A registered object of the class named by the next TSTRING record, made
// empty; E_FAIL for an unknown name or a class without a factory.
template <class T>
HRESULT ReadClassObject(IStream* stream, std::unique_ptr<T>* out) {
  TSTRING name;
  HRESULT hr = name.Serialize(stream, 0);
  if (hr != S_OK) return hr;
  CRTTI* record = RegisteredClass(name);
  if (record == nullptr) return E_FAIL;
  std::unique_ptr<CObj> object(record->CreateObject());
  T* typed = dynamic_cast<T*>(object.get());
  if (typed == nullptr) return E_FAIL;
  object.release();
  out->reset(typed);
  return S_OK;
}

// The registered class of a stored name; a name holding a NUL byte is no
// class name.
CRTTI* RegisteredClass(const TSTRING& name) {
  if (strlen(name.c_str()) != static_cast<size_t>(name.GetLength())) return nullptr;
  return GetRTTI(name.c_str());
}

HRESULT WriteClassName(IStream* stream, const CObj& object) {
  TSTRING name(object.GetRuntimeClass()->m_lpszClassName);
  return name.Serialize(stream, 1);
}

}  // namespace

void CSVMachine::OnEachIteration(CTrainer& trainer) {
  const DWORD now = static_cast<DWORD>(time(nullptr));
  if (GetReportTime() != 0 && now - GetReportTime() <= 90) return;
  if (GetReportTime() == 0) SetReportTime(now);
  const DWORD kDebug = 16;
  LogMessage(kDebug, "Total iterations %d", static_cast<int>(trainer.GetIterationCount()));
  FlushLogSystem();
  const CSMOptimization* smo = dynamic_cast<const CSMOptimization*>(&trainer);
  if (smo == nullptr) return;
  double sum = 0, second = 0;
  int nonBound = 0, down = 0, up = 0;
  for (ULONG i = 0; i < smo->GetExampleCount(); ++i) {
    const CSMOptimization::tag_EXAMPLE& e = smo->GetRecord(i);
    if (e.alpha <= 0) {
      ++down;
    } else {
      if (e.alpha < smo->GetC()) {
        ++nonBound;
      } else {
        ++up;
      }
      second += e.y > 0 ? e.alpha * (1 + e.F) : e.alpha * (1 - e.F);
    }
    sum += e.alpha;
  }
  LogMessage(kDebug, "Sum Lagrange coefficients. %.6g", sum);
  LogMessage(kDebug, "Objective function........ %.6g", sum - 0.5 * second);
  LogMessage(kDebug, "Non bound................. %d", nonBound);
  LogMessage(kDebug, "Down bound support........ %d", down);
  LogMessage(kDebug, "Up bound support.......... %d", up);
  FlushLogSystem();
  SetReportTime(now);
}

void CSVMachine::Empty() {
  CMachine::Empty();
  m_coefficients.Empty();
  m_dB = 0.0;
}

HRESULT CSVMachine::Serialize(IStream* stream, int storing) {
  return ResultOfCall([&]() -> HRESULT {
    HRESULT hr;
    if (storing) {
      if (FAILED(hr = stream->Write(kSvmSignature, 4, nullptr))) return hr;
      if (FAILED(hr = WriteF64(stream, m_dB))) return hr;
      return m_coefficients.Serialize(stream, 1);
    }
    if ((hr = ReadSignature(stream, kSvmSignature)) != S_OK) return hr;
    if ((hr = ReadF64(stream, &m_dB)) != S_OK) return hr;
    return m_coefficients.Serialize(stream, 0);
  });
}

CMetricSVMachine::CMetricSVMachine() : m_pKernel(new CDotProductKernel(1.0)) {}

CMetricSVMachine::CMetricSVMachine(const CKernel& kernel) : m_pKernel(kernel.Clone()) {}

CMetricSVMachine::~CMetricSVMachine() {}

void CMetricSVMachine::SetNewKernel(const CKernel& kernel) {
  m_pKernel.reset();
  m_pMatrix.reset();
  m_pKernel.reset(kernel.Clone());
}

void CMetricSVMachine::Empty() {
  CSVMachine::Empty();
  m_pKernel.reset();
  m_pMatrix.reset();
}

CRealVector CMetricSVMachine::EvaluateRealVector(const CRealVector& x) const {
  double sum = 0.0;
  if (m_pMatrix != nullptr && m_pKernel != nullptr) {
    const DWORD rows = m_pMatrix->GetRowCount();
    const DWORD columns = m_pMatrix->GetColumnCount();
    CRealVector row(columns);
    double* buffer = row.GetBuffer();
    // A coefficient without its row has nothing to weigh.
    const DWORD count = m_coefficients.GetSize() < rows ? m_coefficients.GetSize() : rows;
    for (DWORD i = 0; i < count; ++i) {
      m_pMatrix->GetRow(i, buffer);
      sum += m_pKernel->Evaluate(x, row) * m_coefficients[i];
    }
  }
  CRealVector value(1);
  value.SetAt(0, sum - m_dB);
  return value;
}

HRESULT CMetricSVMachine::Serialize(IStream* stream, int storing) {
  return ResultOfCall([&]() -> HRESULT { return storing ? Store(stream) : Load(stream); });
}

HRESULT CMetricSVMachine::Store(IStream* stream) {
  // Without a kernel there is no record a reader could rebuild the machine from.
  if (m_pKernel == nullptr) return E_FAIL;
  HRESULT hr = CSVMachine::Serialize(stream, 1);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = stream->Write(kMsvmSignature, 4, nullptr))) return hr;
  const BYTE hasMatrix = m_pMatrix != nullptr ? 1 : 0;
  if (FAILED(hr = stream->Write(&hasMatrix, 1, nullptr))) return hr;
  if (hasMatrix) {
    if (FAILED(hr = WriteClassName(stream, *m_pMatrix))) return hr;
    if (FAILED(hr = m_pMatrix->Serialize(stream, 1))) return hr;
  }
  if (FAILED(hr = WriteClassName(stream, *m_pKernel))) return hr;
  return m_pKernel->Serialize(stream, 1);
}

HRESULT CMetricSVMachine::Load(IStream* stream) {
  HRESULT hr = CSVMachine::Serialize(stream, 0);
  if (hr != S_OK) return hr;
  if ((hr = ReadSignature(stream, kMsvmSignature)) != S_OK) return hr;
  m_pMatrix.reset();
  hr = LoadParts(stream);
  // Support vectors without the kernel they were read for are no model.
  if (hr != S_OK) m_pMatrix.reset();
  return hr;
}

HRESULT CMetricSVMachine::LoadParts(IStream* stream) {
  HRESULT hr;
  BYTE hasMatrix = 0;
  if ((hr = ReadField(stream, &hasMatrix, 1, E_FAIL)) != S_OK) return hr;
  if (hasMatrix > 1) return E_FAIL;
  if (hasMatrix != 0) {
    std::unique_ptr<CMatrix> matrix;
    if ((hr = ReadClassObject(stream, &matrix)) != S_OK) return hr;
    if ((hr = matrix->Serialize(stream, 0)) != S_OK) return hr;
    m_pMatrix = std::move(matrix);
  }
  std::unique_ptr<CKernel> kernel;
  TSTRING name;
  if ((hr = name.Serialize(stream, 0)) != S_OK) return hr;
  CRTTI* record = RegisteredClass(name);
  if (record == nullptr) return E_FAIL;
  m_pKernel.reset();
  std::unique_ptr<CObj> object(record->CreateObject());
  if (dynamic_cast<CKernel*>(object.get()) == nullptr) return E_FAIL;
  kernel.reset(dynamic_cast<CKernel*>(object.release()));
  hr = kernel->Serialize(stream, 0);
  m_pKernel = std::move(kernel);
  return hr;
}

}  // namespace telsor
