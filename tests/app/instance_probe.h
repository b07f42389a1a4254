#pragma once

#include <memory>

namespace tsl::testing {

// Looks at the single-instance claim from outside the SingleInstance type. On Linux it also
// moves the runtime and settings folders into a scratch folder for its lifetime, so a test never
// meets the lock of a connector that really runs; on Windows the claim is the session's named
// mutex of the test's own Wine prefix.
class InstanceProbe {
  public:
    InstanceProbe();
    ~InstanceProbe();
    InstanceProbe(const InstanceProbe&) = delete;
    InstanceProbe& operator=(const InstanceProbe&) = delete;

    // True when a new copy could take the claim now (nobody holds it).
    bool claimIsFree() const;

  private:
    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
};

}  // namespace tsl::testing
