#include "tgvtool/dump.h"

#include "document/doc.h"
#include "model/columns.h"
#include "model/group_record.h"
#include "model/history.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "tgvtool/json_writer.h"

namespace {

void DumpSample(JsonWriter& json, const clHistorical& sample) {
    json.BeginObject();
    json.Key("number");
    json.Int(sample.number);
    json.Key("timestamp");
    json.String(sample.timestamp.Format().view());
    json.Key("value");
    json.Double(sample.value);
    json.Key("quality");
    json.UInt(sample.quality);
    json.Key("numeric");
    json.Bool(sample.numeric);
    json.Key("remark");
    json.String(sample.remark);
    json.EndObject();
}

void DumpHistory(JsonWriter& json, const clHistoricals& history) {
    json.BeginObject();
    json.Key("next_number");
    json.Int(history.GetNextNumber());
    json.Key("enabled");
    json.Bool(history.enabled);
    json.Key("capacity");
    json.Int(history.capacity);
    json.Key("overwrite");
    json.Bool(history.overwrite);
    json.Key("samples");
    json.BeginArray();
    history.ForEach([&json](const clHistorical& sample) { DumpSample(json, sample); });
    json.EndArray();
    json.EndObject();
}

void DumpItem(JsonWriter& json, const clBaseOPCItem& item) {
    json.BeginObject();
    json.Key("id");
    json.Int(item.id);
    json.Key("name");
    json.String(item.displayName);
    json.Key("path");
    json.String(item.opcItemId);
    json.Key("scale_type");
    json.Int(item.scaleType);
    json.Key("scale_state");
    json.Bool(item.scaleEnabled);
    json.Key("rawmin");
    json.Double(item.rawMin);
    json.Key("rawmax");
    json.Double(item.rawMax);
    json.Key("engmin");
    json.Double(item.engMin);
    json.Key("engmax");
    json.Double(item.engMax);
    json.Key("scale_factor");
    json.Double(item.scaleFactor);
    json.Key("access");
    json.UInt(item.accessRights);
    json.Key("value");
    json.Double(item.value);
    json.Key("value_text");
    json.String(item.valueText);
    json.Key("active");
    json.Int(item.active);
    json.Key("requested_type");
    json.UInt(item.requestedType);
    json.Key("canonical_type");
    json.UInt(item.canonicalType);
    json.Key("timestamp");
    json.String(item.timestamp.Format().view());
    json.Key("quality");
    json.UInt(item.quality);
    json.Key("state");
    json.Int(item.state);
    json.Key("history");
    DumpHistory(json, item.history);
    json.EndObject();
}

void DumpGroup(JsonWriter& json, const clBaseOPCGroup& group) {
    json.BeginObject();
    json.Key("id");
    json.Int(group.id);
    json.Key("server_id");
    json.Int(group.serverId);
    json.Key("reserved");
    json.Int(group.reserved);
    json.Key("update_rate");
    json.Int(group.updateRate);
    json.Key("name");
    json.String(group.name);
    json.Key("active");
    json.Int(group.active);
    json.Key("items");
    json.BeginArray();
    for (const auto& item : group.Items()) {
        DumpItem(json, *item);
    }
    json.EndArray();
    json.EndObject();
}

void DumpServer(JsonWriter& json, const clBaseOPCServer& server) {
    json.BeginObject();
    json.Key("id");
    json.Int(server.id);
    json.Key("servername");
    json.String(server.serverName);
    json.Key("nodename");
    json.String(server.nodeName);
    json.Key("remote");
    json.Int(server.remote);
    json.Key("next_group_number");
    json.Int(server.nextGroupNumber);
    json.Key("groups");
    json.BeginArray();
    for (const auto& group : server.Groups()) {
        DumpGroup(json, *group);
    }
    json.EndArray();
    json.EndObject();
}

void DumpColumn(JsonWriter& json, const clColumn& set) {
    json.BeginObject();
    json.Key("name");
    json.String(set.name);
    json.Key("kind");
    json.Int(set.kind);
    json.Key("widths");
    json.BeginInlineArray();
    for (const std::int32_t width : set.widths) {
        json.Int(width);
    }
    json.EndArray();
    json.EndObject();
}

}  // namespace

std::string DumpDocumentJson(const CDoc& doc) {
    JsonWriter json;
    json.BeginObject();
    json.Key("reserved");
    json.Int(doc.reservedCounter);
    json.Key("next_item_id");
    json.Int(doc.nextItemId);
    json.Key("next_group_id");
    json.Int(doc.nextGroupId);
    json.Key("next_server_id");
    json.Int(doc.nextServerId);
    json.Key("next_server_number");
    json.Int(doc.nextServerNumber);
    json.Key("columns");
    json.BeginArray();
    for (const auto& set : doc.columns.Sets()) {
        DumpColumn(json, *set);
    }
    json.EndArray();
    json.Key("servers");
    json.BeginArray();
    for (const auto& server : doc.serverList.ServerRecords()) {
        DumpServer(json, *server);
    }
    json.EndArray();
    json.Key("live_servers");
    json.UInt(doc.serverList.Servers().size());
    json.EndObject();
    return json.Text();
}
