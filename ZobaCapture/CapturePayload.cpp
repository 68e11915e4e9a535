#include "ZobaCapture/CapturePayload.h"

namespace zoba {

namespace {
constexpr const char* kMimeType = "image/png";

void appendString(std::string& out, const std::string& text) {
  // Titles and outlines come from other programs and may hold invalid UTF-8.
  out += Message(text).dump(-1, ' ', false, Message::error_handler_t::replace);
}
void appendKey(std::string& out, const char* key) {
  out += '"';
  out += key;
  out += "\":";
}
}  // namespace

Message CapturePayload::message() const {
  Message appObject = {{"name", app.name}, {"bundleId", app.bundleId}};
  if (app.iconBase64) appObject["iconBase64"] = *app.iconBase64;
  Message payload = {
      {"app", std::move(appObject)},
      {"windowTitle", windowTitle},
      {"text", text},
      {"textTruncated", textTruncated},
      {"image",
       {{"mimeType", kMimeType}, {"width", image.width}, {"height", image.height}, {"base64", image.base64}}},
  };
  if (url) payload["url"] = *url;
  return payload;
}

std::string CapturePayload::json() const {
  std::string out;
  out.reserve(image.base64.size() + text.size() + (app.iconBase64 ? app.iconBase64->size() : 0) + 512);
  out += '{';
  appendKey(out, "app");
  out += '{';
  appendKey(out, "name");
  appendString(out, app.name);
  out += ',';
  appendKey(out, "bundleId");
  appendString(out, app.bundleId);
  if (app.iconBase64) {
    out += ',';
    appendKey(out, "iconBase64");
    out += '"' + *app.iconBase64 + '"';
  }
  out += "},";
  appendKey(out, "windowTitle");
  appendString(out, windowTitle);
  out += ',';
  appendKey(out, "text");
  appendString(out, text);
  out += ',';
  appendKey(out, "textTruncated");
  out += textTruncated ? "true" : "false";
  out += ',';
  appendKey(out, "image");
  out += '{';
  appendKey(out, "mimeType");
  out += '"';
  out += kMimeType;
  out += "\",";
  appendKey(out, "width");
  out += std::to_string(image.width);
  out += ',';
  appendKey(out, "height");
  out += std::to_string(image.height);
  out += ',';
  appendKey(out, "base64");
  out += '"';
  out += image.base64;
  out += "\"}";
  if (url) {
    out += ',';
    appendKey(out, "url");
    appendString(out, *url);
  }
  out += '}';
  return out;
}

}  // namespace zoba
