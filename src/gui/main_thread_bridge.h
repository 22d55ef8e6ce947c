#pragma once

// Hands the engine's events to Qt's user-interface thread: the engine's main-thread queue
// is run from the Qt event loop whenever the event thread has something for it.

namespace melvanto::gui {

// Call once on the user-interface thread after the QApplication exists.
void InstallMainThreadBridge();
// Call before the QApplication goes away.
void RemoveMainThreadBridge();

// Installs on construction, removes on destruction.
class TMainThreadBridge {
 public:
  TMainThreadBridge() { InstallMainThreadBridge(); }
  ~TMainThreadBridge() { RemoveMainThreadBridge(); }
  TMainThreadBridge(const TMainThreadBridge&) = delete;
  TMainThreadBridge& operator=(const TMainThreadBridge&) = delete;
};

}  // namespace melvanto::gui
