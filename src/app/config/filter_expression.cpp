#include "app/config/filter_expression.h"

#include "app/message/current_message.h"
#include "app/message/text_charset.h"
#include "fidoutil/cp866.h"
#include "fidoutil/helpers.h"
#include "msgbase/message_base.h"

namespace lw {

namespace {

struct Token {
  enum class Kind { kEnd, kWord, kQuoted, kOpen, kClose, kComma };
  Kind kind = Kind::kEnd;
  std::string text;        // a word as written; a quoted string without its quotes and escapes
  std::size_t column = 0;  // 1-based
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool EndsWord(char c) { return IsBlank(c) || c == '(' || c == ')' || c == ',' || c == '"'; }

struct TestName {
  const char* word;
  FilterTest test;
  bool has_value;
};

constexpr TestName kTests[] = {
    {"TO", FilterTest::kTo, true},
    {"FROM", FilterTest::kFrom, true},
    {"SUBJ", FilterTest::kSubj, true},
    {"TOADDR", FilterTest::kToAddr, true},
    {"FROMADDR", FilterTest::kFromAddr, true},
    {"TEXT", FilterTest::kText, true},
    {"KLUDGE", FilterTest::kKludge, true},
    {"ATTR", FilterTest::kAttr, true},
    {"TOUS", FilterTest::kToUs, false},
    {"FROMUS", FilterTest::kFromUs, false},
    {"TOPOINT", FilterTest::kToPoint, false},
};

struct AttributeName {
  const char* word;
  std::uint32_t mask;
};

constexpr AttributeName kAttributes[] = {
    {"PRIVATE", kAttrPrivate},     {"CRASH", kAttrCrash},       {"RECEIVED", kAttrReceived},
    {"SENT", kAttrSent},           {"FILE", kAttrFileAttached}, {"TRANSIT", kAttrInTransit},
    {"ORPHAN", kAttrOrphan},       {"KILLSENT", kAttrKillSent}, {"LOCAL", kAttrLocal},
    {"HOLD", kAttrHold},           {"FREQ", kAttrFileRequest},  {"RRQ", kAttrReturnReceiptRequest},
    {"RRC", kAttrIsReturnReceipt}, {"ARQ", kAttrAuditRequest},  {"URQ", kAttrFileUpdateRequest},
};

class FilterReader {
 public:
  FilterReader(std::string_view line, std::size_t start, FilterRule& rule, FilterSyntaxError& error)
      : line_(line), pos_(start), rule_(rule), error_(error) {}

  bool Read() {
    const std::size_t start = pos_;
    if (!Next()) return false;
    int root = ReadOr(0);
    if (root < 0) return false;
    rule_.expression.root = root;
    if (!IsKeyword("THEN")) {
      return Fail(token_.column, token_.kind == Token::Kind::kEnd ? "THEN and an action expected"
                                                                  : "AND, OR or THEN expected, found " + Shown());
    }
    rule_.text = TrimBlanks(line_.substr(start, token_.column - 1 - start));
    if (!Next()) return false;
    while (true) {
      if (!ReadAction()) return false;
      if (token_.kind == Token::Kind::kEnd) return true;
      if (token_.kind != Token::Kind::kComma)
        return Fail(token_.column, "a comma or the line's end expected, found " + Shown());
      if (!Next()) return false;
    }
  }

 private:
  bool Fail(std::size_t column, std::string text) {
    error_.column = column;
    error_.text = std::move(text);
    return false;
  }

  std::string Shown() const {
    switch (token_.kind) {
      case Token::Kind::kEnd: return "the line's end";
      case Token::Kind::kOpen: return "(";
      case Token::Kind::kClose: return ")";
      case Token::Kind::kComma: return ",";
      case Token::Kind::kQuoted: return "\"" + token_.text + "\"";
      case Token::Kind::kWord: break;
    }
    return token_.text;
  }

