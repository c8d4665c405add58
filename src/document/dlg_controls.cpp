// Control state and the parsing and formatting of number fields.

#include "document/dlg_controls.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "framework/format.h"
#include "framework/ui_services.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A signed whole number of the whole text, with an optional sign; nullopt when it does not read
// or leaves the 64-bit range.
std::optional<std::int64_t> ParseWhole(std::string_view text, bool allowMinus) {
    text = Trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        if (negative && !allowMinus) {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    std::int64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return negative ? -magnitude : magnitude;
}

void Refuse(CDlgControls& controls, int id, const char* prompt) {
    AfxMessageBox(prompt, MB_OK | MB_ICONEXCLAMATION);
    controls.SetFocus(id);
}

}  // namespace

const CDlgControls::Control* CDlgControls::Find(int id) const {
    const auto at = controls_.find(id);
    return at == controls_.end() ? nullptr : &at->second;
}

const std::string& CDlgControls::GetText(int id) const {
    static const std::string empty;
    const Control* control = Find(id);
    return control != nullptr ? control->text : empty;
}

void CDlgControls::SetText(int id, std::string text) {
    controls_[id].text = std::move(text);
}

int CDlgControls::GetCheck(int id) const {
    const Control* control = Find(id);
    return control != nullptr ? control->check : 0;
}

void CDlgControls::SetCheck(int id, int state) {
    controls_[id].check = state;
}

bool CDlgControls::IsEnabled(int id) const {
    const Control* control = Find(id);
    return control == nullptr || control->enabled;
}

void CDlgControls::Enable(int id, bool enable) {
    controls_[id].enabled = enable;
}

std::optional<double> ParseDoubleField(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> ParseIntField(std::string_view text) {
    const auto value = ParseWhole(text, true);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

std::optional<std::uint32_t> ParseUIntField(std::string_view text) {
    const auto value = ParseWhole(text, false);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

std::string DoubleFieldText(double value) {
    return Format("%.*g", 15, value);
}

bool PullDouble(CDlgControls& controls, int id, double& member) {
    const auto value = ParseDoubleField(controls.GetText(id));
    if (!value) {
        Refuse(controls, id, kPromptNumber);
        return false;
    }
    member = *value;
    return true;
}

bool PullInt(CDlgControls& controls, int id, std::int32_t& member) {
    const auto value = ParseIntField(controls.GetText(id));
    if (!value) {
        Refuse(controls, id, kPromptInteger);
        return false;
    }
    member = *value;
    return true;
}

bool PullUInt(CDlgControls& controls, int id, std::uint32_t& member) {
    const auto value = ParseUIntField(controls.GetText(id));
    if (!value) {
        Refuse(controls, id, kPromptPositiveInteger);
        return false;
    }
    member = *value;
    return true;
}
