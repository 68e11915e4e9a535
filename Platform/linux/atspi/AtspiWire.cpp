#include "Platform/linux/atspi/AtspiWire.h"

#include <bit>
#include <cstring>
#include <vector>

namespace zoba::platform::linux_backend::atspi::wire {

namespace {

constexpr char hostOrder = std::endian::native == std::endian::little ? 'l' : 'B';
constexpr std::size_t maxMessage = 128u << 20;  // the specification's bound
constexpr std::size_t maxArray = 64u << 20;
constexpr int maxDepth = 64;

enum Field : std::uint8_t { pathField = 1, interfaceField, memberField, errorNameField, replySerialField,
                            signatureField = 8 };

std::size_t alignmentOf(char code) {
  switch (code) {
    case 'n': case 'q': return 2;
    case 'b': case 'i': case 'u': case 'h': case 's': case 'o': case 'a': return 4;
    case 'x': case 't': case 'd': case '(': case '{': return 8;
    default: return 1;  // y, g, v
  }
}

// The size of a number the wire and GVariant both store as it is in memory; 0
// for other types (a boolean is four bytes on the wire, one in a GVariant).
std::size_t fixedSize(char code) {
  switch (code) {
    case 'y': return 1;
    case 'n': case 'q': return 2;
    case 'i': case 'u': return 4;
    case 'x': case 't': case 'd': return 8;
    default: return 0;
  }
}

// --- Writing -----------------------------------------------------------------

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out), start_(out.size()) {}
  std::size_t offset() const { return out_.size() - start_; }
  void align(std::size_t to) { out_.append((to - offset() % to) % to, '\0'); }
  void byte(std::uint8_t value) { out_.push_back(static_cast<char>(value)); }
  template <class T>
  void fixed(T value) {
    align(sizeof(T));
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out_.append(bytes, sizeof(T));
  }
  void string(const char* text) {
    const std::size_t length = std::strlen(text);
    fixed(static_cast<std::uint32_t>(length));
    out_.append(text, length + 1);
  }
  void signature(const char* text) {
    const std::size_t length = std::strlen(text);
    byte(static_cast<std::uint8_t>(length));
    out_.append(text, length + 1);
  }
  // A length written later, once what it measures is there.
  std::size_t placeholder() {
    fixed(std::uint32_t{0});
    return out_.size() - 4;
  }
  void patch(std::size_t at, std::uint32_t value) { std::memcpy(out_.data() + at, &value, 4); }
  bool value(GVariant* value);
  void field(Field code, const char* type, const char* text) {
    align(8);
    byte(code);
    signature(type);
    *type == 'g' ? signature(text) : string(text);
  }
  void rollBack() { out_.resize(start_); }

 private:
  std::string& out_;
  std::size_t start_;
};

bool Writer::value(GVariant* value) {
  switch (g_variant_classify(value)) {
    case G_VARIANT_CLASS_BOOLEAN: fixed<std::uint32_t>(g_variant_get_boolean(value) ? 1 : 0); return true;
    case G_VARIANT_CLASS_BYTE: byte(g_variant_get_byte(value)); return true;
    case G_VARIANT_CLASS_INT16: fixed(g_variant_get_int16(value)); return true;
    case G_VARIANT_CLASS_UINT16: fixed(g_variant_get_uint16(value)); return true;
    case G_VARIANT_CLASS_INT32: fixed(g_variant_get_int32(value)); return true;
    case G_VARIANT_CLASS_UINT32: fixed(g_variant_get_uint32(value)); return true;
    case G_VARIANT_CLASS_INT64: fixed(g_variant_get_int64(value)); return true;
    case G_VARIANT_CLASS_UINT64: fixed(g_variant_get_uint64(value)); return true;
    case G_VARIANT_CLASS_DOUBLE: fixed(g_variant_get_double(value)); return true;
    case G_VARIANT_CLASS_STRING:
    case G_VARIANT_CLASS_OBJECT_PATH: string(g_variant_get_string(value, nullptr)); return true;
    case G_VARIANT_CLASS_SIGNATURE: signature(g_variant_get_string(value, nullptr)); return true;
    case G_VARIANT_CLASS_VARIANT: {
      GVariantPtr inner(g_variant_get_variant(value));
      signature(g_variant_get_type_string(inner.get()));
      return this->value(inner.get());
    }
    case G_VARIANT_CLASS_ARRAY: {
      const std::size_t length = placeholder();
      align(alignmentOf(g_variant_get_type_string(value)[1]));
      const std::size_t first = out_.size();
      const gsize count = g_variant_n_children(value);
      for (gsize i = 0; i < count; ++i) {
        GVariantPtr child(g_variant_get_child_value(value, i));
        if (!this->value(child.get())) return false;
      }
      patch(length, static_cast<std::uint32_t>(out_.size() - first));
      return true;
    }
    case G_VARIANT_CLASS_TUPLE:
    case G_VARIANT_CLASS_DICT_ENTRY: {
      align(8);
      const gsize count = g_variant_n_children(value);
      for (gsize i = 0; i < count; ++i) {
        GVariantPtr child(g_variant_get_child_value(value, i));
        if (!this->value(child.get())) return false;
      }
      return true;
    }
    default:
      return false;  // maybe and handle: nothing the backend sends
  }
}

