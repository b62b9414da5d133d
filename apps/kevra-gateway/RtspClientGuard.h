// The limits every RTSP client connection is held to, applied when GStreamer's RTSP server
// reports a new client: it counts against the shared connection limits (refused and closed
// when over them) and it is closed if it has not made a request within the request time.
// Called on the main context thread (the server's accept source); the client's request
// signals arrive on its own thread and only set an atomic flag.
#pragma once
#include <gst/rtsp-server/rtsp-server.h>

#include <string>

namespace kevra::gateway {

class ConnectionLimits;

// False when the client is refused (it is closed from the main context shortly). Without
// `limits` (the connection was counted before) nothing is counted here.
bool guardRtspClient(GstRTSPClient* client, const std::string& ip, GMainContext* context,
                     ConnectionLimits* limits, int requestTimeoutMs);

}   // namespace kevra::gateway
