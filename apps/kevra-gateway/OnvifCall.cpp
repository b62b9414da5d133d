#include "OnvifCall.h"

#include "SoapRequest.h"
#include "SoapText.h"

namespace kevra::gateway {

namespace {

bool validHost(const std::string& host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (char c : host)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == ':' || c == '[' || c == ']'))
            return false;
    return true;
}

}   // namespace

std::string OnvifCall::hostOnly() const
{
    std::string host = context.host;
    if (!validHost(host))
        return setup.listenHost;
    if (host[0] == '[')
        return host.substr(0, host.find(']') + 1);
    size_t colon = host.find(':');
    return colon == std::string::npos ? host : host.substr(0, colon);
}

std::string OnvifCall::baseUrl() const
{
    return "http://" + hostOnly() + ":" + std::to_string(camera().port);
}

VideoFacts OnvifCall::facts() const
{
    VideoFacts f;
    if (setup.facts)
        f = setup.facts(context.camera);
    // Until the camera has streamed through the gateway its properties are unknown; clients
    // get the recorders' usual D1 H.264 and learn the truth from the stream itself.
    if (f.codec == OutCodec::None)
        f.codec = OutCodec::H264;
    if (f.width <= 0 || f.height <= 0) {
        f.width = 704;
        f.height = 576;
    }
    if (f.fps <= 0)
        f.fps = 25;
    return f;
}

std::string OnvifCall::profileToken(const char* element)
{
    std::string token = SoapRequest::childText(request.operation(), element);
    for (const char* p : kOnvifProfiles)
        if (token == p)
            return token;
    invalidArg("no profile '" + token + "'");
    return "";
}

std::string OnvifCall::invalidArg(const std::string& reason)
{
    status = 400;
    fault = soap::fault("Sender", "ter:InvalidArgVal", reason);
    return "";
}

}   // namespace kevra::gateway
