#pragma once
// CModelDialog: the Qt side shared by the dialogs over the headless dialog models. It lays
// controls out in dialog units, gives each its control id ("controlId" property, as the grid
// does), mirrors what the operator types and clicks into the model's controls at once, and
// shows the model's texts, checks and enabling again after every handler. The model decides:
// OK closes only when the model accepts it, Escape and the close box go through CancelRequested.

#include <functional>
#include <map>

#include <QDialog>

#include "com/types.h"

class CDlgControls;
class IDialogModel;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CModelDialog : public QDialog {
    Q_OBJECT

  public:
    // controls may be null for a dialog whose model keeps no control texts.
    CModelDialog(IDialogModel& model, CDlgControls* controls, QWidget* parent);
    ~CModelDialog() override;

    // Opens the model (OnInitDialog), shows its fields and runs the dialog modally; returns how
    // it ended (IDOK, IDCANCEL or another id).
    int Run();

    // The operator pressed OK (button 1): closes with IDOK when the model accepts.
    void OkPressed();

    // A rectangle in dialog units, which follow the dialog's font as on the original platform.
    QRect Du(int x, int y, int width, int height) const;

  protected:
    // The model has been opened: show what it holds (the base shows the controls).
    virtual void ShowModel();
    // Escape, the close box or Cancel: the base tells the model and closes with IDCANCEL.
    virtual void CancelRequested();

    void reject() override;

    // Controls. Edits and check boxes are bound to the model's control of the same id.
    QPushButton* AddButton(int id, const char* text, QRect rect, bool isDefault = false);
    QLineEdit* AddEdit(int id, QRect rect, bool readOnly = false);
    // onClick runs after the new check state reached the model's controls.
    QCheckBox* AddCheck(int id, const char* text, QRect rect, std::function<void()> onClick = {});
    // Radio buttons are not exclusive by themselves: the model decides which one is checked.
    QRadioButton* AddRadio(int id, const char* text, QRect rect, std::function<void()> onClick);
    QLabel* AddLabel(const char* text, QRect rect, Qt::Alignment align = Qt::AlignLeft);
    QGroupBox* AddGroupBox(const char* text, QRect rect);
    // Sizes the dialog in dialog units.
    void SetSizeDu(int width, int height);

    // Shows the model's control texts, checks and enabling in the bound widgets.
    void RefreshControls();
    // After a refused pull: the focus goes back to the field the model named.
    void FocusRefusedField();

    IDialogModel& Model() const { return model_; }

  private:
    IDialogModel& model_;
    CDlgControls* controls_;
    std::map<int, QWidget*> bound_;
    bool refreshing_ = false;  // programmatic changes are not the operator's
};
