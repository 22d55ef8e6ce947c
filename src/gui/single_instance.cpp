#include "single_instance.h"
namespace melvanto::gui {
TSingleInstance::TSingleInstance(const QString& name) : Path_(SocketPath(name)) {}
TSingleInstance::~TSingleInstance() = default;
QString TSingleInstance::SocketPath(const QString& name) { return name; }
bool TSingleInstance::SignalRunningInstance(int) { return false; }
bool TSingleInstance::Listen(std::function<void(int)>) { return false; }
}  // namespace melvanto::gui
