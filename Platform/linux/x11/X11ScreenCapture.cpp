// The window list from the window manager's hints and screenshots of one
// window through MIT-SHM.
//
// Without a compositing manager an X window has no pixels of its own: what is on
// the screen is all there is, so a window that another window covers, or that
// reaches past the screen's edge, is captured through XComposite instead. It is
// redirected into a pixmap of its own, asked to repaint all of it, and read once
// it has gone quiet. With a compositing manager every window already has its
// pixmap, and reading the window reads it.

#include <poll.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/damage.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <span>

#include "Platform/linux/Backends.h"
#include "Platform/linux/x11/AtomCache.h"
#include "Platform/linux/x11/ClientFrame.h"
#include "Platform/linux/x11/ClientWindows.h"
#include "Platform/linux/x11/DisplayConnection.h"
#include "Platform/linux/x11/ShmSegment.h"
#include "Platform/linux/x11/WindowProperty.h"
#include "Platform/linux/x11/WindowText.h"
#include "Platform/linux/x11/X11Pixels.h"

namespace zoba::platform::linux_backend {

namespace {

using Clock = std::chrono::steady_clock;

// How long a redirected window may take to repaint, and how long it must stay
// quiet before its pixmap counts as painted.
constexpr auto kRepaintDeadline = std::chrono::milliseconds(500);
constexpr auto kRepaintQuiet = std::chrono::milliseconds(40);

// Window layers of what is not an application's ordinary window.
constexpr std::int32_t kDesktopLayer = -1000;
constexpr std::int32_t kFloatingLayer = 3;
constexpr std::int32_t kDockLayer = 20;
constexpr std::int32_t kNotificationLayer = 23;
constexpr std::int32_t kPopupLayer = 101;

// The worker's own connection: it blocks on it and waits for damage events
// that are nobody else's business.
struct Connection {
  explicit Connection(DisplayConnection opened) : display(std::move(opened)), atoms(display.get()) {}
  DisplayConnection display;
  AtomCache atoms;
  bool shmFd = false;      // MIT-SHM 1.2: segments passed as file descriptors
  bool composite = false;  // XComposite 0.2 and XDamage 1.1
};

struct Atoms {
  xcb_atom_t clientListStacking, clientList, wmStateIcccm, wmPid, windowType, wmState, wmStateHidden, wmName,
      utf8String, frameExtents, compositeSelection, typeNormal, typeDialog, typeUtility, typeDock,
      typeDesktop, typeNotification, typeToolbar, typeMenu, typeSplash;
};

Atoms internAtoms(AtomCache& cache, int screenNumber) {
  const std::string selection = "_NET_WM_CM_S" + std::to_string(screenNumber);
  const std::string_view names[] = {"_NET_CLIENT_LIST_STACKING",
                                    "_NET_CLIENT_LIST",
                                    "WM_STATE",
                                    "_NET_WM_PID",
                                    "_NET_WM_WINDOW_TYPE",
                                    "_NET_WM_STATE",
                                    "_NET_WM_STATE_HIDDEN",
                                    "_NET_WM_NAME",
                                    "UTF8_STRING",
                                    "_GTK_FRAME_EXTENTS",
                                    selection,
                                    "_NET_WM_WINDOW_TYPE_NORMAL",
                                    "_NET_WM_WINDOW_TYPE_DIALOG",
                                    "_NET_WM_WINDOW_TYPE_UTILITY",
                                    "_NET_WM_WINDOW_TYPE_DOCK",
                                    "_NET_WM_WINDOW_TYPE_DESKTOP",
                                    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
                                    "_NET_WM_WINDOW_TYPE_TOOLBAR",
                                    "_NET_WM_WINDOW_TYPE_MENU",
                                    "_NET_WM_WINDOW_TYPE_SPLASH"};
  const std::vector<xcb_atom_t> values = cache(names);
  static_assert(sizeof(Atoms) == sizeof(names) / sizeof(names[0]) * sizeof(xcb_atom_t));
  Atoms atoms;
  std::memcpy(&atoms, values.data(), sizeof(atoms));
  return atoms;
}

// Everything asked about one window, requested together and read together, so a
// window list costs one round trip whatever its length.
struct WindowQuery {
  xcb_window_t window;
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t position;
  xcb_get_property_cookie_t pid, type, state, netName, name, extents;

