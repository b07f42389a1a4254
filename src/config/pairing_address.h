#pragma once

#include <string>

namespace tsl {

inline constexpr char kPairingAddressRefused[] = "The server address must start with https://";

// Whether a (normalised) server address may receive a pairing code and a token: https to any
// host, plain http only to this machine ("http://localhost" or "http://127.0.0.1", followed by
// the end, a port or a path — so "http://localhost.example.com" is refused). Case-sensitive.
bool isPairingAddressAllowed(const std::string& address);

}  // namespace tsl
