#pragma once

#include <memory>
#include <string>

namespace tsl::testing {

// Makes this process's HTTP client trust a certificate authority (PEM) for the life of the
// object. Linux: the transport's test hook. Windows: the user's ROOT certificate store, which
// WinHTTP consults (Wine adds without asking); the certificate is removed again afterwards.
// Throws std::runtime_error when the authority cannot be installed.
class TrustedAuthority {
  public:
    explicit TrustedAuthority(const std::string& pem);
    ~TrustedAuthority();
    TrustedAuthority(const TrustedAuthority&) = delete;
    TrustedAuthority& operator=(const TrustedAuthority&) = delete;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tsl::testing
