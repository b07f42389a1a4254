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

    // Tells the running copy, if there is one, that another process changed the settings
    // (a console "--pair"): it reads them again and starts a pass. Windows: kSettingsChanged-
    // Message to its tray window; elsewhere SIGUSR1 to the process that holds the lock file.
    static void tellRunningCopySettingsChanged();

  private:
    struct Claim;
    std::unique_ptr<Claim> claim_;
    bool anotherIsRunning_ = false;
};

}  // namespace tsl
