// The C preprocessor of effect sources: comments, line splices, object- and function-like
// macros, conditional groups with integer expressions, #error. Every loop and recursion is
// bounded, since sources come from archives and disk.

#include "platform/d3dx9/effect_model.h"

#include <cstddef>
#include <cstdio>
#include <map>
#include <set>

namespace rh::d3dx9::fx {
namespace {

bool IsIdentStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// A logical line: its text without comments and splices, the source line it starts on and
// the physical lines it covers.
struct Line {
    std::string text;
    uint32_t number = 1;
    uint32_t span = 1;
};

class Failure {
public:
    std::string message;
};

[[noreturn]] void Fail(uint32_t line, const std::string& message) {
    throw Failure{"line " + std::to_string(line) + ": " + message + "\n"};
}

// Comments become a blank (or the newlines they held), splices join lines. Strings are kept
// whole so that comment markers inside them stay text.
std::vector<Line> SplitLines(std::string_view s) {
    // A zero byte would end names and texts early wherever they become C strings.
    if (size_t zero = s.find('\0'); zero != std::string_view::npos) {
        uint32_t line = 1;
        for (size_t i = 0; i < zero; ++i) line += s[i] == '\n' ? 1 : 0;
        Fail(line, "a zero byte in the source");
    }
    std::vector<Line> lines;
    Line current;
    uint32_t physical = 1;
    size_t i = 0;
    auto endLine = [&]() {
        current.span = physical - current.number + 1;
        lines.push_back(std::move(current));
        current = Line{};
        ++physical;
        current.number = physical;
    };
    while (i < s.size()) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\n' || (s[i + 1] == '\r' && i + 2 < s.size() && s[i + 2] == '\n'))) {
            i += s[i + 1] == '\n' ? 2 : 3;
            ++physical;
            continue;
        }
        if (c == '\n') {
            endLine();
            ++i;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
            // To the end of the line; a splice continues the comment.
            i += 2;
            while (i < s.size() && s[i] != '\n') {
                if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\n') {
                    ++physical;
                    i += 2;
                    continue;
                }
                ++i;
            }
            current.text += ' ';
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            uint32_t start = physical;
            i += 2;
            bool closed = false;
            // Outside directives the lines a comment spans stay lines, so that the text
            // after it keeps its line number.
            size_t first = current.text.find_first_not_of(" \t\r\f\v");
            bool directive = first != std::string::npos && current.text[first] == '#';
            while (i < s.size()) {
                if (s[i] == '*' && i + 1 < s.size() && s[i + 1] == '/') {
                    closed = true;
                    i += 2;
                    break;
                }
                if (s[i] == '\n') {
                    if (directive) {
                        ++physical;
                    } else {
                        endLine();
                    }
                }
                ++i;
            }
            if (!closed) Fail(start, "unterminated comment");
            current.text += ' ';
            continue;
        }
        if (c == '"') {
            size_t j = i + 1;
            while (j < s.size() && s[j] != '"' && s[j] != '\n') j += (s[j] == '\\' && j + 1 < s.size() && s[j + 1] != '\n') ? 2 : 1;
            if (j >= s.size() || s[j] != '"') Fail(physical, "unterminated string");
            current.text.append(s.substr(i, j + 1 - i));
            i = j + 1;
            continue;
        }
        current.text += c;
        ++i;
    }
    current.span = physical - current.number + 1;
    lines.push_back(std::move(current));
    return lines;
}

struct Token {
    enum Kind : uint8_t { kIdent, kNumber, kString, kSpace, kPunct };
    Kind kind;
    std::string text;
};

