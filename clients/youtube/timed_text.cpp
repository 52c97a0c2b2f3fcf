#include "clients/youtube/timed_text.hpp"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

namespace clients::youtube::internal {

namespace {

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_alnum(char c) { return is_ascii_letter(c) || (c >= '0' && c <= '9'); }

void append_utf8(std::string& out, char32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The reference starting at text[0] == '&': its character(s) and length, if it is one.
std::optional<std::pair<std::string, std::size_t>> reference(std::string_view text) {
  std::string out;
  if (text.size() > 2 && text[1] == '#') {
    const bool hex = text[2] == 'x' || text[2] == 'X';
    const std::size_t first = hex ? 3 : 2;
    std::size_t last = first;
    while (last < text.size() && last - first < 8 &&
           (hex ? std::isxdigit(static_cast<unsigned char>(text[last]))
                : std::isdigit(static_cast<unsigned char>(text[last])))) {
      ++last;
    }
    if (last == first) return std::nullopt;
    std::uint32_t code = 0;
    std::from_chars(text.data() + first, text.data() + last, code, hex ? 16 : 10);
    append_utf8(out, code);
    if (last < text.size() && text[last] == ';') ++last;
    return std::pair{out, last};
  }
  std::size_t last = 1;
  while (last < text.size() && last < 33 && is_ascii_alnum(text[last])) ++last;
  if (last == 1 || last >= text.size() || text[last] != ';') return std::nullopt;
  const std::string name(text.substr(1, last - 1));
  const htmlEntityDesc* entity = htmlEntityLookup(reinterpret_cast<const xmlChar*>(name.c_str()));
  if (!entity) return std::nullopt;
  append_utf8(out, entity->value);
  return std::pair{out, last + 1};
}

double number(std::string_view text) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("a timed text element has a time that is not a number");
  }
  return value;
}

struct XmlFree {
  void operator()(xmlChar* text) const noexcept { xmlFree(text); }
  void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};

std::optional<std::string> attribute(xmlNode* node, const char* name) {
  std::unique_ptr<xmlChar, XmlFree> value(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)));
  if (!value) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(value.get()));
}

bool named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

}  // namespace

std::string unescape_html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '&') {
      if (auto found = reference(text.substr(i))) {
        out += found->first;
        i += found->second;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::string strip_tags(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '<') {
      const std::size_t name = i + 1 < text.size() && text[i + 1] == '/' ? i + 2 : i + 1;
      const std::size_t close = text.find('>', name);
      if (name < text.size() && is_ascii_letter(text[name]) && close != std::string_view::npos &&
          text.substr(i + 1, close - i - 1).find('<') == std::string_view::npos) {
        i = close + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::vector<TranscriptSnippet> parse_timed_text(std::string_view xml) {
  // Once, before any thread parses: libxml2's global state.
  static const bool initialised = (xmlInitParser(), true);
  (void)initialised;
  if (xml.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::invalid_argument("the timed text is too large");
  }
  std::unique_ptr<xmlDoc, XmlFree> doc(
      xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) throw std::invalid_argument("the timed text is not an XML document");
  // Timed text never declares entities; a document that does could expand without bound.
  if (doc->intSubset || doc->extSubset) {
    throw std::invalid_argument("the timed text has a document type declaration");
  }
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || !named(root, "transcript")) {
    throw std::invalid_argument("the timed text has no transcript element");
  }
  std::vector<TranscriptSnippet> snippets;
  for (xmlNode* node = root->children; node; node = node->next) {
    if (!named(node, "text")) continue;
    std::unique_ptr<xmlChar, XmlFree> content(xmlNodeGetContent(node));
    if (!content || *content.get() == '\0') continue;
    const std::optional<std::string> start = attribute(node, "start");
    if (!start) throw std::invalid_argument("a timed text element has no start time");
    const std::optional<std::string> duration = attribute(node, "dur");
    snippets.push_back({strip_tags(unescape_html(reinterpret_cast<const char*>(content.get()))),
                        number(*start), duration ? number(*duration) : 0.0});
  }
  return snippets;
}

}  // namespace clients::youtube::internal
