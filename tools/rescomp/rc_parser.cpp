#include "tools/rescomp/rc_parser.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace rh::rescomp {
namespace {

enum class TokenKind { End, Name, Number, String, Comma, Bar };

// Whether a string can go into a template as UTF-16: well-formed UTF-8 (no overlong forms, no
// surrogates, nothing past U+10FFFF) without U+0000, which would end the text early, and
// without U+FFFF, which at the start of a class or control text reads back as an ordinal.
bool IsTemplateText(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int extra;
        uint32_t cp;
        uint32_t least;
        if (c < 0x80) {
            extra = 0, cp = c, least = 1;
        } else if (c >= 0xC2 && c < 0xE0) {
            extra = 1, cp = c & 0x1Fu, least = 0x80;
        } else if (c >= 0xE0 && c < 0xF0) {
            extra = 2, cp = c & 0x0Fu, least = 0x800;
        } else if (c >= 0xF0 && c < 0xF5) {
            extra = 3, cp = c & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (s.size() - i - 1 < static_cast<size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((t & 0xC0) != 0x80) return false;
            cp = cp << 6 | (t & 0x3Fu);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000) || cp == 0xFFFF) {
            return false;
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // the name or the decoded string
    int64_t number = 0;
    int line = 0;
};

class Lexer {
public:
    explicit Lexer(const std::string& text) : text_(text) {}

    bool Tokenize(std::vector<Token>* out, std::string* error) {
        for (;;) {
            SkipSpaceAndComments();
            Token t;
            t.line = line_;
            if (pos_ >= text_.size()) {
                out->push_back(t);
                return true;
            }
            char c = text_[pos_];
            if (c == ',') {
                t.kind = TokenKind::Comma;
                ++pos_;
            } else if (c == '|') {
                t.kind = TokenKind::Bar;
                ++pos_;
            } else if (c == '"') {
                t.kind = TokenKind::String;
                if (!ReadString(&t.text, error)) return false;
            } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
                t.kind = TokenKind::Number;
                if (!ReadNumber(&t.number, error)) return false;
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                t.kind = TokenKind::Name;
                while (pos_ < text_.size() &&
                       (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
                    t.text += text_[pos_++];
                }
            } else {
                *error = "line " + std::to_string(line_) + ": unexpected character '" + c + "'";
                return false;
            }
            out->push_back(t);
        }
    }

private:
    void SkipSpaceAndComments() {
        bool lineStart = pos_ == 0 || text_[pos_ - 1] == '\n';
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                lineStart = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (lineStart && c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (text_.compare(pos_, 2, "//") == 0) {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (text_.compare(pos_, 2, "/*") == 0) {
                pos_ += 2;
                while (pos_ < text_.size() && text_.compare(pos_, 2, "*/") != 0) {
                    if (text_[pos_] == '\n') ++line_;
                    ++pos_;
                }
                pos_ = std::min(text_.size(), pos_ + 2);
            } else {
                return;
            }
        }
    }

    // Resource-script strings double a quote to include it; backslash escapes \" \\ \n \t.
    bool ReadString(std::string* out, std::string* error) {
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '\n') {
                *error = "line " + std::to_string(line_) + ": unterminated string";
                return false;
            }
            char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    out->push_back('"');
                    ++pos_;
                    continue;
                }
                if (!IsTemplateText(*out)) {
                    *error = "line " + std::to_string(line_) + ": string is not UTF-8 text";
                    return false;
                }
                return true;
            }
            if (c == '\\' && pos_ < text_.size()) {
                char e = text_[pos_++];
                switch (e) {
                    case 'n': out->push_back('\n'); break;
                    case 't': out->push_back('\t'); break;
                    default: out->push_back(e); break;
                }
                continue;
            }
            out->push_back(c);
        }
    }

    bool ReadNumber(int64_t* out, std::string* error) {
        bool negative = false;
        if (text_[pos_] == '-') {
            negative = true;
            ++pos_;
        }
        size_t start = pos_;
        int base = 10;
        if (text_.compare(pos_, 2, "0x") == 0 || text_.compare(pos_, 2, "0X") == 0) {
            base = 16;
            pos_ += 2;
            start = pos_;
        }
        while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        if (pos_ == start) {
            *error = "line " + std::to_string(line_) + ": malformed number";
            return false;
        }
        int64_t v = std::strtoll(text_.substr(start, pos_ - start).c_str(), nullptr, base);
        // A trailing L or U, as C headers write constants.
        while (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'U' ||
                                       text_[pos_] == 'l' || text_[pos_] == 'u')) {
            ++pos_;
        }
        *out = negative ? -v : v;
        return true;
    }

    const std::string& text_;
    size_t pos_ = 0;
    int line_ = 1;
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, std::string baseDir)
        : tokens_(std::move(tokens)), baseDir_(std::move(baseDir)) {}

    bool Parse(std::vector<ResourceDefinition>* out) {
        while (Peek().kind != TokenKind::End) {
            ResourceDefinition res;
            res.line = Peek().line;
            if (!ReadResName(&res.name)) return Fail("expected a resource name or number");
            const Token& typeToken = Next();
            if (typeToken.kind == TokenKind::Name && Upper(typeToken.text) == "DIALOG") {
                res.type = ResName{true, kTypeDialog, {}};
                DialogDefinition dialog;
                if (!ReadDialog(&dialog)) return false;
                res.dialog = std::move(dialog);
            } else {
                if (typeToken.kind == TokenKind::Name && Upper(typeToken.text) == "BITMAP") {
                    res.type = ResName{true, kTypeBitmap, {}};
                } else if (typeToken.kind == TokenKind::Name && Upper(typeToken.text) == "RCDATA") {
                    res.type = ResName{true, kTypeRcData, {}};
                } else if (typeToken.kind == TokenKind::Name || typeToken.kind == TokenKind::String) {
                    res.type = ResName{false, 0, Upper(typeToken.text)};
                } else if (typeToken.kind == TokenKind::Number && typeToken.number > 0 &&
                           typeToken.number <= 0xFFFF) {
                    res.type = ResName{true, static_cast<uint16_t>(typeToken.number), {}};
                } else {
                    return Fail("expected a resource type");
                }
                const Token& file = Next();
                if (file.kind != TokenKind::String) return Fail("expected a file name in quotes");
                res.file = file.text.empty() || file.text[0] == '/' ? file.text
                                                                    : baseDir_ + "/" + file.text;
            }
            out->push_back(std::move(res));
        }
        return true;
    }

    const std::string& error() const { return error_; }

