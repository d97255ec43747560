// Finding the meter among the listed ports, on the scripted platform.
#include <gtest/gtest.h>

#include "connection/comm_access.h"
#include "connection/host_messages.h"
#include "fake_platform.h"

namespace {

using ovrin::platform::NoPort;
using ovrin::platform::WaitResult;

const char kAnswer[] = "12....+00000042\r\n";
const std::string kQuestionBox = std::string("box ") + ovrin::kKeepSearchingQuestion;

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    if (found_ != nullptr && found_ != NoPort())
      ovrin::platform::ClosePort(found_, ovrin::platform::PendingOutput::kLetLeave);
    EXPECT_EQ(fake::Locked()->liveHandles, 0) << "a search left something open";
    fake::Reset();
  }

  // Lists the names; each exists as a silent port.
  void List(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      fake::Locked()->listed.push_back({name});
      std::string opened = name;
      ovrin::platform::PortNameFromListing(&opened);
      fake::Locked()->ports[opened];
    }
  }
  void Meter(const std::string& name) { fake::Locked()->ports[name].probeAnswer = kAnswer; }

  // Runs the search; returns the name found ("" for none).
  std::string Find(const std::string& preferred) {
    port_ = preferred;
    found_ = OvrinCommAccess::FindAndOpen(comm_, port_);
    return found_ == NoPort() ? "" : port_;
  }
  // The log without the list reads: opens, closes and boxes in order.
  static std::vector<std::string> Events() {
    std::vector<std::string> events;
    for (const std::string& entry : fake::Snapshot().log) {
      if (entry.compare(0, 5, "list ") != 0) events.push_back(entry);
    }
    return events;
  }

  OvrinComm comm_;
  std::string port_;
  ovrin::platform::Port* found_ = nullptr;
};

TEST_F(DiscoveryTest, MeterOnTheLastListedPort) {
  List({"COM1", "COM2", "COM3"});
  Meter("COM3");
  EXPECT_EQ(Find(""), "COM3");
  EXPECT_EQ(Events(), (std::vector<std::string>{"open COM1", "close COM1", "open COM2", "close COM2", "open COM3"}));
  const std::string probe("N02N\r\n\0", 7);
  ASSERT_EQ(fake::Locked()->writes.size(), 3u);
  for (const fake::Write& write : fake::Snapshot().writes) EXPECT_EQ(write.bytes, probe);
}

TEST_F(DiscoveryTest, PreferredPortIsAcceptedWithoutReadingTheList) {
  List({"COM1"});
  fake::Locked()->ports["/remembered"];
  Meter("/remembered");
  EXPECT_EQ(Find("/remembered"), "/remembered");
  EXPECT_TRUE(fake::LogOf("list").empty());
  EXPECT_EQ(Events(), (std::vector<std::string>{"open /remembered"}));
}

TEST_F(DiscoveryTest, QuestionComesOnceBeforeTheFourthListedPort) {
  struct Case {
    int listed;
    std::deque<int> answers;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {3, {}, {"open COM1", "close COM1", "open COM2", "close COM2", "open COM3", "close COM3"}},
      {4,
       {ovrin::kButtonYes},
       {"open COM1", "close COM1", "open COM2", "close COM2", "open COM3", "close COM3", kQuestionBox, "open COM4",
        "close COM4"}},
      {6,
       {ovrin::kButtonYes},
       {"open COM1", "close COM1", "open COM2", "close COM2", "open COM3", "close COM3", kQuestionBox, "open COM4",
        "close COM4", "open COM5", "close COM5", "open COM6", "close COM6"}},
      {6,
       {ovrin::kButtonNo},
       {"open COM1", "close COM1", "open COM2", "close COM2", "open COM3", "close COM3", kQuestionBox}},
  };
  for (const Case& c : cases) {
    fake::Reset();
    for (int i = 1; i <= c.listed; ++i) List({("COM" + std::to_string(i)).c_str()});
    fake::Locked()->answers = c.answers;
    EXPECT_EQ(Find("COM0"), "");
    std::vector<std::string> expected = {"open COM0"};  // the preferred port, not listed: no such port
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(Events(), expected) << c.listed << " listed";
    if (!c.answers.empty()) {
      EXPECT_EQ(fake::Locked()->boxes.at(0).second, 4u);
    }
    EXPECT_EQ(port_, "COM0");  // untouched
    EXPECT_EQ(fake::Locked()->liveHandles, 0);
  }
}

TEST_F(DiscoveryTest, EmptyPreferredNameOpensNothingInTheFirstPass) {
  List({"COM1", "COM2", "COM3", "COM4"});
  Meter("COM4");
  EXPECT_EQ(Find(""), "COM4");
  EXPECT_EQ(Events().front(), "open COM1");
  EXPECT_EQ(fake::LogOf("box").size(), 1u);  // the question still comes
}

