#include "ZobaCapture/AXTree.h"

#include <charconv>
#include <cmath>
#include <deque>
#include <unordered_set>
#include <utility>

#include "Platform/Platform.h"

namespace zoba::AXTree {

namespace {

platform::Accessibility& accessibility() { return *platform::current().accessibility; }

enum Position : std::size_t {
  role,
  roleDescription,
  title,
  value,
  description,
  placeholder,
  url,
  selected,
  children,
  busy
};

bool isWebURL(std::string_view text) { return text.starts_with("https://") || text.starts_with("http://"); }

// The children of an "AXChildren" answer when it is an array of elements.
std::optional<std::vector<AXElement>> elementsOf(const AXValue& value) {
  const auto* array = value.get<platform::AXArray>();
  if (!array) return std::nullopt;
  std::vector<AXElement> elements;
  elements.reserve(array->size());
  for (const AXValue& item : *array) {
    const auto* child = item.get<AXElement>();
    if (!child) return std::nullopt;
    elements.push_back(*child);
  }
  return elements;
}

bool isTrue(const AXValue& value) {
  if (const auto* flag = value.get<bool>()) return *flag;
  if (const auto* number = value.get<double>()) return *number != 0;
  return false;
}

}  // namespace

const std::set<std::string, std::less<>>& skippedRoles() {
  static const std::set<std::string, std::less<>> roles{"AXScrollBar", "AXMenu"};
  return roles;
}

const std::set<std::string, std::less<>>& childlessRoles() {
  // A menu bar title's children are its menu's items, which show only while the menu is open.
  static const std::set<std::string, std::less<>> roles{"AXMenuBarItem"};
  return roles;
}

const std::set<std::string, std::less<>>& settableRoles() {
  static const std::set<std::string, std::less<>> roles{"AXTextField", "AXTextArea",    "AXComboBox",
                                                        "AXCheckBox",  "AXRadioButton", "AXSlider"};
  return roles;
}

std::span<const std::string> attributes() {
  static const std::vector<std::string> names{"AXRole",        "AXRoleDescription",  "AXTitle", "AXValue",
                                              "AXDescription", "AXPlaceholderValue", "AXURL",   "AXSelected",
                                              "AXChildren",    "AXElementBusy"};
  return names;
}

std::string numberText(double number) {
  char buffer[64];
  // Integral values print without a fraction while they are exact in a double.
  if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 9007199254740992.0) {
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(number));
    return std::string(buffer, end);
  }
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, end);
}

std::optional<std::string> attributeText(const AXValue& value) {
  if (const auto* text = value.get<std::string>()) return *text;
  if (const auto* number = value.get<double>()) return numberText(*number);
  if (const auto* flag = value.get<bool>()) return std::string(*flag ? "1" : "0");
  return std::nullopt;  // error marker, point, size, element, array, URL, other
}

std::optional<AXElement> element(const AXElement& from, std::string_view attribute) {
  auto value = accessibility().copyAttributeValue(from, attribute);
  if (!value) return std::nullopt;
  if (const auto* found = value->get<AXElement>()) return *found;
  return std::nullopt;
}

std::optional<std::string> string(const AXElement& from, std::string_view attribute) {
  auto value = accessibility().copyAttributeValue(from, attribute);
  if (!value) return std::nullopt;
  if (const auto* text = value->get<std::string>()) return *text;
  return std::nullopt;
}

std::optional<Rect> frame(const AXElement& from) {
  auto position = accessibility().copyAttributeValue(from, "AXPosition");
  if (!position) return std::nullopt;
  auto size = accessibility().copyAttributeValue(from, "AXSize");
  if (!size) return std::nullopt;
  const auto* origin = position->get<Point>();
  const auto* extent = size->get<Size>();
  if (!origin || !extent) return std::nullopt;
  return Rect(origin->x, origin->y, extent->width, extent->height);
}

bool hasPopulatedWebArea(const AXElement& root) {
  auto& ax = accessibility();
  std::deque<std::pair<AXElement, std::int64_t>> queue{{root, 0}};
  std::size_t examined = 0;
  while (examined < webAreaSearchLimit && !queue.empty()) {
    auto [current, depth] = std::move(queue.front());
    queue.pop_front();
    auto roleValue = ax.copyAttributeValue(current, "AXRole");
    if (roleValue && roleValue->get<std::string>() && *roleValue->get<std::string>() == "AXWebArea") {
      auto count = ax.attributeValueCount(current, "AXChildren");
      if (count && *count >= 1) return true;
    }
    if (depth <= webAreaSearchDepth) {
      if (auto childrenValue = ax.copyAttributeValue(current, "AXChildren")) {
        if (auto children = elementsOf(*childrenValue)) {
          for (auto& child : *children) queue.emplace_back(std::move(child), depth + 1);
        }
      }
    }
    ++examined;
  }
  return false;
}

