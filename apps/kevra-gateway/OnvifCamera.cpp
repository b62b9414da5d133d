#include "OnvifCamera.h"

#include <cstdint>
#include <cstdio>

namespace kevra::gateway {

namespace {

uint64_t fnv1a(const std::string& text, uint64_t seed)
{
    uint64_t h = seed;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

// Scope values are URIs: everything but unreserved characters percent-encoded.
std::string uriPart(const std::string& in)
{
    std::string out;
    for (unsigned char c : in) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}   // namespace

std::vector<std::string> OnvifCamera::scopes() const
{
    return {
        "onvif://www.onvif.org/type/video_encoder",
        "onvif://www.onvif.org/type/ptz",
        "onvif://www.onvif.org/Profile/Streaming",
        "onvif://www.onvif.org/name/" + uriPart(name),
        "onvif://www.onvif.org/location/" + uriPart(recorder),
        "onvif://www.onvif.org/hardware/KEVRA-gateway",
    };
}

void OnvifCamera::deriveIdentity()
{
    const std::string key = recorder + "/" + std::to_string(number);
    const uint64_t a = fnv1a(key, 0xcbf29ce484222325ull);
    const uint64_t b = fnv1a(key, 0x84222325cbf29ce4ull);
    char text[64];
    std::snprintf(text, sizeof text, "KV%012llX", (unsigned long long)(a & 0xffffffffffffull));
    serial = text;
    // 0x02 in the first byte: locally administered, unicast.
    std::snprintf(text, sizeof text, "02:%02x:%02x:%02x:%02x:%02x", unsigned(a >> 48 & 0xff),
                  unsigned(a >> 40 & 0xff), unsigned(a >> 32 & 0xff), unsigned(b >> 8 & 0xff),
                  unsigned(b & 0xff));
    hardware = text;
    // A name-based (version 5 layout) UUID from both hashes.
    std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-5%03x-%04x-%012llx", unsigned(a >> 32),
                  unsigned(a >> 16 & 0xffff), unsigned(a & 0xfff),
                  unsigned(0x8000 | (b >> 48 & 0x3fff)),
                  (unsigned long long)(b & 0xffffffffffffull));
    uuid = text;
}

}   // namespace kevra::gateway
