// State machines driven through scripted handlers; every event's data is
// counted so that each one is deleted exactly once.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/statemachine.h"

namespace {

struct Data : CEventData {
  static int live;
  int value;
  explicit Data(int v) : value(v) { ++live; }
  ~Data() override { --live; }
};
int Data::live = 0;

// Three states whose behaviour each test scripts; the trace records
// "state:value" (or "state:-" for null data) per handler run.
class Scripted : public CStateMachine {
 public:
  using Step = std::function<void(Scripted&, CEventData*)>;
  Scripted() : CStateMachine(3) {}

  std::vector<std::string> trace;
  Step steps[3];

  void Raise(unsigned char state, CEventData* data) { InternalEvent(state, data); }
  void Ignore() { m_nCurrentState = EVENT_IGNORED; }
  unsigned char State() const { return m_nCurrentState; }

 protected:
  virtual void Second(CEventData* d) { Run(1, d); }

 private:
  void Run(int state, CEventData* d) {
    Data* data = static_cast<Data*>(d);
    trace.push_back(std::to_string(state) + ":" + (data ? std::to_string(data->value) : "-"));
    if (steps[state]) steps[state](*this, d);
  }
  void First(CEventData* d) { Run(0, d); }
  void Third(CEventData* d) { Run(2, d); }
  const StateFunc* GetStateMap() override {
    static const StateFunc map[] = {static_cast<StateFunc>(&Scripted::First),
                                    static_cast<StateFunc>(&Scripted::Second),
                                    static_cast<StateFunc>(&Scripted::Third)};
    return map;
  }
};

// Overrides a handler that the base's map names: the override runs.
class Overriding : public Scripted {
 protected:
  void Second(CEventData* d) override {
    trace.push_back("override");
    Scripted::Second(d);
  }
};

class StateMachine : public ::testing::Test {
 protected:
  void SetUp() override { Data::live = 0; }
  void TearDown() override { EXPECT_EQ(Data::live, 0); }
};

TEST_F(StateMachine, HandlersChainThroughInternalEvents) {
  struct Case {
    unsigned char start;
    bool nullData;
    std::vector<std::string> trace;
    unsigned char end;
  } cases[] = {
      {0, false, {"0:10", "1:11", "2:12"}, 2},
      {1, false, {"1:10", "2:11"}, 2},
      {2, false, {"2:10"}, 2},
      {0, true, {"0:-", "1:1", "2:2"}, 2},
  };
  for (const Case& c : cases) {
    Scripted m;
    m.steps[0] = [](Scripted& s, CEventData* d) {
      s.Raise(1, new Data(d ? static_cast<Data*>(d)->value + 1 : 1));
    };
    m.steps[1] = [](Scripted& s, CEventData* d) {
      EXPECT_EQ(Data::live, 1);  // the data of state 0 is gone already
      s.Raise(2, new Data(static_cast<Data*>(d)->value + 1));
    };
    m.ExternalEvent(c.start, c.nullData ? nullptr : new Data(10));
    EXPECT_EQ(m.trace, c.trace);
    EXPECT_EQ(m.State(), c.end);
    EXPECT_EQ(Data::live, 0);
  }
}

TEST_F(StateMachine, SecondInternalEventWinsAndReleasesTheFirst) {
  Scripted m;
  m.steps[0] = [](Scripted& s, CEventData*) {
    s.Raise(1, new Data(1));
    s.Raise(2, new Data(2));
    EXPECT_EQ(Data::live, 2);  // the handled event's data and the winner
  };
  m.ExternalEvent(0, new Data(0));
  EXPECT_EQ(m.trace, (std::vector<std::string>{"0:0", "2:2"}));
  // Raising the same data twice keeps it.
  Scripted same;
  same.steps[0] = [](Scripted& s, CEventData*) {
    Data* d = new Data(5);
    s.Raise(1, d);
    s.Raise(2, d);
  };
  same.ExternalEvent(0, nullptr);
  EXPECT_EQ(same.trace, (std::vector<std::string>{"0:-", "2:5"}));
}

TEST_F(StateMachine, State254DropsExternalEvents) {
  Scripted m;
  m.steps[1] = [](Scripted& s, CEventData*) { s.Ignore(); };
  m.ExternalEvent(1, new Data(1));
  EXPECT_EQ(m.State(), CStateMachine::EVENT_IGNORED);
  EXPECT_EQ(CStateMachine::EVENT_IGNORED, 254);
  m.ExternalEvent(0, new Data(2));
  m.ExternalEvent(2, nullptr);
  EXPECT_EQ(m.trace, std::vector<std::string>{"1:1"});
  EXPECT_EQ(m.State(), 254);
}

TEST_F(StateMachine, MapEntriesDispatchVirtually) {
  Overriding m;
  m.steps[0] = [](Scripted& s, CEventData*) { s.Raise(1, nullptr); };
  m.ExternalEvent(0, new Data(3));
  EXPECT_EQ(m.trace, (std::vector<std::string>{"0:3", "override", "1:-"}));
}

TEST_F(StateMachine, ThrowingHandlerLosesNoData) {
  {
    Scripted m;
    m.steps[0] = [](Scripted& s, CEventData*) {
      s.Raise(1, new Data(1));  // left pending by the throw
      throw std::runtime_error("handler");
    };
    EXPECT_THROW(m.ExternalEvent(0, new Data(0)), std::runtime_error);
    EXPECT_EQ(Data::live, 1);  // only the pending event's data remains
    // A later external event replaces the stale pending one.
    m.steps[0] = nullptr;
    m.ExternalEvent(0, new Data(7));
    EXPECT_EQ(Data::live, 0);
    EXPECT_EQ(m.trace, (std::vector<std::string>{"0:0", "0:7"}));
    m.steps[0] = [](Scripted& s, CEventData*) {
      s.Raise(2, new Data(2));
      throw std::runtime_error("again");
    };
    EXPECT_THROW(m.ExternalEvent(0, nullptr), std::runtime_error);
  }
  // The destructor deleted the pending data.
  EXPECT_EQ(Data::live, 0);
}

}  // namespace
