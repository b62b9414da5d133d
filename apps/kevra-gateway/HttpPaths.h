// What the gateway's HTTP pages take from a client's request, checked and bounded: snapshot
// paths, the language a browser asks for, and the host part of its Host header. Pure
// functions, any thread; fuzzed in fuzz/fuzz_http_paths.cpp.
#pragma once
#include <string>

namespace kevra::gateway {

// "/snapshot/NAME/N.jpg": NAME as --recorder allows (1 to 32 letters, digits, '-', '_'), N a
// camera number from 1 to 9999 without leading zeros. False for anything else.
bool parseSnapshotPath(const std::string& path, std::string& recorder, int& camera);

// True when an Accept-Language header ranks Chinese above English (q-values honoured; the
// first of equal ones wins). Looks at no more than the first 1024 bytes.
bool prefersChinese(const std::string& acceptLanguage);

// The host of a Host header value ("name:port", "[v6]:port", "name"), or "" when it is not a
// plain host name or address.
std::string hostOf(const std::string& hostHeader);

}   // namespace kevra::gateway
