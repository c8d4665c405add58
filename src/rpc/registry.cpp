#include <vector>

#include "rpc/marshal_registry.h"

namespace tgv::rpc {

const InterfaceMarshaler* FindMarshaler(REFIID iid) {
    static const std::vector<InterfaceMarshaler> marshalers = {
        UnknownMarshaler(),
        ClassFactoryMarshaler(),
        OpcServerMarshaler(),
        OpcCommonMarshaler(),
        BrowseMarshaler(),
        EnumStringMarshaler(),
        EnumUnknownMarshaler(),
        GroupStateMgtMarshaler(),
        ItemMgtMarshaler(),
        EnumItemAttributesMarshaler(),
        SyncIoMarshaler(),
        AsyncIo2Marshaler(),
        AsyncIoMarshaler(),
        ConnectionPointContainerMarshaler(),
        ConnectionPointMarshaler(),
        EnumConnectionsMarshaler(),
        EnumConnectionPointsMarshaler(),
        DataCallbackMarshaler(),
        ShutdownMarshaler(),
        DataObjectMarshaler(),
        AdviseSinkMarshaler(),
    };
    for (const InterfaceMarshaler& m : marshalers) {
        if (m.iid == iid) {
            return &m;
        }
    }
    return nullptr;
}

}  // namespace tgv::rpc
