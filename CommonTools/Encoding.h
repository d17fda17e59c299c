#pragma once

#include <string>

// Percent-encoders for request parameters and the Base64 encoder.
namespace LiveModule {

// Form-field encoding of raw bytes: letters, digits and "-_.~" stay, a space becomes "+", every
// other byte becomes "%XX" (upper-case hex).
std::string UrlEncode(const std::string& bytes);

// Query-parameter encoding of ANSI text, first converted to UTF-8: letters and digits stay, the
// six white-space characters (space, tab, LF, VT, FF, CR) become "+", every other byte, "-_.~"
// included, becomes "%XX" (upper-case hex).
std::string UrlEncodeUtf8(const std::string& ansi);

// RFC 4648 Base64 with "=" padding and no line breaks.
std::string Base64Encode(const std::string& bytes);

}  // namespace LiveModule
