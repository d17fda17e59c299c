#include "net_request/NetRequest.h"

namespace LiveModule {

NetRequest::~NetRequest() {
    Uninitialize();
}

bool NetRequest::Initialize() {
    running = true;
    return true;
}

void NetRequest::Uninitialize() {
    running = false;
}

}  // namespace LiveModule
