// tsl-sandbox: plays the Tessaline connector API and Tally's XML server on 127.0.0.1, plus
// scripted peers for transport tests. See README.md.
#include <httplib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "listener.h"

namespace {

using sandbox::Sandbox;

struct Options {
    int controlPort = 0;
    int apiPort = 0;
    int apiTlsPort = 0;
    int tallyPort = 0;
    std::string jobsFolder;
    int generateJobs = 0;
    std::string code;
    nlohmann::json apiSettings = nlohmann::json::object();
    nlohmann::json tallySettings = nlohmann::json::object();
    std::string envFile;
    std::string stateDir;
    bool exitWithParent = false;
};

const char kUsage[] =
    "usage: tsl-sandbox [options]\n"
    "  --control-port N --api-port N --api-tls-port N --tally-port N   (default: free ports)\n"
    "  --jobs DIR            queue the XML requests of DIR as jobs (a file or a subfolder each)\n"
    "  --generate-jobs N     queue N generated ledger imports\n"
    "  --code CODE           accept this pairing code too\n"
    "  --organisation NAME --company NAME --poll-seconds N\n"
    "  --tally-encoding utf8|utf8-bom|utf16le-bom|utf16le|ansi --tally-product prime|erp9\n"
    "  --env-file FILE       write TSL_SANDBOX_* variables for scripts once ready\n"
    "  --state-dir DIR       where ca.pem goes (default: a new folder under /tmp)\n"
    "  --exit-with-parent    stop when the starting process ends\n";

Options parseOptions(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--exit-with-parent") {
            o.exitWithParent = true;
            continue;
        }
        if (a == "--help" || a == "-h" || i + 1 >= args.size()) {
            std::cout << kUsage;
            std::exit(a == "--help" || a == "-h" ? 0 : 2);
        }
        const std::string v = args[++i];
        if (a == "--control-port")
            o.controlPort = std::stoi(v);
        else if (a == "--api-port")
            o.apiPort = std::stoi(v);
        else if (a == "--api-tls-port")
            o.apiTlsPort = std::stoi(v);
        else if (a == "--tally-port")
            o.tallyPort = std::stoi(v);
        else if (a == "--jobs")
            o.jobsFolder = v;
        else if (a == "--generate-jobs")
            o.generateJobs = std::stoi(v);
        else if (a == "--code")
            o.code = v;
        else if (a == "--organisation")
            o.apiSettings["organisation"] = v;
        else if (a == "--company") {
            o.apiSettings["companyName"] = v;
            o.tallySettings["company"] = v;
        } else if (a == "--poll-seconds")
            o.apiSettings["pollSeconds"] = std::stoi(v);
        else if (a == "--tally-encoding")
            o.tallySettings["encoding"] = v;
        else if (a == "--tally-product")
            o.tallySettings["product"] = v;
        else if (a == "--env-file")
            o.envFile = v;
        else if (a == "--state-dir")
            o.stateDir = v;
        else {
            std::cerr << "unknown option " << a << "\n" << kUsage;
            std::exit(2);
        }
    }
    return o;
}

// Binds to 127.0.0.1 (the given port, or any free one) and serves on a thread; returns once
// it is serving, so that a shutdown right after the start stops it.
int serve(httplib::Server& server, int port, std::vector<std::thread>& threads) {
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port < 0)
        throw std::runtime_error("cannot listen on 127.0.0.1 port " + std::to_string(port));
    threads.push_back(sandbox::serveOnThread(server));
    return port;
}

std::string makeStateDir(const std::string& wanted) {
    if (!wanted.empty()) {
        std::filesystem::create_directories(wanted);
        return std::filesystem::absolute(wanted).string();
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "tsl-sandbox-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a state folder");
    return pattern;
}

void writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    std::ofstream(temporary, std::ios::binary) << text;
    std::filesystem::rename(temporary, path);
}

