// What the gateway's HTTP pages take from clients: the snapshot path (recorder name, camera
// number), the Accept-Language header and the Host header, plus the escaping of text put into
// JSON and HTML. Checks that whatever is accepted is exactly what it should be, and that
// escaped text never carries markup or control characters out.
//
// Input layout: three fields separated by 0xFF bytes (path, Accept-Language, Host).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Escape.h"
#include "HttpPaths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string field[3];
    for (size_t i = 0, f = 0; i < in.size() && f < 3; ++i) {
        if (static_cast<uint8_t>(in[i]) == 0xFF)
            ++f;
        else
            field[f] += in[i];
    }
    std::string name;
    int camera = 0;
    if (kevra::gateway::parseSnapshotPath(field[0], name, camera)) {
        if (camera < 1 || camera > 9999 || name.empty() || name.size() > 32 ||
            field[0] != "/snapshot/" + name + "/" + std::to_string(camera) + ".jpg")
            std::abort();
    }
    (void)kevra::gateway::prefersChinese(field[1]);
    std::string host = kevra::gateway::hostOf(field[2]);
    if (host.size() > field[2].size() || host.find_first_of("<>\"'/ \r\n@") != std::string::npos)
        std::abort();
    for (const std::string& text : field) {
        std::string json = kevra::gateway::jsonEscape(text);
        std::string html = kevra::gateway::markupEscape(text);
        for (unsigned char c : json)
            if (c < 0x20 || c == '<')
                std::abort();
        if (html.find_first_of("<>\"'") != std::string::npos)
            std::abort();
    }
    return 0;
}
