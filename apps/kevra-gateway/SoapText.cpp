#include "SoapText.h"

#include <cstdio>

#include "Escape.h"

namespace kevra::gateway::soap {

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

std::string space(const char* element, const char* uri, bool twoAxes, double lo)
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

std::string fault(const std::string& code, const std::string& subcode, const std::string& reason)
{
    return envelope("<s:Fault><s:Code><s:Value>s:" + code + "</s:Value><s:Subcode><s:Value>" +
                    subcode + "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">" +
                    markupEscape(reason) + "</s:Text></s:Reason></s:Fault>");
}

}   // namespace kevra::gateway::soap
