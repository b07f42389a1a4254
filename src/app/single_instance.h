#pragma once

#include <memory>

namespace tsl {

// Holds the per-session single-instance claim of the resident program (Windows: the named
// mutex "Local\TessalineTallyConnector"; elsewhere an flock'ed lock file in the runtime folder)
// until destroyed. A second claimant learns that another copy runs.
class SingleInstance {
  public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    bool anotherIsRunning() const { return anotherIsRunning_; }

  private:
    struct Claim;
    std::unique_ptr<Claim> claim_;
    bool anotherIsRunning_ = false;
};

}  // namespace tsl
