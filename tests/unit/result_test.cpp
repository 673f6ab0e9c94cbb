// The answer type of the seam's open and find calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/Result.h"

namespace {

using platform::Failure;
using platform::Result;

struct Base {
    virtual ~Base() = default;
    virtual int Id() const = 0;
};
struct Derived final : Base {
    explicit Derived(int id) : id_(id) {}
    int Id() const override { return id_; }
    int id_;
};

Result<std::unique_ptr<Base>> Opened(int id) { return std::make_unique<Derived>(id); }
Result<std::unique_ptr<Base>> Refused(uint32_t code) { return Failure(code); }

TEST(Result, SuccessHoldsTheValueAndNoError) {
    auto opened = Opened(7);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened.Error(), platform::kErrSuccess);
    EXPECT_EQ((*opened)->Id(), 7);
    EXPECT_EQ(opened.Value()->Id(), 7);

    std::unique_ptr<Base> taken = opened.Take();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->Id(), 7);

    Result<std::string> text(std::string("whole"));
    EXPECT_EQ(text->size(), 5u);
    text.Value() += " value";
    EXPECT_EQ(text.Take(), "whole value");
}

TEST(Result, FailureHoldsItsCodeAndNoValue) {
    const auto refused = Refused(platform::kErrAccessDenied);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Error(), uint32_t{platform::kErrAccessDenied});

    // A failure whose code was lost still reads as a failure to callers
    // that compare codes.
    const auto unexplained = Refused(platform::kErrSuccess);
    EXPECT_FALSE(unexplained);
    EXPECT_EQ(unexplained.Error(), uint32_t{platform::kErrInternalError});
}

TEST(Result, AssignmentReplacesTheState) {
    auto result = Refused(platform::kErrFileNotFound);
    result = Opened(3);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.Error(), platform::kErrSuccess);
    EXPECT_EQ((*result)->Id(), 3);
    result = Refused(platform::kErrNoMoreItems);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.Error(), uint32_t{platform::kErrNoMoreItems});
}

}  // namespace
