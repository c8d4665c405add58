#include "ui/command_sink.h"

namespace {
ICommandSink* g_commandSink = nullptr;
}  // namespace

void SetCommandSink(ICommandSink* sink) {
    g_commandSink = sink;
}

ICommandSink* CurrentCommandSink() {
    return g_commandSink;
}
