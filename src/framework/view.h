#pragma once
// The view interface: something that shows a document and follows its update hints. The GUI's
// tree and grid implement it; tests implement it to record what they were told.

#include "framework/cmd_target.h"

class CDocument;

class CView : public CCmdTarget {
  public:
    CView() = default;
    // A view still attached leaves its document.
    ~CView() override;
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    // The document this view shows, null while it is attached to none (CDocument::AddView
    // attaches it, RemoveView and the document's destruction detach it).
    CDocument* GetDocument() const { return document_; }

    // The document changed: hint says what (framework/hints.h) and object carries what the
    // hint names; sender is the view that caused the change, null when the document did.
    virtual void OnUpdate(CView* sender, int hint, void* object) = 0;
    // The document was made new or opened and the view shows it for the first time; the default
    // asks for a full update (OnUpdate with no sender, hint 0 and no object).
    virtual void OnInitialUpdate();
    // The document's title changed (a save under a new name, an open, a new document), so a
    // frame showing it can rename its window.
    virtual void OnTitleChanged() {}

  private:
    friend class CDocument;
    CDocument* document_ = nullptr;
};
