#pragma once
// TNetTCPClient: a connection that opens itself to Host:Port.

#include <functional>
#include <string>

#include "transfer/net_tcp_connection.hpp"

namespace sejfko {

class TNetTCPClient : public TNetTCPConnection {
public:
    virtual void DoOnConnected();
    // Binds to BoundIP (empty: any), resolves Host and connects within Timeouts.Connect. Raises
    // ENetAlreadyConnected when a socket is held; any other failure closes the socket and is
    // passed on (ENetSocketError 10060 when the time limit passed).
    virtual void Connect();

    std::string Host;
    int Port = 0;
    std::string BoundIP;
    bool UseNagle = true;
    std::function<void(TNetTCPClient* Sender)> OnConnected;
};

}  // namespace sejfko
