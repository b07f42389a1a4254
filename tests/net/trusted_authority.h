#pragma once

#include <memory>
#include <string>

namespace tsl::testing {

// Makes this process's HTTP client trust a certificate authority (PEM) for the life of the
// object. Linux: the transport's test hook. Windows: the user's ROOT certificate store, which
// WinHTTP consults (Wine adds without asking); the certificate is removed again afterwards.
class TrustedAuthority {
  public:
    explicit TrustedAuthority(const std::string& pem);
    ~TrustedAuthority();
    TrustedAuthority(const TrustedAuthority&) = delete;
    TrustedAuthority& operator=(const TrustedAuthority&) = delete;

    // False when the authority could not be installed; the reason is in error().
    bool installed() const { return error_.empty(); }
    const std::string& error() const { return error_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::string error_;
};

}  // namespace tsl::testing
