#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "app/app_icons.h"
#include "app/app_names.h"
#include "framework/app.h"
#include "framework/commands.h"
#include "framework/document.h"
#include "ui/group_view.h"
#include "ui/item_view.h"

namespace {

constexpr const char* kCommandProperty = "tgvCommand";

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Whether widget is view or lies inside it.
bool IsWithin(const QWidget* widget, const QWidget* view) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        if (w == view) {
            return true;
        }
    }
    return false;
}

// The accelerators of the actions (the keys of the menu commands).
QKeySequence ShortcutOf(UINT id) {
    switch (id) {
        case ID_FILE_NEW:
            return QKeySequence(Qt::CTRL | Qt::Key_N);
        case ID_FILE_OPEN:
            return QKeySequence(Qt::CTRL | Qt::Key_O);
        case ID_FILE_SAVE:
            return QKeySequence(Qt::CTRL | Qt::Key_S);
        default:
            return {};
    }
}

QIcon IconOf(UINT id) {
    switch (id) {
        case ID_FILE_NEW:
            return NewFileIcon();
        case ID_FILE_OPEN:
            return OpenFileIcon();
        case ID_FILE_SAVE:
            return SaveFileIcon();
        case ID_APP_ABOUT:
            return AboutIcon();
        default:
            return {};
    }
}

}  // namespace

const std::vector<CMainFrame::MenuDefinition>& CMainFrame::MainMenu() {
    static const std::vector<MenuDefinition> menu = {
        {"&File",
         {{"&New\tCtrl+N", ID_FILE_NEW},
          {"&Open...\tCtrl+O", ID_FILE_OPEN},
          {"&Save\tCtrl+S", ID_FILE_SAVE},
          {"Save &As...", ID_FILE_SAVE_AS},
          {nullptr, 0},
          {"Recent File", ID_FILE_MRU_FILE1},
          {nullptr, 0},
          {"E&xit", ID_APP_EXIT}}},
        {"&View", {{"&Toolbar", ID_VIEW_TOOLBAR}, {"&Status Bar", ID_VIEW_STATUS_BAR}}},
        {"Server",
         {{"Add", ID_SERVER_ADD},
          {"Delete", ID_SERVER_DELETE},
          {"Properties", ID_SERVER_PROPERTIES}}},
        {"Group",
         {{"Add", ID_GROUP_ADD}, {"Delete", ID_GROUP_DELETE}, {"Properties", ID_GROUP_PROPERTIES}}},
        {"Tag", {{"Add", ID_TAG_ADD}, {"Delete", ID_TAG_DELETE}}},
        {"&Help", {{"&About", ID_APP_ABOUT}}},
    };
    return menu;
}

const std::vector<UINT>& CMainFrame::ToolbarButtons() {
    static const std::vector<UINT> buttons = {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, 0,
                                              ID_APP_ABOUT};
    return buttons;
}

CMainFrame::CMainFrame(CWinApp& app, CDocument& doc, QWidget* parent)
    : QMainWindow(parent), app_(app), doc_(doc) {
    setObjectName("MainFrame");
    setWindowIcon(AppIcon());
    CreateClient();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateAccelerators();
    doc_.AddView(&titleWatcher_);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* /*old*/, QWidget* now) { OnFocusChanged(now); });
    SetCommandSink(&sink_);
    resize(1120, 700);
    UpdateTitle();
    UpdateToolBar();
}

CMainFrame::~CMainFrame() {
    // The views are deleted with the window after this body; nothing may reach the frame then.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    if (CurrentCommandSink() == &sink_) {
        SetCommandSink(nullptr);
    }
    doc_.RemoveView(&titleWatcher_);
}

void CMainFrame::CreateClient() {
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("Splitter");
    splitter_->setChildrenCollapsible(false);
    groupView_ = new CGroupView(splitter_);
    itemView_ = new CItemView(splitter_);
    splitter_->addWidget(groupView_);
    splitter_->addWidget(itemView_);
    // A wider or narrower window changes the grid's pane; the tree keeps its width.
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);
    doc_.AddView(groupView_);
    doc_.AddView(itemView_);
    activeView_ = groupView_;
}

