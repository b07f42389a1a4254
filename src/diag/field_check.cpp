#include "diag/field_check.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <system_error>

#include "api/api_client.h"
#include "config/config.h"
#include "config/ini_file.h"
#include "config/pairing_address.h"
#include "config/start_with_windows.h"
#include "net/http_date.h"
#include "net/proxy_choice.h"
#include "net/url_parts.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "sync/kept_results.h"
#include "sync/path_text.h"
#include "sync/sync_status.h"
#include "tally/open_companies.h"
#include "tally/tally_client.h"

namespace tsl {

namespace {

using Mark = CheckLine::Mark;
using Clock = std::chrono::steady_clock;

constexpr char kPairAgain[] =
    "Pair this PC again with a new code from the Tessaline web app (Accounting > Tally Sync).";

CheckLine ok(std::string what, std::string figure) {
    return {Mark::Ok, std::move(what), std::move(figure), ""};
}
CheckLine warn(std::string what, std::string figure, std::string advice) {
    return {Mark::Warn, std::move(what), std::move(figure), std::move(advice)};
}
CheckLine fail(std::string what, std::string figure, std::string advice) {
    return {Mark::Fail, std::move(what), std::move(figure), std::move(advice)};
}

std::string millisecondsSince(Clock::time_point start) {
    using namespace std::chrono;
    return std::to_string(duration_cast<milliseconds>(Clock::now() - start).count()) + " ms";
}

// "45 s", "12 min", "3 h", "2 days": what a person reads at a glance.
std::string ageText(std::int64_t seconds) {
    if (seconds < 120) return std::to_string(seconds < 0 ? 0 : seconds) + " s";
    if (seconds < 7200) return std::to_string(seconds / 60) + " min";
    if (seconds < 172800) return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

std::string sizeText(std::uintmax_t bytes) {
    if (bytes < 10240) return std::to_string(bytes) + " bytes";
    if (bytes < 10485760) return std::to_string(bytes / 1024) + " KB";
    return std::to_string(bytes / 1048576) + " MB";
}

CheckLine settingsFile(const Config& config) {
    const std::string where = pathText(config.iniPath());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(config.iniPath(), ec)) {
        return fail("Settings file", "not found at " + where,
                    "Pair this PC with the code from the Tessaline web app (Accounting > Tally "
                    "Sync).");
    }
    if (!std::ifstream(config.iniPath(), std::ios::binary).is_open()) {
        return fail("Settings file", "cannot be read: " + where,
                    "Give your user account the right to read this file, or pair this PC again.");
    }
    return ok("Settings file", where);
}

CheckLine paired(const Config& config, const Settings& settings) {
    if (!settings.token.empty()) return ok("Paired", "a token is stored and opens on this PC");
    if (IniFile(config.iniPath()).readString("auth", "token", "").empty()) {
        return fail("Paired", "no token is stored",
                    "Pair this PC with the code from the Tessaline web app (Accounting > Tally "
                    "Sync).");
    }
    return fail("Paired",
                "a token is stored but does not open for this user on this PC (it was saved "
                "on another PC or by another user)",
                kPairAgain);
}

CheckLine serverAddress(const Settings& settings) {
    if (isPairingAddressAllowed(settings.serverUrl))
        return ok("Server address", settings.serverUrl);
    return fail("Server address", settings.serverUrl,
                std::string(kPairingAddressRefused) + "; set it in the connection dialog.");
}

// Tessaline's clock, from the Date of its answer, against this PC's.
CheckLine clock(const std::string& serverDate) {
    const auto server = parseHttpDate(serverDate);
    if (!server) return warn("Clock", "Tessaline's answer carried no time to compare with", "");
    const std::int64_t ahead = static_cast<std::int64_t>(std::time(nullptr)) - *server;
    const std::string figure = ahead == 0
                                   ? "this PC's clock agrees with Tessaline's"
                                   : "this PC's clock is " + ageText(ahead < 0 ? -ahead : ahead) +
                                         (ahead > 0 ? " ahead of" : " behind") + " Tessaline's";
    if (ahead >= -300 && ahead <= 300) return ok("Clock", figure);
    return warn("Clock", figure,
                "Set the clock right (Settings > Time & language > Date & time > Sync now): "
                "times shown and sent depend on it.");
}

CheckLine heartbeat(const Settings& settings, const TallyProbe& tally, std::string& company,
                    std::string& serverDate, ConnectionFacts& connection,
                    const std::atomic<bool>* stop) {
    const Clock::time_point start = Clock::now();
    try {
        ApiClient api(settings.serverUrl, settings.token, stop);
        const HeartbeatReply reply =
            api.heartbeat(machineName(), tally.running, tally.info, &connection);
        std::string figure = "accepted in " + millisecondsSince(start);
        if (!settings.organisation.empty()) figure += "; organisation " + settings.organisation;
        if (!reply.companyName.empty()) figure += "; company " + reply.companyName;
        if (!reply.companyName.empty()) company = reply.companyName;
        serverDate = reply.serverDate;
        if (!reply.enabled) {
            return warn("Heartbeat", figure + "; sync is off",
                        "Turn sync on in the Tessaline web app (Accounting > Tally Sync).");
        }
        if (!reply.syncError.empty()) {
            return warn("Heartbeat", figure + "; sync is on; Tessaline reports: " + reply.syncError,
                        "See the Tessaline web app (Accounting > Tally Sync) for what it needs.");
        }
        return ok("Heartbeat", figure + "; sync is on");
    } catch (const NotPaired& e) {
        return fail("Heartbeat",
                    "Tessaline refused this PC's token (HTTP " + std::to_string(e.httpStatus) + ")",
                    kPairAgain);
    } catch (const ApiError& e) {
        // The proxy's refusal says itself what to do.
        if (stateDetail(SyncState::ServerUnreachable, e.message) == kProxySignInRefused)
            return fail("Heartbeat", kProxySignInRefused, "");
        return fail("Heartbeat", e.message,
                    e.httpStatus == 0
                        ? "Check this PC's internet connection and proxy, then try again."
                        : "Try again in a few minutes; if it goes on, tell Tessaline's support.");
    }
}

CheckLine tally(const Settings& settings, const TallyProbe& probe, const std::string& took) {
    const std::string where =
        (settings.tallyHost.empty() ? std::string("localhost") : settings.tallyHost) + ":" +
        std::to_string(settings.tallyPort);
    if (probe.running) return ok("Tally", where + " answers in " + took + ": " + probe.info);
    return fail("Tally", probe.info,
                "Start TallyPrime and turn on its XML server: Help (F1) > Settings > "
                "Connectivity, TallyPrime acting as Server or Both, port " +
                    std::to_string(settings.tallyPort) + ".");
}

// Which companies Tally has open, and whether the one Tessaline syncs with is among them: Tally
// running with no company loaded is the most common reason nothing happens.
CheckLine company(const TallyClient& tally, const std::string& expected) {
    const HttpResponse answer = tally.postXml(openCompaniesRequest(), true);
    const auto open =
        answer.ok && answer.status == 200 ? openCompaniesIn(answer.body) : std::nullopt;
    if (!open) {
        return warn("Company", "Tally did not list its open companies", "");
    }
    std::string names;
    bool found = false;
    for (const std::string& name : *open) {
        names += (names.empty() ? "" : ", ") + name;
        found = found || name == expected;
    }
    if (open->empty()) {
        return fail("Company", "Tally has no company open",
                    "Open the company " + (expected.empty() ? std::string("to sync") : expected) +
                        " in TallyPrime.");
    }
    if (expected.empty()) return ok("Company", "open in Tally: " + names);
    if (found) return ok("Company", expected + " is open in Tally");
    return fail("Company", "Tessaline syncs with " + expected + "; Tally has open: " + names,
                "Open the company " + expected + " in TallyPrime.");
}

CheckLine keptAnswers(const Config& config, const Settings& settings) {
    KeptResults kept(config.stateFolder() / KeptResults::kFileName);
    const std::string damage =
        kept.look(Pairing{normaliseServerUrl(settings.serverUrl), settings.organisation});
    const std::size_t aside = kept.setAsideCount();
    std::string figure = std::to_string(kept.size()) + " kept";
    if (kept.size() > 0) {
        figure += ", the oldest " +
                  ageText(static_cast<std::int64_t>(std::time(nullptr)) - kept.oldest().keptAt) +
                  " old";
    }
    figure += "; " + std::to_string(aside) + " set aside";
    if (!damage.empty()) {
        return fail("Answers", pathText(kept.file()) + " cannot be used: " + damage,
                    "Start the connector once: it renames the file aside and syncs on; send the "
                    "renamed file to Tessaline's support.");
    }
    if (aside > 0) {
        return warn("Answers", figure,
                    "Tessaline would not take these answers; send " +
                        pathText(config.stateFolder() / kSetAsideFileName) +
                        " to Tessaline's support.");
    }
    return ok("Answers", figure);
}

CheckLine startAtLogon() {
    if (isStartWithWindowsEnabled()) return ok("Start at logon", "on");
    const StartAtLogonWords& words = startAtLogonWords();
    if (isStartTurnedOffByUser()) {
        return warn("Start at logon", words.turnedOff, words.turnedOffAdvice);
    }
    return warn("Start at logon", "off", words.offAdvice);
}

CheckLine logFolder() {
    const std::filesystem::path folder = Logger::folder();
    const std::filesystem::path file = folder / Logger::kFileName;
    // Opened for appending and closed again: nothing is written.
    if (folder.empty() || !std::ofstream(file, std::ios::binary | std::ios::app).is_open()) {
        return fail("Log", "cannot write into " + pathText(folder),
                    "Free some disk space, or give your user account the right to write there.");
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    return ok("Log", pathText(file) + ", " + sizeText(ec ? 0 : size));
}

std::string dateText(std::int64_t seconds) {
    using namespace std::chrono;
    const year_month_day day{floor<days>(sys_seconds{std::chrono::seconds{seconds}})};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

std::string timeText(const char* step, const std::optional<std::uint32_t>& ms) {
    return std::string(step) + " in " + std::to_string(*ms) + " ms";
}

// Why the certificate was refused, for a person.
std::string refusalText(TlsTrouble trouble) {
    switch (trouble) {
        case TlsTrouble::UntrustedIssuer:
            return "the certificate comes from an authority this PC does not trust";
        case TlsTrouble::WrongName:
            return "the certificate is made out for another name";
        case TlsTrouble::OutOfDate:
            return "the certificate has expired or is not valid yet";
        case TlsTrouble::OtherCertificate:
            return "this PC refused the certificate";
        default:
            return "the secure handshake failed: this PC refused the server's certificate, or the "
                   "two share no TLS version 1.2 or later";
    }
}

}  // namespace

CheckLine connectionCheck(const std::string& serverUrl, const ConnectionFacts& facts,
                          std::int64_t now) {
    const auto parts = splitUrl(serverUrl);
    const std::string host = parts ? parts->host : serverUrl;
    std::string where = host;
    if (parts) where.append(1, ':').append(std::to_string(parts->port));
    constexpr char kNetwork[] = "Check this PC's internet connection and proxy, then try again.";
    if (!facts.resolveMs) {
        return fail("Connection", "the name " + host + " could not be resolved", kNetwork);
    }
    std::string figure = where + " " + timeText("resolved", facts.resolveMs);
    std::string seen;
    if (!facts.subject.empty() || !facts.issuer.empty()) {
        seen = "certificate for " + facts.subject + " from " + facts.issuer;
    }
    if (facts.trouble != TlsTrouble::None) {
        figure += "; " + refusalText(facts.trouble) + (seen.empty() ? "" : " (" + seen + ")") +
                  "; nothing was sent";
        return fail("Connection", figure,
                    "If your company's network inspects secure connections, ask your IT to let " +
                        host + " through; otherwise tell Tessaline's support.");
    }
    if (!facts.connectMs) return fail("Connection", figure + "; no connection", kNetwork);
    const bool together = facts.secure && !facts.handshakeMs;
    figure += ", " + timeText(together ? "connected and secured" : "connected", facts.connectMs);
    if (!facts.secure) return ok("Connection", figure + "; plain HTTP (this PC only)");
    if (!together) {
        figure += ", " + timeText(facts.tlsVersion.empty() ? "TLS" : facts.tlsVersion.c_str(),
                                  facts.handshakeMs);
    }
    if (!seen.empty()) figure += "; " + seen;
    if (!facts.expires) return ok("Connection", figure);
    figure += ", valid until " + dateText(*facts.expires);
    const std::int64_t left = *facts.expires - now;
    if (left >= 14 * 86400) return ok("Connection", figure);
    return warn("Connection",
                figure + " (" + std::to_string(left < 0 ? 0 : left / 86400) + " days left)",
                "Tell Tessaline's support that its certificate runs out soon (your IT, if it "
                "comes from your company's proxy).");
}

std::string formatCheckLine(const CheckLine& line) {
    const char* mark = line.mark == Mark::Ok ? "ok  " : line.mark == Mark::Warn ? "warn" : "FAIL";
    std::string text = std::string(mark) + " " + line.what + ": " + line.figure;
    if (!line.advice.empty()) text += " - " + line.advice;
    return escapeControls(text);
}

std::vector<CheckLine> runFieldChecks(const Config& config, const std::atomic<bool>* stop) {
    const Settings settings = config.settings();
    std::vector<CheckLine> lines{settingsFile(config), paired(config, settings),
                                 serverAddress(settings)};
    const bool reachable = lines[1].mark == Mark::Ok && lines[2].mark == Mark::Ok;
    lines.push_back(ok("Proxy", proxyChoice(settings.serverUrl)));

    const TallyClient tallyClient(settings.tallyHost, settings.tallyPort, stop);
    const Clock::time_point start = Clock::now();
    const TallyProbe probe = tallyClient.probe();
    const std::string took = millisecondsSince(start);
    std::string expected = settings.company;  // what the last heartbeat named wins
    if (reachable) {
        std::string serverDate;
        ConnectionFacts connection;
        CheckLine beat = heartbeat(settings, probe, expected, serverDate, connection, stop);
        lines.push_back(connectionCheck(settings.serverUrl, connection,
                                        static_cast<std::int64_t>(std::time(nullptr))));
        lines.push_back(std::move(beat));
        if (lines.back().mark != Mark::Fail) lines.push_back(clock(serverDate));
    } else {
        lines.push_back(warn("Heartbeat", "not sent until the lines above are mended", ""));
    }
    lines.push_back(tally(settings, probe, took));
    if (probe.running) lines.push_back(company(tallyClient, expected));
    lines.push_back(keptAnswers(config, settings));
    lines.push_back(startAtLogon());
    lines.push_back(logFolder());
    return lines;
}

}  // namespace tsl
