#pragma once
// The demonstration configuration (examples/demo.tgv), built with the document's own commands
// against a reachable simulation server: one local simulator with a fast and a slow group of
// numeric, boolean and text items, one of them scaled and two keeping a history.

#include <string>

class CDoc;

namespace app_test {

// The groups of the demonstration, and the rates they run at.
inline constexpr const char* kDemoFastGroup = "Fast";
inline constexpr int kDemoFastRate = 250;
inline constexpr const char* kDemoPlantGroup = "Plant";
inline constexpr int kDemoPlantRate = 1000;
inline constexpr int kDemoItemCount = 10;

// Fills a new document with the demonstration; false when a server, group or item was refused
// (the simulator must be reachable under its ProgID).
bool BuildDemoConfiguration(CDoc& doc);

// Where the checked-in demonstration lives.
std::string DemoConfigurationPath();

}  // namespace app_test
