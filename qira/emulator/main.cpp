// qira-emulator: a crate server with emulated QIRA crates and KM808 modules.
#include "crate_server.h"
#include "emulator_config.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int usage(const char* why) {
    if (why)
        std::cerr << "qira-emulator: " << why << "\n";
    std::cerr
        << "usage: qira-emulator [--listen HOST:PORT] [--config FILE] [--verbose] [--print-default-config]\n"
           "  --listen HOST:PORT  address to serve (default 127.0.0.1:11111; port 0 picks a free one)\n"
           "  --config FILE       JSON set-up of crates and modules (default: the built-in one)\n"
           "  --verbose           one line per request on standard error\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    long port = 11111;
    std::string configPath;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--verbose") {
            verbose = true;
        } else if (a == "--print-default-config") {
            std::cout << qira::defaultConfigText();
            return 0;
        } else if ((a == "--listen" || a == "--config") && i + 1 < argc) {
            const std::string v = argv[++i];
            if (a == "--config") {
                configPath = v;
                continue;
            }
            const size_t colon = v.rfind(':');
            char* end = nullptr;
            port = colon == std::string::npos ? -1 : std::strtol(v.c_str() + colon + 1, &end, 10);
            if (colon == std::string::npos || colon == 0 || *end != 0 || port < 0 || port > 65535)
                return usage("--listen wants HOST:PORT");
            host = v.substr(0, colon);
        } else if (a == "--help" || a == "-h") {
            usage(nullptr);
            return 0;
        } else {
            return usage(("unknown argument " + a).c_str());
        }
    }
    qira::EmulatorConfig config;
    try {
        config = configPath.empty() ? qira::defaultConfig() : qira::loadConfigFile(configPath);
    } catch (const qira::ConfigError& e) {
        std::cerr << "qira-emulator: configuration refused: " << e.what() << "\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    qira::CrateServer server(std::move(config), verbose);
    std::string error;
    if (!server.listen(host, uint16_t(port), error)) {
        std::cerr << "qira-emulator: " << error << "\n";
        return 1;
    }
    std::cout << "listening on " << server.boundAddress() << std::endl;
    server.run();
}