// --- Reading -----------------------------------------------------------------

// Skips one complete type of a signature; null when there is none.
const char* skipType(const char* signature, int depth = 0) {
  if (depth > maxDepth) return nullptr;
  switch (*signature) {
    case 'y': case 'b': case 'n': case 'q': case 'i': case 'u': case 'x': case 't': case 'd': case 'h':
    case 's': case 'o': case 'g': case 'v':
      return signature + 1;
    case 'a':
      return skipType(signature + 1, depth + 1);
    case '(': {
      const char* next = signature + 1;
      if (*next == ')') return nullptr;
      while (next && *next != ')') next = *next ? skipType(next, depth + 1) : nullptr;
      return next ? next + 1 : nullptr;
    }
    case '{': {
      const char* value = skipType(signature + 1, depth + 1);
      const char* end = value ? skipType(value, depth + 1) : nullptr;
      return end && *end == '}' ? end + 1 : nullptr;
    }
    default:
      return nullptr;
  }
}

class Reader {
 public:
  Reader(const char* data, std::size_t size, bool swap) : data_(data), size_(size), swap_(swap) {}
  std::size_t position() const { return position_; }
  void seek(std::size_t position) { position_ = position; }

  bool align(std::size_t to) {
    const std::size_t next = (position_ + to - 1) / to * to;
    if (next > size_) return false;
    for (std::size_t i = position_; i < next; ++i)
      if (data_[i] != 0) return false;  // padding is zero
    position_ = next;
    return true;
  }
  template <class T>
  std::optional<T> fixed() {
    if (!align(sizeof(T)) || size_ - position_ < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, data_ + position_, sizeof(T));
    if (swap_) {
      auto* bytes = reinterpret_cast<unsigned char*>(&value);
      for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    }
    position_ += sizeof(T);
    return value;
  }
  // A string of `length` bytes and its terminating zero; null when they are not there.
  const char* text(std::size_t length) {
    if (size_ - position_ <= length || data_[position_ + length] != '\0') return nullptr;
    const char* start = data_ + position_;
    position_ += length + 1;
    return start;
  }
  const char* string() {
    auto length = fixed<std::uint32_t>();
    const char* start = length ? text(*length) : nullptr;
    return start && g_utf8_validate_len(start, *length, nullptr) ? start : nullptr;
  }
  const char* signature() {
    auto length = fixed<std::uint8_t>();
    const char* start = length ? text(*length) : nullptr;
    return start && g_variant_is_signature(start) ? start : nullptr;
  }

  // One value of the complete type at `type`; null when the bytes do not hold one.
  GVariantPtr value(const char* type, int depth);

 private:
  const char* data_;
  std::size_t size_;
  bool swap_;
  std::size_t position_ = 0;
};

GVariantPtr sunk(GVariant* value) { return GVariantPtr(value ? g_variant_ref_sink(value) : nullptr); }

