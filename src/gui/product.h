#pragma once

// The product's fixed names, texts and addresses, shared by the windows.

#include <QEvent>

namespace melvanto::gui {

inline constexpr const char* kProductName = "Melvanto";
// The main window's class name: a second start finds the first one through it.
inline constexpr const char* kWindowClassName = "Melvanto Made by Quorvane Software";
inline constexpr const char* kCopyright = "Copyright \u00a9 2018-2026 Quorvane Software";
inline constexpr const char* kSupportEmail = "support@quorvane.example";
// The maker has no real site: addresses on the reserved example domain.
inline constexpr const char* kMakerAddress = "www.quorvane.example";
inline constexpr const char* kHomePage = "https://quorvane.example/melvanto";
inline constexpr const char* kDonatePage = "https://quorvane.example/melvanto/donate";

// Window messages, kept as the identity of the queued events that stand for them (both lie in
// Qt's user event range).
inline constexpr QEvent::Type kBatchStepEvent = static_cast<QEvent::Type>(2130);
inline constexpr QEvent::Type kRestoreEvent = static_cast<QEvent::Type>(2131);

}  // namespace melvanto::gui