bool isBusy(const AXElement& element) {
  auto value = accessibility().copyAttributeValue(element, "AXElementBusy");
  return value && isTrue(*value);
}

AXSnapshot snapshot(const AXElement& window, const AXElement& application, double deadline) {
  Walk walk(window, application, deadline);
  walk.advance(deadline);
  return std::move(walk).take();
}

Walk::Walk(const AXElement& window, const AXElement& application, double deadline)
    : application_(application), deadline_(deadline), stack_{{window, 0}} {}

bool Walk::advance(double until) {
  auto& ax = accessibility();
  auto& clock = *platform::current().runLoop;
  // Sliced, the clock is read at every element: one read costs nothing beside a
  // call to the application, and a slice should end close to its time.
  sliced_ = sliced_ || until < deadline_;
  const bool sliced = sliced_;
  if (!focusRead_) {
    // A search of the window in the application: a slice of its own, or more.
    static const std::string focusAttribute[] = {"AXFocusedUIElement"};
    if (sliced && !ax.prepareAnswers(application_, focusAttribute, until - clock.now())) return false;
    focused_ = element(application_, "AXFocusedUIElement");
    focusRead_ = true;
    if (sliced && clock.now() > until) return false;
  }
  while (!done_ && !stack_.empty()) {
    if (result_.nodes.size() % clockInterval == 0) {
      const double now = clock.now();
      if (now > deadline_) {
        result_.timedOut = true;
        done_ = true;
        break;
      }
      if (now > until) return false;
    } else if (sliced && clock.now() > until) {
      return false;
    }
    // A slow application's answers are awaited a slice at a time, and no longer
    // than the deadline: one element's children may take the platform longer.
    if (sliced && !ax.prepareAnswers(stack_.back().first, attributes(), until - clock.now())) {
      if (clock.now() <= deadline_) return false;
      result_.timedOut = true;
      break;
    }
    auto [current, depth] = std::move(stack_.back());
    stack_.pop_back();

    auto answers = ax.copyMultipleAttributeValues(current, attributes());
    if (answers && answers->size() == attributes().size()) {
      const auto& at = *answers;
      std::string roleText = attributeText(at[role]).value_or("");
      if (!skippedRoles().contains(roleText)) {
        std::optional<std::string> urlText;
        if (const auto* address = at[url].get<platform::AXURL>()) urlText = address->absoluteString;
        if (!result_.url && roleText == "AXWebArea" && urlText && isWebURL(*urlText)) result_.url = urlText;
        if (!result_.loadingPage && isTrue(at[busy])) result_.loadingPage = current;

        bool settable = false;
        if (settableRoles().contains(roleText))
          settable = ax.isAttributeSettable(current, "AXValue").value_or(false);

        AXNodeRecord record;
        record.depth = depth;
        record.roleDescription = attributeText(at[roleDescription]);
        record.title = attributeText(at[title]);
        record.value = attributeText(at[value]);
        record.description = attributeText(at[description]);
        record.placeholder = attributeText(at[placeholder]);
        record.url = std::move(urlText);
        record.settable = settable;
        record.selected = isTrue(at[selected]);
        record.focused = focused_ && *focused_ == current;
        record.role = std::move(roleText);
        result_.nodes.push_back(std::move(record));
        result_.elements.push_back(current);

        if (depth <= maxChildDepth && !childlessRoles().contains(result_.nodes.back().role)) {
          if (auto kids = elementsOf(at[children])) {
            for (auto it = kids->rbegin(); it != kids->rend(); ++it)
              stack_.emplace_back(std::move(*it), depth + 1);
          }
        }
      }
    }
    if (result_.nodes.size() >= maxRecords) done_ = true;
  }
  done_ = true;
  return true;
}

void markOffScreen(AXSnapshot& snapshot, const AXElement& window) {
  auto answer = accessibility().copyAttributeValue(window, "AXOnScreenDescendants");
  if (!answer) return;
  auto shown = elementsOf(*answer);
  if (!shown) return;
  const std::unordered_set<AXElement> onScreen(shown->begin(), shown->end());
  for (std::size_t i = 0; i < snapshot.nodes.size() && i < snapshot.elements.size(); ++i) {
    const AXElement& element = snapshot.elements[i];
    snapshot.nodes[i].onScreen = element == window || onScreen.contains(element);
  }
}

}  // namespace zoba::AXTree