QAction* CMainFrame::MakeAction(const MenuEntry& entry, QObject* parent) {
    auto* action = new QAction(QString::fromUtf8(entry.text), parent);
    const UINT id = entry.id;
    action->setProperty(kCommandProperty, id);
    action->setStatusTip(Text(CommandStatusText(id)));
    const std::string_view tip = CommandToolTip(id);
    if (!tip.empty()) {
        action->setToolTip(Text(tip));
    }
    action->setIcon(IconOf(id));
    action->setIconVisibleInMenu(false);
    const QKeySequence keys = ShortcutOf(id);
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (id == ID_VIEW_TOOLBAR || id == ID_VIEW_STATUS_BAR) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    // The route carries the command out (a checkable action has already toggled itself; the
    // check mark is set again from the route).
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    return action;
}

void CMainFrame::CreateMenus() {
    for (const MenuDefinition& definition : MainMenu()) {
        QMenu* const menu = menuBar()->addMenu(QString::fromUtf8(definition.title));
        menu->setObjectName(QString::fromUtf8(definition.title).remove('&'));
        for (const MenuEntry& entry : definition.entries) {
            if (entry.id == 0) {
                QAction* const separator = menu->addSeparator();
                if (entry.text == nullptr && definition.title == std::string_view("&File") &&
                    actions_.contains(ID_FILE_MRU_FILE1) && recentAnchor_ == nullptr) {
                    recentAnchor_ = separator;
                }
                continue;
            }
            QAction* const action = MakeAction(entry, menu);
            menu->addAction(action);
            actions_[entry.id] = action;
        }
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenu(menu); });
        if (definition.title == std::string_view("&File")) {
            fileMenu_ = menu;
        }
    }
}

