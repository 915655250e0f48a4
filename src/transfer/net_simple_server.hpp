#pragma once
// TNetSimpleServer: the listening end of an active-mode data connection. It listens on BoundIP
// with a port the system picks, then accepts the one connection the server opens.

#include <string>

#include "transfer/net_tcp_connection.hpp"

namespace sejfko {

class TNetSimpleServer : public TNetTCPConnection {
public:
    ~TNetSimpleServer() override;

    // Makes AcceptConnection give up at its next check.
    virtual void Abort();
    // Allocates the listening socket, binds it to BoundIP and BoundPort and listens (backlog 1).
    virtual void BeginListen();
    // Waits for the connection and accepts it; the listening socket is closed either way. Only a
    // connection from `expectedPeerIP` (when not empty) is taken: another host's attempt is shut
    // and the wait goes on. Raises ENetSocketError 10060 when Timeouts.Accept passes first, 10004
    // when aborted.
    virtual void AcceptConnection(const std::string& expectedPeerIP = "");
    void ResetConnection() override;

    // The listening socket's address once BeginListen has run.
    const std::string& ListenIP() const { return FListener.IP; }
    int ListenPort() const { return FListener.Port; }

    std::string BoundIP;
    int BoundPort = 0;
    int AcceptWait = 0;

private:
    TNetSocketHandle FListener;
    bool FListening = false;
    bool FAbortRequested = false;
};

}  // namespace sejfko
