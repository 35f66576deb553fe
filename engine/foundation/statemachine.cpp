#include "foundation/statemachine.h"

#include <memory>

CStateMachine::CStateMachine(int maxStates)
    : m_nCurrentState(0), m_nMaxStates(maxStates), m_bEventGenerated(false), m_pEventData(nullptr) {}

CStateMachine::~CStateMachine() { delete m_pEventData; }

void CStateMachine::ExternalEvent(unsigned char newState, CEventData* data) {
  if (m_nCurrentState == EVENT_IGNORED) {
    delete data;
    return;
  }
  InternalEvent(newState, data);
  StateEngine();
}

void CStateMachine::InternalEvent(unsigned char newState, CEventData* data) {
  // The event replaced is never run, so its data ends here.
  if (m_pEventData != data) delete m_pEventData;
  m_pEventData = data;
  m_bEventGenerated = true;
  m_nCurrentState = newState;
}

void CStateMachine::StateEngine() {
  while (m_bEventGenerated) {
    // Owned for the handler's run, also when the handler throws.
    std::unique_ptr<CEventData> data(m_pEventData);
    m_pEventData = nullptr;
    m_bEventGenerated = false;
    const StateFunc* map = GetStateMap();
    (this->*map[m_nCurrentState])(data.get());
  }
}