  WindowQuery(xcb_connection_t* c, const Atoms& atoms, xcb_window_t w, xcb_window_t root)
      : window(w),
        attributes(xcb_get_window_attributes(c, w)),
        geometry(xcb_get_geometry(c, w)),
        position(xcb_translate_coordinates(c, w, root, 0, 0)),
        pid(requestProperty(c, w, atoms.wmPid, XCB_ATOM_CARDINAL, 1)),
        type(requestProperty(c, w, atoms.windowType, XCB_ATOM_ATOM, 16)),
        state(requestProperty(c, w, atoms.wmState, XCB_ATOM_ATOM, 32)),
        netName(requestProperty(c, w, atoms.wmName, atoms.utf8String)),
        name(requestProperty(c, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY)),
        extents(requestProperty(c, w, atoms.frameExtents, XCB_ATOM_CARDINAL, 4)) {}
};

struct WindowFacts {
  ShareableWindow window;
  bool viewable = false;
  bool hidden = false;
  bool desktop = false;
};

std::int32_t layerFor(const Atoms& atoms, std::span<const xcb_atom_t> types, bool overrideRedirect) {
  if (overrideRedirect) return kPopupLayer;
  // The first type the window lists that we know decides.
  for (xcb_atom_t type : types) {
    if (type == atoms.typeNormal || type == atoms.typeDialog || type == atoms.typeUtility) return 0;
    if (type == atoms.typeDesktop) return kDesktopLayer;
    if (type == atoms.typeDock) return kDockLayer;
    if (type == atoms.typeNotification) return kNotificationLayer;
    if (type == atoms.typeToolbar || type == atoms.typeMenu || type == atoms.typeSplash)
      return kFloatingLayer;
  }
  // Untyped managed windows are normal windows (or dialogs, when transient).
  return 0;
}

WindowFacts readWindow(xcb_connection_t* c, const Atoms& atoms, WindowQuery& query) {
  WindowFacts facts;
  facts.window.windowID = query.window;
  auto attributes = xcbReply(xcb_get_window_attributes_reply, c, query.attributes);
  auto geometry = xcbReply(xcb_get_geometry_reply, c, query.geometry);
  auto position = xcbReply(xcb_translate_coordinates_reply, c, query.position);
  auto pid = xcbReply(xcb_get_property_reply, c, query.pid);
  auto type = xcbReply(xcb_get_property_reply, c, query.type);
  auto state = xcbReply(xcb_get_property_reply, c, query.state);
  auto netName = xcbReply(xcb_get_property_reply, c, query.netName);
  auto name = xcbReply(xcb_get_property_reply, c, query.name);
  auto extents = xcbReply(xcb_get_property_reply, c, query.extents);
  if (!attributes || !geometry || !position) return facts;  // the window is gone

  facts.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  for (xcb_atom_t s : propertyValues<xcb_atom_t>(state.get())) facts.hidden |= s == atoms.wmStateHidden;
  auto pids = propertyValues<std::uint32_t>(pid.get());
  if (!pids.empty() && pids[0] != 0) facts.window.owningProcessID = static_cast<std::int32_t>(pids[0]);
  auto types = propertyValues<xcb_atom_t>(type.get());
  facts.window.windowLayer = layerFor(atoms, types, attributes->override_redirect != 0);
  facts.desktop = facts.window.windowLayer == kDesktopLayer;

  facts.window.frame = clientFrame(*geometry, *position, frameExtents(extents.get()));

  if (auto text = propertyText(netName.get()); !text.empty()) {
    facts.window.title = utf8FromUtf8Property(text);
  } else if (auto legacy = propertyText(name.get()); !legacy.empty()) {
    facts.window.title = utf8FromTextProperty(legacy, name->type == atoms.utf8String);
  }
  return facts;
}

std::string describeMissing(xcb_window_t window) {
  return "The window " + std::to_string(window) + " is no longer on screen";
}

class X11ScreenCapture final : public ScreenCapture {
 public:
  ScreenCaptureResult<ShareableContent> shareableContent(bool excludeDesktopWindows,
                                                         bool onScreenWindowsOnly) override {
    std::lock_guard lock(mutex_);
    Connection* x = connection();
    if (!x) return ScreenCaptureError{kNoDisplay};
    xcb_connection_t* c = x->display.get();
    const xcb_window_t root = x->display.root();

    auto tree = xcbReply(xcb_query_tree_reply, c, xcb_query_tree(c, root));
    if (!tree) return ScreenCaptureError{"The X server did not list its windows"};
    const std::vector<xcb_window_t> topLevels(
        xcb_query_tree_children(tree.get()),
        xcb_query_tree_children(tree.get()) + xcb_query_tree_children_length(tree.get()));

    // Managed windows, topmost first; without a window manager, the top-level
    // windows themselves.
    const ClientWindows managed = clientWindows(
        c, root, {atoms_.clientListStacking, atoms_.clientList, atoms_.wmStateIcccm}, topLevels);
    const std::vector<xcb_window_t>& clients = managed.topmostFirst;
    const bool managedList = managed.managed;
    std::vector<xcb_window_t> others(topLevels.rbegin(), topLevels.rend());

    std::vector<WindowQuery> queries;
    queries.reserve(clients.size() + others.size());
    for (xcb_window_t w : clients) queries.emplace_back(c, atoms_, w, root);
    for (xcb_window_t w : others) queries.emplace_back(c, atoms_, w, root);

    ShareableContent content;
    const pid_t self = getpid();
    for (std::size_t i = 0; i < queries.size(); ++i) {
      const bool topLevel = i >= clients.size();
      WindowFacts facts = readWindow(c, atoms_, queries[i]);
      if (facts.window.frame.width() <= 0) continue;  // gone or empty
      if (topLevel) {
        // Among unmanaged top-level windows: with a window manager only our own
        // overlays (its frames hold the clients listed above); without one, all.
        const bool ours = facts.window.owningProcessID == self && facts.window.windowLayer == kPopupLayer;
        if (managedList && !ours) continue;
      }
      if (onScreenWindowsOnly && (!facts.viewable || facts.hidden)) continue;
      if (excludeDesktopWindows && facts.desktop) continue;
      content.windows.push_back(std::move(facts.window));
    }
    // Overlays sit above every managed window.
    std::stable_partition(content.windows.begin(), content.windows.end(),
                          [](const ShareableWindow& w) { return w.windowLayer == kPopupLayer; });
    return content;
  }