void CMainFrame::CreateToolBar() {
    toolBar_ = new QToolBar("Standard", this);
    toolBar_->setObjectName("ToolBar");
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->setMovable(true);
    for (const UINT id : ToolbarButtons()) {
        if (id == 0) {
            toolBar_->addSeparator();
        } else {
            toolBar_->addAction(actions_.at(id));
        }
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
}

void CMainFrame::CreateStatusBar() {
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("StatusBar");
    messagePane_ = new QLabel(Text(kIdleStatusText));
    messagePane_->setObjectName("MessagePane");
    statusBar_->addWidget(messagePane_, 1);
    // The keyboard indicators keep their place; the platform does not tell the lock states, so
    // they stay greyed.
    for (const char* indicator : {"CAP", "NUM", "SCRL"}) {
        auto* label = new QLabel(indicator);
        label->setObjectName(indicator);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setEnabled(false);
        statusBar_->addPermanentWidget(label);
        indicators_.push_back(label);
    }
    setStatusBar(statusBar_);
}

void CMainFrame::CreateAccelerators() {
    // F6 and Shift+F6 move the focus between the two panes. The edit keys (undo, cut, copy,
    // paste) are left to the focused widget, so that editors keep them.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(next, &QShortcut::activated, this, [this] { RunCommand(ID_NEXT_PANE); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
    connect(previous, &QShortcut::activated, this, [this] { RunCommand(ID_PREV_PANE); });
}

CCommandRoute CMainFrame::Route() const {
    std::vector<CCmdTarget*> targets = {activeView_, &doc_, const_cast<CMainFrame*>(this), &app_};
    // The item view deletes the selected items also when the tree has the focus: the document
    // enables that command, so it must not fall through to nobody.
    if (activeView_ != itemView_) {
        targets.push_back(itemView_);
    }
    return CCommandRoute(std::move(targets));
}

bool CMainFrame::RunCommand(UINT id) {
    const bool handled = Route().Execute(id);
    if (!closing_) {
        UpdateToolBar();
    }
    return handled;
}

QMenu* CMainFrame::FindMenu(const QString& title) const {
    for (QAction* action : menuBar()->actions()) {
        if (action->menu() != nullptr && action->text() == title) {
            return action->menu();
        }
    }
    return nullptr;
}

QAction* CMainFrame::FindAction(UINT id) const {
    const auto found = actions_.find(id);
    if (found != actions_.end()) {
        return found->second;
    }
    for (QAction* action : recentActions_) {
        if (CommandOf(action) == id) {
            return action;
        }
    }
    return nullptr;
}

UINT CMainFrame::CommandOf(const QAction* action) {
    if (action == nullptr) {
        return 0;
    }
    const QVariant id = action->property(kCommandProperty);
    return id.isValid() ? id.toUInt() : 0;
}

void CMainFrame::UpdateMenu(QMenu* menu) {
    if (menu == fileMenu_) {
        ListRecentFiles(menu);
    }
    const CCommandRoute route = Route();
    for (QAction* action : menu->actions()) {
        const UINT id = CommandOf(action);
        if (id == 0) {
            continue;
        }
        action->setEnabled(route.IsEnabled(id));
        if (action->isCheckable()) {
            action->setChecked(route.IsChecked(id));
        }
    }
}

void CMainFrame::ListRecentFiles(QMenu* fileMenu) {
    for (QAction* action : recentActions_) {
        fileMenu->removeAction(action);
        action->deleteLater();
    }
    recentActions_.clear();
    const CRecentFileList& list = app_.GetRecentFileList();
    QAction* const placeholder = actions_.at(ID_FILE_MRU_FILE1);
    // The placeholder "Recent File" stands for the empty list; the entries take its place.
    placeholder->setVisible(list.IsEmpty());
    const std::string currentDir = QDir::currentPath().toStdString();
    for (std::size_t i = 0; i < list.GetEntries().size(); ++i) {
        const UINT id = ID_FILE_MRU_FILE1 + static_cast<UINT>(i);
        if (id > ID_FILE_MRU_LAST) {
            break;
        }
        auto* action = new QAction(Text(list.GetMenuText(i, currentDir)), fileMenu);
        action->setProperty(kCommandProperty, id);
        action->setStatusTip(Text(CommandStatusText(id)));
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
        fileMenu->insertAction(recentAnchor_, action);
        recentActions_.push_back(action);
    }
}

void CMainFrame::UpdateToolBar() {
    const CCommandRoute route = Route();
    for (QAction* action : toolBar_->actions()) {
        const UINT id = CommandOf(action);
        if (id != 0) {
            action->setEnabled(route.IsEnabled(id));
        }
    }
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(Text(FrameTitle(doc_, kAppTitle)));
}

void CMainFrame::CloseForExit() {
    closing_ = true;
    hide();
}

bool CMainFrame::OnCmdMsg(UINT id) {
    switch (id) {
        case ID_VIEW_TOOLBAR:
            toolBar_->setVisible(toolBar_->isHidden());
            actions_.at(ID_VIEW_TOOLBAR)->setChecked(!toolBar_->isHidden());
            return true;
        case ID_VIEW_STATUS_BAR:
            statusBar_->setVisible(statusBar_->isHidden());
            actions_.at(ID_VIEW_STATUS_BAR)->setChecked(!statusBar_->isHidden());
            return true;
        case ID_NEXT_PANE:
        case ID_PREV_PANE:
            MoveFocusToOtherPane();
            return true;
        default:
            return CCmdTarget::OnCmdMsg(id);
    }
}

std::optional<bool> CMainFrame::IsCommandEnabled(UINT id) const {
    switch (id) {
        case ID_VIEW_TOOLBAR:
        case ID_VIEW_STATUS_BAR:
        case ID_NEXT_PANE:
        case ID_PREV_PANE:
            return true;
        default:
            return CCmdTarget::IsCommandEnabled(id);
    }
}

std::optional<bool> CMainFrame::IsCommandChecked(UINT id) const {
    switch (id) {
        case ID_VIEW_TOOLBAR:
            return !toolBar_->isHidden();
        case ID_VIEW_STATUS_BAR:
            return !statusBar_->isHidden();
        default:
            return CCmdTarget::IsCommandChecked(id);
    }
}

void CMainFrame::OnFocusChanged(QWidget* now) {
    if (IsWithin(now, groupView_)) {
        activeView_ = groupView_;
    } else if (IsWithin(now, itemView_)) {
        activeView_ = itemView_;
    }
}

void CMainFrame::MoveFocusToOtherPane() {
    // Two panes: the next and the previous pane are the same, the one without the focus.
    QWidget* const target = activeView_ == itemView_ ? static_cast<QWidget*>(groupView_)
                                                     : static_cast<QWidget*>(itemView_);
    activeView_ =
        activeView_ == itemView_ ? static_cast<CView*>(groupView_) : static_cast<CView*>(itemView_);
    if (target == itemView_) {
        itemView_->GetGrid().setFocus(Qt::OtherFocusReason);
    } else {
        groupView_->setFocus(Qt::OtherFocusReason);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        RunCommand(ID_APP_EXIT);
    }
    if (closing_) {
        event->accept();
    } else {
        event->ignore();
    }
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!split_) {
        // The first split: the tree takes a quarter of the window's width, the grid the rest.
        split_ = true;
        const int quarter = width() / 4;
        splitter_->setSizes({quarter, width() - quarter});
    }
}
