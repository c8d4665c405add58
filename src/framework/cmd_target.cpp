#include "framework/cmd_target.h"

#include <utility>

bool CCmdTarget::OnCmdMsg(UINT /*id*/) {
    return false;
}

std::optional<bool> CCmdTarget::IsCommandEnabled(UINT /*id*/) const {
    return std::nullopt;
}

std::optional<bool> CCmdTarget::IsCommandChecked(UINT /*id*/) const {
    return std::nullopt;
}

CCommandRoute::CCommandRoute(std::initializer_list<CCmdTarget*> targets) : targets_(targets) {}

CCommandRoute::CCommandRoute(std::vector<CCmdTarget*> targets) : targets_(std::move(targets)) {}

bool CCommandRoute::IsEnabled(UINT id) const {
    for (const CCmdTarget* target : targets_) {
        if (target == nullptr) {
            continue;
        }
        if (const std::optional<bool> enabled = target->IsCommandEnabled(id)) {
            return *enabled;
        }
    }
    return false;
}

bool CCommandRoute::IsChecked(UINT id) const {
    for (const CCmdTarget* target : targets_) {
        if (target == nullptr) {
            continue;
        }
        if (const std::optional<bool> checked = target->IsCommandChecked(id)) {
            return *checked;
        }
    }
    return false;
}

bool CCommandRoute::Execute(UINT id) const {
    if (!IsEnabled(id)) {
        return false;
    }
    for (CCmdTarget* target : targets_) {
        if (target != nullptr && target->OnCmdMsg(id)) {
            return true;
        }
    }
    return false;
}
