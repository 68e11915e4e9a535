#include "Platform/linux/atspi/AtspiRoles.h"

namespace zoba::platform::linux_backend::atspi {

std::string_view axRole(const RoleContext& element) {
  const StateSet& states = element.states;
  const auto parent = element.parentRole;
  switch (element.role) {
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW: return "AXWindow";
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER: return element.topLevel ? "AXWindow" : "AXGroup";
    case ATSPI_ROLE_APPLICATION: return "AXApplication";
    case ATSPI_ROLE_PUSH_BUTTON: return states.has(ATSPI_STATE_HAS_POPUP) ? "AXPopUpButton" : "AXButton";
    case ATSPI_ROLE_PUSH_BUTTON_MENU: return "AXMenuButton";
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_SWITCH:
    case ATSPI_ROLE_CHECK_BOX: return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON: return "AXRadioButton";
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT: return states.has(ATSPI_STATE_MULTI_LINE) ? "AXTextArea" : "AXTextField";
    case ATSPI_ROLE_TEXT:
      if (!states.has(ATSPI_STATE_EDITABLE)) return "AXStaticText";
      return states.has(ATSPI_STATE_MULTI_LINE) ? "AXTextArea" : "AXTextField";
    case ATSPI_ROLE_EDITBAR: return "AXTextField";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
    case ATSPI_ROLE_TITLE_BAR: return "AXStaticText";
    case ATSPI_ROLE_LINK: return "AXLink";
    case ATSPI_ROLE_HEADING: return "AXHeading";
    case ATSPI_ROLE_DOCUMENT_WEB: return "AXWebArea";
    case ATSPI_ROLE_SCROLL_PANE: return "AXScrollArea";
    case ATSPI_ROLE_SCROLL_BAR: return "AXScrollBar";
    case ATSPI_ROLE_SPLIT_PANE: return "AXSplitGroup";
    case ATSPI_ROLE_SEPARATOR: return "AXSplitter";
    case ATSPI_ROLE_MENU_BAR: return "AXMenuBar";
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
      // A menu bar's menus are its titles, which are on screen while their items are not.
      if (parent == ATSPI_ROLE_MENU_BAR) return "AXMenuBarItem";
      return parent && (*parent == ATSPI_ROLE_MENU || *parent == ATSPI_ROLE_POPUP_MENU) ? "AXMenuItem"
                                                                                        : "AXMenu";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM: return "AXMenuItem";
    // GTK marks the entry of an editable combo box editable, not the box itself.
    case ATSPI_ROLE_COMBO_BOX:
      return states.has(ATSPI_STATE_EDITABLE) || element.entryChild ? "AXComboBox" : "AXPopUpButton";
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX: return "AXList";
    case ATSPI_ROLE_LIST_ITEM: return parent == ATSPI_ROLE_LIST_BOX ? "AXStaticText" : "AXGroup";
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE: return "AXTable";
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM: return "AXRow";
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER: return parent == ATSPI_ROLE_TREE ? "AXRow" : "AXCell";
    case ATSPI_ROLE_TREE: return "AXOutline";
    case ATSPI_ROLE_PARAGRAPH: return paragraphOfDocument(element.role, parent) ? "AXTextArea" : "AXGroup";
    case ATSPI_ROLE_PAGE_TAB_LIST: return "AXTabGroup";
    case ATSPI_ROLE_PAGE_TAB: return "AXRadioButton";
    case ATSPI_ROLE_TOOL_BAR: return "AXToolbar";
    case ATSPI_ROLE_SLIDER: return "AXSlider";
    case ATSPI_ROLE_SPIN_BUTTON: return "AXIncrementor";
    case ATSPI_ROLE_PROGRESS_BAR: return "AXProgressIndicator";
    case ATSPI_ROLE_LEVEL_BAR: return "AXLevelIndicator";
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_CANVAS:
    case ATSPI_ROLE_DESKTOP_ICON: return "AXImage";
    case ATSPI_ROLE_COLOR_CHOOSER: return "AXColorWell";
    case ATSPI_ROLE_DATE_EDITOR: return "AXDateField";
    // Containers and everything without a closer AX counterpart.
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_LANDMARK:
    case ATSPI_ROLE_ARTICLE:
    case ATSPI_ROLE_BLOCK_QUOTE:
    case ATSPI_ROLE_HEADER:
    case ATSPI_ROLE_FOOTER:
    case ATSPI_ROLE_COMMENT:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_EMBEDDED:
    case ATSPI_ROLE_ROOT_PANE:
    case ATSPI_ROLE_LAYERED_PANE:
    case ATSPI_ROLE_GLASS_PANE:
    case ATSPI_ROLE_OPTION_PANE:
    case ATSPI_ROLE_CALENDAR:
    case ATSPI_ROLE_VIEWPORT:
    case ATSPI_ROLE_STATUS_BAR:
    case ATSPI_ROLE_TOOL_TIP:
    case ATSPI_ROLE_NOTIFICATION:
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
    case ATSPI_ROLE_DOCUMENT_PRESENTATION:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    case ATSPI_ROLE_INVALID:
    case ATSPI_ROLE_ANIMATION:
    case ATSPI_ROLE_ARROW:
    case ATSPI_ROLE_DESKTOP_FRAME:
    case ATSPI_ROLE_DIAL:
    case ATSPI_ROLE_DIRECTORY_PANE:
    case ATSPI_ROLE_DRAWING_AREA:
    case ATSPI_ROLE_FOCUS_TRAVERSABLE:
    case ATSPI_ROLE_FONT_CHOOSER:
    case ATSPI_ROLE_HTML_CONTAINER:
    case ATSPI_ROLE_INTERNAL_FRAME:
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_UNKNOWN:
    case ATSPI_ROLE_EXTENDED:
    case ATSPI_ROLE_RULER:
    case ATSPI_ROLE_AUTOCOMPLETE:
    case ATSPI_ROLE_CHART:
    case ATSPI_ROLE_PAGE:
    case ATSPI_ROLE_REDUNDANT_OBJECT:
    case ATSPI_ROLE_INPUT_METHOD_WINDOW:
    case ATSPI_ROLE_IMAGE_MAP:
    case ATSPI_ROLE_INFO_BAR:
    case ATSPI_ROLE_AUDIO:
    case ATSPI_ROLE_VIDEO:
    case ATSPI_ROLE_DEFINITION:
    case ATSPI_ROLE_LOG:
    case ATSPI_ROLE_MARQUEE:
    case ATSPI_ROLE_MATH:
    case ATSPI_ROLE_RATING:
    case ATSPI_ROLE_TIMER:
    case ATSPI_ROLE_MATH_FRACTION:
    case ATSPI_ROLE_MATH_ROOT:
    case ATSPI_ROLE_SUBSCRIPT:
    case ATSPI_ROLE_SUPERSCRIPT:
    case ATSPI_ROLE_DESCRIPTION_LIST:
    case ATSPI_ROLE_DESCRIPTION_TERM:
    case ATSPI_ROLE_DESCRIPTION_VALUE:
    case ATSPI_ROLE_FOOTNOTE:
    case ATSPI_ROLE_CONTENT_DELETION:
    case ATSPI_ROLE_CONTENT_INSERTION:
    case ATSPI_ROLE_MARK:
    case ATSPI_ROLE_SUGGESTION:
    case ATSPI_ROLE_LAST_DEFINED: return "AXGroup";
  }
  return "AXGroup";  // a role newer than this table
}

bool dependsOnParent(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER: return true;
    default: return false;
  }
}

