#include "context/RtfReader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iconv.h>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

// No RTF library is packaged for Debian; this reader covers what résumé-sized documents from
// word processors use, and nothing of layout.

namespace {

constexpr int kDefaultCodePage = 1252;
// Symbol-font bytes: a private marker, not a real code page.
constexpr int kSymbolCodePage = -2;
constexpr char16_t kReplacement = 0xFFFD;

bool isMultiByte(int codePage) {
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ||
           codePage == 1361 || codePage == 65001;
}

// The iconv name of a Windows code page, or nullptr for one we do not decode.
const char* iconvName(int codePage) {
    switch (codePage) {
    case 437:
        return "CP437";
    case 850:
        return "CP850";
    case 852:
        return "CP852";
    case 855:
        return "IBM855";
    case 857:
        return "IBM857";
    case 860:
        return "IBM860";
    case 861:
        return "IBM861";
    case 862:
        return "IBM862";
    case 863:
        return "IBM863";
    case 864:
        return "IBM864";
    case 865:
        return "IBM865";
    case 866:
        return "CP866";
    case 869:
        return "IBM869";
    case 874:
        return "CP874";
    case 932:
        return "CP932";
    case 936:
        return "CP936";
    case 949:
        return "CP949";
    case 950:
        return "CP950";
    case 1250:
        return "CP1250";
    case 1251:
        return "CP1251";
    case 1252:
        return "CP1252";
    case 1253:
        return "CP1253";
    case 1254:
        return "CP1254";
    case 1255:
        return "CP1255";
    case 1256:
        return "CP1256";
    case 1257:
        return "CP1257";
    case 1258:
        return "CP1258";
    case 1361:
        return "CP1361";
    case 10000:
        return "MACINTOSH";
    case 10007:
        return "MAC-CYRILLIC";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 65001:
        return "UTF-8";
    default:
        return nullptr;
    }
}

// The code page that a font's \fcharset implies; 0 means "the document's".
int charsetCodePage(int charset) {
    switch (charset) {
    case 2:
        return kSymbolCodePage;
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0;
    }
}

// Code-page bytes to UTF-16 through iconv, one converter per code page for one document.
class CodePageDecoder {
public:
    CodePageDecoder() = default;
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;
    ~CodePageDecoder() {
        for (auto& entry : m_converters)
            if (entry.second != invalid())
                iconv_close(entry.second);
    }