GVariantPtr Reader::value(const char* type, int depth) {
  if (depth > maxDepth) return nullptr;
  switch (*type) {
    case 'y': if (auto v = fixed<std::uint8_t>()) return sunk(g_variant_new_byte(*v)); return nullptr;
    case 'b': {
      auto v = fixed<std::uint32_t>();
      return v && *v <= 1 ? sunk(g_variant_new_boolean(*v != 0)) : nullptr;
    }
    case 'n': if (auto v = fixed<std::int16_t>()) return sunk(g_variant_new_int16(*v)); return nullptr;
    case 'q': if (auto v = fixed<std::uint16_t>()) return sunk(g_variant_new_uint16(*v)); return nullptr;
    case 'i': if (auto v = fixed<std::int32_t>()) return sunk(g_variant_new_int32(*v)); return nullptr;
    case 'u': if (auto v = fixed<std::uint32_t>()) return sunk(g_variant_new_uint32(*v)); return nullptr;
    case 'h': if (auto v = fixed<std::int32_t>()) return sunk(g_variant_new_handle(*v)); return nullptr;
    case 'x': if (auto v = fixed<std::int64_t>()) return sunk(g_variant_new_int64(*v)); return nullptr;
    case 't': if (auto v = fixed<std::uint64_t>()) return sunk(g_variant_new_uint64(*v)); return nullptr;
    case 'd': if (auto v = fixed<double>()) return sunk(g_variant_new_double(*v)); return nullptr;
    case 's': if (const char* s = string()) return sunk(g_variant_new_string(s)); return nullptr;
    case 'o': {
      const char* path = string();
      return path && g_variant_is_object_path(path) ? sunk(g_variant_new_object_path(path)) : nullptr;
    }
    case 'g': if (const char* s = signature()) return sunk(g_variant_new_signature(s)); return nullptr;
    case 'v': {
      const char* inner = signature();
      // One complete type, and nothing after it.
      if (!inner || !*inner || skipType(inner) != inner + std::strlen(inner)) return nullptr;
      GVariantPtr held = value(inner, depth + 1);
      return held ? sunk(g_variant_new_variant(held.get())) : nullptr;
    }
    case 'a': {
      auto length = fixed<std::uint32_t>();
      const char* element = type + 1;
      if (!length || *length > maxArray || !align(alignmentOf(*element)) || size_ - position_ < *length)
        return nullptr;
      const std::size_t end = position_ + *length;
      // Numbers in our byte order are laid out as GVariant lays them out: one copy.
      if (const std::size_t size = fixedSize(*element); size > 0 && !swap_) {
        if (*length % size != 0) return nullptr;
        position_ = end;
        return sunk(g_variant_new_fixed_array(reinterpret_cast<const GVariantType*>(element), data_ + end - *length,
                                              *length / size, size));
      }
      std::vector<GVariantPtr> held;
      while (position_ < end) {
        held.push_back(value(element, depth + 1));
        if (!held.back()) return nullptr;
      }
      if (position_ != end) return nullptr;
      std::vector<GVariant*> children;
      children.reserve(held.size());
      for (const auto& child : held) children.push_back(child.get());
      return sunk(g_variant_new_array(reinterpret_cast<const GVariantType*>(element), children.data(),
                                      children.size()));
    }
    case '(':
    case '{': {
      if (!align(8)) return nullptr;
      const char close = *type == '(' ? ')' : '}';
      std::vector<GVariantPtr> held;
      for (const char* member = type + 1; *member != close; member = skipType(member)) {
        held.push_back(value(member, depth + 1));
        if (!held.back()) return nullptr;
      }
      if (close == '}') return held.size() == 2 ? sunk(g_variant_new_dict_entry(held[0].get(), held[1].get())) : nullptr;
      std::vector<GVariant*> children;
      for (const auto& child : held) children.push_back(child.get());
      return sunk(g_variant_new_tuple(children.data(), children.size()));
    }
    default:
      return nullptr;
  }
}

std::uint32_t read32(const char* at, bool swap) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  return swap ? __builtin_bswap32(value) : value;
}

}  // namespace