private:
    const Token& Peek() const { return tokens_[pos_]; }
    const Token& Next() {
        const Token& t = tokens_[pos_];
        if (t.kind != TokenKind::End) ++pos_;
        lastLine_ = t.line;
        return t;
    }
    bool Fail(const std::string& what) {
        // The token that did not fit is the one just read.
        if (error_.empty()) error_ = "line " + std::to_string(lastLine_) + ": " + what;
        return false;
    }
    bool IsKeyword(const char* word) const {
        return Peek().kind == TokenKind::Name && Upper(Peek().text) == word;
    }

    bool ReadResName(ResName* out) {
        const Token& t = Next();
        if (t.kind == TokenKind::Number && t.number >= 0 && t.number <= 0xFFFF) {
            *out = ResName{true, static_cast<uint16_t>(t.number), {}};
            return true;
        }
        if (t.kind == TokenKind::Name || t.kind == TokenKind::String) {
            *out = ResName{false, 0, Upper(t.text)};
            return true;
        }
        return false;
    }

    bool ReadInt(int64_t* out) {
        const Token& t = Next();
        if (t.kind == TokenKind::Number) {
            *out = t.number;
            return true;
        }
        if (t.kind == TokenKind::Name) {
            if (auto v = LookUpSymbol(t.text)) {
                *out = *v;
                return true;
            }
            return Fail("unknown name " + t.text);
        }
        return Fail("expected a number");
    }

    bool ReadComma() {
        if (Next().kind != TokenKind::Comma) return Fail("expected ','");
        return true;
    }

    bool ReadInts(std::initializer_list<int*> outs) {
        bool first = true;
        for (int* o : outs) {
            if (!first && !ReadComma()) return false;
            first = false;
            int64_t v = 0;
            if (!ReadInt(&v)) return false;
            *o = static_cast<int>(v);
        }
        return true;
    }

    // name | number | NOT name, joined with '|'. Returns bits to set and bits to clear.
    bool ReadStyle(uint32_t* set, uint32_t* clear) {
        *set = 0;
        *clear = 0;
        for (;;) {
            bool negate = false;
            if (IsKeyword("NOT")) {
                Next();
                negate = true;
            }
            int64_t v = 0;
            if (!ReadInt(&v)) return false;
            (negate ? *clear : *set) |= static_cast<uint32_t>(v);
            if (Peek().kind != TokenKind::Bar) return true;
            Next();
        }
    }

    bool ReadDialog(DialogDefinition* d) {
        if (!ReadInts({&d->x, &d->y, &d->cx, &d->cy})) return false;
        // Without STYLE the resource compiler's default frame applies.
        d->style = 0x80000000u /*WS_POPUP*/ | 0x00800000u /*WS_BORDER*/ | 0x00080000u /*WS_SYSMENU*/;
        for (;;) {
            if (IsKeyword("STYLE")) {
                Next();
                uint32_t set, clear;
                if (!ReadStyle(&set, &clear)) return false;
                d->style = set & ~clear;
            } else if (IsKeyword("EXSTYLE")) {
                Next();
                uint32_t set, clear;
                if (!ReadStyle(&set, &clear)) return false;
                d->exStyle = set & ~clear;
            } else if (IsKeyword("CAPTION")) {
                Next();
                const Token& t = Next();
                if (t.kind != TokenKind::String) return Fail("expected the caption in quotes");
                d->caption = t.text;
            } else if (IsKeyword("FONT")) {
                Next();
                int64_t size = 0;
                if (!ReadInt(&size) || !ReadComma()) return false;
                const Token& t = Next();
                if (t.kind != TokenKind::String) return Fail("expected the font name in quotes");
                d->hasFont = true;
                d->pointSize = static_cast<uint16_t>(size);
                d->fontName = t.text;
            } else {
                break;
            }
        }
        if (!d->caption.empty()) d->style |= 0x00C00000u;  // WS_CAPTION
        if (d->hasFont) d->style |= 0x40u;                    // DS_SETFONT
        if (!IsKeyword("BEGIN")) return Fail("expected BEGIN");
        Next();
        while (!IsKeyword("END")) {
            if (Peek().kind == TokenKind::End) {
                Next();
                return Fail("expected END");
            }
            DialogControl c;
            if (!ReadControl(&c)) return false;
            d->controls.push_back(std::move(c));
        }
        Next();
        return true;
    }

    struct ControlKind {
        const char* className;
        uint32_t style;
        bool hasText;
    };

    bool ReadControl(DialogControl* c) {
        static const std::map<std::string, ControlKind> kKinds = {
            // Default styles as the resource compiler gives each statement.
            {"LTEXT", {"Static", 0x0u /*SS_LEFT*/ | 0x00020000u /*WS_GROUP*/, true}},
            {"CTEXT", {"Static", 0x1u /*SS_CENTER*/ | 0x00020000u, true}},
            {"RTEXT", {"Static", 0x2u /*SS_RIGHT*/ | 0x00020000u, true}},
            {"PUSHBUTTON", {"Button", 0x0u /*BS_PUSHBUTTON*/ | 0x00010000u /*WS_TABSTOP*/, true}},
            {"DEFPUSHBUTTON", {"Button", 0x1u /*BS_DEFPUSHBUTTON*/ | 0x00010000u, true}},
            {"GROUPBOX", {"Button", 0x7u /*BS_GROUPBOX*/, true}},
            {"AUTOCHECKBOX", {"Button", 0x3u /*BS_AUTOCHECKBOX*/ | 0x00010000u, true}},
            {"AUTORADIOBUTTON", {"Button", 0x9u /*BS_AUTORADIOBUTTON*/, true}},
            {"COMBOBOX", {"ComboBox", 0x1u /*CBS_SIMPLE*/ | 0x00010000u, false}},
        };
        const Token& kw = Next();
        if (kw.kind != TokenKind::Name) return Fail("expected a control statement");
        std::string word = Upper(kw.text);
        const uint32_t childVisible = 0x40000000u /*WS_CHILD*/ | 0x10000000u /*WS_VISIBLE*/;
        if (word == "CONTROL") {
            if (!ReadControlText(c) || !ReadComma()) return false;
            int64_t id = 0;
            if (!ReadInt(&id) || !ReadComma()) return false;
            c->id = static_cast<int>(id);
            const Token& cls = Next();
            if (cls.kind != TokenKind::String && cls.kind != TokenKind::Name) {
                return Fail("expected a control class");
            }
            c->className = cls.text;
            uint32_t set, clear;
            if (!ReadComma() || !ReadStyle(&set, &clear) || !ReadComma()) return false;
            c->style = (set | childVisible) & ~clear;
            if (!ReadInts({&c->x, &c->y, &c->cx, &c->cy})) return false;
            return ReadOptionalExStyle(c);
        }
        auto it = kKinds.find(word);
        if (it == kKinds.end()) return Fail("unknown control statement " + kw.text);
        const ControlKind& kind = it->second;
        c->className = kind.className;
        if (kind.hasText) {
            if (!ReadControlText(c) || !ReadComma()) return false;
        }
        if (!ReadInts({&c->id, &c->x, &c->y, &c->cx, &c->cy})) return false;
        uint32_t set = 0, clear = 0;
        if (Peek().kind == TokenKind::Comma) {
            Next();
            if (!ReadStyle(&set, &clear)) return false;
        }
        c->style = (kind.style | set | childVisible) & ~clear;
        return ReadOptionalExStyle(c);
    }

    // ", exstyle" may end a control statement.
    bool ReadOptionalExStyle(DialogControl* c) {
        if (Peek().kind != TokenKind::Comma) return true;
        Next();
        uint32_t set, clear;
        if (!ReadStyle(&set, &clear)) return false;
        c->exStyle = set & ~clear;
        return true;
    }

    // A control's text is a quoted text or a resource ordinal (a bitmap static's picture).
    bool ReadControlText(DialogControl* c) {
        const Token& t = Next();
        if (t.kind == TokenKind::String) {
            c->text = t.text;
            return true;
        }
        if (t.kind == TokenKind::Number && t.number >= 0 && t.number <= 0xFFFF) {
            c->textOrdinal = static_cast<uint16_t>(t.number);
            return true;
        }
        return Fail("expected the control's text");
    }

    std::vector<Token> tokens_;
    std::string baseDir_;
    size_t pos_ = 0;
    int lastLine_ = 1;
    std::string error_;
};

}  // namespace