  // Reads the next token into token_; false (error set) for a quoted string
  // that is not closed.
  bool Next() {
    while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
    token_ = Token{};
    token_.column = pos_ + 1;
    if (pos_ == line_.size()) return true;
    const char c = line_[pos_];
    if (c == '(' || c == ')' || c == ',') {
      token_.kind = c == '(' ? Token::Kind::kOpen : c == ')' ? Token::Kind::kClose : Token::Kind::kComma;
      ++pos_;
      return true;
    }
    if (c == '"') return ReadQuoted();
    token_.kind = Token::Kind::kWord;
    while (pos_ < line_.size() && !EndsWord(line_[pos_])) token_.text += line_[pos_++];
    return true;
  }

  bool ReadQuoted() {
    token_.kind = Token::Kind::kQuoted;
    for (++pos_; pos_ < line_.size(); ++pos_) {
      char c = line_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\' && pos_ + 1 < line_.size() && (line_[pos_ + 1] == '"' || line_[pos_ + 1] == '\\'))
        c = line_[++pos_];
      token_.text += c;
    }
    return Fail(token_.column, "a quoted string without its closing quote");
  }

  bool IsKeyword(const char* word) const { return token_.kind == Token::Kind::kWord && UpCase866(token_.text) == word; }

  int Add(FilterNode node) {
    rule_.expression.nodes.push_back(std::move(node));
    return static_cast<int>(rule_.expression.nodes.size()) - 1;
  }

  // Operands joined by `keyword`, each read by `read_operand`; a single
  // operand is returned as it is.
  template <typename ReadOperand>
  int ReadJoined(const char* keyword, FilterNode::Kind kind, ReadOperand read_operand) {
    int first = read_operand();
    if (first < 0 || !IsKeyword(keyword)) return first;
    FilterNode joined;
    joined.kind = kind;
    joined.operands.push_back(first);
    while (IsKeyword(keyword)) {
      if (!Next()) return -1;
      int operand = read_operand();
      if (operand < 0) return -1;
      joined.operands.push_back(operand);
    }
    return Add(std::move(joined));
  }

  int ReadOr(int depth) {
    return ReadJoined("OR", FilterNode::Kind::kOr, [this, depth] {
      return ReadJoined("AND", FilterNode::Kind::kAnd, [this, depth] { return ReadUnary(depth); });
    });
  }

  int ReadUnary(int depth) {
    if (depth >= kMaxFilterDepth) {
      Fail(token_.column, "groups nested deeper than " + std::to_string(kMaxFilterDepth));
      return -1;
    }
    if (IsKeyword("NOT")) {
      if (!Next()) return -1;
      int operand = ReadUnary(depth + 1);
      if (operand < 0) return -1;
      FilterNode negated;
      negated.kind = FilterNode::Kind::kNot;
      negated.operands.push_back(operand);
      return Add(std::move(negated));
    }
    if (token_.kind == Token::Kind::kOpen) {
      const std::size_t open_column = token_.column;
      if (!Next()) return -1;
      int inner = ReadOr(depth + 1);
      if (inner < 0) return -1;
      if (token_.kind != Token::Kind::kClose) {
        Fail(token_.column, "a closing parenthesis for the one at column " + std::to_string(open_column) +
                                " expected, found " + Shown());
        return -1;
      }
      if (!Next()) return -1;
      return inner;
    }
    return ReadTest();
  }

  int ReadTest() {
    const TestName* name = nullptr;
    for (const TestName& t : kTests) {
      if (IsKeyword(t.word)) name = &t;
    }
    if (name == nullptr) {
      Fail(token_.column,
           "a test (TO, FROM, SUBJ, TOADDR, FROMADDR, TEXT, KLUDGE, ATTR, TOUS, FROMUS, TOPOINT) "
           "expected, found " +
               Shown());
      return -1;
    }
    FilterNode node;
    node.test = name->test;
    if (!Next()) return -1;
    if (name->has_value) {
      if (token_.kind != Token::Kind::kWord && token_.kind != Token::Kind::kQuoted) {
        Fail(token_.column, std::string("a value for ") + name->word + " expected, found " + Shown());
        return -1;
      }
      if (!SetValue(node)) return -1;
      if (!Next()) return -1;
    }
    return Add(std::move(node));
  }

