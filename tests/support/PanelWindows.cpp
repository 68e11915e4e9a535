#include "tests/support/PanelWindows.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <span>

namespace zoba::testing {

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
  return Reply<T>(reply, &std::free);
}

}  // namespace

std::vector<PanelWindowState> mappedPanelsOf(pid_t pid) {
  std::vector<PanelWindowState> panels;
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, nullptr),
                                                                 &xcb_disconnect);
  if (xcb_connection_has_error(c.get())) return panels;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
  auto atom = own(xcb_intern_atom_reply(c.get(), xcb_intern_atom(c.get(), 0, 11, "_NET_WM_PID"), nullptr));
  auto tree = own(xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), root), nullptr));
  if (!atom || !tree) return panels;
  // Every request of a stage goes out before its first reply is read: a sample
  // costs three round trips, not a few per window, so a busy machine still
  // samples the overlay's short phases.
  const std::span<const xcb_window_t> children(
      xcb_query_tree_children(tree.get()),
      static_cast<std::size_t>(xcb_query_tree_children_length(tree.get())));
  std::vector<xcb_get_property_cookie_t> owners;
  for (xcb_window_t window : children)
    owners.push_back(xcb_get_property(c.get(), 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1));
  std::vector<xcb_window_t> ours;
  for (std::size_t i = 0; i < children.size(); ++i) {
    auto property = own(xcb_get_property_reply(c.get(), owners[i], nullptr));
    if (property && xcb_get_property_value_length(property.get()) == 4 &&
        *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get())) ==
            static_cast<std::uint32_t>(pid))
      ours.push_back(children[i]);
  }
  struct Queries {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_shape_get_rectangles_cookie_t shape;
  };
  std::vector<Queries> queries;
  for (xcb_window_t window : ours)
    queries.push_back({xcb_get_window_attributes(c.get(), window), xcb_get_geometry(c.get(), window),
                       xcb_shape_get_rectangles(c.get(), window, XCB_SHAPE_SK_BOUNDING)});
  for (const auto& query : queries) {
    auto attributes = own(xcb_get_window_attributes_reply(c.get(), query.attributes, nullptr));
    auto geometry = own(xcb_get_geometry_reply(c.get(), query.geometry, nullptr));
    // The server answers an unshaped window with its whole extent; no answer
    // means the window went while it was asked about.
    auto shape = own(xcb_shape_get_rectangles_reply(c.get(), query.shape, nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !shape) continue;
    PanelWindowState panel;
    panel.frame = {geometry->x, geometry->y, geometry->width, geometry->height};
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape.get());
    for (int r = 0; r < xcb_shape_get_rectangles_rectangles_length(shape.get()); ++r) {
      panel.shape.push_back(
          {panel.frame.x + rects[r].x, panel.frame.y + rects[r].y, rects[r].width, rects[r].height});
    }
    panels.push_back(std::move(panel));
  }
  return panels;
}

std::optional<RootRect> clientWindowOf(pid_t pid) {
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, nullptr),
                                                                 &xcb_disconnect);
  if (xcb_connection_has_error(c.get())) return std::nullopt;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
  auto pidAtom = own(xcb_intern_atom_reply(c.get(), xcb_intern_atom(c.get(), 0, 11, "_NET_WM_PID"), nullptr));
  auto listAtom =
      own(xcb_intern_atom_reply(c.get(), xcb_intern_atom(c.get(), 0, 16, "_NET_CLIENT_LIST"), nullptr));
  if (!pidAtom || !listAtom) return std::nullopt;
  auto list = own(xcb_get_property_reply(
      c.get(), xcb_get_property(c.get(), 0, root, listAtom->atom, XCB_ATOM_WINDOW, 0, 1024), nullptr));
  if (!list) return std::nullopt;
  const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
  for (int i = 0; i < xcb_get_property_value_length(list.get()) / 4; ++i) {
    auto property = own(xcb_get_property_reply(
        c.get(), xcb_get_property(c.get(), 0, windows[i], pidAtom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!property || xcb_get_property_value_length(property.get()) != 4 ||
        *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get())) !=
            static_cast<std::uint32_t>(pid))
      continue;
    auto geometry = own(xcb_get_geometry_reply(c.get(), xcb_get_geometry(c.get(), windows[i]), nullptr));
    auto origin = own(xcb_translate_coordinates_reply(
        c.get(), xcb_translate_coordinates(c.get(), windows[i], root, 0, 0), nullptr));
    if (!geometry || !origin) return std::nullopt;
    return RootRect{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
  }
  return std::nullopt;
}

RootRect boundsOf(const std::vector<RootRect>& rects) {
  if (rects.empty()) return {};
  int minX = rects[0].x, minY = rects[0].y, maxX = rects[0].maxX(), maxY = rects[0].maxY();
  for (const auto& r : rects) {
    minX = std::min(minX, r.x);
    minY = std::min(minY, r.y);
    maxX = std::max(maxX, r.maxX());
    maxY = std::max(maxY, r.maxY());
  }
  return {minX, minY, maxX - minX, maxY - minY};
}

}  // namespace zoba::testing
