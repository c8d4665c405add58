#pragma once
// Where the views send the commands of their context menus: the frame's command route (the
// active view, the document, the frame, the application). The frame installs itself; tests
// install their own sink.

#include "com/types.h"

class ICommandSink {
  public:
    // Carries out the command along the route (nothing when it is disabled).
    virtual void ExecuteCommand(UINT id) = 0;
    // Whether the route enables the command.
    virtual bool IsCommandEnabled(UINT id) const = 0;

  protected:
    ~ICommandSink() = default;
};

// Installs the sink (not owned; null removes it); the views ask for it each time a menu opens.
void SetCommandSink(ICommandSink* sink);
// The installed sink, null when there is none.
ICommandSink* CurrentCommandSink();
