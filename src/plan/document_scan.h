// Reads what a BML document and its style sheets say about colours and
// images, as bytes in any encoding (EUC-JP as a rule), fed a block at a
// time: memory stays the same whatever their length, but for the images a
// document names. As tolerant as a browser: markup that is cut or
// malformed is read as far as it goes, and a tag cut by the end is dropped.
//
// From a document: the `clut` property (name in any case) of its body's
// own `style` attribute; its style sheets in order, `<style>` elements
// (their text may sit in a CDATA section) and `<link rel="stylesheet"
// href="...">`; and the `data` of each `<object>` whose type is
// image/X-arib-png (in any case). Attributes come in any order, quoted
// either way or not at all, across lines; their XML character references
// are decoded. Markup comments and the text of `<script>` elements are
// passed over.
//
// From a sheet: the last `clut` declaration of the rules whose selector
// list includes `body` alone. CSS comments are passed over. A value other
// than url(X), url("X") or url('X') (spaces allowed, `!important` changing
// nothing) is ignored, as CSS ignores an invalid one.
#ifndef PALFILL_PLAN_DOCUMENT_SCAN_H_
#define PALFILL_PLAN_DOCUMENT_SCAN_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace palfill {

// The `clut` of the body rules of a sheet, read so far.
struct sheet_scan {
  enum class state { selector, declarations, skipped_block };
  state at = state::selector;
  std::string selector;
  std::string declaration;
  bool body_rule = false;
  int depth = 0;                    // of braces in a block passed over
  char quote = 0;                   // inside a string, its quote
  bool comment = false;             // inside /* */
  char last = 0;                    // the byte before, outside strings
  bool too_long = false;            // the selector or declaration outgrew its room
  std::optional<std::string> clut;  // the last url() found, as written
};

// Declarations alone, as a style attribute holds them: a sheet already
// inside a body rule.
sheet_scan inline_style_scan();

void scan_sheet(sheet_scan& scan, const unsigned char* bytes, std::size_t size);
// The end of the sheet: a declaration cut by it still counts.
void end_sheet(sheet_scan& scan);

// One style sheet of a document, in document order.
struct document_sheet {
  bool linked;                      // a <link>: `href` names it; else a <style> element
  std::string href;                 // as written, references decoded
  std::optional<std::string> clut;  // a <style> element's
};

// What a document says, read so far.
struct document_scan {
  // Where the scan stands: the markup's own states, and the text of the
  // tag, attribute or element being read.
  int at = 0;
  std::string pending;    // a marker being matched, or a tag's name
  std::string attribute;  // the name of the attribute being read
  std::string value;      // its value
  char quote = 0;
  bool too_long = false;
  std::string tag;  // the tag being read, lower case
  std::vector<std::pair<std::string, std::string>> attributes;
  bool end_tag = false;
  std::string raw_end;  // "</script" or "</style" while in their text
  sheet_scan style;     // the <style> element being read

  std::optional<std::string> body_clut;  // the body's own style's
  bool body_seen = false;
  std::vector<document_sheet> sheets;
  std::vector<std::string> images;  // each object's data, as written, references decoded
};

void scan_document(document_scan& scan, const unsigned char* bytes, std::size_t size);
void end_document(document_scan& scan);

// The path a URL in a document or sheet names, relative to IN_DIR ('/'
// between names), or nothing when it leaves IN_DIR. `base` is the folder
// it is written in, `root` the document's service root, both relative to
// IN_DIR. `#...` and `?...` are dropped, arib-dc://ANYTHING/PATH is /PATH,
// a URL that begins with '/' starts at `root`, and `.` and `..` are
// resolved. Percent-escapes stay as they are.
std::optional<std::string> resolved_url(const std::string& url, const std::string& base,
                                        const std::string& root);

// The folder two levels above the document's own, where a URL beginning
// with '/' starts; IN_DIR ("") for a document fewer than two folders below.
std::string service_root(const std::string& document);

// The folder of a path: "" for a name at the top.
std::string folder_of(const std::string& path);

}  // namespace palfill

#endif  // PALFILL_PLAN_DOCUMENT_SCAN_H_
