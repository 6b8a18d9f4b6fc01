// Library log lines: assembled per thread into whole lines, filtered by the
// log level, and offered to every converter.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "engine/binding/EngineLog.h"
#include "engine/binding/MediaLibraries.h"
#include "engine/component/EngineState.h"
#include "tests/component/ComponentTesting.h"
#include "tests/support/TestSupport.h"

namespace {

using componenttest::Event;
using componenttest::EventRecorder;
using componenttest::Kind;

class LogRouting : public ::testing::Test {
protected:
  void SetUp() override {
    testsupport::LoadLibrariesOrFail();
    ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastErrMsg();
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Event& event : recorder.Of(Kind::Log)) lines.push_back(event.text);
    return lines;
  }

  DIZAVUrevadado converter;
  EventRecorder recorder{converter};
};

TEST_F(LogRouting, TextWithoutLineFeedWaitsForTheRestOfItsLine) {
  FF.av_log(nullptr, AV_LOG_INFO, "partial ");
  EXPECT_TRUE(Lines().empty());
  FF.av_log(nullptr, AV_LOG_INFO, "line %d\n", 7);
  ASSERT_EQ(Lines(), (std::vector<std::string>{"partial line 7"}));
  const Event line = recorder.Of(Kind::Log)[0];
  EXPECT_EQ(line.index, -1);  // no job runs on this thread
  EXPECT_EQ(line.level, llInfo);

  FF.av_log(nullptr, AV_LOG_INFO, "two\nthree\nfour");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"partial line 7", "two", "three"}));
  FF.av_log(nullptr, AV_LOG_INFO, "\n");
  EXPECT_EQ(Lines().back(), "four");
}

TEST_F(LogRouting, EachThreadAssemblesItsOwnLines) {
  std::thread([] { FF.av_log(nullptr, AV_LOG_INFO, "first thread, "); }).join();
  std::thread([] { FF.av_log(nullptr, AV_LOG_INFO, "second thread\n"); }).join();
  FF.av_log(nullptr, AV_LOG_INFO, "this thread, ");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"second thread"}));
  FF.av_log(nullptr, AV_LOG_INFO, "done\n");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"second thread", "this thread, done"}));
  // Starting a batch forgets unfinished text of every thread.
  converter.StartConvert(1);
  FF.av_log(nullptr, AV_LOG_INFO, "fresh\n");
  EXPECT_EQ(Lines().back(), "fresh");
}

TEST_F(LogRouting, AnObjectsNameStartsItsLineOnly) {
  AVCodecContext* context = FF.avcodec_alloc_context3(nullptr);
  ASSERT_NE(context, nullptr);
  FF.av_log(context, AV_LOG_INFO, "start ");
  FF.av_log(context, AV_LOG_INFO, "end\n");
  FF.avcodec_free_context(&context);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[NULL @ ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("] start end"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find('[', 1), std::string::npos) << lines[0];
}

TEST_F(LogRouting, LevelFiltersLibraryLinesAndMapsTheirLevel) {
  struct Case {
    TLogLevel setting;
    int libraryLevel;
    bool passes;
    TLogLevel reported;
  };
  const Case cases[] = {
      {llError, AV_LOG_INFO, false, llQuiet}, {llError, AV_LOG_ERROR, true, llError},
      {llError, AV_LOG_FATAL, true, llError}, {llInfo, AV_LOG_WARNING, true, llInfo},
      {llInfo, AV_LOG_VERBOSE, true, llInfo}, {llInfo, AV_LOG_DEBUG, false, llQuiet},
      {llDebug, AV_LOG_DEBUG, true, llDebug}, {llDebug, AV_LOG_TRACE, false, llQuiet},
      {llAll, AV_LOG_TRACE, true, llAll},     {llQuiet, AV_LOG_ERROR, false, llQuiet},
      {llQuiet, AV_LOG_QUIET, true, llQuiet},
  };
  for (const Case& c : cases) {
    converter.SetLogLevel(c.setting);
    const size_t before = Lines().size();
    FF.av_log(nullptr, c.libraryLevel, "level %d\n", c.libraryLevel);
    const std::vector<Event> logs = recorder.Of(Kind::Log);
    SCOPED_TRACE(testing::Message() << "setting " << c.setting << ", library level " << c.libraryLevel);
    ASSERT_EQ(logs.size(), before + (c.passes ? 1 : 0));
    if (c.passes) {
      EXPECT_EQ(logs.back().level, c.reported);
    }
  }
  converter.SetLogLevel(llInfo);
}

TEST_F(LogRouting, LongLinesArriveWhole) {
  const std::string text(5000, 'x');
  FF.av_log(nullptr, AV_LOG_INFO, "%s\n", text.c_str());
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0], text);
}

TEST_F(LogRouting, EveryConverterHearsTheLinesAndAFailingHandlerStaysInside) {
  std::vector<std::string> otherLines;
  {
    DIZAVUrevadado other;
    other.OnLog = [&](int index, TLogLevel, const std::string& text) {
      EXPECT_EQ(index, -1);
      otherLines.push_back(text);
      throw std::runtime_error("handler failure");
    };
    FF.av_log(nullptr, AV_LOG_INFO, "to both\n");
    FF.av_log(nullptr, AV_LOG_INFO, "again\n");
  }
  FF.av_log(nullptr, AV_LOG_INFO, "after the other is gone\n");
  EXPECT_EQ(otherLines, (std::vector<std::string>{"to both", "again"}));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"to both", "again", "after the other is gone"}));
}

TEST_F(LogRouting, EngineMessagesOfCaughtExceptionsAreQuietLevel) {
  EngineLog(-1, "caught: %s\n", "failure");
  const std::vector<Event> logs = recorder.Of(Kind::Log);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].text, "caught: failure");
  EXPECT_EQ(logs[0].level, llQuiet);
}

TEST(LogList, FirstItemIsReusedAndNewThreadsFollowIt) {
  TLogList list;
  TLogItem& first = list.FindOrAdd(11);
  first.Text = "eleven";
  TLogItem& second = list.FindOrAdd(22);
  TLogItem& third = list.FindOrAdd(33);
  EXPECT_EQ(&list.FindOrAdd(11), &first);
  EXPECT_EQ(&list.FindOrAdd(22), &second);
  EXPECT_EQ(&list.FindOrAdd(33), &third);
  EXPECT_EQ(second.Text, "");
  // New items go right after the first one.
  EXPECT_EQ(first.Next.get(), &third);
  EXPECT_EQ(third.Next.get(), &second);
  EXPECT_EQ(list.Count(), 3u);

  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  TLogItem& reused = list.FindOrAdd(44);
  EXPECT_EQ(&reused, &first);
  EXPECT_EQ(reused.ThreadId, 44);
  EXPECT_EQ(reused.Text, "");
}

}  // namespace
