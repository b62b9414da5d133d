#include "GatewayOptions.h"

#include <cerrno>
#include <cstdlib>

namespace kevra::gateway {

const char* const kGatewayUsage =
    "usage: kevra-gateway --recorder NAME=HOST:PORT [--recorder ...] [options]\n"
    "Publishes every camera of the recorders as rtsp://ADDRESS:PORT/NAME/N (N = camera number,\n"
    "from 1).\n"
    "  --recorder NAME=HOST:PORT  a recorder; NAME (letters, digits, - and _) names its URLs\n"
    "  --rtsp-port N              RTSP port (default 8554; 0 = any free port, logged)\n"
    "  --listen ADDRESS           address to listen on (default 127.0.0.1)\n"
    "  --secrets FILE             recorder users and passwords, RTSP credentials (owner-only)\n"
    "  --no-auth                  no RTSP credentials even when listening beyond this machine\n"
    "  --idle-close SECONDS       close a camera's recorder channel this long after its last\n"
    "                             client left (default 30)\n"
    "  --client-queue KB          drop a client whose unsent data exceeds this (default 4096)\n"
    "  --onvif-port N             camera k of the list is an ONVIF device at port N + k - 1\n"
    "                             (default 8100; 0 = any free ports, printed)\n"
    "  --no-onvif                 no ONVIF devices and no WS-Discovery answers\n"
    "  --discovery-port N         WS-Discovery port (default 3702)\n"
    "  --http-port N              status page, API, snapshots and metrics over HTTP (default\n"
    "                             8080; 0 = any free port, logged)\n"
    "  --no-http                  no HTTP side\n"
    "  --max-clients N            client connections in all, RTSP and HTTP (default 256)\n"
    "  --max-clients-per-address N  client connections from one address (default 32)\n"
    "  --request-timeout SECONDS  a connection must complete a request within this (default 10)\n"
    "  --max-header-kb KB         a request's line and headers (default 16)\n"
    "  --max-body-kb KB           a request's body (default 64)\n"
    "  --list                     log in, print every URL with its camera's name, and end\n"
    "  --stats                    print the delay the gateway adds at exit\n"
    "  --verbose                  log every step\n";

namespace {

bool wholeNumber(const std::string& text, long lo, long hi, int& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end || errno || v < lo || v > hi || !(text[0] >= '0' && text[0] <= '9'))
        return false;
    out = int(v);
    return true;
}

bool validName(const std::string& name)
{
    if (name.empty() || name.size() > 32)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    return true;
}

std::string parseRecorder(const std::string& value, RecorderAddress& out)
{
    const std::string rule = "--recorder must be NAME=HOST:PORT (e.g. shop=192.168.1.20:34567)";
    size_t eq = value.find('=');
    size_t colon = value.rfind(':');
    if (eq == std::string::npos || colon == std::string::npos || colon < eq)
        return rule + ", not '" + value + "'";
    out.name = value.substr(0, eq);
    out.host = value.substr(eq + 1, colon - eq - 1);
    if (!validName(out.name))
        return "--recorder name '" + out.name +
               "' must be 1 to 32 letters, digits, '-' or '_' (it becomes part of the URL)";
    if (out.host.empty() || out.host.size() > 253)
        return rule + ", not '" + value + "'";
    if (!wholeNumber(value.substr(colon + 1), 1, 65535, out.port))
        return "--recorder port must be a whole number from 1 to 65535, not '" +
               value.substr(colon + 1) + "'";
    return "";
}

}   // namespace

bool isLoopbackAddress(const std::string& a)
{
    return a == "localhost" || a == "::1" || a.rfind("127.", 0) == 0;
}

std::string parseGatewayOptions(int argc, char** argv, GatewayOptions& o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return "";
        }
        if (a == "--no-http") {
            o.httpPort = -1;
            continue;
        }
        if (a == "--no-auth" || a == "--list" || a == "--verbose" || a == "--stats" ||
            a == "--no-onvif") {
            (a == "--no-auth"    ? o.noAuth
             : a == "--list"     ? o.listOnly
             : a == "--stats"    ? o.stats
             : a == "--no-onvif" ? o.noOnvif
                                 : o.verbose) = true;
            continue;
        }
        bool takesValue = a == "--recorder" || a == "--rtsp-port" || a == "--listen" ||
                          a == "--secrets" || a == "--idle-close" || a == "--client-queue" ||
                          a == "--http-port" || a == "--max-clients" ||
                          a == "--max-clients-per-address" || a == "--request-timeout" ||
                          a == "--max-header-kb" || a == "--max-body-kb" || a == "--onvif-port" ||
                          a == "--discovery-port";
        if (!takesValue)
            return "unknown option '" + a + "' (try --help)";
        if (i + 1 >= argc)
            return a + " needs a value";
        std::string v = argv[++i];
        if (a == "--recorder") {
            RecorderAddress r;
            std::string why = parseRecorder(v, r);
            if (!why.empty())
                return why;
            for (const RecorderAddress& other : o.recorders)
                if (other.name == r.name)
                    return "--recorder name '" + r.name + "' is given twice";
            o.recorders.push_back(r);
        } else if (a == "--rtsp-port") {
            if (!wholeNumber(v, 0, 65535, o.rtspPort))
                return "--rtsp-port must be a whole number from 0 (any free port) to 65535, not '" +
                       v + "'";
        } else if (a == "--listen") {
            if (v.empty())
                return "--listen must be an address, e.g. 0.0.0.0 or 127.0.0.1";
            o.listen = v;
        } else if (a == "--http-port") {
            if (!wholeNumber(v, 0, 65535, o.httpPort))
                return "--http-port must be a whole number from 0 (any free port) to 65535, not '" +
                       v + "'";
        } else if (a == "--max-clients" || a == "--max-clients-per-address") {
            if (!wholeNumber(v, 1, 100000,
                             a == "--max-clients" ? o.maxClients : o.maxClientsPerAddress))
                return a + " must be a whole number from 1 to 100000, not '" + v + "'";
        } else if (a == "--request-timeout") {
            if (!wholeNumber(v, 1, 3600, o.requestTimeoutSeconds))
                return "--request-timeout must be a whole number of seconds from 1 to 3600, not '" +
                       v + "'";
        } else if (a == "--max-header-kb" || a == "--max-body-kb") {
            if (!wholeNumber(v, 1, 65536, a == "--max-header-kb" ? o.maxHeaderKb : o.maxBodyKb))
                return a + " must be a whole number of KB from 1 to 65536, not '" + v + "'";
        } else if (a == "--secrets") {
            o.secretsFile = v;
        } else if (a == "--idle-close") {
            if (!wholeNumber(v, 0, 3600, o.idleCloseSeconds))
                return "--idle-close must be a whole number of seconds from 0 to 3600, not '" + v +
                       "'";
        } else if (a == "--onvif-port" || a == "--discovery-port") {
            if (!wholeNumber(v, 0, 65535, a == "--onvif-port" ? o.onvifPort : o.discoveryPort))
                return a + " must be a whole number from 0 (any free port) to 65535, not '" + v +
                       "'";
        } else if (a == "--client-queue") {
            if (!wholeNumber(v, 64, 1048576, o.clientQueueKb))
                return "--client-queue must be a whole number of KB from 64 to 1048576, not '" + v +
                       "'";
        }
    }
    if (o.recorders.empty())
        return "at least one --recorder NAME=HOST:PORT is required (try --help)";
    return "";
}

}   // namespace kevra::gateway
