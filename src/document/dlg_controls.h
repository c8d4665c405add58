#pragma once
// The controls of a headless dialog as the operator sees them: the text of each edit, the state
// of each check box and whether each control is enabled. A dialog model keeps its typed members
// apart from these and moves values between the two with its data exchange: pushing formats the
// members into the controls, pulling parses the controls into the members and refuses text that
// does not read as the member's type. The Qt dialogs show the controls and write what the
// operator types into them; tests do the same through the scripted dialog host.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class CDlgControls {
  public:
    // A control never touched is an empty, unchecked, enabled one.
    const std::string& GetText(int id) const;
    void SetText(int id, std::string text);
    int GetCheck(int id) const;  // 0 clear, 1 checked
    void SetCheck(int id, int state);
    bool IsEnabled(int id) const;
    void Enable(int id, bool enable);

    // The control that a refused pull sent the focus back to; 0 before any refusal.
    int GetFocus() const { return focus_; }
    void SetFocus(int id) { focus_ = id; }

  private:
    struct Control {
        std::string text;
        int check = 0;
        bool enabled = true;
    };
    const Control* Find(int id) const;

    std::map<int, Control> controls_;
    int focus_ = 0;
};

// The refusals of the number fields.
inline constexpr const char* kPromptNumber = "Please enter a number.";
inline constexpr const char* kPromptInteger = "Please enter an integer.";
inline constexpr const char* kPromptPositiveInteger = "Please enter a positive integer.";

// Readers of a field's whole text; blanks around the number are allowed, anything else is not.
// A number beyond the member's range is refused rather than cut, and so are infinities and NaN.
std::optional<double> ParseDoubleField(std::string_view text);
std::optional<std::int32_t> ParseIntField(std::string_view text);
std::optional<std::uint32_t> ParseUIntField(std::string_view text);

// The text of a double field: up to 15 significant digits.
std::string DoubleFieldText(double value);

// Pulls of one field into its member. On text that does not parse they show the field's prompt
// in a message box, send the focus back to the field, leave the member as it was and return
// false.
bool PullDouble(CDlgControls& controls, int id, double& member);
bool PullInt(CDlgControls& controls, int id, std::int32_t& member);
bool PullUInt(CDlgControls& controls, int id, std::uint32_t& member);
