#include "ZobaCapture/ChromiumActivation.h"

#include "Platform/Platform.h"
#include "ZobaCapture/AXTree.h"

namespace zoba {

ChromiumActivation& ChromiumActivation::shared() {
  static ChromiumActivation instance;  // observers live as long as the process
  return instance;
}

Task<void> ChromiumActivation::activate(platform::AXElement application, std::int32_t pid) {
  auto& ax = *platform::current().accessibility;
  auto& clock = *platform::current().runLoop;

  // Both are always asked, in this order: Chromium answers the first, Electron the second.
  const bool manual = ax.setAttributeValue(application, "AXManualAccessibility", true);
  const bool enhanced = ax.setAttributeValue(application, "AXEnhancedUserInterface", true);
  if (!manual && !enhanced) co_return;

  if (!observers_.contains(pid)) registerObserver(application, pid);

  const double deadline = clock.now() + waitSeconds;
  while (clock.now() < deadline) {
    auto window = AXTree::element(application, "AXFocusedWindow");
    if (!window) window = AXTree::element(application, "AXMainWindow");
    if (window && AXTree::hasPopulatedWebArea(*window)) break;
    co_await sleepFor{pollSeconds};
  }
}

void ChromiumActivation::registerObserver(const platform::AXElement& application, std::int32_t pid) {
  auto observer = platform::current().accessibility->createObserver(
      pid, [](const platform::AXElement&, std::string_view) {});
  if (!observer) return;  // a later activation tries again
  for (std::string_view name : notifications) observer->addNotification(application, name);
  observers_.emplace(pid, std::move(observer));
}

}  // namespace zoba
