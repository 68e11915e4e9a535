#include "Platform/linux/atspi/AtspiOffScreen.h"

#include <algorithm>
#include <memory>

#include "Platform/linux/atspi/AtspiEngine.h"

namespace zoba::platform::linux_backend::atspi {

std::vector<std::vector<std::size_t>> sharedAreas(const std::vector<std::optional<Extents>>& siblings) {
  std::vector<std::vector<std::size_t>> groups;
  std::vector<bool> placed(siblings.size(), false);
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    if (placed[i] || !siblings[i] || siblings[i]->width <= 0 || siblings[i]->height <= 0) continue;
    std::vector<std::size_t> group{i};
    for (std::size_t j = i + 1; j < siblings.size(); ++j) {
      if (!placed[j] && siblings[j] == siblings[i]) {
        group.push_back(j);
        placed[j] = true;
      }
    }
    if (group.size() > 1) groups.push_back(std::move(group));
  }
  return groups;
}

bool noArea(const std::optional<Extents>& area) { return area && (area->width <= 0 || area->height <= 0); }

std::vector<bool> coveredPages(const std::vector<std::optional<bool>>& containsCentre) {
  const bool oneShown = std::any_of(containsCentre.begin(), containsCentre.end(),
                                    [](const auto& answer) { return answer.value_or(false); });
  std::vector<bool> covered(containsCentre.size(), false);
  if (!oneShown) return covered;
  for (std::size_t i = 0; i < containsCentre.size(); ++i) covered[i] = containsCentre[i] == false;
  return covered;
}

void leaveOutOffScreen(Engine& engine, const Fetch& parent, std::vector<std::shared_ptr<Fetch>>& children) {
  // The walk waits on these answers: they go in the parent's place in line.
  // Each child's area costs a call, so a long list's rows are not asked (it is no
  // stack, and rows of no size are rare), nor an only child: one of no size mostly
  // leaves its parent of no size too, which the parent's siblings' areas tell.
  if (children.size() < 2 || children.size() > 64) return;
  auto app = parent.application;
  const double deadline = monotonicSeconds() + app->timeout + 0.25;
  // Window coordinates: GTK 4 knows no screen position on X11 and answers alike.
  constexpr guint32 windowCoordinates = ATSPI_COORD_TYPE_WINDOW;
  struct Answers {
    std::vector<std::optional<Extents>> extents;
    std::vector<std::optional<bool>> contains;
    int pendingExtents = 0, pendingContains = 0;
  };
  auto answers = std::make_shared<Answers>();
  answers->extents.resize(children.size());
  answers->contains.resize(children.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (children[i]->failed) continue;
    ++answers->pendingExtents;
    engine.call(
        app, children[i]->element.path, "org.a11y.atspi.Component", "GetExtents",
        g_variant_new("(u)", windowCoordinates), "((iiii))",
        [answers, i](const Reply& reply) {
          --answers->pendingExtents;
          if (!reply) return;
          Extents area;
          g_variant_get(reply.value.get(), "((iiii))", &area.x, &area.y, &area.width, &area.height);
          answers->extents[i] = area;
        },
        parent.line());
  }
  engine.waitUntil([&] { return answers->pendingExtents == 0; }, deadline);
  std::vector<bool> hidden(children.size(), false);
  for (std::size_t i = 0; i < children.size(); ++i) hidden[i] = noArea(answers->extents[i]);
  const auto groups = sharedAreas(answers->extents);
  for (const auto& group : groups) {
    for (std::size_t i : group) {
      const Extents& area = *answers->extents[i];
      ++answers->pendingContains;
      engine.call(
          app, children[i]->element.path, "org.a11y.atspi.Component", "Contains",
          g_variant_new("(iiu)", area.x + area.width / 2, area.y + area.height / 2, windowCoordinates), "(b)",
          [answers, i](const Reply& reply) {
            --answers->pendingContains;
            if (!reply) return;
            gboolean inside = FALSE;
            g_variant_get(reply.value.get(), "(b)", &inside);
            answers->contains[i] = inside != FALSE;
          },
          parent.line());
    }
  }
  if (!groups.empty()) engine.waitUntil([&] { return answers->pendingContains == 0; }, deadline);
  for (const auto& group : groups) {
    std::vector<std::optional<bool>> contains;
    for (std::size_t i : group) contains.push_back(answers->contains[i]);
    const auto covered = coveredPages(contains);
    for (std::size_t k = 0; k < group.size(); ++k) hidden[group[k]] = covered[k];
  }
  std::vector<std::shared_ptr<Fetch>> shown;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (!hidden[i]) shown.push_back(std::move(children[i]));
  }
  children = std::move(shown);
}

}  // namespace zoba::platform::linux_backend::atspi
