#include <cstdio>

#include "net_request/NetRequest.h"

// Submits one GET, POST and download to a port nobody serves and prints their ids.
int main() {
    LiveModule::NetRequest net;
    net.Initialize();
    int owner = 0;
    LiveModule::stHttpRequest http;
    http.head.url = "http://127.0.0.1:1/";
    http.head.owner = &owner;
    LiveModule::stDownloadRequest download;
    download.head = http.head;
    download.savePath = "/nonexistent-folder/never/written";
    const int get = net.HttpGet(&http);
    const int post = net.HttpPost(&http);
    const int file = net.DownloadFile(&download);
    std::printf("%d %d %d\n", get, post, file);
    net.Uninitialize();
    return 0;
}
