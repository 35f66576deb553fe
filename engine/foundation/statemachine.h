// Base of event-driven state machines whose states are member functions of
// the derived class.
//
//   struct CTagData : CEventData {
//     char name = 0;
//   };
//   class CTagReader : public CStateMachine {
//    public:
//     CTagReader() : CStateMachine(2) {}
//     void Start(CEventData* data) { ExternalEvent(0, data); }
//     char m_last = 0;
//    private:
//     void WaitTag(CEventData*) {
//       CTagData* tag = new CTagData;
//       tag->name = 'b';
//       InternalEvent(1, tag);               // runs once this handler returns
//     }
//     void ReadTag(CEventData* data) {      // no event: the run ends
//       m_last = static_cast<CTagData*>(data)->name;
//     }
//     const StateFunc* GetStateMap() override {
//       static const StateFunc map[] = {static_cast<StateFunc>(&CTagReader::WaitTag),
//                                       static_cast<StateFunc>(&CTagReader::ReadTag)};
//       return map;
//     }
//   };
//   CTagReader reader;
//   reader.Start(nullptr);                   // WaitTag, then ReadTag: m_last is 'b'
//
// Ownership: event data handed to ExternalEvent or InternalEvent belongs to
// the machine from that call on and is deleted after its handler returns
// (or throws), or at once when the event is dropped. A handler gives each
// InternalEvent new data; it must not pass on the data it was handed.
// State numbers are not checked: the map must hold every state used.
// One thread drives a machine at a time.
#ifndef TELSOR_FOUNDATION_STATEMACHINE_H
#define TELSOR_FOUNDATION_STATEMACHINE_H

#include <memory>

// Payload of one event; the machine deletes it through this destructor.
class CEventData {
 public:
  virtual ~CEventData() {}
};

class CStateMachine;
// A state handler: a member function of the derived class, cast to this.
typedef void (CStateMachine::*StateFunc)(CEventData*);

class CStateMachine {
 public:
  // A machine in this state drops every external event.
  static constexpr unsigned char EVENT_IGNORED = 254;

  explicit CStateMachine(int maxStates);
  virtual ~CStateMachine();
  CStateMachine(const CStateMachine&) = delete;
  CStateMachine& operator=(const CStateMachine&) = delete;

  // Moves to newState and runs handlers until one raises no further event.
  void ExternalEvent(unsigned char newState, CEventData* data = nullptr);

 protected:
  // From a handler: the state to run next, with its data. Nothing runs until
  // the handler returns; a later call in the same handler replaces this one.
  void InternalEvent(unsigned char newState, CEventData* data = nullptr);
  // One entry per state, indexed by state number.
  virtual const StateFunc* GetStateMap() = 0;

  unsigned char m_nCurrentState;

 private:
  void StateEngine();

  int m_nMaxStates;
  bool m_bEventGenerated;
  std::unique_ptr<CEventData> m_pEventData;  // the pending event's
};

#endif  // TELSOR_FOUNDATION_STATEMACHINE_H
