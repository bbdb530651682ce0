// pomiarnik-recorder: the recording web service the monitor posts to.

#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/recorder/RecorderCopy.h"
#include "tools/recorder/RecorderOptions.h"
#include "tools/recorder/RecorderServer.h"
#include "tools/recorder/RecorderStore.h"

int main(int argc, char** argv) {
    using namespace pom::recorder;
    std::string error;
    const auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!parsed) {
        std::fprintf(stderr, "pomiarnik-recorder: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    const Options opt = *parsed;
    if (opt.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (opt.version) {
        std::printf("pomiarnik-recorder %s\n", POM_VERSION);
        return 0;
    }

    if (!opt.copyFrom.empty()) return RunCopy(opt.copyFrom, opt.copyTo, opt.dbPasswordFile);

    // The signals are taken by sigwait below; every thread started from here
    // on inherits the mask and leaves them alone.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const std::string dbPath = opt.dbPath.empty() ? DefaultDbPath() : opt.dbPath;
    try {
        const auto store = OpenStore(dbPath, opt.dbPasswordFile);
        Server server(*store, ServerConfig{opt.host, opt.port, opt.key, opt.threads});
        const int port = server.Start(&error);
        if (port < 0) {
            std::fprintf(stderr, "pomiarnik-recorder: %s\n", error.c_str());
            return 1;
        }
        const bool v6 = opt.host.find(':') != std::string::npos;
        std::printf("http://%s%s%s:%d/\n", v6 ? "[" : "", opt.host.c_str(), v6 ? "]" : "", port);
        std::printf("database: %s\n", store->Where().c_str());
        std::fflush(stdout);

        int sig = 0;
        while (sigwait(&stopSignals, &sig) != 0) {
        }
        std::fprintf(stderr, "pomiarnik-recorder: %s, stopping\n",
                     sig == SIGINT ? "SIGINT" : "SIGTERM");
        // The requests in progress finish and their rows are committed
        // before the store closes.
        server.Stop();
    } catch (const StoreError& e) {
        std::fprintf(stderr, "pomiarnik-recorder: %s\n", e.what());
        return 1;
    }
    return 0;
}
