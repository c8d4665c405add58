#include "framework/view.h"

#include "framework/document.h"

CView::~CView() {
    if (document_ != nullptr) {
        document_->RemoveView(this);
    }
}

void CView::OnInitialUpdate() {
    OnUpdate(nullptr, 0, nullptr);
}
