#pragma once
// The UI services: how every layer shows a modal message box and writes a diagnostic trace
// line, without knowing whether a window, a console or a test answers.
//
// The program installs its implementation once (the Qt application, the command-line tool, a
// test's scripted double); until then, and after it is removed, a console implementation
// answers.

#include <string_view>

#include "com/types.h"
#include "framework/format.h"
#include "framework/message_box.h"

class IUiServices {
  public:
    // Shows text in a modal box with the buttons and icon of type (MB_*) and returns the
    // answer (ID*).
    virtual int MessageBox(std::string_view text, UINT type) = 0;
    // Writes a diagnostic line to standard output; it is never shown to the operator. The text
    // is written as given: a line carries its own "\n".
    virtual void Trace(std::string_view line) = 0;

  protected:
    ~IUiServices() = default;
};

// The services in use: the installed ones, or the process's console services.
IUiServices& CurrentUiServices();

// Installs services (not owned; they must outlive their installation) and returns the ones
// installed before, null when those were the console services. Null reinstates the console.
IUiServices* SetUiServices(IUiServices* services);

// Installs services for the lifetime of a scope and restores the previous ones after it.
class ScopedUiServices {
  public:
    explicit ScopedUiServices(IUiServices& services) : previous_(SetUiServices(&services)) {}
    ~ScopedUiServices() { SetUiServices(previous_); }
    ScopedUiServices(const ScopedUiServices&) = delete;
    ScopedUiServices& operator=(const ScopedUiServices&) = delete;

  private:
    IUiServices* previous_;
};

// A modal message box through the current services; returns the answer.
int AfxMessageBox(std::string_view text, UINT type = MB_OK);

// A trace line through the current services, as given or built with the C printf rules.
// Text that is not a format (a name, a server's string) goes through the first overload as a
// std::string or std::string_view: a bare char pointer is taken as a format.
void Trace(std::string_view line);
void Trace(const char* fmt, ...) TGV_PRINTF_FORMAT(1, 2);
