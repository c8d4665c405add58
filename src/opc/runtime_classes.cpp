#include "opc/runtime_classes.h"

#include "model/model_classes.h"
#include "opc/opc_list.h"
#include "opc/opc_server.h"

ClassRegistry RuntimeClasses() {
    ClassRegistry classes = ModelClasses();
    classes.Add(COPCServer::runtimeClass);
    classes.Add(clOPCList::runtimeClass);
    return classes;
}