bool appendMethodCall(std::string& out, std::uint32_t serial, const char* path, const char* interface,
                      const char* method, GVariant* body) {
  Writer w(out);
  w.byte(static_cast<std::uint8_t>(hostOrder));
  w.byte(G_DBUS_MESSAGE_TYPE_METHOD_CALL);
  w.byte(0);
  w.byte(1);  // protocol version
  const std::size_t bodyLength = w.placeholder();
  w.fixed(serial);
  const std::size_t fieldsLength = w.placeholder();
  const std::size_t fieldsStart = w.offset();
  w.field(pathField, "o", path);
  if (interface) w.field(interfaceField, "s", interface);
  w.field(memberField, "s", method);
  std::string signature;
  if (body) {
    const char* tuple = g_variant_get_type_string(body);
    signature.assign(tuple + 1, std::strlen(tuple) - 2);
    if (!signature.empty()) w.field(signatureField, "g", signature.c_str());
  }
  const std::size_t fieldsEnd = w.offset();
  w.align(8);
  const std::size_t bodyStart = w.offset();
  if (body && !w.value(body)) {
    w.rollBack();
    return false;
  }
  w.patch(fieldsLength, static_cast<std::uint32_t>(fieldsEnd - fieldsStart));
  w.patch(bodyLength, static_cast<std::uint32_t>(w.offset() - bodyStart));
  return true;
}

std::optional<std::size_t> messageSize(const char* data, std::size_t available) {
  if (available < 16) return std::size_t{0};
  if (data[0] != 'l' && data[0] != 'B') return std::nullopt;
  const bool swap = data[0] != hostOrder;
  const std::size_t fields = read32(data + 12, swap);
  const std::size_t body = read32(data + 4, swap);
  if (fields > maxMessage || body > maxMessage) return std::nullopt;
  const std::size_t total = 16 + (fields + 7) / 8 * 8 + body;
  if (total > maxMessage) return std::nullopt;
  return total;
}

std::optional<Incoming> parseMessage(const char* data, std::size_t size) {
  auto expected = messageSize(data, size);
  if (!expected || *expected != size || size < 16 || data[3] != 1) return std::nullopt;
  const bool swap = data[0] != hostOrder;
  Incoming message;
  // A type this reader does not know is kept as invalid: the caller passes it over.
  const auto type = static_cast<unsigned char>(data[1]);
  message.type = type >= G_DBUS_MESSAGE_TYPE_METHOD_CALL && type <= G_DBUS_MESSAGE_TYPE_SIGNAL
                     ? static_cast<GDBusMessageType>(type)
                     : G_DBUS_MESSAGE_TYPE_INVALID;
  const std::size_t fieldsEnd = 16 + read32(data + 12, swap);
  Reader r(data, size, swap);
  r.seek(16);
  const char* signature = "";
  while (r.position() < fieldsEnd) {
    auto code = r.align(8) ? r.fixed<std::uint8_t>() : std::nullopt;
    const char* type = code ? r.signature() : nullptr;
    if (!type) return std::nullopt;
    if (*code == replySerialField && std::strcmp(type, "u") == 0) {
      message.replySerial = r.fixed<std::uint32_t>();
      if (!message.replySerial) return std::nullopt;
    } else if (*code == signatureField && std::strcmp(type, "g") == 0) {
      signature = r.signature();
      if (!signature) return std::nullopt;
    } else if (*code == errorNameField && std::strcmp(type, "s") == 0) {
      const char* name = r.string();
      if (!name) return std::nullopt;
      message.errorName = name;
    } else {
      // Fields we do not read (path, member, sender...) are checked and passed over.
      if (!*type || skipType(type) != type + std::strlen(type) || !r.value(type, 1)) return std::nullopt;
    }
  }
  if (r.position() != fieldsEnd || !r.align(8)) return std::nullopt;
  std::vector<GVariantPtr> held;
  for (const char* member = signature; *member; member = skipType(member)) {
    if (!skipType(member)) return std::nullopt;
    held.push_back(r.value(member, 1));
    if (!held.back()) return std::nullopt;
  }
  if (r.position() != size) return std::nullopt;
  std::vector<GVariant*> children;
  for (const auto& child : held) children.push_back(child.get());
  message.body = sunk(g_variant_new_tuple(children.data(), children.size()));
  return message;
}

}  // namespace zoba::platform::linux_backend::atspi::wire
