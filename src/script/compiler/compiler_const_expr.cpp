// Literals and constant expressions (const declarations, array bounds).
#include <limits>

#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"

namespace script::compiler {

namespace {
int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal or "$" hexadecimal digits into 64 bits; false on no digits, a bad
// digit or a value beyond 64 bits (or beyond the signed range for decimals).
bool ParseIntegerText(const std::string& text, std::uint64_t& out) {
    std::size_t i = 0;
    unsigned base = 10;
    if (!text.empty() && text[0] == '$') {
        base = 16;
        i = 1;
    }
    if (i >= text.size()) return false;
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i]);
        if (d < 0 || static_cast<unsigned>(d) >= base) return false;
        if (v > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(d)) / base) return false;
        v = v * base + static_cast<unsigned>(d);
    }
    if (base == 10 && v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    out = v;
    return true;
}
}  // namespace

std::unique_ptr<TPSConstValue> TPSPascalCompiler::ReadInteger(const std::string& text) {
    std::uint64_t v = 0;
    if (!ParseIntegerText(text, v)) {
        Error(ecCustomError, "Integer constant out of range: " + text);
        return nullptr;
    }
    if (v <= 2147483647ULL) {
        auto c = NewConstValue(BuiltinType(btS32));
        c->ts32 = static_cast<std::int32_t>(v);
        return c;
    }
    if (v <= 4294967295ULL) {
        auto c = NewConstValue(BuiltinType(btU32));
        c->tu32 = static_cast<std::uint32_t>(v);
        return c;
    }
    auto c = NewConstValue(BuiltinType(btS64));
    c->ts64 = static_cast<std::int64_t>(v);
    return c;
}

std::unique_ptr<TPSConstValue> TPSPascalCompiler::ReadReal(const std::string& text) {
    long double v = 0;
    try {
        v = PSStrToFloat(text);
    } catch (const EPSError&) {
        Error(ecCustomError, "Invalid floating point constant: " + text);
        return nullptr;
    }
    auto c = NewConstValue(BuiltinType(btExtended));
    c->textended = v;
    return c;
}

std::unique_ptr<TPSConstValue> TPSPascalCompiler::ReadString() {
    TPSPascalParser& p = Parser();
    std::string text;
    bool lastWasString = false;
    while (p.CurrTokenId() == tkString || p.CurrTokenId() == tkChar) {
        const std::string& raw = p.GetToken();
        if (p.CurrTokenId() == tkString) {
            if (lastWasString) {
                Error(ecSyntaxError);
                return nullptr;
            }
            // Outer quotes removed; each doubled quote inside stands for one.
            for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
                text.push_back(raw[i]);
                if (raw[i] == '\'' && i + 2 < raw.size() && raw[i + 1] == '\'') ++i;
            }
            lastWasString = true;
        } else {
            std::uint64_t code = 0;
            std::string digits = raw.substr(1);
            std::uint32_t value = 0;
            bool ok = !digits.empty() && digits != "$";
            if (ok) {
                const unsigned base = digits[0] == '$' ? 16 : 10;
                for (std::size_t i = base == 16 ? 1 : 0; i < digits.size() && ok; ++i) {
                    const int d = DigitValue(digits[i]);
                    ok = d >= 0 && static_cast<unsigned>(d) < base;
                    value = (value * base + static_cast<unsigned>(d)) & 0xFFu;  // modulo 256
                }
            }
            if (!ok) {
                Error(ecCharError);
                return nullptr;
            }
            code = value;
            text.push_back(static_cast<char>(code));
            lastWasString = false;
        }
        p.Next();
    }
    if (text.size() == 1) {
        auto c = NewConstValue(BuiltinType(btChar));
        c->tchar = text[0];
        return c;
    }
    auto c = NewConstValue(StringType());
    c->tstring = std::move(text);
    return c;
}

// ------------------------------------------------------------ constant expressions