bool dependsOnEntryChild(AtspiRole role, StateSet states) {
  return role == ATSPI_ROLE_COMBO_BOX && !states.has(ATSPI_STATE_EDITABLE);
}

bool isEntry(AtspiRole role) {
  return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_PASSWORD_TEXT;
}

bool readsText(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
    case ATSPI_ROLE_TITLE_BAR:
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_TERMINAL:  // VTE's Text holds the rows on screen
    case ATSPI_ROLE_EDITBAR: return true;
    default: return false;  // ATSPI_ROLE_PASSWORD_TEXT above all
  }
}

bool paragraphOfDocument(AtspiRole role, std::optional<AtspiRole> parentRole) {
  return role == ATSPI_ROLE_PARAGRAPH && parentRole == ATSPI_ROLE_DOCUMENT_TEXT;
}

bool readsRange(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_PROGRESS_BAR:
    case ATSPI_ROLE_SPIN_BUTTON:
    case ATSPI_ROLE_LEVEL_BAR:
    case ATSPI_ROLE_SCROLL_BAR: return true;
    default: return false;
  }
}

bool readsChecked(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_SWITCH:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM: return true;
    default: return false;
  }
}

bool mayHavePlaceholder(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_COMBO_BOX:
    case ATSPI_ROLE_EDITBAR: return true;
    default: return false;
  }
}