std::optional<int64_t> LookUpSymbol(const std::string& name) {
    // Documented values of the Windows window, dialog and control style constants.
    static const std::map<std::string, int64_t> kSymbols = {
        {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000}, {"WS_CHILD", 0x40000000},
        {"WS_MINIMIZE", 0x20000000}, {"WS_VISIBLE", 0x10000000}, {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000},
        {"WS_MAXIMIZE", 0x01000000}, {"WS_CAPTION", 0x00C00000}, {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000}, {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000}, {"WS_THICKFRAME", 0x00040000}, {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_EX_DLGMODALFRAME", 0x00000001}, {"WS_EX_STATICEDGE", 0x00020000},
        {"WS_EX_CLIENTEDGE", 0x00000200},
        {"DS_ABSALIGN", 0x01}, {"DS_SYSMODAL", 0x02}, {"DS_3DLOOK", 0x04}, {"DS_FIXEDSYS", 0x08},
        {"DS_SETFONT", 0x40}, {"DS_MODALFRAME", 0x80}, {"DS_SETFOREGROUND", 0x200},
        {"DS_CENTER", 0x800}, {"DS_SHELLFONT", 0x48},
        {"BS_PUSHBUTTON", 0x0}, {"BS_DEFPUSHBUTTON", 0x1}, {"BS_CHECKBOX", 0x2},
        {"BS_AUTOCHECKBOX", 0x3}, {"BS_RADIOBUTTON", 0x4}, {"BS_3STATE", 0x5},
        {"BS_AUTO3STATE", 0x6}, {"BS_GROUPBOX", 0x7}, {"BS_AUTORADIOBUTTON", 0x9},
        {"BS_LEFTTEXT", 0x20}, {"BS_MULTILINE", 0x2000},
        {"SS_LEFT", 0x0}, {"SS_CENTER", 0x1}, {"SS_RIGHT", 0x2}, {"SS_BITMAP", 0xE},
        {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200}, {"SS_REALSIZEIMAGE", 0x800},
        {"SS_SUNKEN", 0x1000},
        {"CBS_SIMPLE", 0x1}, {"CBS_DROPDOWN", 0x2}, {"CBS_DROPDOWNLIST", 0x3},
        {"CBS_SORT", 0x100}, {"CBS_HASSTRINGS", 0x200},
        {"TBS_HORZ", 0x0}, {"TBS_AUTOTICKS", 0x1}, {"TBS_VERT", 0x2}, {"TBS_BOTH", 0x8},
        {"TBS_NOTICKS", 0x10},
        {"IDOK", 1}, {"IDCANCEL", 2}, {"IDC_STATIC", -1},
    };
    auto it = kSymbols.find(name);
    if (it == kSymbols.end()) return std::nullopt;
    return it->second;
}

ParseResult ParseResourceScript(const std::string& text, const std::string& baseDir) {
    ParseResult result;
    std::vector<Token> tokens;
    Lexer lexer(text);
    if (!lexer.Tokenize(&tokens, &result.error)) return result;
    Parser parser(std::move(tokens), baseDir);
    if (!parser.Parse(&result.resources)) result.error = parser.error();
    return result;
}

}  // namespace rh::rescomp
