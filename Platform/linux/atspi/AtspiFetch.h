#pragma once

// What the backend knows about one application and one element while it reads
// them: the application's connection and health, and an element's answers as
// they arrive from many calls in flight.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Platform/Accessibility.h"
#include "Platform/linux/atspi/AtspiBus.h"
#include "Platform/linux/atspi/AtspiPeer.h"
#include "Platform/linux/atspi/AtspiRoles.h"
#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend::atspi {

// More rows than any screen shows: bounds a terminal whose Text is its scroll-back.
inline constexpr std::size_t maxTerminalRows = 200;
// More children than a screen shows of a container that makes them on demand.
inline constexpr std::int32_t maxManagedChildren = 1000;
inline constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
inline constexpr const char* nullPath = "/org/a11y/atspi/null";  // a reference to nothing
inline constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* collectionInterface = "org.a11y.atspi.Collection";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

// What a fetch reads beyond the basics (role, states, name, description, parent,
// child count), each one call or none, by role.
enum Want : unsigned {
  wantChildren = 1 << 0,
  wantRoleName = 1 << 1,
  wantValue = 1 << 2,       // text, range value or checked state, by role
  wantAttributes = 1 << 3,  // object attributes, for placeholders
  wantURL = 1 << 4,
  wantExtents = 1 << 5,
  wantParentRole = 1 << 6,
  // States only for roles whose answers depend on them (see statesIrrelevant).
  wantSparseStates = 1 << 7,
  // The text around the child objects, where runs of it are children (AtspiTextRuns.h).
  wantTextRuns = 1 << 8,
};
// What a walk asks of every element. Where the bridge can search (Collection),
// an element's children are asked for as its VISIBLE ones, so that hiding costs
// no state read; elsewhere every element's states are read.
inline constexpr unsigned walkWants = wantChildren | wantRoleName | wantValue | wantAttributes | wantURL |
                                      wantParentRole | wantSparseStates | wantTextRuns;

// One element as the bridge's cache reported it.
struct CachedItem {
  AtspiRole role = ATSPI_ROLE_INVALID;
  StateSet states;
  std::string name, description;
  std::int32_t childCount = 0;
  bool text = false;  // has the Text interface
  std::string parentPath;
  std::vector<std::string> children;  // by index in parent; empty slots where the cache lacks one
};

struct Fetch;

// Where a call stands in line: the element's place in depth-first order below the
// read that started it, so the element a walk needs next is always asked first.
using CallKey = std::vector<std::uint32_t>;

struct QueuedCall {
  std::string path;
  const char* interface;
  const char* method;
  GVariantPtr parameters;
  const char* replyType;
  std::function<void(const Reply&)> done;
};

struct Application {
  std::string busName;
  GDBusConnection* connection = nullptr;   // the accessibility bus, where there is no direct one
  std::shared_ptr<PeerConnection> direct;  // the application's own socket
  std::shared_ptr<PeerConnection> onBus;   // else the bus through sd-bus, where it connected
  double timeout = 2.0;

  // An application that let a call time out without answering anything since
  // that call was sent is not answering: calls fail at once for a while, so a
  // stopped process costs one timeout, not one per element.
  double lastAnswerAt = 0;
  double stalledUntil = 0;
  bool stalled(double now) const { return now < stalledUntil; }

  // The bridge's ToolkitName, learned once per connection before any GetAll.
  std::optional<std::string> toolkit;
  // The bridge has no Collection (GTK 4, Qt): focus is searched for, and the
  // children the user can see are told apart by their states.
  bool noCollection = false;
  bool toolkitSettled = false;  // known, or answered without one: not asked again
  // Qt's bridge dereferences a second argument that Properties.GetAll does not
  // have and dies (SIGSEGV); where the toolkit is unknown it may be Qt.
  bool getAllSafe() const { return toolkit && *toolkit != "Qt"; }
  // GTK 4 marks only its windows SHOWING.
  bool showingIsCurrent() const { return !toolkit || *toolkit != "GTK"; }
  // GTK 4 gives an element without a name its class name.
  bool namesAfterType() const { return toolkit && *toolkit == "GTK"; }
  // The end offset of Text.GetText for the whole text: GTK 4.8 clamps the end and
  // so reads -1 as 0 (an empty text); other bridges take -1, and some would read
  // past the text's end with a larger one.
  std::int32_t wholeTextEnd() const { return toolkit && *toolkit == "GTK" ? G_MAXINT32 : -1; }

  // Calls wait here while `inFlight` calls are out: the application answers them
  // one after the other anyway, and a short line lets later, more urgent calls
  // overtake a read-ahead.
  std::multimap<CallKey, QueuedCall> queue;
  int inFlight = 0;
  std::uint32_t reads = 0;     // numbers the reads that start a line of their own
  std::uint32_t searches = 0;  // numbers the focus searches without Collection