    void decode(int codePage, std::string_view bytes, std::u16string& out) {
        if (codePage == kSymbolCodePage) {
            // Word's list bullets are \'b7 in the Symbol font; other symbols read as Latin.
            for (const char byte : bytes) {
                if (static_cast<unsigned char>(byte) == 0xB7)
                    out.push_back(u'\u2022');
                else
                    decode(kDefaultCodePage, std::string_view(&byte, 1), out);
            }
            return;
        }
        iconv_t cd = converter(codePage);
        if (cd == invalid())
            cd = converter(kDefaultCodePage);
        if (cd == invalid()) {
            out.append(bytes.size(), kReplacement);
            return;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::vector<char16_t> buffer(bytes.size() * 2 + 4);
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        while (inLeft > 0) {
            char* outPtr = reinterpret_cast<char*>(buffer.data());
            size_t outLeft = buffer.size() * sizeof(char16_t);
            const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
            const int error = errno;
            out.append(buffer.data(), (buffer.size() * sizeof(char16_t) - outLeft) / 2);
            if (result != static_cast<size_t>(-1))
                break;
            if (error == E2BIG)
                continue;
            // An invalid or cut-off sequence: one replacement, then carry on after the byte.
            out.push_back(kReplacement);
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

    iconv_t converter(int codePage) {
        const auto found = m_converters.find(codePage);
        if (found != m_converters.end())
            return found->second;
        const char* name = iconvName(codePage);
        constexpr const char* target =
            std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
        const iconv_t cd = name ? iconv_open(target, name) : invalid();
        m_converters.emplace(codePage, cd);
        return cd;
    }

    std::map<int, iconv_t> m_converters;
};

enum class Word {
    unknown,
    par,
    line,
    tab,
    cell,
    special,
    u,
    uc,
    ansicpg,
    ansi,
    mac,
    pc,
    pca,
    f,
    deff,
    fcharset,
    cpg,
    bin,
    fonttbl,
    skipDestination,
};

struct WordInfo {
    std::string_view name;
    Word kind;
    char16_t character = 0;
};

// Destinations whose content is not document text are skipped whole. Footnotes too: their
// text would land in the middle of the sentence that cites them.
constexpr WordInfo kWords[] = {
    {"par", Word::par},
    {"line", Word::line},
    {"sect", Word::par},
    {"page", Word::par},
    {"row", Word::par},
    {"tab", Word::tab},
    {"cell", Word::cell},
    {"nestcell", Word::cell},
    {"emdash", Word::special, u'\u2014'},
    {"endash", Word::special, u'\u2013'},
    {"emspace", Word::special, u'\u2003'},
    {"enspace", Word::special, u'\u2002'},
    {"qmspace", Word::special, u'\u2005'},
    {"bullet", Word::special, u'\u2022'},
    {"lquote", Word::special, u'\u2018'},
    {"rquote", Word::special, u'\u2019'},
    {"ldblquote", Word::special, u'\u201C'},
    {"rdblquote", Word::special, u'\u201D'},
    {"zwj", Word::special, u'\u200D'},
    {"zwnj", Word::special, u'\u200C'},
    {"u", Word::u},
    {"uc", Word::uc},
    {"ansicpg", Word::ansicpg},
    {"ansi", Word::ansi},
    {"mac", Word::mac},
    {"pc", Word::pc},
    {"pca", Word::pca},
    {"f", Word::f},
    {"deff", Word::deff},
    {"fcharset", Word::fcharset},
    {"cpg", Word::cpg},
    {"bin", Word::bin},
    {"fonttbl", Word::fonttbl},
    {"colortbl", Word::skipDestination},
    {"stylesheet", Word::skipDestination},
    {"info", Word::skipDestination},
    {"pict", Word::skipDestination},
    {"header", Word::skipDestination},
    {"headerl", Word::skipDestination},
    {"headerr", Word::skipDestination},
    {"headerf", Word::skipDestination},
    {"footer", Word::skipDestination},
    {"footerl", Word::skipDestination},
    {"footerr", Word::skipDestination},
    {"footerf", Word::skipDestination},
    {"footnote", Word::skipDestination},
    {"fldinst", Word::skipDestination},
    {"object", Word::skipDestination},
    {"objdata", Word::skipDestination},
    {"themedata", Word::skipDestination},
    {"colorschememapping", Word::skipDestination},
    {"latentstyles", Word::skipDestination},
    {"datastore", Word::skipDestination},
    {"xmlnstbl", Word::skipDestination},
    {"listtable", Word::skipDestination},
    {"listoverridetable", Word::skipDestination},
    {"rsidtbl", Word::skipDestination},
    {"revtbl", Word::skipDestination},
    {"generator", Word::skipDestination},
    {"filetbl", Word::skipDestination},
    {"pgdsctbl", Word::skipDestination},
    {"nonshppict", Word::skipDestination},
    {"shpinst", Word::skipDestination},
    {"sp", Word::skipDestination},
    {"userprops", Word::skipDestination},
    {"docvar", Word::skipDestination},
    {"template", Word::skipDestination},
    {"ftnsep", Word::skipDestination},
    {"ftnsepc", Word::skipDestination},
    {"aftnsep", Word::skipDestination},
    {"aftnsepc", Word::skipDestination},
};

const WordInfo* lookUp(std::string_view name) {
    static const std::unordered_map<std::string_view, const WordInfo*> index = [] {
        std::unordered_map<std::string_view, const WordInfo*> words;
        for (const WordInfo& info : kWords)
            words.emplace(info.name, &info);
        return words;
    }();
    const auto found = index.find(name);
    return found != index.end() ? found->second : nullptr;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct GroupState {
    bool skip = false;
    bool fontTable = false;
    int uc = 1;
    int font = -1;
};

class Reader {
public:
    explicit Reader(std::string_view input) : m_in(input) {}

    std::u16string run() {
        while (m_pos < m_in.size() && !m_done) {
            const char c = m_in[m_pos++];
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                break;
            case '\\':
                controlToken();
                break;
            case '\r':
            case '\n':
                break;
            default:
                literal(static_cast<unsigned char>(c));
                break;
            }
        }
        flushBytes();
        if (m_highSurrogate) {
            m_out.push_back(kReplacement);
            m_highSurrogate = 0;
        }
        return std::move(m_out);
    }

private:
    void openGroup() {
        flushBytes();
        m_fallbackLeft = 0;
        m_starred = false;
        m_stack.push_back(m_state);
    }

    void closeGroup() {
        flushBytes();
        m_fallbackLeft = 0;
        m_starred = false;
        if (m_stack.empty())
            return;
        m_state = m_stack.back();
        m_stack.pop_back();
        // The document group has closed: whatever follows is not part of it.
        if (m_stack.empty())
            m_done = true;
    }

    bool consumeFallback() {
        if (m_fallbackLeft <= 0)
            return false;
        --m_fallbackLeft;
        return true;
    }

    void literal(unsigned char c) {
        m_starred = false;
        if (consumeFallback() || m_state.skip)
            return;
        if (c >= 0x80 || (!m_bytes.empty() && isMultiByte(m_bytesCodePage))) {
            addByte(c);
            return;
        }
        if (c == '\t')
            put(u'\t');
        else if (c >= 0x20 && c != 0x7F)
            put(static_cast<char16_t>(c));
    }

    void controlToken() {
        if (m_pos >= m_in.size())
            return;
        const char c = m_in[m_pos];
        if (isLetter(c)) {
            controlWord();
            return;
        }
        ++m_pos;
        if (c == '\'') {
            const int high = m_pos < m_in.size() ? hexValue(m_in[m_pos]) : -1;
            const int low = m_pos + 1 < m_in.size() ? hexValue(m_in[m_pos + 1]) : -1;
            if (high < 0 || low < 0)
                return;
            m_pos += 2;
            m_starred = false;
            if (consumeFallback() || m_state.skip)
                return;
            addByte(static_cast<unsigned char>(high * 16 + low));
            return;
        }
        if (c == '*') {
            m_starred = true;
            return;
        }
        m_starred = false;
        if (consumeFallback() || m_state.skip)
            return;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            put(static_cast<char16_t>(c));
            break;
        case '\r':
        case '\n':
            put(u'\n');
            break;
        case '~':
            put(u'\u00A0');
            break;
        case '_':
            put(u'\u2011');
            break;
        default: // \- (optional hyphen), \| and the rest: no text
            break;
        }
    }

    void controlWord() {
        const size_t start = m_pos;
        while (m_pos < m_in.size() && isLetter(m_in[m_pos]))
            ++m_pos;
        const std::string_view name = m_in.substr(start, m_pos - start);

        bool negative = false;
        if (m_pos + 1 < m_in.size() && m_in[m_pos] == '-' && isDigit(m_in[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        bool hasParam = false;
        long long value = 0;
        while (m_pos < m_in.size() && isDigit(m_in[m_pos])) {
            hasParam = true;
            value = std::min<long long>(value * 10 + (m_in[m_pos] - '0'), INT_MAX);
            ++m_pos;
        }
        if (m_pos < m_in.size() && m_in[m_pos] == ' ')
            ++m_pos;
        const int param = static_cast<int>(negative ? -value : value);

        const WordInfo* info = lookUp(name);
        const Word kind = info ? info->kind : Word::unknown;
        const bool starred = std::exchange(m_starred, false);

        // Binary data belongs to its word even when the word itself is skipped.
        if (kind == Word::bin) {
            if (hasParam && param > 0)
                m_pos += std::min<size_t>(static_cast<size_t>(param), m_in.size() - m_pos);
            consumeFallback();
            return;
        }
        if (consumeFallback())
            return;
        if (starred && kind != Word::fonttbl) {
            m_state.skip = true;
            return;
        }
        switch (kind) {
        case Word::fonttbl:
            m_state.skip = true;
            m_state.fontTable = true;
            break;
        case Word::skipDestination:
            m_state.skip = true;
            break;
        case Word::f:
            if (m_state.fontTable)
                m_definingFont = param;
            else
                m_state.font = param;
            break;
        case Word::deff:
            m_defaultFont = param;
            break;
        case Word::fcharset:
            if (m_state.fontTable && m_definingFont >= 0) {
                const int codePage = charsetCodePage(param);
                if (codePage != 0)
                    m_fontCodePages[m_definingFont] = codePage;
            }
            break;
        case Word::cpg:
            if (m_state.fontTable && m_definingFont >= 0 && iconvName(param))
                m_fontCodePages[m_definingFont] = param;
            break;
        case Word::ansicpg:
            m_codePage = iconvName(param) ? param : kDefaultCodePage;
            break;
        case Word::ansi:
            m_codePage = kDefaultCodePage;
            break;
        case Word::mac:
            m_codePage = 10000;
            break;
        case Word::pc:
            m_codePage = 437;
            break;
        case Word::pca:
            m_codePage = 850;
            break;
        case Word::uc:
            m_state.uc = std::max(param, 0);
            break;
        case Word::u:
            if (hasParam && !m_state.skip) {
                // Writers use the signed 16-bit form for code units above 32767.
                put(static_cast<char16_t>(((param % 65536) + 65536) % 65536));
            }
            m_fallbackLeft = m_state.uc;
            break;
        case Word::par:
        case Word::line:
            putIfShown(u'\n');
            break;
        case Word::tab:
        case Word::cell:
            putIfShown(u'\t');
            break;
        case Word::special:
            putIfShown(info->character);
            break;
        case Word::bin:
        case Word::unknown:
            break;
        }
    }

    int textCodePage() const {
        const int font = m_state.font >= 0 ? m_state.font : m_defaultFont;
        const auto found = m_fontCodePages.find(font);
        return found != m_fontCodePages.end() ? found->second : m_codePage;
    }

    void addByte(unsigned char byte) {
        const int codePage = textCodePage();
        if (!m_bytes.empty() && codePage != m_bytesCodePage)
            flushBytes();
        m_bytesCodePage = codePage;
        m_bytes.push_back(static_cast<char>(byte));
    }

    void flushBytes() {
        if (m_bytes.empty())
            return;
        resolveSurrogate();
        m_decoder.decode(m_bytesCodePage, m_bytes, m_out);
        m_bytes.clear();
    }

    void resolveSurrogate() {
        if (m_highSurrogate) {
            m_out.push_back(kReplacement);
            m_highSurrogate = 0;
        }
    }

    void putIfShown(char16_t unit) {
        if (!m_state.skip)
            put(unit);
    }

    // Pairs UTF-16 surrogates from consecutive \u words; a lone half becomes U+FFFD.
    void put(char16_t unit) {
        flushBytes();
        if (unit < 0x20 && unit != u'\t' && unit != u'\n')
            return;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            resolveSurrogate();
            m_highSurrogate = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (m_highSurrogate) {
                m_out.push_back(m_highSurrogate);
                m_out.push_back(unit);
                m_highSurrogate = 0;
            } else {
                m_out.push_back(kReplacement);
            }
            return;
        }
        resolveSurrogate();
        m_out.push_back(unit);
    }

    std::string_view m_in;
    size_t m_pos = 0;
    bool m_done = false;
    std::vector<GroupState> m_stack;
    GroupState m_state;
    bool m_starred = false;
    int m_fallbackLeft = 0;
    int m_codePage = kDefaultCodePage;
    int m_defaultFont = -1;
    int m_definingFont = -1;
    std::map<int, int> m_fontCodePages;
    std::string m_bytes;
    int m_bytesCodePage = kDefaultCodePage;
    char16_t m_highSurrogate = 0;
    std::u16string m_out;
    CodePageDecoder m_decoder;
};

} // namespace

std::optional<std::u16string> readRtfText(std::string_view rtf) {
    size_t start = 0;
    while (start < rtf.size() &&
           (rtf[start] == ' ' || rtf[start] == '\t' || rtf[start] == '\r' || rtf[start] == '\n'))
        ++start;
    rtf.remove_prefix(start);
    if (rtf.substr(0, 5) != "{\\rtf")
        return std::nullopt;
    return Reader(rtf).run();
}
