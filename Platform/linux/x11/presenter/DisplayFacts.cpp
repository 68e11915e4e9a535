#include "Platform/linux/x11/presenter/DisplayFacts.h"

#include <xcb/randr.h>

#include <string>

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

namespace {

// The rate assumed when RandR reports no usable mode timings (Xvfb, some drivers).
constexpr double kFallbackRefreshRate = 60;

bool hasRandr15(xcb_connection_t* c) {
  const auto* extension = xcb_get_extension_data(c, &xcb_randr_id);
  if (!extension || !extension->present) return false;
  auto version = xcbReply(xcb_randr_query_version_reply, c, xcb_randr_query_version(c, 1, 5));
  return version && (version->major_version > 1 || version->minor_version >= 5);
}

std::optional<int> primaryMonitorHeight(xcb_connection_t* c, xcb_window_t root) {
  auto reply = xcbReply(xcb_randr_get_monitors_reply, c, xcb_randr_get_monitors(c, root, 1));
  if (!reply) return std::nullopt;
  std::optional<int> first;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
       xcb_randr_monitor_info_next(&it)) {
    if (it.data->height == 0) continue;
    if (it.data->primary) return it.data->height;
    if (!first) first = it.data->height;
  }
  return first;
}

// The rate of the primary output's mode, else of the first CRTC that has one.
std::optional<double> refreshRate(xcb_connection_t* c, xcb_window_t root) {
  auto resources = xcbReply(xcb_randr_get_screen_resources_current_reply, c,
                            xcb_randr_get_screen_resources_current(c, root));
  if (!resources) return std::nullopt;
  auto rateOf = [&](xcb_randr_crtc_t crtc) -> std::optional<double> {
    auto info = xcbReply(xcb_randr_get_crtc_info_reply, c,
                         xcb_randr_get_crtc_info(c, crtc, resources->config_timestamp));
    if (!info || info->mode == XCB_NONE) return std::nullopt;
    const auto* modes = xcb_randr_get_screen_resources_current_modes(resources.get());
    const int count = xcb_randr_get_screen_resources_current_modes_length(resources.get());
    for (int i = 0; i < count; ++i) {
      if (modes[i].id == info->mode)
        return modeRefreshRate(modes[i].dot_clock, modes[i].htotal, modes[i].vtotal);
    }
    return std::nullopt;
  };
  if (auto primary = xcbReply(xcb_randr_get_output_primary_reply, c, xcb_randr_get_output_primary(c, root));
      primary && primary->output != XCB_NONE) {
    auto output = xcbReply(xcb_randr_get_output_info_reply, c,
                           xcb_randr_get_output_info(c, primary->output, resources->config_timestamp));
    if (output && output->crtc != XCB_NONE) {
      if (auto rate = rateOf(output->crtc)) return rate;
    }
  }
  const auto* crtcs = xcb_randr_get_screen_resources_current_crtcs(resources.get());
  const int count = xcb_randr_get_screen_resources_current_crtcs_length(resources.get());
  for (int i = 0; i < count; ++i) {
    if (auto rate = rateOf(crtcs[i])) return rate;
  }
  return std::nullopt;
}

bool compositorRuns(xcb_connection_t* c, int screenNumber, AtomCache& atoms) {
  const xcb_atom_t selection = atoms("_NET_WM_CM_S" + std::to_string(screenNumber));
  if (selection == XCB_ATOM_NONE) return false;
  auto owner = xcbReply(xcb_get_selection_owner_reply, c, xcb_get_selection_owner(c, selection));
  return owner && owner->owner != XCB_NONE;
}

std::optional<xcb_visualid_t> argbVisual(const xcb_screen_t& screen) {
  for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0; xcb_depth_next(&depths)) {
    if (depths.data->depth != 32) continue;
    for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
         xcb_visualtype_next(&visuals)) {
      if (visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) return visuals.data->visual_id;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<double> modeRefreshRate(std::uint32_t dotClock, std::uint16_t htotal, std::uint16_t vtotal) {
  if (dotClock == 0 || htotal == 0 || vtotal == 0) return std::nullopt;
  return static_cast<double>(dotClock) / (static_cast<double>(htotal) * static_cast<double>(vtotal));
}

DisplayFacts queryDisplay(xcb_connection_t* c, const xcb_screen_t& screen, int screenNumber,
                          AtomCache& atoms) {
  DisplayFacts facts;
  facts.primaryHeight = screen.height_in_pixels;
  facts.refreshRate = kFallbackRefreshRate;
  if (hasRandr15(c)) {
    if (auto height = primaryMonitorHeight(c, screen.root)) facts.primaryHeight = *height;
    if (auto rate = refreshRate(c, screen.root); rate && *rate > 0) facts.refreshRate = *rate;
  }
  facts.composited = compositorRuns(c, screenNumber, atoms);
  facts.argbVisual = argbVisual(screen);
  return facts;
}

}  // namespace zoba::platform::linux_backend
