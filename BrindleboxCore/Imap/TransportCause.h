#pragma once

namespace bx {

// Why a connection could not be made or kept, as far as the transport can
// tell. Carried on TransportError and IMAPError so that callers choose their
// words by cause instead of searching the message.
enum class TransportCause {
    unknown,      // a socket error without a more precise cause, or not a transport failure
    dnsFailure,   // the host name could not be resolved
    refused,      // nothing listens on that port (TCP reset on connect)
    unreachable,  // this computer has no route to any network (offline, network down)
    timeout,      // no progress within the time limit
    tls,          // TLS could not be set up: handshake failure, untrusted or wrong certificate
};

}  // namespace bx
