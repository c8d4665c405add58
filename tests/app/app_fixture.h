#pragma once
// The test bed of the application: a private registry with the in-process simulation server,
// a private settings area, scripted message boxes and dialogs, and the application objects
// started on demand over the test program's QApplication.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

#include "app/main_app.h"
#include "app/main_frame.h"
#include "com/com_init.h"
#include "document/doc.h"
#include "framework/scripted_dialog.h"
#include "framework/scripted_ui.h"
#include "grid/grid_cell.h"
#include "sim/simulator.h"
#include "ui/item_grid.h"

namespace app_test {

class TempDirectory {
  public:
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tgv-app-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
    }
    ~TempDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    std::string Path(std::string_view name) const { return (dir_ / name).string(); }
    const std::filesystem::path& Dir() const { return dir_; }

  private:
    std::filesystem::path dir_;
};

// Points TAGVISTA_REGISTRY at a directory of its own for its lifetime.
class ScopedRegistry {
  public:
    ScopedRegistry() {
        if (const char* old = std::getenv("TAGVISTA_REGISTRY")) {
            saved_ = old;
        }
        ::setenv("TAGVISTA_REGISTRY", dir_.Path("registry").c_str(), 1);
    }
    ~ScopedRegistry() {
        if (saved_) {
            ::setenv("TAGVISTA_REGISTRY", saved_->c_str(), 1);
        } else {
            ::unsetenv("TAGVISTA_REGISTRY");
        }
    }
    ScopedRegistry(const ScopedRegistry&) = delete;
    ScopedRegistry& operator=(const ScopedRegistry&) = delete;

  private:
    TempDirectory dir_;
    std::optional<std::string> saved_;
};

// Keeps the settings of the application in a directory of its own.
class ScopedSettings {
  public:
    ScopedSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir_.Path("config")));
    }
    const TempDirectory& Dir() const { return dir_; }

  private:
    TempDirectory dir_;
};

// Runs the event loop until the condition holds or the time is up; whether it held.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
    return true;
}

// The text of a grid cell (row -1 is the header row).
inline std::string CellText(const CItemGrid& grid, int column, int row) {
    CGridCell cell;
    grid.ReadCell(column, row, &cell);
    return cell.GetText();
}

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Every application object starts COM afresh, as a process does.
        GetComTestHooks().Reset();
        ASSERT_TRUE(SUCCEEDED(RegisterSimulatorInProcess(sim)));
    }
    void TearDown() override {
        Stop();
        RevokeSimulatorInProcess();
    }

    bool Start(const std::optional<std::string>& file = std::nullopt) {
        app = std::make_unique<CMainApp>(CMainApp::Services{&ui, &dialogs});
        return app->InitInstance(file);
    }
    void Stop() {
        if (app != nullptr) {
            app->ExitInstance();
            app.reset();
        }
    }
    CMainFrame& Frame() { return *app->GetMainFrame(); }
    CDoc& Doc() { return *app->GetDoc(); }

    ScopedRegistry registry;
    ScopedSettings settings;
    TempDirectory files;
    ScriptedUiServices ui;
    ScriptedDialogHost dialogs;
    Simulator sim;
    std::unique_ptr<CMainApp> app;
};

}  // namespace app_test
