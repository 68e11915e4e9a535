#include "Platform/linux/atspi/AtspiAnswers.h"

#include <unordered_set>

#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiFocus.h"
#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/atspi/AtspiRunStore.h"
#include "Platform/linux/atspi/AtspiTypeNames.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

bool isWindowRole(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER: return true;
    default: return false;
  }
}

// The application's top-level windows, with their states.
std::vector<std::shared_ptr<Fetch>> topLevelWindows(Engine& engine, const AXElement& app) {
  auto root = engine.fetch(app, wantChildren, false);
  if (!engine.wait(root) || !root->children) return {};
  std::vector<std::shared_ptr<Fetch>> windows;
  for (const auto& child : *root->children)
    windows.push_back(engine.start(child, 0, false, ATSPI_ROLE_APPLICATION));
  engine.waitAll(windows);
  std::erase_if(windows, [](const auto& window) { return window->failed || !isWindowRole(*window->role); });
  return windows;
}

std::optional<AXElement> windowWith(const std::vector<std::shared_ptr<Fetch>>& windows,
                                    AtspiStateType state) {
  for (const auto& window : windows) {
    if (window->states && window->states->has(state)) return window->element;
  }
  return std::nullopt;
}

// Whether a web page is still on its way, its tree growing: it is BUSY while it
// loads, and Gecko shows a new tab's embedder a moment before its document. Other
// elements' BUSY (a spinning GTK spinner) says nothing of what will show.
AXValue loadingAnswer(const Fetch& fetch) {
  if (!fetch.states || !fetch.role) return AXErrorMarker{};
  if (*fetch.role == ATSPI_ROLE_DOCUMENT_WEB) return fetch.states->has(ATSPI_STATE_BUSY);
  if (*fetch.role == ATSPI_ROLE_INTERNAL_FRAME && fetch.application && fetch.application->toolkit == "Gecko")
    return fetch.states->has(ATSPI_STATE_SHOWING) && fetch.childCount == 0;
  return false;
}

// The web engines keep SHOWING for what lies in the window's visible area: content
// scrolled out of view is VISIBLE only. GTK 3 calls what is scrolled away SHOWING
// too, and a search below a spreadsheet's or a tree view's millions of cells would
// make every cell: no other toolkit is searched for it.
bool showingFollowsScreen(const Application& app) {
  return app.toolkit && (*app.toolkit == "Chromium" || *app.toolkit == "Gecko");
}

}  // namespace

AXValue answer(const Fetch& fetch, std::string_view attribute) {
  const AtspiRole role = fetch.role.value_or(ATSPI_ROLE_INVALID);
  const StateSet states = fetch.states.value_or(StateSet{});
  if (attribute == "AXRole") return std::string(axRole(fetch.roleContext()));
  if (attribute == "AXRoleDescription") {
    if (fetch.roleName) return *fetch.roleName;
    return AXErrorMarker{};
  }
  if (attribute == "AXTitle") {
    if (fetch.name &&
        !(fetch.application && fetch.application->namesAfterType() && looksLikeTypeName(*fetch.name)))
      return *fetch.name;
    return AXErrorMarker{};
  }
  if (attribute == "AXDescription") {
    if (fetch.description && !fetch.description->empty()) return *fetch.description;
    return AXErrorMarker{};
  }
  if (attribute == "AXValue") {
    // A password field's text is never asked for: it would reach the host.
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return AXErrorMarker{};
    if ((readsText(role) || paragraphOfDocument(role, fetch.parentRole)) && fetch.text) return *fetch.text;
    if (readsRange(role) && fetch.range) return *fetch.range;
    if (readsChecked(role) && fetch.states) return states.has(ATSPI_STATE_CHECKED) ? 1.0 : 0.0;
    if (role == ATSPI_ROLE_COMBO_BOX) {
      if (fetch.text) return *fetch.text;
      if (fetch.choice) return *fetch.choice;
    }
    return AXErrorMarker{};
  }
  if (attribute == "AXPlaceholderValue") {
    if (fetch.attributes) {
      if (auto text = firstNonEmpty(*fetch.attributes, {"placeholder-text", "placeholder"})) return *text;
    }
    return AXErrorMarker{};
  }
  if (attribute == "AXURL") {
    if (fetch.url) return AXURL{*fetch.url};
    return AXErrorMarker{};
  }
  if (attribute == "AXSelected") return states.has(ATSPI_STATE_SELECTED);
  // Unknown rather than false where a walk left the states unread.
  if (attribute == "AXEnabled")
    return fetch.states ? AXValue(states.has(ATSPI_STATE_ENABLED)) : AXErrorMarker{};
  if (attribute == "AXFocused")
    return fetch.states ? AXValue(states.has(ATSPI_STATE_FOCUSED)) : AXErrorMarker{};
  if (attribute == "AXElementBusy") return loadingAnswer(fetch);
  if (attribute == "AXChildren") {
    const auto& shown = fetch.shownChildren ? fetch.shownChildren : fetch.children;
    if (!shown) return AXErrorMarker{};
    AXArray children;
    children.reserve(shown->size());
    for (const auto& child : *shown) children.emplace_back(child);
    return children;
  }
  if (attribute == "AXParent") {
    // The application's root has the registry for parent, which is no element of it.
    if (fetch.parent && fetch.element.path != rootPath) return *fetch.parent;
    return AXErrorMarker{};
  }
  if (attribute == "AXPosition") {
    if (fetch.position) return *fetch.position;
    return AXErrorMarker{};
  }
  if (attribute == "AXSize") {
    if (fetch.size) return *fetch.size;
    return AXErrorMarker{};
  }
  return AXErrorMarker{};
}

