#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <optional>

#include "app/instance_probe.h"

namespace {

using tsl::SingleInstance;
using tsl::testing::InstanceProbe;

TEST(SingleInstance, SecondCopySeesTheFirstUntilTheFirstEnds) {
    InstanceProbe probe;
    ASSERT_TRUE(probe.claimIsFree());
    {
        SingleInstance first;
        ASSERT_FALSE(first.anotherIsRunning());
        EXPECT_FALSE(probe.claimIsFree());
        {
            SingleInstance second;
            EXPECT_TRUE(second.anotherIsRunning());
        }
        // The second copy goes away without taking the first one's claim with it.
        EXPECT_FALSE(probe.claimIsFree());
        SingleInstance third;
        EXPECT_TRUE(third.anotherIsRunning());
    }
    EXPECT_TRUE(probe.claimIsFree());
    SingleInstance next;
    EXPECT_FALSE(next.anotherIsRunning());
}

TEST(SingleInstance, ClaimIsReleasedInWhicheverOrderTheCopiesEnd) {
    InstanceProbe probe;
    std::optional<SingleInstance> first(std::in_place);
    std::optional<SingleInstance> second(std::in_place);
    ASSERT_FALSE(first->anotherIsRunning());
    ASSERT_TRUE(second->anotherIsRunning());
    first.reset();
    // A copy that found another running never owns the claim, even once the owner is gone.
    EXPECT_TRUE(probe.claimIsFree());
    second.reset();
    EXPECT_TRUE(probe.claimIsFree());
}

}  // namespace
