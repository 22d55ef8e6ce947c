#include "main_thread_bridge.h"
namespace melvanto::gui {
void InstallMainThreadBridge() {}
void RemoveMainThreadBridge() {}
}  // namespace melvanto::gui
