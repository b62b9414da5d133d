#include "OnvifDevice.h"

#include "Escape.h"
#include "OnvifMedia.h"
#include "OnvifPtz.h"
#include "SoapRequest.h"
#include "SoapText.h"
#include <ctime>

namespace kevra::gateway {

using namespace soap;

namespace {

constexpr const char* kVersion = "1.0.2";

}   // namespace

std::string OnvifDevice::getSystemDateAndTime(OnvifCall& c)
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

std::string OnvifDevice::getCapabilities(OnvifCall& c)
{
    std::string category = "All";
    pugi::xml_node op = c.request.operation();
    for (pugi::xml_node n = op.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && std::string(SoapRequest::localName(n)) == "Category")
            category = n.child_value();
    const std::string base = c.baseUrl();
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

std::string OnvifDevice::getServices(OnvifCall& c)
{
    const bool withCaps =
        SoapRequest::childText(c.request.operation(), "IncludeCapability") == "true";
    const std::string base = c.baseUrl();
    struct {
        const char* ns;
        const char* path;
        std::string (*caps)(OnvifCall&);
    } services[] = {
        {kOnvifNsDevice, "/onvif/device_service", &OnvifDevice::getDeviceServiceCapabilities},
        {kOnvifNsMedia, "/onvif/media_service", &OnvifMedia::getMediaServiceCapabilities},
        {kOnvifNsPtz, "/onvif/ptz_service", &OnvifPtz::getPtzServiceCapabilities},
        {kOnvifNsImaging, "/onvif/imaging_service", &OnvifPtz::getImagingServiceCapabilities},
    };
    std::string out = "<tds:GetServicesResponse>";
    for (const auto& s : services) {
        out += "<tds:Service>" + el("tds:Namespace", s.ns) + el("tds:XAddr", base + s.path);
        if (withCaps) {
            // The capabilities element of each service's own answer, as the device's
            // GetServices carries it.
            std::string answer = s.caps(c);
            size_t a = answer.find("<", 1), b = answer.rfind("</");
            out += "<tds:Capabilities>" + answer.substr(a, b - a) + "</tds:Capabilities>";
        }
        out += "<tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version>"
               "</tds:Service>";
    }
    return out + "</tds:GetServicesResponse>";
}

std::string OnvifDevice::getDeviceServiceCapabilities(OnvifCall&)
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

std::string OnvifDevice::getDeviceInformation(OnvifCall& c)
{
    const OnvifCamera& cam = c.camera();
    return "<tds:GetDeviceInformationResponse>" + el("tds:Manufacturer", "KEVRA") +
           el("tds:Model", "Gateway camera") + el("tds:FirmwareVersion", kVersion) +
           el("tds:SerialNumber", cam.serial) +
           el("tds:HardwareId", markupEscape(cam.recorder) + "/" + std::to_string(cam.number)) +
           "</tds:GetDeviceInformationResponse>";
}

std::string OnvifDevice::getNetworkInterfaces(OnvifCall& c)
{
    const OnvifCamera& cam = c.camera();
    std::string address = c.hostOnly();
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

std::string OnvifDevice::getScopes(OnvifCall& c)
{
    const OnvifCamera& cam = c.camera();
    std::string out = "<tds:GetScopesResponse>";
    for (const std::string& s : cam.scopes())
        out += "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef>" +
               el("tt:ScopeItem", markupEscape(s)) + "</tds:Scopes>";
    return out + "</tds:GetScopesResponse>";
}

std::string OnvifDevice::getHostname(OnvifCall& c)
{
    const OnvifCamera& cam = c.camera();
    return "<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</tt:FromDHCP>" +
           el("tt:Name", "kevra-" + markupEscape(cam.recorder) + "-" + std::to_string(cam.number)) +
           "</tds:HostnameInformation></tds:GetHostnameResponse>";
}

std::string OnvifDevice::getDns(OnvifCall&)
{
    return "<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>false</tt:FromDHCP>"
           "</tds:DNSInformation></tds:GetDNSResponse>";
}

std::string OnvifDevice::getNtp(OnvifCall&)
{
    return "<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>false</tt:FromDHCP>"
           "</tds:NTPInformation></tds:GetNTPResponse>";
}

}   // namespace kevra::gateway