void announce(const Sandbox& s, const Options& o, const std::string& code) {
    const auto& e = s.endpoints;
    std::cout << "Tessaline Tally sandbox is running (Ctrl+C stops it).\n"
              << "  Server address (HTTP)   " << e["api"].get<std::string>() << "\n"
              << "  Server address (HTTPS)  " << e["apiTls"].get<std::string>()
              << "   (trusts the test authority below)\n"
              << "  Tally XML server        127.0.0.1 port " << e["tallyPort"].get<int>() << "\n"
              << "  Pairing code            " << code << "\n"
              << "  Test authority          " << s.caFile << "\n"
              << "  Control                 " << e["control"].get<std::string>()
              << "   (tools/sandbox/README.md)\n"
              << std::flush;
    if (o.envFile.empty()) return;
    writeFileAtomically(o.envFile,
                        "TSL_SANDBOX_CONTROL=" + e["control"].get<std::string>() + "\n" +
                            "TSL_SANDBOX_API=" + e["api"].get<std::string>() + "\n" +
                            "TSL_SANDBOX_API_TLS=" + e["apiTls"].get<std::string>() + "\n" +
                            "TSL_SANDBOX_TALLY_PORT=" + std::to_string(e["tallyPort"].get<int>()) +
                            "\n" + "TSL_SANDBOX_CA=" + s.caFile + "\n" +
                            "TSL_SANDBOX_PAIRING_CODE=" + code + "\n");
}

// Waits for SIGINT, SIGTERM or a shutdown through the control port.
void waitForEnd(const sigset_t& signals, const Sandbox& sandbox) {
    const timespec tick{0, 200 * 1000 * 1000};
    while (!sandbox.shutdownRequested) {
        if (sigtimedwait(&signals, nullptr, &tick) > 0) return;
    }
}

int run(const Options& options, pid_t parent) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // every thread inherits the mask
    signal(SIGPIPE, SIG_IGN);
    // The parent may have gone before the request was made; then the signal never comes.
    if (options.exitWithParent && (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)) {
        return 0;
    }

    Sandbox sandbox;
    sandbox.caFile = makeStateDir(options.stateDir) + "/ca.pem";
    writeFileAtomically(sandbox.caFile, sandbox.authority.root().certPem());
    sandbox.api.updateSettings(options.apiSettings);
    if (!options.jobsFolder.empty()) sandbox.api.loadJobFolder(options.jobsFolder);
    if (options.generateJobs > 0) sandbox.api.enqueueJobs({{"generate", options.generateJobs}});
    const std::string code = options.code.empty()
                                 ? sandbox.api.state()["codes"][0].get<std::string>()
                                 : sandbox.api.newCode(options.code);
    sandbox.tally = std::make_unique<sandbox::TallyServer>(options.tallyPort);
    sandbox.tally->configure(options.tallySettings);

    std::vector<std::thread> threads;
    httplib::Server api;
    httplib::SSLServer apiTls(sandbox.serverIdentity.cert.get(), sandbox.serverIdentity.key.get());
    httplib::Server control;
    sandbox.api.addRoutes(api);
    sandbox.api.addRoutes(apiTls);
    sandbox::addControlRoutes(control, sandbox);
    const int apiPort = serve(api, options.apiPort, threads);
    const int apiTlsPort = serve(apiTls, options.apiTlsPort, threads);
    const int controlPort = serve(control, options.controlPort, threads);
    sandbox.endpoints = {
        {"control", "http://127.0.0.1:" + std::to_string(controlPort)},
        {"api", "http://127.0.0.1:" + std::to_string(apiPort) + "/tessaline/api"},
        {"apiTls", "https://127.0.0.1:" + std::to_string(apiTlsPort) + "/tessaline/api"},
        {"tallyPort", sandbox.tally->port()},
        {"ca", sandbox.caFile},
        {"pairingCode", code}};
    announce(sandbox, options, code);

    waitForEnd(signals, sandbox);
    for (httplib::Server* server : {&api, static_cast<httplib::Server*>(&apiTls), &control}) {
        server->stop();
    }
    for (std::thread& thread : threads)
        thread.join();
    {
        std::lock_guard lock(sandbox.peersMutex);
        sandbox.peers.clear();
    }
    sandbox.tally.reset();
    if (options.stateDir.empty())
        std::filesystem::remove_all(std::filesystem::path(sandbox.caFile).parent_path());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const pid_t parent = getppid();
    try {
        return run(parseOptions(argc, argv), parent);
    } catch (const std::exception& e) {
        std::cerr << "tsl-sandbox: " << e.what() << "\n";
        return 1;
    }
}
