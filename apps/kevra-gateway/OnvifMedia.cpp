#include "OnvifMedia.h"

#include "Escape.h"
#include "OnvifPtz.h"
#include "SoapRequest.h"
#include "SoapText.h"

namespace kevra::gateway {

using namespace soap;

namespace {

// The response element around one item per profile.
template <class Item>
std::string eachProfile(const char* response, Item item)
{
    std::string items;
    for (const char* p : kOnvifProfiles)
        items += item(p);
    return el(response, items);
}

}   // namespace

std::string OnvifMedia::getMediaServiceCapabilities(OnvifCall& c)
{
    return std::string("<trt:GetServiceCapabilitiesResponse><trt:Capabilities SnapshotUri=\"") +
           (c.setup.httpPort > 0 ? "true" : "false") +
           "\" Rotation=\"false\" VideoSourceMode=\"false\" OSD=\"false\">"
           "<trt:ProfileCapabilities MaximumNumberOfProfiles=\"2\"/>"
           "<trt:StreamingCapabilities RTPMulticast=\"false\" RTP_TCP=\"true\" "
           "RTP_RTSP_TCP=\"true\" NonAggregateControl=\"false\" NoRTSPStreaming=\"false\"/>"
           "</trt:Capabilities></trt:GetServiceCapabilitiesResponse>";
}

std::string OnvifMedia::sourceConfigXml(const OnvifCall& c, const char* element)
{
    VideoFacts f = c.facts();
    return std::string("<") + element +
           " token=\"vsconf\"><tt:Name>VideoSource</tt:Name><tt:UseCount>2</tt:UseCount>"
           "<tt:SourceToken>vsrc</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"" +
           std::to_string(f.width) + "\" height=\"" + std::to_string(f.height) + "\"/></" +
           element + ">";
}

std::string OnvifMedia::encoderXml(const OnvifCall& c, const std::string& token,
                                   const char* element)
{
    // The gateway publishes one stream per camera: both profiles describe it.
    VideoFacts f = c.facts();
    const bool h264 = f.codec == OutCodec::H264;
    const std::string gov = std::to_string(f.fps * 2);
    return std::string("<") + element + " token=\"venc_" + token + "\">" + el("tt:Name", token) +
           "<tt:UseCount>1</tt:UseCount>" + el("tt:Encoding", h264 ? "H264" : "MPEG4") +
           "<tt:Resolution>" + el("tt:Width", std::to_string(f.width)) +
           el("tt:Height", std::to_string(f.height)) +
           "</tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl>" +
           el("tt:FrameRateLimit", std::to_string(f.fps)) +
           "<tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>4096</tt:BitrateLimit>"
           "</tt:RateControl>" +
           (h264 ? "<tt:H264>" + el("tt:GovLength", gov) +
                       "<tt:H264Profile>Baseline</tt:H264Profile></tt:H264>"
                 : "<tt:MPEG4>" + el("tt:GovLength", gov) +
                       "<tt:Mpeg4Profile>SP</tt:Mpeg4Profile></tt:MPEG4>") +
           "<tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>0.0.0.0"
           "</tt:IPv4Address></tt:Address><tt:Port>0</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>"
           "false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT60S</tt:SessionTimeout></" +
           element + ">";
}

std::string OnvifMedia::profileXml(const OnvifCall& c, const std::string& token,
                                   const char* element)
{
    return std::string("<") + element + " token=\"" + token + "\" fixed=\"true\">" +
           el("tt:Name", token) + sourceConfigXml(c, "tt:VideoSourceConfiguration") +
           encoderXml(c, token, "tt:VideoEncoderConfiguration") +
           OnvifPtz::configXml("tt:PTZConfiguration") + "</" + element + ">";
}

std::string OnvifMedia::getProfiles(OnvifCall& c)
{
    return eachProfile("trt:GetProfilesResponse",
                       [&](const char* p) { return profileXml(c, p, "trt:Profiles"); });
}

std::string OnvifMedia::getProfile(OnvifCall& c)
{
    std::string token = c.profileToken();
    return token.empty() ? ""
                         : "<trt:GetProfileResponse>" + profileXml(c, token, "trt:Profile") +
                               "</trt:GetProfileResponse>";
}

std::string OnvifMedia::getVideoSources(OnvifCall& c)
{
    VideoFacts f = c.facts();
    return "<trt:GetVideoSourcesResponse><trt:VideoSources token=\"vsrc\">" +
           el("tt:Framerate", std::to_string(f.fps)) + "<tt:Resolution>" +
           el("tt:Width", std::to_string(f.width)) + el("tt:Height", std::to_string(f.height)) +
           "</tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>";
}

std::string OnvifMedia::getVideoSourceConfigurations(OnvifCall& c)
{
    return "<trt:GetVideoSourceConfigurationsResponse>" + sourceConfigXml(c, "trt:Configurations") +
           "</trt:GetVideoSourceConfigurationsResponse>";
}

std::string OnvifMedia::getVideoSourceConfiguration(OnvifCall& c)
{
    if (SoapRequest::childText(c.request.operation(), "ConfigurationToken") != "vsconf")
        return c.invalidArg("no such configuration");
    return "<trt:GetVideoSourceConfigurationResponse>" + sourceConfigXml(c, "trt:Configuration") +
           "</trt:GetVideoSourceConfigurationResponse>";
}

std::string OnvifMedia::getVideoEncoderConfigurations(OnvifCall& c)
{
    return eachProfile("trt:GetVideoEncoderConfigurationsResponse",
                       [&](const char* p) { return encoderXml(c, p, "trt:Configurations"); });
}

std::string OnvifMedia::getVideoEncoderConfiguration(OnvifCall& c)
{
    std::string token = SoapRequest::childText(c.request.operation(), "ConfigurationToken");
    for (const char* p : kOnvifProfiles)
        if (token == std::string("venc_") + p)
            return "<trt:GetVideoEncoderConfigurationResponse>" +
                   encoderXml(c, p, "trt:Configuration") +
                   "</trt:GetVideoEncoderConfigurationResponse>";
    return c.invalidArg("no such configuration");
}

std::string OnvifMedia::getVideoEncoderConfigurationOptions(OnvifCall& c)
{
    // Nothing can be changed: the options are the stream as it is.
    VideoFacts f = c.facts();
    const bool h264 = f.codec == OutCodec::H264;
    const std::string fps = std::to_string(f.fps);
    const std::string gov = std::to_string(f.fps * 2);
    std::string codec = "<tt:ResolutionsAvailable>" + el("tt:Width", std::to_string(f.width)) +
                        el("tt:Height", std::to_string(f.height)) + "</tt:ResolutionsAvailable>" +
                        el("tt:GovLengthRange", el("tt:Min", gov) + el("tt:Max", gov)) +
                        el("tt:FrameRateRange", el("tt:Min", fps) + el("tt:Max", fps)) +
                        range("tt:EncodingIntervalRange", 1, 1);
    return "<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options>" +
           range("tt:QualityRange", 5, 5) +
           (h264 ? el("tt:H264", codec + "<tt:H264ProfilesSupported>Baseline"
                                         "</tt:H264ProfilesSupported>")
                 : el("tt:MPEG4", codec + "<tt:Mpeg4ProfilesSupported>SP"
                                          "</tt:Mpeg4ProfilesSupported>")) +
           "</trt:Options></trt:GetVideoEncoderConfigurationOptionsResponse>";
}

std::string OnvifMedia::getStreamUri(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    const OnvifCamera& cam = c.camera();
    std::string uri =
        "rtsp://" + c.hostOnly() + ":" + std::to_string(c.setup.rtspPort) + cam.rtspPath;
    return "<trt:GetStreamUriResponse><trt:MediaUri>" + el("tt:Uri", markupEscape(uri)) +
           "<tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
           "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
           "</trt:GetStreamUriResponse>";
}

std::string OnvifMedia::getSnapshotUri(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    if (c.setup.httpPort <= 0) {
        c.status = 500;
        c.fault =
            fault("Receiver", "ter:ActionNotSupported", "snapshots need the gateway's HTTP side");
        return "";
    }
    const OnvifCamera& cam = c.camera();
    std::string uri = "http://" + c.hostOnly() + ":" + std::to_string(c.setup.httpPort) +
                      "/snapshot" + cam.rtspPath + ".jpg";
    return "<trt:GetSnapshotUriResponse><trt:MediaUri>" + el("tt:Uri", markupEscape(uri)) +
           "<tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
           "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
           "</trt:GetSnapshotUriResponse>";
}

}   // namespace kevra::gateway