std::unique_ptr<TPSConstValue> TPSPascalCompiler::ReadConstant() {
    TPSPascalParser& p = Parser();
    const TFoldTypes foldTypes{booleanType_, StringType()};

    // The grammar levels as local recursive functions over this compiler.
    struct Levels {
        TPSPascalCompiler& self;
        TPSPascalParser& p;
        TFoldTypes types;

        bool Fold(std::unique_ptr<TPSConstValue>& left, std::unique_ptr<TPSConstValue> right, std::uint8_t op) {
            const TFoldResult r = FoldBinaryConstants(types, *left, *right, op);
            if (!r.Ok()) {
                self.Error(r.Code, r.Param);
                return false;
            }
            return true;
        }

        std::unique_ptr<TPSConstValue> Relation() { return Level(TOpLevel::Relation); }
        std::unique_ptr<TPSConstValue> Term() { return Level(TOpLevel::Multiplying); }

        std::unique_ptr<TPSConstValue> Level(TOpLevel level) {
            auto next = [&]() {
                switch (level) {
                case TOpLevel::Relation: return Level(TOpLevel::Adding);
                case TOpLevel::Adding: return Level(TOpLevel::Multiplying);
                default: return Factor();
                }
            };
            auto left = next();
            std::uint8_t op = 0;
            while (left != nullptr && OperatorOfToken(level, p.CurrTokenId(), true, op)) {
                p.Next();
                auto right = next();
                if (right == nullptr || !Fold(left, std::move(right), op)) return nullptr;
            }
            return left;
        }

        std::unique_ptr<TPSConstValue> Nested(std::unique_ptr<TPSConstValue> (Levels::*level)()) {
            if (++self.exprDepth_ > kMaxExpressionDepth) {
                --self.exprDepth_;
                self.Error(ecCustomError, "Expression nested too deeply");
                return nullptr;
            }
            auto v = (this->*level)();
            --self.exprDepth_;
            return v;
        }

        std::unique_ptr<TPSConstValue> Factor() {
            switch (p.CurrTokenId()) {
            case tkOpenRound: {
                p.Next();
                auto v = Nested(&Levels::Relation);
                if (v == nullptr) return nullptr;
                if (p.CurrTokenId() != tkCloseRound) {
                    self.Error(ecCloseRoundExpected);
                    return nullptr;
                }
                p.Next();
                return v;
            }
            case tkMinus: {
                p.Next();
                auto v = Nested(&Levels::Term);
                if (v == nullptr) return nullptr;
                if (!FoldNegate(*v)) {
                    self.Error(ecTypeMismatch);
                    return nullptr;
                }
                return v;
            }
            case tkNot: {
                p.Next();
                auto v = Nested(&Levels::Factor);
                if (v == nullptr) return nullptr;
                // Only integers: a Boolean is refused here.
                if (!FoldNot(*v, false)) {
                    self.Error(ecTypeMismatch);
                    return nullptr;
                }
                return v;
            }
            case tkInteger:
            case tkHexInt: {
                auto v = self.ReadInteger(p.GetToken());
                if (v != nullptr) p.Next();
                return v;
            }
            case tkReal: {
                auto v = self.ReadReal(p.GetToken());
                if (v != nullptr) p.Next();
                return v;
            }
            case tkString:
            case tkChar: return self.ReadString();
            case tkIdentifier: {
                const std::string name = p.GetToken();
                const std::uint32_t h = MakeHash(name);
                if (const TPSConstant* c = self.FindConstant(h, name, true)) {
                    auto v = DuplicateConstValue(*c->Value);
                    p.Next();
                    return v;
                }
                self.Error(ecUnknownIdentifier, p.OriginalToken());
                return nullptr;
            }
            default: self.Error(ecSyntaxError); return nullptr;
            }
        }
    };
    Levels levels{*this, p, foldTypes};
    return levels.Relation();
}

}  // namespace script::compiler