  ContentFilter filter(const ShareableWindow& window) override {
    // X coordinates are pixels, and so are the window frames and accessibility
    // frames this system compares them with.
    return ContentFilter{window.windowID, 1.0};
  }

  ScreenCaptureResult<Image> captureImage(const ContentFilter& filter,
                                          const StreamConfiguration& configuration) override {
    std::lock_guard lock(mutex_);
    Connection* x = connection();
    if (!x) return ScreenCaptureError{kNoDisplay};
    xcb_connection_t* c = x->display.get();
    const xcb_window_t window = filter.windowID;
    const xcb_window_t root = x->display.root();

    auto attributesCookie = xcb_get_window_attributes(c, window);
    auto geometryCookie = xcb_get_geometry(c, window);
    auto positionCookie = xcb_translate_coordinates(c, window, root, 0, 0);
    auto extentsCookie = requestProperty(c, window, atoms_.frameExtents, XCB_ATOM_CARDINAL, 4);
    auto ownerCookie = xcb_get_selection_owner(c, atoms_.compositeSelection);
    auto attributes = xcbReply(xcb_get_window_attributes_reply, c, attributesCookie);
    auto geometry = xcbReply(xcb_get_geometry_reply, c, geometryCookie);
    auto position = xcbReply(xcb_translate_coordinates_reply, c, positionCookie);
    auto extents = xcbReply(xcb_get_property_reply, c, extentsCookie);
    auto owner = xcbReply(xcb_get_selection_owner_reply, c, ownerCookie);
    if (!attributes || !geometry || !position || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
      return ScreenCaptureError{describeMissing(window)};
    }
    Image::Format format;
    if (geometry->depth == 24) {
      format = Image::Format::opaque;
    } else if (geometry->depth == 32) {
      format = Image::Format::premultiplied;
    } else {
      return ScreenCaptureError{"Windows of depth " + std::to_string(geometry->depth) +
                                " cannot be captured"};
    }

    // The window's content without a client-side shadow, in window coordinates.
    const Insets insets = frameExtents(extents.get());
    const auto cropX = static_cast<std::int16_t>(std::min<double>(insets.left, geometry->width - 1));
    const auto cropY = static_cast<std::int16_t>(std::min<double>(insets.top, geometry->height - 1));
    const auto cropWidth =
        static_cast<std::uint16_t>(std::max<double>(1, geometry->width - cropX - insets.right));
    const auto cropHeight =
        static_cast<std::uint16_t>(std::max<double>(1, geometry->height - cropY - insets.bottom));
    const Rect onRoot(position->dst_x + cropX, position->dst_y + cropY, cropWidth, cropHeight);

    const bool compositor = owner && owner->owner != XCB_WINDOW_NONE;
    std::optional<Image> pixels;
    if (compositor || !covered(*x, window, onRoot)) {
      pixels = readPixels(*x, window, cropX, cropY, cropWidth, cropHeight, format);
    } else if (x->composite) {
      pixels =
          readRedirected(*x, window, geometry->border_width, cropX, cropY, cropWidth, cropHeight, format);
    } else {
      return ScreenCaptureError{"The window is covered and the X server cannot composite"};
    }
    if (!pixels) return ScreenCaptureError{"The X server did not hand over the window's pixels"};
    if (pixels->width() == configuration.width && pixels->height() == configuration.height) return *pixels;

    auto context = BitmapContext::create(configuration.width, configuration.height, format);
    if (!context) return ScreenCaptureError{"No memory for a screenshot of that size"};
    context->draw(*pixels, Rect(0, 0, double(configuration.width), double(configuration.height)));
    auto scaled = std::move(*context).makeImage();
    if (!scaled) return ScreenCaptureError{"The screenshot could not be scaled"};
    return *scaled;
  }

