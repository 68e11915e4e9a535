#include "ZobaCaptureCore/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <limits>

namespace zoba::UnicodeText {

namespace {

const std::uint8_t* bytes(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// ICU takes 32-bit lengths; nothing the outline meets comes near, but a longer text must not wrap.
std::int32_t icuLength(std::string_view text) {
  constexpr std::size_t most = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(text.size() < most ? text.size() : most);
}

// Closes the UText on every path; utext_openUTF8 reuses it for the next text.
struct OwnedUText {
  UText text = UTEXT_INITIALIZER;
  OwnedUText() = default;
  OwnedUText(const OwnedUText&) = delete;
  OwnedUText& operator=(const OwnedUText&) = delete;
  ~OwnedUText() { utext_close(&text); }
};

// Threads clone this one; it is only ever read after its construction.
const icu::BreakIterator* graphemePrototype() {
  static const std::unique_ptr<icu::BreakIterator> prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) iterator.reset();
    return iterator;
  }();
  return prototype.get();
}

}  // namespace

bool isWhiteSpace(char32_t scalar) { return u_isUWhiteSpace(static_cast<UChar32>(scalar)); }

std::string_view wellFormed(std::string_view text, std::string& storage) {
  const std::uint8_t* s = bytes(text);
  const std::size_t length = text.size();
  std::size_t i = 0;
  // Most texts are well-formed: find the first fault before copying anything.
  while (i < length) {
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      i = start;
      break;
    }
  }
  if (i == length) return text;

  storage.assign(text.substr(0, i));
  while (i < length) {
    const std::size_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      storage += "\xEF\xBF\xBD";
    } else {
      storage.append(text.substr(start, i - start));
    }
  }
  return storage;
}

char32_t scalarAt(std::string_view wellFormedText, std::size_t offset) {
  UChar32 c;
  U8_NEXT(bytes(wellFormedText), offset, wellFormedText.size(), c);
  return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

std::int64_t scalarCount(std::string_view wellFormedText) {
  std::int64_t count = 0;
  for (const char c : wellFormedText) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::int64_t utf16Length(std::string_view wellFormedText) {
  // One unit per scalar, and a second for each four-byte sequence (a supplementary character).
  std::int64_t count = 0;
  for (const char c : wellFormedText) {
    const auto b = static_cast<unsigned char>(c);
    count += ((b & 0xC0) != 0x80) + (b >= 0xF0);
  }
  return count;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (isAscii(a) && isAscii(b)) return false;
  std::string storageA, storageB;
  const std::string_view wa = wellFormed(a, storageA);
  const std::string_view wb = wellFormed(b, storageB);
  if (wa == wb) return true;

  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || wa.size() != static_cast<std::size_t>(icuLength(wa)) ||
      wb.size() != static_cast<std::size_t>(icuLength(wb))) {
    return false;
  }
  // NFC is unique per equivalence class, so two different NFC texts are not equivalent.
  const auto normalised = [&](std::string_view text, std::string& out) -> std::string_view {
    const icu::StringPiece piece(text.data(), icuLength(text));
    if (nfc->isNormalizedUTF8(piece, status)) return text;
    out.clear();
    icu::StringByteSink<std::string> sink(&out);
    nfc->normalizeUTF8(0, piece, sink, nullptr, status);
    return out;
  };
  std::string nfcA, nfcB;
  const std::string_view na = normalised(wa, nfcA);
  const std::string_view nb = normalised(wb, nfcB);
  return U_SUCCESS(status) && na == nb;
}

void appendLowercase(std::string& out, std::string_view text) {
  if (isAscii(text)) {
    for (const char c : text) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return;
  }
  std::string storage;
  const std::string_view valid = wellFormed(text, storage);
  const std::size_t mark = out.size();
  UErrorCode status = U_ZERO_ERROR;
  icu::StringByteSink<std::string> sink(&out);
  // The root locale ("") gives the default mapping, free of Turkish or Lithuanian rules.
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(valid.data(), icuLength(valid)), sink, nullptr, status);
  if (U_FAILURE(status)) {
    out.resize(mark);
    out.append(valid);
  }
}

struct GraphemeCursor::Impl {
  OwnedUText utext;
  std::unique_ptr<icu::BreakIterator> iterator;
  bool segmenting = false;  // false: this text could not be handed to ICU
  std::string_view text;
  std::size_t position = 0;
};

GraphemeCursor& GraphemeCursor::forThisThread() {
  thread_local GraphemeCursor cursor;
  return cursor;
}

GraphemeCursor::GraphemeCursor() : impl_(std::make_unique<Impl>()) {
  if (const icu::BreakIterator* prototype = graphemePrototype()) impl_->iterator.reset(prototype->clone());
}

GraphemeCursor::~GraphemeCursor() = default;

void GraphemeCursor::reset(std::string_view wellFormedText) {
  impl_->text = wellFormedText;
  impl_->position = 0;
  impl_->segmenting = false;
  if (!impl_->iterator) return;
  UErrorCode status = U_ZERO_ERROR;
  utext_openUTF8(&impl_->utext.text, wellFormedText.data(), icuLength(wellFormedText), &status);
  if (U_SUCCESS(status)) impl_->iterator->setText(&impl_->utext.text, status);
  if (U_FAILURE(status)) return;
  impl_->iterator->first();
  impl_->segmenting = true;
}

std::size_t GraphemeCursor::next() {
  Impl& m = *impl_;
  if (m.position >= m.text.size()) return npos;
  if (m.segmenting) {
    const std::int32_t boundary = m.iterator->next();
    // Past ICU's 32-bit reach the rest is one character.
    m.position = boundary == icu::BreakIterator::DONE ? m.text.size() : static_cast<std::size_t>(boundary);
  } else {
    // Without ICU's break data every scalar is a character.
    U8_FWD_1(bytes(m.text), m.position, m.text.size());
  }
  return m.position;
}

}  // namespace zoba::UnicodeText
