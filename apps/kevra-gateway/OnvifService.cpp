#include "OnvifService.h"

#include "OnvifDevice.h"
#include "OnvifMedia.h"
#include "SoapRequest.h"
#include "SoapText.h"

namespace kevra::gateway {

namespace {

// One PTZ entry per camera, null where none was given.
OnvifSetup withSinks(OnvifSetup setup)
{
    setup.ptz.resize(setup.cameras.size(), nullptr);
    return setup;
}

}   // namespace

OnvifService::OnvifService(Config config)
    : config_(withSinks(std::move(config))),
      tokens_(config_.credentials.user, config_.credentials.password), ptz_(config_),
      routes_(makeRoutes())
{
}

OnvifService::~OnvifService() = default;

void OnvifService::setPorts(const std::vector<int>& ports)
{
    for (size_t i = 0; i < ports.size() && i < config_.cameras.size(); ++i)
        config_.cameras[i].port = ports[i];
}

std::string OnvifService::fault(const std::string& code, const std::string& subcode,
                                const std::string& reason)
{
    return soap::fault(code, subcode, reason);
}

std::vector<OnvifService::Route> OnvifService::makeRoutes()
{
    // The handlers that move a camera need its motion; the rest answer from the call alone.
    auto ptz = [this](std::string (OnvifPtz::*handler)(OnvifCall&)) {
        return [this, handler](OnvifCall& c) { return (ptz_.*handler)(c); };
    };
    const char* dev = kOnvifNsDevice;
    const char* media = kOnvifNsMedia;
    const char* tptz = kOnvifNsPtz;
    const char* img = kOnvifNsImaging;
    return {
        {dev, "GetSystemDateAndTime", &OnvifDevice::getSystemDateAndTime},
        {dev, "GetCapabilities", &OnvifDevice::getCapabilities},
        {dev, "GetServices", &OnvifDevice::getServices},
        {dev, "GetServiceCapabilities", &OnvifDevice::getDeviceServiceCapabilities},
        {dev, "GetDeviceInformation", &OnvifDevice::getDeviceInformation},
        {dev, "GetNetworkInterfaces", &OnvifDevice::getNetworkInterfaces},
        {dev, "GetScopes", &OnvifDevice::getScopes},
        {dev, "GetHostname", &OnvifDevice::getHostname},
        {dev, "GetDNS", &OnvifDevice::getDns},
        {dev, "GetNTP", &OnvifDevice::getNtp},
        {media, "GetServiceCapabilities", &OnvifMedia::getMediaServiceCapabilities},
        {media, "GetProfiles", &OnvifMedia::getProfiles},
        {media, "GetProfile", &OnvifMedia::getProfile},
        {media, "GetVideoSources", &OnvifMedia::getVideoSources},
        {media, "GetVideoSourceConfigurations", &OnvifMedia::getVideoSourceConfigurations},
        {media, "GetVideoSourceConfiguration", &OnvifMedia::getVideoSourceConfiguration},
        {media, "GetVideoEncoderConfigurations", &OnvifMedia::getVideoEncoderConfigurations},
        {media, "GetVideoEncoderConfiguration", &OnvifMedia::getVideoEncoderConfiguration},
        {media, "GetVideoEncoderConfigurationOptions",
         &OnvifMedia::getVideoEncoderConfigurationOptions},
        {media, "GetStreamUri", &OnvifMedia::getStreamUri},
        {media, "GetSnapshotUri", &OnvifMedia::getSnapshotUri},
        {tptz, "GetServiceCapabilities", &OnvifPtz::getPtzServiceCapabilities},
        {tptz, "GetNodes", &OnvifPtz::getNodes},
        {tptz, "GetNode", &OnvifPtz::getNode},
        {tptz, "GetConfigurations", &OnvifPtz::getConfigurations},
        {tptz, "GetConfiguration", &OnvifPtz::getConfiguration},
        {tptz, "GetConfigurationOptions", &OnvifPtz::getConfigurationOptions},
        {tptz, "ContinuousMove", ptz(&OnvifPtz::continuousMove)},
        {tptz, "RelativeMove", ptz(&OnvifPtz::relativeMove)},
        {tptz, "Stop", ptz(&OnvifPtz::stop)},
        {tptz, "GetStatus", ptz(&OnvifPtz::getStatus)},
        {tptz, "GetPresets", &OnvifPtz::getPresets},
        {img, "GetServiceCapabilities", &OnvifPtz::getImagingServiceCapabilities},
        {img, "GetImagingSettings", &OnvifPtz::getImagingSettings},
        {img, "GetOptions", &OnvifPtz::getImagingOptions},
        {img, "GetMoveOptions", &OnvifPtz::getMoveOptions},
        {img, "Move", ptz(&OnvifPtz::focusMove)},
        {img, "Stop", ptz(&OnvifPtz::focusStop)},
        {img, "GetStatus", ptz(&OnvifPtz::getImagingStatus)},
    };
}

OnvifService::Reply OnvifService::handle(const char* data, size_t length, const Context& context)
{
    Reply reply;
    if (context.camera < 0 || size_t(context.camera) >= config_.cameras.size()) {
        reply.status = 404;
        reply.body = fault("Sender", "ter:InvalidArgVal", "no such camera");
        return reply;
    }
    const bool needed = config_.requireAuth && !context.loopback;
    auto refuse = [&](int status, const std::string& why) {
        reply.status = status;
        reply.challenge = status == 401;
        reply.body = fault("Sender", "ter:NotAuthorized", why);
        return reply;
    };
    // HTTP Digest clients often send their first request without a body to get the
    // challenge (this machine's too: a request without a body is never answered otherwise);
    // a wrong Digest is refused wherever it comes from.
    if (config_.requireAuth && context.httpAuth == HttpAuth::Wrong)
        return refuse(401, "wrong user name or password");
    if (length == 0 && config_.requireAuth && context.httpAuth != HttpAuth::Valid)
        return refuse(401, "credentials required");
    SoapRequest request;
    if (!request.parse(data, length)) {
        reply.status = 400;
        reply.body = fault("Sender", "ter:WellFormed", request.error());
        return reply;
    }
    const bool open =
        request.actionNs() == kOnvifNsDevice && request.action() == "GetSystemDateAndTime";
    if (config_.requireAuth && request.token().present && !open) {
        auto outcome = tokens_.check(request.token(), context.unixNow);
        if (outcome != UsernameTokenCheck::Outcome::Ok)
            return refuse(400, outcome == UsernameTokenCheck::Outcome::Stale
                                   ? "the token's creation time is too far from the device's "
                                     "clock"
                               : outcome == UsernameTokenCheck::Outcome::Replayed
                                   ? "the token was used before"
                                   : "wrong user name or password");
    } else if (needed && !open && context.httpAuth != HttpAuth::Valid) {
        return refuse(401, "credentials required");
    }
    for (const Route& r : routes_) {
        if (request.action() != r.action || request.actionNs() != r.ns)
            continue;
        OnvifCall call(request, context, config_);
        std::string body = r.handler(call);
        if (!call.fault.empty()) {
            reply.status = call.status;
            reply.body = call.fault;
        } else {
            reply.body = soap::envelope(body);
        }
        return reply;
    }
    reply.status = 500;
    reply.body = fault("Receiver", "ter:ActionNotSupported",
                       "the device does not support " + request.action());
    return reply;
}

}   // namespace kevra::gateway
