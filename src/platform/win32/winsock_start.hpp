#pragma once

namespace sejfko {

// Starts Windows Sockets 2.2 once per process (on first use); false when it cannot be started.
bool StartWinsock();

}  // namespace sejfko
