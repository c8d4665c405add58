#pragma once
// What a client program installs once at start-up so that activation reaches real servers:
// local servers started as processes, and the registry and servers of other nodes through
// their node agents.
namespace tgv::rpc {

// Installs the process's transport providers (idempotent; they stay until the process ends).
void InstallTransportProviders();

}  // namespace tgv::rpc
