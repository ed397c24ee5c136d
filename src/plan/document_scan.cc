#include "plan/document_scan.h"

#include <algorithm>
#include <cstdint>

namespace palfill {
namespace {

// Room for what one name, selector or value can hold: anything longer is
// no URL a broadcast writes, and is read past.
constexpr std::size_t name_room = 32;
constexpr std::size_t text_room = 16 << 10;

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), lower);
  return text;
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string trimmed(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && is_space(text[begin])) ++begin;
  while (end > begin && is_space(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool append(std::string& text, char c, std::size_t room) {
  if (text.size() >= room) return false;
  text += c;
  return true;
}

// ---- Sheets.

// url(X), url("X") or url('X'), spaces allowed, !important aside: X.
std::optional<std::string> url_value(std::string value) {
  value = trimmed(value);
  const std::string low = lowered(value);
  const std::size_t bang = low.rfind('!');
  if (bang != std::string::npos && trimmed(low.substr(bang + 1)) == "important") {
    value = trimmed(value.substr(0, bang));
  }
  if (value.size() < 5 || lowered(value.substr(0, 4)) != "url(" || value.back() != ')') {
    return std::nullopt;
  }
  std::string inner = trimmed(value.substr(4, value.size() - 5));
  if (!inner.empty() && (inner[0] == '"' || inner[0] == '\'')) {
    if (inner.size() < 2 || inner.back() != inner[0]) return std::nullopt;
    inner = inner.substr(1, inner.size() - 2);
    if (inner.find(inner.front() == '"' ? '"' : '\'') != std::string::npos) return std::nullopt;
    return inner;
  }
  for (const char c : inner) {
    if (is_space(c) || c == '"' || c == '\'' || c == '(') return std::nullopt;
  }
  return inner;
}

void end_declaration(sheet_scan& scan) {
  const std::string declaration = scan.declaration;
  scan.declaration.clear();
  if (!scan.body_rule || scan.too_long) {
    scan.too_long = false;
    return;
  }
  const std::size_t colon = declaration.find(':');
  if (colon == std::string::npos || lowered(trimmed(declaration.substr(0, colon))) != "clut") {
    return;
  }
  if (auto url = url_value(declaration.substr(colon + 1))) scan.clut = std::move(url);
}

bool selects_body(const std::string& selector) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = selector.find(',', start);
    if (lowered(trimmed(selector.substr(start, comma - start))) == "body") return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

void scan_sheet_byte(sheet_scan& scan, char c) {
  if (scan.comment) {
    if (scan.last == '*' && c == '/') {
      scan.comment = false;
      c = ' ';  // a comment parts what stands on either side
    }
    scan.last = c;
    if (scan.comment) return;
  } else if (scan.quote == 0 && scan.last == '/' && c == '*') {
    scan.comment = true;
    scan.last = 0;
    std::string& text =
        scan.at == sheet_scan::state::declarations ? scan.declaration : scan.selector;
    if (!text.empty() && text.back() == '/') text.pop_back();
    return;
  } else {
    scan.last = c;
  }
  std::string& text = scan.at == sheet_scan::state::declarations ? scan.declaration : scan.selector;
  if (scan.quote != 0) {
    if (c == scan.quote) scan.quote = 0;
    if (!append(text, c, text_room)) scan.too_long = true;
    return;
  }
  switch (scan.at) {
    case sheet_scan::state::selector:
      if (c == '{') {
        const bool at_rule = trimmed(scan.selector).compare(0, 1, "@") == 0;
        scan.body_rule = !at_rule && !scan.too_long && selects_body(scan.selector);
        scan.at = at_rule ? sheet_scan::state::skipped_block : sheet_scan::state::declarations;
        scan.depth = 1;
        scan.selector.clear();
        scan.too_long = false;
      } else if (c == ';' || c == '}') {
        scan.selector.clear();
        scan.too_long = false;
      } else {
        if (c == '"' || c == '\'') scan.quote = c;
        if (!append(scan.selector, c, text_room)) scan.too_long = true;
      }
      break;
    case sheet_scan::state::declarations:
      if (c == ';') {
        end_declaration(scan);
      } else if (c == '}') {
        end_declaration(scan);
        scan.at = sheet_scan::state::selector;
        scan.body_rule = false;
      } else if (c == '{') {  // a block where none belongs: passed over, as CSS does
        scan.declaration.clear();
        scan.at = sheet_scan::state::skipped_block;
        scan.depth = 1;
      } else {
        if (c == '"' || c == '\'') scan.quote = c;
        if (!append(scan.declaration, c, text_room)) scan.too_long = true;
      }
      break;
    case sheet_scan::state::skipped_block:
      if (c == '"' || c == '\'') scan.quote = c;
      if (c == '{') ++scan.depth;
      if (c == '}' && --scan.depth == 0) scan.at = sheet_scan::state::selector;
      break;
  }
}

// ---- Documents.

enum markup : int {
  text = 0,
  open,         // after '<'
  bang,         // after "<!": a comment, a CDATA section or a declaration
  comment,      // <!-- -->
  cdata,        // <![CDATA[ ]]> outside a style element
  declaration,  // <!DOCTYPE ...>, <?xml ...?>, or the rest of an end tag
  tag_name,
  in_tag,  // between attributes
  attribute_name,
  after_name,  // spaces after a name: '=' or another name
  before_value,
  quoted_value,
  unquoted_value,
  raw,  // the text of <script> or <style>, up to its end tag
};

// The value of a character reference's code point, in UTF-8.
void put_utf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// An attribute's value with its XML character references decoded; one
// that is none is left as it stands.
std::string decoded(const std::string& value) {
  static const std::pair<const char*, char> named[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::size_t end = value[i] == '&' ? value.find(';', i) : std::string::npos;
    if (end == std::string::npos || end - i > 10) {
      out += value[i];
      continue;
    }
    const std::string name = value.substr(i + 1, end - i - 1);
    bool known = false;
    for (const auto& [entity, c] : named) {
      if (name == entity) {
        out += c;
        known = true;
      }
    }
    if (!known && name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string digits = name.substr(hex ? 2 : 1);
      uint32_t code = 0;
      bool valid = !digits.empty();
      for (const char d : digits) {
        const int v = d >= '0' && d <= '9'                        ? d - '0'
                      : hex && lower(d) >= 'a' && lower(d) <= 'f' ? lower(d) - 'a' + 10
                                                                  : -1;
        valid = valid && v >= 0 && code <= 0x10FFFF;
        code = code * (hex ? 16 : 10) + static_cast<uint32_t>(v < 0 ? 0 : v);
      }
      valid = valid && code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
      if (valid) put_utf8(out, code);
      known = valid;
    }
    if (!known) {
      out += value[i];
      continue;
    }
    i = end;
  }
  return out;
}

const std::string* attribute_of(const document_scan& scan, const char* name) {
  for (const auto& [key, value] : scan.attributes) {
    if (key == name) return &value;
  }
  return nullptr;
}

bool has_token(const std::string& list, const char* token) {
  const std::string low = lowered(list);
  std::size_t at = 0;
  while (at < low.size()) {
    while (at < low.size() && is_space(low[at])) ++at;
    std::size_t end = at;
    while (end < low.size() && !is_space(low[end])) ++end;
    if (low.compare(at, end - at, token) == 0 && end > at) return true;
    at = end;
  }
  return false;
}

void add_attribute(document_scan& scan) {
  if (!scan.too_long) scan.attributes.emplace_back(scan.attribute, decoded(scan.value));
  scan.attribute.clear();
  scan.value.clear();
  scan.too_long = false;
}

// A start tag read whole, `closed` when it ends with "/>".
void end_tag_read(document_scan& scan, bool closed) {
  const std::string name = scan.tag;
  scan.at = text;
  if (scan.end_tag) {
    scan.attributes.clear();
    return;
  }
  if (name == "body" && !scan.body_seen) {
    scan.body_seen = true;
    if (const std::string* style = attribute_of(scan, "style")) {
      sheet_scan inline_style = inline_style_scan();
      scan_sheet(inline_style, reinterpret_cast<const unsigned char*>(style->data()),
                 style->size());
      end_sheet(inline_style);
      if (inline_style.clut) scan.body_clut = inline_style.clut;
    }
  } else if (name == "link") {
    const std::string* rel = attribute_of(scan, "rel");
    const std::string* href = attribute_of(scan, "href");
    if (rel != nullptr && href != nullptr && has_token(*rel, "stylesheet")) {
      scan.sheets.push_back(document_sheet{true, *href, std::nullopt});
    }
  } else if (name == "object") {
    const std::string* type = attribute_of(scan, "type");
    const std::string* data = attribute_of(scan, "data");
    if (type != nullptr && data != nullptr && lowered(trimmed(*type)) == "image/x-arib-png") {
      scan.images.push_back(*data);
    }
  } else if ((name == "style" || name == "script") && !closed) {
    scan.at = raw;
    scan.raw_end = "</" + name;
    scan.pending.clear();
    scan.style = sheet_scan();
  }
  scan.attributes.clear();
}

// In a style element, the markers that are not CSS; in a script, its end alone.
bool raw_marker(const document_scan& scan, const std::string& text, bool whole) {
  static const char* const style_markers[] = {"</style", "<![cdata[", "]]>", "<!--", "-->"};
  const std::string low = lowered(text);
  const auto matches = [&](const std::string& marker) {
    return whole ? low == marker : marker.compare(0, low.size(), low) == 0;
  };
  if (scan.raw_end == "</script") return matches("</script");
  return std::any_of(std::begin(style_markers), std::end(style_markers),
                     [&](const char* marker) { return matches(marker); });
}

void scan_raw_byte(document_scan& scan, char c) {
  std::string candidate = scan.pending + c;
  const bool style = scan.raw_end == "</style";
  while (!candidate.empty() && !raw_marker(scan, candidate, false)) {
    if (style) scan_sheet_byte(scan.style, candidate[0]);
    candidate.erase(0, 1);
  }
  scan.pending = candidate;
  if (!raw_marker(scan, candidate, true)) return;
  scan.pending.clear();
  if (lowered(candidate) != scan.raw_end) return;  // a CDATA section's mark, dropped
  if (style) {
    end_sheet(scan.style);
    scan.sheets.push_back(document_sheet{false, "", scan.style.clut});
  }
  scan.at = declaration;  // up to the end tag's '>'
}

void scan_document_byte(document_scan& scan, char c) {
  switch (scan.at) {
    case text:
      if (c == '<') scan.at = open;
      break;
    case open:
      scan.tag.clear();
      scan.attributes.clear();
      scan.end_tag = false;
      scan.pending.clear();
      if (c == '!') {
        scan.at = bang;
      } else if (c == '?') {
        scan.at = declaration;
      } else if (c == '/') {
        scan.end_tag = true;
        scan.at = tag_name;
      } else if ((lower(c) >= 'a' && lower(c) <= 'z')) {
        scan.tag = lower(c);
        scan.at = tag_name;
      } else {
        scan.at = c == '<' ? open : text;
      }
      break;
    case bang:
      scan.pending += c;
      if (scan.pending == "--") {
        scan.at = comment;
        scan.pending.clear();
      } else if (scan.pending == "[CDATA[") {
        scan.at = cdata;
        scan.pending.clear();
      } else if (std::string("--").compare(0, scan.pending.size(), scan.pending) != 0 &&
                 std::string("[CDATA[").compare(0, scan.pending.size(), scan.pending) != 0) {
        scan.at = c == '>' ? text : declaration;
      }
      break;
    case comment:
    case cdata: {
      const char* end = scan.at == comment ? "--" : "]]";
      if (c == '>' && scan.pending == end) scan.at = text;
      scan.pending += c;  // the last two bytes
      if (scan.pending.size() > 2) scan.pending.erase(0, scan.pending.size() - 2);
      break;
    }
    case declaration:
      if (c == '>') scan.at = text;
      break;
    case tag_name:
      if (is_space(c) || c == '/') {
        scan.at = in_tag;
        scan.pending = c == '/' ? "/" : "";
      } else if (c == '>') {
        end_tag_read(scan, false);
      } else if (!append(scan.tag, lower(c), name_room)) {
        scan.tag = "?";  // no tag that matters is this long
      }
      break;
    case in_tag:
      if (c == '>') {
        end_tag_read(scan, scan.pending == "/");
      } else if (c == '/') {
        scan.pending = "/";
      } else if (!is_space(c)) {
        scan.pending.clear();
        scan.attribute = lower(c);
        scan.at = attribute_name;
      }
      break;
    case attribute_name:
      if (c == '=') {
        scan.at = before_value;
      } else if (is_space(c)) {
        scan.at = after_name;
      } else if (c == '>' || c == '/') {
        add_attribute(scan);
        if (c == '>') end_tag_read(scan, false);
        if (c == '/') {
          scan.at = in_tag;
          scan.pending = "/";
        }
      } else if (!append(scan.attribute, lower(c), name_room)) {
        scan.too_long = true;
      }
      break;
    case after_name:
      if (c == '=') {
        scan.at = before_value;
      } else if (c == '>') {
        add_attribute(scan);
        end_tag_read(scan, false);
      } else if (!is_space(c)) {
        add_attribute(scan);
        scan.attribute = lower(c);
        scan.at = c == '/' ? in_tag : attribute_name;
        if (c == '/') scan.pending = "/";
      }
      break;
    case before_value:
      if (c == '"' || c == '\'') {
        scan.quote = c;
        scan.at = quoted_value;
      } else if (c == '>') {
        add_attribute(scan);
        end_tag_read(scan, false);
      } else if (!is_space(c)) {
        scan.value = c;
        scan.at = unquoted_value;
      }
      break;
    case quoted_value:
      if (c == scan.quote) {
        add_attribute(scan);
        scan.at = in_tag;
      } else if (!append(scan.value, c, text_room)) {
        scan.too_long = true;
      }
      break;
    case unquoted_value:
      if (is_space(c) || c == '>') {
        add_attribute(scan);
        scan.at = in_tag;
        if (c == '>') end_tag_read(scan, false);
      } else if (!append(scan.value, c, text_room)) {
        scan.too_long = true;
      }
      break;
    case raw:
      scan_raw_byte(scan, c);
      break;
  }
}

std::vector<std::string> parts_of(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

std::string joined_parts(const std::vector<std::string>& parts, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "/") + parts[i];
  return path;
}

}  // namespace

sheet_scan inline_style_scan() {
  sheet_scan scan;
  scan.at = sheet_scan::state::declarations;
  scan.body_rule = true;
  return scan;
}

void scan_sheet(sheet_scan& scan, const unsigned char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) scan_sheet_byte(scan, static_cast<char>(bytes[i]));
}

