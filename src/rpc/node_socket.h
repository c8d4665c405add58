#pragma once
// The socket options of a connection between a client and a node agent.

namespace tgv::rpc {

// Small messages go out at once (every call waits for its answer), and a peer that vanished
// without closing (a machine switched off, a cable pulled) is noticed within about half a
// minute, even on a connection nothing is sent on, instead of never. Options a socket refuses
// are left as they are.
void ConfigureNodeSocket(int fd);

}  // namespace tgv::rpc
