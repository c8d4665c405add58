#pragma once
// CMainFrame: the main window. It carries the menu bar, the toolbar, the status bar and a
// splitter with the server and group tree on the left and the item view on the right. Menu,
// toolbar, accelerator and context-menu commands travel along one command route (the active
// view, the document, the frame, the application); the route also decides which commands are
// enabled or checked, which the menus show each time they open.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>

#include "com/types.h"
#include "framework/cmd_target.h"
#include "framework/view.h"
#include "ui/command_sink.h"

class CDocument;
class CGroupView;
class CItemView;
class CWinApp;
class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;

class CMainFrame final : public QMainWindow, public CCmdTarget {
    Q_OBJECT

  public:
    // One entry of a menu as it is built: its text and command, or a separator (id 0).
    struct MenuEntry {
        const char* text;
        UINT id;
    };
    struct MenuDefinition {
        const char* title;
        std::vector<MenuEntry> entries;
    };
    // The main menu, in order.
    static const std::vector<MenuDefinition>& MainMenu();
    // The toolbar's buttons, in order; 0 is a separator.
    static const std::vector<UINT>& ToolbarButtons();

    // Builds the window for the application and its document: the splitter with both views
    // (attached to the document), the toolbar and the status bar. Installs itself as the views'
    // command sink.
    CMainFrame(CWinApp& app, CDocument& doc, QWidget* parent = nullptr);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    CGroupView& GetGroupView() { return *groupView_; }
    CItemView& GetItemView() { return *itemView_; }
    QSplitter& GetSplitter() { return *splitter_; }
    QToolBar& GetToolBar() { return *toolBar_; }
    QStatusBar& GetStatusBarWidget() { return *statusBar_; }
    // The status bar's message pane ("Ready" while no command is highlighted) and indicators.
    QLabel& GetMessagePane() { return *messagePane_; }
    std::vector<QLabel*> GetIndicators() const { return indicators_; }

    // The route a command takes now: the active view, the document, the frame, the application.
    CCommandRoute Route() const;
    // Carries out the command when the route enables it; then brings the toolbar and the title
    // up to date. True when someone handled it.
    bool RunCommand(UINT id);
    bool IsEnabled(UINT id) const { return Route().IsEnabled(id); }
    bool IsChecked(UINT id) const { return Route().IsChecked(id); }

    // The view that has (or last had) the keyboard focus; the tree until one of them had it.
    CView* GetActiveView() const { return activeView_; }

    // The menu-bar popups by title ("&File", ...), null for another title.
    QMenu* FindMenu(const QString& title) const;
    // The action of a command in the menus or the toolbar, null when there is none.
    QAction* FindAction(UINT id) const;
    // The command of an action, 0 for an action without one.
    static UINT CommandOf(const QAction* action);
    // Sets enabling and check marks of the menu's commands from the route (as when it opens);
    // the File menu also lists the recent files again.
    void UpdateMenu(QMenu* menu);
    // Sets enabling of the toolbar's buttons from the route.
    void UpdateToolBar();
    // The window title from the document's title and the application's.
    void UpdateTitle();

    // The application is quitting: the next close is accepted without asking again.
    void CloseForExit();

    // The frame's own commands: the View menu's bars and the keys that move between the panes.
    bool OnCmdMsg(UINT id) override;
    std::optional<bool> IsCommandEnabled(UINT id) const override;
    std::optional<bool> IsCommandChecked(UINT id) const override;

  protected:
    // The close box asks Exit's save question; a cancelled question keeps the window.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // The views' context menus reach the route through this.
    class Sink final : public ICommandSink {
      public:
        explicit Sink(CMainFrame& frame) : frame_(frame) {}
        void ExecuteCommand(UINT id) override { frame_.RunCommand(id); }
        bool IsCommandEnabled(UINT id) const override { return frame_.IsEnabled(id); }

      private:
        CMainFrame& frame_;
    };
    // Follows the document's title for the window title; shows nothing.
    class TitleWatcher final : public CView {
      public:
        explicit TitleWatcher(CMainFrame& frame) : frame_(frame) {}
        void OnUpdate(CView* /*sender*/, int /*hint*/, void* /*object*/) override {}
        void OnTitleChanged() override { frame_.UpdateTitle(); }

      private:
        CMainFrame& frame_;
    };

    void CreateClient();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateAccelerators();
    QAction* MakeAction(const MenuEntry& entry, QObject* parent);
    void ListRecentFiles(QMenu* fileMenu);
    void OnFocusChanged(QWidget* now);
    void MoveFocusToOtherPane();

    CWinApp& app_;
    CDocument& doc_;
    // Declaration order as the window is made: the bars, the splitter and the views in it.
    QStatusBar* statusBar_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QSplitter* splitter_ = nullptr;
    CGroupView* groupView_ = nullptr;
    CItemView* itemView_ = nullptr;
    QLabel* messagePane_ = nullptr;
    std::vector<QLabel*> indicators_;
    std::map<UINT, QAction*> actions_;
    QMenu* fileMenu_ = nullptr;
    QAction* recentAnchor_ = nullptr;  // the separator after the recent files
    std::vector<QAction*> recentActions_;
    CView* activeView_ = nullptr;
    Sink sink_{*this};
    TitleWatcher titleWatcher_{*this};
    bool split_ = false;
    bool closing_ = false;
};
