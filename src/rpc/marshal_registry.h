#pragma once
// The marshalers of every interface that can cross, one function per interface.

#include "rpc/marshal.h"

namespace tgv::rpc {

InterfaceMarshaler UnknownMarshaler();
InterfaceMarshaler ClassFactoryMarshaler();
InterfaceMarshaler OpcServerMarshaler();
InterfaceMarshaler OpcCommonMarshaler();
InterfaceMarshaler BrowseMarshaler();
InterfaceMarshaler EnumStringMarshaler();
InterfaceMarshaler EnumUnknownMarshaler();
InterfaceMarshaler GroupStateMgtMarshaler();
InterfaceMarshaler ItemMgtMarshaler();
InterfaceMarshaler EnumItemAttributesMarshaler();
InterfaceMarshaler SyncIoMarshaler();
InterfaceMarshaler AsyncIo2Marshaler();
InterfaceMarshaler AsyncIoMarshaler();
InterfaceMarshaler ConnectionPointContainerMarshaler();
InterfaceMarshaler ConnectionPointMarshaler();
InterfaceMarshaler EnumConnectionsMarshaler();
InterfaceMarshaler EnumConnectionPointsMarshaler();
InterfaceMarshaler DataCallbackMarshaler();
InterfaceMarshaler ShutdownMarshaler();
InterfaceMarshaler DataObjectMarshaler();
InterfaceMarshaler AdviseSinkMarshaler();

}  // namespace tgv::rpc
