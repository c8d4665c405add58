#include "model/model_classes.h"

#include "model/columns.h"
#include "model/group_record.h"
#include "model/history.h"
#include "model/item_record.h"
#include "model/server_record.h"

ClassRegistry ModelClasses() {
    ClassRegistry classes;
    classes.Add(clColumn::runtimeClass);
    classes.Add(clColumns::runtimeClass);
    classes.Add(clBaseOPCServer::runtimeClass);
    classes.Add(clBaseOPCGroup::runtimeClass);
    classes.Add(clBaseOPCItem::runtimeClass);
    classes.Add(clHistorical::runtimeClass);
    classes.Add(clHistoricals::runtimeClass);
    return classes;
}
