#include "WsDiscovery.h"

#include <glib.h>

#include <sstream>

#include "SoapRequest.h"

namespace kevra::gateway {

namespace {

constexpr const char* kNsDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr const char* kActionBase = "http://schemas.xmlsoap.org/ws/2005/04/discovery/";
constexpr const char* kTypes = "dn:NetworkVideoTransmitter tds:Device";

std::string escaped(const std::string& in)
{
    gchar* e = g_markup_escape_text(in.c_str(), gssize(in.size()));
    std::string out = e;
    g_free(e);
    return out;
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string w;
    while (in >> w && out.size() < 64)
        out.push_back(w);
    return out;
}

}   // namespace

bool WsDiscovery::parseProbe(const char* data, size_t length, Probe& out)
{
    SoapRequest request;
    if (!request.parse(data, length) || request.action() != "Probe" ||
        request.actionNs() != kNsDiscovery)
        return false;
    out.messageId = request.messageId();
    for (std::string& t : words(SoapRequest::childText(request.operation(), "Types"))) {
        size_t colon = t.find(':');
        out.types.push_back(colon == std::string::npos ? t : t.substr(colon + 1));
    }
    out.scopes = words(SoapRequest::childText(request.operation(), "Scopes"));
    return true;
}

bool WsDiscovery::matches(const Probe& probe, const OnvifCamera& camera)
{
    for (const std::string& t : probe.types)
        if (t != "NetworkVideoTransmitter" && t != "Device")
            return false;
    const std::vector<std::string> ours = camera.scopes();
    for (const std::string& asked : probe.scopes) {
        std::string prefix = asked;
        while (!prefix.empty() && prefix.back() == '/')
            prefix.pop_back();
        bool found = false;
        for (const std::string& s : ours)
            found = found || s == prefix ||
                    (s.size() > prefix.size() && s.compare(0, prefix.size(), prefix) == 0 &&
                     s[prefix.size()] == '/');
        if (!found)
            return false;
    }
    return true;
}

std::string WsDiscovery::envelope(const std::string& action, const std::string& to,
                                  const std::string& relatesTo, const std::string& body)
{
    gchar* id = g_uuid_string_random();
    std::string messageId = std::string("urn:uuid:") + id;
    g_free(id);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"><s:Header>"
           "<a:MessageID>" +
           messageId + "</a:MessageID>" +
           (relatesTo.empty() ? "" : "<a:RelatesTo>" + escaped(relatesTo) + "</a:RelatesTo>") +
           "<a:To>" + to + "</a:To><a:Action>" + kActionBase + action +
           "</a:Action><d:AppSequence InstanceId=\"" + std::to_string(instanceId_) +
           "\" MessageNumber=\"" + std::to_string(++messageNumber_) + "\"/></s:Header><s:Body>" +
           body + "</s:Body></s:Envelope>";
}

std::string WsDiscovery::deviceBody(const OnvifCamera& camera, const std::string& host)
{
    std::string scopes;
    for (const std::string& s : camera.scopes())
        scopes += (scopes.empty() ? "" : " ") + escaped(s);
    std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return "<a:EndpointReference><a:Address>" + camera.uuid +
           "</a:Address></a:EndpointReference><d:Types>" + kTypes + "</d:Types><d:Scopes>" +
           scopes + "</d:Scopes><d:XAddrs>http://" + escaped(h) + ":" +
           std::to_string(camera.port) +
           "/onvif/device_service</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion>";
}

std::string WsDiscovery::probeMatches(const Probe& probe, const OnvifCamera& camera,
                                      const std::string& host)
{
    return envelope("ProbeMatches",
                    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous",
                    probe.messageId,
                    "<d:ProbeMatches><d:ProbeMatch>" + deviceBody(camera, host) +
                        "</d:ProbeMatch></d:ProbeMatches>");
}

std::string WsDiscovery::hello(const OnvifCamera& camera, const std::string& host)
{
    return envelope("Hello", "urn:schemas-xmlsoap-org:ws:2005:04:discovery", "",
                    "<d:Hello>" + deviceBody(camera, host) + "</d:Hello>");
}

std::string WsDiscovery::bye(const OnvifCamera& camera)
{
    return envelope("Bye", "urn:schemas-xmlsoap-org:ws:2005:04:discovery", "",
                    "<d:Bye><a:EndpointReference><a:Address>" + camera.uuid +
                        "</a:Address></a:EndpointReference></d:Bye>");
}

}   // namespace kevra::gateway
