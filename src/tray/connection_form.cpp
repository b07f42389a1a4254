#include "tray/connection_form.h"

#include "config/pairing_address.h"

namespace tsl {

namespace {

std::string organisationPart(const std::string& organisation) {
    return organisation.empty() ? std::string() : " (" + organisation + ")";
}

}  // namespace

std::string pairingStatusLine(const Settings& settings) {
    if (settings.token.empty()) {
        return "Not paired. In Tessaline open Accounting > Tally Sync, click \"Generate pairing "
               "code\" and enter it here.";
    }
    std::string line = "Paired";
    if (!settings.organisation.empty()) line += " with " + settings.organisation;
    return line + ". To move to another PC, generate a new code in Tessaline and pair that PC.";
}

std::optional<std::string> pairingInputProblem(const std::string& address,
                                               const std::string& code) {
    if (!isPairingAddressAllowed(address)) return std::string(kPairingAddressRefused);
    if (code.empty()) return std::string(kEnterPairingCode);
    return std::nullopt;
}

std::string pairedLogLine(const std::string& organisation) {
    return "Paired with Tessaline" + organisationPart(organisation);
}

std::string pairedMessage(const std::string& organisation) {
    return "This PC is now connected to Tessaline" + organisationPart(organisation) +
           ".\n\nKeep Tally open with your company loaded. Choose the company and switch sync on "
           "in Tessaline under Accounting > Tally Sync.";
}

bool isValidTallyPort(std::optional<unsigned> port) {
    return port && *port >= 1 && *port <= 65535;
}

bool saveNeedsConfirmation(const Settings& snapshot, const std::string& address) {
    return !snapshot.token.empty() && address != snapshot.serverUrl;
}

Settings applyConnectionFields(Settings snapshot, const ConnectionFields& fields, bool disconnect) {
    if (disconnect) {
        snapshot.token.clear();
        snapshot.organisation.clear();
    }
    snapshot.serverUrl = fields.address;
    snapshot.tallyHost = fields.host.empty() ? std::string("localhost") : fields.host;
    snapshot.tallyPort = static_cast<int>(fields.port.value_or(0));
    return snapshot;
}

std::string tallyTestText(const TallyProbe& probe, unsigned port) {
    if (probe.running) return "OK: " + probe.info;
    return probe.info +
           ". In Tally: F1 (Help) > Settings > Connectivity > Client/Server configuration: "
           "TallyPrime acts as Server/Both, port " +
           std::to_string(port) + ".";
}

}  // namespace tsl
