#include "Platform/linux/atspi/SdBusValues.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zoba::platform::linux_backend::atspi {

namespace {

GVariantPtr sunk(GVariant* value) { return GVariantPtr(value ? g_variant_ref_sink(value) : nullptr); }

template <class T>
bool appendNumber(sd_bus_message* message, char type, T value) {
  return sd_bus_message_append_basic(message, type, &value) >= 0;
}

bool appendValue(sd_bus_message* message, GVariant* value) {
  const char* type = g_variant_get_type_string(value);
  switch (type[0]) {
    case 'y': return appendNumber(message, 'y', g_variant_get_byte(value));
    case 'b': return appendNumber<int>(message, 'b', g_variant_get_boolean(value) ? 1 : 0);
    case 'n': return appendNumber(message, 'n', g_variant_get_int16(value));
    case 'q': return appendNumber(message, 'q', g_variant_get_uint16(value));
    case 'i': return appendNumber(message, 'i', g_variant_get_int32(value));
    case 'u': return appendNumber(message, 'u', g_variant_get_uint32(value));
    case 'x': return appendNumber(message, 'x', g_variant_get_int64(value));
    case 't': return appendNumber(message, 't', g_variant_get_uint64(value));
    case 'd': return appendNumber(message, 'd', g_variant_get_double(value));
    case 's':
    case 'o':
    case 'g':
      // sd-bus takes strings by their own pointer.
      return sd_bus_message_append_basic(message, type[0], g_variant_get_string(value, nullptr)) >= 0;
    case 'v': {
      GVariantPtr inner(g_variant_get_variant(value));
      return sd_bus_message_open_container(message, 'v', g_variant_get_type_string(inner.get())) >= 0 &&
             appendValue(message, inner.get()) && sd_bus_message_close_container(message) >= 0;
    }
    case 'a':
    case '(':
    case '{': {
      const std::string whole = type;
      // sd-bus names a container by what it holds: an array's element type, a
      // structure's or an entry's member types.
      const char container = type[0] == 'a' ? 'a' : type[0] == '(' ? 'r' : 'e';
      const std::string contents = container == 'a' ? whole.substr(1) : whole.substr(1, whole.size() - 2);
      if (contents.empty() || sd_bus_message_open_container(message, container, contents.c_str()) < 0)
        return false;
      const gsize count = g_variant_n_children(value);
      for (gsize i = 0; i < count; ++i) {
        GVariantPtr child(g_variant_get_child_value(value, i));
        if (!appendValue(message, child.get())) return false;
      }
      return sd_bus_message_close_container(message) >= 0;
    }
    default: return false;  // maybe types and handles have no place in our calls
  }
}

template <class T, class Make>
GVariantPtr readNumber(sd_bus_message* message, char type, Make make) {
  T value{};
  if (sd_bus_message_read_basic(message, type, &value) < 0) return nullptr;
  return sunk(make(value));
}

// The size of one element of an array sd-bus can hand over in one piece, laid
// out as GVariant lays it out; 0 for any other element.
std::size_t fixedSize(const char* contents) {
  if (contents[0] == '\0' || contents[1] != '\0') return 0;
  switch (contents[0]) {
    case 'y': return 1;
    case 'n':
    case 'q': return 2;
    case 'i':
    case 'u': return 4;
    case 'x':
    case 't':
    case 'd': return 8;
    default: return 0;  // a D-Bus boolean is four bytes, a GVariant one is one
  }
}

GVariantPtr readValue(sd_bus_message* message, char type, const char* contents);

// The values up to the end of the current container.
bool readMembers(sd_bus_message* message, std::vector<GVariantPtr>& members) {
  for (;;) {
    char type = 0;
    const char* contents = nullptr;
    const int more = sd_bus_message_peek_type(message, &type, &contents);
    if (more < 0) return false;
    if (more == 0) return true;
    members.push_back(readValue(message, type, contents));
    if (!members.back()) return false;
  }
}

std::vector<GVariant*> borrowed(const std::vector<GVariantPtr>& members) {
  std::vector<GVariant*> values;
  values.reserve(members.size());
  for (const auto& member : members) values.push_back(member.get());
  return values;
}

GVariantPtr readContainer(sd_bus_message* message, char type, const char* contents) {
  if (type == 'a') {
    if (const std::size_t size = fixedSize(contents)) {
      const void* data = nullptr;
      std::size_t bytes = 0;
      if (sd_bus_message_read_array(message, contents[0], &data, &bytes) < 0) return nullptr;
      if (bytes == 0) return sunk(g_variant_new_array(G_VARIANT_TYPE(contents), nullptr, 0));
      return sunk(g_variant_new_fixed_array(G_VARIANT_TYPE(contents), data, bytes / size, size));
    }
  }
  if (sd_bus_message_enter_container(message, type, contents) <= 0) return nullptr;
  std::vector<GVariantPtr> members;
  if (!readMembers(message, members) || sd_bus_message_exit_container(message) < 0) return nullptr;
  auto values = borrowed(members);
  switch (type) {
    case 'a': return sunk(g_variant_new_array(G_VARIANT_TYPE(contents), values.data(), values.size()));
    case 'r': return values.empty() ? nullptr : sunk(g_variant_new_tuple(values.data(), values.size()));
    case 'e': return values.size() == 2 ? sunk(g_variant_new_dict_entry(values[0], values[1])) : nullptr;
    case 'v': return values.size() == 1 ? sunk(g_variant_new_variant(values[0])) : nullptr;
    default: return nullptr;
  }
}

GVariantPtr readValue(sd_bus_message* message, char type, const char* contents) {
  switch (type) {
    case 'y': return readNumber<std::uint8_t>(message, type, g_variant_new_byte);
    case 'b': return readNumber<int>(message, type, [](int v) { return g_variant_new_boolean(v != 0); });
    case 'n': return readNumber<std::int16_t>(message, type, g_variant_new_int16);
    case 'q': return readNumber<std::uint16_t>(message, type, g_variant_new_uint16);
    case 'i': return readNumber<std::int32_t>(message, type, g_variant_new_int32);
    case 'u': return readNumber<std::uint32_t>(message, type, g_variant_new_uint32);
    case 'x': return readNumber<std::int64_t>(message, type, g_variant_new_int64);
    case 't': return readNumber<std::uint64_t>(message, type, g_variant_new_uint64);
    case 'd': return readNumber<double>(message, type, g_variant_new_double);
    case 's': {
      // GVariant refuses what GLib does not take for UTF-8; so is the reply.
      const char* text = nullptr;
      if (sd_bus_message_read_basic(message, type, &text) < 0 || !g_utf8_validate(text, -1, nullptr))
        return nullptr;
      return sunk(g_variant_new_string(text));
    }
    case 'o': return readNumber<const char*>(message, type, g_variant_new_object_path);
    case 'g': return readNumber<const char*>(message, type, g_variant_new_signature);
    case 'a':
    case 'r':
    case 'e':
    case 'v': return readContainer(message, type, contents);
    default: return nullptr;  // no file descriptors were negotiated
  }
}

}  // namespace

bool appendBody(sd_bus_message* message, GVariant* body) {
  if (!body) return true;
  if (!g_variant_is_of_type(body, G_VARIANT_TYPE_TUPLE)) return false;
  const gsize count = g_variant_n_children(body);
  for (gsize i = 0; i < count; ++i) {
    GVariantPtr member(g_variant_get_child_value(body, i));
    if (!appendValue(message, member.get())) return false;
  }
  return true;
}

GVariantPtr readBody(sd_bus_message* message) {
  std::vector<GVariantPtr> members;
  if (!readMembers(message, members)) return nullptr;
  auto values = borrowed(members);
  return sunk(g_variant_new_tuple(values.data(), values.size()));
}

}  // namespace zoba::platform::linux_backend::atspi