 private:
  static constexpr const char* kNoDisplay = "The X display cannot be reached";

  Connection* connection() {
    if (connection_ && !connection_->display.broken()) return connection_.get();
    connection_.reset();
    auto display = openDisplay();
    if (!display) return nullptr;
    auto x = std::make_unique<Connection>(std::move(*display));
    xcb_connection_t* c = x->display.get();
    auto compositeCookie = xcb_composite_query_version(c, 0, 4);
    auto damageCookie = xcb_damage_query_version(c, 1, 1);
    x->shmFd = ShmSegment::supported(c);
    auto composite = xcbReply(xcb_composite_query_version_reply, c, compositeCookie);
    auto damage = xcbReply(xcb_damage_query_version_reply, c, damageCookie);
    x->composite = composite && (composite->major_version > 0 || composite->minor_version >= 2) && damage &&
                   damage->major_version >= 1;
    atoms_ = internAtoms(x->atoms, x->display.screenNumber);
    connection_ = std::move(x);
    return connection_.get();
  }

  std::optional<Image> readPixels(Connection& x, xcb_drawable_t drawable, std::int16_t cropX,
                                  std::int16_t cropY, std::uint16_t width, std::uint16_t height,
                                  Image::Format format) {
    if (x.shmFd) {
      if (auto image = readPixelsShm(x.display.get(), drawable, cropX, cropY, width, height, format))
        return image;
    }
    return readPixelsPlain(x.display.get(), drawable, cropX, cropY, width, height, format);
  }

