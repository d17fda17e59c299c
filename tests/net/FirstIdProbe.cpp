#include <cstdio>

#include "net_request/NetRequest.h"

// Prints the ids a fresh process hands out to a GET, a POST, a download, a refused GET and a GET.
int main() {
    LiveModule::NetRequest net;
    net.Initialize();
    int owner = 0;
    LiveModule::stHttpRequest http, refused;
    http.head = {"http://127.0.0.1:1/", 3000, true, &owner, true, nullptr};  // nobody serves it
    LiveModule::stDownloadRequest download;
    download.head = http.head;
    download.savePath = "/nonexistent-folder/never/written";
    const int get = net.HttpGet(&http), post = net.HttpPost(&http), file = net.DownloadFile(&download);
    const int none = net.HttpGet(&refused);
    std::printf("%d %d %d %d %d\n", get, post, file, none, net.HttpGet(&http));
}
