#pragma once

#include <string>

#include "net_request/RequestJobs.h"

// How request parameters become URL and body text.
namespace LiveModule {

// The URL followed by "?key=value&key=value" for the query pairs, values percent-encoded as
// UTF-8, keys as they are; unchanged when there are no pairs. The URL is not inspected, so a
// "?" is added even when it already holds a query.
std::string BuildUrl(const std::string& url, const StringPairs& queryParams);

// "key=value&key=value" with form-encoded values and keys as they are; empty for no pairs.
std::string BuildFormBody(const StringPairs& formFields);

}  // namespace LiveModule