std::vector<Token> Tokenize(std::string_view s) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (IsSpace(c)) {
            while (i < s.size() && IsSpace(s[i])) ++i;
            tokens.push_back({Token::kSpace, " "});
        } else if (IsIdentStart(c)) {
            size_t j = i;
            while (j < s.size() && IsIdentChar(s[j])) ++j;
            tokens.push_back({Token::kIdent, std::string(s.substr(i, j - i))});
            i = j;
        } else if (IsDigit(c) || (c == '.' && i + 1 < s.size() && IsDigit(s[i + 1]))) {
            size_t j = i + 1;
            while (j < s.size()) {
                if ((s[j] == '+' || s[j] == '-') && (s[j - 1] == 'e' || s[j - 1] == 'E')) {
                    ++j;
                } else if (IsIdentChar(s[j]) || s[j] == '.') {
                    ++j;
                } else {
                    break;
                }
            }
            tokens.push_back({Token::kNumber, std::string(s.substr(i, j - i))});
            i = j;
        } else if (c == '"') {
            size_t j = i + 1;
            while (j < s.size() && s[j] != '"') j += (s[j] == '\\' && j + 1 < s.size()) ? 2 : 1;
            j = std::min(j + 1, s.size());
            tokens.push_back({Token::kString, std::string(s.substr(i, j - i))});
            i = j;
        } else {
            tokens.push_back({Token::kPunct, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

struct MacroDef {
    bool function = false;
    std::vector<std::string> params;
    std::vector<Token> body;
};

class Preprocessor {
public:
    Preprocessor(uint32_t line, std::map<std::string, MacroDef>* macros, size_t* produced)
        : line_(line), macros_(macros), produced_(produced) {}

    // Expands tokens; names in disabled are not expanded again (a macro inside its own
    // expansion stays a name, as in C).
    void Expand(const std::vector<Token>& tokens, std::set<std::string>& disabled, int depth, std::vector<Token>* out) {
        if (depth > kMaxExpansionDepth) Fail(line_, "macros nest too deeply");
        for (size_t i = 0; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            auto found = t.kind == Token::kIdent ? macros_->find(t.text) : macros_->end();
            if (found == macros_->end() || disabled.count(t.text) != 0) {
                Emit(t, out);
                continue;
            }
            const MacroDef& def = found->second;
            if (!def.function) {
                disabled.insert(t.text);
                Expand(def.body, disabled, depth + 1, out);
                disabled.erase(t.text);
                continue;
            }
            size_t j = i + 1;
            while (j < tokens.size() && tokens[j].kind == Token::kSpace) ++j;
            if (j >= tokens.size() || tokens[j].text != "(") {
                Emit(t, out);  // a function-like name without arguments is just a name
                continue;
            }
            // The arguments, split at commas outside parentheses, up to the matching ')'.
            std::vector<std::vector<Token>> args(1);
            int level = 0;
            size_t k = j + 1;
            for (; k < tokens.size(); ++k) {
                const Token& a = tokens[k];
                if (a.kind == Token::kPunct && a.text == "(") ++level;
                if (a.kind == Token::kPunct && a.text == ")") {
                    if (level == 0) break;
                    --level;
                }
                if (a.kind == Token::kPunct && a.text == "," && level == 0) {
                    args.emplace_back();
                    continue;
                }
                args.back().push_back(a);
            }
            if (k >= tokens.size()) Fail(line_, "unterminated call of macro '" + t.text + "'");
            bool noArgs = args.size() == 1 && Trimmed(args[0]).empty();
            if (noArgs && def.params.empty()) args.clear();
            if (args.size() != def.params.size()) {
                Fail(line_, "macro '" + t.text + "' takes " + std::to_string(def.params.size()) + " arguments, not " +
                                std::to_string(args.size()));
            }
            std::vector<std::vector<Token>> expanded(args.size());
            for (size_t a = 0; a < args.size(); ++a) Expand(Trimmed(args[a]), disabled, depth + 1, &expanded[a]);
            std::vector<Token> substituted;
            for (const Token& b : def.body) {
                size_t p = 0;
                while (p < def.params.size() && !(b.kind == Token::kIdent && b.text == def.params[p])) ++p;
                if (p < def.params.size()) {
                    for (const Token& e : expanded[p]) Count(substituted, e);
                } else {
                    Count(substituted, b);
                }
            }
            disabled.insert(t.text);
            Expand(substituted, disabled, depth + 1, out);
            disabled.erase(t.text);
            i = k;
        }
    }

    static std::vector<Token> Trimmed(const std::vector<Token>& tokens) {
        size_t begin = 0;
        size_t end = tokens.size();
        while (begin < end && tokens[begin].kind == Token::kSpace) ++begin;
        while (end > begin && tokens[end - 1].kind == Token::kSpace) --end;
        return std::vector<Token>(tokens.begin() + static_cast<std::ptrdiff_t>(begin), tokens.begin() + static_cast<std::ptrdiff_t>(end));
    }

    // Every token made counts against one budget: expansions that grow without end stop.
    void Count(std::vector<Token>& out, const Token& t) {
        *produced_ += t.text.size() + 1;
        if (*produced_ > 2 * kMaxOutputBytes) Fail(line_, "macro expansion too large");
        out.push_back(t);
    }
    void Emit(const Token& t, std::vector<Token>* out) { Count(*out, t); }

private:
    uint32_t line_;
    std::map<std::string, MacroDef>* macros_;
    size_t* produced_;
};

// #if expressions over 64-bit integers, wrapping as unsigned arithmetic does.
class Expression {
public:
    Expression(std::vector<Token> tokens, uint32_t line) : line_(line) {
        for (Token& t : tokens) {
            if (t.kind != Token::kSpace) tokens_.push_back(std::move(t));
        }
    }

    int64_t Evaluate() {
        int64_t v = Conditional(0);
        if (pos_ != tokens_.size()) Fail(line_, "unexpected '" + tokens_[pos_].text + "' in #if");
        return v;
    }

private:
    // Two-character operators arrive as single characters.
    bool Peek(const char* op) {
        size_t n = std::char_traits<char>::length(op);
        if (pos_ + n > tokens_.size()) return false;
        for (size_t i = 0; i < n; ++i) {
            if (tokens_[pos_ + i].kind != Token::kPunct || tokens_[pos_ + i].text[0] != op[i]) return false;
        }
        return true;
    }
    bool Accept(const char* op) {
        if (!Peek(op)) return false;
        pos_ += std::char_traits<char>::length(op);
        return true;
    }
    void Deeper(int depth) {
        if (depth > 200) Fail(line_, "#if expression nests too deeply");
    }

    int64_t Conditional(int depth) {
        Deeper(depth);
        int64_t c = Binary(0, depth);
        if (!Accept("?")) return c;
        int64_t a = Conditional(depth + 1);
        if (!Accept(":")) Fail(line_, "':' expected in #if");
        int64_t b = Conditional(depth + 1);
        return c != 0 ? a : b;
    }

    // Precedence levels, loosest first.
    int64_t Binary(int level, int depth) {
        if (level == 10) return Unary(depth);
        int64_t left = Binary(level + 1, depth);
        for (;;) {
            const char* op = Operator(level);
            if (op == nullptr) return left;
            int64_t right = Binary(level + 1, depth);
            left = Apply(op, left, right);
        }
    }

    const char* Operator(int level) {
        static const char* const kLevels[10][4] = {
            {"||", nullptr}, {"&&", nullptr}, {"|", nullptr}, {"^", nullptr}, {"&", nullptr},
            {"==", "!=", nullptr}, {"<=", ">=", "<", ">"}, {"<<", ">>", nullptr}, {"+", "-", nullptr},
            {"*", "/", "%", nullptr}};
        for (const char* op : kLevels[level]) {
            if (op == nullptr) break;
            // "|" is not the start of "||", "&" not of "&&", "<" not of "<<" or "<=".
            if (!Peek(op)) continue;
            std::string_view o(op);
            if (o.size() == 1 && pos_ + 1 < tokens_.size() && tokens_[pos_ + 1].kind == Token::kPunct) {
                char next = tokens_[pos_ + 1].text[0];
                if ((o == "|" && next == '|') || (o == "&" && next == '&') || ((o == "<" || o == ">") && (next == '=' || next == o[0]))) {
                    continue;
                }
            }
            pos_ += o.size();
            return op;
        }
        return nullptr;
    }

    int64_t Apply(std::string_view op, int64_t a, int64_t b) {
        auto ua = static_cast<uint64_t>(a);
        auto ub = static_cast<uint64_t>(b);
        if (op == "||") return (a != 0 || b != 0) ? 1 : 0;
        if (op == "&&") return (a != 0 && b != 0) ? 1 : 0;
        if (op == "|") return static_cast<int64_t>(ua | ub);
        if (op == "^") return static_cast<int64_t>(ua ^ ub);
        if (op == "&") return static_cast<int64_t>(ua & ub);
        if (op == "==") return a == b ? 1 : 0;
        if (op == "!=") return a != b ? 1 : 0;
        if (op == "<=") return a <= b ? 1 : 0;
        if (op == ">=") return a >= b ? 1 : 0;
        if (op == "<") return a < b ? 1 : 0;
        if (op == ">") return a > b ? 1 : 0;
        if (op == "<<") return static_cast<int64_t>(ua << (ub & 63));
        if (op == ">>") return a >> (ub & 63);
        if (op == "+") return static_cast<int64_t>(ua + ub);
        if (op == "-") return static_cast<int64_t>(ua - ub);
        if (op == "*") return static_cast<int64_t>(ua * ub);
        if (b == 0) Fail(line_, "division by zero in #if");
        if (b == -1) return op == "/" ? static_cast<int64_t>(0 - ua) : 0;  // INT64_MIN / -1 wraps
        return op == "/" ? a / b : a % b;
    }

    int64_t Unary(int depth) {
        Deeper(depth);
        if (Accept("!")) return Unary(depth + 1) == 0 ? 1 : 0;
        if (Accept("~")) return static_cast<int64_t>(~static_cast<uint64_t>(Unary(depth + 1)));
        if (Accept("-")) return static_cast<int64_t>(0 - static_cast<uint64_t>(Unary(depth + 1)));
        if (Accept("+")) return Unary(depth + 1);
        if (Accept("(")) {
            int64_t v = Conditional(depth + 1);
            if (!Accept(")")) Fail(line_, "')' expected in #if");
            return v;
        }
        if (pos_ >= tokens_.size()) Fail(line_, "#if expression ends early");
        const Token& t = tokens_[pos_++];
        if (t.kind == Token::kIdent) return 0;  // names left after expansion are 0
        if (t.kind != Token::kNumber) Fail(line_, "unexpected '" + t.text + "' in #if");
        return Number(t.text);
    }

    int64_t Number(const std::string& text) {
        uint64_t value = 0;
        size_t i = 0;
        unsigned base = 10;
        if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            i = 2;
        } else if (text[0] == '0') {
            base = 8;
        }
        size_t digits = 0;
        for (; i < text.size(); ++i) {
            char c = text[i];
            unsigned d;
            if (c >= '0' && c <= '9') {
                d = static_cast<unsigned>(c - '0');
            } else if (base == 16 && c >= 'a' && c <= 'f') {
                d = static_cast<unsigned>(c - 'a' + 10);
            } else if (base == 16 && c >= 'A' && c <= 'F') {
                d = static_cast<unsigned>(c - 'A' + 10);
            } else {
                break;
            }
            if (d >= base) Fail(line_, "bad number '" + text + "' in #if");
            value = value * base + d;
            ++digits;
        }
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (c != 'u' && c != 'U' && c != 'l' && c != 'L') Fail(line_, "bad number '" + text + "' in #if");
        }
        if (digits == 0 && base == 16) Fail(line_, "bad number '" + text + "' in #if");
        return static_cast<int64_t>(value);
    }

    std::vector<Token> tokens_;
    size_t pos_ = 0;
    uint32_t line_;
};

struct Group {
    uint32_t line;
    bool parentActive;
    bool taken;   // a branch of the group was taken
    bool active;  // lines of the current branch are kept
    bool sawElse;
};

std::string Identifier(std::string_view s, size_t* i) {
    size_t j = *i;
    while (j < s.size() && IsIdentChar(s[j])) ++j;
    std::string name(s.substr(*i, j - *i));
    *i = j;
    return name;
}

void SkipSpace(std::string_view s, size_t* i) {
    while (*i < s.size() && IsSpace(s[*i])) ++*i;
}

class Run {
public:
    bool Go(std::string_view source, const std::vector<Macro>& macros, std::string* out) {
        for (const Macro& m : macros) {
            std::string_view name(m.name);
            size_t i = 0;
            if (name.empty() || !IsIdentStart(name[0]) || Identifier(name, &i).size() != name.size()) {
                Fail(0, "bad macro name '" + m.name + "' from the caller");
            }
            if (m.name == "defined") Fail(0, "'defined' cannot be a macro");
            Define(m.name, MacroDef{false, {}, Tokenize(m.definition)}, 0);
        }
        std::vector<Line> lines = SplitLines(source);
        for (const Line& line : lines) {
            Directive(line, out);
            if (out->size() > kMaxOutputBytes) Fail(line.number, "preprocessed text too large");
        }
        if (!groups_.empty()) Fail(groups_.back().line, "unterminated #if");
        return true;
    }

private:
    bool Active() const { return groups_.empty() || groups_.back().active; }

    void Define(const std::string& name, MacroDef def, uint32_t line) {
        if (macros_.size() >= kMaxMacros && macros_.count(name) == 0) Fail(line, "too many macros");
        macros_[name] = std::move(def);
    }

    void Directive(const Line& line, std::string* out) {
        std::string_view s = line.text;
        size_t i = 0;
        SkipSpace(s, &i);
        if (i >= s.size() || s[i] != '#') {
            if (Active()) {
                std::vector<Token> tokens = Tokenize(s);
                std::vector<Token> expanded;
                std::set<std::string> disabled;
                Preprocessor(line.number, &macros_, &produced_).Expand(tokens, disabled, 0, &expanded);
                for (const Token& t : expanded) out->append(t.text);
            }
            out->append(line.span, '\n');
            return;
        }
        ++i;
        SkipSpace(s, &i);
        std::string name = Identifier(s, &i);
        std::string_view rest = s.substr(i);
        uint32_t n = line.number;
        if (name == "if" || name == "ifdef" || name == "ifndef") {
            if (groups_.size() >= static_cast<size_t>(kMaxIfDepth)) Fail(n, "#if groups nest too deeply");
            bool parent = Active();
            bool value = parent && Condition(name, rest, n);
            groups_.push_back({n, parent, value, value, false});
        } else if (name == "elif") {
            if (groups_.empty() || groups_.back().sawElse) Fail(n, "#elif without #if");
            Group& g = groups_.back();
            bool value = g.parentActive && !g.taken && Condition("if", rest, n);
            g.active = value;
            g.taken = g.taken || value;
        } else if (name == "else") {
            if (groups_.empty() || groups_.back().sawElse) Fail(n, "#else without #if");
            Group& g = groups_.back();
            g.sawElse = true;
            g.active = g.parentActive && !g.taken;
            g.taken = true;
        } else if (name == "endif") {
            if (groups_.empty()) Fail(n, "#endif without #if");
            groups_.pop_back();
        } else if (!Active()) {
            // Other directives of skipped groups are not looked at.
        } else if (name == "define") {
            DefineDirective(rest, n);
        } else if (name == "undef") {
            size_t j = 0;
            SkipSpace(rest, &j);
            std::string macro = Identifier(rest, &j);
            if (macro.empty()) Fail(n, "#undef needs a name");
            macros_.erase(macro);
        } else if (name == "error") {
            size_t j = 0;
            SkipSpace(rest, &j);
            Fail(n, "#error " + std::string(rest.substr(j)));
        } else if (name == "include") {
            Fail(n, "#include is not supported (effects have no include handler)");
        } else if (name == "pragma" || name.empty()) {
            // Pragmas mean nothing here; a lone '#' is the null directive.
        } else {
            Fail(n, "unknown directive '#" + name + "'");
        }
        out->append(line.span, '\n');
    }

    bool Condition(const std::string& kind, std::string_view rest, uint32_t n) {
        if (kind != "if") {
            size_t j = 0;
            SkipSpace(rest, &j);
            std::string macro = Identifier(rest, &j);
            if (macro.empty()) Fail(n, "#" + kind + " needs a name");
            bool defined = macros_.count(macro) != 0;
            return kind == "ifdef" ? defined : !defined;
        }
        // "defined X" and "defined(X)" are answered before expansion.
        std::vector<Token> tokens = Tokenize(rest);
        std::vector<Token> replaced;
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (tokens[i].kind != Token::kIdent || tokens[i].text != "defined") {
                replaced.push_back(tokens[i]);
                continue;
            }
            size_t j = i + 1;
            while (j < tokens.size() && tokens[j].kind == Token::kSpace) ++j;
            bool paren = j < tokens.size() && tokens[j].text == "(";
            if (paren) {
                ++j;
                while (j < tokens.size() && tokens[j].kind == Token::kSpace) ++j;
            }
            if (j >= tokens.size() || tokens[j].kind != Token::kIdent) Fail(n, "'defined' needs a name");
            bool defined = macros_.count(tokens[j].text) != 0;
            if (paren) {
                ++j;
                while (j < tokens.size() && tokens[j].kind == Token::kSpace) ++j;
                if (j >= tokens.size() || tokens[j].text != ")") Fail(n, "')' expected after 'defined'");
            }
            replaced.push_back({Token::kNumber, defined ? "1" : "0"});
            i = j;
        }
        std::vector<Token> expanded;
        std::set<std::string> disabled;
        Preprocessor(n, &macros_, &produced_).Expand(replaced, disabled, 0, &expanded);
        bool empty = true;
        for (const Token& t : expanded) empty = empty && t.kind == Token::kSpace;
        if (empty) Fail(n, "#if without an expression");
        return Expression(std::move(expanded), n).Evaluate() != 0;
    }

    void DefineDirective(std::string_view rest, uint32_t n) {
        size_t j = 0;
        SkipSpace(rest, &j);
        if (j >= rest.size() || !IsIdentStart(rest[j])) Fail(n, "#define needs a name");
        std::string name = Identifier(rest, &j);
        if (name == "defined") Fail(n, "'defined' cannot be a macro");
        MacroDef def;
        if (j < rest.size() && rest[j] == '(') {
            def.function = true;
            ++j;
            for (;;) {
                SkipSpace(rest, &j);
                if (j < rest.size() && rest[j] == ')' && def.params.empty()) {
                    ++j;
                    break;
                }
                if (j >= rest.size() || !IsIdentStart(rest[j])) Fail(n, "bad parameter list of macro '" + name + "'");
                std::string param = Identifier(rest, &j);
                for (const std::string& p : def.params) {
                    if (p == param) Fail(n, "parameter '" + param + "' twice in macro '" + name + "'");
                }
                def.params.push_back(param);
                SkipSpace(rest, &j);
                if (j < rest.size() && rest[j] == ',') {
                    ++j;
                    continue;
                }
                if (j < rest.size() && rest[j] == ')') {
                    ++j;
                    break;
                }
                Fail(n, "bad parameter list of macro '" + name + "'");
            }
        }
        def.body = Preprocessor::Trimmed(Tokenize(rest.substr(j)));
        Define(name, std::move(def), n);
    }

    std::map<std::string, MacroDef> macros_;
    std::vector<Group> groups_;
    size_t produced_ = 0;  // tokens made by expansion, in bytes, over the whole run
};

}  // namespace

bool Preprocess(std::string_view source, const std::vector<Macro>& macros, std::string* out, std::string* errors) {
    out->clear();
    try {
        Run run;
        return run.Go(source, macros, out);
    } catch (const Failure& failure) {
        errors->append(failure.message);
        out->clear();
        return false;
    }
}

}  // namespace rh::d3dx9::fx