  // Whether any part of `onRoot` is off the screen or under another window.
  bool covered(Connection& x, xcb_window_t window, const Rect& onRoot) {
    xcb_connection_t* c = x.display.get();
    const Rect screen(0, 0, x.display.screen->width_in_pixels, x.display.screen->height_in_pixels);
    if (onRoot.minX() < 0 || onRoot.minY() < 0 || onRoot.maxX() > screen.maxX() ||
        onRoot.maxY() > screen.maxY()) {
      return true;
    }
    // The window's top-level ancestor: its frame under a window manager.
    xcb_window_t topLevel = window;
    for (;;) {
      auto tree = xcbReply(xcb_query_tree_reply, c, xcb_query_tree(c, topLevel));
      if (!tree) return true;
      if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) break;
      topLevel = tree->parent;
    }
    auto tree = xcbReply(xcb_query_tree_reply, c, xcb_query_tree(c, x.display.screen->root));
    if (!tree) return true;
    std::span<const xcb_window_t> siblings(
        xcb_query_tree_children(tree.get()),
        static_cast<std::size_t>(xcb_query_tree_children_length(tree.get())));
    auto self = std::find(siblings.begin(), siblings.end(), topLevel);
    if (self == siblings.end()) return true;
    // Bottom to top: everything after our frame lies above it.
    struct Above {
      xcb_get_window_attributes_cookie_t attributes;
      xcb_get_geometry_cookie_t geometry;
    };
    std::vector<Above> above;
    for (auto it = self + 1; it != siblings.end(); ++it) {
      above.push_back({xcb_get_window_attributes(c, *it), xcb_get_geometry(c, *it)});
    }
    bool result = false;
    for (auto& other : above) {
      auto attributes = xcbReply(xcb_get_window_attributes_reply, c, other.attributes);
      auto geometry = xcbReply(xcb_get_geometry_reply, c, other.geometry);
      if (result || !attributes || !geometry) continue;  // collect every reply
      if (attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
          attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
        continue;
      }
      const double border = geometry->border_width * 2.0;
      result = onRoot.intersects(
          Rect(geometry->x, geometry->y, geometry->width + border, geometry->height + border));
    }
    return result;
  }

  // The window's own pixels, painted into a pixmap of its own for the occasion.
  std::optional<Image> readRedirected(Connection& x, xcb_window_t window, std::uint16_t border,
                                      std::int16_t cropX, std::int16_t cropY, std::uint16_t width,
                                      std::uint16_t height, Image::Format format) {
    xcb_connection_t* c = x.display.get();
    xcb_composite_redirect_window(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    const xcb_damage_damage_t damage = xcb_generate_id(c);
    xcb_damage_create(c, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    // Exposes the whole window, now that nothing clips it, so its owner repaints all.
    xcb_clear_area(c, 1, window, 0, 0, 0, 0);
    xcb_flush(c);
    waitForRepaint(x, damage);

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    auto named = xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window, pixmap));
    std::optional<Image> pixels;
    if (!named) {
      // The pixmap includes the window's border.
      pixels = readPixels(x, pixmap, static_cast<std::int16_t>(cropX + border),
                          static_cast<std::int16_t>(cropY + border), width, height, format);
      xcb_free_pixmap(c, pixmap);
    }
    std::free(named);
    xcb_damage_destroy(c, damage);
    xcb_composite_unredirect_window(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(c);
    return pixels;
  }

  void waitForRepaint(Connection& x, xcb_damage_damage_t damage) {
    xcb_connection_t* c = x.display.get();
    const std::uint8_t damageNotify =
        xcb_get_extension_data(c, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
    const auto start = Clock::now();
    std::optional<Clock::time_point> lastDamage;
    for (;;) {
      while (XReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        if ((event->response_type & 0x7F) != damageNotify) continue;
        if (reinterpret_cast<xcb_damage_notify_event_t*>(event.get())->damage != damage) continue;
        lastDamage = Clock::now();
        // Re-arms the notification for the next paint.
        xcb_damage_subtract(c, damage, XCB_NONE, XCB_NONE);
        xcb_flush(c);
      }
      const auto now = Clock::now();
      auto until = start + kRepaintDeadline;
      if (lastDamage) until = std::min(until, *lastDamage + kRepaintQuiet);
      if (now >= until || xcb_connection_has_error(c)) return;
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      poll(&fd, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
    }
  }

  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
  Atoms atoms_{};
};

}  // namespace

std::unique_ptr<ScreenCapture> makeScreenCapture() { return std::make_unique<X11ScreenCapture>(); }

}  // namespace zoba::platform::linux_backend
