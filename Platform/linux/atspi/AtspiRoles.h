#pragma once

// How AT-SPI roles and states read as the AX role names the helper reports.

#include <cstdint>
#include <optional>
#include <string_view>

#include "Platform/linux/atspi/AtspiConstants.h"

namespace zoba::platform::linux_backend::atspi {

// An element's state set, as the two 32-bit words AT-SPI sends.
struct StateSet {
  std::uint64_t bits = 0;
  bool has(AtspiStateType state) const { return (bits >> static_cast<unsigned>(state)) & 1; }
};

struct RoleContext {
  AtspiRole role = ATSPI_ROLE_INVALID;
  StateSet states;
  std::optional<AtspiRole> parentRole;  // unknown when absent
  bool topLevel = false;                // a direct child of the application
  bool entryChild = false;              // one of its children is a text entry (an editable combo box)
};

// The AX role name ("AXButton"...); "AXGroup" for roles without a closer match.
std::string_view axRole(const RoleContext& element);
// Whether the AX role needs to know if a child is a text entry.
bool dependsOnEntryChild(AtspiRole role, StateSet states);
// Roles that make their parent an editable combo box.
bool isEntry(AtspiRole role);
// Whether the AX role needs the parent's role to be decided.
bool dependsOnParent(AtspiRole role);

// Roles whose value is their whole text (Text interface). A password field is not one.
bool readsText(AtspiRole role);
// A paragraph of a word processor's document (LibreOffice Writer's): an editable
// text whose value is its words, as the paragraph of a web page is not.
bool paragraphOfDocument(AtspiRole role, std::optional<AtspiRole> parentRole);
// Roles whose value is a number from the Value interface.
bool readsRange(AtspiRole role);
// Roles whose value is 1 or 0 from the CHECKED state.
bool readsChecked(AtspiRole role);
// Roles that may carry a placeholder attribute.
bool mayHavePlaceholder(AtspiRole role);
// Roles whose answers never depend on their states: plain containers and text
// that is neither selectable nor checkable, so a walk need not ask for them.
bool statesIrrelevant(AtspiRole role);
// Roles whose Text interface may hold runs of words between child objects
// (paragraphs, cells, list items...), when their text is not their value.
bool mayHoldTextRuns(AtspiRole role);
// Roles whose text is their accessible name, when they have one.
bool textIsName(AtspiRole role);
// Whether the application hides an element from the user: not VISIBLE (a hidden
// toolbar, a stack's other page) or, where the toolkit keeps SHOWING current, a
// document or its embedder that is not SHOWING (a background tab) and the items
// of a closed menu. What is merely scrolled away is left in.
bool hiddenFromUser(AtspiRole role, StateSet states, bool showingIsCurrent);
// Roles that hiddenFromUser judges by SHOWING as well as VISIBLE.
bool hiddenWhenNotShowing(AtspiRole role);
// Roles of containers that may make their children on demand (tables, trees, lists).
bool mayManageDescendants(AtspiRole role);

// Roles of the list a drop-down pops up, which belongs to the window only while open.
bool isPopUpList(AtspiRole role);

// Whether "AXValue" could be set, from what the role and states say.
bool valueSettable(AtspiRole role, StateSet states);

}  // namespace zoba::platform::linux_backend::atspi