  bool SetValue(FilterNode& node) {
    const std::string& value = token_.text;
    // Patterns are compared in CP866, as the messages' names are; one
    // written in UTF-8 is converted before it is folded.
    const std::string cp866 = IsUtf8WithNonAscii(value) ? DecodeToCp866(value, "UTF-8") : value;
    switch (node.test) {
      case FilterTest::kTo:
      case FilterTest::kFrom: node.pattern = UpCase866(CutName(cp866)); return true;
      case FilterTest::kSubj: node.pattern = UpCase866(CutSubject(cp866)); return true;
      case FilterTest::kText:
      case FilterTest::kKludge:
        node.pattern = UpCase866(cp866);
        rule_.reads_text = true;
        return true;
      case FilterTest::kToAddr:
      case FilterTest::kFromAddr:
        if (ParseAddressPattern(value, node.address)) return true;
        return Fail(token_.column, "an address pattern that cannot be read: " + value);
      case FilterTest::kAttr:
        for (const AttributeName& a : kAttributes) {
          if (UpCase866(value) == a.word) {
            node.attribute = a.mask;
            return true;
          }
        }
        return Fail(token_.column, "an unknown attribute: " + value);
      case FilterTest::kToUs:
      case FilterTest::kFromUs:
      case FilterTest::kToPoint: break;
    }
    return true;
  }

  bool ReadAction() {
    FilterAction action;
    const std::size_t column = token_.column;
    if (IsKeyword("COPY") || IsKeyword("MOVE")) {
      action.kind = IsKeyword("COPY") ? FilterActionKind::kCopy : FilterActionKind::kMove;
      const std::string keyword = UpCase866(token_.text);
      if (!Next()) return false;
      if ((token_.kind != Token::Kind::kWord && token_.kind != Token::Kind::kQuoted) || token_.text.empty()) {
        return Fail(token_.column, "a target for " + keyword + " expected, found " + Shown());
      }
      action.target = token_.text;
    } else if (IsKeyword("EXEC")) {
      action.kind = FilterActionKind::kExec;
      if (!Next()) return false;
      if (token_.kind == Token::Kind::kWord || token_.kind == Token::Kind::kQuoted)
        action.words = SplitWords(token_.text);
      if (action.words.empty()) return Fail(token_.column, "a program for EXEC expected, found " + Shown());
    } else if (IsKeyword("KILL") || IsKeyword("CONTINUE")) {
      action.kind = IsKeyword("KILL") ? FilterActionKind::kKill : FilterActionKind::kContinue;
      rule_.continues = rule_.continues || action.kind == FilterActionKind::kContinue;
    } else {
      return Fail(column, "an action (COPY, MOVE, KILL, EXEC, CONTINUE) expected, found " + Shown());
    }
    rule_.actions.push_back(std::move(action));
    return Next();
  }

  // The words of an EXEC string: runs of characters between blanks, taken
  // as they are (nothing is expanded).
  static std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
      while (i < text.size() && IsBlank(text[i])) ++i;
      std::size_t start = i;
      while (i < text.size() && !IsBlank(text[i])) ++i;
      if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
  }

  std::string_view line_;
  std::size_t pos_;
  FilterRule& rule_;
  FilterSyntaxError& error_;
  Token token_;
};

}  // namespace

bool ReadFilterRule(std::string_view line, std::size_t start, FilterRule& rule, FilterSyntaxError& error) {
  FilterRule read;
  if (!FilterReader(line, start, read, error).Read()) return false;
  rule = std::move(read);
  return true;
}

}  // namespace lw
