#include "platform/sim/installer/SimMsiExpressions.h"

#include <cerrno>
#include <cstdlib>
#include <cwctype>
#include <vector>

#include "platform/sim/Utf8.h"

namespace sim {
namespace {

// The text of an operand and, when it reads as one, its integer value.
struct Value {
    std::wstring text;
    std::optional<long> number;
    bool Truth() const { return number ? *number != 0 : !text.empty(); }
};

std::optional<long> AsInteger(const std::wstring& text) {
    if (text.empty() || text.size() > 11) return std::nullopt;
    wchar_t* end = nullptr;
    errno = 0;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || std::iswspace(text[0])) return std::nullopt;
    return value;
}

enum class Token { End, Identifier, Integer, String, Not, And, Or, Open, Close, Compare, Unknown };

class Lexer {
public:
    explicit Lexer(const std::wstring& text) : text_(text) { Advance(); }

    Token Kind() const { return kind_; }
    const std::wstring& Text() const { return lexeme_; }

    void Advance() {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
        lexeme_.clear();
        if (pos_ >= text_.size()) {
            kind_ = Token::End;
            return;
        }
        const wchar_t c = text_[pos_];
        if (c == L'(' || c == L')') {
            kind_ = c == L'(' ? Token::Open : Token::Close;
            ++pos_;
        } else if (c == L'"') {
            const size_t close = text_.find(L'"', pos_ + 1);
            if (close == std::wstring::npos) {
                kind_ = Token::Unknown;
                pos_ = text_.size();
                return;
            }
            lexeme_ = text_.substr(pos_ + 1, close - pos_ - 1);
            kind_ = Token::String;
            pos_ = close + 1;
        } else if (std::iswdigit(c) || (c == L'-' && pos_ + 1 < text_.size() && std::iswdigit(text_[pos_ + 1]))) {
            size_t end = pos_ + 1;
            while (end < text_.size() && std::iswdigit(text_[end])) ++end;
            lexeme_ = text_.substr(pos_, end - pos_);
            kind_ = Token::Integer;
            pos_ = end;
        } else if (std::iswalpha(c) || c == L'_') {
            size_t end = pos_ + 1;
            while (end < text_.size() && (std::iswalnum(text_[end]) || text_[end] == L'_' || text_[end] == L'.')) {
                ++end;
            }
            lexeme_ = text_.substr(pos_, end - pos_);
            pos_ = end;
            const std::wstring word = Lower(lexeme_);
            kind_ = word == L"not"   ? Token::Not
                    : word == L"and" ? Token::And
                    : word == L"or"  ? Token::Or
                                     : Token::Identifier;
        } else {
            ReadOperator();
        }
    }

private:
    void ReadOperator() {
        static const wchar_t* const kOperators[] = {L"~<>", L"~>=", L"~<=", L"~=", L"~<", L"~>",
                                                    L"<>",  L">=",  L"<=",  L"=",  L"<",  L">"};
        for (const wchar_t* op : kOperators) {
            const std::wstring text(op);
            if (text_.compare(pos_, text.size(), text) == 0) {
                lexeme_ = text;
                kind_ = Token::Compare;
                pos_ += text.size();
                return;
            }
        }
        kind_ = Token::Unknown;  // ><, <<, >>, %ENV, $Component, ...
        pos_ = text_.size();
    }

    const std::wstring& text_;
    size_t pos_ = 0;
    Token kind_ = Token::End;
    std::wstring lexeme_;
};

// Recursive descent over NOT > AND > OR; any construct it cannot read makes
// the whole condition unknown.
class Evaluator {
public:
    Evaluator(const std::wstring& text, const MsiProperties& properties) : lexer_(text), properties_(properties) {}

    std::optional<bool> Run() {
        const bool result = Or();
        if (failed_ || lexer_.Kind() != Token::End) return std::nullopt;
        return result;
    }

private:
    bool Or() {
        bool value = And();
        while (!failed_ && lexer_.Kind() == Token::Or) {
            lexer_.Advance();
            const bool right = And();
            value = value || right;
        }
        return value;
    }

    bool And() {
        bool value = Not();
        while (!failed_ && lexer_.Kind() == Token::And) {
            lexer_.Advance();
            const bool right = Not();
            value = value && right;
        }
        return value;
    }

    bool Not() {
        if (lexer_.Kind() == Token::Not) {
            lexer_.Advance();
            return !Not();
        }
        return Comparison();
    }

    bool Comparison() {
        if (lexer_.Kind() == Token::Open) {
            lexer_.Advance();
            const bool inner = Or();
            if (lexer_.Kind() != Token::Close) return Fail();
            lexer_.Advance();
            return inner;
        }
        const std::optional<Value> left = Operand();
        if (!left) return Fail();
        if (lexer_.Kind() != Token::Compare) return left->Truth();
        const std::wstring op = lexer_.Text();
        lexer_.Advance();
        const std::optional<Value> right = Operand();
        if (!right) return Fail();
        return Compare(*left, op, *right);
    }

    std::optional<Value> Operand() {
        Value value;
        switch (lexer_.Kind()) {
            case Token::Identifier: {
                auto it = properties_.find(lexer_.Text());
                if (it != properties_.end()) value.text = it->second;
                value.number = AsInteger(value.text);
                break;
            }
            case Token::Integer:
                value.text = lexer_.Text();
                value.number = AsInteger(value.text);
                if (!value.number) return std::nullopt;
                break;
            case Token::String: value.text = lexer_.Text(); break;
            default: return std::nullopt;
        }
        lexer_.Advance();
        return value;
    }

    static bool Compare(const Value& left, std::wstring op, const Value& right) {
        const bool foldCase = op[0] == L'~';
        if (foldCase) op.erase(0, 1);
        int order = 0;
        if (left.number && right.number) {
            order = *left.number < *right.number ? -1 : *left.number > *right.number ? 1 : 0;
        } else if (left.number || right.number) {
            // An integer and text that is none are only ever unequal.
            return op == L"<>";
        } else {
            const std::wstring a = foldCase ? Lower(left.text) : left.text;
            const std::wstring b = foldCase ? Lower(right.text) : right.text;
            order = a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
        }
        if (op == L"=") return order == 0;
        if (op == L"<>") return order != 0;
        if (op == L"<") return order < 0;
        if (op == L">") return order > 0;
        if (op == L"<=") return order <= 0;
        return order >= 0;  // ">="
    }

    bool Fail() {
        failed_ = true;
        return false;
    }

    Lexer lexer_;
    const MsiProperties& properties_;
    bool failed_ = false;
};

}  // namespace

std::optional<bool> EvaluateCondition(const std::wstring& condition, const MsiProperties& properties) {
    return Evaluator(condition, properties).Run();
}

std::wstring FormatText(const std::wstring& text, const std::function<std::wstring(const std::wstring&)>& lookup) {
    std::wstring out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find(L'[', pos);
        const size_t close = open == std::wstring::npos ? std::wstring::npos : text.find(L']', open + 1);
        if (close == std::wstring::npos) {
            out.append(text, pos, std::wstring::npos);
            break;
        }
        out.append(text, pos, open - pos);
        const std::wstring inner = text.substr(open + 1, close - open - 1);
        if (inner.size() == 2 && inner[0] == L'\\') {
            out.push_back(inner[1]);
        } else if (inner == L"~") {
            // A list separator, meaningful only for multi-string values.
        } else if (!inner.empty()) {
            out += lookup(inner);
        }
        pos = close + 1;
    }
    return out;
}

}  // namespace sim
