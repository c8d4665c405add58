#include "sim/server_groups.h"

#include "com/unicode.h"
#include "sim/group.h"

bool GroupNameTaken(const ServerData& server, std::u16string_view name, const SimGroup* except) {
    for (const ComPtr<SimGroup>& group : server.groups) {
        if (group.Get() != except && group->Name() == name) {
            return true;
        }
    }
    return false;
}

std::u16string UniqueGroupName(ServerData& server) {
    for (;;) {
        std::u16string name = u"Group" + Utf8ToUtf16(std::to_string(++server.generatedNames));
        if (!GroupNameTaken(server, name)) {
            return name;
        }
    }
}

SimGroup* FindGroup(ServerData& server, OPCHANDLE handle) {
    for (const ComPtr<SimGroup>& group : server.groups) {
        if (group->ServerHandle() == handle) {
            return group.Get();
        }
    }
    return nullptr;
}
