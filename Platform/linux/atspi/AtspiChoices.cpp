// A combo box's value: the text of an editable one, the name of the selected item
// of a drop-down. These calls need the states and children the second round of a
// fetch read, so they go out once it is in; only combo boxes pay for them.
#include "Platform/linux/atspi/AtspiChoices.h"

#include "Platform/linux/atspi/AtspiBridgeCache.h"
#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiReplies.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

constexpr const char* selectionInterface = "org.a11y.atspi.Selection";

// The element of a "((so))" reply; absent for the null reference.
std::optional<AXElement> referenceOf(GVariant* reply, const std::string& fallbackBus) {
  const char* bus = nullptr;
  const char* path = nullptr;
  g_variant_get(reply, "((&s&o))", &bus, &path);
  if (std::string_view(path) == nullPath) return std::nullopt;
  return AXElement{*bus ? bus : fallbackBus, path};
}

void askChoiceName(Engine& engine, const std::shared_ptr<Fetch>& fetch, const AXElement& item);

void askSelected(Engine& engine, const std::shared_ptr<Fetch>& fetch, bool onBox, bool fallBack) {
  auto app = fetch->application;
  auto otherHolder = [&engine, fetch, app, onBox, fallBack] {
    if (fallBack) {
      // The other way answers for this application's boxes, or neither does.
      app->choiceHolder = onBox ? Application::ChoiceHolder::search : Application::ChoiceHolder::box;
      askSelected(engine, fetch, !onBox, false);
    } else {
      app->choiceHolder = Application::ChoiceHolder::none;
    }
  };
  if (onBox) {
    ++fetch->outstanding;
    engine.call(
        app, fetch->element.path, selectionInterface, "GetSelectedChild", g_variant_new("(i)", 0), "((so))",
        [&engine, fetch, otherHolder](const Reply& reply) {
          if (reply) {
            if (auto item = referenceOf(reply.value.get(), fetch->element.application))
              askChoiceName(engine, fetch, *item);
          } else if (reply.unknownMethod) {
            otherHolder();
          }
          engine.finishPart(fetch);
        },
        fetch->line());
    return;
  }
  // Gecko's and Chromium's boxes hold the Selection in a menu the walk does not
  // read (and Chromium's is not VISIBLE): the bridge finds the SELECTED item below.
  if (app->noCollection) {
    otherHolder();
    return;
  }
  ++fetch->outstanding;
  engine.call(
      app, fetch->element.path, collectionInterface, "GetMatches", statesQuery(ATSPI_STATE_SELECTED, false),
      "(a(so))",
      [&engine, fetch, otherHolder](const Reply& reply) {
        if (reply) {
          GVariantPtr array(g_variant_get_child_value(reply.value.get(), 0));
          auto items = elementsOf(array.get(), fetch->element.application);
          if (!items.empty()) askChoiceName(engine, fetch, items.front());
        } else if (reply.unknownMethod) {
          otherHolder();
        }
        engine.finishPart(fetch);
      },
      fetch->line());
}

void askChoiceName(Engine& engine, const std::shared_ptr<Fetch>& fetch, const AXElement& item) {
  if (item.application != fetch->element.application) return;
  // A single Get: Qt's bridge dies on GetAll.
  engine.send(fetch, item.path, propertiesInterface, "Get",
              g_variant_new("(ss)", accessibleInterface, "Name"), "(v)", [](Fetch& f, GVariant* reply) {
                GVariantPtr boxed(g_variant_get_child_value(reply, 0));
                GVariantPtr name(g_variant_get_variant(boxed.get()));
                if (g_variant_is_of_type(name.get(), G_VARIANT_TYPE_STRING))
                  f.choice = boundedString(name.get());
              });
}

}  // namespace

void askChoice(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  if (!(fetch->wants & wantValue) || fetch->failed || fetch->role != ATSPI_ROLE_COMBO_BOX) return;
  auto app = fetch->application;
  const std::string& path = fetch->element.path;
  if (fetch->states && fetch->states->has(ATSPI_STATE_EDITABLE)) {
    // Gecko's address bar and the web's editable combo boxes hold the text
    // themselves; GTK's hold an entry, which findEntryChild reads.
    ++fetch->outstanding;
    engine.call(
        app, path, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1), "(s)",
        [&engine, fetch](const Reply& reply) {
          if (reply) fetch->text = stringOf(reply.value.get());
          engine.finishPart(fetch);
        },
        fetch->line());
    return;
  }
  // Chromium's cache holds the menu with states and names once it has built it: no call.
  if (cacheFresh(*app)) {
    fetch->choice = selectedInCache(app->cache, path);
    if (fetch->choice) return;
  }
  switch (app->choiceHolder) {
    case Application::ChoiceHolder::box: askSelected(engine, fetch, true, true); break;
    case Application::ChoiceHolder::search: askSelected(engine, fetch, false, true); break;
    case Application::ChoiceHolder::none: break;
  }
}

}  // namespace zoba::platform::linux_backend::atspi
