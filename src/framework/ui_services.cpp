#include "framework/ui_services.h"

#include <atomic>

#include "framework/console_ui.h"

namespace {

std::atomic<IUiServices*> g_installed{nullptr};

// Constant-initialised and trivially destructible, so it serves from before the first dynamic
// initialiser to after the last static destructor.
constinit ConsoleUiServices g_console;

}  // namespace

IUiServices& CurrentUiServices() {
    IUiServices* const installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : g_console;
}

IUiServices* SetUiServices(IUiServices* services) {
    return g_installed.exchange(services, std::memory_order_acq_rel);
}

int AfxMessageBox(std::string_view text, UINT type) {
    return CurrentUiServices().MessageBox(text, type);
}

void Trace(std::string_view line) {
    CurrentUiServices().Trace(line);
}

void Trace(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    const std::string line = FormatV(fmt, args);
    va_end(args);
    CurrentUiServices().Trace(line);
}
