// The text of SOAP replies: elements, numbers, ranges and spaces, the envelope
// with the namespaces the ONVIF answers use, and SOAP 1.2 faults. Pure functions; any thread.
#pragma once
#include <string>

namespace kevra::gateway::soap {

std::string el(const char* name, const std::string& text);
std::string num(double v);
// <name><tt:Min>lo</tt:Min><tt:Max>hi</tt:Max></name>
std::string range(const char* name, double lo, double hi);
// A PTZ space: its URI and its x (and y) range from lo to 1.
std::string space(const char* element, const char* uri, bool twoAxes, double lo = -1);
std::string envelope(const std::string& body);
// A bare SOAP 1.2 fault in its envelope.
std::string fault(const std::string& code, const std::string& subcode, const std::string& reason);

}   // namespace kevra::gateway::soap
