// Text escaped for where the gateway writes it: markup (the HTML pages and the SOAP and
// WS-Discovery XML) and JSON (the status and live APIs, and scripts inside a page). What is
// escaped may come from a recorder (camera names in their own 8-bit encodings) or a client.
// Pure functions; any thread.
#pragma once
#include <string>

namespace kevra::gateway {

// Both give well-formed UTF-8 whatever comes in: each invalid part becomes one '?'.
// Text for an HTML or XML element or attribute: & < > " ' as character references, and control
// characters XML does not allow (all but tab, LF, CR) as '?'.
std::string markupEscape(const std::string& text);
// The contents of a JSON string: " and \ escaped, control characters and < > & as \u00XX, so
// the result may also stand inside a <script> element.
std::string jsonEscape(const std::string& text);
// jsonEscape() in its quotes: a JSON string literal.
std::string jsonString(const std::string& text);

}   // namespace kevra::gateway
