#pragma once

#include <optional>
#include <string>

#include "config/settings.h"
#include "tally/tally_client.h"

namespace tsl {

// What the connection dialog decides and says, apart from the controls that carry it.

inline constexpr char kMessageBoxTitle[] = "Tessaline Tally Connector";
inline constexpr char kEnterPairingCode[] = "Enter the pairing code shown in Tessaline.";
inline constexpr char kEnterValidPort[] = "Enter a valid Tally port (usually 9000).";
inline constexpr char kConfirmUnpair[] =
    "Stop syncing this PC with Tessaline?\n\nThe pairing is removed from this PC. To pair again "
    "you will need a new pairing code from Tessaline.";
inline constexpr char kConfirmAddressChange[] =
    "Changing the server address disconnects this PC; you will need to pair it again. Continue?";
inline constexpr char kPairingInProgress[] = "Pairing...";
inline constexpr char kTallyCheckInProgress[] = "Checking...";

// The line under the pairing fields: paired (with the organisation when known) or how to pair.
std::string pairingStatusLine(const Settings& settings);

// Why the "Pair" button cannot go ahead with this (normalised) address and (trimmed) code, or
// nothing when it can. The address is judged first.
std::optional<std::string> pairingInputProblem(const std::string& address, const std::string& code);

// After a successful pairing: the log line and the confirmation for the user.
std::string pairedLogLine(const std::string& organisation);
std::string pairedMessage(const std::string& organisation);

// What the user typed in the Tally and address fields; port is empty when it is not a number.
struct ConnectionFields {
    std::string address;  // normalised
    std::string host;     // trimmed
    std::optional<unsigned> port;
};

bool isValidTallyPort(std::optional<unsigned> port);
// Saving a new address while paired drops the pairing, so the user is asked first.
bool saveNeedsConfirmation(const Settings& snapshot, const std::string& address);
// The settings to store: the fields applied to the snapshot (an empty host is "localhost");
// with `disconnect`, the token and the organisation are dropped. The port must be valid.
Settings applyConnectionFields(Settings snapshot, const ConnectionFields& fields, bool disconnect);

// The "Test Tally" result line for a probe of `port`.
std::string tallyTestText(const TallyProbe& probe, unsigned port);

}  // namespace tsl
