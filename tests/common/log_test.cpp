#include "common/log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "common/text_helpers.h"

namespace vardel {
namespace {

class RecordingSink : public LogSink {
  public:
    explicit RecordingSink(std::string tag, std::vector<std::string>* order = nullptr)
        : tag_(std::move(tag)), order_(order) {}
    void write_line(int level, std::string_view text) override {
        lines.emplace_back(std::string(level_name(level)) + std::string(text));
        if (order_) order_->push_back(tag_);
    }
    std::vector<std::string> lines;

  private:
    std::string tag_;
    std::vector<std::string>* order_;
};

class LogTest : public ::testing::Test {
  protected:
    void TearDown() override { Logger::instance().set_min_level(LOG_DEBUG); }
};

TEST_F(LogTest, LinesGetCrLfAndTheLevelNamesArePadded) {
    RecordingSink sink("s");
    Logger::instance().add_sink(&sink, SinkOrder::Other);
    log(LOG_INFO, "Backup %s %s\n", "Nightly", "done");
    log(LOG_ERROR, "two\nlines\r\n");
    Logger::instance().remove_sink(&sink);
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], "INFO      Backup Nightly done\r\n");
    EXPECT_EQ(sink.lines[1], "ERROR     two\r\nlines\r\n");
    for (int l = 0; l <= 5; ++l) EXPECT_EQ(std::string(level_name(l)).size(), 10u);
}

TEST_F(LogTest, SinksRunInTheirOrderWhateverTheOrderOfAttaching) {
    std::vector<std::string> order;
    RecordingSink display("display", &order), pipe("pipe", &order), file("file", &order);
    Logger::instance().add_sink(&display, SinkOrder::ProgressDisplay);
    Logger::instance().add_sink(&pipe, SinkOrder::PipeSubscribers);
    Logger::instance().add_sink(&file, SinkOrder::LogFile);
    log(LOG_DEBUG, "x\n");
    for (auto* s : {&display, &pipe, &file}) Logger::instance().remove_sink(s);
    EXPECT_EQ(order, (std::vector<std::string>{"file", "pipe", "display"}));
}

TEST_F(LogTest, LinesBelowTheMinimumAreDropped) {
    RecordingSink sink("s");
    Logger::instance().add_sink(&sink, SinkOrder::Other);
    Logger::instance().set_min_level(LOG_ALERT);
    log(LOG_INFO, "dropped\n");
    log(LOG_ALERT, "kept\n");
    Logger::instance().remove_sink(&sink);
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0], "ALERT     kept\r\n");
}

TEST_F(LogTest, ASinkMayLogAgainWithoutDeadlock) {
    struct Echo : LogSink {
        int depth = 0;
        void write_line(int, std::string_view) override {
            if (depth++ == 0) log(LOG_DEBUG, "nested\n");
        }
    } echo;
    Logger::instance().add_sink(&echo, SinkOrder::Other);
    log(LOG_DEBUG, "outer\n");
    Logger::instance().remove_sink(&echo);
    EXPECT_EQ(echo.depth, 2);
}

TEST_F(LogTest, LinesFromEightThreadsAreNeverInterleaved) {
    RecordingSink sink("s");
    Logger::instance().add_sink(&sink, SinkOrder::Other);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) log(LOG_PROGRESS, "thread %d line %d %s\n", t, i, "end");
        });
    }
    for (auto& th : threads) th.join();
    Logger::instance().remove_sink(&sink);
    ASSERT_EQ(sink.lines.size(), 4000u);
    for (const std::string& l : sink.lines) {
        int t, i;
        char end[4];
        ASSERT_EQ(std::sscanf(l.c_str(), "PROGRESS  thread %d line %d %3s\r\n", &t, &i, end), 3)
            << l;
        ASSERT_EQ(l, strprintf("PROGRESS  thread %d line %d end\r\n", t, i));
    }
}

}  // namespace
}  // namespace vardel
