#include "net_request/ResponseInfo.h"

#include "TextConversion.h"

namespace LiveModule {

NeResInfo PrepareResult(const NeReqInfo& job) {
    NeResInfo result;
    result.id = job.id;
    result.url = job.url;
    result.isAsync = job.isAsync;
    result.userData = job.userData;
    return result;
}

void SetFailure(NeResInfo& result, int32_t code, const wchar_t* message) {
    result.errorCode = code;
    result.errorMsg = WideToChs(message);
}

stResponseInfo MakeResponseInfo(const NeResInfo& result) {
    stResponseInfo info;
    info.id = result.id;
    info.errorCode = result.errorCode;
    info.isAsync = result.isAsync;
    info.errorMsg = result.errorMsg.c_str();
    info.url = result.url.c_str();
    info.userData = result.userData;
    return info;
}

bool CheckResponse(NeResInfo& result, long status) {
    if (status == 0) {
        SetFailure(result, kResultNoAnswer, kMessageNoAnswer);
        return false;
    }
    if (status < 400) {
        result.errorCode = kResultOk;
        return true;
    }
    SetFailure(result, kResultFailed, kMessageErrorStatus);
    result.errorMsg += std::to_string(status);
    return false;
}

std::string ErrorCodeName(int code) {
    static const char* const names[] = {
        "",  // 0: no error
        "CONNECTION_FAILURE", "EMPTY_RESPONSE", "HOST_RESOLUTION_FAILURE", "INTERNAL_ERROR",
        "INVALID_URL_FORMAT", "NETWORK_RECEIVE_ERROR", "NETWORK_SEND_FAILURE", "OPERATION_TIMEDOUT",
        "PROXY_RESOLUTION_FAILURE", "SSL_CONNECT_ERROR", "SSL_LOCAL_CERTIFICATE_ERROR",
        "SSL_REMOTE_CERTIFICATE_ERROR", "SSL_CACERT_ERROR", "GENERIC_SSL_ERROR", "UNSUPPORTED_PROTOCOL",
        "REQUEST_CANCELLED", "TOO_MANY_REDIRECTS"};
    if (code == 1000) return "UNKNOWN_ERROR";
    if (code < 0 || code >= static_cast<int>(sizeof names / sizeof names[0])) return {};
    return names[code];
}

}  // namespace LiveModule
