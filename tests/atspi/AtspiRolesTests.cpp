// How AT-SPI roles read as AX role names, and which roles give up their text.
#include <gtest/gtest.h>

#include "Platform/linux/atspi/AtspiRoles.h"

namespace zoba::platform::linux_backend::atspi {
namespace {

StateSet with(std::initializer_list<AtspiStateType> states) {
  StateSet set;
  for (auto state : states) set.bits |= std::uint64_t{1} << state;
  return set;
}

TEST(AtspiRoles, MapsRolesByStateAndParent) {
  struct Case {
    AtspiRole role;
    StateSet states;
    std::optional<AtspiRole> parent;
    bool topLevel;
    std::string_view expected;
    bool entryChild = false;
  };
  const Case cases[] = {
      {ATSPI_ROLE_FRAME, {}, ATSPI_ROLE_APPLICATION, true, "AXWindow"},
      {ATSPI_ROLE_DIALOG, {}, ATSPI_ROLE_APPLICATION, true, "AXWindow"},
      {ATSPI_ROLE_DIALOG, {}, ATSPI_ROLE_PANEL, false, "AXGroup"},
      {ATSPI_ROLE_PUSH_BUTTON, {}, {}, false, "AXButton"},
      {ATSPI_ROLE_PUSH_BUTTON, with({ATSPI_STATE_HAS_POPUP}), {}, false, "AXPopUpButton"},
      {ATSPI_ROLE_SWITCH, {}, {}, false, "AXCheckBox"},
      {ATSPI_ROLE_ENTRY, {}, {}, false, "AXTextField"},
      {ATSPI_ROLE_PASSWORD_TEXT, {}, {}, false, "AXTextField"},
      {ATSPI_ROLE_ENTRY, with({ATSPI_STATE_MULTI_LINE}), {}, false, "AXTextArea"},
      {ATSPI_ROLE_TEXT, {}, {}, false, "AXStaticText"},
      {ATSPI_ROLE_TEXT, with({ATSPI_STATE_EDITABLE}), {}, false, "AXTextField"},
      {ATSPI_ROLE_TEXT, with({ATSPI_STATE_EDITABLE, ATSPI_STATE_MULTI_LINE}), {}, false, "AXTextArea"},
      {ATSPI_ROLE_MENU, {}, ATSPI_ROLE_MENU_BAR, false, "AXMenuBarItem"},
      {ATSPI_ROLE_MENU, {}, ATSPI_ROLE_PANEL, false, "AXMenu"},
      {ATSPI_ROLE_MENU, {}, ATSPI_ROLE_MENU, false, "AXMenuItem"},
      {ATSPI_ROLE_COMBO_BOX, {}, {}, false, "AXPopUpButton"},
      {ATSPI_ROLE_COMBO_BOX, with({ATSPI_STATE_EDITABLE}), {}, false, "AXComboBox"},
      {ATSPI_ROLE_COMBO_BOX, {}, {}, false, "AXComboBox", true},
      {ATSPI_ROLE_LIST_ITEM, {}, ATSPI_ROLE_LIST_BOX, false, "AXStaticText"},
      {ATSPI_ROLE_LIST_ITEM, {}, ATSPI_ROLE_LIST, false, "AXGroup"},
      {ATSPI_ROLE_TABLE_CELL, {}, ATSPI_ROLE_TREE, false, "AXRow"},
      {ATSPI_ROLE_TABLE_CELL, {}, ATSPI_ROLE_TABLE, false, "AXCell"},
      // A word processor's paragraph is an editable text; a web page's is a group of runs.
      {ATSPI_ROLE_PARAGRAPH, {}, ATSPI_ROLE_DOCUMENT_TEXT, false, "AXTextArea"},
      {ATSPI_ROLE_PARAGRAPH, {}, ATSPI_ROLE_DOCUMENT_WEB, false, "AXGroup"},
      {ATSPI_ROLE_PARAGRAPH, {}, ATSPI_ROLE_TABLE_CELL, false, "AXGroup"},
      {ATSPI_ROLE_PARAGRAPH, {}, {}, false, "AXGroup"},
      {ATSPI_ROLE_DOCUMENT_WEB, {}, {}, false, "AXWebArea"},
      {ATSPI_ROLE_DOCUMENT_FRAME, {}, {}, false, "AXGroup"},
      {ATSPI_ROLE_SCROLL_BAR, {}, {}, false, "AXScrollBar"},
      {ATSPI_ROLE_TERMINAL, {}, {}, false, "AXGroup"},
      {static_cast<AtspiRole>(999), {}, {}, false, "AXGroup"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<unsigned>(c.role));
    EXPECT_EQ(axRole(RoleContext{c.role, c.states, c.parent, c.topLevel, c.entryChild}), c.expected);
  }
}

TEST(AtspiRoles, PasswordTextIsNeverRead) {
  EXPECT_FALSE(readsText(ATSPI_ROLE_PASSWORD_TEXT));
  EXPECT_TRUE(mayHavePlaceholder(ATSPI_ROLE_PASSWORD_TEXT));
  EXPECT_TRUE(readsText(ATSPI_ROLE_ENTRY));
  EXPECT_TRUE(readsText(ATSPI_ROLE_LABEL));
}

TEST(AtspiRoles, ValueIsSettableOnlyWhenEnabledAndWritable) {
  const StateSet live = with({ATSPI_STATE_SENSITIVE, ATSPI_STATE_ENABLED, ATSPI_STATE_EDITABLE});
  EXPECT_TRUE(valueSettable(ATSPI_ROLE_TEXT, live));
  EXPECT_FALSE(valueSettable(ATSPI_ROLE_TEXT, with({ATSPI_STATE_SENSITIVE, ATSPI_STATE_ENABLED})));
  EXPECT_FALSE(valueSettable(ATSPI_ROLE_TEXT,
                             with({ATSPI_STATE_SENSITIVE, ATSPI_STATE_EDITABLE, ATSPI_STATE_READ_ONLY})));
  EXPECT_TRUE(valueSettable(ATSPI_ROLE_CHECK_BOX, live));
  EXPECT_FALSE(valueSettable(ATSPI_ROLE_CHECK_BOX, with({ATSPI_STATE_ENABLED})));
  EXPECT_FALSE(valueSettable(ATSPI_ROLE_PUSH_BUTTON, live));
}

// A walk skips the states of these roles: any state that changed the role name,
// the value or settability would then be lost.
TEST(AtspiRoles, RolesReadWithoutStatesDoNotDependOnThem) {
  StateSet all;
  all.bits = ~std::uint64_t{0};
  int skipped = 0;
  for (unsigned r = 0; r < ATSPI_ROLE_LAST_DEFINED; ++r) {
    const auto role = static_cast<AtspiRole>(r);
    if (!statesIrrelevant(role)) continue;
    ++skipped;
    SCOPED_TRACE(r);
    EXPECT_FALSE(readsChecked(role));
    EXPECT_FALSE(readsRange(role));
    EXPECT_FALSE(valueSettable(role, all));
    for (auto parent : {std::optional<AtspiRole>{}, std::optional(ATSPI_ROLE_LIST_BOX),
                        std::optional(ATSPI_ROLE_MENU), std::optional(ATSPI_ROLE_TREE)}) {
      const auto plain = axRole(RoleContext{role, {}, parent, false});
      EXPECT_EQ(axRole(RoleContext{role, all, parent, false}), plain);
      for (unsigned state = 0; state < ATSPI_STATE_LAST_DEFINED; ++state)
        EXPECT_EQ(axRole(RoleContext{role, with({static_cast<AtspiStateType>(state)}), parent, false}),
                  plain);
    }
  }
  EXPECT_GT(skipped, 0);
  // Text taken from the name falls back to the text itself when the name is empty.
  for (auto role : {ATSPI_ROLE_LABEL, ATSPI_ROLE_STATIC}) {
    EXPECT_TRUE(textIsName(role));
    EXPECT_TRUE(readsText(role));
  }
  EXPECT_FALSE(textIsName(ATSPI_ROLE_ENTRY));
  EXPECT_FALSE(textIsName(ATSPI_ROLE_TEXT));
}

}  // namespace
}  // namespace zoba::platform::linux_backend::atspi
