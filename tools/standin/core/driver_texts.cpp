#include "tools/standin/core/driver_texts.h"

#include <cctype>
#include <cstdlib>

namespace standin {

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Walks a text word by word; a word is a run of non-blank characters.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text) {}

  std::string_view next() {
    while (at_ < text_.size() && is_blank(text_[at_])) ++at_;
    const size_t start = at_;
    while (at_ < text_.size() && !is_blank(text_[at_])) ++at_;
    return text_.substr(start, at_ - start);
  }
  bool next_is(std::string_view keyword) { return same_word(next(), keyword); }
  // A name, without a ';' stuck to its end.
  std::string name() {
    std::string_view w = next();
    if (!w.empty() && w.back() == ';') w.remove_suffix(1);
    return std::string(w);
  }
  bool number(int64_t* out) {
    const std::string_view w = next();
    if (w.empty() || w.size() > 18) return false;
    int64_t v = 0;
    for (char c : w) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
  }
  // Everything after the current word, without blanks around it.
  std::string rest() {
    size_t start = at_;
    size_t end = text_.size();
    while (start < end && is_blank(text_[start])) ++start;
    while (end > start && is_blank(text_[end - 1])) --end;
    at_ = text_.size();
    return std::string(text_.substr(start, end - start));
  }
  // Nothing but blanks and at most one ';' left.
  bool at_end() {
    std::string_view w = next();
    if (w == ";") w = next();
    return w.empty();
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

// The text's words without its last ';', for the fixed statement texts.
bool fixed_text(std::string_view text, std::initializer_list<std::string_view> words) {
  Words w(text);
  size_t i = 0;
  const size_t n = words.size();
  for (std::string_view want : words) {
    std::string_view got = w.next();
    if (++i == n && !got.empty() && got.back() == ';') got.remove_suffix(1);
    if (!same_word(got, want)) return false;
  }
  return w.at_end();
}

}  // namespace

DriverText classify_text(std::string_view text) {
  DriverText out;
  Words w(text);
  const std::string_view first = w.next();
  auto keyword = [&](std::string_view k) { return same_word(first, k) || same_word(first, std::string(k) + ";"); };

  if (keyword("show")) {
    if (fixed_text(text, {"show", "version"})) out.kind = TextKind::ShowVersion;
    if (fixed_text(text, {"show", "auto_commit"})) out.kind = TextKind::ShowAutoCommit;
  } else if (keyword("set")) {
    if (fixed_text(text, {"set", "auto_commit", "on"})) out.kind = TextKind::AutoCommitOn;
    if (fixed_text(text, {"set", "auto_commit", "off"})) out.kind = TextKind::AutoCommitOff;
  } else if (keyword("commit")) {
    if (fixed_text(text, {"commit"})) out.kind = TextKind::Commit;
  } else if (keyword("rollback")) {
    if (fixed_text(text, {"rollback"})) out.kind = TextKind::Rollback;
  } else if (same_word(first, "declare")) {
    out.name = w.name();
    if (!out.name.empty() && w.next_is("cursor") && w.next_is("for")) {
      out.body = w.rest();
      if (!out.body.empty()) out.kind = TextKind::Declare;
    }
  } else if (same_word(first, "open") || same_word(first, "close")) {
    out.name = w.name();
    if (!out.name.empty() && w.at_end()) out.kind = same_word(first, "open") ? TextKind::Open : TextKind::Close;
  } else if (same_word(first, "fetch")) {
    if (w.number(&out.count) && w.next_is("from")) {
      out.name = w.name();
      if (!out.name.empty() && w.at_end()) out.kind = TextKind::Fetch;
    }
  } else if (same_word(first, "prepare")) {
    out.name = w.name();
    if (!out.name.empty() && w.next_is("as")) {
      out.body = w.rest();
      if (!out.body.empty()) out.kind = TextKind::Prepare;
    }
  } else if (same_word(first, "deallocate")) {
    out.name = w.name();
    if (same_word(out.name, "prepare")) out.name = w.name();
    if (!out.name.empty() && w.at_end()) out.kind = TextKind::Deallocate;
  } else if (first == "?") {
    out.name = w.name();
    if (!out.name.empty() && w.at_end()) out.kind = TextKind::ExecutePrepared;
  } else if (same_word(first, "get") && w.next_is("lob")) {
    std::string_view quoted = w.next();
    if (quoted.size() >= 2 && quoted.front() == '\'' && quoted.back() == '\'' && w.next_is("offset") &&
        w.number(&out.offset) && w.next_is("limit")) {
      out.name = std::string(quoted.substr(1, quoted.size() - 2));
      // A descriptor without a limit asks for the whole value.
      Words probe = w;
      if (probe.at_end()) {
        out.count = -1;
        out.kind = TextKind::GetLob;
      } else if (w.number(&out.count) && w.at_end()) {
        out.kind = TextKind::GetLob;
      }
    }
  }
  if (out.kind == TextKind::Sql) {
    out.name.clear();
    out.body.clear();
  }
  return out;
}

}  // namespace standin