TEST_F(DiscoveryTest, ListedNamesBecomePortNames) {
  List({"\\\\.\\COM5", "lpt1", "co", "com12"});
  fake::Locked()->answers = {ovrin::kButtonYes};
  Meter("\\\\.\\COM12");
  EXPECT_EQ(Find(""), "\\\\.\\COM12");
  EXPECT_EQ(fake::LogOf("open"), (std::vector<std::string>{"open \\\\.\\COM12"}));
}

TEST_F(DiscoveryTest, PreferredNameIsNotProbedTwiceButCaseDiffers) {
  List({"COM3", "com3", "COM3"});
  EXPECT_EQ(Find("COM3"), "");
  EXPECT_EQ(fake::LogOf("open").size(), 1u);  // equal byte for byte: skipped

  fake::Reset();
  List({"COM3", "COM3"});
  fake::Locked()->ports["com3"];
  EXPECT_EQ(Find("com3"), "");
  // com3 as given, then the listed COM3 twice.
  EXPECT_EQ(fake::LogOf("open"), (std::vector<std::string>{"open com3", "open COM3", "open COM3"}));
}

TEST_F(DiscoveryTest, EntryThatDoesNotFitIsSkippedAndTheSearchGoesOn) {
  List({"COM1"});
  fake::Locked()->listed.push_back({"", true});
  List({"COM7"});
  Meter("COM7");
  EXPECT_EQ(Find(""), "COM7");
}

TEST_F(DiscoveryTest, CandidatesThatFailAreSkipped) {
  List({"COM1", "COM2", "COM3"});
  fake::Locked()->ports["COM1"].opens = false;
  fake::Locked()->ports["COM2"].configures = false;
  fake::Locked()->ports["COM3"].probeAnswer = "13....+12345678\r\n";  // an answer, but not the meter's
  fake::Locked()->answers = {ovrin::kButtonYes};
  List({"COM4", "COM5", "COM6"});
  fake::Locked()->ports["COM4"].waitResults = {WaitResult::kFailed};
  fake::Locked()->ports["COM4"].probeAnswer = kAnswer;
  fake::Locked()->ports["COM5"].writeResult = ovrin::platform::WriteResult::kFailed;
  Meter("COM6");
  EXPECT_EQ(Find(""), "COM6");
  EXPECT_EQ(fake::LogOf("close"), (std::vector<std::string>{"close COM2", "close COM3", "close COM4", "close COM5"}));
  // Rejected candidates are let go at once: nothing they wrote waits to leave.
  EXPECT_EQ(fake::Locked()->discarded, (std::vector<std::string>{"COM2", "COM3", "COM4", "COM5"}));
}

TEST_F(DiscoveryTest, AnswerMustBeQueuedWhenTheFirstWaitEnds) {
  List({"COM1"});
  // The first wait times out before anything came: nothing is read.
  fake::Locked()->ports["COM1"].waitResults = {WaitResult::kTimedOut};
  EXPECT_EQ(Find(""), "");
  EXPECT_EQ(fake::Locked()->slept, 0);  // no pause for a port that sent nothing
}

TEST_F(DiscoveryTest, PatternBeyondTheFirst128BytesRejectsThePort) {
  List({"COM1", "COM2"});
  fake::Locked()->ports["COM1"].probeAnswer = std::string(122, '.') + "12....+1\r\n";
  fake::Locked()->ports["COM2"].probeAnswer = std::string(121, '.') + "12....+1\r\n";
  EXPECT_EQ(Find(""), "COM2");
  EXPECT_EQ(fake::Locked()->slept, 200);  // the 100 ms pause, for each port that answered
}

TEST_F(DiscoveryTest, PortListThatCannotBeOpenedEndsTheSearch) {
  fake::Locked()->listOpens = false;
  fake::Locked()->ports["COM1"].probeAnswer = kAnswer;
  EXPECT_EQ(Find("COM1"), "");
  EXPECT_TRUE(fake::LogOf("open").empty());
  ASSERT_EQ(fake::Locked()->boxes.size(), 1u);
  EXPECT_EQ(fake::Locked()->boxes[0].first, "RegOpenKeyEx error");
  EXPECT_EQ(fake::Locked()->boxes[0].second, 0x30u);
  EXPECT_EQ(port_, "COM1");
}

TEST_F(DiscoveryTest, ProbeEventFailureEndsTheWholeSearch) {
  List({"COM1", "COM2"});
  Meter("COM2");
  fake::Locked()->eventFails = [](int) { return true; };
  EXPECT_EQ(Find("pref"), "");
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"open pref", "open COM1", "box Can't create event object!", "close COM1"}));
  EXPECT_EQ(port_, "pref");
}

}  // namespace
