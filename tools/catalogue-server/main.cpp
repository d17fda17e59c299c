// catalogue-server: the module catalogue and its packages on 127.0.0.1, for tests and local use.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CatalogueServer.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: catalogue-server --port N --manifest FILE --packages DIR [faults]\n"
                 "  FILE is the catalogue answer; \"{base}\" in it becomes http://127.0.0.1:N/ and it is\n"
                 "  read again on every query. Packages are served as {base}packages/<file> from DIR.\n"
                 "faults:\n"
                 "  --status N            catalogue answers with status N\n"
                 "  --delay-ms N          catalogue answers after N ms\n"
                 "  --body TEXT           catalogue answers with TEXT instead of the manifest\n"
                 "  --truncate-catalogue  catalogue answer announced in full, half sent, connection dropped\n"
                 "  --package-status N    packages answer with status N\n"
                 "  --package-delay-ms N  packages answer after N ms\n"
                 "  --chunk-delay-ms N    N ms between 16 KiB package chunks\n"
                 "  --truncate-packages   packages announced in full, half sent, connection dropped\n"
                 "  --gzip                every answer gzip-compressed, whatever the client accepts\n");
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    std::string manifest;
    std::string packages = ".";
    LiveModule::tools::ServerFaults faults;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(64);
            }
            return argv[++i];
        };
        if (flag == "--port") port = std::atoi(value().c_str());
        else if (flag == "--manifest") manifest = value();
        else if (flag == "--packages") packages = value();
        else if (flag == "--status") faults.catalogueStatus = std::atoi(value().c_str());
        else if (flag == "--delay-ms") faults.catalogueDelayMs = std::atoi(value().c_str());
        else if (flag == "--body") faults.catalogueOverride = true, faults.catalogueBody = value();
        else if (flag == "--truncate-catalogue") faults.truncateCatalogue = true;
        else if (flag == "--package-status") faults.packageStatus = std::atoi(value().c_str());
        else if (flag == "--package-delay-ms") faults.packageDelayMs = std::atoi(value().c_str());
        else if (flag == "--chunk-delay-ms") faults.packageChunkDelayMs = std::atoi(value().c_str());
        else if (flag == "--truncate-packages") faults.truncatePackages = true;
        else if (flag == "--gzip") faults.gzipAnswers = true;
        else {
            Usage();
            return 64;
        }
    }
    if (port <= 0 || manifest.empty()) {
        Usage();
        return 64;
    }

    // Signals are taken synchronously below, so the server threads never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    LiveModule::tools::CatalogueServer server(port, packages);
    server.SetManifestFile(manifest);
    server.SetFaults(faults);
    if (!server.Start()) {
        std::fprintf(stderr, "catalogue-server: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("catalogue-server: serving %s\n", server.BaseUrl().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return 0;
}
