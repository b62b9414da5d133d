#include "OnvifService.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>

#include "PtzSink.h"
#include "SoapRequest.h"

namespace kevra::gateway {

namespace {

constexpr const char* kNsDevice = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char* kNsMedia = "http://www.onvif.org/ver10/media/wsdl";
constexpr const char* kNsPtz = "http://www.onvif.org/ver20/ptz/wsdl";
constexpr const char* kNsImaging = "http://www.onvif.org/ver20/imaging/wsdl";
constexpr const char* kPanTiltVelocity =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace";
constexpr const char* kZoomVelocity =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/VelocityGenericSpace";
constexpr const char* kPanTiltTranslation =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/TranslationGenericSpace";
constexpr const char* kZoomTranslation =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/TranslationGenericSpace";
constexpr const char* kPanTiltPosition =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/PositionGenericSpace";
constexpr const char* kZoomPosition =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/PositionGenericSpace";
constexpr const char* kProfiles[2] = {"main", "sub"};
constexpr const char* kVersion = "1.0.2";

// Text for an XML element or attribute: markup escaped, and bytes that are not valid UTF-8
// (recorders' camera names come in their own 8-bit encodings) or not allowed in XML as '?'.
std::string xml(const std::string& in)
{
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : char(c);
            }
            ++i;
            continue;
        }
        size_t n = c >= 0xf0 && c < 0xf5 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
        bool ok = n > 0 && i + n <= in.size();
        for (size_t k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(in[i + k]) & 0xc0) == 0x80;
        if (ok) {
            out.append(in, i, n);
            i += n;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

std::string el(const char* name, const std::string& text)
{
    return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string num(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string range(const char* name, double lo, double hi)
{
    return el(name, el("tt:Min", num(lo)) + el("tt:Max", num(hi)));
}

std::string space(const char* element, const char* uri, bool twoAxes, double lo = -1)
{
    return el(element, el("tt:URI", uri) + range("tt:XRange", lo, 1) +
                           (twoAxes ? range("tt:YRange", lo, 1) : ""));
}

std::string envelope(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
           "xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\" "
           "xmlns:timg=\"http://www.onvif.org/ver20/imaging/wsdl\" "
           "xmlns:ter=\"http://www.onvif.org/ver10/error\">"
           "<s:Body>" +
           body + "</s:Body></s:Envelope>";
}

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

struct OnvifService::Call {
    const SoapRequest& request;
    const Context& context;
    int status = 200;
    std::string fault;   // set by a handler that refuses
};

OnvifService::OnvifService(Config config)
    : config_(std::move(config)), tokens_(config_.credentials.user, config_.credentials.password),
      motions_(config_.cameras.size())
{
    config_.ptz.resize(config_.cameras.size(), nullptr);
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
    return envelope("<s:Fault><s:Code><s:Value>s:" + code + "</s:Value><s:Subcode><s:Value>" +
                    subcode + "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">" +
                    xml(reason) + "</s:Text></s:Reason></s:Fault>");
}

const std::vector<OnvifService::Route>& OnvifService::routes()
{
    static const std::vector<Route> table = {
        {kNsDevice, "GetSystemDateAndTime", &OnvifService::getSystemDateAndTime},
        {kNsDevice, "GetCapabilities", &OnvifService::getCapabilities},
        {kNsDevice, "GetServices", &OnvifService::getServices},
        {kNsDevice, "GetServiceCapabilities", &OnvifService::getDeviceServiceCapabilities},
        {kNsDevice, "GetDeviceInformation", &OnvifService::getDeviceInformation},
        {kNsDevice, "GetNetworkInterfaces", &OnvifService::getNetworkInterfaces},
        {kNsDevice, "GetScopes", &OnvifService::getScopes},
        {kNsDevice, "GetHostname", &OnvifService::getHostname},
        {kNsDevice, "GetDNS", &OnvifService::getDns},
        {kNsDevice, "GetNTP", &OnvifService::getNtp},
        {kNsMedia, "GetServiceCapabilities", &OnvifService::getMediaServiceCapabilities},
        {kNsMedia, "GetProfiles", &OnvifService::getProfiles},
        {kNsMedia, "GetProfile", &OnvifService::getProfile},
        {kNsMedia, "GetVideoSources", &OnvifService::getVideoSources},
        {kNsMedia, "GetVideoSourceConfigurations", &OnvifService::getVideoSourceConfigurations},
        {kNsMedia, "GetVideoSourceConfiguration", &OnvifService::getVideoSourceConfiguration},
        {kNsMedia, "GetVideoEncoderConfigurations", &OnvifService::getVideoEncoderConfigurations},
        {kNsMedia, "GetVideoEncoderConfiguration", &OnvifService::getVideoEncoderConfiguration},
        {kNsMedia, "GetVideoEncoderConfigurationOptions",
         &OnvifService::getVideoEncoderConfigurationOptions},
        {kNsMedia, "GetStreamUri", &OnvifService::getStreamUri},
        {kNsMedia, "GetSnapshotUri", &OnvifService::getSnapshotUri},
        {kNsPtz, "GetServiceCapabilities", &OnvifService::getPtzServiceCapabilities},
        {kNsPtz, "GetNodes", &OnvifService::getNodes},
        {kNsPtz, "GetNode", &OnvifService::getNode},
        {kNsPtz, "GetConfigurations", &OnvifService::getConfigurations},
        {kNsPtz, "GetConfiguration", &OnvifService::getConfiguration},
        {kNsPtz, "GetConfigurationOptions", &OnvifService::getConfigurationOptions},
        {kNsPtz, "ContinuousMove", &OnvifService::continuousMove},
        {kNsPtz, "RelativeMove", &OnvifService::relativeMove},
        {kNsPtz, "Stop", &OnvifService::stop},
        {kNsPtz, "GetStatus", &OnvifService::getStatus},
        {kNsPtz, "GetPresets", &OnvifService::getPresets},
        {kNsImaging, "GetServiceCapabilities", &OnvifService::getImagingServiceCapabilities},
        {kNsImaging, "GetImagingSettings", &OnvifService::getImagingSettings},
        {kNsImaging, "GetOptions", &OnvifService::getImagingOptions},
        {kNsImaging, "GetMoveOptions", &OnvifService::getMoveOptions},
        {kNsImaging, "Move", &OnvifService::focusMove},
        {kNsImaging, "Stop", &OnvifService::focusStop},
        {kNsImaging, "GetStatus", &OnvifService::getImagingStatus},
    };
    return table;
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
    const bool open = request.actionNs() == kNsDevice && request.action() == "GetSystemDateAndTime";
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
    for (const Route& r : routes()) {
        if (request.action() != r.action || request.actionNs() != r.ns)
            continue;
        Call call{request, context, 200, {}};
        std::string body = (this->*r.handler)(call);
        if (!call.fault.empty()) {
            reply.status = call.status;
            reply.body = call.fault;
        } else {
            reply.body = envelope(body);
        }
        return reply;
    }
    reply.status = 500;
    reply.body = fault("Receiver", "ter:ActionNotSupported",
                       "the device does not support " + request.action());
    return reply;
}

std::string OnvifService::hostOnly(const Call& c) const
{
    std::string host = c.context.host;
    if (!validHost(host))
        return config_.listenHost;
    if (host[0] == '[')
        return host.substr(0, host.find(']') + 1);
    size_t colon = host.find(':');
    return colon == std::string::npos ? host : host.substr(0, colon);
}

std::string OnvifService::baseUrl(const Call& c) const
{
    return "http://" + hostOnly(c) + ":" +
           std::to_string(config_.cameras[size_t(c.context.camera)].port);
}

VideoFacts OnvifService::factsOf(int camera) const
{
    VideoFacts f;
    if (config_.facts)
        f = config_.facts(camera);
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

std::string OnvifService::profileToken(Call& c, const char* element)
{
    std::string token = SoapRequest::childText(c.request.operation(), element);
    for (const char* p : kProfiles)
        if (token == p)
            return token;
    c.status = 400;
    c.fault = fault("Sender", "ter:InvalidArgVal", "no profile '" + token + "'");
    return "";
}

// ---- Device

std::string OnvifService::getSystemDateAndTime(Call& c)
{
    time_t t = time_t(c.context.unixNow);
    struct tm u = {};
    gmtime_r(&t, &u);
    return "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>"
           "<tt:DateTimeType>Manual</tt:DateTimeType><tt:DaylightSavings>false"
           "</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC0</tt:TZ></tt:TimeZone><tt:UTCDateTime>"
           "<tt:Time>" +
           el("tt:Hour", std::to_string(u.tm_hour)) + el("tt:Minute", std::to_string(u.tm_min)) +
           el("tt:Second", std::to_string(u.tm_sec)) + "</tt:Time><tt:Date>" +
           el("tt:Year", std::to_string(u.tm_year + 1900)) +
           el("tt:Month", std::to_string(u.tm_mon + 1)) + el("tt:Day", std::to_string(u.tm_mday)) +
           "</tt:Date></tt:UTCDateTime></tds:SystemDateAndTime>"
           "</tds:GetSystemDateAndTimeResponse>";
}

std::string OnvifService::getCapabilities(Call& c)
{
    std::string category = "All";
    pugi::xml_node op = c.request.operation();
    for (pugi::xml_node n = op.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && std::string(SoapRequest::localName(n)) == "Category")
            category = n.child_value();
    const std::string base = baseUrl(c);
    std::string device =
        "<tt:Device>" + el("tt:XAddr", base + "/onvif/device_service") +
        "<tt:Network><tt:IPFilter>false</tt:IPFilter><tt:ZeroConfiguration>false"
        "</tt:ZeroConfiguration><tt:IPVersion6>false</tt:IPVersion6><tt:DynDNS>false</tt:DynDNS>"
        "</tt:Network><tt:System><tt:DiscoveryResolve>false</tt:DiscoveryResolve>"
        "<tt:DiscoveryBye>true</tt:DiscoveryBye><tt:RemoteDiscovery>false</tt:RemoteDiscovery>"
        "<tt:SystemBackup>false</tt:SystemBackup><tt:SystemLogging>false</tt:SystemLogging>"
        "<tt:FirmwareUpgrade>false</tt:FirmwareUpgrade><tt:SupportedVersions><tt:Major>2"
        "</tt:Major><tt:Minor>60</tt:Minor></tt:SupportedVersions></tt:System>"
        "<tt:IO><tt:InputConnectors>0</tt:InputConnectors><tt:RelayOutputs>0</tt:RelayOutputs>"
        "</tt:IO><tt:Security><tt:TLS1.1>false</tt:TLS1.1><tt:TLS1.2>false</tt:TLS1.2>"
        "<tt:OnboardKeyGeneration>false</tt:OnboardKeyGeneration><tt:AccessPolicyConfig>false"
        "</tt:AccessPolicyConfig><tt:X.509Token>false</tt:X.509Token><tt:SAMLToken>false"
        "</tt:SAMLToken><tt:KerberosToken>false</tt:KerberosToken><tt:RELToken>false"
        "</tt:RELToken></tt:Security></tt:Device>";
    std::string media = "<tt:Media>" + el("tt:XAddr", base + "/onvif/media_service") +
                        "<tt:StreamingCapabilities><tt:RTPMulticast>false</tt:RTPMulticast>"
                        "<tt:RTP_TCP>true</tt:RTP_TCP><tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP>"
                        "</tt:StreamingCapabilities></tt:Media>";
    std::string ptz = "<tt:PTZ>" + el("tt:XAddr", base + "/onvif/ptz_service") + "</tt:PTZ>";
    std::string imaging =
        "<tt:Imaging>" + el("tt:XAddr", base + "/onvif/imaging_service") + "</tt:Imaging>";
    std::string caps;
    if (category == "All")
        caps = device + imaging + media + ptz;
    else if (category == "Device")
        caps = device;
    else if (category == "Imaging")
        caps = imaging;
    else if (category == "Media")
        caps = media;
    else if (category == "PTZ")
        caps = ptz;
    else {
        c.status = 500;
        c.fault = fault("Receiver", "ter:ActionNotSupported",
                        "the device has no " + category + " service");
        return "";
    }
    return "<tds:GetCapabilitiesResponse><tds:Capabilities>" + caps +
           "</tds:Capabilities></tds:GetCapabilitiesResponse>";
}

std::string OnvifService::getServices(Call& c)
{
    const bool withCaps =
        SoapRequest::childText(c.request.operation(), "IncludeCapability") == "true";
    const std::string base = baseUrl(c);
    struct {
        const char* ns;
        const char* path;
        Handler caps;
    } services[] = {
        {kNsDevice, "/onvif/device_service", &OnvifService::getDeviceServiceCapabilities},
        {kNsMedia, "/onvif/media_service", &OnvifService::getMediaServiceCapabilities},
        {kNsPtz, "/onvif/ptz_service", &OnvifService::getPtzServiceCapabilities},
        {kNsImaging, "/onvif/imaging_service", &OnvifService::getImagingServiceCapabilities},
    };
    std::string out = "<tds:GetServicesResponse>";
    for (const auto& s : services) {
        out += "<tds:Service>" + el("tds:Namespace", s.ns) + el("tds:XAddr", base + s.path);
        if (withCaps) {
            // The capabilities element of each service's own answer, as the device's
            // GetServices carries it.
            std::string answer = (this->*s.caps)(c);
            size_t a = answer.find("<", 1), b = answer.rfind("</");
            out += "<tds:Capabilities>" + answer.substr(a, b - a) + "</tds:Capabilities>";
        }
        out += "<tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version>"
               "</tds:Service>";
    }
    return out + "</tds:GetServicesResponse>";
}

std::string OnvifService::getDeviceServiceCapabilities(Call&)
{
    return "<tds:GetServiceCapabilitiesResponse><tds:Capabilities>"
           "<tds:Network IPFilter=\"false\" ZeroConfiguration=\"false\" IPVersion6=\"false\" "
           "DynDNS=\"false\" Dot11Configuration=\"false\" HostnameFromDHCP=\"false\" NTP=\"0\"/>"
           "<tds:Security TLS1.0=\"false\" TLS1.1=\"false\" TLS1.2=\"false\" "
           "OnboardKeyGeneration=\"false\" AccessPolicyConfig=\"false\" DefaultAccessPolicy="
           "\"false\" Dot1X=\"false\" RemoteUserHandling=\"false\" X.509Token=\"false\" "
           "SAMLToken=\"false\" KerberosToken=\"false\" UsernameToken=\"true\" HttpDigest=\"true\" "
           "RELToken=\"false\"/>"
           "<tds:System DiscoveryResolve=\"false\" DiscoveryBye=\"true\" RemoteDiscovery=\"false\" "
           "SystemBackup=\"false\" SystemLogging=\"false\" FirmwareUpgrade=\"false\" "
           "HttpFirmwareUpgrade=\"false\" HttpSystemBackup=\"false\" HttpSystemLogging=\"false\" "
           "HttpSupportInformation=\"false\"/>"
           "</tds:Capabilities></tds:GetServiceCapabilitiesResponse>";
}

std::string OnvifService::getDeviceInformation(Call& c)
{
    const OnvifCamera& cam = config_.cameras[size_t(c.context.camera)];
    return "<tds:GetDeviceInformationResponse>" + el("tds:Manufacturer", "KEVRA") +
           el("tds:Model", "Gateway camera") + el("tds:FirmwareVersion", kVersion) +
           el("tds:SerialNumber", cam.serial) +
           el("tds:HardwareId", xml(cam.recorder) + "/" + std::to_string(cam.number)) +
           "</tds:GetDeviceInformationResponse>";
}

std::string OnvifService::getNetworkInterfaces(Call& c)
{
    const OnvifCamera& cam = config_.cameras[size_t(c.context.camera)];
    std::string address = hostOnly(c);
    bool ipv4 = address.find_first_not_of("0123456789.") == std::string::npos;
    return "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\">"
           "<tt:Enabled>true</tt:Enabled><tt:Info><tt:Name>eth0</tt:Name>" +
           el("tt:HwAddress", cam.hardware) +
           "<tt:MTU>1500</tt:MTU></tt:Info><tt:IPv4><tt:Enabled>" + (ipv4 ? "true" : "false") +
           "</tt:Enabled><tt:Config>" +
           (ipv4 ? "<tt:Manual>" + el("tt:Address", address) +
                       "<tt:PrefixLength>24</tt:PrefixLength></tt:Manual>"
                 : std::string()) +
           "<tt:DHCP>false</tt:DHCP></tt:Config></tt:IPv4></tds:NetworkInterfaces>"
           "</tds:GetNetworkInterfacesResponse>";
}

std::string OnvifService::getScopes(Call& c)
{
    const OnvifCamera& cam = config_.cameras[size_t(c.context.camera)];
    std::string out = "<tds:GetScopesResponse>";
    for (const std::string& s : cam.scopes())
        out += "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef>" + el("tt:ScopeItem", xml(s)) +
               "</tds:Scopes>";
    return out + "</tds:GetScopesResponse>";
}

std::string OnvifService::getHostname(Call& c)
{
    const OnvifCamera& cam = config_.cameras[size_t(c.context.camera)];
    return "<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</tt:FromDHCP>" +
           el("tt:Name", "kevra-" + xml(cam.recorder) + "-" + std::to_string(cam.number)) +
           "</tds:HostnameInformation></tds:GetHostnameResponse>";
}

std::string OnvifService::getDns(Call&)
{
    return "<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>false</tt:FromDHCP>"
           "</tds:DNSInformation></tds:GetDNSResponse>";
}

std::string OnvifService::getNtp(Call&)
{
    return "<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>false</tt:FromDHCP>"
           "</tds:NTPInformation></tds:GetNTPResponse>";
}

// ---- Media

std::string OnvifService::getMediaServiceCapabilities(Call&)
{
    return std::string("<trt:GetServiceCapabilitiesResponse><trt:Capabilities SnapshotUri=\"") +
           (config_.httpPort > 0 ? "true" : "false") +
           "\" Rotation=\"false\" VideoSourceMode=\"false\" OSD=\"false\">"
           "<trt:ProfileCapabilities MaximumNumberOfProfiles=\"2\"/>"
           "<trt:StreamingCapabilities RTPMulticast=\"false\" RTP_TCP=\"true\" "
           "RTP_RTSP_TCP=\"true\" NonAggregateControl=\"false\" NoRTSPStreaming=\"false\"/>"
           "</trt:Capabilities></trt:GetServiceCapabilitiesResponse>";
}

std::string OnvifService::sourceConfigXml(const Call& c, const char* element) const
{
    VideoFacts f = factsOf(c.context.camera);
    return std::string("<") + element +
           " token=\"vsconf\"><tt:Name>VideoSource</tt:Name><tt:UseCount>2</tt:UseCount>"
           "<tt:SourceToken>vsrc</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"" +
           std::to_string(f.width) + "\" height=\"" + std::to_string(f.height) + "\"/></" +
           element + ">";
}

std::string OnvifService::encoderXml(const Call& c, const std::string& token,
                                     const char* element) const
{
    // The gateway publishes one stream per camera: both profiles describe it.
    VideoFacts f = factsOf(c.context.camera);
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

std::string OnvifService::ptzConfigXml(const char* element) const
{
    return std::string("<") + element +
           " token=\"ptzconf\"><tt:Name>PTZ</tt:Name><tt:UseCount>2</tt:UseCount>"
           "<tt:NodeToken>ptznode</tt:NodeToken>" +
           el("tt:DefaultContinuousPanTiltVelocitySpace", kPanTiltVelocity) +
           el("tt:DefaultContinuousZoomVelocitySpace", kZoomVelocity) +
           "<tt:DefaultPTZTimeout>PT1S</tt:DefaultPTZTimeout></" + element + ">";
}

std::string OnvifService::ptzNodeXml(const char* element) const
{
    return std::string("<") + element +
           " token=\"ptznode\" FixedHomePosition=\"false\"><tt:Name>PTZ</tt:Name>"
           "<tt:SupportedPTZSpaces>" +
           space("tt:RelativePanTiltTranslationSpace", kPanTiltTranslation, true) +
           space("tt:RelativeZoomTranslationSpace", kZoomTranslation, false) +
           space("tt:ContinuousPanTiltVelocitySpace", kPanTiltVelocity, true) +
           space("tt:ContinuousZoomVelocitySpace", kZoomVelocity, false) +
           space("tt:PanTiltSpeedSpace",
                 "http://www.onvif.org/ver10/tptz/PanTiltSpaces/GenericSpeedSpace", false, 0) +
           space("tt:ZoomSpeedSpace",
                 "http://www.onvif.org/ver10/tptz/ZoomSpaces/ZoomGenericSpeedSpace", false, 0) +
           "</tt:SupportedPTZSpaces><tt:MaximumNumberOfPresets>0</tt:MaximumNumberOfPresets>"
           "<tt:HomeSupported>false</tt:HomeSupported></" +
           element + ">";
}

std::string OnvifService::profileXml(const Call& c, const std::string& token,
                                     const char* element) const
{
    return std::string("<") + element + " token=\"" + token + "\" fixed=\"true\">" +
           el("tt:Name", token) + sourceConfigXml(c, "tt:VideoSourceConfiguration") +
           encoderXml(c, token, "tt:VideoEncoderConfiguration") +
           ptzConfigXml("tt:PTZConfiguration") + "</" + element + ">";
}

std::string OnvifService::getProfiles(Call& c)
{
    std::string out = "<trt:GetProfilesResponse>";
    for (const char* p : kProfiles)
        out += profileXml(c, p, "trt:Profiles");
    return out + "</trt:GetProfilesResponse>";
}

std::string OnvifService::getProfile(Call& c)
{
    std::string token = profileToken(c);
    return token.empty() ? ""
                         : "<trt:GetProfileResponse>" + profileXml(c, token, "trt:Profile") +
                               "</trt:GetProfileResponse>";
}

std::string OnvifService::getVideoSources(Call& c)
{
    VideoFacts f = factsOf(c.context.camera);
    return "<trt:GetVideoSourcesResponse><trt:VideoSources token=\"vsrc\">" +
           el("tt:Framerate", std::to_string(f.fps)) + "<tt:Resolution>" +
           el("tt:Width", std::to_string(f.width)) + el("tt:Height", std::to_string(f.height)) +
           "</tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>";
}

std::string OnvifService::getVideoSourceConfigurations(Call& c)
{
    return "<trt:GetVideoSourceConfigurationsResponse>" + sourceConfigXml(c, "trt:Configurations") +
           "</trt:GetVideoSourceConfigurationsResponse>";
}

std::string OnvifService::getVideoSourceConfiguration(Call& c)
{
    if (SoapRequest::childText(c.request.operation(), "ConfigurationToken") != "vsconf") {
        c.status = 400;
        c.fault = fault("Sender", "ter:InvalidArgVal", "no such configuration");
        return "";
    }
    return "<trt:GetVideoSourceConfigurationResponse>" + sourceConfigXml(c, "trt:Configuration") +
           "</trt:GetVideoSourceConfigurationResponse>";
}

std::string OnvifService::getVideoEncoderConfigurations(Call& c)
{
    std::string out = "<trt:GetVideoEncoderConfigurationsResponse>";
    for (const char* p : kProfiles)
        out += encoderXml(c, p, "trt:Configurations");
    return out + "</trt:GetVideoEncoderConfigurationsResponse>";
}

std::string OnvifService::getVideoEncoderConfiguration(Call& c)
{
    std::string token = SoapRequest::childText(c.request.operation(), "ConfigurationToken");
    for (const char* p : kProfiles)
        if (token == std::string("venc_") + p)
            return "<trt:GetVideoEncoderConfigurationResponse>" +
                   encoderXml(c, p, "trt:Configuration") +
                   "</trt:GetVideoEncoderConfigurationResponse>";
    c.status = 400;
    c.fault = fault("Sender", "ter:InvalidArgVal", "no such configuration");
    return "";
}

std::string OnvifService::getVideoEncoderConfigurationOptions(Call& c)
{
    // Nothing can be changed: the options are the stream as it is.
    VideoFacts f = factsOf(c.context.camera);
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

std::string OnvifService::getStreamUri(Call& c)
{
    if (profileToken(c).empty())
        return "";
    const OnvifCamera& cam = config_.cameras[size_t(c.context.camera)];
    std::string uri =
        "rtsp://" + hostOnly(c) + ":" + std::to_string(config_.rtspPort) + cam.rtspPath;
    return "<trt:GetStreamUriResponse><trt:MediaUri>" + el("tt:Uri", xml(uri)) +
           "<tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
           "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
           "</trt:GetStreamUriResponse>";
}

std::string OnvifService::getSnapshotUri(Call& c)
{
    if (profileToken(c).empty())
        return "";
    if (config_.httpPort <= 0) {
        c.status = 500;
        c.fault =
            fault("Receiver", "ter:ActionNotSupported", "snapshots need the gateway's HTTP side");
        return "";
    }
    const OnvifCamera& cam = config_.cameras[size_t(c.context.camera)];
    std::string uri = "http://" + hostOnly(c) + ":" + std::to_string(config_.httpPort) +
                      "/snapshot" + cam.rtspPath + ".jpg";
    return "<trt:GetSnapshotUriResponse><trt:MediaUri>" + el("tt:Uri", xml(uri)) +
           "<tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
           "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
           "</trt:GetSnapshotUriResponse>";
}

// ---- PTZ

std::string OnvifService::getPtzServiceCapabilities(Call&)
{
    return "<tptz:GetServiceCapabilitiesResponse><tptz:Capabilities EFlip=\"false\" "
           "Reverse=\"false\" GetCompatibleConfigurations=\"false\" MoveStatus=\"true\" "
           "StatusPosition=\"true\"/></tptz:GetServiceCapabilitiesResponse>";
}

std::string OnvifService::getNodes(Call&)
{
    return "<tptz:GetNodesResponse>" + ptzNodeXml("tptz:PTZNode") + "</tptz:GetNodesResponse>";
}

std::string OnvifService::getNode(Call& c)
{
    if (SoapRequest::childText(c.request.operation(), "NodeToken") != "ptznode") {
        c.status = 400;
        c.fault = fault("Sender", "ter:InvalidArgVal", "no such node");
        return "";
    }
    return "<tptz:GetNodeResponse>" + ptzNodeXml("tptz:PTZNode") + "</tptz:GetNodeResponse>";
}

std::string OnvifService::getConfigurations(Call&)
{
    return "<tptz:GetConfigurationsResponse>" + ptzConfigXml("tptz:PTZConfiguration") +
           "</tptz:GetConfigurationsResponse>";
}

std::string OnvifService::getConfiguration(Call& c)
{
    if (SoapRequest::childText(c.request.operation(), "PTZConfigurationToken") != "ptzconf") {
        c.status = 400;
        c.fault = fault("Sender", "ter:InvalidArgVal", "no such configuration");
        return "";
    }
    return "<tptz:GetConfigurationResponse>" + ptzConfigXml("tptz:PTZConfiguration") +
           "</tptz:GetConfigurationResponse>";
}

std::string OnvifService::getConfigurationOptions(Call& c)
{
    if (SoapRequest::childText(c.request.operation(), "ConfigurationToken") != "ptzconf") {
        c.status = 400;
        c.fault = fault("Sender", "ter:InvalidArgVal", "no such configuration");
        return "";
    }
    return "<tptz:GetConfigurationOptionsResponse><tptz:PTZConfigurationOptions><tt:Spaces>" +
           space("tt:RelativePanTiltTranslationSpace", kPanTiltTranslation, true) +
           space("tt:RelativeZoomTranslationSpace", kZoomTranslation, false) +
           space("tt:ContinuousPanTiltVelocitySpace", kPanTiltVelocity, true) +
           space("tt:ContinuousZoomVelocitySpace", kZoomVelocity, false) +
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

}   // namespace

std::string OnvifService::continuousMove(Call& c)
{
    if (profileToken(c).empty())
        return "";
    pugi::xml_node velocity = SoapRequest::child(c.request.operation(), "Velocity");
    PtzMotion::Values speed{};
    PtzMotion::Given given{};
    float unused;
    bool unusedGiven;
    vectorOf(velocity, "PanTilt", speed[0], speed[1], given[0], given[1]);
    vectorOf(velocity, "Zoom", speed[2], unused, given[2], unusedGiven);
    int64_t timeoutMs = PtzMotion::kDefaultTimeoutMs;
    std::string timeout = SoapRequest::childText(c.request.operation(), "Timeout");
    if (!timeout.empty()) {
        timeoutMs = durationMs(timeout);
        if (timeoutMs < 0) {
            c.status = 400;
            c.fault = fault("Sender", "ter:InvalidArgVal", "Timeout is not a duration");
            return "";
        }
    }
    size_t cam = size_t(c.context.camera);
    motions_[cam].continuous(speed, given, uint64_t(timeoutMs), c.context.nowMs);
    sendSteps(cam, c.context.nowMs);
    return "<tptz:ContinuousMoveResponse/>";
}

std::string OnvifService::relativeMove(Call& c)
{
    if (profileToken(c).empty())
        return "";
    pugi::xml_node translation = SoapRequest::child(c.request.operation(), "Translation");
    PtzMotion::Values distance{};
    PtzMotion::Given given{};
    float unused;
    bool unusedGiven;
    vectorOf(translation, "PanTilt", distance[0], distance[1], given[0], given[1]);
    vectorOf(translation, "Zoom", distance[2], unused, given[2], unusedGiven);
    size_t cam = size_t(c.context.camera);
    motions_[cam].relative(distance, given, c.context.nowMs);
    sendSteps(cam, c.context.nowMs);
    return "<tptz:RelativeMoveResponse/>";
}

std::string OnvifService::stop(Call& c)
{
    if (profileToken(c).empty())
        return "";
    std::string panTilt = SoapRequest::childText(c.request.operation(), "PanTilt");
    std::string zoom = SoapRequest::childText(c.request.operation(), "Zoom");
    motions_[size_t(c.context.camera)].stop(panTilt != "false", zoom != "false");
    return "<tptz:StopResponse/>";
}

std::string OnvifService::getStatus(Call& c)
{
    if (profileToken(c).empty())
        return "";
    const PtzMotion& m = motions_[size_t(c.context.camera)];
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

std::string OnvifService::getPresets(Call& c)
{
    if (profileToken(c).empty())
        return "";
    return "<tptz:GetPresetsResponse/>";   // these recorders keep no presets
}

// ---- Imaging: focus as the recorder's focus steps (its iris has no ONVIF move)

bool OnvifService::videoSource(Call& c)
{
    if (SoapRequest::childText(c.request.operation(), "VideoSourceToken") == "vsrc")
        return true;
    c.status = 400;
    c.fault = fault("Sender", "ter:InvalidArgVal", "no such video source");
    return false;
}

std::string OnvifService::getImagingServiceCapabilities(Call&)
{
    return "<timg:GetServiceCapabilitiesResponse><timg:Capabilities ImageStabilization=\"false\" "
           "Presets=\"false\" AdaptablePreset=\"false\"/></timg:GetServiceCapabilitiesResponse>";
}

std::string OnvifService::getImagingSettings(Call& c)
{
    if (!videoSource(c))
        return "";
    return "<timg:GetImagingSettingsResponse><timg:ImagingSettings><tt:Focus><tt:AutoFocusMode>"
           "MANUAL</tt:AutoFocusMode></tt:Focus></timg:ImagingSettings>"
           "</timg:GetImagingSettingsResponse>";
}

std::string OnvifService::getImagingOptions(Call& c)
{
    if (!videoSource(c))
        return "";
    return "<timg:GetOptionsResponse><timg:ImagingOptions><tt:Focus><tt:AutoFocusModes>MANUAL"
           "</tt:AutoFocusModes></tt:Focus></timg:ImagingOptions></timg:GetOptionsResponse>";
}

std::string OnvifService::getMoveOptions(Call& c)
{
    if (!videoSource(c))
        return "";
    return "<timg:GetMoveOptionsResponse><timg:MoveOptions><tt:Continuous>" +
           range("tt:Speed", -1, 1) +
           "</tt:Continuous></timg:MoveOptions></timg:GetMoveOptionsResponse>";
}

std::string OnvifService::focusMove(Call& c)
{
    if (!videoSource(c))
        return "";
    pugi::xml_node continuous =
        SoapRequest::child(SoapRequest::child(c.request.operation(), "Focus"), "Continuous");
    if (!continuous) {
        c.status = 400;
        c.fault = fault("Sender", "ter:InvalidArgVal", "only continuous focus moves");
        return "";
    }
    PtzMotion::Values speed{};
    PtzMotion::Given given{};
    given[PtzMotion::Focus] = true;
    float v = float(std::atof(SoapRequest::childText(continuous, "Speed").c_str()));
    speed[PtzMotion::Focus] = std::isnan(v) ? 0.0f : std::clamp(v, -1.0f, 1.0f);
    // The move has no timeout of its own: the default one keeps a gone client from leaving
    // the lens moving.
    size_t cam = size_t(c.context.camera);
    motions_[cam].continuous(speed, given, PtzMotion::kDefaultTimeoutMs, c.context.nowMs);
    sendSteps(cam, c.context.nowMs);
    return "<timg:MoveResponse/>";
}

std::string OnvifService::focusStop(Call& c)
{
    if (!videoSource(c))
        return "";
    motions_[size_t(c.context.camera)].stop(false, false, true);
    return "<timg:StopResponse/>";
}

std::string OnvifService::getImagingStatus(Call& c)
{
    if (!videoSource(c))
        return "";
    const PtzMotion& m = motions_[size_t(c.context.camera)];
    return "<timg:GetStatusResponse><timg:Status><tt:FocusStatus20>" +
           el("tt:Position", num(m.position(PtzMotion::Focus))) +
           el("tt:MoveStatus", m.moving(PtzMotion::Focus) ? "MOVING" : "IDLE") +
           "</tt:FocusStatus20></timg:Status></timg:GetStatusResponse>";
}

void OnvifService::sendSteps(size_t camera, uint64_t nowMs)
{
    for (int code : motions_[camera].due(nowMs))
        if (config_.ptz[camera])
            config_.ptz[camera]->ptz(config_.cameras[camera].channel, code);
}

void OnvifService::tick(uint64_t nowMs)
{
    for (size_t i = 0; i < motions_.size(); ++i)
        sendSteps(i, nowMs);
}

uint64_t OnvifService::nextDueMs() const
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