void end_sheet(sheet_scan& scan) {
  if (scan.at == sheet_scan::state::declarations && !scan.comment) end_declaration(scan);
}

void scan_document(document_scan& scan, const unsigned char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) scan_document_byte(scan, static_cast<char>(bytes[i]));
}

void end_document(document_scan& scan) {
  if (scan.at == raw &&
      scan.raw_end == "</style") {  // a style element cut short: as far as it goes
    for (const char c : scan.pending) scan_sheet_byte(scan.style, c);
    end_sheet(scan.style);
    scan.sheets.push_back(document_sheet{false, "", scan.style.clut});
  }
  scan.at = text;
}

std::optional<std::string> resolved_url(const std::string& url, const std::string& base,
                                        const std::string& root) {
  std::string path = trimmed(url.substr(0, url.find_first_of("#?")));
  if (lowered(path.substr(0, 10)) == "arib-dc://") {
    const std::size_t slash = path.find('/', 10);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  const bool from_root = !path.empty() && path[0] == '/';
  std::vector<std::string> parts = parts_of(from_root ? root : base);
  for (const std::string& part : parts_of(path)) {
    if (part == ".") continue;
    if (part != "..") {
      parts.push_back(part);
    } else if (parts.empty()) {
      return std::nullopt;  // out of IN_DIR
    } else {
      parts.pop_back();
    }
  }
  return joined_parts(parts, parts.size());
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string service_root(const std::string& document) {
  const std::vector<std::string> folders = parts_of(folder_of(document));
  return folders.size() < 2 ? "" : joined_parts(folders, folders.size() - 2);
}

}  // namespace palfill
