#include "Platform/linux/x11/ClientWindows.h"

#include <algorithm>
#include <span>
#include <unordered_map>

#include "Platform/linux/handles/XcbPtr.h"
#include "Platform/linux/x11/WindowProperty.h"

namespace zoba::platform::linux_backend {

namespace {

// Window managers nest a client one or two windows below its frame; a deeper
// search would only wander into the clients' own child windows.
constexpr int kSearchDepth = 4;
// How far up a window may sit below its top-level ancestor.
constexpr int kAncestorDepth = 16;

std::span<const xcb_window_t> childrenOf(const xcb_query_tree_reply_t* tree) {
  return {xcb_query_tree_children(tree), static_cast<std::size_t>(xcb_query_tree_children_length(tree))};
}

// Each window's top-level ancestor (itself when it is one); none for a window
// that is gone. One round trip per level, for all windows at once.
std::vector<xcb_window_t> topLevelAncestors(xcb_connection_t* c, xcb_window_t root,
                                            const std::vector<xcb_window_t>& windows) {
  std::vector<xcb_window_t> current = windows;
  std::vector<xcb_window_t> result(windows.size(), XCB_WINDOW_NONE);
  std::vector<std::size_t> pending(windows.size());
  for (std::size_t i = 0; i < pending.size(); ++i) pending[i] = i;
  for (int depth = 0; depth < kAncestorDepth && !pending.empty(); ++depth) {
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(pending.size());
    for (std::size_t i : pending) cookies.push_back(xcb_query_tree(c, current[i]));
    std::vector<std::size_t> next;
    for (std::size_t k = 0; k < pending.size(); ++k) {
      const std::size_t i = pending[k];
      auto tree = xcbReply(xcb_query_tree_reply, c, cookies[k]);
      if (!tree) continue;
      if (tree->parent == root || tree->parent == XCB_WINDOW_NONE) {
        result[i] = current[i];
      } else {
        current[i] = tree->parent;
        next.push_back(i);
      }
    }
    pending = std::move(next);
  }
  return result;
}

// For each window, the nearest window with WM_STATE at or below it, breadth
// first. One round trip per level, for all windows at once.
std::vector<std::optional<xcb_window_t>> clientsBelow(xcb_connection_t* c, xcb_atom_t wmState,
                                                      const std::vector<xcb_window_t>& windows) {
  std::vector<std::optional<xcb_window_t>> found(windows.size());
  if (wmState == XCB_ATOM_NONE) return found;
  struct Candidate {
    std::size_t owner;
    xcb_window_t window;
  };
  std::vector<Candidate> level;
  for (std::size_t i = 0; i < windows.size(); ++i) level.push_back({i, windows[i]});
  for (int depth = 0; depth < kSearchDepth && !level.empty(); ++depth) {
    struct Asked {
      xcb_get_property_cookie_t state;
      xcb_query_tree_cookie_t tree;
    };
    std::vector<Asked> asked;
    asked.reserve(level.size());
    for (const auto& candidate : level) {
      // Zero length: only whether the property is there.
      asked.push_back({requestProperty(c, candidate.window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0),
                       xcb_query_tree(c, candidate.window)});
    }
    std::vector<Candidate> next;
    for (std::size_t k = 0; k < level.size(); ++k) {
      auto state = xcbReply(xcb_get_property_reply, c, asked[k].state);
      auto tree = xcbReply(xcb_query_tree_reply, c, asked[k].tree);
      const std::size_t owner = level[k].owner;
      if (found[owner]) continue;
      if (state && state->type != XCB_ATOM_NONE) {
        found[owner] = level[k].window;
      } else if (tree) {
        for (xcb_window_t child : childrenOf(tree.get())) next.push_back({owner, child});
      }
    }
    // A candidate found on this level outranks its cousins' children.
    std::erase_if(next, [&](const Candidate& candidate) { return found[candidate.owner].has_value(); });
    level = std::move(next);
  }
  return found;
}

}  // namespace

ClientWindows clientWindows(xcb_connection_t* c, xcb_window_t root, const ClientAtoms& atoms,
                            const std::vector<xcb_window_t>& topLevels) {
  ClientWindows result;
  if (auto stacking = windowListProperty(c, root, atoms.clientListStacking); !stacking.empty()) {
    result.topmostFirst.assign(stacking.rbegin(), stacking.rend());
    result.managed = true;
    return result;
  }

  if (auto clients = windowListProperty(c, root, atoms.clientList); !clients.empty()) {
    std::unordered_map<xcb_window_t, std::size_t> height;  // bottom to top
    for (std::size_t i = 0; i < topLevels.size(); ++i) height.emplace(topLevels[i], i);
    const auto frames = topLevelAncestors(c, root, clients);
    std::vector<std::pair<std::size_t, xcb_window_t>> stacked;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (auto frame = height.find(frames[i]); frame != height.end())
        stacked.emplace_back(frame->second, clients[i]);
    }
    // Clients sharing a frame keep the list's order.
    std::stable_sort(stacked.begin(), stacked.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& entry : stacked) result.topmostFirst.push_back(entry.second);
    result.managed = true;
    return result;
  }

  const std::vector<xcb_window_t> topmostFirst(topLevels.rbegin(), topLevels.rend());
  for (const auto& client : clientsBelow(c, atoms.wmState, topmostFirst)) {
    if (client) result.topmostFirst.push_back(*client);
  }
  result.managed = !result.topmostFirst.empty();
  return result;
}

std::optional<xcb_window_t> clientOf(xcb_connection_t* c, xcb_window_t root, xcb_atom_t wmState,
                                     xcb_window_t window) {
  if (window == XCB_WINDOW_NONE || window == root) return std::nullopt;
  xcb_window_t current = window;
  for (int depth = 0; depth < kAncestorDepth; ++depth) {
    auto stateCookie = requestProperty(c, current, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0);
    auto treeCookie = xcb_query_tree(c, current);
    auto state = xcbReply(xcb_get_property_reply, c, stateCookie);
    auto tree = xcbReply(xcb_query_tree_reply, c, treeCookie);
    if (state && state->type != XCB_ATOM_NONE) return current;
    if (!tree) return std::nullopt;
    if (tree->parent == root || tree->parent == XCB_WINDOW_NONE) break;
    current = tree->parent;
  }
  // `current` is the top-level: a frame holds its client below; without a
  // window manager the top-level is the client.
  return clientsBelow(c, wmState, {current}).front().value_or(current);
}

}  // namespace zoba::platform::linux_backend
