// One SOAP request from a network client, parsed and reduced to what the ONVIF side acts on:
// the operation (namespace and local name of the body's first element), the WS-Security
// UsernameToken if any, the WS-Addressing message id, and the body element for the
// operation's arguments. The XML goes through pugixml with no document type processing, so no
// entity of the client's is expanded and nothing external is loaded; the input is bounded.
// Plain data once parsed; used on one thread at a time (the GLib main thread in the gateway).
#pragma once
#include <pugixml.hpp>

#include <cstddef>
#include <string>

namespace kevra::gateway {

class SoapRequest {
public:
    static constexpr size_t kMaxBytes = 64 * 1024;

    struct UsernameToken {
        bool present = false;
        std::string user;
        std::string password;
        bool digest = false;   // PasswordDigest, else PasswordText
        std::string nonce;     // base64 as sent
        std::string created;   // as sent
    };

    // Parses `length` bytes. False with error() set for input that is not a SOAP envelope
    // with a body element (too long, not well-formed, wrong root).
    bool parse(const char* data, size_t length);

    const std::string& error() const { return error_; }
    const std::string& action() const { return action_; }         // local name
    const std::string& actionNs() const { return actionNs_; }     // its namespace URI
    const std::string& messageId() const { return messageId_; }   // wsa:MessageID or ""
    const UsernameToken& token() const { return token_; }
    pugi::xml_node operation() const { return operation_; }

    // Helpers over the client's tree, ignoring prefixes: the first child element with this
    // local name, and the trimmed text of such a child ("" when absent).
    static pugi::xml_node child(pugi::xml_node parent, const char* localName);
    static std::string childText(pugi::xml_node parent, const char* localName);
    static const char* localName(pugi::xml_node node);
    // The namespace URI the element's prefix is bound to ("" when unbound).
    static std::string namespaceOf(pugi::xml_node node);

private:
    pugi::xml_document doc_;
    std::string error_;
    std::string action_;
    std::string actionNs_;
    std::string messageId_;
    UsernameToken token_;
    pugi::xml_node operation_;
};

}   // namespace kevra::gateway
