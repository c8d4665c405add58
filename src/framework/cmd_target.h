#pragma once
// Command routing: menu, toolbar and accelerator commands travel along a chain of command
// targets (the active view, the document, the frame, the application) until one handles them,
// and the same chain decides whether a command is enabled.

#include <initializer_list>
#include <optional>
#include <vector>

#include "com/types.h"

class CCmdTarget {
  public:
    virtual ~CCmdTarget() = default;

    // Carries out the command and returns true when this target handles it; false passes it on
    // along the chain. Overrides call their base class for the ids they do not handle.
    virtual bool OnCmdMsg(UINT id);
    // Whether the command is enabled, or nullopt when it is not this target's to decide.
    // A target that handles a command without a rule for it answers true, unless another
    // target further along the chain decides (the item view deletes items, the document
    // enables that): then it answers nullopt.
    virtual std::optional<bool> IsCommandEnabled(UINT id) const;
    // Whether the command shows a check mark (the View menu's bars), or nullopt when it is not
    // this target's to decide.
    virtual std::optional<bool> IsCommandChecked(UINT id) const;

  protected:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = default;
    CCmdTarget& operator=(const CCmdTarget&) = default;
};

// One routing chain, asked in order; null targets are skipped. The GUI builds it from the
// active view, the document, the frame and the application each time a command arrives or a
// menu opens, so it is cheap and holds no ownership.
class CCommandRoute {
  public:
    CCommandRoute(std::initializer_list<CCmdTarget*> targets);
    explicit CCommandRoute(std::vector<CCmdTarget*> targets);

    // The first target that has an answer decides; a command nobody decides is disabled, since
    // nobody would carry it out.
    bool IsEnabled(UINT id) const;
    // The first target that has an answer decides; unchecked when nobody does.
    bool IsChecked(UINT id) const;
    // Carries out an enabled command at the first target that handles it. Returns false when
    // the command is disabled (it does nothing then) or nobody handled it.
    bool Execute(UINT id) const;

  private:
    std::vector<CCmdTarget*> targets_;
};
