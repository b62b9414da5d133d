#include "SoapRequest.h"

#include <cstring>

namespace kevra::gateway {

namespace {

constexpr const char* kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";

std::string trimmed(const char* text)
{
    std::string s = text ? text : "";
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

}   // namespace

const char* SoapRequest::localName(pugi::xml_node node)
{
    const char* name = node.name();
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

std::string SoapRequest::namespaceOf(pugi::xml_node node)
{
    std::string name = node.name();
    size_t colon = name.find(':');
    std::string attr = colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent())
        if (pugi::xml_attribute a = n.attribute(attr.c_str()))
            return a.value();
    return "";
}

pugi::xml_node SoapRequest::child(pugi::xml_node parent, const char* name)
{
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && std::strcmp(localName(c), name) == 0)
            return c;
    return {};
}

std::string SoapRequest::childText(pugi::xml_node parent, const char* name)
{
    return trimmed(child(parent, name).child_value());
}

bool SoapRequest::parse(const char* data, size_t length)
{
    if (length > kMaxBytes) {
        error_ = "request too long";
        return false;
    }
    // No parse_doctype: a document type declaration is skipped whole, so entities it declares
    // are never expanded (pugixml knows only the five predefined ones and character
    // references) and nothing external is fetched.
    const unsigned flags = pugi::parse_default & ~pugi::parse_doctype;
    pugi::xml_parse_result r = doc_.load_buffer(data, length, flags, pugi::encoding_utf8);
    if (!r) {
        error_ = std::string("not well-formed XML: ") + r.description();
        return false;
    }
    pugi::xml_node env = doc_.document_element();
    std::string envNs = namespaceOf(env);
    if (std::strcmp(localName(env), "Envelope") != 0 || (envNs != kSoap12 && envNs != kSoap11)) {
        error_ = "not a SOAP envelope";
        return false;
    }
    pugi::xml_node header = child(env, "Header");
    if (header) {
        messageId_ = childText(header, "MessageID");
        pugi::xml_node token = child(child(header, "Security"), "UsernameToken");
        if (token) {
            token_.present = true;
            token_.user = childText(token, "Username");
            pugi::xml_node pw = child(token, "Password");
            token_.password = trimmed(pw.child_value());
            std::string type = pw.attribute("Type").value();
            token_.digest =
                type.size() >= 14 && type.compare(type.size() - 14, 14, "PasswordDigest") == 0;
            token_.nonce = childText(token, "Nonce");
            token_.created = childText(token, "Created");
        }
    }
    pugi::xml_node body = child(env, "Body");
    for (pugi::xml_node c = body.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) {
            operation_ = c;
            break;
        }
    if (!operation_) {
        error_ = "SOAP body without an operation";
        return false;
    }
    action_ = localName(operation_);
    actionNs_ = namespaceOf(operation_);
    return true;
}

}   // namespace kevra::gateway
