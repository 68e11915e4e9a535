#include "Platform/linux/x11/XConnection.h"

#include <mutex>

namespace zoba::platform::linux_backend {

// Serves the connection's fd on GLib's default main context. xcb may already have
// read events into its own queue while waiting for a reply, leaving the fd quiet,
// so prepare and check also look at that queue.
struct XConnection::Source {
  GSource base;
  XConnection* owner;
  gpointer fdTag;

  static gboolean prepare(GSource* source, gint* timeout) {
    *timeout = -1;
    auto* self = reinterpret_cast<Source*>(source);
    return self->owner->pullQueued();
  }
  static gboolean check(GSource* source) {
    auto* self = reinterpret_cast<Source*>(source);
    if (g_source_query_unix_fd(source, self->fdTag) & (G_IO_IN | G_IO_HUP | G_IO_ERR)) return TRUE;
    return self->owner->pullQueued();
  }
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
    auto* self = reinterpret_cast<Source*>(source);
    const bool alive = self->owner->pullAll();
    self->owner->deliverPending();
    // A broken connection keeps its fd readable forever; stop serving it.
    return alive ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  }
};

XConnection::Subscription::Subscription(std::shared_ptr<XConnection> connection, int id)
    : connection_(std::move(connection)), id_(id) {}

XConnection::Subscription::~Subscription() { connection_->unsubscribe(id_); }

std::shared_ptr<XConnection> XConnection::shared() {
  static std::mutex mutex;
  static std::shared_ptr<XConnection> current;
  // Broken connections stay alive until exit: subscribers may still hold them, and
  // they must not be torn down on some other thread while the main loop serves them.
  static std::vector<std::shared_ptr<XConnection>> retired;

  std::lock_guard lock(mutex);
  if (current && !current->broken()) return current;
  if (current) retired.push_back(std::move(current));

  auto display = openDisplay();
  if (!display) return nullptr;
  current = std::shared_ptr<XConnection>(new XConnection(std::move(*display)));
  current->self_ = current;
  return current;
}

XConnection::XConnection(DisplayConnection display) : display_(std::move(display)), atoms_(display_.get()) {}

XConnection::~XConnection() {
  // The source reads the connection: gone before it.
  source_.reset();
  pending_.clear();
}

std::unique_ptr<XConnection::Subscription> XConnection::subscribe(EventHandler handler) {
  if (!source_) {
    static GSourceFuncs sourceFuncs = {Source::prepare, Source::check, Source::dispatch,
                                       nullptr,         nullptr,       nullptr};
    GSource* source = g_source_new(&sourceFuncs, sizeof(Source));
    auto* ours = reinterpret_cast<Source*>(source);
    ours->owner = this;
    ours->fdTag = g_source_add_unix_fd(source, xcb_get_file_descriptor(display_.get()),
                                       static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    // Input wins over timers and idle work: the hotkey's latency is what the user feels.
    g_source_set_priority(source, G_PRIORITY_HIGH);
    g_source_attach(source, g_main_context_default());
    source_.reset(source);
  }
  const int id = nextId_++;
  handlers_.emplace(id, std::make_shared<EventHandler>(std::move(handler)));
  return std::make_unique<Subscription>(self_.lock(), id);
}

void XConnection::unsubscribe(int id) { handlers_.erase(id); }

bool XConnection::pullQueued() {
  while (auto* event = xcb_poll_for_queued_event(display_.get())) pending_.emplace_back(event);
  return !pending_.empty();
}

bool XConnection::pullAll() {
  while (auto* event = xcb_poll_for_event(display_.get())) pending_.emplace_back(event);
  return !broken();
}

void XConnection::deliverPending() {
  auto events = std::move(pending_);
  pending_.clear();
  for (const auto& event : events) {
    // A handler may subscribe or unsubscribe others; each one still registered gets the event.
    std::vector<std::pair<int, std::shared_ptr<EventHandler>>> snapshot(handlers_.begin(), handlers_.end());
    for (const auto& [id, handler] : snapshot) {
      if (handlers_.contains(id)) (*handler)(*event);
    }
  }
}

}  // namespace zoba::platform::linux_backend
