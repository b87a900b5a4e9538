#include "frame/support/callback_guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/localized.h"

namespace frame {
namespace {

std::vector<std::string> reports;
void record(const std::string& text) {
    reports.push_back(text);
}

// A reporter that, like a message box running its own loop, dispatches another failing callback.
void reportAndFailAgain(const std::string& text) {
    reports.push_back(text);
    guardCallback(0, []() -> int { throw std::runtime_error("inner"); });
}

struct CallbackGuard : ::testing::Test {
    void SetUp() override {
        reports.clear();
        previous = setFailureReporter(record);
        core::setJapaneseTexts(false);
    }
    void TearDown() override {
        setFailureReporter(previous);
        core::setJapaneseTexts(false);
    }
    FailureReporter previous = nullptr;
};

TEST_F(CallbackGuard, PassesResultsThroughAndReportsNothing) {
    EXPECT_EQ(guardCallback<long>(-1, [] { return 42L; }), 42);
    EXPECT_TRUE(reports.empty());
}

TEST_F(CallbackGuard, EveryKindOfExceptionGivesTheSafeValueAndOneReport) {
    EXPECT_EQ(guardCallback<long>(-1, []() -> long { throw std::bad_alloc(); }), -1);
    EXPECT_EQ(guardCallback<int>(7, []() -> int { throw std::out_of_range("row 101"); }), 7);
    EXPECT_EQ(guardCallback<int>(0, []() -> int { throw 3; }), 0);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], "An unexpected failure stopped this action:\nstd::bad_alloc");
    EXPECT_EQ(reports[1], "An unexpected failure stopped this action:\nrow 101");
    EXPECT_EQ(reports[2], "An unexpected failure stopped this action:\n(no description)");
}

TEST_F(CallbackGuard, AFailureDuringAReportIsNotReportedAgain) {
    setFailureReporter(reportAndFailAgain);
    EXPECT_EQ(guardCallback(5, []() -> int { throw std::runtime_error("outer"); }), 5);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("outer"), std::string::npos);
    // Once the report is over, the next failure is reported again.
    guardCallback(0, []() -> int { throw std::runtime_error("later"); });
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("later"), std::string::npos);
}

TEST_F(CallbackGuard, ReportsInJapaneseWhenTheProgramDoes) {
    core::setJapaneseTexts(true);
    guardCallback(0, []() -> int { throw std::runtime_error("x"); });
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "予期しない障害のため、この操作を中止しました:\nx");
}

TEST_F(CallbackGuard, WithoutAReporterFailuresAreStillContained) {
    setFailureReporter(nullptr);
    EXPECT_EQ(guardCallback(9, []() -> int { throw std::logic_error("dropped"); }), 9);
    EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace frame