  struct RoleName {
    std::optional<std::string> text;
    std::optional<std::string> choice;  // the name of a drop-down's selected item
    bool requested = false;
    bool done = false;
    std::vector<std::shared_ptr<Fetch>> waiting;
  };
  std::unordered_map<std::uint32_t, RoleName> roleNames;
  // Roles whose elements turned out to have no Text interface here: not asked again.
  std::unordered_set<std::uint32_t> textlessRoles;
  std::unordered_set<std::uint32_t> textRoles;  // seen with the Text interface (GTK)
  // How a drop-down's selected item is asked for (AtspiChoices.cpp): GTK's box
  // answers the Selection interface itself, Gecko's and Chromium's hold it in their
  // menu and are searched; learned from the first box, and not asked at all once
  // neither answers (Qt 5).
  enum class ChoiceHolder { box, search, none };
  ChoiceHolder choiceHolder = ChoiceHolder::box;

  // The bridge's cache of the tree, reloaded when older than a walk.
  double cacheLoadedAt = -1;
  bool cacheUnsupported = false;
  std::unordered_map<std::string, CachedItem> cache;

  // GTK 2 (GAIL), GTK 3 ("gtk") or GTK 4 ("GTK"): their bridges answer calls on
  // missing interfaces with criticals instead of errors.
  bool gtk() const { return toolkit && (*toolkit == "gtk" || *toolkit == "GTK" || *toolkit == "GAIL"); }
  // GTK 2's bridge makes a table's cells on demand and frees them under its own search
  // (Collection), handing out dangling objects: such containers are read child by
  // child. GTK 3's search over its tables is sound, and cheaper.
  bool makesCellsOnDemand() const { return toolkit && *toolkit == "GAIL"; }
  // The state by which the bridge's search picks the children a person can see. GTK 2
  // and 3 keep a notebook's background page and a closed search bar VISIBLE but not
  // SHOWING, and everything on screen SHOWING, scrolled away or not; the web engines'
  // content scrolled out of view is not SHOWING yet belongs to the page.
  AtspiStateType shownState() const {
    return toolkit && (*toolkit == "gtk" || *toolkit == "GAIL") ? ATSPI_STATE_SHOWING : ATSPI_STATE_VISIBLE;
  }

  // Whether the cache says the element lacks the Text interface: GTK's bridges
  // answer a text call on such an object with a critical on the application's stderr.
  bool knownTextless(const std::string& path) const {
    auto cached = cache.find(path);
    return cached != cache.end() && !cached->second.text;
  }
};

struct Fetch {
  AXElement element;
  std::shared_ptr<Application> application;
  unsigned wants = 0;
  bool cascade = false;  // prefetch the children's answers as soon as they are known
  CallKey key;           // its place in the tree's order; its children's keys extend it
  // Its calls' place in line once a wait for its parent moved them ahead of the
  // read-ahead of the siblings before it.
  std::optional<CallKey> hastened;
  double startedAt = 0;
  // When a wait for its children's answers began: one bound covers every wait for them.
  std::optional<double> childrenAwaitedFrom;
  int outstanding = 0;
  bool basicsDone = false;
  bool followUpsSent = false;  // calls that need the second round's answers
  bool complete = false;
  bool failed = false;
  bool timedOut = false;  // one of its calls went unanswered

  std::optional<AtspiRole> role;
  std::optional<StateSet> states;
  bool statesAsked = false;
  std::optional<std::string> name, description;
  std::int32_t childCount = -1;
  std::optional<AXElement> parent;
  std::optional<AtspiRole> parentRole;
  std::optional<bool> entryChild;  // asked only where the role depends on it
  std::optional<std::vector<AXElement>> children;
  bool visibleChildren = false;  // `children` holds only the VISIBLE (or SHOWING) ones
  // The children without those their application hides, once settled.
  std::optional<std::vector<AXElement>> shownChildren;
  std::optional<std::string> roleName;
  std::optional<std::string> text;
  std::optional<std::string> choice;   // the name of a drop-down's selected item
  std::optional<std::string> ownText;  // the text around the child objects, where it was asked
  std::optional<double> range;
  std::optional<std::map<std::string, std::string>> attributes;
  std::optional<std::string> url;
  std::optional<Point> position;
  std::optional<Size> size;

  bool finished() const { return failed || complete; }
  const CallKey& line() const { return hastened ? *hastened : key; }
  bool topLevel() const { return parent && parent->path == rootPath; }
  RoleContext roleContext() const {
    return RoleContext{role.value_or(ATSPI_ROLE_INVALID), states.value_or(StateSet{}), parentRole, topLevel(),
                       entryChild.value_or(false)};
  }
};

}  // namespace zoba::platform::linux_backend::atspi
