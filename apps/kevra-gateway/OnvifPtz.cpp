#include "OnvifPtz.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include "PtzSink.h"
#include "SoapRequest.h"
#include "SoapText.h"

namespace kevra::gateway {

using namespace soap;

namespace {

constexpr const char* kPanTiltVelocity =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace";
constexpr const char* kZoomVelocity =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/VelocityGenericSpace";
constexpr const char* kPanTiltPosition =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/PositionGenericSpace";
constexpr const char* kZoomPosition =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/PositionGenericSpace";

// xs:duration as a PTZ timeout ("PT1S", "PT0.5S", "PT1M", "P0DT0H0M2S"); -1 when malformed.
int64_t durationMs(const std::string& text)
{
    if (text.size() < 3 || text.size() > 40 || text[0] != 'P')
        return -1;
    double total = 0;
    bool inTime = false;
    size_t i = 1;
    while (i < text.size()) {
        if (text[i] == 'T') {
            inTime = true;
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'))
            ++i;
        if (i == start || i >= text.size())
            return -1;
        double v = std::atof(text.substr(start, i - start).c_str());
        char unit = text[i++];
        if (!inTime && unit == 'D')
            total += v * 86400;
        else if (inTime && unit == 'H')
            total += v * 3600;
        else if (inTime && unit == 'M')
            total += v * 60;
        else if (inTime && unit == 'S')
            total += v;
        else
            return -1;
    }
    return total > 1e6 ? int64_t(1e9) : int64_t(total * 1000);
}

// The spaces relative and continuous moves take, as the node and the configuration options
// list them.
std::string moveSpaces()
{
    return space("tt:RelativePanTiltTranslationSpace",
                 "http://www.onvif.org/ver10/tptz/PanTiltSpaces/TranslationGenericSpace", true) +
           space("tt:RelativeZoomTranslationSpace",
                 "http://www.onvif.org/ver10/tptz/ZoomSpaces/TranslationGenericSpace", false) +
           space("tt:ContinuousPanTiltVelocitySpace", kPanTiltVelocity, true) +
           space("tt:ContinuousZoomVelocitySpace", kZoomVelocity, false);
}

std::string utcTimeXml(int64_t unixNow)
{
    time_t t = time_t(unixNow);
    struct tm u = {};
    gmtime_r(&t, &u);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", u.tm_year + 1900,
                  u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec);
    return text;
}

}   // namespace

OnvifPtz::OnvifPtz(const OnvifSetup& setup) : setup_(setup), motions_(setup.cameras.size())
{
}

std::string OnvifPtz::configXml(const char* element)
{
    return std::string("<") + element +
           " token=\"ptzconf\"><tt:Name>PTZ</tt:Name><tt:UseCount>2</tt:UseCount>"
           "<tt:NodeToken>ptznode</tt:NodeToken>" +
           el("tt:DefaultContinuousPanTiltVelocitySpace", kPanTiltVelocity) +
           el("tt:DefaultContinuousZoomVelocitySpace", kZoomVelocity) +
           "<tt:DefaultPTZTimeout>PT1S</tt:DefaultPTZTimeout></" + element + ">";
}

std::string OnvifPtz::nodeXml(const char* element)
{
    return std::string("<") + element +
           " token=\"ptznode\" FixedHomePosition=\"false\"><tt:Name>PTZ</tt:Name>"
           "<tt:SupportedPTZSpaces>" +
           moveSpaces() +
           space("tt:PanTiltSpeedSpace",
                 "http://www.onvif.org/ver10/tptz/PanTiltSpaces/GenericSpeedSpace", false, 0) +
           space("tt:ZoomSpeedSpace",
                 "http://www.onvif.org/ver10/tptz/ZoomSpaces/ZoomGenericSpeedSpace", false, 0) +
           "</tt:SupportedPTZSpaces><tt:MaximumNumberOfPresets>0</tt:MaximumNumberOfPresets>"
           "<tt:HomeSupported>false</tt:HomeSupported></" +
           element + ">";
}

std::string OnvifPtz::getPtzServiceCapabilities(OnvifCall&)
{
    return "<tptz:GetServiceCapabilitiesResponse><tptz:Capabilities EFlip=\"false\" "
           "Reverse=\"false\" GetCompatibleConfigurations=\"false\" MoveStatus=\"true\" "
           "StatusPosition=\"true\"/></tptz:GetServiceCapabilitiesResponse>";
}

std::string OnvifPtz::getNodes(OnvifCall&)
{
    return "<tptz:GetNodesResponse>" + nodeXml("tptz:PTZNode") + "</tptz:GetNodesResponse>";
}

std::string OnvifPtz::getNode(OnvifCall& c)
{
    if (SoapRequest::childText(c.request.operation(), "NodeToken") != "ptznode")
        return c.invalidArg("no such node");
    return "<tptz:GetNodeResponse>" + nodeXml("tptz:PTZNode") + "</tptz:GetNodeResponse>";
}

std::string OnvifPtz::getConfigurations(OnvifCall&)
{
    return "<tptz:GetConfigurationsResponse>" + configXml("tptz:PTZConfiguration") +
           "</tptz:GetConfigurationsResponse>";
}

std::string OnvifPtz::getConfiguration(OnvifCall& c)
{
    if (SoapRequest::childText(c.request.operation(), "PTZConfigurationToken") != "ptzconf")
        return c.invalidArg("no such configuration");
    return "<tptz:GetConfigurationResponse>" + configXml("tptz:PTZConfiguration") +
           "</tptz:GetConfigurationResponse>";
}

std::string OnvifPtz::getConfigurationOptions(OnvifCall& c)
{
    if (SoapRequest::childText(c.request.operation(), "ConfigurationToken") != "ptzconf")
        return c.invalidArg("no such configuration");
    return "<tptz:GetConfigurationOptionsResponse><tptz:PTZConfigurationOptions><tt:Spaces>" +
           moveSpaces() +
           "</tt:Spaces><tt:PTZTimeout><tt:Min>PT0S</tt:Min><tt:Max>PT10S</tt:Max></tt:PTZTimeout>"
           "</tptz:PTZConfigurationOptions></tptz:GetConfigurationOptionsResponse>";
}

namespace {

// The x (and y) of a vector element; `given` false for an absent element or attribute. A
// value that is not a number counts as 0 (no motion on that axis).
void vectorOf(pugi::xml_node parent, const char* name, float& x, float& y, bool& gx, bool& gy)
{
    pugi::xml_node v = SoapRequest::child(parent, name);
    pugi::xml_attribute ax = v.attribute("x"), ay = v.attribute("y");
    gx = bool(ax);
    gy = bool(ay);
    x = gx ? std::clamp(ax.as_float(), -1.0f, 1.0f) : 0;
    y = gy ? std::clamp(ay.as_float(), -1.0f, 1.0f) : 0;
    if (std::isnan(x))
        x = 0;
    if (std::isnan(y))
        y = 0;
}

// The pan, tilt and zoom of the request's Velocity or Translation element.
struct Axes {
    PtzMotion::Values values{};
    PtzMotion::Given given{};
};
Axes axesOf(OnvifCall& c, const char* element)
{
    pugi::xml_node parent = SoapRequest::child(c.request.operation(), element);
    Axes a;
    float unused;
    bool unusedGiven;
    vectorOf(parent, "PanTilt", a.values[PtzMotion::Pan], a.values[PtzMotion::Tilt],
             a.given[PtzMotion::Pan], a.given[PtzMotion::Tilt]);
    vectorOf(parent, "Zoom", a.values[PtzMotion::Zoom], unused, a.given[PtzMotion::Zoom],
             unusedGiven);
    return a;
}

}   // namespace

PtzMotion& OnvifPtz::motion(const OnvifCall& c)
{
    return motions_[size_t(c.context.camera)];
}

std::string OnvifPtz::started(const OnvifCall& c, const char* response)
{
    sendSteps(size_t(c.context.camera), c.context.nowMs);
    return response;
}

std::string OnvifPtz::continuousMove(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    int64_t timeoutMs = PtzMotion::kDefaultTimeoutMs;
    std::string timeout = SoapRequest::childText(c.request.operation(), "Timeout");
    if (!timeout.empty()) {
        timeoutMs = durationMs(timeout);
        if (timeoutMs < 0)
            return c.invalidArg("Timeout is not a duration");
    }
    Axes speed = axesOf(c, "Velocity");
    motion(c).continuous(speed.values, speed.given, uint64_t(timeoutMs), c.context.nowMs);
    return started(c, "<tptz:ContinuousMoveResponse/>");
}

std::string OnvifPtz::relativeMove(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    Axes distance = axesOf(c, "Translation");
    motion(c).relative(distance.values, distance.given, c.context.nowMs);
    return started(c, "<tptz:RelativeMoveResponse/>");
}

std::string OnvifPtz::stop(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    std::string panTilt = SoapRequest::childText(c.request.operation(), "PanTilt");
    std::string zoom = SoapRequest::childText(c.request.operation(), "Zoom");
    motion(c).stop(panTilt != "false", zoom != "false");
    return "<tptz:StopResponse/>";
}

std::string OnvifPtz::getStatus(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    const PtzMotion& m = motion(c);
    auto state = [](bool moving) { return moving ? "MOVING" : "IDLE"; };
    return "<tptz:GetStatusResponse><tptz:PTZStatus><tt:Position><tt:PanTilt x=\"" +
           num(m.position(PtzMotion::Pan)) + "\" y=\"" + num(m.position(PtzMotion::Tilt)) +
           "\" space=\"" + kPanTiltPosition + "\"/><tt:Zoom x=\"" +
           num(m.position(PtzMotion::Zoom)) + "\" space=\"" + kZoomPosition +
           "\"/></tt:Position><tt:MoveStatus>" +
           el("tt:PanTilt", state(m.moving(PtzMotion::Pan) || m.moving(PtzMotion::Tilt))) +
           el("tt:Zoom", state(m.moving(PtzMotion::Zoom))) + "</tt:MoveStatus>" +
           el("tt:UtcTime", utcTimeXml(c.context.unixNow)) +
           "</tptz:PTZStatus></tptz:GetStatusResponse>";
}

std::string OnvifPtz::getPresets(OnvifCall& c)
{
    if (c.profileToken().empty())
        return "";
    return "<tptz:GetPresetsResponse/>";   // these recorders keep no presets
}

// ---- Imaging: focus as the recorder's focus steps (its iris has no ONVIF move)

bool OnvifPtz::videoSource(OnvifCall& c)
{
    if (SoapRequest::childText(c.request.operation(), "VideoSourceToken") == "vsrc")
        return true;
    c.invalidArg("no such video source");
    return false;
}

std::string OnvifPtz::getImagingServiceCapabilities(OnvifCall&)
{
    return "<timg:GetServiceCapabilitiesResponse><timg:Capabilities ImageStabilization=\"false\" "
           "Presets=\"false\" AdaptablePreset=\"false\"/></timg:GetServiceCapabilitiesResponse>";
}

std::string OnvifPtz::getImagingSettings(OnvifCall& c)
{
    if (!videoSource(c))
        return "";
    return "<timg:GetImagingSettingsResponse><timg:ImagingSettings><tt:Focus><tt:AutoFocusMode>"
           "MANUAL</tt:AutoFocusMode></tt:Focus></timg:ImagingSettings>"
           "</timg:GetImagingSettingsResponse>";
}

std::string OnvifPtz::getImagingOptions(OnvifCall& c)
{
    if (!videoSource(c))
        return "";
    return "<timg:GetOptionsResponse><timg:ImagingOptions><tt:Focus><tt:AutoFocusModes>MANUAL"
           "</tt:AutoFocusModes></tt:Focus></timg:ImagingOptions></timg:GetOptionsResponse>";
}

std::string OnvifPtz::getMoveOptions(OnvifCall& c)
{
    if (!videoSource(c))
        return "";
    return "<timg:GetMoveOptionsResponse><timg:MoveOptions><tt:Continuous>" +
           range("tt:Speed", -1, 1) +
           "</tt:Continuous></timg:MoveOptions></timg:GetMoveOptionsResponse>";
}

std::string OnvifPtz::focusMove(OnvifCall& c)
{
    if (!videoSource(c))
        return "";
    pugi::xml_node continuous =
        SoapRequest::child(SoapRequest::child(c.request.operation(), "Focus"), "Continuous");
    if (!continuous)
        return c.invalidArg("only continuous focus moves");
    PtzMotion::Values speed{};
    PtzMotion::Given given{};
    given[PtzMotion::Focus] = true;
    float v = float(std::atof(SoapRequest::childText(continuous, "Speed").c_str()));
    speed[PtzMotion::Focus] = std::isnan(v) ? 0.0f : std::clamp(v, -1.0f, 1.0f);
    // The move has no timeout of its own: the default one keeps a gone client from leaving
    // the lens moving.
    motion(c).continuous(speed, given, PtzMotion::kDefaultTimeoutMs, c.context.nowMs);
    return started(c, "<timg:MoveResponse/>");
}

std::string OnvifPtz::focusStop(OnvifCall& c)
{
    if (!videoSource(c))
        return "";
    motion(c).stop(false, false, true);
    return "<timg:StopResponse/>";
}

std::string OnvifPtz::getImagingStatus(OnvifCall& c)
{
    if (!videoSource(c))
        return "";
    const PtzMotion& m = motion(c);
    return "<timg:GetStatusResponse><timg:Status><tt:FocusStatus20>" +
           el("tt:Position", num(m.position(PtzMotion::Focus))) +
           el("tt:MoveStatus", m.moving(PtzMotion::Focus) ? "MOVING" : "IDLE") +
           "</tt:FocusStatus20></timg:Status></timg:GetStatusResponse>";
}

void OnvifPtz::sendSteps(size_t camera, uint64_t nowMs)
{
    for (int code : motions_[camera].due(nowMs))
        if (setup_.ptz[camera])
            setup_.ptz[camera]->ptz(setup_.cameras[camera].channel, code);
}

void OnvifPtz::tick(uint64_t nowMs)
{
    for (size_t i = 0; i < motions_.size(); ++i)
        sendSteps(i, nowMs);
}

uint64_t OnvifPtz::nextDueMs() const
{
    uint64_t next = 0;
    for (const PtzMotion& m : motions_) {
        uint64_t at = m.nextDueMs();
        if (at != 0 && (next == 0 || at < next))
            next = at;
    }
    return next;
}

}   // namespace kevra::gateway
