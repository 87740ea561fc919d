// SIGINT and SIGTERM close the player as its close keys do: the handler only notes the signal,
// and the window's message pump turns it into a close request.
#pragma once

namespace reel {

void InstallCloseSignalHandlers();
// True once for each signal received since the last call.
bool TakeCloseSignal();

}  // namespace reel
