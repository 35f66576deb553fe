// Machine and trainer bases.
#include "classify/machine.h"

namespace telsor {

CMachine::~CMachine() {}

void CMachine::OnEachIteration(CTrainer&) {}

CRealVector CMachine::EvaluateRealVector(const CRealVector&) const { return CRealVector(); }

CRealVector CMachine::EvaluateText(const TSTRING&) const { return CRealVector(); }

void CMachine::Empty() { m_dwReportTime = 0; }

CTrainer::~CTrainer() {}

void CTrainer::OnEachIteration() {
  m_machine.OnEachIteration(*this);
  ++m_dwIterations;
}

}  // namespace telsor
