#pragma once
// TNetStack: the socket stack's process-wide services for the connection layers: host
// resolution, the dotted-address test and the conversion of socket errors into ENetSocketError.
// POSIX sockets need no start-up, so the stack keeps no state and may be used from any thread.

#include <initializer_list>
#include <string>

namespace sejfko {

class TCancelEvent;

class TNetStack {
public:
    // "LOCALHOST" in any case gives "127.0.0.1"; a dotted address is returned as it reads
    // (leading zeros dropped); anything else is looked up and the first IPv4 address returned.
    // A failed lookup raises ENetSocketError with the resolver's number (11001 host not found),
    // a lookup ended by `cancel` 10004.
    static std::string ResolveHost(const std::string& host, const TCancelEvent* cancel = nullptr);
    // Four parts split at ".", the last being the whole rest, each a decimal number 0 to 255
    // written with one to three digits.
    static bool IsIP(const std::string& text);
    // For a socket call's `result`: false when it succeeded (not -1); true when it failed with
    // one of the `tolerated` error numbers; otherwise raises ENetSocketError with the thread's
    // last socket error.
    static bool CheckForSocketError(long result, std::initializer_list<int> tolerated = {});
    [[noreturn]] static void RaiseSocketError(int errorCode);
    static std::string TranslateSocketErrorMessage(int errorCode);
};

}  // namespace sejfko
