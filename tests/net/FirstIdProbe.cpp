#include <cstdio>

#include "net_request/NetRequest.h"

using namespace LiveModule;

// Prints the ids a fresh process hands out to a GET, a POST, a download, a refused GET and a GET.
int main() {
    NetRequest net;
    net.Initialize();
    int owner = 0;
    const stHttpRequest http{{"http://127.0.0.1:1/", 3000, true, &owner, true, nullptr}, 78, {}, {}, {}, nullptr}, refused;
    const stDownloadRequest download{http.head, 75, true, 3600, 0, "/nonexistent-folder/never/written", nullptr, nullptr, nullptr};
    const int get = net.HttpGet(&http), post = net.HttpPost(&http), file = net.DownloadFile(&download);
    const int none = net.HttpGet(&refused);
    std::printf("%d %d %d %d %d\n", get, post, file, none, net.HttpGet(&http));
}
