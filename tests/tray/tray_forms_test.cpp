#include <gtest/gtest.h>

#include "config/pairing_address.h"
#include "support/version.h"
#include "tray/connection_form.h"
#include "tray/status_text.h"

namespace {

using tsl::Settings;
using tsl::SyncState;
using tsl::SyncStatus;

TEST(StatusText, FreshUnpairedConnector) {
    SyncStatus status;
    status.state = SyncState::NotConnected;
    EXPECT_EQ(tsl::statusText(status, Settings{}, "DESK-1"),
              "Status:  Not connected to Tessaline\r\n"
              "\r\n"
              "Tessaline:  https://app.tessaline.com/tessaline/api\r\n"
              "Tally company:  (not chosen yet in Tessaline)\r\n"
              "Tally:  -  [localhost:9000]\r\n"
              "\r\n"
              "Last completed sync:  -\r\n"
              "Jobs this session:  0\r\n"
              "\r\n"
              "Version " +
                  std::string(tsl::kVersion) + " on DESK-1\r\n");
}

TEST(StatusText, EveryOptionalLine) {
    SyncStatus status;
    status.state = SyncState::UpToDate;
    status.message = "3 jobs done";
    status.tallyInfo = "TallyPrime Server is Running";
    status.company = "Acme Traders";
    status.lastJob = "vouchers: 12 imported";
    status.lastSync = "06-12-2026 17:45";
    status.jobsThisSession = 12;
    status.resultsWaiting = 2;
    status.resultsSetAside = 1;
    Settings settings;
    settings.serverUrl = "http://127.0.0.1:8000/api";
    settings.organisation = "Acme";
    settings.tallyHost = "tally-pc";
    settings.tallyPort = -1;  // shown as stored, signed
    EXPECT_EQ(tsl::statusText(status, settings, "M"),
              "Status:  Up to date\r\n"
              "         3 jobs done\r\n"
              "\r\n"
              "Tessaline:  http://127.0.0.1:8000/api\r\n"
              "Organisation:  Acme\r\n"
              "Tally company:  Acme Traders\r\n"
              "Tally:  TallyPrime Server is Running  [tally-pc:-1]\r\n"
              "\r\n"
              "Last completed sync:  06-12-2026 17:45\r\n"
              "Jobs this session:  12\r\n"
              "Last job:  vouchers: 12 imported\r\n"
              "Results waiting to be reported:  2\r\n"
              "Set aside:  1 job(s) whose results Tessaline did not take (see "
              "kept-results.set-aside.json)\r\n"
              "\r\n"
              "Version " +
                  std::string(tsl::kVersion) + " on M\r\n");
}

TEST(ConnectionForm, PairingChecksAddressThenCode) {
    struct Case {
        const char *address, *code, *problem;  // nullptr: may pair
    } cases[] = {
        {"http://127.0.0.1:8000", "ABCD-1234", nullptr},
        {"http://localhost:8080/api", "X", nullptr},
        {"https://app.example.com/api", "X", nullptr},
        {"http://192.168.1.10", "ABCD-1234", tsl::kPairingAddressRefused},
        {"HTTPS://app.example.com", "X", tsl::kPairingAddressRefused},
        {"http://localhost.example.com", "X", tsl::kPairingAddressRefused},
        {"http://192.168.1.10", "", tsl::kPairingAddressRefused},  // the address comes first
        {"https://app.example.com", "", tsl::kEnterPairingCode},
    };
    for (const Case& c : cases) {
        const auto problem = tsl::pairingInputProblem(c.address, c.code);
        EXPECT_EQ(problem.value_or("none"), c.problem ? c.problem : "none") << c.address;
    }
}

TEST(ConnectionForm, PairingTexts) {
    Settings s;
    EXPECT_EQ(tsl::pairingStatusLine(s),
              "Not paired. In Tessaline open Accounting > Tally Sync, click \"Generate pairing "
              "code\" and enter it here.");
    s.token = "t";
    EXPECT_EQ(tsl::pairingStatusLine(s),
              "Paired. To move to another PC, generate a new code in Tessaline and pair that PC.");
    s.organisation = "Acme";
    EXPECT_EQ(tsl::pairingStatusLine(s),
              "Paired with Acme. To move to another PC, generate a new "
              "code in Tessaline and pair that PC.");
    EXPECT_EQ(tsl::pairedLogLine("Acme"), "Paired with Tessaline (Acme)");
    EXPECT_EQ(tsl::pairedLogLine(""), "Paired with Tessaline");
    EXPECT_EQ(tsl::pairedMessage("Acme"),
              "This PC is now connected to Tessaline (Acme).\n\nKeep Tally open with your company "
              "loaded. Choose the company and switch sync on in Tessaline under Accounting > "
              "Tally Sync.");
    EXPECT_EQ(tsl::pairedMessage("").rfind("This PC is now connected to Tessaline.\n\n", 0), 0u);
}

TEST(ConnectionForm, Saving) {
    for (auto [port, valid] : {std::pair<std::optional<unsigned>, bool>{std::nullopt, false},
                               {0u, false},
                               {1u, true},
                               {65535u, true},
                               {65536u, false}}) {
        EXPECT_EQ(tsl::isValidTallyPort(port), valid) << port.value_or(99999);
    }
    Settings paired;
    paired.token = "secret";
    paired.organisation = "Acme";
    paired.company = "Acme Traders";
    paired.serverUrl = "https://a.example/api";
    EXPECT_FALSE(tsl::saveNeedsConfirmation(paired, "https://a.example/api"));
    EXPECT_TRUE(tsl::saveNeedsConfirmation(paired, "https://b.example/api"));
    EXPECT_FALSE(tsl::saveNeedsConfirmation(Settings{}, "https://b.example/api"));

    const Settings kept =
        tsl::applyConnectionFields(paired, {"https://a.example/api", "", 9001u}, false);
    EXPECT_EQ(kept.token, "secret");
    EXPECT_EQ(kept.tallyHost, "localhost");
    EXPECT_EQ(kept.tallyPort, 9001);
    const Settings moved = tsl::applyConnectionFields(paired, {"", "tally-pc", 9000u}, true);
    EXPECT_TRUE(moved.token.empty() && moved.organisation.empty());
    EXPECT_EQ(moved.company, "Acme Traders");  // kept until the next heartbeat says otherwise
    EXPECT_EQ(moved.serverUrl, "");            // saving stores any address, even none
    EXPECT_EQ(moved.tallyHost, "tally-pc");
}

TEST(ConnectionForm, TallyTestText) {
    EXPECT_EQ(tsl::tallyTestText({true, "TallyPrime Server is Running"}, 9000),
              "OK: TallyPrime Server is Running");
    EXPECT_EQ(tsl::tallyTestText({false, "Tally is not running on localhost:9000"}, 9000),
              "Tally is not running on localhost:9000. In Tally: F1 (Help) > Settings > "
              "Connectivity > Client/Server configuration: TallyPrime acts as Server/Both, port "
              "9000.");
}

}  // namespace
