#include "foundation/statemachine.h"

#include <memory>

CStateMachine::CStateMachine(int maxStates)
    : m_nCurrentState(0), m_nMaxStates(maxStates), m_bEventGenerated(false) {}

CStateMachine::~CStateMachine() = default;

void CStateMachine::ExternalEvent(unsigned char newState, CEventData* data) {
  std::unique_ptr<CEventData> owned(data);
  if (m_nCurrentState == EVENT_IGNORED) return;
  InternalEvent(newState, owned.release());
  StateEngine();
}

void CStateMachine::InternalEvent(unsigned char newState, CEventData* data) {
  // The event replaced is never run, so its data ends here.
  if (m_pEventData.get() != data) m_pEventData.reset(data);
  m_bEventGenerated = true;
  m_nCurrentState = newState;
}

void CStateMachine::StateEngine() {
  while (m_bEventGenerated) {
    // Owned for the handler's run, also when the handler throws.
    std::unique_ptr<CEventData> data = std::move(m_pEventData);
    m_bEventGenerated = false;
    const StateFunc* map = GetStateMap();
    (this->*map[m_nCurrentState])(data.get());
  }
}