bool statesIrrelevant(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_HEADING:
    case ATSPI_ROLE_SEPARATOR:
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_BLOCK_QUOTE:
    case ATSPI_ROLE_HEADER:
    case ATSPI_ROLE_FOOTER:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_LINK:
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LANDMARK:
    case ATSPI_ROLE_ARTICLE:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME: return true;
    default: return false;
  }
}

bool mayHoldTextRuns(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_HEADING:
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER:
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_LINK:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_BLOCK_QUOTE:
    case ATSPI_ROLE_ARTICLE:
    case ATSPI_ROLE_LANDMARK:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_HEADER:
    case ATSPI_ROLE_FOOTER:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DEFINITION:
    case ATSPI_ROLE_DESCRIPTION_TERM:
    case ATSPI_ROLE_DESCRIPTION_VALUE:
    case ATSPI_ROLE_FOOTNOTE:
    case ATSPI_ROLE_COMMENT:
    case ATSPI_ROLE_PAGE:  // a document viewer's page holds the document's text
    case ATSPI_ROLE_MARK: return true;
    default: return false;
  }
}

bool textIsName(AtspiRole role) { return role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_STATIC; }

bool hiddenFromUser(AtspiRole role, StateSet states, bool showingIsCurrent) {
  if (!states.has(ATSPI_STATE_VISIBLE)) return true;
  return showingIsCurrent && !states.has(ATSPI_STATE_SHOWING) && hiddenWhenNotShowing(role);
}

bool mayManageDescendants(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
    case ATSPI_ROLE_TREE:
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX: return true;
    default: return false;
  }
}

bool hiddenWhenNotShowing(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
    case ATSPI_ROLE_DOCUMENT_PRESENTATION:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    // Gecko leaves a tab's document SHOWING after the tab went to the background;
    // its embedder is kept current.
    case ATSPI_ROLE_INTERNAL_FRAME:
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM: return true;
    default: return false;
  }
}

bool isPopUpList(AtspiRole role) {
  return role == ATSPI_ROLE_LIST || role == ATSPI_ROLE_LIST_BOX || role == ATSPI_ROLE_MENU;
}

bool valueSettable(AtspiRole role, StateSet states) {
  if (states.has(ATSPI_STATE_READ_ONLY) || !states.has(ATSPI_STATE_SENSITIVE)) return false;
  switch (role) {
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_EDITBAR:
    case ATSPI_ROLE_COMBO_BOX: return states.has(ATSPI_STATE_EDITABLE);
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_SWITCH:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_SPIN_BUTTON: return states.has(ATSPI_STATE_ENABLED);
    default: return false;
  }
}

}  // namespace zoba::platform::linux_backend::atspi
