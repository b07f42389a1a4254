#include <gtest/gtest.h>

#include "config/pairing_address.h"
#include "support/version.h"
#include "tray/connection_form.h"
#include "tray/status_text.h"

namespace {

using tsl::Settings;
using tsl::SyncState;
using tsl::SyncStatus;

// The status dialog of a fresh connector, then with results held back. The paired, synced form
// is checked in the running program (tests/ui).
TEST(StatusText, FreshConnectorAndResultsHeldBack) {
    SyncStatus status;
    status.state = SyncState::NotConnected;
    EXPECT_EQ(tsl::statusText(status, Settings{}, "DESK-1"),
              "Status:  Not connected to Tessaline\r\n\r\n"
              "Tessaline:  https://app.tessaline.com/tessaline/api\r\n"
              "Tally company:  (not chosen yet in Tessaline)\r\n"
              "Tally:  -  [localhost:9000]\r\n\r\n"
              "Last completed sync:  -\r\nJobs this session:  0\r\n\r\n"
              "Version " +
                  std::string(tsl::kVersion) + " on DESK-1\r\n");
    status.resultsWaiting = 2;
    status.resultsSetAside = 1;
    EXPECT_NE(tsl::statusText(status, Settings{}, "M")
                  .find("Jobs this session:  0\r\nResults waiting to be reported:  2\r\nSet "
                        "aside:  1 job(s) whose results Tessaline did not take (see "
                        "kept-results.set-aside.json)\r\n\r\nVersion "),
              std::string::npos);
}

TEST(ConnectionForm, PairingChecksAddressThenCode) {
    struct Case {
        const char *address, *code, *problem;  // nullptr: may pair
    } cases[] = {
        {"http://127.0.0.1:8000", "ABCD-1234", nullptr},
        {"https://app.example.com/api", "X", nullptr},
        {"http://192.168.1.10", "ABCD-1234", tsl::kPairingAddressRefused},
        {"http://192.168.1.10", "", tsl::kPairingAddressRefused},  // the address comes first
        {"https://app.example.com", "", tsl::kEnterPairingCode},
    };
    for (const Case& c : cases) {
        const auto problem = tsl::pairingInputProblem(c.address, c.code);
        EXPECT_EQ(problem.value_or("none"), c.problem ? c.problem : "none") << c.address;
    }
}

// With the organisation's name, these texts are checked in the running program (tests/ui).
TEST(ConnectionForm, PairingTextsWithoutOrganisation) {
    Settings s;
    s.token = "t";
    EXPECT_EQ(tsl::pairingStatusLine(s),
              "Paired. To move to another PC, generate a new code in Tessaline and pair that PC.");
    EXPECT_EQ(tsl::pairedLogLine(""), "Paired with Tessaline");
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

// The success line is checked in the running program; this help may be skipped there.
TEST(ConnectionForm, TallyTestHelpsWithAClosedPort) {
    EXPECT_EQ(tsl::tallyTestText({false, "Tally is not running on localhost:9000"}, 9000),
              "Tally is not running on localhost:9000. In Tally: F1 (Help) > Settings > "
              "Connectivity > Client/Server configuration: TallyPrime acts as Server/Both, port "
              "9000.");
}

}  // namespace
