#pragma once

// What one capture hands the host: the application, the window's title, the text
// outline of its accessibility tree, the PNG screenshot and the page address.

#include <cstdint>
#include <optional>
#include <string>

#include "ZobaCapture/Message.h"

namespace zoba {

struct CapturePayload {
  struct App {
    std::string name;
    std::string bundleId;
    std::optional<std::string> iconBase64;
  };
  struct Image {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::string base64;  // PNG; the mime type is always "image/png"
  };

  App app;
  std::string windowTitle;
  std::string text;
  bool textTruncated = false;
  Image image;
  std::optional<std::string> url;

  // The payload as a JSON object with the keys "app" ("name", "bundleId",
  // optional "iconBase64"), "windowTitle", "text", "textTruncated", "image"
  // ("mimeType", "width", "height", "base64") and optional "url".
  Message message() const;
  // The same object as compact JSON text. Base64 needs no escaping, so the
  // screenshot's megabytes are copied in once instead of going through the JSON
  // writer character by character.
  std::string json() const;
};

}  // namespace zoba
