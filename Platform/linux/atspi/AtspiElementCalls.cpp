// What a fetch asks of one element: the first round from the bridge's cache or
// in calls, the second by role and by what the fetch wants.
#include "Platform/linux/atspi/AtspiElementCalls.h"

#include <cstring>

#include "Platform/linux/atspi/AtspiBridgeCache.h"
#include "Platform/linux/atspi/AtspiChildren.h"
#include "Platform/linux/atspi/AtspiEngine.h"
#include "Platform/linux/atspi/AtspiReplies.h"
#include "Platform/linux/atspi/AtspiTextRuns.h"

namespace zoba::platform::linux_backend::atspi {

namespace {

// One of the Accessible interface's properties, as GetAll or Get gives it.
void readAccessibleProperty(Fetch& f, std::string_view property, GVariant* value) {
  if ((property == "Name" || property == "Description") &&
      g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    (property == "Name" ? f.name : f.description) = boundedString(value);
  } else if (property == "ChildCount" && g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
    f.childCount = g_variant_get_int32(value);
  } else if (property == "Parent" && g_variant_is_of_type(value, G_VARIANT_TYPE("(so)"))) {
    const char* bus = nullptr;
    const char* parent = nullptr;
    g_variant_get(value, "(&s&o)", &bus, &parent);
    f.parent = AXElement{*bus ? bus : f.element.application, parent};
  }
}

// Whether a GetInterfaces reply lists the Text interface.
bool listsText(GVariant* reply) {
  GVariantIter* interfaces = nullptr;
  g_variant_get(reply, "(as)", &interfaces);
  bool found = false;
  const char* interface = nullptr;
  while (g_variant_iter_next(interfaces, "&s", &interface))
    found = found || std::strcmp(interface, "org.a11y.atspi.Text") == 0;
  g_variant_iter_free(interfaces);
  return found;
}

void askOwnText(Engine& engine, const std::shared_ptr<Fetch>& fetch);

void askTextRuns(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  const AtspiRole role = *fetch->role;
  // Chromium makes an object of every run of text; GTK 3's containers hold none.
  if (!mayHoldTextRuns(role) || (app->toolkit && *app->toolkit == "Chromium") ||
      app->textlessRoles.contains(static_cast<std::uint32_t>(role)))
    return;
  if (app->knownTextless(fetch->element.path)) return;
  ++fetch->outstanding;
  // GTK's bridges answer a text call on an object without Text with a critical on
  // the application's stderr besides the error: learn once per role whether it has
  // Text (a document view has none, its page has). The web engines give every such
  // role Text.
  const auto key = static_cast<std::uint32_t>(role);
  if (app->gtk() && !app->textRoles.contains(key)) {
    engine.call(
        app, fetch->element.path, accessibleInterface, "GetInterfaces", nullptr, "(as)",
        [&engine, fetch, app, key](const Reply& reply) {
          if (reply && listsText(reply.value.get())) {
            app->textRoles.insert(key);
            askOwnText(engine, fetch);
          } else {
            if (reply) app->textlessRoles.insert(key);
            engine.finishPart(fetch);
          }
        },
        fetch->line());
    return;
  }
  askOwnText(engine, fetch);
}

void askOwnText(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  auto app = fetch->application;
  const AtspiRole role = *fetch->role;
  engine.call(
      app, fetch->element.path, "org.a11y.atspi.Text", "GetText",
      g_variant_new("(ii)", 0, app->wholeTextEnd()), "(s)",
      [&engine, fetch, app, role](const Reply& reply) {
        if (reply)
          fetch->ownText = stringOf(reply.value.get());
        else if (reply.unknownMethod)
          app->textlessRoles.insert(static_cast<std::uint32_t>(role));
        engine.finishPart(fetch);
      },
      fetch->line());
}

void askRoleName(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  const auto role = static_cast<std::uint32_t>(*fetch->role);
  auto app = fetch->application;
  auto& entry = app->roleNames[role];
  if (entry.done) {
    fetch->roleName = entry.text;
    return;
  }
  // One call per role and application; the elements of that role wait for it.
  ++fetch->outstanding;
  entry.waiting.push_back(fetch);
  if (entry.requested) return;
  entry.requested = true;
  engine.call(
      app, fetch->element.path, accessibleInterface, "GetLocalizedRoleName", nullptr, "(s)",
      [&engine, app, role](const Reply& reply) {
        auto& named = app->roleNames[role];
        if (reply) {
          named.text = stringOf(reply.value.get());
          named.done = true;
        }
        named.requested = false;  // after a failure, the next element of this role asks again
        auto waiting = std::move(named.waiting);
        named.waiting.clear();
        for (auto& waiter : waiting) {
          waiter->roleName = named.text;
          engine.finishPart(waiter);
        }
      },
      fetch->line());
}

}  // namespace

void askBasics(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  const unsigned wants = fetch->wants;
  if (fillFromCache(*fetch)) return;
  const std::string& path = fetch->element.path;
  engine.send(fetch, path, accessibleInterface, "GetRole", nullptr, "(u)", [](Fetch& f, GVariant* reply) {
    guint32 role = 0;
    g_variant_get(reply, "(u)", &role);
    f.role = static_cast<AtspiRole>(role);
  });
  // A walk asks for states only once the role shows they can matter.
  if (!(wants & wantSparseStates) || fetch->application->noCollection) askStates(engine, fetch);
  if (fetch->application->getAllSafe()) {
    engine.send(fetch, path, propertiesInterface, "GetAll", g_variant_new("(s)", accessibleInterface),
                "(a{sv})", [](Fetch& f, GVariant* reply) {
                  GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
                  GVariantIter iter;
                  g_variant_iter_init(&iter, dictionary.get());
                  const char* property = nullptr;
                  GVariant* value = nullptr;
                  while (g_variant_iter_next(&iter, "{&sv}", &property, &value)) {
                    GVariantPtr owned(value);
                    readAccessibleProperty(f, property, value);
                  }
                });
  } else {
    for (const char* property : {"Name", "Description", "ChildCount", "Parent"}) {
      engine.send(fetch, path, propertiesInterface, "Get",
                  g_variant_new("(ss)", accessibleInterface, property), "(v)",
                  [property](Fetch& f, GVariant* reply) {
                    GVariantPtr boxed(g_variant_get_child_value(reply, 0));
                    GVariantPtr value(g_variant_get_variant(boxed.get()));
                    readAccessibleProperty(f, property, value.get());
                  });
    }
  }
}

void askDetails(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  if (!fetch->role) {
    fetch->failed = true;  // an element without a role cannot be read
    return;
  }
  const unsigned wants = fetch->wants;
  const AtspiRole role = *fetch->role;
  const std::string& path = fetch->element.path;
  ++fetch->outstanding;  // held while the second round is sent

  // Children first: a container that may make its children on demand asks for its
  // states itself before it chooses how to read them.
  if ((wants & wantChildren) && !fetch->children) {
    if (fetch->childCount == 0) {
      fetch->children.emplace();
    } else {
      askChildren(engine, fetch);
    }
  } else if ((wants & wantChildren) && fetch->cascade) {
    engine.prefetchChildren(*fetch);
  }
  if (!fetch->states && !fetch->statesAsked &&
      (!statesIrrelevant(role) || hiddenWhenNotShowing(role) || fetch->application->noCollection))
    askStates(engine, fetch);
  if (wants & wantRoleName) askRoleName(engine, fetch);
  if (wants & wantTextRuns) askTextRuns(engine, fetch);
  if (wants & wantValue) {
    if (textIsName(role) && fetch->name && !fetch->name->empty()) {
      fetch->text = *fetch->name;  // a label's name is its text: no call
    } else if (readsText(role) && !fetch->application->knownTextless(path)) {
      engine.send(fetch, path, "org.a11y.atspi.Text", "GetText",
                  g_variant_new("(ii)", 0, fetch->application->wholeTextEnd()), "(s)",
                  [](Fetch& f, GVariant* reply) {
                    f.text = f.role == ATSPI_ROLE_TERMINAL ? terminalRows(stringOf(reply), maxTerminalRows)
                                                           : stringOf(reply);
                  });
    } else if (readsRange(role) && !(fetch->states && !fetch->states->has(ATSPI_STATE_VISIBLE))) {
      // A hidden range is left out of the outline anyway, and Chromium's hidden
      // resize handles have no value: asking logs a GLib critical each.
      // One property at a time: Chromium aborts on GetAll of this interface.
      engine.send(fetch, path, propertiesInterface, "Get",
                  g_variant_new("(ss)", "org.a11y.atspi.Value", "CurrentValue"), "(v)",
                  [](Fetch& f, GVariant* reply) {
                    GVariantPtr boxed(g_variant_get_child_value(reply, 0));
                    GVariantPtr number(g_variant_get_variant(boxed.get()));
                    if (g_variant_is_of_type(number.get(), G_VARIANT_TYPE_DOUBLE))
                      f.range = g_variant_get_double(number.get());
                  });
    }
  }
  if ((wants & wantAttributes) && mayHavePlaceholder(role)) {
    engine.send(fetch, path, accessibleInterface, "GetAttributes", nullptr, "(a{ss})",
                [](Fetch& f, GVariant* reply) {
                  GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
                  f.attributes = dictionaryOf(dictionary.get());
                });
  }
  if (wants & wantURL) {
    if (role == ATSPI_ROLE_DOCUMENT_WEB) {
      engine.send(fetch, path, "org.a11y.atspi.Document", "GetAttributes", nullptr, "(a{ss})",
                  [](Fetch& f, GVariant* reply) {
                    GVariantPtr dictionary(g_variant_get_child_value(reply, 0));
                    f.url = firstNonEmpty(dictionaryOf(dictionary.get()), {"URI", "DocURL"});
                  });
    } else if (role == ATSPI_ROLE_LINK) {
      engine.send(fetch, path, "org.a11y.atspi.Hyperlink", "GetURI", g_variant_new("(i)", 0), "(s)",
                  [](Fetch& f, GVariant* reply) {
                    std::string text = stringOf(reply);
                    if (!text.empty()) f.url = std::move(text);
                  });
    }
  }
  if (wants & wantExtents) {
    engine.send(fetch, path, "org.a11y.atspi.Component", "GetExtents",
                g_variant_new("(u)", ATSPI_COORD_TYPE_SCREEN), "((iiii))", [](Fetch& f, GVariant* reply) {
                  gint32 x = 0, y = 0, width = 0, height = 0;
                  g_variant_get(reply, "((iiii))", &x, &y, &width, &height);
                  f.position = Point{static_cast<double>(x), static_cast<double>(y)};
                  f.size = Size{static_cast<double>(width), static_cast<double>(height)};
                });
  }
  if ((wants & wantParentRole) && dependsOnParent(role) && !fetch->parentRole && fetch->parent &&
      fetch->parent->path != rootPath && fetch->parent->application == fetch->element.application) {
    engine.send(fetch, fetch->parent->path, accessibleInterface, "GetRole", nullptr, "(u)",
                [](Fetch& f, GVariant* reply) {
                  guint32 parentRole = 0;
                  g_variant_get(reply, "(u)", &parentRole);
                  f.parentRole = static_cast<AtspiRole>(parentRole);
                });
  }
  engine.finishPart(fetch);
}

void askStates(Engine& engine, const std::shared_ptr<Fetch>& fetch) {
  fetch->statesAsked = true;
  engine.send(fetch, fetch->element.path, accessibleInterface, "GetState", nullptr, "(au)",
              [](Fetch& f, GVariant* reply) {
                GVariantPtr array(g_variant_get_child_value(reply, 0));
                f.states = statesOf(array.get());
              });
}

}  // namespace zoba::platform::linux_backend::atspi