std::optional<AXValue> applicationAnswer(Engine& engine, const AXElement& app, std::string_view attribute) {
  auto windows = topLevelWindows(engine, app);
  if (attribute == "AXWindows") {
    AXArray list;
    for (const auto& window : windows) list.emplace_back(window->element);
    return list;
  }
  auto active = windowWith(windows, ATSPI_STATE_ACTIVE);
  if (attribute == "AXFocusedWindow") return active ? std::optional<AXValue>(*active) : std::nullopt;
  auto main = windowWith(windows, ATSPI_STATE_SHOWING);
  if (attribute == "AXMainWindow") return main ? std::optional<AXValue>(*main) : std::nullopt;
  // AXFocusedUIElement: the focused element of the active window, else of the main one.
  auto window = active ? active : main;
  if (!window) return std::nullopt;
  if (auto focused = focusedElement(engine, *window)) return AXValue(*focused);
  return std::nullopt;
}

std::optional<AXElement> focusWindow(Engine& engine, const AXElement& app) {
  const auto windows = topLevelWindows(engine, app);
  if (auto active = windowWith(windows, ATSPI_STATE_ACTIVE)) return active;
  return windowWith(windows, ATSPI_STATE_SHOWING);
}

std::optional<AXValue> onScreenDescendants(Engine& engine, const RunStore& runs, const AXElement& element) {
  auto app = engine.application(element.application);
  if (!app) return std::nullopt;
  engine.learnToolkit(app);
  if (app->noCollection || !showingFollowsScreen(*app)) return std::nullopt;
  auto found = std::make_shared<std::optional<std::vector<AXElement>>>();
  auto answered = std::make_shared<bool>(false);
  engine.call(app, element.path, collectionInterface, "GetMatches", statesQuery(ATSPI_STATE_SHOWING, false),
              "(a(so))", [found, answered, bus = element.application](const Reply& reply) {
                *answered = true;
                if (!reply) return;
                GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
                *found = elementsOf(array.get(), bus);
              });
  engine.waitUntil([&] { return *answered; }, monotonicSeconds() + app->timeout + 0.25);
  if (!found->has_value()) return std::nullopt;
  const std::unordered_set<AXElement> shown((*found)->begin(), (*found)->end());
  AXArray elements;
  elements.reserve(shown.size());
  for (const auto& one : **found) elements.emplace_back(one);
  // A run of text is where its element is.
  for (const auto& run : runs.placedIn(shown)) elements.emplace_back(run);
  return elements;
}

}  // namespace zoba::platform::linux_backend::atspi
