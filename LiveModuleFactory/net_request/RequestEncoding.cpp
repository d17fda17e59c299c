#include "net_request/RequestEncoding.h"

#include "Encoding.h"

namespace LiveModule {

std::string BuildUrl(const std::string& url, const StringPairs& queryParams) {
    std::string full = url;
    char separator = '?';
    for (const auto& [key, value] : queryParams) {
        full += separator;
        full += key;
        full += '=';
        full += UrlEncodeUtf8(value);
        separator = '&';
    }
    return full;
}

std::string BuildFormBody(const StringPairs& formFields) {
    std::string body;
    for (const auto& [key, value] : formFields) {
        if (!body.empty()) body += '&';
        body += key;
        body += '=';
        body += UrlEncode(value);
    }
    return body;
}

}  // namespace LiveModule
